#include "bridge/bridge_names.h"

#include "common/text_number.h"

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

bool BridgeNameView::changed_on_disk(NameFile& file) {
  // A reload that finds new bytes shows the title again; one that finds the same shows
  // nothing.
  caption_set_ = false;
  file.reload(std::nullopt);
  return caption_set_;
}

void BridgeNameView::set_window_caption(const std::string& caption) {
  title_ = caption;
  caption_set_ = true;
}

void BridgeNameView::set_name_label(int relay, const std::string& name) {
  if (relay >= 1 && relay <= relay_count) labels_[static_cast<std::size_t>(relay - 1)] = name;
}
