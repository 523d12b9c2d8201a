#include "form_fixture.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// What the operator can see of the window, to compare before and after a click.
struct Appearance {
  QString caption, port_text;
  bool port_box_enabled, openall_enabled, closeall_enabled, timer_active;
  std::vector<Colour> colours;
  QStringList states;
  bool operator==(const Appearance&) const = default;
};

class PortTest : public FormTest {
 protected:
  Appearance appearance() const {
    Appearance seen{button("open_comm")->text(),
                    port_box()->text(),
                    port_box()->isEnabled(),
                    button("openall")->isEnabled(),
                    button("closeall")->isEnabled(),
                    child<PollTimer>("Timer1")->isActive(),
                    {},
                    {}};
    for (int relay = 1; relay <= 16; ++relay) {
      seen.colours.push_back(form->box_colour(relay));
      seen.states << state(relay);
    }
    return seen;
  }
  void click(QWidget* widget) { QTest::mouseClick(widget, Qt::LeftButton); }
  // The frame the next tick puts on the line, if any.
  std::optional<Bytes> next_frame() {
    const auto before = port.writes.size();
    form->tick();
    if (port.writes.size() == before) return std::nullopt;
    return port.writes.back();
  }
};

const Bytes query{0x55, 0x01, 0x10, 0x00, 0x00, 0x00, 0x00, 0x66};

TEST_F(PortTest, OpenAndCloseSwitchTheWindowsAppearanceAndClosingTheWindowReleasesTheLine) {
  port_box()->setText("3");
  click(button("open_comm"));
  EXPECT_EQ(port.selected, 3);
  Appearance open = appearance();
  EXPECT_EQ(open.caption, "close com");
  EXPECT_FALSE(open.port_box_enabled);
  EXPECT_TRUE(open.openall_enabled && open.closeall_enabled && open.timer_active);
  EXPECT_EQ(open.colours, std::vector<Colour>(16, colour_yellow));
  EXPECT_EQ(next_frame(), query);

  // The spin bar still changes the number shown; the open port keeps its own.
  QTest::mouseClick(port_bar(), Qt::LeftButton, {}, {12, 3});
  EXPECT_EQ(port_box()->text(), "4");

  click(button("open_comm"));
  EXPECT_FALSE(port.is_open());
  Appearance closed = appearance();
  EXPECT_EQ(closed.caption, "open com");
  EXPECT_TRUE(closed.port_box_enabled);
  EXPECT_FALSE(closed.openall_enabled || closed.closeall_enabled || closed.timer_active);
  EXPECT_EQ(closed.colours, std::vector<Colour>(16, 0x80000011u));
  EXPECT_EQ(closed.states, QStringList(16, "unknown"));
  EXPECT_EQ(next_frame(), std::nullopt);

  click(button("open_comm"));
  EXPECT_EQ(port.selected, 4);
  EXPECT_TRUE(messages.shown.empty());

  // Closing the window releases the line.
  form.reset();
  EXPECT_FALSE(port.is_open());
  port.receive(relay5_opened);  // nothing left to deliver to
}

TEST_F(PortTest, FailedOpenTellsWhyAndChangesNothing) {
  port.open_failure = "No such file or directory";
  port.device = "/dev/ttyS6";
  port_box()->setText("7");
  const Appearance before = appearance();
  click(button("open_comm"));
  EXPECT_EQ(appearance(), before);
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].caption, "open com");
  EXPECT_EQ(messages.shown[0].icon, MessageIcon::Critical);
  EXPECT_EQ(messages.shown[0].text,
            "Port 7 (/dev/ttyS6) could not be opened: No such file or directory");
}

TEST_F(PortTest, IndicatorsShowTheBoardAndClicksQueueWhatTheirStateCallsFor) {
  click(button("open_comm"));
  click(box(5));  // unknown: nothing to switch
  EXPECT_EQ(next_frame(), query);

  port.receive(relay5_opened);
  EXPECT_EQ(form->box_colour(5), colour_green);
  EXPECT_EQ(state(5), "  opened");
  EXPECT_EQ(box(5)->accessibleName(), "Relay 5, a1 r5: opened");
  EXPECT_EQ(form->box_colour(6), colour_red);
  EXPECT_EQ(box(6)->accessibleName(), "Relay 6, a1 r6: closed");

  // The box outside its label, the label itself, Space on the focused box, and the
  // bulk buttons.
  QTest::mouseClick(box(5), Qt::LeftButton, {}, {86, 38});
  EXPECT_EQ(next_frame(), (Bytes{0x55, 0x01, 0x11, 0x00, 0x00, 0x00, 0x05, 0x6C}));
  QTest::mouseClick(box(6), Qt::LeftButton, {}, box(6)->state_label()->geometry().center());
  EXPECT_EQ(next_frame(), (Bytes{0x55, 0x01, 0x12, 0x00, 0x00, 0x00, 0x06, 0x6E}));
  QTest::keyClick(box(16), Qt::Key_Space);
  EXPECT_EQ(next_frame(), (Bytes{0x55, 0x01, 0x12, 0x00, 0x00, 0x00, 0x10, 0x78}));
  click(button("openall"));
  EXPECT_EQ(next_frame(), (Bytes{0x55, 0x01, 0x13, 0x00, 0x00, 0xFF, 0xFF, 0x67}));
  click(button("closeall"));
  EXPECT_EQ(next_frame(), (Bytes{0x55, 0x01, 0x13, 0x00, 0x00, 0x00, 0x00, 0x69}));

  // Closed: grey, and a click queues nothing for the next opening.
  click(button("open_comm"));
  click(box(5));
  click(button("open_comm"));
  EXPECT_EQ(next_frame(), query);
  EXPECT_EQ(box(5)->accessibleName(), "Relay 5, a1 r5: unknown");
}

}  // namespace
