#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "answer_mode.h"

// What the command line asks of the virtual board.
struct SimOptions {
  // The boards on the line, each answering only its own frames; sorted, each once.
  std::vector<std::uint8_t> addresses{1};
  // Those of them that carry out commands but never answer, as a dead board on a
  // shared line.
  std::vector<std::uint8_t> silent;
  // Those of them that answer late (by `delay`), the others as the mode says.
  std::vector<std::uint8_t> slow;
  AnswerMode mode = AnswerMode::Normal;
  std::chrono::milliseconds delay{200};  // for late answers
  // How long the mode lasts from the first frame the board reads; then it answers
  // normally. None: for ever.
  std::optional<std::chrono::milliseconds> mode_time;
  std::optional<std::filesystem::path> link_dir;  // where to place com<port>
  int port = 1;
  bool verbose = false;
  bool times = false;  // each logged frame with when it came or went
  bool help = false;
  bool version = false;
};

// The options, or a message saying what is wrong with the command line.
std::variant<SimOptions, std::string> parse_sim_options(int argc, const char* const argv[]);

std::string sim_usage(const std::string& program);
