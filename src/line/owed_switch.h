#pragma once

#include <algorithm>
#include <chrono>
#include <utility>

// When a switch that its board has not confirmed goes out again. It goes at once at the
// board's first answer that shows it not done when the last send met silence (a cut
// cable mended, a board back), or after the first send; otherwise on a backoff from one
// second, doubling to thirty: a silent board may still hear, and a board that answers but
// does not switch is not flooded. Its retries are told once per loss of the board.
class OwedSwitch {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::seconds first_wait{1};
  static constexpr std::chrono::seconds longest_wait{30};

  // It went on the wire (once more) at `now`.
  void sent(Clock::time_point now) {
    ++sends_;
    wait_ = sends_ == 1 ? Clock::duration(first_wait)
                        : std::min<Clock::duration>(2 * wait_, longest_wait);
    again_at_ = now + wait_;
    unheard_ = false;
  }
  // A request to its board got no answer in time: the last send may have gone nowhere.
  void missed() { unheard_ = true; }
  // The board was lost: the next retry is told again.
  void lost() {
    unheard_ = true;
    told_ = false;
  }
  // An answer shows it not done: whether it goes again now rather than on the backoff.
  bool again_at_answer() const { return sends_ == 1 || unheard_; }
  // Whether the backoff has passed at `now`.
  bool due(Clock::time_point now) const { return sends_ > 0 && now >= again_at_; }
  Clock::time_point again_at() const { return again_at_; }
  int sends() const { return sends_; }
  // Whether the retry about to go is the first since the board was last lost (the one
  // a log tells); each call after the first says no until the next loss.
  bool first_retry() { return !std::exchange(told_, true); }

 private:
  int sends_ = 0;
  Clock::duration wait_{};
  Clock::time_point again_at_{};
  bool unheard_ = false;
  bool told_ = false;
};
