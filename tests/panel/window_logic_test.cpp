#include <gtest/gtest.h>

#include "panel/number_box_coupling.h"
#include "panel/scripted_run.h"
#include "panel/spoken_names.h"

TEST(WindowLogic, ABoxMovesItsBarOnlyWithANumberTheBarCanHold) {
  EXPECT_EQ(spin_number(" 07 "), 7);
  EXPECT_EQ(spin_number("2.5"), 2);
  EXPECT_EQ(spin_number("255"), 255);
  for (const char* text : {"", "256", "-1", "x"}) EXPECT_EQ(spin_number(text), std::nullopt);
  EXPECT_TRUE(acceptable_box_text(""));
  EXPECT_FALSE(acceptable_box_text("300"));
  EXPECT_EQ(spin_text(7), "7");
}

TEST(WindowLogic, AScreenReaderHearsTheRelayItsNameAndItsState) {
  EXPECT_EQ(indicator_spoken_name(5, " Pump \t room ", "  opened"), "Relay 5, Pump room: opened");
  EXPECT_EQ(indicator_spoken_name(5, "  ", "unknown"), "Relay 5: unknown");
  EXPECT_EQ(name_label_spoken_name(5, "<b>Pump</b>"), "Relay 5 name: <b>Pump</b>");
  EXPECT_EQ(rename_box_spoken_name("5", "07"), "Name of relay 5 at address 07");
}

TEST(WindowLogic, AScriptedRunReportsOneLineEach) {
  EXPECT_EQ(message_line({"name file created", "", MessageIcon::Information}),
            "name file created\n");
  EXPECT_EQ(message_line({"x not found.", "File Not Found", MessageIcon::Critical}),
            "File Not Found: x not found.\n");
  EXPECT_EQ(shown_line("Corvanti"), "shown: Corvanti\n");
  EXPECT_EQ(client_line(416, 256, 448, 531), "client: 416 256 448 531\n");
}
