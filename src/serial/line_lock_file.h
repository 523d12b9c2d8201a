#pragma once

#include <string>

// The device's lock file while this program holds the line, in the folder and with the
// text (process number, program, machine, then the machine's and the boot's ids) that
// the Qt programs write and other serial programs honour. Written without a sync: a lock file that
// a crash loses names a process that no longer runs anyway.
class LineLockFile {
 public:
  enum class Outcome { taken, held, failed };

  LineLockFile() = default;
  ~LineLockFile() { release(); }
  LineLockFile(const LineLockFile&) = delete;
  LineLockFile& operator=(const LineLockFile&) = delete;

  // held: the file exists (its maker may still run); failed: it cannot be made, with
  // errno set. Where no lock folder can be used the line goes without a file.
  Outcome take(const std::string& device_node);
  void release();

 private:
  std::string path_;
};
