// relayctl: the relay board from scripts, on the panel's own core, with the terminal
// interface's serial line and a poll() event loop; served lines through libmosquitto on
// that loop, loaded only for them.
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string_view>
#include <system_error>

#include "broker_module.h"
#include "ctl_main.h"
#include "event_log_module.h"
#include "loop/posix_event_wait.h"
#include "serial/posix_serial_port.h"

namespace {

// The folder of the program file itself, links resolved, where the com<n> links of a
// portable install sit beside it.
std::filesystem::path program_folder(const char* argv0) {
  std::error_code error;
  const auto file = std::filesystem::read_symlink("/proc/self/exe", error);
  if (!error) return file.parent_path();
  const auto named = std::filesystem::weakly_canonical(argv0 ? argv0 : "", error);
  return error ? std::filesystem::path() : named.parent_path();
}

// Whether the environment asks for the system's words in another language or other
// characters than the C locale's: a locale of its own for `category`, or a LANGUAGE.
bool translated(const char* category) {
  for (const char* variable : {"LC_ALL", category, "LANG"}) {
    const char* value = std::getenv(variable);
    if (!value || !*value) continue;
    const std::string_view name = value;
    if (name != "C" && name != "POSIX" && name != "C.UTF-8" && name != "C.utf8") return true;
    break;
  }
  const char* language = std::getenv("LANGUAGE");
  return language && *language;
}

}  // namespace

int main(int argc, char* argv[]) {
  // The system's own words (a failed open's reason) in the user's language and
  // characters; nothing else here depends on the locale, whose other parts cost a file
  // each to load. The C locales translate nothing: loading one would cost half a
  // millisecond of every run for the same words.
  if (translated("LC_CTYPE") || translated("LC_MESSAGES")) {
    std::setlocale(LC_CTYPE, "");
    std::setlocale(LC_MESSAGES, "");
  }
  PosixEventWait wait;
  const CtlPlatform platform{program_folder(argc > 0 ? argv[0] : nullptr),
                             [](const std::filesystem::path& state_folder) {
                               return std::make_unique<PosixSerialPort>(state_folder);
                             },
                             wait,
                             [](const BrokerAccess& access) {
                               return load_broker_connection(access, EventLoop::program());
                             },
                             load_event_log,
                             load_and_run_log};
  return relayctl_main(argc, argv, platform, std::cout, std::cerr);
}
