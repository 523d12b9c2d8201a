#include "ctl_output.h"

#include <cstdio>

std::string json_string(std::string_view text) {
  std::string quoted = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (byte < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      quoted += escaped;
    } else {
      quoted += c;  // UTF-8 passes as it is
    }
  }
  return quoted + '"';
}

std::string_view state_word(IndicatorState state) {
  // The indicator's own caption, without the spaces that centre it in its box.
  std::string_view caption = indicator_caption(state);
  caption.remove_prefix(caption.find_first_not_of(' '));
  return caption;
}

namespace {

IndicatorState state_of(RelayMask opened, int relay) {
  return (opened & relay_bit(relay)) != 0 ? IndicatorState::Opened : IndicatorState::Closed;
}

const std::string& name_of(const RelayNames& names, int relay) {
  return names[static_cast<std::size_t>(relay - 1)];
}

std::string padded(std::string text, std::size_t width) {
  if (text.size() < width) text.insert(0, width - text.size(), ' ');
  return text;
}

}  // namespace

std::string status_text(RelayMask opened, const RelayNames* names) {
  std::string text = names ? "relay  state   name\n" : "relay  state\n";
  for (int relay = 1; relay <= relay_count; ++relay) {
    std::string line =
        padded(std::to_string(relay), 5) + "  " + std::string(state_word(state_of(opened, relay)));
    if (names && !name_of(*names, relay).empty()) line += "  " + name_of(*names, relay);
    text += line + '\n';
  }
  return text;
}

std::string status_json(int address, RelayMask opened, const RelayNames* names) {
  std::string json = "{\"address\":" + std::to_string(address) + ",\"relays\":[";
  for (int relay = 1; relay <= relay_count; ++relay) {
    if (relay > 1) json += ',';
    json += "{\"relay\":" + std::to_string(relay) + ",\"state\":\"" +
            std::string(state_word(state_of(opened, relay))) + "\"";
    if (names) json += ",\"name\":" + json_string(name_of(*names, relay));
    json += '}';
  }
  return json + "]}\n";
}

std::string names_text(const RelayNames& names) {
  std::string text;
  for (int relay = 1; relay <= relay_count; ++relay) {
    std::string line = padded(std::to_string(relay), 5);
    if (!name_of(names, relay).empty()) line += "  " + name_of(names, relay);
    text += line + '\n';
  }
  return text;
}

std::string names_json(int address, const RelayNames& names) {
  std::string json = "{\"address\":" + std::to_string(address) + ",\"names\":[";
  for (int relay = 1; relay <= relay_count; ++relay) {
    if (relay > 1) json += ',';
    json += "{\"relay\":" + std::to_string(relay) +
            ",\"name\":" + json_string(name_of(names, relay)) + '}';
  }
  return json + "]}\n";
}

std::string ChangeLines::take(const std::array<IndicatorState, relay_count>& shown, bool json) {
  std::string lines;
  for (int relay = 1; relay <= relay_count; ++relay) {
    const auto index = static_cast<std::size_t>(relay - 1);
    // Idle is what a closed port shows; to a script it is as unknown as Unknown.
    const auto state =
        shown[index] == IndicatorState::Idle ? IndicatorState::Unknown : shown[index];
    if (state == last_[index]) continue;
    last_[index] = state;
    const std::string word(state_word(state));
    lines += json ? "{\"relay\":" + std::to_string(relay) + ",\"state\":\"" + word + "\"}\n"
                  : "relay " + std::to_string(relay) + " " + word + '\n';
  }
  return lines;
}
