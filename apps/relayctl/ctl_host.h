#pragma once

#include <ostream>
#include <string>
#include <utility>

#include "ctl_output.h"
#include "panel/headless_host.h"

// What stands in for the panel's window when relayctl hosts the core: the core's
// headless host holding the command line's port and address text, whose message boxes
// become lines on stderr once the command knows its exit status (with --json, what
// ended it is one error object).
class CtlHost : public HeadlessHost {
 public:
  CtlHost(std::string port_text, std::string address_text, std::ostream& errors)
      : HeadlessHost(std::move(port_text), std::move(address_text)), errors_(errors) {}

  // How many errors the core has shown so far (a name file that could not be read).
  int errors_shown() const { return errors_shown_; }
  // A file that cannot be read fails each of the 16 names' reads alike: one line says it.
  void show(const Message& message) override {
    if (message.icon == MessageIcon::Critical) ++errors_shown_;
    if (message == last_shown_) return;
    last_shown_ = message;
    HeadlessHost::show(message);
  }

  // Says on the error stream what the core has shown since the last call, then
  // `message` unless empty: a line each; with JSON a notice object for each message that
  // only informs and one error object, with the exit status, for the rest.
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
  int errors_shown_ = 0;
  Message last_shown_;
};
