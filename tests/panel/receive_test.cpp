#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "link_rig.h"

namespace {

// The opened relays as a bit mask (bit r-1: relay r).
unsigned opened_mask(const LinkRig& rig) {
  unsigned mask = 0;
  for (int relay = 1; relay <= 16; ++relay) {
    if (rig.indicators.box_colour(relay) == colour_green) mask |= 1u << (relay - 1);
  }
  return mask;
}

// With all relays known closed and three ticks left on the watchdog, a frame arrives.
TEST(Receive, OnlyAFrameWithTheRightHeaderAndChecksumPaintsAndReArmsTheWatchdog) {
  struct Case {
    std::string wire;
    std::optional<unsigned> opened;  // none: the frame is dropped
  };
  const Case cases[] = {
      {"22 00 00 00 00 80 05 A7", 0x8005},  // relays 1, 3, 16
      {"22 01 10 00 00 FF FF 31", 0xFFFF},
      {"22 00 00 00 00 00 00 22", 0x0000},           // unchanged states still repaint
      {"22 07 33 44 55 00 01 F6", 0x0001},           // address bytes ignored
      {"22 00 00 00 00 80 05 A6", std::nullopt},     // checksum off by one
      {"23 00 00 00 00 80 05 A8", std::nullopt},     // checksum right, header wrong
      {"00 22 00 00 00 00 80 05 A7", std::nullopt},  // a stray byte before a valid frame
  };
  const std::vector<int> nine_one_ten_two = {9, 1, 10, 2, 11, 3, 12, 4, 13, 5, 14, 6, 15, 7, 16, 8};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.wire);
    LinkRig rig;
    rig.port.open();
    rig.port.set_receive_threshold(8);
    rig.port.receive(hex_bytes("22 00 00 00 00 00 00 22"));
    rig.poll.tick();
    rig.poll.tick();
    rig.indicators.paints.clear();

    const auto bytes = hex_bytes(c.wire);
    rig.port.receive(bytes);
    // Eight bytes are read and kept, whether or not they pass.
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + 8, rig.poll.last_answer().begin()));
    std::vector<int> painted;
    for (const auto& paint : rig.indicators.paints) painted.push_back(paint.first);
    if (c.opened) {
      EXPECT_EQ(painted, nine_one_ten_two);
      EXPECT_EQ(opened_mask(rig), *c.opened);
      EXPECT_EQ(rig.poll.watchdog_ticks_left(), 5);
    } else {
      EXPECT_TRUE(painted.empty());
      EXPECT_EQ(rig.poll.watchdog_ticks_left(), 3);
    }

    // What is left over waits until the next request discards it; the answer then paints.
    EXPECT_EQ(rig.port.input.size(), bytes.size() - 8);
    rig.poll.tick();
    rig.port.receive(hex_bytes("22 00 00 00 00 80 05 A7"));
    EXPECT_EQ(opened_mask(rig), 0x8005u);
  }
}

TEST(Receive, OtherEventsAndShortReadsAreIgnored) {
  LinkRig rig;
  rig.port.open();
  rig.port.input = {0x22, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x22};
  rig.poll.on_receive(1);  // a transmit event reads nothing
  EXPECT_EQ(rig.port.input.size(), 8u);

  // Fewer than eight waiting: nothing is read, the bytes stay for the next event.
  rig.port.input = {0x22, 0x00, 0x00};
  rig.poll.on_receive(comm_event_receive);
  EXPECT_EQ(hex_text(rig.port.input), "22 00 00");
  EXPECT_EQ(rig.poll.last_answer(), (std::array<std::int32_t, 8>{}));
  EXPECT_TRUE(rig.indicators.paints.empty());
  EXPECT_EQ(rig.poll.watchdog_ticks_left(), 0);
}

}  // namespace
