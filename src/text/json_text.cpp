#include "text/json_text.h"

#include <limits>

#include "text/shown_text.h"

std::string json_text(const Json& value) {
  // Outside its strings a document is plain ASCII, and inside them the library has
  // escaped the C0 controls already: what shown_text finds left are DEL and C1, and
  // its \u escapes are JSON's own.
  return shown_text(value.dump(-1, ' ', false, Json::error_handler_t::replace));
}

std::string json_string(std::string_view text) {
  return json_text(Json(std::string(text)));
}

std::optional<Json> json_object(std::string_view text) {
  Json value = Json::parse(text.begin(), text.end(), nullptr, false);
  if (!value.is_object()) return std::nullopt;
  return value;
}

std::optional<std::string> json_text_field(const Json& object, std::string_view key) {
  const auto found = object.find(key);
  if (found == object.end() || !found->is_string()) return std::nullopt;
  return found->get<std::string>();
}

std::optional<int> json_int_field(const Json& object, std::string_view key) {
  const auto found = object.find(key);
  if (found == object.end() || !found->is_number_integer()) return std::nullopt;
  if (found->is_number_unsigned()) {
    const auto number = found->get<unsigned long long>();
    if (number > static_cast<unsigned long long>(std::numeric_limits<int>::max())) {
      return std::nullopt;
    }
    return static_cast<int>(number);
  }
  const auto number = found->get<long long>();
  if (number < std::numeric_limits<int>::min()) return std::nullopt;
  return static_cast<int>(number);
}
