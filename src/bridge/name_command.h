#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "bridge/bridge_names.h"
#include "bridge/command_result.h"
#include "common/board_limits.h"
#include "names/profile_store.h"

// A board's title and 16 names as one retained message, as the name file reads them:
// {"title":"...","names":["name of relay 1",...,"name of relay 16"]}.
std::string board_names_json(std::string_view title,
                             const std::array<std::string, relay_count>& names);

// What became of a rename sent to the bridge, and the names as the file reads after it
// (filled by the host once it is done, so that they go out before the answer).
struct RenameAnswer {
  CommandOutcome outcome = CommandOutcome::done;
  std::string reason;
  std::optional<BridgeNames> names;
};

// Stores `name` (UTF-8) as relay `relay`'s of board `address` in the name file, through
// the checks and the lock of every local rename: refused with their reasons (a line
// break, a character the file cannot hold, too long), not done with the file's own error.
// Only the relay's line of the file changes.
RenameAnswer rename_relay(const std::filesystem::path& name_file, ProfileStore& store,
                          std::uint8_t address, int relay, std::string_view name);
