#include "ctl_system_text.h"

const CtlSystemText& ctl_system_text() {
  static const CtlSystemText text{
      R"(  --port N        the port number, mapped to a device as in the panel: the link
                  com<N> beside the name file, else /dev/ttyS<N-1> (default 1)
)",
      R"(  --names FILE    the name file, whose folder then holds the com<N> links (default:
                  the panel's: name.txt beside the program, or in
                  ~/.config/relay_panel where the program is installed or its
                  folder is read-only)
)",
      R"(  5  cut short by SIGINT (Ctrl+C), SIGTERM or SIGHUP: a pulse's relays were switched
     back and checked; an open or close had switched nothing yet (once it has, it
     finishes and checks first); a scan printed the boards it had found. Only
     SIGKILL, or a board lost in the hold (6), can leave a relay switched)",
      "~/.config/relay_panel/relayctl.conf"};
  return text;
}
