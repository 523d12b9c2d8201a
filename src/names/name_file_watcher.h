#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QString>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <functional>

// Tells its host when the name file may have changed: other programs (relayctl, a second
// panel, an editor) change names while the host runs. Each write replaces the file by a
// new one, which a watch on the file alone loses: its folder (and the real file's, behind
// a link) is watched too. A writer's temporary file, lock and rename come as one burst,
// told once after a short pause; the host then reads the file again, and a change beside
// it (another file of the folder) finds the file's bytes as they were.
class NameFileWatcher : public QObject {
 public:
  // Nothing is watched for an empty path: the host runs without a name file.
  NameFileWatcher(const std::filesystem::path& file, std::function<void()> changed,
                  QObject* parent = nullptr);

  // How long a burst of changes may take.
  static constexpr std::chrono::milliseconds settle_delay{100};

 private:
  void settled();

  QString file_;
  QFileSystemWatcher watcher_;
  QTimer settle_;
  std::function<void()> changed_;
};
