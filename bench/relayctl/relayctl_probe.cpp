// relayctl's whole-process timing: each run from the exec to the exit, against the
// virtual board on a pseudo-terminal, answering at once and as late as a 9600-baud
// line would. Usage: relayctl_probe [runs]   (default 50)
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "board_process.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// A request and its answer, 8 bytes each of 10 bits, at 9600 baud.
constexpr double wire_ms = 2 * 8 * 10 * 1000.0 / 9600;

// Milliseconds from the exec to the exit; negative when relayctl failed.
double run(const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(RELAYCTL_PATH));
  for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  const auto start = Clock::now();
  pid_t pid = 0;
  if (posix_spawn(&pid, RELAYCTL_PATH, &actions, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  const auto end = Clock::now();
  posix_spawn_file_actions_destroy(&actions);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return std::chrono::duration<double, std::milli>(end - start).count();
}

void report(const char* what, std::vector<double> times, int exchanges) {
  if (times.empty() || *std::min_element(times.begin(), times.end()) < 0) {
    std::printf("%-40s failed\n", what);
    return;
  }
  std::sort(times.begin(), times.end());
  const double median = times[times.size() / 2];
  std::printf(
      "%-34s %3zu runs  median %6.1f ms  max %6.1f ms  (%d exchange%s: %.1f ms on the "
      "wire at 9600 baud)\n",
      what, times.size(), median, times.back(), exchanges, exchanges > 1 ? "s" : "",
      exchanges * wire_ms);
}

void measure(const char* board_name, const QStringList& options, int runs) {
  const BoardProcess board(options);
  if (board.device.isEmpty()) {
    std::fprintf(stderr, "relayctl_probe: the virtual board did not start\n");
    return;
  }
  const std::string path = board.device.toStdString();
  const std::vector<std::string> device = {"--device", path};
  run({"--device", path, "close", "all"});
  std::vector<double> status, open;
  for (int i = 0; i < runs; ++i) {
    auto arguments = device;
    arguments.push_back("status");
    status.push_back(run(arguments));
  }
  for (int i = 0; i < runs; ++i) {
    // Every open switches: the relay is closed again in between, unmeasured.
    auto arguments = device;
    arguments.insert(arguments.end(), {"open", "5"});
    open.push_back(run(arguments));
    run({"--device", path, "close", "5"});
  }
  // The floor: starting and ending the program, no port.
  std::vector<double> start_only;
  for (int i = 0; i < runs; ++i) start_only.push_back(run({"--version"}));
  std::printf("board %s:\n", board_name);
  report("  relayctl --version (no port)", start_only, 0);
  report("  relayctl status", status, 1);
  report("  relayctl open 5 (read, switch, verify)", open, 3);
}

}  // namespace

int main(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;
  measure("answering at once", {"--mode", "normal"}, runs);
  // An answer that leaves 17 ms after the request reached the board: a real line.
  measure("answering 17 ms late, as over 9600 baud", {"--mode", "late", "--delay-ms", "17"}, runs);
  std::printf("goal: relayctl status median under 30 ms against the board answering at once\n");
  return 0;
}
