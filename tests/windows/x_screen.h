#pragma once

#include <QProcess>
#include <QString>
#include <cstdint>
#include <optional>
#include <string>

struct _XDisplay;

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
  // How many windows are shown on the screen: a dialog that opens adds one.
  int shown_windows();
  // The pixel at the screen position as 0xRRGGBB.
  std::uint32_t pixel(int x, int y);

 private:
  void sync();

  QProcess server_;
  QString name_;
  _XDisplay* display_ = nullptr;
};
