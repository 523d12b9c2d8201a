#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// A fuzz input taken apart from the front: small numbers that steer the run, then
// pieces of text. Past the end every read gives zero or nothing, so that any input,
// however short, is a whole script.
class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, std::size_t size)
      : bytes_(reinterpret_cast<const char*>(data), size) {}

  bool empty() const { return pos_ >= bytes_.size(); }

  std::uint8_t byte() { return empty() ? 0 : static_cast<std::uint8_t>(bytes_[pos_++]); }

  // Two bytes, low byte first.
  std::uint16_t word() {
    const unsigned low = byte();
    const unsigned high = byte();
    return static_cast<std::uint16_t>(low | high << 8);
  }

  // The next `count` bytes, or as many as are left.
  std::string_view text(std::size_t count) {
    const std::string_view piece = bytes_.substr(pos_, count);
    pos_ += piece.size();
    return piece;
  }

  std::string_view rest() { return text(bytes_.size()); }

 private:
  std::string_view bytes_;
  std::size_t pos_ = 0;
};
