#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "line/line_rules.h"
#include "line/max_on.h"
#include "line/owed_switch.h"
#include "line/switch_queue.h"
#include "protocol/board_command.h"
#include "protocol/command_frame.h"
#include "protocol/frame.h"
#include "protocol/frame_port.h"
#include "serial/serial_port.h"

// What the line engine tells its host about the boards on its line.
class LineObserver {
 public:
  virtual ~LineObserver() = default;
  // A valid answer came in time from `address`; bit r-1 of `opened` is relay r, set
  // while the relay is opened. Called for every answer, changed or not.
  virtual void board_answered(std::uint8_t address, std::uint16_t opened) = 0;
  // `address` missed LineTiming::misses_until_unknown answers in a row: its states
  // are unknown until it answers again.
  virtual void board_lost(std::uint8_t address) = 0;
  // No answer to the request for `address` came within the answer timeout.
  virtual void board_missed(std::uint8_t /*address*/) {}
  // An answer came `waited` after its request to `address`, past the timeout: it is not
  // counted, but it frees the line for the next request.
  virtual void board_late(std::uint8_t /*address*/,
                          std::chrono::steady_clock::duration /*waited*/) {}
  // A valid answer came while no request was waiting for one: a board that answered
  // twice, or bytes from before the line was taken.
  virtual void answer_unasked(std::uint16_t /*opened*/) {}
  // A switch (a command's or a rule's) went on the wire at `now`.
  virtual void switch_sent(const QueuedSwitch& /*frame*/,
                           std::chrono::steady_clock::time_point /*now*/) {}
  // The line's rules switch `relays` of `address` (bit r-1 is relay r): `rule` is the
  // rule that acts (max_on, on_start, on_stop), `why` says how.
  virtual void rule_switched(std::uint8_t /*address*/, std::uint16_t /*relays*/,
                             const std::string& /*rule*/, const std::string& /*why*/) {}
  // The line's interlocks kept `rule` from switching `relay` of `address` on.
  virtual void rule_refused(std::uint8_t /*address*/, int /*relay*/, const std::string& /*rule*/,
                            const std::string& /*why*/) {}
  // A switch of max_on or on_stop that the board has not confirmed goes again (`sends`
  // with this one); `first`: the first retry since the board was last lost, the one a
  // log tells, not every send.
  virtual void rule_sent_again(std::uint8_t /*address*/, std::uint16_t /*relays*/,
                               const std::string& /*rule*/, const std::string& /*why*/,
                               int /*sends*/, bool /*first*/) {}
  // The board's report shows such a switch carried out after it went again: `sends` in all.
  virtual void rule_held(std::uint8_t /*address*/, std::uint16_t /*relays*/,
                         const std::string& /*rule*/, int /*sends*/) {}
};

// How long a request may wait for its answer on a line.
struct LineTiming {
  // Whether the host polls the line or asks once and then leaves it (a one-shot command).
  enum class Asking { polled, once };
  // Three timeouts, at most ten seconds beyond one. What makes an answer late (an
  // adapter's latency timer, a board busy switching, a loaded host) delays it by tens of
  // milliseconds, about the exchange's own 17 ms at 9600 baud, not by several timeouts:
  // past three, twice the timeout's slack has passed again, and the answer is taken to
  // come no more; a timeout of minutes already holds all the slack there is. The wait is
  // paid only after a miss. A host that asks once pays it within its own short run, never
  // at every poll, and leaves any late answer to the next program on the port: it waits
  // at least half a second, which even a loaded machine's delays stay within.
  static constexpr std::chrono::milliseconds late_limit_for(std::chrono::milliseconds timeout,
                                                            Asking asking = Asking::polled) {
    const auto limit = std::min(3 * timeout, timeout + std::chrono::milliseconds(10'000));
    return asking == Asking::once ? std::max(limit, std::chrono::milliseconds(500)) : limit;
  }
  // The default timing with another answer timeout, and the late limit that goes with it.
  static constexpr LineTiming with_answer_timeout(std::chrono::milliseconds timeout,
                                                  Asking asking = Asking::polled) {
    LineTiming timing;
    timing.answer_timeout = timeout;
    timing.late_limit = late_limit_for(timeout, asking);
    return timing;
  }

  // An answer counts only within this: a 16.7 ms exchange at 9600 baud, and slack.
  std::chrono::milliseconds answer_timeout{40};
  // How long after its request an answer can still come at all. After a timeout the
  // line stays reserved until the late answer has come or this has passed, so that it
  // is never taken for the answer to the next request, also after a poll of a board
  // lost to silence (it may answer late now): lost boards are polled seldom, and their
  // polls take at most a fifth of the line.
  std::chrono::milliseconds late_limit{late_limit_for(answer_timeout)};
  // How seldom a lost board is polled at most: it doubles from the period per miss. A
  // host that watches one board and wants its return seen at once keeps the period.
  std::chrono::milliseconds longest_poll_interval{1000};
  // Missed answers in a row before a board counts as lost.
  int misses_until_unknown = 5;
  // How often a board is polled at most: the rhythm every host keeps.
  std::chrono::milliseconds poll_period{50};
  // The host sends every frame itself (send_now) at its own pace: step() only settles
  // the request on the line, and the host asks take_rule_switch() before each frame.
  bool host_paced = false;
};

// Why a switch was not taken: it cannot go on the wire now, or the line's rules forbid
// it. It is never kept for a later open either, which would switch a relay long after
// its command was given.
struct SwitchRefusal {
  enum class Why { line_not_open, device_lost, against_rules };
  Why why = Why::line_not_open;
  std::string reason;  // against_rules: the rule's words for the operator

  static SwitchRefusal line_not_open() { return {Why::line_not_open, {}}; }
  static SwitchRefusal device_lost() { return {Why::device_lost, {}}; }
  friend bool operator==(const SwitchRefusal&, const SwitchRefusal&) = default;
};

// The switches of one command (a list of relays, a board's on_start state, a timetable
// entry), judged by the rules and queued as a whole: nothing of it goes on the line when
// any part of it is refused.
struct SwitchCommand {
  std::vector<QueuedSwitch> frames;
  SwitchLane lane = SwitchLane::in_turn;
  // The frames start a pulse that holds the relays they switch on for this long.
  std::optional<std::chrono::milliseconds> pulse{};
};

// Several boards on one serial line, polled in turn at the line's pace. One request is
// on the line at a time: the next goes out when the answer has come or can no longer
// come (its late limit, after a timeout), so a silent board costs only its own wait. Each board is
// polled at most once per LineTiming::poll_period; with one address the line sees the panel's
// rhythm. A board lost to silence is polled less and less often, down to once per
// LineTiming::longest_poll_interval (and lost boards one at a time), and at the full rate again
// from its first answer.
//
// Switch commands wait in a SwitchQueue, bounded by the relays served. A pulse's edges
// (the first lane) go out before anything else; the other switches take turns with the
// polls that are due, so that no flood of commands keeps a board from being refreshed
// for more than about twice its period. The answer to a switch refreshes its board as
// a poll would.
//
// Answers carry nothing that names their board, so they are told apart by order: an
// answer belongs to the request on the line and counts only within the answer timeout;
// after a timeout the next request waits until the late answer has come or can no
// longer come (LineTiming::late_limit), and the input is cleared before it goes out.
//
// With no addresses to poll, nothing goes on the line but what the host queues: a
// host that asks its own questions (a status query is queued like a switch) runs on it.
// A host that keeps its own pace (the panel's tick) sends with send_now() instead.
//
// Plain C++ driven by its host: the host calls step() when the time it returned has
// come (and after queueing a switch), and on_receive() for the port's receive events.
class LineEngine {
 public:
  using Clock = std::chrono::steady_clock;

  LineEngine(SerialPort& port, std::vector<std::uint8_t> addresses, LineObserver& observer,
             LineTiming timing = {});

  // Queues one command frame for `address` (which need not be on the list), replacing
  // what still waits for the same relays; a status query replaces nothing and goes in
  // turn. Refused while the port is closed or its device is lost, and when the line's
  // rules forbid it.
  std::optional<SwitchRefusal> queue_switch(std::uint8_t address, BoardCommand command,
                                            std::uint8_t data1, std::uint8_t data2,
                                            SwitchLane lane = SwitchLane::in_turn);
  // Queues every frame of `command`, or none of them when it is refused (as above).
  std::optional<SwitchRefusal> queue_switches(const SwitchCommand& command);
  // Sends the next frame if the line is free and one is due, handles a timed-out
  // request; returns when step() should be called next.
  Clock::time_point step(Clock::time_point now);
  // For a host that paces the line itself: `frame` goes out now, whatever is on the
  // line; a request still waiting for its answer is given up as missed. False when the
  // port is closed (the frame is built all the same, see last_frame()).
  bool send_now(const QueuedSwitch& frame, Clock::time_point now);
  // Bytes arrived: takes a whole answer off the input, if one waits, and gives it to the
  // request on the line. True when an answer was taken (see last_answer()).
  bool on_receive(Clock::time_point now);
  // Frames go out through `output` (which hands them on to the port) rather than
  // straight to the port, so that a watcher sees them on their way.
  void write_through(FramePort& output) { output_ = &output; }
  // Forgets the request on the line and every queued switch (the port was closed).
  void reset();

  // The operator's rules of the line; none by default. The boards' on_start states are
  // due afresh.
  void set_rules(LineRules rules);
  // The host owns the line (the bridge, the panel): each board is put in its on_start
  // state at its first answer after the rules are set or the line reset, and in its
  // on_stop state by release_line(). A one-shot command leaves the boards as they are.
  void set_owner(bool owner) { owner_ = owner; }
  // Puts the frames that give the boards their on_stop state first (the owner is about
  // to close the port): what waits for those boards is dropped, and every switch asked
  // for from now until the line is reset or its rules set again is refused, so that
  // nothing follows a stop state onto the wire. False when there are no such frames.
  bool release_line();
  // Whether release_line() has been called on this line.
  bool releasing() const { return releasing_; }
  // Whether switches of the rules wait to go out.
  bool rule_switch_waiting() const { return !rule_switches_.empty(); }
  // By board, the relays that a switch of `rule` (max_on, on_stop) left as they were,
  // as far as the board has reported since it went out: owed until a report shows them
  // switched, sent again meanwhile. A later command for them ends what is owed.
  std::map<std::uint8_t, std::uint16_t> unconfirmed(const std::string& rule) const;
  const LineRules& rules() const { return rules_; }
  // Why the rules forbid the command for `address` now, judged on the board's states
  // once the switches on the line and those waiting are done; nothing when they allow it.
  std::optional<SwitchRefusal> against_rules(std::uint8_t address, BoardCommand command,
                                             std::uint8_t data1, std::uint8_t data2) const;
  // The same for a whole command: what its frames switch on together, what they leave on,
  // and every moment on the way; a pulse no longer than the max_on of a relay it holds on.
  std::optional<SwitchRefusal> against_rules(const SwitchCommand& command) const;
  // Why a pulse that holds `relays` of `address` on for `hold` must not start: longer than
  // a max_on, which is known before the board's states are. A pulse that holds relays off
  // is not limited.
  std::optional<SwitchRefusal> pulse_refusal(std::uint8_t address, std::uint16_t relays,
                                             std::chrono::milliseconds hold) const;
  // A switch of the rules due now: a relay on longer than its max_on, a board's on_start
  // or on_stop state (a host that sends its own frames sends this first); step() sends
  // them itself. Each is told to the observer.
  std::optional<QueuedSwitch> take_rule_switch(Clock::time_point now);
  // The relays on under a max_on and since when, for the owner to keep across a crash;
  // and their recall at a start, once the rules are set (see MaxOnWatch::recall).
  std::vector<OwedState::On> owed_on() const { return max_on_.owed(); }
  void recall_on(const std::vector<OwedState::On>& on, Clock::time_point now) {
    max_on_.recall(on, now);
  }
  // The host's news that the open port's device went away (it forgets the line then)
  // or came back: switches are refused meanwhile.
  void set_device_lost(bool lost);

  // The states last reported by `address`, nothing while unknown.
  std::optional<std::uint16_t> states(std::uint8_t address) const;
  // The same once the switch on the line and those waiting are done, for any address
  // that has answered since the line was opened; nothing while unknown.
  std::optional<std::uint16_t> commanded_states(std::uint8_t address) const;
  const std::vector<std::uint8_t>& addresses() const { return addresses_; }
  // Whether relay `relay` of `address` is opened once the switch on the line and those
  // waiting are done, else as last reported; nothing while that is unknown.
  std::optional<bool> commanded(std::uint8_t address, int relay) const;
  // How many frames wait in the switch queue.
  std::size_t queued() const { return switches_.size(); }
  // Whether a request waits for its answer, or a late one.
  bool busy() const { return outstanding_.has_value(); }
  const LineTiming& timing() const { return timing_; }
  // Another timing from the next request on (a host that asks in passes, each with its
  // own patience); call it while nothing is on the line.
  void set_timing(const LineTiming& timing) { timing_ = timing; }
  // The last frame built for the line, whether or not it could be written.
  const CommandFrame& last_frame() const { return last_frame_; }
  // The last answer taken off the input, valid or not, in wire order.
  const FrameBytes& last_answer() const { return last_answer_; }

  // The answer timeout unless the host sets another.
  static constexpr std::chrono::milliseconds answer_timeout = LineTiming{}.answer_timeout;
  // Missed answers in a row before a board counts as lost, unless the host says otherwise.
  static constexpr int misses_until_unknown = LineTiming{}.misses_until_unknown;

 private:
  struct Board {
    std::uint8_t address = 0;
    Clock::time_point last_poll{};
    bool polled = false;
    int misses = 0;
    Clock::duration poll_interval{};  // the period, longer while lost
    std::optional<std::uint16_t> states;
  };
  // Resolves the request on the line as time has passed: counted missed at its
  // timeout, forgotten once no late answer can come. Returns when the line is free, or
  // nothing when it is free now.
  std::optional<Clock::time_point> settle(Clock::time_point now);
  bool send(const QueuedSwitch& frame, Clock::time_point now);
  void missed(std::uint8_t address);
  // Queues the switches that give `address`, now at `opened`, its on_start state.
  void start_board(std::uint8_t address, std::uint16_t opened);
  Board* board(std::uint8_t address);
  const Board* board(std::uint8_t address) const;
  // The next board whose poll is due, from where the last poll left off; else when the
  // next one is due.
  std::variant<std::size_t, Clock::time_point> due_board(Clock::time_point now) const;
  // When `candidate` is due for its next poll (now, if it was never polled).
  Clock::time_point due_time(const Board& candidate, Clock::time_point now) const;

  SerialPort& port_;
  FramePort* output_ = &port_;
  CommandFrame last_frame_{};
  FrameBytes last_answer_{};
  std::vector<std::uint8_t> addresses_;
  LineObserver& observer_;
  LineTiming timing_;
  std::vector<Board> boards_;
  SwitchQueue switches_;
  bool switch_last_ = false;  // the last request was a switch: a due poll goes next
  std::size_t next_board_ = 0;
  Clock::time_point last_lost_poll_{};
  std::uint8_t last_lost_address_ = 0;
  struct Outstanding {
    std::uint8_t address = 0;
    Clock::time_point sent_at{};
    std::optional<QueuedSwitch> switched;  // what it switches, if it is a switch
    bool timed_out = false;                // counted as missed; a late answer may come
  };
  std::optional<Outstanding> outstanding_;
  bool device_lost_ = false;
  // The last answer of every address asked, listed or not: what the rules judge by.
  std::map<std::uint8_t, std::uint16_t> answered_;
  LineRules rules_;
  MaxOnWatch max_on_{rules_};
  struct RuleSwitch {
    QueuedSwitch frame;
    std::uint16_t relays = 0;
    std::string rule;
    std::string why;
  };
  std::vector<RuleSwitch> rule_switches_;
  // The switches of max_on and on_stop sent and not yet seen carried out.
  struct Owed {
    RuleSwitch sent;
    std::uint16_t checked = 0;  // the relays a report must show
    std::uint16_t opened = 0;   // in this state
    std::uint16_t left = 0;     // those last reported otherwise (before a report: sent.relays)
    OwedSwitch resend{};
    bool at_once = false;  // an answer showed it not done: it goes at the next chance
  };
  std::vector<Owed> owed_;
  void owe(const RuleSwitch& sent, Clock::time_point now);
  void owed_reported(std::uint8_t address, std::uint16_t opened);
  std::optional<QueuedSwitch> take_owed(Clock::time_point now);
  // A command takes the relays of `frame` from what the rules owe them.
  void end_owed(const QueuedSwitch& frame);
  bool owner_ = false;
  bool releasing_ = false;
  // The boards whose on_start state has been seen to.
  std::vector<std::uint8_t> started_;
  // The last request's answer came in time and nothing has come since.
  bool input_clear_ = false;
};
