#include "names/default_name_text.h"

#include "common/text_number.h"
#include "names/name_file_layout.h"
#include "names/profile_text.h"

std::string default_name_text() {
  std::string text;
  text.reserve(90'000);
  text += profile_header_line(title_section);
  text += profile_entry_line(title_key, default_title);
  for (unsigned address = 0; address <= highest_address; ++address) {
    text += profile_header_line(address_section(number_to_text(address)));
    for (unsigned relay = 1; relay <= relay_count; ++relay) {
      const std::string number = number_to_text(relay);
      text += profile_entry_line(relay_key(number), std::string("relay").append(number));
    }
  }
  return text;
}
