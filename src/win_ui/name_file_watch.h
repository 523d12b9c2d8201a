#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

// Notices that another program (relayctl, a second panel, an editor) changed the name
// file: a cheap look at its size and time of last write, twice a second. A writer
// replaces the file as a whole, which this sees as well as an edit in place.
class NameFileWatch {
 public:
  explicit NameFileWatch(std::filesystem::path file);

  // Whether the file looks different from the last look (appeared, went, or changed).
  bool changed();

  static constexpr unsigned interval_ms = 500;

 private:
  struct Look {
    std::uintmax_t size = 0;
    std::filesystem::file_time_type written{};
    friend bool operator==(const Look&, const Look&) = default;
  };
  std::optional<Look> look() const;

  std::filesystem::path file_;
  std::optional<Look> last_;
};
