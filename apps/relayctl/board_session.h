#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "event_log/event_recorder.h"
#include "exit_code.h"
#include "line/verified_switch.h"
#include "line_driver.h"
#include "relay_selection.h"

// What a command came to: its exit code and, unless done, a line for the operator.
struct Outcome {
  ExitCode code = ExitCode::Done;
  std::string message;
};

// relayctl's exchanges with one board, on the line engine of an open port: nothing goes
// on the line but the requests of the command, each sent at once. The engine keeps one
// request on the line at a time; an answer counts only within the timeout, and after a
// timeout the next request waits until the late answer has come or can no longer come
// (LineTiming::late_limit). A late answer marks the board as slow. Every command ends with the line
// quiet, so that the next program on the port never takes this one's late answers for
// its own.
class BoardSession {
 public:
  // On the run's line engine, with `timeout` for each answer and the rules the engine
  // holds. `interrupted`: whether a signal asks the command to end (see VerifiedSwitch).
  BoardSession(LineDriver& line, std::uint8_t address, std::chrono::milliseconds timeout,
               std::function<bool()> interrupted = {});
  ~BoardSession();
  BoardSession(const BoardSession&) = delete;
  BoardSession& operator=(const BoardSession&) = delete;
  // Where the command's switches (as `who`'s), the board's answers and refusals are told.
  void set_recorder(EventRecorder* recorder, SwitchSource who) {
    recorder_ = recorder;
    who_ = std::move(who);
  }
  // The line the port opened on, named where the board was silent or a pulse may have
  // left relays switched.
  void set_line_name(std::string name) { line_name_ = std::move(name); }

  // The relays that are opened now (bit r-1), from a status query sent up to
  // VerifiedSwitch::query_attempts times; nothing when the board never answered in time.
  std::optional<RelayMask> read_states();

  // Drives the relays to opened or closed and verifies (VerifiedSwitch).
  Outcome drive(RelayMask relays, bool opened);

  // Drives the relays to opened (closed when inverse), holds them there for `hold`
  // from the first switch frame on, then drives them back, and verifies. Interrupted,
  // it cuts the hold short and still drives them back. Once it has come to a switch,
  // an end the board never confirmed is MayBeLeftOn, naming the relays.
  Outcome pulse(RelayMask relays, std::chrono::milliseconds hold, bool inverse);

  // What the command comes to when no answer came in time: silence, or late answers.
  Outcome no_answer() const;

 private:
  Outcome run(VerifiedSwitch& run);
  // " on <line>", or nothing when no line was named.
  std::string on_line() const;
  // Whether the line's rules refuse `command` as a whole; a refusal is kept and recorded.
  bool refuses(const SwitchCommand& command);
  // Sends `request` once the line is free, a switch of it credited to `by`; the states its
  // answer showed, when it came in time. Cut short by an interruption when `may_stop`.
  std::optional<RelayMask> exchange(const QueuedSwitch& request, bool may_stop,
                                    const SwitchSource& by);
  // Waits until an unanswered request is answered or can no longer be.
  void settle();
  bool interrupted() const { return interrupted_ && interrupted_(); }

  LineDriver& line_;
  EventWait& wait_;
  std::uint8_t address_;
  std::chrono::milliseconds timeout_;
  std::function<bool()> interrupted_;
  std::optional<std::string> refused_;  // the rule that refused the last switch
  EventRecorder* recorder_ = nullptr;
  SwitchSource who_;
  std::string line_name_;
  bool switching_ = false;  // the command has come to a switch, sent or not

  std::optional<std::optional<RelayMask>> outcome_;  // of the request on the line, once known
  EventWait::Clock::duration latest_{};  // the longest wait for an answer that came late
};
