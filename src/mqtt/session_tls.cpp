#include <mosquitto.h>

#include "mqtt/certificate_check.h"
#include "mqtt/session_system.h"

struct SessionTls::Watch {
  CertificateWatch certificates;
};

SessionTls::SessionTls() : watch_(std::make_unique<Watch>()) {}

SessionTls::~SessionTls() = default;

int SessionTls::set_up(mosquitto* client, const BrokerSettings& settings) {
  const auto optional = [](const std::string& path) {
    return path.empty() ? nullptr : path.c_str();
  };
  watch_->certificates.host = settings.host;
  const int code =
      mosquitto_tls_set(client, settings.cafile.c_str(), nullptr, optional(settings.certfile),
                        optional(settings.keyfile), nullptr);
  return code == MOSQ_ERR_SUCCESS ? watch_certificate_checks(client, watch_->certificates) : code;
}

void SessionTls::attempt_starts() {
  watch_->certificates.refusal.clear();
}

const std::string& SessionTls::refusal() const {
  return watch_->certificates.refusal;
}
