#pragma once

#include <QProcessEnvironment>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "x_screen.h"

// Everything the Windows programs need to run here, set up once for the whole test
// program: a private X server, the Windows build, and a Wine prefix set to code page
// 936 whose COM1 is a link in `ports` that the board of each test re-points to its
// pseudo-terminal. One Wine server serves every program started meanwhile.
class WineSession {
 public:
  // Set up on the first call; `error` says why it could not be.
  static WineSession& get();
  ~WineSession();

  // The desktop's DPI for the programs started from now on (96 unless a test says).
  bool set_dpi(int dpi);

  std::filesystem::path build;   // RELAY_WINDOWS_BUILD, else build-win beside the sources
  std::filesystem::path prefix;  // RELAY_WINE_PREFIX, else <build>/wine-936
  std::filesystem::path ports;   // the boards' link folder: com1 here is COM1
  std::unique_ptr<XScreen> screen;
  QProcessEnvironment environment;
  // The desktop's COLOR_GRAYTEXT as 0xRRGGBB: the colour of a closed port's indicators.
  std::uint32_t gray_text = 0;
  std::string error;

 private:
  WineSession();
  bool run(const QString& program, const QStringList& arguments);
  bool map_com1();
};
