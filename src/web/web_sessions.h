#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "web/web_users.h"

// The logins of the web page: a random token per login, handed to the browser in a
// cookie, that expires a fixed time after the login and at logout.
class WebSessions {
 public:
  using Clock = std::chrono::steady_clock;
  struct Session {
    std::string user;
    WebRole role = WebRole::viewer;
    Clock::time_point expires;
  };

  explicit WebSessions(std::chrono::seconds lifetime = std::chrono::hours(12))
      : lifetime_(lifetime) {}

  // A new session's token; empty when the system has no random bytes to give.
  std::string open(std::string user, WebRole role, Clock::time_point now);
  // The session of a token, nothing once it has expired or ended.
  std::optional<Session> find(std::string_view token, Clock::time_point now);
  void close(std::string_view token);
  // Ends every session of the user: their password or role changed, or they were removed.
  void close_user(std::string_view user);

  std::chrono::seconds lifetime() const { return lifetime_; }

 private:
  std::chrono::seconds lifetime_;
  std::map<std::string, Session, std::less<>> sessions_;
};

// The name of the session cookie.
inline constexpr std::string_view session_cookie = "relayboard_session";

// Set-Cookie for a session: HttpOnly (no script reads it), SameSite=Strict (no other
// site's page sends it), Secure under TLS; an empty token with max_age 0 ends it.
std::string session_cookie_header(std::string_view token, std::chrono::seconds max_age,
                                  bool secure);

// The session token in a Cookie header, empty when there is none.
std::string session_token(std::string_view cookie_header);
