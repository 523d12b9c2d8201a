#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

// The page's HTTP/1.1, read by a parser of its own so that every byte a client sends is
// bounded before it is kept: the request line and headers, and a body no larger than a
// login's.

// A request line with its headers: far more than a browser sends to this page.
inline constexpr std::size_t http_head_byte_limit = 8u << 10;
// The page's only bodies are a login and a logout.
inline constexpr std::size_t http_body_byte_limit = 4u << 10;

// A request as the page's logic reads it.
struct WebRequest {
  std::string method;  // "GET", "POST", as sent
  std::string path;    // without the query
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  bool keep_alive = true;
  bool upgrade = false;  // asks for a WebSocket
  std::size_t content_length = 0;
};

// The value of a header, matched without regard to case; empty when it is not there.
std::string_view request_header(const WebRequest& request, std::string_view name);

// Why a request is answered with `status` and then its connection closed.
struct HttpRefusal {
  int status = 400;
  std::string reason;
};

// The head of a request: nothing yet when `bytes` holds no complete head and may still
// become one; the request (its body still to come) and the bytes its head took; or why
// it is refused. Bytes before the head's end that were not sent as a head, a larger head
// or body than the limits, framing that two parsers could read two ways, and a body
// framed otherwise than by Content-Length are refused.
struct HttpHead {
  WebRequest request;
  std::size_t head_bytes = 0;
};
using HttpParse = std::variant<std::monostate, HttpHead, HttpRefusal>;
HttpParse parse_http_head(std::string_view bytes);

// An answer's bytes: the status line, `headers`, the length and the connection's fate.
std::string http_response(int status,
                          const std::vector<std::pair<std::string, std::string>>& headers,
                          std::string_view body, bool keep_alive);

// "Not Found" for 404; the phrase is for people reading the wire.
std::string_view http_status_text(int status);
