#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// A switch that the owner of a line (a bridge serving it) did not carry out after the
// panel sent it: its rules refused it, or its broker did not allow this operator to
// switch. Relay 0 stands for all relays.
struct LineRefusal {
  int relay = 0;
  bool on = false;
  std::string reason;  // in the words the panel shows after "Not switched: "
};

// A line that another program owns (a bridge serving it), at the level of its boards: a
// switch goes to the owner as a command at once, and the followed board's states come
// back as the owner reports them. No frames either way, and no tick to wait for. The
// panel's port provides it where it can open such a line.
class BoardLine {
 public:
  virtual ~BoardLine() = default;
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
