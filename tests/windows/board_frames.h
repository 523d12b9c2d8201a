#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "board_process.h"

using Clock = std::chrono::steady_clock;

// The virtual board behind COM1, with every frame it receives as hex text and the time
// it was logged, taken from its log as the lines come.
class LoggedBoard : public BoardProcess {
 public:
  explicit LoggedBoard(const QStringList& options = {});
  // The board's last log lines, read while it is stopped, must not reach the members
  // that are already gone.
  ~LoggedBoard() override { QObject::disconnect(reading_); }

  // Frames received since the last call.
  std::vector<std::string> take_frames();
  std::size_t count();

  std::vector<Clock::time_point> arrivals;  // of every frame so far

 private:
  void read_log();
  std::vector<std::string> frames_;
  std::string partial_;
  QMetaObject::Connection reading_;
};
