#include <cerrno>
#include <cstring>

#include "mqtt/session_system.h"

std::string library_errno_text() {
  return std::strerror(errno);
}

std::optional<std::string> failed_attempt_text(int) {
  return std::nullopt;
}
