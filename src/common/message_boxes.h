#pragma once

#include <string>

// How the core tells the operator something: a modal message box that returns once
// dismissed. The window shows a real box; tests record text, caption, icon and order.
enum class MessageIcon { None, Information, Warning, Critical };

struct Message {
  std::string text;     // UTF-8
  std::string caption;  // empty: the application's default caption
  MessageIcon icon = MessageIcon::None;

  friend bool operator==(const Message&, const Message&) = default;
};

class MessageBoxes {
 public:
  virtual ~MessageBoxes() = default;
  virtual void show(const Message& message) = 0;
};
