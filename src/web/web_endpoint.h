#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

// Where the web page listens: a host (a name, an IPv4 address or an IPv6 address in
// brackets) and a TCP port, as --web ADDRESS:PORT gives them.
struct WebEndpoint {
  std::string host;  // without the brackets of an IPv6 address
  std::uint16_t port = 0;
};

// "localhost:8080", "0.0.0.0:8443", "[::1]:8080"; otherwise why not. Port 0 takes a free
// port, which the log names.
std::variant<WebEndpoint, std::string> parse_web_endpoint(std::string_view text);

// Whether only this machine can reach the host: localhost, 127.0.0.0/8 or ::1.
bool loopback_host(std::string_view host);

// What the page needs to listen beyond this machine.
struct WebSecurity {
  bool certificate = false;  // a certificate and its key
  bool users = false;        // a users file: nobody gets in without a login
};

// Why the page may not listen there, nothing when it may: the network sees only an
// encrypted page behind a login.
std::optional<std::string> web_endpoint_refusal(const WebEndpoint& endpoint,
                                                const WebSecurity& security);
