#include "logged_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace {
using Clock = std::chrono::steady_clock;
constexpr auto look_interval = std::chrono::milliseconds(5);
}  // namespace

LoggedProcess::LoggedProcess(const std::string& program, const std::vector<std::string>& arguments,
                             std::string log_path)
    : log_path_(std::move(log_path)) {
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, log_path_.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                   0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  if (posix_spawnp(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
  posix_spawn_file_actions_destroy(&actions);
}

LoggedProcess::~LoggedProcess() {
  kill();
}

bool LoggedProcess::running() {
  if (pid_ <= 0 || status_) return false;
  int status = 0;
  if (::waitpid(pid_, &status, WNOHANG) != pid_) return true;
  status_ = status;
  return false;
}

void LoggedProcess::signal(int number) const {
  if (pid_ > 0 && !status_) ::kill(pid_, number);
}

std::optional<int> LoggedProcess::wait_exit(std::chrono::milliseconds deadline) {
  const auto end = Clock::now() + deadline;
  while (running() && Clock::now() < end) std::this_thread::sleep_for(look_interval);
  if (!status_ || !WIFEXITED(*status_)) return std::nullopt;
  return WEXITSTATUS(*status_);
}

void LoggedProcess::kill() {
  if (!running()) return;
  ::kill(pid_, SIGKILL);
  int status = 0;
  ::waitpid(pid_, &status, 0);
  status_ = status;
}

std::string LoggedProcess::log() const {
  std::ifstream file(log_path_);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

int LoggedProcess::log_count(const std::string& text) const {
  std::istringstream lines(log());
  int count = 0;
  for (std::string line; std::getline(lines, line);) count += line.find(text) != std::string::npos;
  return count;
}

bool LoggedProcess::wait_for_log(const std::string& text, int count,
                                 std::chrono::milliseconds deadline) const {
  return eventually([&] { return log_count(text) >= count; }, deadline);
}

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds deadline) {
  const auto end = Clock::now() + deadline;
  while (!condition()) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(look_interval);
  }
  return true;
}
