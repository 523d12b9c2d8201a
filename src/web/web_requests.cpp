#include "web/web_requests.h"

#include <algorithm>
#include <cctype>

#include "common/board_limits.h"
#include "web/web_endpoint.h"

std::variant<MqttMessage, std::string> web_command_message(const BridgeTopics& topics,
                                                           const WebCommand& command,
                                                           WebRole role) {
  if (role != WebRole::operator_) return "a viewer may not switch or rename";
  if (command.address < 0 || command.address > 255) return "no such board";
  const auto address = static_cast<std::uint8_t>(command.address);
  const bool one_relay = command.relay >= 1 && command.relay <= relay_count;
  MqttMessage message;
  message.payload = command.value;
  message.source = "web";
  if (command.op == "all") {
    message.topic =
        topics.prefix() + '/' + topics.line() + '/' + std::to_string(address) + "/all/set";
  } else if (!one_relay) {
    return "no such relay";
  } else if (command.op == "set") {
    message.topic = topics.relay_set(address, command.relay);
  } else if (command.op == "pulse") {
    message.topic = topics.relay_pulse(address, command.relay);
  } else if (command.op == "rename") {
    message.topic = topics.relay_rename(address, command.relay);
  } else {
    return "unknown command";
  }
  return message;
}

bool same_origin(std::string_view origin, std::string_view host_header, bool tls) {
  const std::string_view scheme = tls ? "https://" : "http://";
  return !host_header.empty() && origin.size() == scheme.size() + host_header.size() &&
         origin.starts_with(scheme) && origin.substr(scheme.size()) == host_header;
}

bool trusted_host(std::string_view host_header, bool tls) {
  if (tls) return true;
  std::string_view host = host_header;
  if (host.starts_with('[')) {
    host = host.substr(1, host.find(']') - 1);
  } else {
    host = host.substr(0, host.find(':'));
  }
  return loopback_host(host);
}

std::optional<std::string> ambiguous_request(const std::vector<std::string>& header_names) {
  const auto count = [&](std::string_view name) {
    return std::count_if(header_names.begin(), header_names.end(), [&](const std::string& each) {
      return std::equal(each.begin(), each.end(), name.begin(), name.end(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == b;
      });
    });
  };
  if (count("content-length") > 1) return "two Content-Length headers";
  if (count("content-length") > 0 && count("transfer-encoding") > 0)
    return "Content-Length beside Transfer-Encoding";
  if (count("host") > 1) return "two Host headers";
  return std::nullopt;
}

std::string_view web_content_type(std::string_view file_name) {
  if (file_name.ends_with(".html")) return "text/html; charset=utf-8";
  if (file_name.ends_with(".css")) return "text/css; charset=utf-8";
  if (file_name.ends_with(".js")) return "text/javascript; charset=utf-8";
  if (file_name.ends_with(".svg")) return "image/svg+xml";
  if (file_name.ends_with(".png")) return "image/png";
  return "application/octet-stream";
}
