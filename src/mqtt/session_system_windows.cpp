#include <mosquitto.h>

#include <cerrno>
#include <system_error>

#include "common/system_error_text.h"
#include "mqtt/session_system.h"

std::string library_errno_text() {
  // The library leaves Winsock's own code in errno.
  return system_error_text({errno, std::system_category()});
}

std::optional<std::string> failed_attempt_text(int code) {
  // Wine resets a refused loopback connection at once, inside the library's first send;
  // the system's "refused" arrives as a lost connection then.
  if (code == MOSQ_ERR_CONN_LOST) return "Connection refused";
  return std::nullopt;
}
