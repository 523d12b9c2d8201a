#include "bridge/name_command.h"

#include <gtest/gtest.h>

#include <random>

#include "file_bytes.h"

namespace {

// The reasons are the local rename's own tests'; here, that the bridge's rename goes
// through them and changes one line of a hand-written GB18030 file.
TEST(NameCommand, ARenameStoresThroughTheLocalChecksAndTouchesOneLine) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("relay_name_command_" + std::to_string(std::random_device()()) + ".txt");
  const std::string head = "[address 0]\r\n[address 3]\r\nrelay1name=\xB1\xC3\r\n; by hand\n";
  const struct {
    std::string name;
    CommandOutcome outcome;
    std::string file;  // the relay 2 line afterwards
  } rows[] = {
      {"泵 2", CommandOutcome::done, "relay2name = \xB1\xC3 2\r\n"},
      {"Pump\n3", CommandOutcome::refused, "relay2name = Fan \r\n"},
      {"\xB1\xC3", CommandOutcome::refused, "relay2name = Fan \r\n"},  // not UTF-8
  };
  ProfileStore store;
  for (const auto& row : rows) {
    write_bytes(path, head + "relay2name = Fan \r\n");
    EXPECT_EQ(rename_relay(path, store, 3, 2, row.name).outcome, row.outcome) << row.name;
    EXPECT_EQ(read_bytes(path), head + row.file);
  }
  std::filesystem::remove(path);
  const RenameAnswer gone = rename_relay(path, store, 3, 1, "Pump");
  EXPECT_EQ(gone.outcome, CommandOutcome::not_done);
  EXPECT_EQ(gone.reason, path.string() + " not found.");
}

}  // namespace
