#include "bridge/bridge_names.h"

#include "common/text_number.h"
#include "names/file_messages.h"

BridgeNames BridgeNameView::read(NameFile& file, const std::vector<std::uint8_t>& addresses) {
  BridgeNames names;
  for (const std::uint8_t address : addresses) {
    labels_ = {};
    file.load_names(number_to_text(address));
    names.relays[address] = labels_;
  }
  names.title = title_;
  return names;
}

NameFileLook BridgeNameView::look(NameFile& file) {
  NameFileLook look;
  if (file.path().empty()) return look;
  // A reload says nothing of a file it cannot read (a window's operator has not asked),
  // but the daemon's log is where a service's reader learns why its names stay old.
  // A reload that finds new bytes shows the title again; one that finds the same shows
  // nothing.
  caption_set_ = false;
  if (const std::error_code error = file.reload(std::nullopt)) {
    if (error != unreadable_) {
      look.news =
          file_failure_message(file.path(), "read", error).text + "; the names stay as they were";
    }
    unreadable_ = error;
    return look;
  }
  if (unreadable_) look.news = path_text(file.path()) + " can be read again";
  unreadable_.clear();
  look.changed = caption_set_;
  return look;
}

void BridgeNameView::set_window_caption(const std::string& caption) {
  title_ = caption;
  caption_set_ = true;
}

void BridgeNameView::set_name_label(int relay, const std::string& name) {
  if (relay >= 1 && relay <= relay_count) labels_[static_cast<std::size_t>(relay - 1)] = name;
}
