#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// The one grammar of the settings files (rules.conf, lines.conf, events.conf,
// relayctl.conf, the bridge's configuration, the web users file, the timetable's memory):
//  - a line is "key = value" (or "key:rest", where the separator is ':'); blanks around
//    the key and the value say nothing;
//  - blank lines and lines that start with # say nothing; where the file allows it, a #
//    after a blank ends the value too ("on_stop = off  # the motor"), while a # inside a
//    word ("a#b") stays part of it;
//  - a UTF-8 byte-order mark at the start and CRLF line ends are taken as an editor
//    writes them;
//  - a key given twice is a fault, except the keys meant to repeat; in a file of
//    sections ("[address 1]"), within its section.
// A fault reads "<file>:<line>: why".

struct SettingsLine {
  int number = 0;
  // A section head "[ inside ]": `key` holds what is inside the brackets, trimmed.
  bool section = false;
  std::string_view key;
  std::string_view value;
};

struct SettingsGrammar {
  char separator = '=';
  // Whether a # after a blank starts a comment after a value.
  bool trailing_comments = true;
  // Whether "[...]" lines start sections.
  bool sections = false;
  // A line without the separator is passed over instead of refused: a file that a later
  // version of the program may have written.
  bool skip_other_lines = false;
  // Why a line without the separator is refused.
  std::string_view no_separator = "not a \"key = value\" line";
  // The keys that may be given more than once.
  std::initializer_list<std::string_view> repeatable = {};
};

// The lines of `text` that say something, in order, or its first fault. The lines view
// `text`, which must outlive them.
std::variant<std::vector<SettingsLine>, std::string> settings_lines(std::string_view text,
                                                                    std::string_view file_name,
                                                                    const SettingsGrammar& grammar);

// "<file_name>:<number>: " for a fault that a file's own reader finds in a line.
std::string settings_where(std::string_view file_name, int number);
