#include "names/temp_file_names_posix.h"

#include <unistd.h>

#include <charconv>
#include <string>
#include <system_error>

#include "settings/file_trust.h"

namespace temp_file_names {

namespace {

// A process id or attempt number as this program writes it: decimal digits without a
// leading zero.
bool is_plain_number(std::string_view text) {
  if (text.empty() || (text.size() > 1 && text.front() == '0')) return false;
  return text.find_first_not_of("0123456789") == std::string_view::npos;
}

}  // namespace

std::filesystem::path folder_of(const std::filesystem::path& file) {
  return containing_folder(file);
}

std::filesystem::path beside(const std::filesystem::path& target, int attempt) {
  std::string name = ".";
  name.append(target.filename().string()).append(".").append(std::to_string(::getpid()));
  name.append(".").append(std::to_string(attempt)).append(".tmp");
  return target.parent_path() / name;
}

std::optional<pid_t> owner(std::string_view name, std::string_view file_name) {
  constexpr std::string_view suffix = ".tmp";
  if (!name.starts_with('.')) return std::nullopt;
  name.remove_prefix(1);
  if (!name.starts_with(file_name)) return std::nullopt;
  name.remove_prefix(file_name.size());
  if (name.size() <= suffix.size() || !name.starts_with('.') || !name.ends_with(suffix)) {
    return std::nullopt;
  }
  name.remove_prefix(1);
  name.remove_suffix(suffix.size());
  const std::size_t dot = name.find('.');
  if (dot == std::string_view::npos) return std::nullopt;
  const std::string_view pid_text = name.substr(0, dot);
  if (!is_plain_number(pid_text) || !is_plain_number(name.substr(dot + 1))) return std::nullopt;
  pid_t pid = 0;
  const auto result = std::from_chars(pid_text.data(), pid_text.data() + pid_text.size(), pid);
  if (result.ec != std::errc{} || pid <= 0) return std::nullopt;
  return pid;
}

}  // namespace temp_file_names
