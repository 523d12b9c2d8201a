#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "xvfb_display.h"

// Under the leak checker: the X platform's session-bus connection (libdbus) keeps a
// buffer for the life of the process, which is not ours to free.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libdbus-1.so\n";
}

// Runs the tests on a private X server so that they see real pixels. Without Xvfb the
// tests run headless and skip what needs the server.
int main(int argc, char** argv) {
  XvfbDisplay display;
  if (!display.name().empty()) {
    ::setenv("DISPLAY", display.name().c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
  } else {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  }
  int status = 0;
  {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    status = RUN_ALL_TESTS();
  }
  return status;
}
