#include "ctl_system_text.h"

const CtlSystemText& ctl_system_text() {
  static const CtlSystemText text{
      R"(  --port N        the port number: COM<N>, as in the panel (default 1)
)",
      R"(  --names FILE    the name file (default: the panel's: name.txt beside the
                  program, or in %APPDATA%\relay_panel where the program's folder
                  cannot be written or is in Program Files)
)",
      R"(  5  cut short by Ctrl+C, Ctrl+Break or the console window's closing: a pulse's
     relays were switched back and checked; an open or close had switched nothing
     yet (once it has, it finishes and checks first); a scan printed the boards it
     had found. Only ending the process
     (taskkill /F, Task Manager), or a board lost in the hold (6), can leave a
     relay switched)",
      R"(%APPDATA%\relay_panel\relayctl.conf)"};
  return text;
}
