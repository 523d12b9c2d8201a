#pragma once

#include <QProcess>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

struct _XDisplay;

// Waits until `done` holds, looking every 10 ms: what the screen shows brings no event
// to the test's loop. Generous by default, as qt_events' wait_until.
bool wait_for_screen(const std::function<bool()>& done, int timeout_ms = 15000);

// A private X server (Xvfb) for the Windows programs under Wine, driven as an operator
// would: clicks and keys through XTest, colours read back from the screen's pixels.
class XScreen {
 public:
  XScreen();
  ~XScreen();
  XScreen(const XScreen&) = delete;
  XScreen& operator=(const XScreen&) = delete;

  // ":<n>", or empty when the server did not come up.
  const QString& display_name() const { return name_; }

  void click(int x, int y);
  // A key by its X name ("F2", "Tab", "Return", "a"), pressed with Control when asked.
  void key(const char* name, bool control = false);
  void type(const std::string& ascii);
  // Moves the pointer: with no window manager, keys go to the window under it.
  void point(int x, int y);
  // The top left corner of a shown window of exactly this size, if there is one: with no
  // window manager to frame it, a window's client area.
  std::optional<std::pair<int, int>> window_of_size(int width, int height);
  // The pixel at the screen position as 0xRRGGBB.
  std::uint32_t pixel(int x, int y);

 private:
  void sync();

  QProcess server_;
  QString name_;
  _XDisplay* display_ = nullptr;
};
