#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "common/board_limits.h"
#include "names/name_file.h"

// What the bridge tells the home automation about its boards' names: the name file's
// title and the 16 names of each served address (UTF-8, as the panel shows them).
struct BridgeNames {
  std::string title;
  std::map<std::uint8_t, std::array<std::string, relay_count>> relays;

  friend bool operator==(const BridgeNames&, const BridgeNames&) = default;
};

// Collects what a NameFile shows into BridgeNames: give it to the NameFile as its view.
class BridgeNameView : public NameView {
 public:
  // The title and the names of `addresses` as `file` (whose view this is) reads them now.
  // The file must have been opened (NameFile::open_or_create).
  BridgeNames read(NameFile& file, const std::vector<std::uint8_t>& addresses);
  // Whether the file changed since the last look (NameFile::reload compares its bytes):
  // cheap enough to ask every few seconds; then read() again.
  bool changed_on_disk(NameFile& file);

  void set_window_caption(const std::string& caption) override;
  void set_name_label(int relay, const std::string& name) override;

 private:
  std::string title_;
  std::array<std::string, relay_count> labels_{};
  bool caption_set_ = false;
};
