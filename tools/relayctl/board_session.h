#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "event_wait.h"
#include "exit_code.h"
#include "panel_core/panel_core.h"
#include "relay_selection.h"

// What a command came to: its exit code and, unless done, a line for the operator.
struct Outcome {
  ExitCode code = ExitCode::Done;
  std::string message;
};

// relayctl's exchanges with the board over the panel's core, on an open port. Each
// request is one frame of the poll cycle sent at once rather than on the next tick;
// each answer is the board's status frame as the poll cycle shows it. The board's
// switch commands act according to a relay's current state, so a switch is chosen
// the way a click on the panel's indicator chooses it.
class BoardSession {
 public:
  BoardSession(PanelCore& core, EventWait& wait, std::chrono::milliseconds timeout)
      : core_(core), wait_(wait), timeout_(timeout) {}

  // The relays that are opened now (bit r-1), from a status query sent up to
  // query_attempts times; nothing when the board never answered.
  std::optional<RelayMask> read_states();

  // Drives the relays to opened or closed: reads the states, switches only the relays
  // that differ, then verifies with a final status query.
  Outcome drive(RelayMask relays, bool opened);

  // Drives the relays to opened (closed when inverse), holds them there for `hold`
  // from the first switch frame on, then drives them back, and verifies.
  Outcome pulse(RelayMask relays, std::chrono::milliseconds hold, bool inverse);

  // What the command comes to when the board stays silent.
  Outcome no_answer() const;

  // How often a status query goes out before the board counts as silent. A switch
  // command goes out once: whether it was carried out, the queries that follow tell.
  static constexpr int query_attempts = 3;

 private:
  // Sends the command waiting in the mailbox, or a status query, and waits for an answer.
  bool exchange();
  // Sends the switch commands that take the shown states of `relays` to `opened`.
  void switch_relays(RelayMask relays, bool opened);
  RelayMask shown_opened() const;
  static Outcome check(RelayMask relays, RelayMask opened_now, bool opened);

  PanelCore& core_;
  EventWait& wait_;
  std::chrono::milliseconds timeout_;
};
