#pragma once

#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>

// Keeps a file's latest content on disk from a thread of its own (replace_file_atomically:
// a temporary file, fsync, rename). The fsync takes milliseconds, and the event loop must
// not spend them while a board's answer waits to be timed. A content given while an
// older one is still being written replaces the one that waits: the file is always whole,
// and the latest content follows within one write.
class FileKeeper {
 public:
  // `failed` is called on the keeper's thread with each write that failed.
  FileKeeper(std::filesystem::path file, std::function<void(std::error_code)> failed);
  // What waits is written before the thread ends.
  ~FileKeeper();
  FileKeeper(const FileKeeper&) = delete;
  FileKeeper& operator=(const FileKeeper&) = delete;

  void keep(std::string content);
  // Waits until nothing is left to write (a measurement, a test).
  void flush();

 private:
  void run();

  const std::filesystem::path file_;
  const std::function<void(std::error_code)> failed_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::optional<std::string> waiting_;
  bool writing_ = false;
  bool stopping_ = false;
  std::thread thread_;  // last: it starts once everything above is in place
};
