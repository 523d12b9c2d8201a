#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// A program run as a service runs, its standard output and error appended to a log file
// that the test reads while it runs (a pipe nobody drains would stop a chatty program).
// Killed with SIGKILL if still running when it goes.
class LoggedProcess {
 public:
  static constexpr auto default_deadline = std::chrono::seconds(20);

  // `arguments` without the program's name; the program is looked up in PATH unless it
  // names a path.
  LoggedProcess(const std::string& program, const std::vector<std::string>& arguments,
                std::string log_path);
  ~LoggedProcess();
  LoggedProcess(const LoggedProcess&) = delete;
  LoggedProcess& operator=(const LoggedProcess&) = delete;

  pid_t pid() const { return pid_; }
  // True while the program has not ended (it is reaped here when it has).
  bool running();
  void signal(int number) const;
  // The exit code once the program has ended by itself or by a signal it handles; none
  // when killed by a signal or still running at the deadline.
  std::optional<int> wait_exit(std::chrono::milliseconds deadline = default_deadline);
  void kill();

  std::string log() const;
  // How many lines of the log hold `text`.
  int log_count(const std::string& text) const;
  bool wait_for_log(const std::string& text, int count = 1,
                    std::chrono::milliseconds deadline = default_deadline) const;

 private:
  std::string log_path_;
  pid_t pid_ = -1;
  std::optional<int> status_;  // waitpid's status, once reaped
};

// Looks at `condition` each time a log file of a LoggedProcess is written or
// notify_change() is called, until it holds or the deadline passes; whether it held.
bool eventually(const std::function<bool()>& condition,
                std::chrono::milliseconds deadline = LoggedProcess::default_deadline);

// Something eventually() may be waiting on changed outside the log files (a client took
// a message).
void notify_change();
