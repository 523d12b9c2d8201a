#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// A field of a flat JSON object as the bridge's messages hold them: text, a list of
// texts, or anything else (a number, true, an object), kept as its raw JSON.
struct JsonRaw {
  std::string text;
};
using JsonField = std::variant<std::string, std::vector<std::string>, JsonRaw>;

// The fields of one JSON object, texts decoded to UTF-8; nothing when the payload is not
// one object.
std::optional<std::map<std::string, JsonField>> json_fields(std::string_view payload);

// The text field `key`, when there is one.
std::optional<std::string> json_text(const std::map<std::string, JsonField>& fields,
                                     const std::string& key);
