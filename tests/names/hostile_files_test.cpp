// A name file in a folder that other users may write (/tmp, a shared folder), used by a
// program with more rights than theirs (root's panel, a service): whatever they plant
// there is never followed, written through or waited on. POSIX only: the planter is a
// child process that gives up root rights.
#ifndef _WIN32

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <set>
#include <string>

#include "names/default_name_text.h"
#include "names/disk_file.h"
#include "names/name_file.h"
#include "names_test_support.h"
#include "recording_message_boxes.h"
#include "told_store.h"

namespace {

namespace fs = std::filesystem;

// "uid:gid mode" of the name itself.
std::string owner_and_mode(const fs::path& file) {
  struct stat info {};
  ::lstat(file.c_str(), &info);
  char text[40];
  std::snprintf(text, sizeof text, "%u:%u %04o", info.st_uid, info.st_gid, info.st_mode & 07777);
  return text;
}

class HostileFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to be the program and another user";
  }
  // A new shared folder (1777) and root's 0600 file beside it; then `plant` runs as the
  // other user (nobody), who may write the shared folder.
  void plant(const std::function<void()>& as_other_user) {
    fs::remove_all(shared);
    fs::create_directory(shared);
    fs::permissions(shared, fs::perms::all | fs::perms::sticky_bit);
    write_bytes(victim, secret);
    fs::permissions(victim, fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_EQ(run_in_child(ChildRole::operator_rights, [&] { return as_other_user(), 0; }), 0);
  }
  // What the operator is told at start (the panel's and the bridge's way), one text.
  std::string start(const fs::path& file) {
    RecordingMessageBoxes messages;
    ToldStore store{messages};
    FakeNameView view;
    NameFile(file, store.store, messages, view).open_or_create();
    std::string told;
    for (const Message& message : messages.shown) told += message.text;
    return told;
  }
  // A rename as the panel's dialog and relayctl make it: what the operator is told.
  static std::string rename(const fs::path& file) {
    const WriteOutcome outcome =
        ProfileStore().write_value(file, "address 1", "relay1name", "pump");
    return outcome.written ? "written" : outcome.error ? outcome.error->text : "refused";
  }
  std::set<std::string> shared_names() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(shared)) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }

  TempFolder folder;
  fs::path shared = folder / "shared", name_file = shared / "name.txt";
  fs::path victim = folder / "victim";
  const std::string secret = "root's own\n";
};

// Whatever another user planted, the start says why it cannot use it, touches nothing
// outside the shared folder, and never waits. A file without the marker is kept in a
// new backup with its own owner and permissions, never through the planted name.
TEST_F(HostileFilesTest, TheStartNeverFollowsWritesThroughOrWaitsOnWhatAnotherUserPlanted) {
  const std::string garbage = "not a name file\r\n", bak = name_file.string() + ".bak";
  const std::string unread = name_file.string() + " could not be read: ";
  const struct {
    std::string label;
    std::function<void()> plant;
    std::string told;
    std::set<std::string> names;  // what the shared folder holds afterwards
  } cases[] = {
      {"the name file linked to a file of root's",
       [&] { fs::create_symlink(victim, name_file); },
       unread + "it is a symbolic link that belongs to another user",
       {"name.txt", "name.txt.lock"}},
      {"a FIFO",
       [&] { ::mkfifo(name_file.c_str(), 0666); },
       unread + "it is a FIFO, not a file",
       {"name.txt", "name.txt.lock"}},
      // Another user's file is not the program's to read, to back up or to set up
      // again, whatever it holds.
      {"another user's file without the marker, a backup name linked to root's file",
       [&] {
         write_bytes(name_file, garbage);
         ::chmod(name_file.c_str(), 0640);
         fs::create_symlink(victim, bak);
       },
       unread + "it belongs to another user, who may have put it there",
       {"name.txt", "name.txt.bak", "name.txt.lock"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    plant(c.plant);
    EXPECT_EQ(start(name_file), c.told);
    EXPECT_EQ(read_bytes(victim), secret);
    EXPECT_EQ(owner_and_mode(victim), "0:0 0600");
    EXPECT_EQ(shared_names(), c.names);
  }
  EXPECT_EQ(read_bytes(name_file), garbage);
  EXPECT_EQ(owner_and_mode(name_file), "65534:65534 0640");
  // Root's own file is bounded all the same.
  fs::remove(name_file);
  fs::resize_file((write_bytes(name_file, ""), name_file), name_file_byte_limit + 1);
  EXPECT_EQ(start(name_file), unread + "it is larger than 16 MB, the most a name file may hold");
  // A file the program makes is one it trusts at the next start, whatever the umask.
  fs::remove(name_file);
  const mode_t umask_before = ::umask(0);
  start(name_file);
  ::umask(umask_before);
  EXPECT_EQ(owner_and_mode(name_file), "0:0 0664");
  EXPECT_EQ(start(name_file), "");
}

// A rename's lock file is made new beside the path given; one planted as a link or a
// FIFO refuses the rename at once instead of creating or waiting on anything. Root's own
// link is followed (and locked beside the link), but not to a device.
TEST_F(HostileFilesTest, ARenameLocksOnlyARegularFileBesideThePathGiven) {
  const fs::path lock = shared / "name.txt.lock", absent = folder / "absent";
  const std::string refused = name_file.string() + " could not be written: its lock file " +
                              lock.string() + " could not be opened: ";
  const struct {
    std::string label;
    std::function<void()> plant;
    std::string told;
  } cases[] = {
      {"a link to a file of root's", [&] { fs::create_symlink(victim, lock); },
       refused + "it is a symbolic link, which is not followed here"},
      {"a link to a file yet to be made", [&] { fs::create_symlink(absent, lock); },
       refused + "it is a symbolic link, which is not followed here"},
      {"a FIFO", [&] { ::mkfifo(lock.c_str(), 0666); }, refused + "it is a FIFO, not a file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    plant([&] { write_bytes(name_file, default_name_text()), c.plant(); });
    EXPECT_EQ(rename(name_file), c.told);
    EXPECT_EQ(read_bytes(victim), secret);
    EXPECT_FALSE(fs::exists(absent));
  }

  const fs::path own = folder / "own", real = folder / "real.txt";
  fs::create_directory(own);
  write_bytes(real, default_name_text());
  fs::create_symlink(real, own / "name.txt");
  fs::create_symlink("/dev/null", own / "null.txt");
  EXPECT_EQ(rename(own / "name.txt"), "written");
  EXPECT_TRUE(fs::is_symlink(own / "name.txt"));
  EXPECT_TRUE(fs::exists(own / "name.txt.lock"));
  EXPECT_FALSE(fs::exists(folder / "real.txt.lock"));
  EXPECT_EQ(rename(own / "null.txt"),
            (own / "null.txt").string() + " could not be read: it is a device, not a file");
}

// A rename keeps the file's owner, group and permissions: the administrator renaming a
// service's name file leaves it the service's. A user who could not keep them is refused.
TEST_F(HostileFilesTest, ARenameKeepsTheOwnerOrIsRefused) {
  const fs::path state = folder / "state", service = state / "name.txt", open = folder / "open",
                 theirs = open / "name.txt";
  fs::create_directory(state);
  ::chown(state.c_str(), 65534, 65534);
  write_bytes(service, default_name_text());
  ::chown(service.c_str(), 65534, 65534);
  ::chmod(service.c_str(), 0640);
  EXPECT_EQ(rename(service), "written");
  EXPECT_EQ(owner_and_mode(service), "65534:65534 0640");

  fs::create_directory(open);
  fs::permissions(open, fs::perms::all);
  write_bytes(theirs, default_name_text());
  ::chown(theirs.c_str(), 0, 65534);
  ::chmod(theirs.c_str(), 0664);
  const std::string expected = theirs.string() +
                               " could not be written: its owner and group could not be kept "
                               "(only they or the administrator may replace it)";
  EXPECT_EQ(
      run_in_child(ChildRole::operator_rights, [&] { return rename(theirs) == expected ? 0 : 1; }),
      0);
  EXPECT_EQ(read_bytes(theirs), default_name_text());
  EXPECT_EQ(owner_and_mode(theirs), "0:65534 0664");
}

}  // namespace

#endif  // _WIN32
