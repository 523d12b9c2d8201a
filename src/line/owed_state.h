#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// What the owner of a line owes its boards and must still do after a crash: each relay
// under a max_on rule that is on, since when it has been seen on, and each running
// pulse's end. Times are the steady clock of the run that keeps them.
struct OwedState {
  using Clock = std::chrono::steady_clock;
  struct On {
    std::uint8_t address = 0;
    int relay = 0;
    Clock::time_point since{};
    friend bool operator==(const On&, const On&) = default;
  };
  struct PulseEnd {
    std::uint8_t address = 0;
    int relay = 0;
    bool back_opened = false;  // the state the relay goes back to
    Clock::time_point started{};
    Clock::time_point due{};
    friend bool operator==(const PulseEnd&, const PulseEnd&) = default;
  };
  std::vector<On> on;
  std::vector<PulseEnd> pulses;

  bool empty() const { return on.empty() && pulses.empty(); }
  friend bool operator==(const OwedState&, const OwedState&) = default;
};

// The wall clock and the steady clock read once, at a run's start: every steady time of
// the run becomes the same wall time each time it is written, so that a snapshot that has
// not changed is never written again, and a wall time read back becomes a steady time the
// same way. A wall clock set between two runs moves the recalled times with it: set
// forward, a relay seems on longer and a pulse ends sooner; set back, the times land
// after the start, and the recall clamps them (MaxOnWatch::recall, PulseRunner::recall).
struct ClockAnchor {
  std::chrono::system_clock::time_point wall0;
  std::chrono::steady_clock::time_point steady0;

  static ClockAnchor now() {
    return {std::chrono::system_clock::now(), std::chrono::steady_clock::now()};
  }
  std::chrono::system_clock::time_point wall(std::chrono::steady_clock::time_point at) const {
    return wall0 + std::chrono::duration_cast<std::chrono::system_clock::duration>(at - steady0);
  }
  std::chrono::steady_clock::time_point steady(std::chrono::system_clock::time_point at) const {
    return steady0 + std::chrono::duration_cast<std::chrono::steady_clock::duration>(at - wall0);
  }
};

// One file per line, beside the timetable's memory: "owed-<line>.txt", every character
// of the line's name that is no letter, digit, '-' or '_' made a '_' (a device path).
std::string owed_state_file_name(std::string_view line);
// The file's text, one "key = value" line per debt, times in milliseconds since
// 1970-01-01 UTC:
//   on = 1 5 1780272000123                      (board, relay, on since)
//   pulse = 1 5 off 1780272000123 1780272003123 (board, relay, back to, started, due)
// Nothing owed leaves the comment line alone.
std::string owed_state_text(const OwedState& owed, const ClockAnchor& anchor);
// Lines it does not know (a later version's) are passed over; a board beyond 255, a
// relay beyond 1..16, a time outside 1970..9999 or a pulse due before it started is the
// file's fault, "<file_name>:N: why".
std::variant<OwedState, std::string> parse_owed_state(std::string_view text,
                                                      std::string_view file_name,
                                                      const ClockAnchor& anchor);

// The owed file at `path` read back for a start, under the trust rule of every settings
// file: its state and its text; nothing when there is none; or why it is not used,
// "<path>: …; what the line owed starts afresh", for the host to tell.
struct OwedFile {
  OwedState state;
  std::string text;
};
std::variant<std::monostate, OwedFile, std::string> read_owed_file(
    const std::filesystem::path& path, const ClockAnchor& anchor);
