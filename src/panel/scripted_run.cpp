#include "panel/scripted_run.h"

std::string message_line(const Message& message) {
  std::string line = message.caption;
  if (!line.empty()) line.append(": ");
  return line.append(message.text).append("\n");
}

std::string shown_line(std::string_view title) {
  return "shown: " + std::string(title) + "\n";
}

std::string client_line(int left, int top, int width, int height) {
  return "client: " + std::to_string(left) + " " + std::to_string(top) + " " +
         std::to_string(width) + " " + std::to_string(height) + "\n";
}
