// Every file a program reads from its folders passes one trust rule: a regular file that
// nobody but its user, the administrator or the folder's owner (or, in a folder shared
// through a group, a member) could have put there, and that not every user may write.
#include "settings/settings_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "settings/file_trust.h"

namespace {

namespace fs = std::filesystem;

TEST(TrustedFiles, AFileAnotherUserCouldHavePlantedOrMayWriteIsNotUsed) {
  if (::geteuid() != 0) GTEST_SKIP() << "giving a file to another user takes the administrator";
  char pattern[] = "/tmp/trusted_files_XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const fs::path folder = pattern, file = folder / "rules.conf";
  const uid_t other = 65534;
  const std::string not_used = file.string() + ": not used: ";
  const auto plain = [&](mode_t mode, uid_t owner, gid_t group) {
    return [=] {
      std::ofstream(file) << "[address 1]\n";
      ::chmod(file.c_str(), mode);
      ::lchown(file.c_str(), owner, group);
    };
  };
  const struct {
    std::string label;
    mode_t folder_mode;
    gid_t folder_group;
    std::function<void()> plant;
    std::string reason;  // empty: read
  } cases[] = {
      {"root's own file in a shared folder", 01777, 0, plain(0644, 0, 0), ""},
      {"another user's file in a shared folder", 01777, 0, plain(0644, other, other),
       not_used + "it belongs to another user, who may have put it there"},
      {"another user's file in root's private folder", 0755, 0, plain(0644, other, other),
       not_used + "it belongs to another user, who may have put it there"},
      {"a file every user may write in a private folder", 0755, 0, plain(0666, 0, 0),
       not_used + "every user may write it"},
      {"a member's file in a folder shared through a group", 02775, 1234, plain(0664, other, 1234),
       ""},
      {"a member's file of another group", 02775, 1234, plain(0664, other, other),
       not_used + "it belongs to another user, who may have put it there"},
      {"root's link in a private folder", 0755, 0,
       [&] {
         std::ofstream(folder / "target.conf") << "[address 1]\n";
         fs::create_symlink("target.conf", file);
       },
       ""},
      {"a link in a shared folder", 01777, 0,
       [&] {
         std::ofstream(folder / "target.conf") << "[address 1]\n";
         fs::create_symlink("target.conf", file);
       },
       not_used + "it is a symbolic link in a folder that every user may write"},
      {"a link to nothing", 0755, 0, [&] { fs::create_symlink("gone.conf", file); },
       not_used + "it is a symbolic link to a file that does not exist"},
      {"a FIFO, never waited on", 01777, 0, [&] { ::mkfifo(file.c_str(), 0644); },
       not_used + "it is a FIFO, not a file"},
      {"a folder", 0755, 0, [&] { fs::create_directory(file); },
       not_used + "it is a folder, not a file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    fs::remove_all(file);
    fs::remove(folder / "target.conf");
    ASSERT_EQ(::chown(folder.c_str(), 0, c.folder_group), 0);
    ASSERT_EQ(::chmod(folder.c_str(), c.folder_mode), 0);
    c.plant();
    const FileText read = read_folder_settings(folder, "rules.conf");
    if (c.reason.empty()) {
      EXPECT_EQ(read.text, "[address 1]\n") << read.reason;
    } else {
      EXPECT_EQ(read.text, std::nullopt);
      EXPECT_EQ(read.reason, c.reason);
    }
    // A file named by the operator passes the same rule.
    EXPECT_EQ(read_settings_file(file).reason, c.reason);
  }
  fs::remove_all(file);
  EXPECT_EQ(read_folder_settings(folder, "rules.conf").text, "");
  fs::remove_all(folder);
}

}  // namespace
