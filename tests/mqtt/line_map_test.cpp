#include "mqtt/line_map.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <filesystem>
#include <fstream>

namespace {
// The file's fault, or else port 3's.
std::string fault_of(const char* text) {
  const auto map = parse_line_map(text, "f");
  if (const auto* why = std::get_if<std::string>(&map)) return *why;
  const auto& lines = std::get<LineMap>(map);
  const auto line = lines.find(3);
  return line == lines.end() ? "" : line->second.fault;
}
}  // namespace

TEST(LineMap, ReadsMappingsAndSkipsCommentsAndBlankLines) {
  const auto map = parse_line_map(
      "# served lines\n\n3 = mqtt://pi.local/relayboard/ttyUSB0\r\n "
      "12=mqtt://10.0.0.2:1884/site/a/com1",
      "lines.conf");
  ASSERT_TRUE(std::holds_alternative<LineMap>(map)) << std::get<std::string>(map);
  const LineMap expected{{3, {"pi.local", 1883, "relayboard", "ttyUSB0"}},
                         {12, {"10.0.0.2", 1884, "site/a", "com1"}}};
  EXPECT_EQ(std::get<LineMap>(map), expected);
  EXPECT_EQ(line_url(expected.at(12)), "mqtt://10.0.0.2:1884/site/a/com1");
  EXPECT_EQ(line_url(expected.at(3)), "mqtt://pi.local/relayboard/ttyUSB0");
}

TEST(LineMap, NamesTheFileAndLineOfEachFault) {
  const struct {
    const char* text;
    const char* error;
  } cases[] = {
      {"3 mqtt://h/p/l", "f:1: no '=' between port and line"},
      {"\nx = mqtt://h/p/l", "f:2: no port number before '='"},
      {"40000 = mqtt://h/p/l", "f:1: no port number before '='"},
      {"3 = tcp://h/p/l", "f:1: not an mqtt:// address"},
      {"3 = mqtt://h", "f:1: no prefix and line after the broker"},
      {"3 = mqtt://h:0/p/l", "f:1: no broker port 0"},
      {"3 = mqtt://:1883/p/l", "f:1: no broker host"},
      {"3 = mqtt://h/l", "f:1: no line after the prefix"},
      {"3 = mqtt://h/p/", "f:1: no line after the prefix"},
      {"3 = mqtt://h/p//l", "f:1: an empty or wildcard level in the prefix"},
      {"3 = mqtt://h/p/#", "f:1: a wildcard in the line"},
      {"3 = mqtt://h/p/l\n03 = mqtt://h/p/m", "f:2: port 3 mapped twice"},
      {"3 = mqtt://h/p/l\r\n3 = mqtt://h/p/m", "f:2: 3: already set on line 1"},
  };
  for (const auto& c : cases) EXPECT_EQ(fault_of(c.text), c.error) << c.text;
}

// A mapping that cannot be used keeps only its own port closed; the others still serve.
TEST(LineMap, AFaultyMappingSpoilsOnlyItsOwnPort) {
  const auto map = parse_line_map(
      "3 = mqtt://h/p/l\n4 = mqtts://h/p/m\n5 = tcp://h/p/n\n5.user = u\n6 = mqtt://h/p/o\n", "f");
  ASSERT_TRUE(std::holds_alternative<LineMap>(map)) << std::get<std::string>(map);
  const LineMap& lines = std::get<LineMap>(map);
  EXPECT_EQ(lines.at(3), (ServedLineAddress{"h", 1883, "p", "l"}));
  EXPECT_EQ(lines.at(4).fault,
            "f:2: mqtts:// needs 4.cafile, the authority the broker's certificate is from");
  EXPECT_EQ(std::pair(lines.at(5).fault, lines.at(5).written),
            std::pair(std::string("f:3: not an mqtt:// address"), std::string("tcp://h/p/n")));
  EXPECT_EQ(lines.at(6), (ServedLineAddress{"h", 1883, "p", "o"}));
}

TEST(LineMap, ReadsTheLoginAndTlsKeysOfAMappedPort) {
  const auto map = parse_line_map(
      "3 = mqtts://broker.site/relayboard/ttyUSB0\n3.cafile = /etc/ssl/site.pem  # the site's own\n"
      " 3.user=panel\n3.password_file = /home/op/.panel-password\n",
      "f");
  ASSERT_TRUE(std::holds_alternative<LineMap>(map)) << std::get<std::string>(map);
  const ServedLineAddress& line = std::get<LineMap>(map).at(3);
  EXPECT_EQ(line, (ServedLineAddress{"broker.site", 8883, "relayboard", "ttyUSB0", true,
                                     "/etc/ssl/site.pem", "panel", "/home/op/.panel-password"}));
  EXPECT_EQ(line_url(line), "mqtts://broker.site/relayboard/ttyUSB0");

  const struct {
    const char* text;
    const char* error;
  } cases[] = {
      {"3 = mqtts://h/p/l",
       "f:1: mqtts:// needs 3.cafile, the authority the broker's "
       "certificate is from"},
      {"3 = mqtt://h/p/l\n3.cafile = c", "f:1: 3.cafile is for mqtts:// lines"},
      {"\n3 = mqtt://h/p/l\n3.password_file = p", "f:2: 3.password_file needs 3.user"},
      {"3.user = u\n3 = mqtt://h/p/l", "f:1: port 3 not mapped above"},
      {"3 = mqtt://h/p/l\n3.user = u\n3.user = v", "f:3: 3.user: already set on line 2"},
      {"3 = mqtt://h/p/l\n3.login = u",
       "f:2: no key login (cafile, user, password_file, plain_password)"},
      {"3 = mqtt://h/p/l\n3.user =", "f:2: no value after '='"},
      {"3 = mqtt://h/p/l\n3.plain_password = sure", "f:2: plain_password is yes or no"},
      {"3 = mqtt://h/p/l\n3.plain_password = no\n3.plain_password = yes",
       "f:3: 3.plain_password: already set on line 2"},
  };
  for (const auto& c : cases) EXPECT_EQ(fault_of(c.text), c.error) << c.text;
}

TEST(LineMap, TooltipNamesTheMappedLineOrTheFileFault) {
  const auto folder = std::filesystem::temp_directory_path() / "line_map_tooltip_test";
  std::filesystem::create_directories(folder);
  const auto file = folder / "lines.conf";
  std::ofstream(file) << "3 = mqtt://pi.local/relayboard/ttyUSB0\n";
  EXPECT_EQ(
      line_map_tooltip("3", folder),
      "Port 3: mqtt://pi.local/relayboard/ttyUSB0\nserved lines are read from " + file.string());
  EXPECT_EQ(line_map_tooltip("4", folder), std::nullopt);
  std::ofstream(file) << "3 = mqtt://pi.local/relayboard/ttyUSB0\n4 =\n";
  EXPECT_EQ(line_map_tooltip("4", folder), file.string() + ":2: not an mqtt:// address");
  EXPECT_EQ(
      line_map_tooltip("3", folder),
      "Port 3: mqtt://pi.local/relayboard/ttyUSB0\nserved lines are read from " + file.string());
#ifndef _WIN32
  // A FIFO put in its place is refused, never waited on.
  std::filesystem::remove(file);
  ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
  EXPECT_EQ(line_map_tooltip("3", folder), file.string() + ": not used: it is a FIFO, not a file");
#endif
  std::filesystem::remove_all(folder);
}

#ifndef _WIN32
TEST(LineMap, APasswordFileIsReadOnlyWhenOnlyItsOwnerMayReadIt) {
  const auto file = std::filesystem::temp_directory_path() / "line_map_password_test";
  std::ofstream(file) << "s3cret\r\nnext line\n";
  ServedLineAddress line{"localhost", 1883, "p", "l", false, "", "panel", file.string()};
  ::chmod(file.c_str(), 0644);
  const auto exposed = line_password(line);
  ASSERT_EQ(exposed.index(), 1u);
  EXPECT_EQ(std::get<1>(exposed), "the password file " + file.string() +
                                      ": readable by others (mode 0644); let only its owner "
                                      "read it (chmod 600)");
  ::chmod(file.c_str(), 0600);
  const auto password = line_password(line);
  ASSERT_EQ(password.index(), 0u);
  EXPECT_EQ(std::get<0>(password), "s3cret");
  std::filesystem::remove(file);
}
#endif
