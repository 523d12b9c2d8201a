#include "board_session.h"

#include <algorithm>
#include <bit>

using std::chrono::milliseconds;

namespace {

std::string ms_text(EventWait::Clock::duration duration) {
  return std::to_string(std::chrono::ceil<milliseconds>(duration).count()) + " ms";
}

// "relay 5" or "relays 3, 4".
std::string relay_list(RelayMask relays) {
  std::string list;
  for (int relay = 1; relay <= relay_count; ++relay) {
    if ((relays & relay_bit(relay)) == 0) continue;
    list += (list.empty() ? "" : ", ") + std::to_string(relay);
  }
  return (list.find(',') == std::string::npos ? "relay " : "relays ") + list;
}

}  // namespace

BoardSession::BoardSession(PanelCore& core, EventWait& wait, milliseconds timeout,
                           std::function<bool()> interrupted)
    : core_(core), wait_(wait), timeout_(timeout), interrupted_(std::move(interrupted)) {
  core_.set_watcher(this);
}

BoardSession::~BoardSession() {
  core_.set_watcher(nullptr);
}

milliseconds BoardSession::late_limit() const {
  return std::clamp(3 * timeout_, milliseconds(500), timeout_ + milliseconds(10'000));
}

std::optional<RelayMask> BoardSession::read_states() {
  for (int attempt = 0; attempt < query_attempts && !stopping(); ++attempt) {
    if (exchange()) return answered_;
  }
  // A late answer still on its way would reach whoever asks next: this program's next
  // request, or the next program to open the port.
  settle();
  return std::nullopt;
}

Outcome BoardSession::drive(RelayMask relays, bool opened) {
  const bool read = read_states().has_value();
  if (stopping()) return not_switched();
  if (!read) return no_answer();
  switching_ = true;
  switch_relays(relays, opened);
  const auto now = read_states();
  if (!now) return no_answer();
  return check(relays, *now, opened);
}

Outcome BoardSession::pulse(RelayMask relays, milliseconds hold, bool inverse) {
  const bool first = !inverse;
  const bool read = read_states().has_value();
  if (stopping()) return not_switched();
  if (!read) return no_answer();
  switching_ = true;
  // The hold counts from the moment the first switch frame leaves, as the relay sees it.
  const auto start = wait_.now();
  // The answer to the last switch shows the states; a lost or late one is asked for again.
  auto opened = switch_relays(relays, first);
  if (!opened || (*opened & relays) != (first ? relays : 0)) {
    opened = read_states();
    if (!opened) return no_answer();
  }
  if (Outcome reached = check(relays, *opened, first); reached.code != ExitCode::Done) {
    return reached;
  }
  const bool cut = wait_.wait_until([&] { return interrupted(); }, start + hold);
  const auto held = wait_.now() - start;
  switch_relays(relays, !first);
  const auto back = read_states();
  Outcome outcome = back ? check(relays, *back, !first) : no_answer();
  if (!cut) return outcome;
  if (outcome.code != ExitCode::Done) {
    outcome.message = "the pulse was cut short, and " + outcome.message;
    return outcome;
  }
  return {ExitCode::Interrupted, "the pulse was cut short after " + ms_text(held) + " of " +
                                     ms_text(hold) + ": " + relay_list(relays) +
                                     (std::popcount(relays) > 1 ? " are " : " is ") +
                                     (first ? "closed" : "opened") + " again"};
}

bool BoardSession::exchange() {
  settle();
  outstanding_ = true;
  in_time_ = false;
  sent_at_ = wait_.now();
  core_.poll().send_next_frame();
  wait_.wait_until([&] { return !outstanding_ || stopping(); }, sent_at_ + timeout_);
  return in_time_;
}

void BoardSession::settle() {
  if (!outstanding_) return;
  wait_.wait_until([&] { return !outstanding_; }, sent_at_ + late_limit());
  // Nothing came: the answer is lost, and the next answer answers the next request.
  outstanding_ = false;
}

void BoardSession::receive_handled(const PollCycle&, bool answered) {
  // An answer that nothing here waits for was asked for by someone else: not ours.
  if (!answered || !outstanding_) return;
  outstanding_ = false;
  const auto waited = wait_.now() - sent_at_;
  in_time_ = waited <= timeout_;
  if (!in_time_) latest_ = std::max(latest_, waited);
  answered_ = shown_opened();
}

std::optional<RelayMask> BoardSession::switch_relays(RelayMask relays, bool opened) {
  const RelayMask now = shown_opened();
  const RelayMask change = static_cast<RelayMask>(relays & (opened ? ~now : now));
  if (change == 0) return now;
  bool answered = false;
  // All sixteen at once go as one frame, as the panel's bulk buttons send them.
  if (relays == all_relays) {
    opened ? core_.poll().open_all() : core_.poll().close_all();
    answered = exchange();
  } else {
    for (int relay = 1; relay <= relay_count; ++relay) {
      if ((change & relay_bit(relay)) == 0) continue;
      core_.poll().relay_clicked(static_cast<std::int16_t>(relay));
      answered = exchange();
    }
  }
  return answered ? std::optional(answered_) : std::nullopt;
}

RelayMask BoardSession::shown_opened() const {
  RelayMask mask = 0;
  for (int relay = 1; relay <= relay_count; ++relay) {
    if (core_.shown()[static_cast<std::size_t>(relay - 1)] == IndicatorState::Opened) {
      mask |= relay_bit(relay);
    }
  }
  return mask;
}

Outcome BoardSession::not_switched() {
  return {ExitCode::Interrupted, "interrupted before any relay was switched"};
}

Outcome BoardSession::no_answer() const {
  if (latest_ > EventWait::Clock::duration::zero()) {
    // A timeout half as long again as the slowest answer, in whole tenths of a second.
    const auto enough = (std::chrono::ceil<milliseconds>(latest_).count() * 3 / 2 + 99) / 100 * 100;
    return {ExitCode::NoAnswer, "the board answered late: " + ms_text(latest_) +
                                    " after the request, beyond the --timeout of " +
                                    ms_text(timeout_) + " (try --timeout " +
                                    std::to_string(enough) + ")"};
  }
  return {ExitCode::NoAnswer, "the board did not answer within " + ms_text(timeout_) + " (" +
                                  std::to_string(query_attempts) + " tries)"};
}

Outcome BoardSession::check(RelayMask relays, RelayMask opened_now, bool opened) {
  const RelayMask missed = static_cast<RelayMask>(relays & (opened ? ~opened_now : opened_now));
  if (missed == 0) return {};
  return {ExitCode::NotReached, relay_list(missed) + " did not " + (opened ? "open" : "close") +
                                    " (the board still reports " + (opened ? "closed" : "opened") +
                                    ")"};
}
