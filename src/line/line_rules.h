#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

// What the operator allows the relays of one board: groups of relays of which at most
// one may be on at a time (a motor's forward and reverse), how long a relay may stay on
// before the line's owner switches it off, and the state the board is put in when the
// owner takes the line and when it lets it go. Bit r-1 of a mask is relay r.
struct BoardRules {
  std::vector<std::uint16_t> interlocks;
  std::array<std::optional<std::chrono::milliseconds>, 16> max_on{};
  enum class Start { keep, off, exactly };
  Start on_start = Start::keep;
  std::uint16_t start_opened = 0;  // with Start::exactly: these on, the others off
  enum class Stop { keep, off };
  Stop on_stop = Stop::keep;

  friend bool operator==(const BoardRules&, const BoardRules&) = default;
};

// The rules of every board of a line that has any; a board without rules is free.
struct LineRules {
  std::map<std::uint8_t, BoardRules> boards;

  const BoardRules* find(std::uint8_t address) const {
    const auto found = boards.find(address);
    return found == boards.end() ? nullptr : &found->second;
  }
  bool empty() const { return boards.empty(); }
  friend bool operator==(const LineRules&, const LineRules&) = default;
};
