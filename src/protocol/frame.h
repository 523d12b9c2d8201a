#pragma once

#include <array>
#include <cstdint>
#include <span>

// Both directions use fixed 8-byte frames: a header, six bytes, and an additive
// checksum. There is no length field, escaping or frame-start search.
inline constexpr std::size_t frame_size = 8;
using FrameBytes = std::array<std::uint8_t, frame_size>;

// Low 8 bits of the sum of the first seven bytes.
constexpr std::uint8_t frame_checksum(std::span<const std::uint8_t, frame_size> frame) {
  unsigned sum = 0;
  for (std::size_t i = 0; i + 1 < frame_size; ++i) sum += frame[i];
  return static_cast<std::uint8_t>(sum % 256);
}
