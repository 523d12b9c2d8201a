#pragma once
// The virtual board's frame log, read from a named pipe as the board writes it.

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "logged_process.h"

// The board's log read from a named pipe while the board writes it, each line with the
// time it came in.
class BoardTap {
 public:
  using Clock = std::chrono::steady_clock;
  using Found = std::optional<std::pair<std::size_t, Clock::time_point>>;
  struct Line {
    Clock::time_point at;
    std::string text;
  };

  // Opened for writing too, so that the open never waits for the board and a board that
  // goes brings no end of file.
  explicit BoardTap(const std::string& fifo) : fd_(::open(fifo.c_str(), O_RDWR | O_CLOEXEC)) {
    reader_ = std::thread([this] { read(); });
  }
  ~BoardTap() {
    stop_ = true;
    reader_.join();
    ::close(fd_);
  }

  std::size_t size() {
    std::lock_guard lock(mutex_);
    return lines_.size();
  }
  // The first line from `from` on that starts with `prefix`: its index and when it came.
  Found find_line(std::size_t from, const std::string& prefix) {
    std::lock_guard lock(mutex_);
    for (std::size_t index = from; index < lines_.size(); ++index)
      if (lines_[index].text.starts_with(prefix)) return Found{{index, lines_[index].at}};
    return std::nullopt;
  }
  // The same, waiting for it up to 20 s.
  Found wait_line(std::size_t from, const std::string& prefix) {
    Found found;
    eventually([&] { return (found = find_line(from, prefix)).has_value(); },
               std::chrono::seconds(20));
    return found;
  }

 private:
  void read() {
    std::string partial;
    char buffer[4096];
    while (!stop_) {
      pollfd ready{fd_, POLLIN, 0};
      if (::poll(&ready, 1, 50) <= 0) continue;
      const ssize_t count = ::read(fd_, buffer, sizeof buffer);
      const auto now = Clock::now();
      if (count <= 0) continue;
      partial.append(buffer, static_cast<std::size_t>(count));
      std::lock_guard lock(mutex_);
      for (std::size_t end; (end = partial.find('\n')) != std::string::npos;) {
        lines_.push_back({now, partial.substr(0, end)});
        partial.erase(0, end + 1);
      }
      notify_change();
    }
  }

  int fd_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<Line> lines_;
  std::thread reader_;
};
