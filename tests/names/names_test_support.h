#pragma once

#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "names/name_file.h"

// Files and folders for the tests of the name file. Linux only: some cases run in a
// child process that gives up root rights or limits the size of files it may write.

inline std::filesystem::path fixture(const std::string& name) {
  return std::filesystem::path(NAMES_TEST_DATA) / name;
}

inline std::string read_bytes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void write_bytes(const std::filesystem::path& file, const std::string& bytes) {
  std::ofstream(file, std::ios::binary) << bytes;
}

// A fresh folder that a child without root rights may enter, removed with everything
// in it at the end of the test.
class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "relay_names_XXXXXX").string();
    path_ = mkdtemp(pattern.data());
    add_perms(path_, std::filesystem::perms::group_exec | std::filesystem::perms::others_exec);
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
  std::vector<std::string> names() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path_)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  std::filesystem::path path_;
};

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

// The caption and the 16 labels of the main window.
class FakeNameView : public NameView {
 public:
  void set_window_caption(const std::string& text) override { captions.push_back(text); }
  void set_name_label(int relay, const std::string& name) override { labels[relay] = name; }

  std::vector<std::string> captions;
  std::map<int, std::string> labels;
};
