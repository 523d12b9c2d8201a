#pragma once

#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

// "55 01 10 00" <-> bytes, so that expected frames read as they do on the wire.
inline std::vector<std::uint8_t> hex_bytes(const std::string& text) {
  std::vector<std::uint8_t> bytes;
  std::istringstream in(text);
  std::string token;
  while (in >> token) bytes.push_back(static_cast<std::uint8_t>(std::stoul(token, nullptr, 16)));
  return bytes;
}

template <typename Bytes>
std::string hex_text(const Bytes& bytes) {
  std::string text;
  for (std::uint8_t byte : bytes) {
    char part[4];
    std::snprintf(part, sizeof part, "%02X ", byte);
    text += part;
  }
  if (!text.empty()) text.pop_back();
  return text;
}
