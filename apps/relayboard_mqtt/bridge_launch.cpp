#include "bridge_launch.h"

#include "broker_settings.h"
#include "mqtt/plain_password.h"

std::optional<int> settle_command_line(const BridgeOptionsResult& parsed, std::ostream& out,
                                       const std::function<void(const std::string&)>& log) {
  if (const auto* error = std::get_if<OptionsError>(&parsed)) {
    log(error->message);
    return 2;
  }
  const BridgeOptions& options = std::get<BridgeOptions>(parsed);
  if (options.help) {
    out << bridge_usage() << std::flush;
    return 0;
  }
  if (options.version) {
    out << "relayboard-mqtt " RELAYBOARD_MQTT_VERSION "\n" << std::flush;
    return 0;
  }
  if (const auto error = check_bridge_files(options)) {
    log(error->message);
    return 2;
  }
  if (!options.add_web_user) {
    const PasswordCheck password =
        check_password_passage(broker_settings(options, "", ""),
                               {"broker " + options.host + ":" + std::to_string(options.mqtt_port),
                                "give --cafile for TLS", "--allow-plain-password"});
    if (password.passage == PasswordPassage::clear_refused) {
      log(password.text);
      return 2;
    }
    if (password.passage == PasswordPassage::clear_allowed) log(password.text);
  }
  return std::nullopt;
}
