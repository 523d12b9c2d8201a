// Settings files (rules.conf, lines.conf, events.conf) in a folder that every user may
// write are used only when they cannot have been planted there.
#include "common/settings_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

TEST(FolderSettings, InAFolderEveryUserMayWriteOnlyTheirOwnersFilesAreRead) {
  if (::geteuid() != 0) GTEST_SKIP() << "giving a file to another user takes the administrator";
  char pattern[] = "/tmp/folder_settings_XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const fs::path folder = pattern;
  const fs::path file = folder / "rules.conf";
  const uid_t other = 12345;
  const std::string shared = " in a folder that every user can write";
  const struct {
    mode_t folder_mode;
    uid_t owner;
    bool link;
    std::string reason;  // empty: read
  } cases[] = {
      {01777, 0, false, ""},
      {01777, other, false, "it belongs to another user (uid 12345)" + shared},
      {01777, 0, true, "it is a link" + shared},
      // A folder only its owner writes is the owner's to fill.
      {0755, other, false, ""},
      {0755, 0, true, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.folder_mode) + " " + std::to_string(c.owner) +
                 (c.link ? " link" : ""));
    fs::remove(file);
    fs::remove(folder / "target.conf");
    std::ofstream(c.link ? folder / "target.conf" : file) << "[address 1]\n";
    if (c.link) fs::create_symlink("target.conf", file);
    ASSERT_EQ(::lchown(file.c_str(), c.owner, 0), 0);
    ASSERT_EQ(::chmod(folder.c_str(), c.folder_mode), 0);

    const FileText read = read_folder_settings(folder, "rules.conf");
    if (c.reason.empty()) {
      EXPECT_EQ(read.text, "[address 1]\n") << read.reason;
    } else {
      EXPECT_EQ(read.text, std::nullopt);
      EXPECT_EQ(read.reason, file.string() + ": not used: " + c.reason);
    }
  }
  fs::remove_all(folder);
}

}  // namespace
