#include "mqtt/plain_password.h"

bool is_loopback_broker(std::string_view host) {
  return host == "localhost" || host == "127.0.0.1" || host == "::1" || host == "[::1]";
}

PasswordCheck check_password_passage(const BrokerSettings& settings, const PasswordAdvice& advice) {
  // Without a password only the user name goes, which is no secret.
  if (settings.user.empty() || settings.password.empty() || !settings.cafile.empty() ||
      is_loopback_broker(settings.host)) {
    return {};
  }
  const std::string broker = advice.broker.empty() ? "" : advice.broker + ": ";
  if (settings.plain_password) {
    return {PasswordPassage::clear_allowed,
            broker + "the password is sent in clear, as " + advice.allow + " allows"};
  }
  return {PasswordPassage::clear_refused, broker +
                                              "the password would be sent in clear: " + advice.tls +
                                              ", or give " + advice.allow + " to send it anyway"};
}
