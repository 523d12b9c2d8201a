#include "web_users_file.h"

#include <sys/stat.h>

#include <system_error>

#include "names/disk_file.h"
#include "password_prompt.h"
#include "settings/settings_files.h"
#include "web/web_users.h"

int add_web_user(const BridgeOptions& options, const std::function<void(const std::string&)>& log) {
  const std::string& name = *options.add_web_user;
  if (!options.web_users) {
    log("--add-web-user needs --web-users FILE");
    return 2;
  }
  if (!valid_web_user_name(name)) {
    log('"' + name + "\" is not a user name (A-Z a-z 0-9 . _ -, at most 64)");
    return 2;
  }
  const auto role = parse_web_role(options.web_role);
  if (!role) {
    log("--web-role " + options.web_role + ": neither operator nor viewer");
    return 2;
  }
  const std::filesystem::path& path = *options.web_users;
  std::string text;
  std::error_code unknown;
  const bool existed = std::filesystem::exists(path, unknown);
  if (existed) {
    const FileText read = read_settings_file(path);
    if (!read.text) {
      log("web users file " + read.reason);
      return 2;
    }
    auto parsed = parse_web_users(*read.text, path.string());
    if (const auto* why = std::get_if<std::string>(&parsed)) {
      log("web users file " + *why);
      return 2;
    }
    text = *read.text;
  }
  const auto password = read_new_password("Password for " + name + ": ");
  if (!password || password->empty()) {
    log("no password given (or the two differ): nothing stored");
    return 2;
  }
  const auto line = web_user_line(name, *role, *password);
  if (!line) {
    log("no random bytes for the password's salt: nothing stored");
    return 1;
  }
  const std::string updated = with_web_user(text, name, *line);
  // Replaced whole, as the name file is: an existing file keeps its owner, group and mode
  // (the service reads it through its group), and is never written through a link that
  // another user could have planted; a new one is readable by its owner alone.
  const mode_t umask_before = ::umask(077);
  const std::error_code written = replace_file_atomically(path, updated);
  ::umask(umask_before);
  if (written) {
    log("web users file " + path.string() + ": " + written.message());
    return 1;
  }
  log("web user " + name + " (" + std::string(web_role_name(*role)) + ") stored in " +
      path.string());
  return 0;
}

std::variant<WebUsers, std::string> read_web_users(const std::filesystem::path& path) {
  const FileText read = read_settings_file(path);
  if (!read.text) return "web users file " + read.reason;
  auto parsed = parse_web_users(*read.text, path.string());
  if (auto* why = std::get_if<std::string>(&parsed)) return "web users file " + *why;
  return parsed;
}

std::optional<WebUsersStamp> web_users_stamp(const std::filesystem::path& path) {
  struct stat seen {};
  if (::stat(path.c_str(), &seen) != 0) return std::nullopt;
  const auto ns = [](const timespec& at) {
    return static_cast<std::int64_t>(at.tv_sec) * 1000000000 + at.tv_nsec;
  };
  return WebUsersStamp{
      static_cast<std::uint64_t>(seen.st_dev), static_cast<std::uint64_t>(seen.st_ino),
      static_cast<std::uint64_t>(seen.st_size), ns(seen.st_mtim), ns(seen.st_ctim)};
}
