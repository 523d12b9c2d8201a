#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "line/owed_state.h"
#include "line/owed_switch.h"

// One pulse of some relays of a board: switched, held, switched back, and the return
// checked against the board's own report. The hold counts from the moment the first
// switch goes out, as the relays see it, and ends when it has passed, or at once when the
// operator interrupts or the program stops. Only an answer that comes after the switch
// back has reached the board can say the relays did not return.
//
// Plain timing and verdicts: its host sends the frames and tells what the board reports.
class Pulse {
 public:
  using Clock = std::chrono::steady_clock;
  enum class Check {
    waiting,         // the report may predate the switch back
    back,            // every relay is back
    still_switched,  // the switch back reached the board and some relay did not return
  };

  // `relays` (bit r-1 for relay r) switched to opened (or closed) at `start`, for `hold`.
  Pulse(std::uint16_t relays, bool opened, Clock::duration hold, Clock::time_point start);

  Clock::time_point started() const { return start_; }
  Clock::time_point ends_at() const { return cut_ ? start_ + *cut_ : start_ + hold_; }
  // Whether the relays are to be switched back at `now` and that has not gone out yet.
  bool end_due(Clock::time_point now) const { return ends_sent_ == 0 && now >= ends_at(); }
  // The switch that starts the pulse went out at `now`: the hold counts from here, not
  // from the command, which may have waited for the line.
  void went_out(Clock::time_point now);
  // An interruption or a stop: the hold ends now.
  void cut(Clock::time_point now);
  // Whether the hold was cut short, and after how long.
  bool cut_short() const { return cut_.has_value(); }
  Clock::duration held() const { return cut_.value_or(Clock::duration::zero()); }

  // The switch back went out (once more).
  void end_sent() { ++ends_sent_; }
  int ends_sent() const { return ends_sent_; }

  // The relays that `reported` (bit set: opened) still shows switched by the pulse.
  std::uint16_t not_back(std::uint16_t reported) const;
  // What a report after the switch back went out says; `end_done`: whether the line has
  // carried the switch back to the board before the request this report answers.
  Check check(std::uint16_t reported, bool end_done) const;

 private:
  std::uint16_t relays_;
  bool opened_;
  Clock::duration hold_;
  Clock::time_point start_;
  std::optional<Clock::duration> cut_;
  bool out_ = false;
  int ends_sent_ = 0;
};

// The pulses running on a line, each from its first switch until a report of its board
// shows its relays back: when each ends, the ends owed to a line that could not take
// them (sent at the board's next report), and what each report says of an end that went
// out. An end not carried out is owed until a report shows the relays back: it goes
// again as OwedSwitch says (at the board's answer, on a backoff while it is silent), or
// with `sends_of_an_end`, once more at a report until that many went, then given up.
//
// Plain logic: the host sends the ends through the function it passes, and tells each
// report of a board; what became of each end comes back for the host to tell.
class PulseRunner {
 public:
  using Clock = Pulse::Clock;
  struct End {
    std::uint8_t address = 0;
    std::uint16_t relays = 0;
    bool opened = false;  // the state the relays go back to
  };
  // Sends an end now; why it cannot go now, if it cannot.
  using Send = std::function<std::optional<std::string>(const End&)>;
  struct Told {
    enum class News {
      ended,           // the end went out at its time
      ended_late,      // an owed end went out at the board's report
      sent_again,      // the end was not confirmed: sent once more
      still_switched,  // and after the last of its sends allowed: the pulse is given up
      back,            // the report showed the relays back: the pulse is over
      not_ended,       // a stop's end could not go out (`why`)
    };
    End end;
    News news = News::ended;
    std::string why{};
    std::uint16_t not_back = 0;  // still_switched: the relays that did not go back
    int sends = 0;               // back, sent_again: the end's sends so far
    bool first = false;          // sent_again: the first retry since the board was lost
  };

  // Ends are sent until a report shows the relays back, however many sends that takes.
  static constexpr int until_back = 0;
  explicit PulseRunner(int sends_of_an_end = until_back) : sends_of_an_end_(sends_of_an_end) {}

  // `relays` of `address` switched to `opened` at `start`, for `hold`; what ran on any of
  // them is over.
  void start(std::uint8_t address, std::uint16_t relays, bool opened, Clock::duration hold,
             Clock::time_point start);
  // The switch of `relays` of `address` to `opened` went out at `now`: the pulses it
  // starts hold from here.
  void went_out(std::uint8_t address, std::uint16_t relays, bool opened, Clock::time_point now);
  // A later command took `relays` of `address`: their pulses are over.
  void forget(std::uint8_t address, std::uint16_t relays);
  // Sends the ends due at `now`, and those not confirmed whose backoff has passed; one
  // that cannot go is owed to its board's next report. Returns when the next is due,
  // nothing while none waits for its time.
  std::optional<Clock::time_point> step(Clock::time_point now, const Send& send,
                                        std::vector<Told>& told);
  // A report of `address` (bit set: opened) at `now`: owed ends go, and each end sent is
  // checked; `end_done(relays)`: whether the line has carried that end to the board
  // before the request this report answers.
  void reported(std::uint8_t address, std::uint16_t opened,
                const std::function<bool(std::uint16_t)>& end_done, const Send& send,
                std::vector<Told>& told, Clock::time_point now);
  // A request to `address` went unanswered: an end sent to it may have gone nowhere.
  void missed(std::uint8_t address);
  // `address` was lost (every board, without one): its next retry is told again.
  void lost(std::optional<std::uint8_t> address);
  // An interruption or a stop: every hold ends now (see Pulse::cut).
  void cut(Clock::time_point now);
  // The program stops: every end not out yet, or owed, goes now. The pulses stay until a
  // report shows their relays back, as after any end.
  void stop(Clock::time_point now, const Send& send, std::vector<Told>& told);
  bool empty() const { return running_.empty(); }
  // The pulse of `relays` of `address`, while it runs.
  const Pulse* find(std::uint8_t address, std::uint16_t relays) const;

  // Each running pulse's end, relay by relay, until its board shows it back: what a crash
  // must not let the next start forget.
  std::vector<OwedState::PulseEnd> owed() const;
  // A pulse of the last run, at a start: one whose end has passed owes its end to the
  // board's first report, one not due yet runs on to its end. A start after `now` (a clock
  // set back between the runs) starts it now, for no longer than it was given.
  void recall(const OwedState::PulseEnd& pulse, Clock::time_point now);

 private:
  struct Running {
    Pulse pulse;
    bool opened = false;
    bool owed = false;
    OwedSwitch resend{};
  };
  using Entry = std::pair<const std::pair<std::uint8_t, std::uint16_t>, Running>;
  static End end_of(const Entry& entry);
  // The end, not confirmed, goes once more.
  void send_again(Entry& entry, Clock::time_point now, const Send& send, std::vector<Told>& told);

  int sends_of_an_end_;
  // By board, then by relays: the order the ends go in.
  std::map<std::pair<std::uint8_t, std::uint16_t>, Running> running_;
};
