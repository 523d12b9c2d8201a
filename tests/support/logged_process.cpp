#include "logged_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>

extern char** environ;

namespace {
using Clock = std::chrono::steady_clock;

// What a test waits on changes when a log file is written or a client takes a message:
// eventually() sleeps in poll() until one of them says so, never for a fixed time.
class Changes {
 public:
  Changes()
      : inotify_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)),
        event_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
  void watch(const std::string& path) { ::inotify_add_watch(inotify_, path.c_str(), IN_MODIFY); }
  void notify() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(event_, &one, sizeof one);
  }
  // Until something changed or `end` passed (then false).
  bool wait(Clock::time_point end) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now());
    if (left.count() <= 0) return false;
    pollfd fds[2] = {{inotify_, POLLIN, 0}, {event_, POLLIN, 0}};
    if (::poll(fds, 2, static_cast<int>(std::min<long long>(left.count(), 60'000))) <= 0) {
      return Clock::now() < end;
    }
    char drained[4096];
    while (::read(inotify_, drained, sizeof drained) > 0) {
    }
    [[maybe_unused]] const auto read = ::read(event_, drained, sizeof(std::uint64_t));
    return true;
  }

 private:
  int inotify_;
  int event_;
};

Changes& changes() {
  static Changes instance;
  return instance;
}
}  // namespace

void notify_change() {
  changes().notify();
}

LoggedProcess::LoggedProcess(const std::string& program, const std::vector<std::string>& arguments,
                             std::string log_path)
    : log_path_(std::move(log_path)) {
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  // Made before the program starts, so that its first line already wakes a wait.
  std::ofstream(log_path_, std::ios::app).flush();
  changes().watch(log_path_);
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
  if (running()) {
    // The process's descriptor turns readable when it ends.
    const int process = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
    if (process >= 0) {
      pollfd fd{process, POLLIN, 0};
      ::poll(&fd, 1, static_cast<int>(deadline.count()));
      ::close(process);
    }
  }
  if (running() || !status_ || !WIFEXITED(*status_)) return std::nullopt;
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
    if (!changes().wait(end)) return condition();
  }
  return true;
}
