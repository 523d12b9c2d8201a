#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <system_error>
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

// What a look at the name file found.
struct NameFileLook {
  bool changed = false;  // read() gives new names
  // For the log: why the file cannot be read, once per reason, and once that it can again.
  std::optional<std::string> news;
};

// Collects what a NameFile shows into BridgeNames: give it to the NameFile as its view.
class BridgeNameView : public NameView {
 public:
  // The title and the names of `addresses` as `file` (whose view this is) reads them now.
  // The file must have been opened (NameFile::open_or_create).
  BridgeNames read(NameFile& file, const std::vector<std::uint8_t>& addresses);
  // Whether the file changed since the last look (NameFile::reload compares its bytes);
  // then read() again. Ask on a change notification: each look reads the whole file. A
  // file that cannot be read leaves the names as they were.
  NameFileLook look(NameFile& file);

  void set_window_caption(const std::string& caption) override;
  void set_name_label(int relay, const std::string& name) override;

 private:
  std::string title_;
  std::array<std::string, relay_count> labels_{};
  bool caption_set_ = false;
  std::error_code unreadable_;  // why the last look could not read the file
};
