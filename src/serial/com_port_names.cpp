#include "serial/com_port_names.h"

#include <algorithm>
#include <cctype>
#include <tuple>

namespace {

bool same_letters(std::string_view text, std::string_view upper) {
  return text.size() == upper.size() &&
         std::equal(text.begin(), text.end(), upper.begin(), [](char a, char b) {
           return std::toupper(static_cast<unsigned char>(a)) == b;
         });
}

}  // namespace

std::optional<int> com_port_number(std::string_view name) {
  if (name.starts_with("\\\\.\\")) name.remove_prefix(4);
  if (name.size() < 4 || !same_letters(name.substr(0, 3), "COM")) return std::nullopt;
  const std::string_view digits = name.substr(3);
  // More digits than any port number has would overflow; no system counts that far.
  if (digits.size() > 6 || digits.front() == '0') return std::nullopt;
  int number = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    number = number * 10 + (c - '0');
  }
  return number;
}

void sort_port_names(std::vector<std::string>& names) {
  const auto key = [](const std::string& name) {
    const auto number = com_port_number(name);
    return std::make_tuple(!number.has_value(), number.value_or(0), std::string_view(name));
  };
  std::sort(names.begin(), names.end(),
            [&](const std::string& a, const std::string& b) { return key(a) < key(b); });
}

std::string present_ports_text(const std::vector<std::string>& present) {
  if (present.empty()) return ". No serial port is present.";
  std::string text = ". Serial ports present:";
  for (const auto& name : present) text.append(" ").append(name);
  return text;
}
