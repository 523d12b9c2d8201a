#include "serial/present_devices.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "pseudo_terminal.h"

namespace fs = std::filesystem;

namespace {

using Names = std::vector<std::string>;

// A stand-in for /dev with the given entries: plain files, or folders for names that
// end in '/' ("serial/by-id/x" makes the folders on the way).
class FakeDev {
 public:
  explicit FakeDev(const Names& entries) {
    for (const auto& entry : entries) {
      fs::create_directories((root() / entry).parent_path());
      if (!entry.ends_with('/')) std::ofstream(root() / entry).put('\n');
    }
  }
  fs::path root() const { return temp_.path().toStdString(); }
  // The names below the root of the devices found, with ttyS<n> answering for the
  // numbers listed.
  Names found(const Names& answering = {}) const {
    Names names;
    const auto answers = [&](const fs::path& line) {
      const auto name = line.filename().string();
      return std::find(answering.begin(), answering.end(), name) != answering.end();
    };
    for (const auto& device : present_serial_devices(root(), answers)) {
      names.push_back(fs::path(device).lexically_relative(root()).generic_string());
    }
    return names;
  }

 private:
  QTemporaryDir temp_;
};

}  // namespace

TEST(PresentDevices, StableNamesFirstElseAdaptersThenTheBuiltInLinesThatAnswer) {
  struct Case {
    const char* what;
    Names entries;
    Names answering;
    Names expected;
  };
  const std::vector<Case> cases = {
      {"nothing", {"tty0", "null", "console"}, {}, {}},
      {"adapters and lines",
       {"ttyUSB1", "ttyUSB0", "ttyACM0", "ttyS0", "ttyS1", "ttyS2", "tty1", "ttyprintk"},
       {"ttyS1"},
       {"ttyUSB0", "ttyUSB1", "ttyACM0", "ttyS1"}},
      {"by-id names hide the kernel's",
       {"ttyUSB0", "serial/by-id/usb-FTDI_FT232R_A1-if00-port0",
        "serial/by-id/usb-Prolific_PL2303-if00-port0"},
       {},
       {"serial/by-id/usb-FTDI_FT232R_A1-if00-port0",
        "serial/by-id/usb-Prolific_PL2303-if00-port0"}},
      {"an empty by-id folder", {"serial/by-id/", "ttyACM3"}, {}, {"ttyACM3"}},
      {"no line answers", {"ttyS0", "ttyS1"}, {}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(FakeDev(c.entries).found(c.answering), c.expected);
  }
  // A missing /dev lists nothing rather than failing.
  EXPECT_EQ(present_serial_devices("/nonexistent/dev", serial_line_answers), Names{});
}

TEST(PresentDevices, TheAdviceListsTheDevicesAndTheExactLinkCommand) {
  struct Case {
    const char* what;
    int port;
    Names present;
    fs::path link_dir;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"none", 1, {}, "/home/op/.config/relay_panel", ". No serial device is present."},
      {"one",
       1,
       {"/dev/ttyUSB0"},
       "/home/op/.config/relay_panel",
       ". Serial devices present: /dev/ttyUSB0. To use it as port 1: ln -sf /dev/ttyUSB0 "
       "/home/op/.config/relay_panel/com1"},
      {"several",
       12,
       {"/dev/ttyACM0", "/dev/ttyS0"},
       "/opt/relay",
       ". Serial devices present: /dev/ttyACM0 /dev/ttyS0. To use one as port 12: ln -sf "
       "/dev/ttyACM0 /opt/relay/com12"},
      {"a folder the shell would split",
       2,
       {"/dev/ttyUSB0"},
       "/home/o'neil/My Relays",
       ". Serial devices present: /dev/ttyUSB0. To use it as port 2: ln -sf /dev/ttyUSB0 "
       "'/home/o'\\''neil/My Relays/com2'"},
      {"no folder of links", 1, {"/dev/ttyUSB0"}, "", ". Serial devices present: /dev/ttyUSB0"},
      {"a device opened by its path: no port number",
       0,
       {"/dev/ttyUSB0"},
       "/opt/relay",
       ". Serial devices present: /dev/ttyUSB0. To use it as port 1: ln -sf /dev/ttyUSB0 "
       "/opt/relay/com1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(missing_device_advice(c.port, c.present, c.link_dir), c.expected);
  }
}

TEST(PresentDevices, OnlyARealUartAnswersAsALine) {
  std::string error;
  const auto terminal = PseudoTerminal::create(error);
  ASSERT_TRUE(terminal) << error;
  EXPECT_FALSE(serial_line_answers(terminal->slave_path()));
  EXPECT_FALSE(serial_line_answers("/dev/null"));
  EXPECT_FALSE(serial_line_answers("/nonexistent/ttyS0"));
}
