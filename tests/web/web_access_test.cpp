// The web page's gatekeeping as plain logic: where it may listen, the users file and its
// hashes, sessions and their cookie, and which requests and commands get through.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "web/web_endpoint.h"
#include "web/web_requests.h"
#include "web/web_sessions.h"
#include "web/web_users.h"

TEST(WebEndpoint, NetworkOnlyWithTlsAndLogin) {
  struct Row {
    const char* text;
    bool certificate, users, allowed;
  };
  const Row rows[] = {
      {"localhost:8080", false, false, true}, {"127.0.0.1:8080", false, false, true},
      {"[::1]:8080", false, false, true},     {"0.0.0.0:8080", false, false, false},
      {"0.0.0.0:8443", true, false, false},   {"0.0.0.0:8443", false, true, false},
      {"192.168.1.5:8443", true, true, true}, {"127.evil.com:80", false, false, false}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    const auto endpoint = parse_web_endpoint(row.text);
    ASSERT_TRUE(std::holds_alternative<WebEndpoint>(endpoint));
    EXPECT_EQ(!web_endpoint_refusal(std::get<WebEndpoint>(endpoint), {row.certificate, row.users}),
              row.allowed);
  }
  for (const char* bad : {"8080", "::1:8080", ":8080", "localhost:65536", "localhost:x"}) {
    EXPECT_TRUE(std::holds_alternative<std::string>(parse_web_endpoint(bad))) << bad;
  }
}

TEST(WebUsers, StoredHashLogsInOnlyWithItsPassword) {
  const std::string line = web_user_line("ann", WebRole::viewer, "s3cret").value();
  EXPECT_EQ(line.find("s3cret"), std::string::npos);
  // A fresh salt each time: two users with one password have different lines.
  EXPECT_NE(line, web_user_line("ann", WebRole::viewer, "s3cret").value());
  const std::string text =
      with_web_user("# users\n", "bob", web_user_line("bob", WebRole::operator_, "pw").value());
  const std::string both = with_web_user(text, "ann", line);
  const auto users = parse_web_users(both, "u");
  ASSERT_TRUE(std::holds_alternative<WebUsers>(users)) << std::get<std::string>(users);
  const WebUsers& list = std::get<WebUsers>(users);
  EXPECT_EQ(check_web_login(list, "ann", "s3cret"), WebRole::viewer);
  EXPECT_EQ(check_web_login(list, "bob", "pw"), WebRole::operator_);
  EXPECT_EQ(check_web_login(list, "ann", "s3creT"), std::nullopt);
  EXPECT_EQ(check_web_login(list, "bob", "s3cret"), std::nullopt);
  EXPECT_EQ(check_web_login(list, "nobody", ""), std::nullopt);
  // A new password replaces the user's line in place; the others stay byte for byte.
  const std::string again = with_web_user(both, "bob", "bob:viewer:x");
  EXPECT_EQ(again, "# users\nbob:viewer:x\n" + line + "\n");
}

TEST(WebUsers, BrokenLinesAreNamed) {
  const std::string good = web_user_line("ann", WebRole::viewer, "pw").value();
  const std::pair<std::string, std::string> rows[] = {
      {"ann:viewer\n", "u:1: not NAME:ROLE"},
      {"\n" + good + "\r\n" + good + "\n", "u:3: ann: already set on line 2"},
      {"ann:admin" + good.substr(10) + "\n", "u:1: the role"},
      {"ann:viewer:pbkdf2-sha256:0:00:00\n", "u:1: the iterations"},
      {"a b:viewer:pbkdf2-sha256:1:00:00\n", "u:1: \"a b\" is not a user name"},
  };
  for (const auto& [text, why] : rows) {
    const auto users = parse_web_users(text, "u");
    ASSERT_TRUE(std::holds_alternative<std::string>(users)) << text;
    EXPECT_TRUE(std::get<std::string>(users).starts_with(why)) << std::get<std::string>(users);
  }
}

TEST(WebSessions, ExpireAndEndAtLogout) {
  WebSessions sessions(std::chrono::seconds(60));
  const auto t0 = WebSessions::Clock::time_point{} + std::chrono::hours(1);
  const std::string token = sessions.open("ann", WebRole::viewer, t0);
  ASSERT_EQ(token.size(), 64u);
  EXPECT_EQ(sessions.find(token, t0 + std::chrono::seconds(59))->user, "ann");
  EXPECT_FALSE(sessions.find(token, t0 + std::chrono::seconds(60)));
  const std::string other = sessions.open("bob", WebRole::operator_, t0);
  EXPECT_FALSE(sessions.find(other.substr(1), t0));
  sessions.close(other);
  EXPECT_FALSE(sessions.find(other, t0));

  EXPECT_EQ(session_cookie_header("ab", std::chrono::seconds(60), true),
            "relayboard_session=ab; Path=/; Max-Age=60; HttpOnly; SameSite=Strict; Secure");
  EXPECT_EQ(session_token("x=1; relayboard_session=ab; y=2"), "ab");
  EXPECT_EQ(session_token("relayboard_sessionx=ab"), "");
}

TEST(WebRequests, OriginHostAndRole) {
  EXPECT_TRUE(same_origin("http://localhost:8080", "localhost:8080", false));
  EXPECT_FALSE(same_origin("https://localhost:8080", "localhost:8080", false));
  EXPECT_FALSE(same_origin("http://evil.example", "localhost:8080", false));
  EXPECT_FALSE(same_origin("", "localhost:8080", false));
  EXPECT_FALSE(same_origin("http://", "", false));
  // Without TLS only loopback names, whether a login is asked or not.
  EXPECT_TRUE(trusted_host("127.0.0.1:8080", false));
  EXPECT_TRUE(trusted_host("[::1]:8080", false));
  EXPECT_FALSE(trusted_host("rebound.example:8080", false));
  EXPECT_FALSE(trusted_host("localhost.rebound.example:8080", false));
  EXPECT_TRUE(trusted_host("panel.example:8443", true));

  using Names = std::vector<std::string>;
  const std::pair<Names, std::optional<std::string>> framings[] = {
      {{"Host", "Content-Length", "Origin"}, std::nullopt},
      {{"Host", "Transfer-Encoding"}, std::nullopt},
      {{"Host", "Content-Length", "content-length"}, "two Content-Length headers"},
      {{"Host", "Content-Length", "Transfer-Encoding"}, "Content-Length beside Transfer-Encoding"},
      {{"Host", "HOST"}, "two Host headers"},
  };
  for (const auto& [names, why] : framings) EXPECT_EQ(ambiguous_request(names), why);

  const BridgeTopics topics("relayboard", "com1", "homeassistant");
  const std::pair<WebCommand, std::string> rows[] = {
      {{"set", 1, 3, "ON"}, "relayboard/com1/1/3/set"},
      {{"all", 2, 0, "OFF"}, "relayboard/com1/2/all/set"},
      {{"pulse", 1, 16, "2s"}, "relayboard/com1/1/16/pulse"},
      {{"rename", 1, 2, "泵"}, "relayboard/com1/1/2/name/set"},
      {{"set", 1, 17, "ON"}, "no such relay"},
      {{"set", 256, 1, "ON"}, "no such board"},
      {{"erase", 1, 1, ""}, "unknown command"}};
  for (const auto& [command, expected] : rows) {
    const auto message = web_command_message(topics, command, WebRole::operator_);
    const auto* taken = std::get_if<MqttMessage>(&message);
    EXPECT_EQ(taken ? taken->topic : std::get<std::string>(message), expected);
    if (taken) {
      EXPECT_EQ(taken->payload, command.value);
    }
    // A viewer's command is refused whatever it is.
    EXPECT_EQ(std::get<std::string>(web_command_message(topics, command, WebRole::viewer)),
              "a viewer may not switch or rename");
  }
}
