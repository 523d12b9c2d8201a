// The page's HTTP parser on the bytes a client sends: what it takes, what it refuses and
// with which status, and that a head still coming is waited for.
#include "web/http_request.h"

#include <gtest/gtest.h>

#include <string>

TEST(HttpRequest, HeadsTakenWaitedForOrRefused) {
  struct Row {
    std::string bytes;
    int status;  // 0: taken, -1: waited for
  };
  const std::string host = "Host: localhost:8080\r\n";
  const Row rows[] = {
      {"GET /app.js?v=2 HTTP/1.1\r\n" + host + "\r\n", 0},
      {"\r\nPOST /login HTTP/1.1\r\n" + host + "Content-Length: 4096\r\n\r\n", 0},
      {"GET / HTTP/1.0\r\n\r\n", 0},
      {"GET / HTTP/1.1\r\n" + host, -1},
      {"GET / HT", -1},
      {"POST /login HTTP/1.1\r\n" + host + "Content-Length: 4097\r\n\r\n", 413},
      {"POST /login HTTP/1.1\r\n" + host + "Content-Length: 99999999999999999999999\r\n\r\n", 413},
      {"POST /login HTTP/1.1\r\n" + host + "Content-Length: 5\r\nContent-length: 5\r\n\r\n", 400},
      {"POST /login HTTP/1.1\r\n" + host +
           "Content-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n",
       400},
      {"POST /login HTTP/1.1\r\n" + host + "Transfer-Encoding: chunked\r\n\r\n", 411},
      {"POST /login HTTP/1.1\r\n" + host + "Content-Length: -1\r\n\r\n", 400},
      {"POST /login HTTP/1.1\r\n" + host + "Content-Length: 1 2\r\n\r\n", 400},
      {"GET / HTTP/1.1\r\n" + host + "Host: evil.example\r\n\r\n", 400},
      {"GET / HTTP/1.1\r\n\r\n", 400},
      {"GET / HTTP/1.1\r\n" + host + " folded\r\n\r\n", 400},
      {"GET / HTTP/1.1\r\n" + host + "X: a\x01z\r\n\r\n", 400},
      {"GET / HTTP/2.0\r\n" + host + "\r\n", 505},
      {"GET http://evil/ HTTP/1.1\r\n" + host + "\r\n", 400},
      {"\x16\x03\x01\x02\x00\x01", 400},
      {"GET / HTTP/1.1\r\n" + host + "X: " + std::string(http_head_byte_limit, 'a'), 431},
      {"GET / HTTP/1.1\r\n" + host + "X: " + std::string(http_head_byte_limit, 'a') + "\r\n\r\n",
       431},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.bytes.substr(0, 80));
    const HttpParse parsed = parse_http_head(row.bytes);
    if (row.status == -1) {
      EXPECT_TRUE(std::holds_alternative<std::monostate>(parsed));
    } else if (row.status == 0) {
      ASSERT_TRUE(std::holds_alternative<HttpHead>(parsed));
      EXPECT_EQ(std::get<HttpHead>(parsed).head_bytes, row.bytes.size());
    } else {
      ASSERT_TRUE(std::holds_alternative<HttpRefusal>(parsed));
      EXPECT_EQ(std::get<HttpRefusal>(parsed).status, row.status);
    }
  }
}

TEST(HttpRequest, ReadsWhatThePageAsksFor) {
  const auto parsed = parse_http_head(
      "GET /live?x HTTP/1.1\r\nhost: [::1]:80\r\nConnection: keep-alive, Upgrade\r\n"
      "Upgrade: WebSocket\r\nOrigin:  http://[::1]:80 \r\n\r\nnext");
  const WebRequest& request = std::get<HttpHead>(parsed).request;
  EXPECT_EQ(request.path, "/live");
  EXPECT_EQ(request_header(request, "HOST"), "[::1]:80");
  EXPECT_EQ(request_header(request, "origin"), "http://[::1]:80");
  EXPECT_TRUE(request.upgrade && request.keep_alive);
  EXPECT_FALSE(std::get<HttpHead>(parse_http_head("GET / HTTP/1.0\r\n\r\n")).request.keep_alive);
  EXPECT_FALSE(
      std::get<HttpHead>(parse_http_head("GET / HTTP/1.1\r\nHost: h\r\nConnection: close\r\n\r\n"))
          .request.keep_alive);
  EXPECT_EQ(http_response(404, {{"Content-Type", "text/plain"}}, "gone\n", false),
            "HTTP/1.1 404 Not Found\r\nContent-Type: text/plain\r\nContent-Length: 5\r\n"
            "Connection: close\r\n\r\ngone\n");
}
