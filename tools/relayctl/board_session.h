#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "link/event_wait.h"
#include "exit_code.h"
#include "panel_core/line_watcher.h"
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
//
// Answers carry nothing that names their request, so they are told apart by order: one
// request is on the line at a time, and after a timeout the next one waits until the
// late answer has come or can no longer come (late_limit). An answer counts only when
// it comes within the timeout; a late one marks the board as slow. Every command ends
// with the line quiet, so that the next program on the port never takes this one's
// late answers for its own.
class BoardSession : private LineWatcher {
 public:
  // `interrupted`: whether a signal asks the command to end (see pulse and drive).
  BoardSession(PanelCore& core, EventWait& wait, std::chrono::milliseconds timeout,
               std::function<bool()> interrupted = {});
  ~BoardSession() override;
  BoardSession(const BoardSession&) = delete;
  BoardSession& operator=(const BoardSession&) = delete;

  // The relays that are opened now (bit r-1), from a status query sent up to
  // query_attempts times; nothing when the board never answered in time.
  std::optional<RelayMask> read_states();

  // Drives the relays to opened or closed: reads the states, switches only the relays
  // that differ, then verifies with a final status query. Interrupted before the first
  // switch, it switches nothing; once switching, it goes on to the verification.
  Outcome drive(RelayMask relays, bool opened);

  // Drives the relays to opened (closed when inverse), holds them there for `hold`
  // from the first switch frame on, then drives them back, and verifies. Interrupted,
  // it cuts the hold short and still drives them back.
  Outcome pulse(RelayMask relays, std::chrono::milliseconds hold, bool inverse);

  // What the command comes to when no answer came in time: silence, or late answers.
  Outcome no_answer() const;

  // How often a status query goes out before the board counts as silent. A switch
  // command goes out once: whether it was carried out, the queries that follow tell.
  static constexpr int query_attempts = 3;

  // How long after its request an answer can still come: a few timeouts, bounded.
  std::chrono::milliseconds late_limit() const;

 private:
  // Sends the command waiting in the mailbox, or a status query; whether its answer
  // came within the timeout.
  bool exchange();
  // Waits until an unanswered request is answered or can no longer be.
  void settle();
  // Sends the switch commands that take the shown states of `relays` to `opened`; the
  // states that the answer to the last one showed, when it came in time.
  std::optional<RelayMask> switch_relays(RelayMask relays, bool opened);
  RelayMask shown_opened() const;
  bool interrupted() const { return interrupted_ && interrupted_(); }
  // Until the command begins to switch, an interruption ends it at once.
  bool stopping() const { return !switching_ && interrupted(); }
  static Outcome not_switched();
  static Outcome check(RelayMask relays, RelayMask opened_now, bool opened);
  void receive_handled(const PollCycle& poll, bool answered) override;

  PanelCore& core_;
  EventWait& wait_;
  std::chrono::milliseconds timeout_;
  std::function<bool()> interrupted_;

  bool switching_ = false;    // from here on the command goes through to its verification
  bool outstanding_ = false;  // a request is on the line and its answer has not come
  EventWait::Clock::time_point sent_at_{};
  bool in_time_ = false;                 // the last request was answered within the timeout
  RelayMask answered_ = 0;               // the states its answer showed
  EventWait::Clock::duration latest_{};  // the longest wait for an answer that came late
};
