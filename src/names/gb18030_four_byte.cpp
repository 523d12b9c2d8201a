#include "names/gb18030_four_byte.h"

namespace {

// Four bytes count up as digits of 126 and 10 values: 81..FE, 30..39, 81..FE, 30..39.
// U+10000 is the linear number of 90 30 81 30.
constexpr unsigned long supplementary_start = ((0x90 - 0x81) * 10UL) * 126 * 10;

}  // namespace

std::optional<char32_t> gb18030_supplementary_code_point(std::string_view bytes, std::size_t pos) {
  if (pos + 4 > bytes.size()) return std::nullopt;
  const auto b = [&](std::size_t i) { return static_cast<unsigned char>(bytes[pos + i]); };
  if (b(0) < 0x81 || b(0) > 0xFE || b(1) < 0x30 || b(1) > 0x39 || b(2) < 0x81 || b(2) > 0xFE ||
      b(3) < 0x30 || b(3) > 0x39) {
    return std::nullopt;
  }
  const unsigned long linear =
      (((b(0) - 0x81UL) * 10 + (b(1) - 0x30)) * 126 + (b(2) - 0x81)) * 10 + (b(3) - 0x30);
  if (linear < supplementary_start || linear - supplementary_start > 0xFFFFF) return std::nullopt;
  return static_cast<char32_t>(0x10000 + (linear - supplementary_start));
}

std::string gb18030_supplementary_bytes(char32_t c) {
  unsigned long linear = supplementary_start + (c - 0x10000);
  std::string bytes(4, '\0');
  bytes[3] = static_cast<char>(0x30 + linear % 10);
  linear /= 10;
  bytes[2] = static_cast<char>(0x81 + linear % 126);
  linear /= 126;
  bytes[1] = static_cast<char>(0x30 + linear % 10);
  bytes[0] = static_cast<char>(0x81 + linear / 10);
  return bytes;
}
