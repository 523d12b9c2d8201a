#include "board_frames.h"

#include <utility>

#include "wine_session.h"

LoggedBoard::LoggedBoard(const QStringList& options)
    : BoardProcess(
          QStringLiteral(RELAY_BOARD_SIM_PATH),
          QStringList{"--link-dir", QString::fromStdString(WineSession::get().ports.string()),
                      "--port", "1", "--verbose"} +
              options,
          [](QProcess& board) { board.setProcessChannelMode(SeparateChannels); }) {
  reading_ = QObject::connect(this, &QProcess::readyReadStandardError, [this] { read_log(); });
}

void LoggedBoard::read_log() {
  const auto now = Clock::now();
  partial_ += readAllStandardError().toStdString();
  const std::string received = "relay_board_sim: <- ";
  for (auto end = partial_.find('\n'); end != std::string::npos; end = partial_.find('\n')) {
    const std::string line = partial_.substr(0, end);
    partial_.erase(0, end + 1);
    if (!line.starts_with(received)) continue;
    frames_.push_back(line.substr(received.size()));
    arrivals.push_back(now);
  }
}

std::vector<std::string> LoggedBoard::take_frames() {
  read_log();
  return std::exchange(frames_, {});
}

std::size_t LoggedBoard::count() {
  read_log();
  return arrivals.size();
}
