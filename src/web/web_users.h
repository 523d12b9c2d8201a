#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// Who may use the web page: an operator sees and switches, a viewer only sees.
enum class WebRole { viewer, operator_ };

std::string_view web_role_name(WebRole role);  // "viewer", "operator"
std::optional<WebRole> parse_web_role(std::string_view name);

// One line of the users file: NAME:ROLE:pbkdf2-sha256:ITERATIONS:SALT:HASH, salt and hash
// in hex. Only the hash of a password is kept: a stolen file gives no password away.
struct WebUser {
  std::string name;
  WebRole role = WebRole::viewer;
  unsigned iterations = 0;
  std::string salt;  // bytes
  std::string hash;  // bytes
};
using WebUsers = std::vector<WebUser>;

// The file's users (common/settings_text.h with ':' for '=', no comment after a line: a
// user appears once); or "<file_name>:N: why".
std::variant<WebUsers, std::string> parse_web_users(std::string_view text,
                                                    std::string_view file_name);

// A name for the file and the login form: letters, digits, '.', '_', '-', 1..64.
bool valid_web_user_name(std::string_view name);

// A fresh line for the file (a new random salt), without its line break; nothing when
// the system gives no random bytes.
std::optional<std::string> web_user_line(std::string_view name, WebRole role,
                                         std::string_view password);

// The file's text with `line` in place of the user's line, or added at the end; every
// other line stays as it was.
std::string with_web_user(std::string_view text, std::string_view name, std::string_view line);

// The user's role when the password is theirs. As slow for an unknown name as for a
// known one, and compared in constant time: the answer's timing tells nothing.
std::optional<WebRole> check_web_login(const WebUsers& users, std::string_view name,
                                       std::string_view password);

// Whether `name` is a user in both lists with the same role and password hash.
bool web_user_unchanged(const WebUsers& before, const WebUsers& after, std::string_view name);

// Cryptographically random bytes as hex (a session's token); empty if the system has none.
std::string random_hex(std::size_t bytes);
