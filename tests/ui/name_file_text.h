#pragma once

#include <filesystem>
#include <fstream>
#include <string>

// A set-up name file whose names tell their address apart ("a7 r1" is relay 1 of
// address 7), so a test sees which address the labels were loaded for.
inline std::string name_file_text(const std::string& title = "Test panel") {
  std::string text = "[Software properties]\r\nThe name=" + title + "\r\n";
  for (int address = 0; address <= 255; ++address) {
    text += "[address " + std::to_string(address) + "]\r\n";
    for (int relay = 1; relay <= 16; ++relay) {
      text += "relay" + std::to_string(relay) + "name=a" + std::to_string(address) + " r" +
              std::to_string(relay) + "\r\n";
    }
  }
  return text;
}

inline void write_file(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
