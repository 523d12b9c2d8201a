#include "board_process.h"

#include <signal.h>

namespace {
// Generous: on a loaded machine the board may be slow to come up.
constexpr int wait_ms = 15000;
}  // namespace

BoardProcess::BoardProcess(const QStringList& options, ProcessChannelMode channels)
    : BoardProcess(QStringLiteral(RELAY_BOARD_SIM_PATH), options,
                   [channels](QProcess& board) { board.setProcessChannelMode(channels); }) {}

BoardProcess::BoardProcess(const QString& program, const QStringList& options,
                           const std::function<void(QProcess&)>& prepare) {
  prepare(*this);
  start(program, options);
  if (waitForStarted(wait_ms)) device = next_device();
}

BoardProcess::~BoardProcess() {
  kill();
  waitForFinished(wait_ms);
}

QString BoardProcess::next_device() {
  while (!canReadLine() && waitForReadyRead(wait_ms)) {
  }
  return QString::fromUtf8(readLine()).trimmed();
}

void BoardProcess::send(int signal) const {
  ::kill(static_cast<pid_t>(processId()), signal);
}
