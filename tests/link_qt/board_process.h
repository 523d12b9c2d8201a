#pragma once

#include <QProcess>
#include <QStringList>
#include <string>

// The virtual board, run as its own program the way an operator would run it.
class BoardProcess {
 public:
  // Starts relay_board_sim with the given options and waits for its device path.
  explicit BoardProcess(const QStringList& options);
  ~BoardProcess();

  bool running() const { return process_.state() == QProcess::Running; }
  const std::string& device() const { return device_; }
  // The board's power is cut: no clean-up, its link stays behind.
  void kill();
  // Ends it as Ctrl+C would; returns its exit code.
  int interrupt();

 private:
  QProcess process_;
  std::string device_;
};
