#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "common/message_boxes.h"
#include "names/name_file.h"
#include "names/rename_logic.h"
#include "panel/line_names.h"

// The names the panel shows and the renames it makes: the name file's, or, while the
// open line's names are its owner's (LineNames), the owner's. The name file is then
// neither read nor written; it takes over again when that line closes.
class PanelNames {
 public:
  PanelNames(NameFile& file, RenameLogic& rename, NameView& view)
      : file_(file), rename_(rename), view_(view) {}
  ~PanelNames() { set_line_names(nullptr); }
  PanelNames(const PanelNames&) = delete;
  PanelNames& operator=(const PanelNames&) = delete;

  // nullptr: the name file alone.
  void set_line_names(LineNames* line);

  // The title and the 16 names for the address box's text.
  void load(const std::string& address_text);
  // The name file changed on disk; nothing given while the address box holds no number.
  void file_changed(const std::optional<std::string>& address_text);

  // The rename dialog's steps, for rename().address_text and relay_text.
  RenameLogic& rename() { return rename_; }
  StoredName stored_name();
  // `done` runs once: at once for the name file, from the host's loop for a line's owner.
  void store(std::string_view text, std::function<void(RenameOutcome)> done);

 private:
  bool owners_names() const { return line_ && line_->owns_names(); }
  void show_owners_names();
  std::optional<std::uint8_t> address() const;

  NameFile& file_;
  RenameLogic& rename_;
  NameView& view_;
  LineNames* line_ = nullptr;
  bool showing_owners_ = false;
  std::string address_text_;  // as last loaded
};
