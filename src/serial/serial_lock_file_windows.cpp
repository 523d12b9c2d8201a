#include "serial/serial_lock_file.h"

// Windows keeps no lock files: a COM port's open is exclusive, and it ends with the
// process that made it.
std::vector<std::string> serial_lock_folders() {
  return {};
}

std::string serial_lock_file(const std::string&, const std::vector<std::string>&) {
  return {};
}

std::optional<StaleLock> clear_stale_lock(const std::string&, const std::vector<std::string>&,
                                          const std::function<bool(const std::string&)>&,
                                          const std::string&) {
  return std::nullopt;
}

std::string lock_holder_text(const std::string&, const std::vector<std::string>&,
                             const std::string&) {
  return {};
}

std::optional<long long> lock_holder_pid(const std::string&, const std::vector<std::string>&,
                                         const std::string&) {
  return std::nullopt;
}

std::optional<std::string> lock_file_refusal(const std::string&, const std::vector<std::string>&) {
  return std::nullopt;
}
