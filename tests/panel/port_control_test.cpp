#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>

#include "link_rig.h"
#include "recording_message_boxes.h"
#include "serial/port_device.h"

namespace {

std::array<IndicatorState, relay_count> all(IndicatorState state) {
  std::array<IndicatorState, relay_count> states;
  states.fill(state);
  return states;
}

class PortControlTest : public ::testing::Test {
 protected:
  LinkRig rig;
  FakePortView view;
  RecordingMessageBoxes messages;
  PortControl control{rig.port, rig.indicators, view, messages};
};

TEST_F(PortControlTest, OpenAndCloseSwitchThePortTheIndicatorsAndTheControls) {
  view.port_text = "3";
  control.toggle_port();
  EXPECT_TRUE(rig.port.is_open());
  EXPECT_EQ(rig.port.selected, 3);
  EXPECT_EQ(rig.port.threshold, 8);
  EXPECT_EQ(rig.indicators.states, all(IndicatorState::Unknown));
  EXPECT_EQ(view.shown, (FakePortView::Shown{"close com", true, true, true, false}));

  rig.port.receive(hex_bytes("22 00 00 00 00 80 05 A7"));
  rig.poll.open_all();
  control.toggle_port();
  EXPECT_FALSE(rig.port.is_open());
  EXPECT_EQ(rig.indicators.states, all(IndicatorState::Idle));
  EXPECT_EQ(view.shown, (FakePortView::Shown{"open com", false, false, false, true}));
  // A grey box is neither green nor red: a click on it queues nothing new.
  rig.poll.relay_clicked(1);
  EXPECT_EQ(rig.poll.pending_command().command, 0x13);

  // Reopened: unknown again although the states were known, and the number is read anew.
  view.port_text = "2";
  control.toggle_port();
  EXPECT_EQ(rig.port.selected, 2);
  EXPECT_EQ(rig.indicators.states, all(IndicatorState::Unknown));
  EXPECT_EQ(rig.poll.watchdog_ticks_left(), 5);  // neither open nor close resets the watchdog
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(PortControlTest, AFailedOpenSaysWhyAndLeavesTheWindowAsItWas) {
  struct Case {
    std::string port_text;
    std::string failure;
    std::string message;
  };
  const Case cases[] = {
      {"3", "Permission denied", "Port 3 (/dev/ttyS2) could not be opened: Permission denied"},
      {"0", "no such port", "Port 0 (no device) could not be opened: no such port"},
      {"", "", "Port \"\" could not be opened: not a port number"},
      {"40000", "", "Port \"40000\" could not be opened: not a port number"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("port \"" + c.port_text + "\"");
    view.port_text = c.port_text;
    rig.port.open_failure = c.failure.empty() ? "unused" : c.failure;
    rig.port.device = c.port_text == "3" ? "/dev/ttyS2" : "";
    messages.shown.clear();

    control.toggle_port();

    EXPECT_FALSE(rig.port.is_open());
    EXPECT_EQ(view.shown, FakePortView::Shown{});
    EXPECT_TRUE(rig.indicators.paints.empty());
    EXPECT_EQ(messages.shown,
              (std::vector<Message>{{c.message, "open com", MessageIcon::Critical}}));
  }
}

// A device named by its path opens as a numbered port does, and a failure names the path.
TEST_F(PortControlTest, ADeviceNamedByItsPathOpensAsANumberedPortDoes) {
  rig.port.open_failure = "No such file or directory";
  EXPECT_FALSE(control.open_device("/dev/ttyUSB7"));
  EXPECT_EQ(rig.port.selected_device, "/dev/ttyUSB7");
  EXPECT_EQ(view.shown, FakePortView::Shown{});
  EXPECT_EQ(messages.shown, (std::vector<Message>{{"/dev/ttyUSB7 could not be opened: No such "
                                                   "file or directory",
                                                   "open com", MessageIcon::Critical}}));

  rig.port.open_failure.clear();
  EXPECT_TRUE(control.open_device("/dev/ttyUSB7"));
  EXPECT_EQ(rig.port.threshold, 8);
  EXPECT_EQ(rig.indicators.states, all(IndicatorState::Unknown));
  EXPECT_EQ(view.shown, (FakePortView::Shown{"close com", true, true, true, false}));
}

#ifdef _WIN32
// COM1 to COM9 are names of their own; from COM10 on Windows knows a port only by its
// device path.
TEST(PortDevice, NumbersMapToComPortsThroughTheDevicePathFromTen) {
  const auto dir = std::filesystem::temp_directory_path() /
                   ("port_device_" + std::to_string(std::random_device{}()));
  std::filesystem::create_directories(dir);
  // A file named like a POSIX link in the program's folder changes nothing here.
  std::ofstream(dir / "com1") << "not a device";
  const struct {
    std::int16_t number;
    std::optional<std::string> device;
  } cases[] = {
      {1, "COM1"},
      {9, "COM9"},
      {10, R"(\\.\COM10)"},
      {255, R"(\\.\COM255)"},
      {32767, R"(\\.\COM32767)"},
      {0, std::nullopt},
      {-3, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.number);
    EXPECT_EQ(port_device(c.number, dir), c.device);
  }
  // So the port box's tooltip names no folder of links either, nor a silent board's
  // message a fallback.
  EXPECT_FALSE(reads_port_links());
  EXPECT_EQ(port_mapping_text(1, dir), "");
  std::filesystem::remove_all(dir);
}
#else
// POSIX only by design: /dev/ttyS devices and symbolic links in the program's folder.
TEST(PortDevice, NumbersMapToTtySUnlessALinkInTheProgramFolderNamesTheDevice) {
  const auto dir = std::filesystem::temp_directory_path() /
                   ("port_device_" + std::to_string(std::random_device{}()));
  std::filesystem::create_directories(dir);
  EXPECT_EQ(port_device(1, dir), "/dev/ttyS0");
  EXPECT_EQ(port_device(255, dir), "/dev/ttyS254");
  EXPECT_EQ(port_device(0, dir), std::nullopt);
  EXPECT_EQ(port_device(-3, dir), std::nullopt);

  // A dangling link still counts: the adapter it names may be plugged in later.
  std::filesystem::create_symlink("/dev/ttyUSB7", dir / "com1");
  EXPECT_EQ(port_device(1, dir), (dir / "com1").string());
  EXPECT_EQ(port_device(2, dir), "/dev/ttyS1");
  EXPECT_TRUE(reads_port_links());
  // A silent board's message says which of the two it was.
  EXPECT_EQ(port_mapping_text(1, dir), "port 1: a link to /dev/ttyUSB7");
  EXPECT_EQ(port_mapping_text(2, dir),
            "port 2: no link com2 in " + dir.string() + ", so the default device");
  EXPECT_EQ(port_mapping_text(2, {}), "port 2: no folder for a link com2, so the default device");
  EXPECT_EQ(port_mapping_text(0, dir), "");
  std::filesystem::remove_all(dir);
}
#endif

}  // namespace
