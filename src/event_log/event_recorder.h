#pragma once

#include <array>
#include <chrono>
#include <cstdint>
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
class EventRecorder {
 public:
  static constexpr std::chrono::seconds credit_window{5};

  EventRecorder(EventSink& sink, std::string line) : sink_(sink), line_(std::move(line)) {}

  // The line the events are of from now on (a panel opens another port); what was known
  // of its boards is forgotten.
  void set_line(std::string line) {
    line_ = std::move(line);
    boards_.clear();
  }

  // A command for `relays` of `address` went out for `by`.
  void commanded(std::uint8_t address, std::uint16_t relays, const SwitchSource& by,
                 Event::Time now);
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
    Event::Time until{};
  };
  struct Board {
    std::optional<std::uint16_t> opened;
    bool lost = false;
    std::array<std::optional<Credit>, 16> credits{};
  };
  Event event(Event::Kind kind, std::uint8_t address, int relay, Event::Time now) const;

  EventSink& sink_;
  std::string line_;
  std::map<std::uint8_t, Board> boards_;
};
