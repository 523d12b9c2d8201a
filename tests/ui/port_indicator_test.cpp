#include "form_fixture.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// What the operator can see of the window, to compare before and after a click.
struct Appearance {
  QString caption;
  bool port_box_enabled, openall_enabled, closeall_enabled, timer_active;
  QString port_text;
  std::vector<Colour> colours;
  QStringList states;
  bool operator==(const Appearance&) const = default;
};

class PortTest : public FormTest {
 protected:
  Appearance appearance() const {
    Appearance seen{button("open_comm")->text(),
                    chuankou_num()->isEnabled(),
                    button("openall")->isEnabled(),
                    button("closeall")->isEnabled(),
                    form->findChild<PollTimer*>("Timer1")->isActive(),
                    chuankou_num()->text(),
                    {},
                    {}};
    for (int relay = 1; relay <= 16; ++relay) {
      seen.colours.push_back(form->box_colour(relay));
      seen.states << state_label(relay);
    }
    return seen;
  }
  void click_open_comm() { QTest::mouseClick(button("open_comm"), Qt::LeftButton); }
  // The frame the next tick puts on the line, if any.
  std::optional<Bytes> next_frame() {
    const auto before = port.writes.size();
    form->Timer1_Timer();
    if (port.writes.size() == before) return std::nullopt;
    return port.writes.back();
  }
};

const Bytes query{0x55, 0x01, 0x10, 0x00, 0x00, 0x00, 0x00, 0x66};

TEST_F(PortTest, OpenAndCloseSwitchTheWindowsAppearance) {
  chuankou_num()->setText("3");
  click_open_comm();
  EXPECT_EQ(port.selected, 3);
  EXPECT_EQ(port.threshold, 8);
  Appearance open = appearance();
  EXPECT_EQ(open.caption, "close com");
  EXPECT_FALSE(open.port_box_enabled);
  EXPECT_TRUE(open.openall_enabled && open.closeall_enabled && open.timer_active);
  EXPECT_EQ(open.colours, std::vector<Colour>(16, colour_yellow));
  EXPECT_EQ(next_frame(), query);

  // The spin bar still changes the number shown; the open port keeps its own.
  QTest::mouseClick(VScroll2(), Qt::LeftButton, {}, {12, 3});
  EXPECT_EQ(chuankou_num()->text(), "4");

  click_open_comm();
  EXPECT_FALSE(port.is_open());
  Appearance closed = appearance();
  EXPECT_EQ(closed.caption, "open com");
  EXPECT_TRUE(closed.port_box_enabled);
  EXPECT_FALSE(closed.openall_enabled || closed.closeall_enabled || closed.timer_active);
  EXPECT_EQ(closed.colours, std::vector<Colour>(16, 0x80000011u));
  EXPECT_EQ(closed.states, QStringList(16, "unknown"));
  EXPECT_EQ(next_frame(), std::nullopt);

  click_open_comm();
  EXPECT_EQ(port.selected, 4);
  EXPECT_EQ(port.open_calls, 2);
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(PortTest, FailedOpenTellsWhyAndChangesNothing) {
  port.open_failure = "No such file or directory";
  port.device = "/dev/ttyS6";
  chuankou_num()->setText("7");
  const Appearance before = appearance();
  click_open_comm();
  EXPECT_EQ(appearance(), before);
  EXPECT_FALSE(port.is_open());
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].caption, "open com");
  EXPECT_EQ(messages.shown[0].icon, MessageIcon::Critical);
  EXPECT_EQ(messages.shown[0].text,
            "Port 7 (/dev/ttyS6) could not be opened: No such file or directory");

  // Also from the closed appearance after a session.
  port.open_failure.clear();
  click_open_comm();
  click_open_comm();
  port.open_failure = "Device or resource busy";
  const Appearance closed = appearance();
  click_open_comm();
  EXPECT_EQ(appearance(), closed);
}

TEST_F(PortTest, IndicatorsShowTheBoardAndClicksSwitchByTheirColour) {
  click_open_comm();
  port.receive(status_frame(1u << 4));  // relay 5 opened, the rest closed
  EXPECT_EQ(form->box_colour(5), colour_green);
  EXPECT_EQ(state_label(5), "  opened");
  EXPECT_EQ(box(5)->accessibleName(), "Relay 5: opened");
  EXPECT_EQ(form->box_colour(6), colour_red);
  EXPECT_EQ(box(6)->accessibleName(), "Relay 6: closed");

  // The box outside its label, the label itself, and Space on the focused box.
  QTest::mouseClick(box(5), Qt::LeftButton, {}, {86, 38});
  EXPECT_EQ(next_frame(), (Bytes{0x55, 0x01, 0x11, 0x00, 0x00, 0x00, 0x05, 0x6C}));
  EXPECT_EQ(next_frame(), query);
  QTest::mouseClick(box(6), Qt::LeftButton, {}, box(6)->state_label()->geometry().center());
  EXPECT_EQ(next_frame(), (Bytes{0x55, 0x01, 0x12, 0x00, 0x00, 0x00, 0x06, 0x6E}));
  QTest::keyClick(box(16), Qt::Key_Space);
  EXPECT_EQ(next_frame(), (Bytes{0x55, 0x01, 0x12, 0x00, 0x00, 0x00, 0x10, 0x78}));

  // The sixth tick without an answer shows the board unknown; a click then sends nothing.
  next_frame();
  EXPECT_EQ(form->box_colour(5), colour_green);
  next_frame();
  EXPECT_EQ(form->box_colour(5), colour_yellow);
  EXPECT_EQ(box(5)->accessibleName(), "Relay 5: unknown");
  QTest::mouseClick(box(5), Qt::LeftButton);
  EXPECT_EQ(next_frame(), query);

  // Closed: grey, and a click queues nothing for the next opening.
  click_open_comm();
  QTest::mouseClick(box(5), Qt::LeftButton);
  click_open_comm();
  EXPECT_EQ(next_frame(), query);
}

TEST_F(PortTest, BulkButtonsQueueOnlyTheLastCommand) {
  click_open_comm();
  QTest::mouseClick(button("openall"), Qt::LeftButton);
  QTest::mouseClick(button("closeall"), Qt::LeftButton);
  EXPECT_EQ(next_frame(), (Bytes{0x55, 0x01, 0x13, 0x00, 0x00, 0x00, 0x00, 0x69}));
  QTest::mouseClick(button("openall"), Qt::LeftButton);
  click_open_comm();
  click_open_comm();
  EXPECT_EQ(next_frame(), (Bytes{0x55, 0x01, 0x13, 0x00, 0x00, 0xFF, 0xFF, 0x67}));
}

TEST_F(PortTest, ClosingTheWindowReleasesTheLine) {
  click_open_comm();
  form.reset();
  EXPECT_FALSE(port.is_open());
  port.receive(status_frame(0));  // nothing left to deliver to
}

}  // namespace
