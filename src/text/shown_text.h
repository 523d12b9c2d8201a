#pragma once

#include <string>
#include <string_view>

// Text from outside (a name file, a command line, a configuration file, a message from
// the broker) as a terminal or a log may show it: it must not move the cursor or retitle
// the window. Control characters (C0, DEL, C1) become \u001b and the like, a byte that is
// not UTF-8 \xff; the rest stays as it is. What it returns holds no control and no
// broken character, so that showing it once more changes nothing.
std::string shown_text(std::string_view text);

// What could drive a terminal or a log reader: C0 controls, DEL and the C1 range
// (U+009B alone is a control sequence introducer to many terminals).
constexpr bool is_control(char32_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}
