#include "web/web_sessions.h"

#include <utility>

std::string WebSessions::open(std::string user, WebRole role, Clock::time_point now) {
  // Expired sessions go at each login, so that the map never grows beyond the logins
  // of one lifetime.
  std::erase_if(sessions_, [now](const auto& entry) { return entry.second.expires <= now; });
  std::string token = random_hex(32);
  if (token.empty()) return token;
  sessions_[token] = {std::move(user), role, now + lifetime_};
  return token;
}

std::optional<WebSessions::Session> WebSessions::find(std::string_view token,
                                                      Clock::time_point now) {
  const auto found = sessions_.find(token);
  if (found == sessions_.end()) return std::nullopt;
  if (found->second.expires <= now) {
    sessions_.erase(found);
    return std::nullopt;
  }
  return found->second;
}

void WebSessions::close(std::string_view token) {
  const auto found = sessions_.find(token);
  if (found != sessions_.end()) sessions_.erase(found);
}

void WebSessions::close_user(std::string_view user) {
  std::erase_if(sessions_, [user](const auto& entry) { return entry.second.user == user; });
}

std::string session_cookie_header(std::string_view token, std::chrono::seconds max_age,
                                  bool secure) {
  return std::string(session_cookie) + '=' + std::string(token) +
         "; Path=/; Max-Age=" + std::to_string(max_age.count()) + "; HttpOnly; SameSite=Strict" +
         (secure ? "; Secure" : "");
}

std::string session_token(std::string_view cookie_header) {
  while (!cookie_header.empty()) {
    const std::size_t end = cookie_header.find(';');
    std::string_view pair = cookie_header.substr(0, end);
    cookie_header.remove_prefix(end == std::string_view::npos ? cookie_header.size() : end + 1);
    while (pair.starts_with(' ')) pair.remove_prefix(1);
    if (pair.starts_with(session_cookie) && pair.substr(session_cookie.size()).starts_with('=')) {
      return std::string(pair.substr(session_cookie.size() + 1));
    }
  }
  return {};
}
