#include <termios.h>
#include <unistd.h>

#include <iostream>

#include "password_prompt.h"

namespace {

std::optional<std::string> read_line() {
  std::string line;
  if (!std::getline(std::cin, line)) return std::nullopt;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

std::optional<std::string> read_hidden(const std::string& prompt) {
  std::cerr << prompt << std::flush;
  termios before{};
  tcgetattr(STDIN_FILENO, &before);
  termios hidden = before;
  hidden.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  tcsetattr(STDIN_FILENO, TCSAFLUSH, &hidden);
  auto line = read_line();
  tcsetattr(STDIN_FILENO, TCSAFLUSH, &before);
  std::cerr << '\n';
  return line;
}

}  // namespace

std::optional<std::string> read_new_password(const std::string& prompt) {
  if (!isatty(STDIN_FILENO)) return read_line();
  auto first = read_hidden(prompt);
  auto again = read_hidden("Again: ");
  if (!first || first != again) return std::nullopt;
  return first;
}
