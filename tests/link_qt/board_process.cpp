#include "board_process.h"

#include <signal.h>

BoardProcess::BoardProcess(const QStringList& options) {
  process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  process_.start(QStringLiteral(RELAY_BOARD_SIM_PATH), options);
  if (!process_.waitForStarted(5000)) return;
  while (!process_.canReadLine() && process_.waitForReadyRead(5000)) {
  }
  device_ = process_.readLine().trimmed().toStdString();
}

BoardProcess::~BoardProcess() {
  if (running()) kill();
}

void BoardProcess::kill() {
  process_.kill();
  process_.waitForFinished(5000);
}

int BoardProcess::interrupt() {
  ::kill(static_cast<pid_t>(process_.processId()), SIGINT);
  process_.waitForFinished(5000);
  return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
}
