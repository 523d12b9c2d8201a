#include <gtest/gtest.h>

#include <QApplication>
#include <optional>

#ifdef __linux__
#include <signal.h>

#include <cstdio>
#include <string>

// Under the leak checker: the X platform's session-bus connection (libdbus) and, under
// the GTK 3 desktop theme, GLib's type system keep buffers for the life of the process,
// which are not ours to free.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libdbus-1.so\nleak:libglib-2.0.so\n";
}

// A private X server for real pixels: Xvfb picks a free display and names it once it
// accepts clients. Where Xvfb is missing the tests stay headless.
struct Xvfb {
  Xvfb() {
    int display = -1;
    const bool up = server && std::fscanf(server, "%d %d", &pid, &display) == 2;
    // Built by appending: GCC 12 at -O3 warns falsely (-Wrestrict) inside operator+.
    std::string name(":");
    name.append(std::to_string(display));
    if (up) ::setenv("DISPLAY", name.c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", up ? "xcb" : "offscreen", 1);
  }
  ~Xvfb() {
    if (pid > 0) ::kill(pid, SIGTERM);
    if (server) ::pclose(server);
  }
  FILE* server =
      ::popen("echo $$; exec Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp", "r");
  int pid = 0;
};
#endif

// Window tests need a QApplication before the first widget: headless, or on a
// private X server where RELAY_TEST_XVFB is set.
int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
#ifdef __linux__
  std::optional<Xvfb> xvfb;
  if (qEnvironmentVariableIsSet("RELAY_TEST_XVFB")) xvfb.emplace();
#endif
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
