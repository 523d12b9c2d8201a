#include <mosquitto.h>

#include <cerrno>
#include <system_error>

#include "common/system_error_text.h"
#include "mqtt_mosquitto/session_system.h"

struct SessionTls::Watch {};

SessionTls::SessionTls() = default;

SessionTls::~SessionTls() = default;

std::optional<std::string> SessionTls::unavailable(const BrokerSettings& settings) {
  if (settings.cafile.empty()) return std::nullopt;
  return "TLS is not available in the Windows build (plain TCP only): " + settings.cafile +
         " cannot be used";
}

int SessionTls::set_up(mosquitto*, const BrokerSettings&) {
  return MOSQ_ERR_NOT_SUPPORTED;
}

void SessionTls::attempt_starts() {}

void SessionTls::follow(mosquitto*) {}

const std::string& SessionTls::refusal() const {
  static const std::string none;
  return none;
}

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
