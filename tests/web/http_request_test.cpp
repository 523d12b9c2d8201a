// The page's HTTP parser on the bytes a client sends: what it takes, waits for or refuses
// with which status. Framing two parsers could read two ways, the answers and WebSocket
// upgrades are in web_attack_test.py, on the wire.
#include "web/http_request.h"

#include <gtest/gtest.h>

#include <string>

TEST(HttpRequest, HeadsTakenWaitedForOrRefused) {
  const std::string host = "Host: localhost:8080\r\n", huge(http_head_byte_limit, 'a');
  const std::pair<std::string, int> rows[] = {
      // 0: taken, -1: waited for
      {"\r\nPOST /login?x HTTP/1.1\r\n" + host + "Content-Length: 4096\r\n\r\n", 0},
      {"GET / HTTP/1.0\r\n\r\n", 0},
      {"GET / HTTP/1.1\r\n" + host, -1},
      {"POST / HTTP/1.1\r\n" + host + "Content-Length: 4097\r\n\r\n", 413},
      {"POST / HTTP/1.1\r\n" + host + "Content-Length: 99999999999999999999999\r\n\r\n", 413},
      {"POST / HTTP/1.1\r\n" + host + "Content-Length: -1\r\n\r\n", 400},
      {"GET / HTTP/1.1\r\n\r\n", 400},
      {"GET / HTTP/1.1\r\n" + host + " folded\r\n\r\n", 400},
      {"GET / HTTP/1.1\r\n" + host + "X: a\x01z\r\n\r\n", 400},
      {"GET http://evil/ HTTP/1.1\r\n" + host + "\r\n", 400},
      {"\x16\x03\x01\x02", 400},
      {"GET / HTTP/2.0\r\n" + host + "\r\n", 505},
      {"GET / HTTP/1.1\r\n" + host + "X: " + huge, 431},
      {"GET / HTTP/1.1\r\n" + host + "X: " + huge + "\r\n\r\n", 431}};
  for (const auto& [bytes, status] : rows) {
    SCOPED_TRACE(bytes.substr(0, 60));
    const HttpParse parsed = parse_http_head(bytes);
    const auto* refusal = std::get_if<HttpRefusal>(&parsed);
    EXPECT_EQ(refusal ? refusal->status : static_cast<int>(parsed.index()) - 1, status);
    if (const auto* head = std::get_if<HttpHead>(&parsed)) {
      EXPECT_EQ(head->head_bytes, bytes.size());
    }
  }
}
