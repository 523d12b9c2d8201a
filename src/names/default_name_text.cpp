#include "names/default_name_text.h"

#include "common/text_number.h"
#include "names/name_file_layout.h"

namespace {

void add_header(std::string& text, std::string_view section) {
  text += '[';
  text += section;
  text += "]\r\n";
}

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
  add_header(text, title_section);
  add_line(text, title_key, default_title);
  for (unsigned address = 0; address <= highest_address; ++address) {
    add_header(text, address_section(number_to_text(address)));
    for (unsigned relay = 1; relay <= relays_per_board; ++relay) {
      const std::string number = number_to_text(relay);
      add_line(text, relay_key(number), std::string("relay").append(number));
    }
  }
  return text;
}
