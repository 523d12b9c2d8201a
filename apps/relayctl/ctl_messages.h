#pragma once

#include <array>
#include <cstddef>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "common/board_limits.h"
#include "common/message_boxes.h"
#include "ctl_output.h"
#include "names/name_file.h"

// What the name file, the port and the rules have to tell the operator, kept until the
// command knows its exit status and then said on stderr (with --json, what ended it is
// one error object); and the names the name file reads.
class CtlMessages : public MessageBoxes, public NameView {
 public:
  explicit CtlMessages(std::ostream& errors) : errors_(errors) {}

  const std::array<std::string, relay_count>& names() const { return names_; }
  std::vector<Message> take_shown() { return std::exchange(shown_, {}); }
  // How many errors were kept so far (a name file that could not be read).
  int errors_shown() const { return errors_shown_; }

  // A file that cannot be read fails each of the 16 names' reads alike: one line says it.
  void show(const Message& message) override {
    if (message.icon == MessageIcon::Critical) ++errors_shown_;
    if (message == last_shown_) return;
    last_shown_ = message;
    shown_.push_back(message);
  }
  void set_window_caption(const std::string&) override {}
  void set_name_label(int relay, const std::string& name) override {
    names_.at(static_cast<std::size_t>(relay - 1)) = name;
  }

  // Says on the error stream what was kept since the last call, then `message` unless
  // empty: a line each; with JSON a notice object for each message that only informs and
  // one error object, with the exit status, for the rest.
  void tell(int exit, const std::string& message, bool json) {
    std::string error;
    const auto add = [&](const std::string& text) {
      if (!json) {
        errors_ << error_line(text, exit, false);
      } else {
        error += (error.empty() ? "" : "; ") + text;
      }
    };
    for (const Message& shown : take_shown()) {
      const bool notice = shown.icon == MessageIcon::None || shown.icon == MessageIcon::Information;
      if (json && (notice || exit == 0)) {
        errors_ << notice_line(shown.text, true);
      } else {
        add(shown.text);
      }
    }
    if (!message.empty()) add(message);
    if (!error.empty()) errors_ << error_line(error, exit, true);
  }

 private:
  std::ostream& errors_;
  std::array<std::string, relay_count> names_{};
  std::vector<Message> shown_;
  int errors_shown_ = 0;
  Message last_shown_;
};
