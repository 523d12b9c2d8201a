#include <mosquitto.h>

#include <cerrno>
#include <cstring>

#include "mqtt_mosquitto/certificate_check.h"
#include "mqtt_mosquitto/session_system.h"

struct SessionTls::Watch {
  CertificateWatch certificates;
};

SessionTls::SessionTls() : watch_(std::make_unique<Watch>()) {}

SessionTls::~SessionTls() = default;

std::optional<std::string> SessionTls::unavailable(const BrokerSettings&) {
  return std::nullopt;
}

int SessionTls::set_up(mosquitto* client, const BrokerSettings& settings) {
  const auto optional = [](const std::string& path) {
    return path.empty() ? nullptr : path.c_str();
  };
  watch_->certificates.host = settings.host;
  return mosquitto_tls_set(client, settings.cafile.c_str(), nullptr, optional(settings.certfile),
                           optional(settings.keyfile), nullptr);
}

void SessionTls::attempt_starts() {
  watch_->certificates.refusal.clear();
  watch_->certificates.connection = nullptr;
}

void SessionTls::follow(mosquitto* client) {
  watch_certificate_checks(client, watch_->certificates);
}

const std::string& SessionTls::refusal() const {
  return watch_->certificates.refusal;
}

std::string library_errno_text() {
  return std::strerror(errno);
}

std::optional<std::string> failed_attempt_text(int) {
  return std::nullopt;
}
