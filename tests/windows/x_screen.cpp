#include "x_screen.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <poll.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <QTimer>
#include <csignal>
#include <cstdlib>

#include "qt_events.h"

namespace {
// Generous: the server may be slow to come up on a loaded machine.
constexpr int start_ms = 30000;
}  // namespace

bool wait_for_screen(const std::function<bool()>& done, int timeout_ms) {
  QTimer look;
  QObject::connect(&look, &QTimer::timeout, [] {});
  look.start(10);
  return wait_until(done, timeout_ms);
}

XScreen::XScreen() {
  int fds[2];
  if (::pipe(fds) != 0) return;
  // Xvfb picks a free display itself and writes its number to the given descriptor,
  // which the child inherits: no race with another server for a display number.
  server_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  server_.setChildProcessModifier([other = fds[0]] {
    ::close(other);
    // Ends with the tests, even when they are killed.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
  });
  server_.start(QStringLiteral("Xvfb"),
                {QStringLiteral("-displayfd"), QString::number(fds[1]), QStringLiteral("-screen"),
                 QStringLiteral("0"), QStringLiteral("1280x1024x24"), QStringLiteral("-nolisten"),
                 QStringLiteral("tcp")});
  ::close(fds[1]);
  std::string number;
  if (server_.waitForStarted(start_ms)) {
    pollfd ready{fds[0], POLLIN, 0};
    char c = 0;
    while (::poll(&ready, 1, start_ms) == 1 && ::read(fds[0], &c, 1) == 1 && c != '\n') {
      number += c;
    }
  }
  ::close(fds[0]);
  if (number.empty()) return;
  name_ = QStringLiteral(":") + QString::fromStdString(number);
  display_ = XOpenDisplay(name_.toLocal8Bit().constData());
  if (!display_) name_.clear();
}

XScreen::~XScreen() {
  if (display_) XCloseDisplay(display_);
  server_.terminate();
  server_.waitForFinished(start_ms);
}

void XScreen::sync() {
  XSync(display_, False);
}

void XScreen::point(int x, int y) {
  XTestFakeMotionEvent(display_, 0, x, y, CurrentTime);
  sync();
}

void XScreen::click(int x, int y) {
  XTestFakeMotionEvent(display_, 0, x, y, CurrentTime);
  XTestFakeButtonEvent(display_, 1, True, CurrentTime);
  XTestFakeButtonEvent(display_, 1, False, CurrentTime);
  sync();
}

void XScreen::key(const char* name, bool control) {
  const KeyCode code = XKeysymToKeycode(display_, XStringToKeysym(name));
  const KeyCode ctrl = XKeysymToKeycode(display_, XK_Control_L);
  if (control) XTestFakeKeyEvent(display_, ctrl, True, CurrentTime);
  XTestFakeKeyEvent(display_, code, True, CurrentTime);
  XTestFakeKeyEvent(display_, code, False, CurrentTime);
  if (control) XTestFakeKeyEvent(display_, ctrl, False, CurrentTime);
  sync();
}

void XScreen::type(const std::string& ascii) {
  const KeyCode shift = XKeysymToKeycode(display_, XK_Shift_L);
  for (const char c : ascii) {
    const KeySym symbol = c == ' ' ? XK_space : static_cast<KeySym>(c);
    const KeyCode code = XKeysymToKeycode(display_, symbol);
    // Capitals sit on the shifted level of their key.
    const bool shifted = XkbKeycodeToKeysym(display_, code, 0, 0) != symbol;
    if (shifted) XTestFakeKeyEvent(display_, shift, True, CurrentTime);
    XTestFakeKeyEvent(display_, code, True, CurrentTime);
    XTestFakeKeyEvent(display_, code, False, CurrentTime);
    if (shifted) XTestFakeKeyEvent(display_, shift, False, CurrentTime);
  }
  sync();
}

std::uint32_t XScreen::pixel(int x, int y) {
  XImage* image = XGetImage(display_, DefaultRootWindow(display_), x, y, 1, 1, AllPlanes, ZPixmap);
  if (!image) return 0xFFFFFFFF;
  const unsigned long value = XGetPixel(image, 0, 0);
  XDestroyImage(image);
  return static_cast<std::uint32_t>(value & 0xFFFFFF);
}

std::optional<std::pair<int, int>> XScreen::window_of_size(int width, int height) {
  Window root = 0, parent = 0;
  Window* children = nullptr;
  unsigned int count = 0;
  if (!XQueryTree(display_, DefaultRootWindow(display_), &root, &parent, &children, &count)) {
    return std::nullopt;
  }
  std::optional<std::pair<int, int>> found;
  for (unsigned int i = 0; i < count && !found; ++i) {
    XWindowAttributes a;
    if (XGetWindowAttributes(display_, children[i], &a) && a.map_state == IsViewable &&
        a.width == width && a.height == height) {
      found = std::pair(a.x, a.y);
    }
  }
  if (children) XFree(children);
  return found;
}
