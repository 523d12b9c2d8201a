#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "line/line_engine.h"
#include "line/pulse.h"

// What a line tells its host about its boards, as it happens: the line engine's news (a
// board's 16 states as reported, a board missed, lost, back, late; a rule's switch or
// refusal), and the news of the pulses the line runs.
class BoardEvents : public LineObserver {
 public:
  // The line's device went away: every board on it is unknown until it answers again.
  virtual void line_lost() {}
  // A pulse's end went on the line (at its time, owed, again, or at a stop).
  virtual void pulse_end_sent(const PulseRunner::End& /*end*/) {}
  // What became of a pulse's end: ended, sent again, still switched, not ended.
  virtual void pulse_told(const PulseRunner::Told& /*news*/) {}
};

// Why a command, a pulse's end or a timetable's run did not go out, for a log.
inline std::string refusal_text(const SwitchRefusal& refusal) {
  switch (refusal.why) {
    case SwitchRefusal::Why::line_not_open:
      return "the serial line is not open";
    case SwitchRefusal::Why::device_lost:
      return "the serial line is lost";
    case SwitchRefusal::Why::against_rules:
      break;
  }
  return refusal.reason;
}

// A line at the level of its boards, whatever carries it: a command goes down judged
// whole by the line's rules, and the boards' news comes up through BoardEvents. A command
// with a pulse starts the pulse in the line, which ends it, checks the end against the
// board's reports and sends it again. Toggles and renames are the host's: a toggle is a
// switch to what the line says is commanded, and names live in the host's name file.
class BoardLine {
 public:
  using Clock = std::chrono::steady_clock;
  virtual ~BoardLine() = default;
  // Queues every frame of `command` (and starts its pulse), or none of them: why not.
  virtual std::optional<SwitchRefusal> command(const SwitchCommand& command,
                                               Clock::time_point now) = 0;
  // Whether relay `relay` of `address` is opened once the switches given are done, else
  // as last reported; nothing while unknown.
  virtual std::optional<bool> commanded(std::uint8_t address, int relay) const = 0;
  // Every pulse ends now, its end sent even to a board that does not answer (it may still
  // hear): the host is about to stop.
  virtual void end_pulses(Clock::time_point now) = 0;
  // Where the news goes; nullptr for nowhere.
  virtual void set_events(BoardEvents* events) = 0;
};

// A switch that the owner of a line (a bridge serving it) did not carry out after the
// panel sent it: its rules refused it, or its broker did not allow this operator to
// switch. Relay 0 stands for all relays.
struct LineRefusal {
  int relay = 0;
  bool on = false;
  std::string reason;  // in the words the panel shows after "Not switched: "
};

// A line that another program owns (a bridge serving it), followed by the panel one
// board at a time: a switch goes to the owner as a command at once, and the followed
// board's states come back as the owner reports them. No frames either way, and no tick
// to wait for. The panel's port provides it where it can open such a line.
class FollowedLine {
 public:
  virtual ~FollowedLine() = default;
  // Whether the open line is such a line; on any other the panel sends its own frames.
  virtual bool board_level() const = 0;
  // The board whose states are told from now on; asked again at each tick, so that a
  // broker gone quiet shows as soon as a silent board would.
  virtual void follow(std::uint8_t address) = 0;
  // Switches relay `relay` of board `address` on or off; relay 0 switches all 16.
  virtual void switch_relays(std::uint8_t address, int relay, bool on) = 0;
  // Called, as it arrives, with each new picture of the followed board `address`: its 16
  // states (bit r-1 for relay r opened), or nothing while they are unknown (the owner,
  // its broker or the board offline, or not every state reported yet).
  using StatesHandler = std::function<void(std::uint8_t address, std::optional<std::uint16_t>)>;
  virtual void set_states_handler(StatesHandler handler) = 0;
  // Called from the host's event loop for each switch the owner refused.
  virtual void set_refusal_handler(std::function<void(const LineRefusal&)> handler) = 0;
};
