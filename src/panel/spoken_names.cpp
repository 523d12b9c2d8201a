#include "panel/spoken_names.h"

namespace {
bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}
}  // namespace

std::string simplified(std::string_view text) {
  std::string out;
  bool blank_before = false;
  for (const char c : text) {
    if (is_blank(c)) {
      blank_before = !out.empty();
      continue;
    }
    if (blank_before) out.push_back(' ');
    blank_before = false;
    out.push_back(c);
  }
  return out;
}

std::string indicator_spoken_name(int relay, std::string_view name, std::string_view caption) {
  std::string spoken = "Relay " + std::to_string(relay);
  const std::string shown = simplified(name);
  if (!shown.empty()) spoken.append(", ").append(shown);
  return spoken.append(": ").append(simplified(caption));
}

std::string name_label_spoken_name(int relay, std::string_view name) {
  return "Relay " + std::to_string(relay) + " name: " + std::string(name);
}

std::string rename_box_spoken_name(std::string_view relay_text, std::string_view address_text) {
  return "Name of relay " + std::string(relay_text) + " at address " + std::string(address_text);
}
