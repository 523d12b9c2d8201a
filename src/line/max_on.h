#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "line/line_rules.h"
#include "line/owed_state.h"

// Which relays have been on longer than their max_on, from the states the boards report.
// A relay's time counts from the first report that shows it on (a relay found on when
// the line is taken counts from then); a relay that is due is named once, and again only
// after a report has shown it off and then on again.
class MaxOnWatch {
 public:
  using Clock = std::chrono::steady_clock;
  explicit MaxOnWatch(const LineRules& rules) : rules_(&rules) {}

  void reported(std::uint8_t address, std::uint16_t opened, Clock::time_point now);
  // A command took `relays` of `address` after they were named: each counts afresh from
  // the next report that shows it on.
  void forget(std::uint8_t address, std::uint16_t relays);

  struct Due {
    std::uint8_t address = 0;
    int relay = 0;
    std::chrono::milliseconds limit{};
    friend bool operator==(const Due&, const Due&) = default;
  };
  // The relays due to be switched off at `now`, each named once.
  std::vector<Due> take_due(Clock::time_point now);
  // When the next relay becomes due, nothing while none is on with a limit.
  std::optional<Clock::time_point> next_due() const;

  // The relays seen on under a limit, since when, and those recalled that no report has
  // shown yet: what a crash must not let the next start forget.
  std::vector<OwedState::On> owed() const;
  // What the last run owed, at a start before any report: a relay that its board's first
  // report shows on counts from its recalled time (never later than `now`: a clock set
  // back between the runs counts afresh), one shown off is forgotten. A relay without a
  // limit now is passed over.
  void recall(const std::vector<OwedState::On>& on, Clock::time_point now);

 private:
  struct Board {
    std::array<std::optional<Clock::time_point>, 16> on_since{};
    std::uint16_t named = 0;  // due and named already
  };
  const LineRules* rules_;  // outlives the watch
  std::map<std::uint8_t, Board> boards_;
  std::map<std::uint8_t, std::array<std::optional<Clock::time_point>, 16>> recalled_;
};

// Why a pulse that holds `relays` of board `address` on for `hold` must not start: it
// would keep one of them on longer than its max_on, which would cut it short. A pulse
// that holds relays off is not limited.
std::optional<std::string> pulse_refusal(const LineRules& rules, std::uint8_t address,
                                         std::uint16_t relays, std::chrono::milliseconds hold);
