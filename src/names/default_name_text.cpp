#include "names/default_name_text.h"

#include "common/text_number.h"
#include "names/name_file_layout.h"

namespace {

void add_line(std::string& text, std::string_view key, std::string_view value) {
  text += key;
  text += '=';
  text += value;
  text += "\r\n";
}

}  // namespace

std::string default_name_text() {
  std::string text;
  text.reserve(90'000);
  text += "[" + std::string(title_section) + "]\r\n";
  add_line(text, title_key, default_title);
  for (unsigned address = 0; address <= highest_address; ++address) {
    text += "[" + address_section(number_to_text(address)) + "]\r\n";
    for (unsigned relay = 1; relay <= relays_per_board; ++relay) {
      const std::string number = number_to_text(relay);
      add_line(text, relay_key(number), "relay" + number);
    }
  }
  return text;
}
