#include "web/web_users.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <charconv>

#include "settings/settings_text.h"

namespace {

constexpr std::string_view scheme = "pbkdf2-sha256";
// OWASP's figure for PBKDF2-HMAC-SHA256: a fraction of a second per login.
constexpr unsigned default_iterations = 600000;
constexpr std::size_t salt_bytes = 16;
constexpr std::size_t hash_bytes = 32;

std::string hex(std::string_view bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    out.push_back(digits[b >> 4]);
    out.push_back(digits[b & 0xF]);
  }
  return out;
}

std::optional<std::string> unhex(std::string_view text) {
  if (text.size() % 2 != 0) return std::nullopt;
  std::string out;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data() + i, text.data() + i + 2, value, 16);
    if (error != std::errc() || end != text.data() + i + 2) return std::nullopt;
    out.push_back(static_cast<char>(value));
  }
  return out;
}

std::string derive(std::string_view password, std::string_view salt, unsigned iterations) {
  std::string out(hash_bytes, '\0');
  PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()),
                    reinterpret_cast<const unsigned char*>(salt.data()),
                    static_cast<int>(salt.size()), static_cast<int>(iterations), EVP_sha256(),
                    static_cast<int>(out.size()), reinterpret_cast<unsigned char*>(out.data()));
  return out;
}

std::vector<std::string_view> fields(std::string_view line) {
  std::vector<std::string_view> out;
  for (std::size_t colon; (colon = line.find(':')) != std::string_view::npos;) {
    out.push_back(line.substr(0, colon));
    line.remove_prefix(colon + 1);
  }
  out.push_back(line);
  return out;
}

std::string_view line_name(std::string_view line) {
  return line.substr(0, line.find(':'));
}

}  // namespace

std::string_view web_role_name(WebRole role) {
  return role == WebRole::operator_ ? "operator" : "viewer";
}

std::optional<WebRole> parse_web_role(std::string_view name) {
  if (name == "operator") return WebRole::operator_;
  if (name == "viewer") return WebRole::viewer;
  return std::nullopt;
}

bool valid_web_user_name(std::string_view name) {
  return !name.empty() && name.size() <= 64 &&
         name.find_first_not_of(
             "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789._-") ==
             std::string_view::npos;
}

std::variant<WebUsers, std::string> parse_web_users(std::string_view text,
                                                    std::string_view file_name) {
  auto read = settings_lines(text, file_name,
                             {.separator = ':',
                              .trailing_comments = false,
                              .no_separator = "not NAME:ROLE:pbkdf2-sha256:ITERATIONS:SALT:HASH"});
  if (auto* why = std::get_if<std::string>(&read)) return std::move(*why);
  WebUsers users;
  for (const SettingsLine& line : std::get<std::vector<SettingsLine>>(read)) {
    const auto refused = [&](const std::string& why) {
      return settings_where(file_name, line.number) + why;
    };
    const auto f = fields(line.value);
    if (f.size() != 5 || f[1] != scheme) {
      return refused("not NAME:ROLE:pbkdf2-sha256:ITERATIONS:SALT:HASH");
    }
    WebUser user;
    user.name = line.key;
    if (!valid_web_user_name(user.name)) return refused("\"" + user.name + "\" is not a user name");
    const auto role = parse_web_role(f[0]);
    if (!role) return refused("the role is neither operator nor viewer");
    user.role = *role;
    const auto [iter_end, error] =
        std::from_chars(f[2].data(), f[2].data() + f[2].size(), user.iterations);
    if (error != std::errc() || iter_end != f[2].data() + f[2].size() || user.iterations == 0) {
      return refused("the iterations are not a number");
    }
    const auto salt = unhex(f[3]);
    const auto hash = unhex(f[4]);
    if (!salt || !hash || salt->empty() || hash->size() != hash_bytes) {
      return refused("the salt or the hash is not hex of the right length");
    }
    user.salt = *salt;
    user.hash = *hash;
    users.push_back(std::move(user));
  }
  return users;
}

std::optional<std::string> web_user_line(std::string_view name, WebRole role,
                                         std::string_view password) {
  std::string salt(salt_bytes, '\0');
  // A salt that is not random would give two users of one password one hash.
  if (RAND_bytes(reinterpret_cast<unsigned char*>(salt.data()), static_cast<int>(salt.size())) !=
      1) {
    return std::nullopt;
  }
  return std::string(name) + ':' + std::string(web_role_name(role)) + ':' + std::string(scheme) +
         ':' + std::to_string(default_iterations) + ':' + hex(salt) + ':' +
         hex(derive(password, salt, default_iterations));
}

std::string with_web_user(std::string_view text, std::string_view name, std::string_view line) {
  std::string out;
  bool replaced = false;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view old = text.substr(0, end == std::string_view::npos ? end : end + 1);
    text.remove_prefix(old.size());
    if (!replaced && line_name(old) == name && !old.starts_with('#')) {
      out += line;
      out += old.ends_with("\r\n") ? "\r\n" : "\n";
      replaced = true;
    } else {
      out += old;
    }
  }
  if (!replaced) {
    if (!out.empty() && !out.ends_with('\n')) out += '\n';
    out += line;
    out += '\n';
  }
  return out;
}

std::optional<WebRole> check_web_login(const WebUsers& users, std::string_view name,
                                       std::string_view password) {
  const WebUser* found = nullptr;
  for (const WebUser& user : users) {
    if (user.name == name) found = &user;
  }
  // An unknown name costs a derivation too.
  static const WebUser nobody{"", WebRole::viewer, default_iterations,
                              std::string(salt_bytes, '\0'), std::string(hash_bytes, '\0')};
  const WebUser& user = found ? *found : nobody;
  const std::string hash = derive(password, user.salt, user.iterations);
  const bool same = CRYPTO_memcmp(hash.data(), user.hash.data(), hash_bytes) == 0;
  if (!found || !same) return std::nullopt;
  return user.role;
}

bool web_user_unchanged(const WebUsers& before, const WebUsers& after, std::string_view name) {
  const auto named = [name](const WebUser& user) { return user.name == name; };
  const auto old = std::find_if(before.begin(), before.end(), named);
  const auto now = std::find_if(after.begin(), after.end(), named);
  return old != before.end() && now != after.end() && old->role == now->role &&
         old->iterations == now->iterations && old->salt == now->salt && old->hash == now->hash;
}

std::string random_hex(std::size_t bytes) {
  std::string raw(bytes, '\0');
  if (RAND_bytes(reinterpret_cast<unsigned char*>(raw.data()), static_cast<int>(raw.size())) != 1) {
    return {};
  }
  return hex(raw);
}
