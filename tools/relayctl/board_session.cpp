#include "board_session.h"

std::optional<RelayMask> BoardSession::read_states() {
  for (int attempt = 0; attempt < query_attempts; ++attempt) {
    if (exchange()) return shown_opened();
  }
  return std::nullopt;
}

Outcome BoardSession::drive(RelayMask relays, bool opened) {
  if (!read_states()) return no_answer();
  switch_relays(relays, opened);
  const auto now = read_states();
  if (!now) return no_answer();
  return check(relays, *now, opened);
}

Outcome BoardSession::pulse(RelayMask relays, std::chrono::milliseconds hold, bool inverse) {
  const bool first = !inverse;
  if (!read_states()) return no_answer();
  // The hold counts from the moment the first switch frame leaves, as the relay sees it.
  const auto start = wait_.now();
  switch_relays(relays, first);
  // The answers to the switches show the states; a lost one is asked for again.
  RelayMask opened = shown_opened();
  if ((opened & relays) != (first ? relays : 0)) {
    const auto now = read_states();
    if (!now) return no_answer();
    opened = *now;
  }
  if (Outcome reached = check(relays, opened, first); reached.code != ExitCode::Done) {
    return reached;
  }
  wait_.wait_until([] { return false; }, start + hold);
  switch_relays(relays, !first);
  const auto now = read_states();
  if (!now) return no_answer();
  return check(relays, *now, !first);
}

bool BoardSession::exchange() {
  const auto answers = core_.answers();
  core_.poll().poll_tick();
  return wait_.wait_until([&] { return core_.answers() > answers; }, wait_.now() + timeout_);
}

void BoardSession::switch_relays(RelayMask relays, bool opened) {
  const RelayMask now = shown_opened();
  const RelayMask change = static_cast<RelayMask>(relays & (opened ? ~now : now));
  if (change == 0) return;
  // All sixteen at once go as one frame, as the panel's bulk buttons send them.
  if (relays == all_relays) {
    opened ? core_.poll().openall_Click() : core_.poll().closeall_Click();
    exchange();
    return;
  }
  for (int relay = 1; relay <= relay_count; ++relay) {
    if ((change & relay_bit(relay)) == 0) continue;
    core_.poll().Picture1_Click(static_cast<std::int16_t>(relay));
    exchange();
  }
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

Outcome BoardSession::no_answer() const {
  return {ExitCode::NoAnswer, "the board did not answer within " +
                                  std::to_string(timeout_.count()) + " ms (" +
                                  std::to_string(query_attempts) + " tries)"};
}

Outcome BoardSession::check(RelayMask relays, RelayMask opened_now, bool opened) {
  std::string missed;
  for (int relay = 1; relay <= relay_count; ++relay) {
    if ((relays & relay_bit(relay)) == 0) continue;
    if (((opened_now & relay_bit(relay)) != 0) == opened) continue;
    missed += (missed.empty() ? "" : ", ") + std::to_string(relay);
  }
  if (missed.empty()) return {};
  const bool several = missed.find(',') != std::string::npos;
  return {ExitCode::NotReached, std::string(several ? "relays " : "relay ") + missed + " did not " +
                                    (opened ? "open" : "close") + " (the board still reports " +
                                    (opened ? "closed" : "opened") + ")"};
}
