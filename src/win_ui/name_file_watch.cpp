#include "win_ui/name_file_watch.h"

#include <utility>

NameFileWatch::NameFileWatch(std::filesystem::path file) : file_(std::move(file)) {
  last_ = look();
}

bool NameFileWatch::changed() {
  if (file_.empty()) return false;
  auto now = look();
  if (now == last_) return false;
  last_ = std::move(now);
  return true;
}

std::optional<NameFileWatch::Look> NameFileWatch::look() const {
  std::error_code error;
  Look seen;
  seen.size = std::filesystem::file_size(file_, error);
  if (error) return std::nullopt;
  seen.written = std::filesystem::last_write_time(file_, error);
  if (error) return std::nullopt;
  return seen;
}
