#include <mosquitto.h>

#include "mqtt_mosquitto/certificate_check.h"
#include "mqtt_mosquitto/session_system.h"

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
  return mosquitto_tls_set(client, settings.cafile.c_str(), nullptr, optional(settings.certfile),
                           optional(settings.keyfile), nullptr);
}

void SessionTls::attempt_starts() {
  watched_ = watch_->certificates.context_watched;
  watch_->certificates.refusal.clear();
  watch_->certificates.connection = nullptr;
}

void SessionTls::follow(mosquitto* client) {
  watch_certificate_checks(client, watch_->certificates);
}

bool SessionTls::watch_came_late(mosquitto* client) {
  follow(client);
  return !watched_ && watch_->certificates.context_watched;
}

const std::string& SessionTls::refusal() const {
  return watch_->certificates.refusal;
}

const std::string& SessionTls::last_refusal() const {
  return watch_->certificates.last_refusal;
}
