#include "web/web_endpoint.h"

#include <charconv>

namespace {

// `text` in quotes, then `rest`; built by appending, since GCC 12 at -O3 misreads
// "literal" + std::string&& (-Wrestrict).
std::string quoted(std::string_view text, std::string_view rest) {
  std::string out = "\"";
  out += text;
  out += '"';
  out += rest;
  return out;
}

}  // namespace

std::variant<WebEndpoint, std::string> parse_web_endpoint(std::string_view text) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string_view::npos) return quoted(text, " is not ADDRESS:PORT");
  std::string_view host = text.substr(0, colon);
  const std::string_view port_text = text.substr(colon + 1);
  if (host.starts_with('[') && host.ends_with(']')) {
    host = host.substr(1, host.size() - 2);
  } else if (host.find(':') != std::string_view::npos) {
    return quoted(text, ": an IPv6 address goes in brackets, [::1]:8080");
  }
  if (host.empty()) return quoted(text, " names no address");
  unsigned port = 0;
  const auto [end, error] =
      std::from_chars(port_text.data(), port_text.data() + port_text.size(), port);
  if (error != std::errc() || end != port_text.data() + port_text.size() || port > 65535) {
    return quoted(port_text, " is not a TCP port");
  }
  return WebEndpoint{std::string(host), static_cast<std::uint16_t>(port)};
}

bool loopback_host(std::string_view host) {
  return host == "localhost" || host == "::1" ||
         (host.starts_with("127.") &&
          host.find_first_not_of("0123456789.") == std::string_view::npos);
}

std::optional<std::string> web_endpoint_refusal(const WebEndpoint& endpoint,
                                                const WebSecurity& security) {
  if (loopback_host(endpoint.host)) return std::nullopt;
  if (security.certificate && security.users) return std::nullopt;
  return "--web " + endpoint.host + ':' + std::to_string(endpoint.port) +
         " reaches beyond this machine: give --web-cert and --web-key (TLS) and --web-users "
         "(a login), or listen on localhost";
}
