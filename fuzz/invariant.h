#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

// A broken invariant ends the run with a message, so that libFuzzer keeps the input
// as a crash and the replay of the seed corpus fails.
inline void require(bool holds, std::string_view what, std::string_view detail = {}) {
  if (holds) return;
  std::fprintf(stderr, "invariant broken: %.*s\n", static_cast<int>(what.size()), what.data());
  if (!detail.empty()) {
    std::fprintf(stderr, "  %.*s\n", static_cast<int>(detail.size()), detail.data());
  }
  std::abort();
}

// Bytes as "41 0D 0A", for the messages.
inline std::string hex_dump(std::string_view bytes, std::size_t limit = 64) {
  std::string text;
  for (std::size_t i = 0; i < bytes.size() && i < limit; ++i) {
    if (!text.empty()) text += ' ';
    const auto byte = static_cast<unsigned char>(bytes[i]);
    text += "0123456789ABCDEF"[byte >> 4];
    text += "0123456789ABCDEF"[byte & 0x0F];
  }
  if (bytes.size() > limit) text += " ...";
  return text;
}
