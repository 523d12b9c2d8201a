#include "serial/com_port_names.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

TEST(ComPortNumber, ReadsThePlainAndTheDevicePathForm) {
  const std::pair<std::string, std::optional<int>> cases[] = {
      {"COM1", 1},
      {"com7", 7},
      {"\\\\.\\COM10", 10},
      {"\\\\.\\com256", 256},
      {"COM", std::nullopt},
      {"COM0", std::nullopt},
      {"COM01", std::nullopt},
      {"COM1a", std::nullopt},
      {"LPT1", std::nullopt},
      {"\\\\.\\CNCA0", std::nullopt},
      {"COM1234567", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& [name, number] : cases) EXPECT_EQ(com_port_number(name), number) << name;
}

TEST(ComPortNames, SortAsTheOperatorCountsAndListAsText) {
  std::vector<std::string> names = {"COM10", "CNCA0", "COM2", "\\\\.\\COM3", "COM1"};
  sort_port_names(names);
  EXPECT_EQ(names, (std::vector<std::string>{"COM1", "COM2", "\\\\.\\COM3", "COM10", "CNCA0"}));
  EXPECT_EQ(present_ports_text({"COM2", "COM10"}), ". Serial ports present: COM2 COM10");
  EXPECT_EQ(present_ports_text({}), ". No serial port is present.");
}

}  // namespace
