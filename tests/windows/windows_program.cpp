#include "windows_program.h"

#include <algorithm>

#include "qt_events.h"
#include "wine_session.h"

WindowsProgram::WindowsProgram(const std::filesystem::path& installed, const QStringList& arguments,
                               const QStringList& environment) {
  QProcessEnvironment wine = WineSession::get().environment;
  for (const QString& setting : environment) {
    wine.insert(setting.section('=', 0, 0), setting.section('=', 1));
  }
  setProcessEnvironment(wine);
  setWorkingDirectory(QString::fromStdString(installed.parent_path().string()));
  const QString path = QString::fromStdString(installed.string());
  // A Linux program (the Linux panel, for comparison) runs as it is, on the same screen.
  if (installed.extension() != ".exe") {
    start(path, arguments);
    return;
  }
  start(QStringLiteral("wine"), QStringList{path} + arguments);
}

WindowsProgram::~WindowsProgram() {
  if (state() == NotRunning) return;
  kill();
  waitForFinished(30000);
}

const std::vector<std::string>& WindowsProgram::lines() {
  partial_ += without_cr(readAllStandardError().toStdString());
  for (auto end = partial_.find('\n'); end != std::string::npos; end = partial_.find('\n')) {
    lines_.push_back(partial_.substr(0, end));
    partial_.erase(0, end + 1);
  }
  return lines_;
}

std::optional<std::string> WindowsProgram::wait_for_line(const std::string& start, int timeout_ms) {
  std::optional<std::string> found;
  wait_until(
      [&] {
        const auto& all = lines();
        const auto line = std::find_if(all.begin(), all.end(),
                                       [&](const std::string& l) { return l.starts_with(start); });
        if (line != all.end()) found = *line;
        return found.has_value() || state() == NotRunning;
      },
      timeout_ms);
  if (!found) lines();  // what came after it ended
  return found;
}

int WindowsProgram::finish(int timeout_ms) {
  const bool ended = wait_until([&] { return state() == NotRunning; }, timeout_ms);
  out += without_cr(readAllStandardOutput().toStdString());
  lines();
  if (!ended || exitStatus() != NormalExit) return -1;
  return exitCode();
}

std::filesystem::path install_program(const std::string& name,
                                      const std::filesystem::path& folder) {
  const auto copy = folder / name;
  std::filesystem::copy_file(WineSession::get().build / name, copy,
                             std::filesystem::copy_options::overwrite_existing);
  return copy;
}

std::string without_cr(std::string text) {
  std::erase(text, '\r');
  return text;
}
