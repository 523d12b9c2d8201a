#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <variant>
#include <vector>

enum class CtlCommand { Status, Open, Close, Pulse, Watch, Names, Rename, Scan };

// What relayctl's command line asks for, checked as far as it can be without the
// name file.
struct CtlOptions {
  std::string port_text = "1";        // as typed in the panel's port box
  std::optional<std::string> device;  // a device path instead of a port number
  std::string address_text = "1";     // as typed in the panel's address box
  // Several boards on the line (status and watch), sorted; empty for the one board of
  // address_text.
  std::vector<std::uint8_t> addresses;
  // The addresses a scan asks.
  int scan_from = 0;
  int scan_to = 255;
  std::optional<std::filesystem::path> names_file;
  bool json = false;
  bool inverse = false;
  std::chrono::milliseconds timeout{200};
  CtlCommand command = CtlCommand::Status;
  std::vector<std::string> arguments;  // what follows the command
  bool help = false;
  bool version = false;
};

// The options, or a one-line message saying what is wrong with the command line. An
// option's value follows it as the next word or after '=' (--port=3).
std::variant<CtlOptions, std::string> parse_ctl_options(int argc, const char* const argv[]);

// Whether the command line asks for JSON, so that even a command line that is refused
// is answered in it.
bool json_asked(int argc, const char* const argv[]);

std::string ctl_usage();
