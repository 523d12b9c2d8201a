#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "mqtt/bridge_topics.h"
#include "mqtt/mqtt_client.h"
#include "web/web_users.h"

// What the page asks of a board: "set" (value ON, OFF or TOGGLE), "all" (ON or OFF),
// "pulse" (a duration) or "rename" (the new name).
struct WebCommand {
  std::string op;
  int address = -1;
  int relay = 0;
  std::string value;
};

// The command as the bridge takes it from the broker, so that it goes the same way as
// every other; or why the page's user may not send it.
std::variant<MqttMessage, std::string> web_command_message(const BridgeTopics& topics,
                                                           const WebCommand& command, WebRole role);

// Whether a request comes from the page itself: its Origin header names the scheme and
// the host (with port) that the request was sent to. Another site's page cannot forge it.
bool same_origin(std::string_view origin, std::string_view host_header, bool tls);

// Whether the Host header may be answered. A page without TLS listens on this machine
// only and answers only to a loopback name, login or not: another site that points its
// own name at 127.0.0.1 would otherwise be the page's own origin, free to try passwords
// and to use a login it guessed. Under TLS a rebound name fails the certificate check in
// the browser, so any name the certificate holds is answered.
bool trusted_host(std::string_view host_header, bool tls);

// Why a request is answered 400 whatever it asks, from its header names: a body framed two
// ways (two Content-Length, or one beside Transfer-Encoding) that a proxy in front may
// read otherwise than this server, or two Host headers, of which each check could read
// another. Nothing when it is plain.
std::optional<std::string> ambiguous_request(const std::vector<std::string>& header_names);

// The Content-Type of a page file, by its name's ending.
std::string_view web_content_type(std::string_view file_name);

// The headers of every answer: no inline script or style, nothing from elsewhere, never
// in another site's frame.
inline constexpr std::string_view web_content_security_policy =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; "
    "connect-src 'self'; form-action 'self'; frame-ancestors 'none'; base-uri 'none'";
