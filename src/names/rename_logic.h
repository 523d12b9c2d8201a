#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <utility>

#include "names/module2.h"

// The decisions of the rename dialog, without its widgets. The main window sets
// `add` and `xianlu` before the dialog is shown.
class RenameLogic {
 public:
  RenameLogic(std::filesystem::path name_file, Module2& module2)
      : name_file_(std::move(name_file)), module2_(module2) {}

  std::string add;     // the address box's text at the latest click
  std::string xianlu;  // the clicked relay number, "1".."16"

  // On each load: the stored name to show, or nothing when the address or relay
  // number is out of range (the text box keeps what it shows).
  std::optional<std::string> Form_Load();
  // Writes the text under the latest address and relay; the caller then reloads the
  // main window's names and closes the dialog.
  void Command_ok_Click(const std::string& text);

 private:
  std::filesystem::path name_file_;
  Module2& module2_;
};
