#pragma once

#include <sys/types.h>

#include <string>

// A private X server for tests that need real pixels: Xvfb on a free display number,
// stopped when this object goes. Linux only, like the pseudo-terminal tests.
class XvfbDisplay {
 public:
  XvfbDisplay();
  ~XvfbDisplay();
  XvfbDisplay(const XvfbDisplay&) = delete;
  XvfbDisplay& operator=(const XvfbDisplay&) = delete;

  // ":N" once the server accepts clients; empty when Xvfb is missing or failed.
  const std::string& name() const { return name_; }

 private:
  pid_t pid_ = -1;
  std::string name_;
};
