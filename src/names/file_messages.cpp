#include "names/file_messages.h"

#include "common/system_error_text.h"

std::string path_text(const std::filesystem::path& file) {
  const std::u8string text = file.u8string();
  return std::string(text.begin(), text.end());
}

Message file_not_found_message(const std::filesystem::path& file) {
  return {path_text(file) + " not found.", "File Not Found", MessageIcon::Critical};
}

Message file_failure_message(const std::filesystem::path& file, std::string_view what,
                             const std::error_code& reason) {
  std::string text = path_text(file) + " could not be ";
  text += what;
  text += ": ";
  text += system_error_text(reason);
  return {text, "File Error", MessageIcon::Critical};
}

Message write_refused_message(const std::filesystem::path& file, std::string_view why) {
  std::string text = path_text(file) + " could not be written: ";
  text += why;
  return {text, "File Error", MessageIcon::Critical};
}

Message lock_failure_message(const std::filesystem::path& file, std::string_view what,
                             const NameFileLock& lock, std::chrono::milliseconds waited) {
  std::string text = path_text(file) + " could not be ";
  text += what;
  if (lock.busy()) {
    text += ": another program kept it locked for " + std::to_string(waited.count()) + " ms (" +
            path_text(NameFileLock::lock_file(file)) + "). Try again in a moment.";
  } else {
    text += ": its lock file " + path_text(NameFileLock::lock_file(file)) +
            " could not be opened: " + system_error_text(lock.error());
  }
  return {text, "File Error", MessageIcon::Critical};
}
