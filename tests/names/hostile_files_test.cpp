// A name file in a folder that other users may write (/tmp, a shared folder), used by a
// program with more rights than theirs (root's panel, a service): whatever they plant
// there is never followed, written through or waited on. POSIX only: the planter is a
// child process that gives up root rights.
#ifndef _WIN32

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "names/default_name_text.h"
#include "names/disk_file.h"
#include "names/name_file.h"
#include "names_test_support.h"
#include "recording_message_boxes.h"
#include "told_store.h"

namespace {

namespace fs = std::filesystem;

constexpr uid_t other_user = 65534;  // what run_in_child's operator becomes

struct Ownership {
  uid_t uid;
  gid_t gid;
  mode_t mode;
  friend bool operator==(const Ownership&, const Ownership&) = default;
};

Ownership ownership_of(const fs::path& file) {
  struct stat info {};
  ::lstat(file.c_str(), &info);
  return {info.st_uid, info.st_gid, info.st_mode & 07777};
}

class HostileFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0)
      GTEST_SKIP() << "needs root, to be the program and to become another user";
    fs::create_directory(shared);
    fs::permissions(shared, fs::perms::all | fs::perms::sticky_bit);
    write_bytes(victim, secret);
    fs::permissions(victim, fs::perms::owner_read | fs::perms::owner_write);
  }

  // Runs `plant` as the other user, who may write the shared folder.
  static void as_other_user(const std::function<void()>& plant) {
    ASSERT_EQ(run_in_child(ChildRole::operator_rights, [&] { return plant(), 0; }), 0);
  }

  // The name file's start as the panel and the bridge make it: what the operator is told.
  std::vector<std::string> start(const fs::path& file) {
    RecordingMessageBoxes messages;
    ToldStore store{messages};
    FakeNameView view;
    NameFile names(file, store.store, messages, view);
    names.open_or_create();
    std::vector<std::string> told;
    for (const Message& message : messages.shown) told.push_back(message.text);
    return told;
  }

  // A rename as the panel's dialog and relayctl make it: what the operator is told.
  std::string rename(const fs::path& file) {
    const WriteOutcome outcome =
        ProfileStore().write_value(file, "address 1", "relay1name", "pump");
    if (outcome.written) return "written";
    return outcome.error ? outcome.error->text : "refused";
  }

  TempFolder folder;
  fs::path shared = folder / "shared";
  fs::path name_file = shared / "name.txt";
  fs::path victim = folder / "victim";
  const std::string secret = "root's own\n";
};

// Whatever another user planted beside the name file, the start tells the operator why
// it cannot use it, touches nothing outside the shared folder, and never waits.
TEST_F(HostileFilesTest, TheStartNeverFollowsWritesThroughOrWaitsOnWhatAnotherUserPlanted) {
  const std::string garbage = "not a name file\r\n";
  const std::string prefix = name_file.string() + " could not be read: ";
  const struct {
    std::string label;
    std::function<void(const fs::path&, const fs::path&)> plant;  // name file, victim
    std::vector<std::string> told;
    std::vector<std::string> names;  // what the shared folder holds afterwards
  } cases[] = {
      {"the name file linked to a file of root's",
       [](const fs::path& file, const fs::path& target) { fs::create_symlink(target, file); },
       {prefix + "it is a symbolic link that belongs to another user"},
       {"name.txt"}},
      {"a FIFO",
       [](const fs::path& file, const fs::path&) { ::mkfifo(file.c_str(), 0666); },
       {prefix + "it is a FIFO, not a file"},
       {"name.txt"}},
      {"a file over the size limit",
       [](const fs::path& file, const fs::path&) {
         fs::resize_file((write_bytes(file, ""), file), name_file_byte_limit + 1);
       },
       {prefix + "it is larger than 16 MB, the most a name file may hold"},
       {"name.txt"}},
      {"a backup name linked to a file of root's",
       [&](const fs::path& file, const fs::path& target) {
         write_bytes(file, garbage);
         fs::permissions(file,
                         fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
         fs::create_symlink(target, fs::path(file) += ".bak");
       },
       {"name file created"},
       {"name.txt", "name.txt.bak", "name.txt.bak.1"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    fs::remove_all(shared);
    SetUp();
    as_other_user([&] { c.plant(name_file, victim); });
    EXPECT_EQ(start(name_file), c.told);
    EXPECT_EQ(read_bytes(victim), secret);
    EXPECT_EQ(ownership_of(victim), (Ownership{0, 0, 0600}));
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(shared)) {
      if (entry.path().extension() != ".lock") names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, c.names);
  }
  // The first case's names were kept in a new backup with the file's own owner and
  // permissions, and the file was set up.
  EXPECT_EQ(read_bytes(name_file.string() + ".bak.1"), garbage);
  EXPECT_EQ(ownership_of(name_file.string() + ".bak.1"), (Ownership{other_user, other_user, 0640}));
  EXPECT_EQ(read_bytes(name_file), default_name_text());
}

// A rename's lock file is made new beside the path given; a lock file planted as a link
// or a FIFO refuses the rename at once instead of creating or waiting on anything.
TEST_F(HostileFilesTest, ARenameLocksOnlyARegularFileBesideThePathGiven) {
  const fs::path lock = shared / "name.txt.lock";
  const std::string refused = name_file.string() + " could not be written: its lock file " +
                              lock.string() + " could not be opened: ";
  const fs::path absent = folder / "absent";
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
      {"the name file linked to a file of root's",
       [&] {
         fs::remove(name_file);
         fs::create_symlink(victim, name_file);
       },
       name_file.string() +
           " could not be read: it is a symbolic link that belongs to another user"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    fs::remove_all(shared);
    SetUp();
    as_other_user([&] { write_bytes(name_file, default_name_text()), c.plant(); });
    EXPECT_EQ(rename(name_file), c.told);
    EXPECT_EQ(read_bytes(victim), secret);
    EXPECT_FALSE(fs::exists(absent));
  }

  // Root's own link to a file elsewhere is followed, and locked beside the link.
  const fs::path own = folder / "own", real = folder / "real.txt";
  fs::create_directory(own);
  write_bytes(real, default_name_text());
  fs::create_symlink(real, own / "name.txt");
  EXPECT_EQ(rename(own / "name.txt"), "written");
  EXPECT_TRUE(fs::is_symlink(own / "name.txt"));
  EXPECT_TRUE(fs::exists(own / "name.txt.lock"));
  EXPECT_FALSE(fs::exists(folder / "real.txt.lock"));
  // ...but a link to a device is not.
  fs::create_symlink("/dev/null", own / "null.txt");
  EXPECT_EQ(rename(own / "null.txt"),
            (own / "null.txt").string() + " could not be read: it is a device, not a file");
}

// A rename keeps the file's owner, group and permissions: the administrator renaming a
// service's name file leaves it the service's. A user who could not keep them is refused.
TEST_F(HostileFilesTest, ARenameKeepsTheOwnerOrIsRefused) {
  const fs::path service = folder / "service", open = folder / "open";
  fs::create_directory(service);
  fs::create_directory(open);
  fs::permissions(open, fs::perms::all);
  write_bytes(service / "name.txt", default_name_text());
  ::chown((service / "name.txt").c_str(), other_user, other_user);
  ::chmod((service / "name.txt").c_str(), 0640);
  EXPECT_EQ(rename(service / "name.txt"), "written");
  EXPECT_EQ(ownership_of(service / "name.txt"), (Ownership{other_user, other_user, 0640}));

  write_bytes(open / "name.txt", default_name_text());
  ::chmod((open / "name.txt").c_str(), 0666);
  int result = run_in_child(ChildRole::operator_rights, [&] {
    const std::string told = rename(open / "name.txt");
    std::fprintf(stderr, "told: %s\n", told.c_str());
    return told == (open / "name.txt").string() +
                       " could not be written: its owner and group could not be kept (only "
                       "they or the administrator may replace it)"
               ? 0
               : 1;
  });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(read_bytes(open / "name.txt"), default_name_text());
  EXPECT_EQ(ownership_of(open / "name.txt"), (Ownership{0, 0, 0666}));
}

}  // namespace

#endif  // _WIN32
