#include "file_keeper.h"

#include "names/disk_file.h"

FileKeeper::FileKeeper(std::filesystem::path file, std::function<void(std::error_code)> failed)
    : file_(std::move(file)), failed_(std::move(failed)), thread_([this] { run(); }) {}

FileKeeper::~FileKeeper() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void FileKeeper::keep(std::string content) {
  {
    std::lock_guard lock(mutex_);
    waiting_ = std::move(content);
  }
  changed_.notify_all();
}

void FileKeeper::flush() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return !waiting_ && !writing_; });
}

void FileKeeper::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return waiting_ || stopping_; });
    if (!waiting_) return;
    const std::string content = std::move(*waiting_);
    waiting_.reset();
    writing_ = true;
    lock.unlock();
    const auto error = replace_file_atomically(file_, content);
    if (error && failed_) failed_(error);
    lock.lock();
    writing_ = false;
    changed_.notify_all();
  }
}
