#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>

#include "event_log/event.h"

// Where recorded events go: the SQLite log, or a test's list.
class EventSink {
 public:
  virtual ~EventSink() = default;
  virtual void record(const Event& event) = 0;
};

// Who asked for a switch: "panel", "relayctl", "mqtt", "schedule", "rule", "pulse",
// "web", with a client id, a user or the rule where there is one.
struct SwitchSource {
  std::string source;
  std::string who;
  std::string reason;
};

// Turns what a line's owner sees into events: each relay that the board reports changed
// is a switch, credited to the command that asked for it (if one did within
// `credit_window`) or else to "board", a change nobody here commanded; a board that
// fell silent and one that answers again; a command refused before it went out. The
// states before the first report, and while a board is lost, are unknown: a relay's
// first report after them is no change.
//
// Commands may come faster than the line carries them, and the line drops a waiting
// switch that a later one for the same relay replaces: each relay keeps the commands
// not yet seen at work, oldest first. A change to opened is the work of the oldest one
// that opens the relay (or says nothing of how it leaves it); the ones before it went
// nowhere. Commands that ask for the state a report already shows have nothing left to
// do and are dropped, so that they are never credited with a later change; on a line of
// the host's own, so are all but the last (see Reports). A relay that the board switches
// of itself within `credit_window` of a command for that state is still credited to it.
class EventRecorder {
 public:
  static constexpr std::chrono::seconds credit_window{5};
  // Commands kept per relay: a flood beyond it credits its last ones.
  static constexpr std::size_t credits_kept = 64;

  // How the host's reports follow its commands.
  enum class Reports {
    // On a line of its own each switch is answered before the next goes out: once the
    // board has reported, only the last command of a relay may be still to go.
    in_turn,
    // From the owner of the line (a bridge), whenever its news comes: any of the commands
    // may be still to come.
    late,
  };

  EventRecorder(EventSink& sink, std::string line) : sink_(sink), line_(std::move(line)) {}

  // The line the events are of from now on (a panel opens another port); what was known
  // of its boards is forgotten.
  void set_line(std::string line, Reports reports = Reports::in_turn) {
    line_ = std::move(line);
    reports_ = reports;
    boards_.clear();
  }

  // A command for `relays` of `address` went out for `by`, leaving them as `opened`
  // (bit set: opened), or where the host cannot say (a rule's switches) either way.
  void commanded(std::uint8_t address, std::uint16_t relays, std::uint16_t opened,
                 const SwitchSource& by, Event::Time now) {
    credit(address, relays, opened, by, now);
  }
  void commanded(std::uint8_t address, std::uint16_t relays, const SwitchSource& by,
                 Event::Time now) {
    credit(address, relays, std::nullopt, by, now);
  }
  // The board's states, as it reported them.
  void reported(std::uint8_t address, std::uint16_t opened, Event::Time now);
  void lost(std::uint8_t address, Event::Time now);
  // A command that was not sent, and why; relay 0 for the whole board. A timetable's run
  // that was not made is `missed` unless the rules refused it.
  void refused(std::uint8_t address, int relay, const SwitchSource& by, const std::string& why,
               Event::Time now, Event::Kind kind = Event::Kind::refused);

 private:
  struct Credit {
    SwitchSource by;
    std::optional<bool> on;  // how it leaves the relay, when known
    Event::Time until{};
  };
  struct Board {
    std::optional<std::uint16_t> opened;
    bool lost = false;
    std::array<std::deque<Credit>, 16> credits{};
  };
  void credit(std::uint8_t address, std::uint16_t relays, std::optional<std::uint16_t> opened,
              const SwitchSource& by, Event::Time now);
  Event event(Event::Kind kind, std::uint8_t address, int relay, Event::Time now) const;

  EventSink& sink_;
  std::string line_;
  Reports reports_ = Reports::in_turn;
  std::map<std::uint8_t, Board> boards_;
};
