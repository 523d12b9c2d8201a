#include "web/http_request.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <optional>

#include "web/web_requests.h"

namespace {

bool same_text(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

// The characters of a header name or a method (a "token").
bool token(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) ||
           std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
  });
}

// A header value without control characters (a tab is allowed), trimmed.
std::optional<std::string_view> header_value(std::string_view text) {
  for (const char c : text) {
    if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7f) return std::nullopt;
  }
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return std::string_view();
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool has_token(std::string_view list, std::string_view wanted) {
  while (!list.empty()) {
    const std::size_t comma = list.find(',');
    std::string_view each = list.substr(0, comma);
    while (!each.empty() && (each.front() == ' ' || each.front() == '\t')) each.remove_prefix(1);
    while (!each.empty() && (each.back() == ' ' || each.back() == '\t')) each.remove_suffix(1);
    if (same_text(each, wanted)) return true;
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  return false;
}

HttpRefusal bad(std::string reason) {
  return {400, std::move(reason)};
}

}  // namespace

std::string_view request_header(const WebRequest& request, std::string_view name) {
  for (const auto& [key, value] : request.headers) {
    if (same_text(key, name)) return value;
  }
  return {};
}

HttpParse parse_http_head(std::string_view bytes) {
  // Empty lines before a request are allowed between kept-alive requests.
  std::size_t start = 0;
  while (bytes.substr(start, 2) == "\r\n") start += 2;
  const std::size_t end = bytes.find("\r\n\r\n", start);
  if (end == std::string_view::npos || end + 4 > http_head_byte_limit + start) {
    if (bytes.size() - start >= http_head_byte_limit)
      return HttpRefusal{431, "request headers too large"};
    // A byte that no request line holds refuses at once what is not HTTP (a TLS hello).
    for (const char c : bytes.substr(start)) {
      if (c != '\r' && c != '\n' && c != '\t' &&
          (static_cast<unsigned char>(c) < 0x20 || c == 0x7f))
        return bad("not an HTTP request");
    }
    return std::monostate{};
  }
  std::string_view head = bytes.substr(start, end - start);
  HttpHead parsed;
  parsed.head_bytes = end + 4;
  WebRequest& request = parsed.request;

  const std::size_t line_end = head.find("\r\n");
  const std::string_view line = head.substr(0, line_end);
  const std::size_t space1 = line.find(' ');
  const std::size_t space2 = line.rfind(' ');
  if (space1 == std::string_view::npos || space1 == space2) return bad("not an HTTP request line");
  request.method = std::string(line.substr(0, space1));
  const std::string_view target = line.substr(space1 + 1, space2 - space1 - 1);
  const std::string_view version = line.substr(space2 + 1);
  if (!token(request.method) || target.empty() || target.front() != '/' ||
      target.find_first_of(" \t") != std::string_view::npos)
    return bad("not an HTTP request line");
  if (version != "HTTP/1.1" && version != "HTTP/1.0")
    return HttpRefusal{505, "only HTTP/1.1 is spoken here"};
  request.path = std::string(target.substr(0, target.find_first_of("?#")));

  std::vector<std::string> names;
  std::string_view rest = line_end == std::string_view::npos ? "" : head.substr(line_end + 2);
  while (!rest.empty()) {
    const std::size_t next = rest.find("\r\n");
    const std::string_view field = rest.substr(0, next);
    rest = next == std::string_view::npos ? "" : rest.substr(next + 2);
    // A folded line or a bare LF could join headers that another parser keeps apart.
    const std::size_t colon = field.find(':');
    if (colon == std::string_view::npos || !token(field.substr(0, colon)))
      return bad("a header line that is not one");
    const auto value = header_value(field.substr(colon + 1));
    if (!value) return bad("a control character in a header");
    request.headers.emplace_back(std::string(field.substr(0, colon)), std::string(*value));
    names.emplace_back(field.substr(0, colon));
  }
  if (const auto why = ambiguous_request(names)) return bad(*why);
  const auto named = [&](std::string_view wanted) {
    return std::any_of(names.begin(), names.end(),
                       [&](const std::string& name) { return same_text(name, wanted); });
  };
  if (named("transfer-encoding"))
    return HttpRefusal{411, "a body is taken with a Content-Length only"};
  const bool http11 = version == "HTTP/1.1";
  if (http11 && !named("host")) return bad("no Host header");

  const std::string_view length = request_header(request, "content-length");
  if (named("content-length")) {
    std::size_t value = 0;
    const auto [ptr, error] = std::from_chars(length.data(), length.data() + length.size(), value);
    if (length.empty() || error == std::errc::invalid_argument ||
        ptr != length.data() + length.size())
      return bad("a Content-Length that is not a number");
    if (error == std::errc::result_out_of_range || value > http_body_byte_limit)
      return HttpRefusal{413, "request body too large"};
    request.content_length = value;
  }
  const std::string_view connection = request_header(request, "connection");
  request.keep_alive =
      http11 ? !has_token(connection, "close") : has_token(connection, "keep-alive");
  request.upgrade = has_token(connection, "upgrade") &&
                    same_text(request_header(request, "upgrade"), "websocket");
  return parsed;
}

std::string_view http_status_text(int status) {
  switch (status) {
    case 101:
      return "Switching Protocols";
    case 200:
      return "OK";
    case 400:
      return "Bad Request";
    case 401:
      return "Unauthorized";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 408:
      return "Request Timeout";
    case 411:
      return "Length Required";
    case 413:
      return "Content Too Large";
    case 421:
      return "Misdirected Request";
    case 429:
      return "Too Many Requests";
    case 431:
      return "Request Header Fields Too Large";
    case 500:
      return "Internal Server Error";
    case 503:
      return "Service Unavailable";
    case 505:
      return "HTTP Version Not Supported";
    default:
      return "Unknown";
  }
}

std::string http_response(int status,
                          const std::vector<std::pair<std::string, std::string>>& headers,
                          std::string_view body, bool keep_alive) {
  std::string text =
      "HTTP/1.1 " + std::to_string(status) + ' ' + std::string(http_status_text(status)) + "\r\n";
  for (const auto& [name, value] : headers) text += name + ": " + value + "\r\n";
  text += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  text += keep_alive ? "Connection: keep-alive\r\n\r\n" : "Connection: close\r\n\r\n";
  text += body;
  return text;
}
