#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>

// A folder of its own for each case's database, removed with it.
struct LogFolder {
  LogFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "event_log_XXXXXX").string();
    path = ::mkdtemp(pattern.data()) != nullptr ? pattern : "";
  }
  ~LogFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  std::filesystem::path path;
};
