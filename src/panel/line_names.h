#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "common/board_limits.h"

// A board's title and relay names as the owner of a line keeps them.
struct BoardNames {
  std::string title;
  std::array<std::string, relay_count> relays;
};

// What the owner of a line made of a rename: stored, refused for the name itself (with
// the same reason a local rename gives), or not stored for another reason.
struct LineRenameAnswer {
  enum class Kind { stored, refused, failed };
  Kind kind = Kind::stored;
  std::string reason;
};

// The names of a line that another program owns (a line a bridge serves): the owner's,
// per board, and renames that the owner stores. The panel's port provides it where it
// can open such a line; while it says the open line's names are the owner's, the name
// file is neither read nor written.
class LineNames {
 public:
  virtual ~LineNames() = default;
  virtual bool owns_names() const = 0;
  // The names of board `address`, which the line follows from now on; nothing until
  // they have arrived.
  virtual std::optional<BoardNames> board_names(std::uint8_t address) = 0;
  // Called when the followed board's names arrive or change, and when a line whose
  // names are its owner's opens or closes.
  virtual void set_names_handler(std::function<void()> handler) = 0;
  // Asks the owner to store `name` as relay `relay`'s of board `address`; `done` runs
  // once, from the host's event loop, with the owner's answer.
  virtual void rename(std::uint8_t address, int relay, const std::string& name,
                      std::function<void(const LineRenameAnswer&)> done) = 0;
};
