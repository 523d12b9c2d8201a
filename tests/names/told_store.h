#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "common/message_boxes.h"
#include "names/profile_store.h"

// The name store used as the window uses it: every error that comes back is shown to
// `messages`, in the order the calls were made, and the plain result is returned. The
// tests then hear exactly what the operator would.
class ToldStore {
 public:
  explicit ToldStore(MessageBoxes& messages,
                     std::chrono::milliseconds lock_patience = NameFileLock::default_patience)
      : store(lock_patience), messages_(messages) {}

  std::string read_value(const std::filesystem::path& file, std::string_view section,
                         std::string_view key) {
    ReadOutcome outcome = store.read_value(file, section, key);
    tell(outcome.error);
    return std::move(outcome.value);
  }
  bool write_value(const std::filesystem::path& file, std::string_view section,
                   std::string_view key, std::string_view value) {
    const WriteOutcome outcome = store.write_value(file, section, key, value);
    tell(outcome.error);
    return outcome.written;
  }
  bool has_section_line(const std::filesystem::path& file, std::string_view section) {
    const SectionOutcome outcome = store.has_section_line(file, section);
    tell(outcome.error);
    return outcome.present;
  }
  std::optional<std::string> unstorable_character(const std::filesystem::path& file,
                                                  std::string_view text) {
    return store.unstorable_character(file, text);
  }

  ProfileStore store;

 private:
  void tell(const std::optional<Message>& error) {
    if (error) messages_.show(*error);
  }

  MessageBoxes& messages_;
};
