#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

// The JSON that the programs write and read. Keys stay in the order they were added,
// the order that the documented output shows.
using Json = nlohmann::ordered_json;

// `value` as one line of JSON. A byte that is not UTF-8 (a name file of another encoding)
// becomes U+FFFD, and DEL and the C1 controls, which JSON may carry raw but a terminal
// acts on, are written as \u escapes, as the C0 ones are: a document printed or logged
// as it is cannot drive the terminal.
std::string json_text(const Json& value);

// `text` as one JSON string, in quotes.
std::string json_string(std::string_view text);

// The object that `text` holds; nothing when it is no JSON or holds anything else.
std::optional<Json> json_object(std::string_view text);

// The field `key` of `object` when it is text, or an integer that an int holds.
std::optional<std::string> json_text_field(const Json& object, std::string_view key);
std::optional<int> json_int_field(const Json& object, std::string_view key);
