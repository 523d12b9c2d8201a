#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <variant>

#include "bridge_options.h"
#include "web/web_users.h"

// --add-web-user: asks the user's password and writes their line in the users file,
// leaving every other line as it was. The exit status: 0 when stored, 2 for a refused
// name, role or file, 1 when the file cannot be written.
int add_web_user(const BridgeOptions& options, const std::function<void(const std::string&)>& log);

// The users file read through the trust rule and parsed, as at start and at each change;
// or why not, as the log shows it.
std::variant<WebUsers, std::string> read_web_users(const std::filesystem::path& path);

// What the users file is now, cheap to take every few seconds: a new stamp means the file
// was written or replaced. Nothing when it cannot be seen.
struct WebUsersStamp {
  std::uint64_t device = 0, inode = 0, size = 0;
  std::int64_t modified_ns = 0, changed_ns = 0;
  bool operator==(const WebUsersStamp&) const = default;
};
std::optional<WebUsersStamp> web_users_stamp(const std::filesystem::path& path);
