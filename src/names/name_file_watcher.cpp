#include "names/name_file_watcher.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>

namespace {

QString path_string(const std::filesystem::path& path) {
  return QFile::decodeName(QByteArray::fromStdString(path.string()));
}

}  // namespace

NameFileWatcher::NameFileWatcher(const std::filesystem::path& file, std::function<void()> changed,
                                 QObject* parent)
    : QObject(parent), file_(path_string(file)), changed_(std::move(changed)) {
  if (file.empty()) return;
  settle_.setSingleShot(true);
  settle_.setInterval(settle_delay);
  const auto burst = [this] {
    if (!settle_.isActive()) settle_.start();
  };
  connect(&watcher_, &QFileSystemWatcher::fileChanged, this, burst);
  connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, burst);
  connect(&settle_, &QTimer::timeout, this, &NameFileWatcher::settled);
  std::error_code error;
  const auto absolute = std::filesystem::absolute(file, error);
  QStringList paths{path_string(absolute.parent_path())};
  if (QFileInfo(file_).isReadable()) paths << file_;
  if (const auto real = std::filesystem::canonical(file, error); !error) {
    paths << path_string(real.parent_path());
  }
  paths.removeDuplicates();
  watcher_.addPaths(paths);
}

void NameFileWatcher::settled() {
  // A new file is watched from now on; what was written to it before that is read once
  // more after a pause, as no change of it will be reported.
  // (One the host may not read cannot be watched, and the system's refusal would only
  // add a warning to the log at each change of the folder.)
  if (!watcher_.files().contains(file_) && QFileInfo(file_).isReadable() &&
      watcher_.addPath(file_)) {
    settle_.start();
  }
  changed_();
}
