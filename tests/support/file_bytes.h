#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

// A whole file as bytes, and back: what the name file holds, byte for byte.
inline std::string read_bytes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void write_bytes(const std::filesystem::path& file, const std::string& bytes) {
  std::ofstream(file, std::ios::binary) << bytes;
}
