#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <ostream>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "common/system_error_text.h"
#include "file_bytes.h"
#include "names/name_file.h"
#include "system_code_page.h"
#include "text/ansi_code_page.h"

// Files and folders for the tests of the name file. Some cases run in a child process
// that gives up root rights or limits the size of files it may write: those are POSIX
// only, and Windows has its own cases for the same failures (a read-only file, a file
// another program holds open).

inline std::filesystem::path fixture(const std::string& name) {
  return std::filesystem::path(NAMES_TEST_DATA) / name;
}

// A fresh folder that a child without root rights may enter, removed with everything
// in it at the end of the test.
class TempFolder {
 public:
  TempFolder() : path_(unique_folder(std::filesystem::temp_directory_path())) {
    add_perms(path_, std::filesystem::perms::group_exec | std::filesystem::perms::others_exec);
  }
  // A new folder under `root` that no other test (or test program) uses.
  static std::filesystem::path unique_folder(const std::filesystem::path& root) {
    std::random_device seed;
    for (;;) {
      const auto path = root / ("relay_names_" + std::to_string(seed()));
      if (std::filesystem::create_directory(path)) return path;
    }
  }
  ~TempFolder() {
    std::error_code ignored;
    add_perms(path_, std::filesystem::perms::owner_all);
    std::filesystem::remove_all(path_, ignored);
  }
  static void add_perms(const std::filesystem::path& path, std::filesystem::perms perms) {
    std::error_code ignored;
    std::filesystem::permissions(path, perms, std::filesystem::perm_options::add, ignored);
  }
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
  // The names of the files in the folder: a failed write must leave no temporary file.
  // Lock files stay on purpose and are left out.
  std::vector<std::string> names() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path_)) {
      const std::string name = entry.path().filename().string();
      if (!name.ends_with(".lock")) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  std::filesystem::path path_;
};

#ifndef _WIN32
// How a child process meets the file system: as an operator, whom file permissions bind
// (root gives up its rights, becoming "nobody"), on a disk too full for more than
// 4096 bytes in any file, or without /proc (as in a bare chroot or container).
enum class ChildRole { operator_rights, full_disk, without_proc };

// The exit code of a child that could not take its role (hiding /proc needs root).
constexpr int child_role_unavailable = 77;

// Runs `body` in a child process and returns its exit code (-1 if it did not exit).
inline int run_in_child(ChildRole role, const std::function<int()>& body) {
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    if (role == ChildRole::without_proc) {
      // In a mount namespace of its own, so that the empty /proc stays in this child.
      if (unshare(CLONE_NEWNS) != 0 ||
          mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
          mount("none", "/proc", "tmpfs", 0, nullptr) != 0) {
        _exit(child_role_unavailable);
      }
    } else if (role == ChildRole::full_disk) {
      std::signal(SIGXFSZ, SIG_IGN);
      const rlimit limit{4096, 4096};
      setrlimit(RLIMIT_FSIZE, &limit);
    } else if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) {
      _exit(10);
    }
    _exit(body());
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The id of a process that has ended and been reaped: a program killed earlier.
inline pid_t ended_process_id() {
  const pid_t pid = fork();
  if (pid == 0) _exit(0);
  waitpid(pid, nullptr, 0);
  return pid;
}

#endif  // _WIN32

// Where a case about the encoding of name files applies:
enum class Where {
  everywhere,
  chinese,        // unmarked files are code page 936 (or GB18030)
  western,        // unmarked files are code page 1252, as on a Western European Windows
  unmarked_utf8,  // a file of UTF-8 without a mark is taken as UTF-8 (not on Windows,
                  // which reads every unmarked file in its ANSI code page)
};

inline bool applies(Where where) {
  switch (where) {
    case Where::chinese:
      return chinese_code_page();
    case Where::western:
      return ansi_code_page() == 1252;
    case Where::unmarked_utf8:
      return unmarked_utf8_files;
    case Where::everywhere:
      break;
  }
  return true;
}

// Windows errors that the name file's failures report.
constexpr int windows_path_not_found = 3;      // ERROR_PATH_NOT_FOUND
constexpr int windows_access_denied = 5;       // ERROR_ACCESS_DENIED
constexpr int windows_sharing_violation = 32;  // ERROR_SHARING_VIOLATION

// The system's own words for a failure, as the operator is told them: the C library's
// for an errno, Windows' own for a Windows error (in the system's language, UTF-8).
inline std::string reason_text([[maybe_unused]] std::errc posix, [[maybe_unused]] int windows) {
#ifdef _WIN32
  return system_error_text(std::error_code(windows, std::system_category()));
#else
  return std::make_error_code(posix).message();
#endif
}

// Messages readable in a failure's report.
inline void PrintTo(const Message& message, std::ostream* out) {
  *out << "{\"" << message.text << "\", \"" << message.caption << "\", icon "
       << static_cast<int>(message.icon) << "}";
}

// The caption and the 16 labels of the main window.
class FakeNameView : public NameView {
 public:
  void set_window_caption(const std::string& text) override { captions.push_back(text); }
  void set_name_label(int relay, const std::string& name) override { labels[relay] = name; }

  std::vector<std::string> captions;
  std::map<int, std::string> labels;
};
