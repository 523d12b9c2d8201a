#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "common/message_boxes.h"
#include "names/module2.h"

// What an OK in the rename dialog came to.
struct RenameOutcome {
  // Only a stored name closes the dialog; otherwise it keeps the text for another try.
  bool stored = false;
  // Why the text was not even written, for the operator. A write that failed has
  // already told the operator itself (Module2 shows the file's error).
  std::optional<Message> refusal;
};

// The decisions of the rename dialog, without its widgets. The main window sets
// `add` and `xianlu` before the dialog is shown.
class RenameLogic {
 public:
  RenameLogic(std::filesystem::path name_file, Module2& module2)
      : name_file_(std::move(name_file)), module2_(module2) {}

  // Named as in the window's design: "add" is the address box, "xianlu" the line,
  // that is the relay.
  std::string add;     // the address box's text at the latest click
  std::string xianlu;  // the clicked relay number, "1".."16"

  // On each load: the stored name to show, or nothing when the address or relay
  // number is out of range (the text box keeps what it shows).
  std::optional<std::string> Form_Load();
  // Stores the text under the latest address and relay; line breaks at its end (a
  // pasted spreadsheet cell ends in one) are dropped. Refused, with nothing written:
  // no name file (an empty path: the panel runs without one),
  // an address or relay that is no number (a section "[address ]" would be junk that
  // nothing reads), a line break inside the text, a character the file cannot hold, a
  // name longer than a read gives back (Module2::read_limit).
  RenameOutcome Command_ok_Click(std::string_view text);

 private:
  std::filesystem::path name_file_;
  Module2& module2_;
};
