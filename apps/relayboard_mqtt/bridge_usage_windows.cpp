#include "bridge_options.h"

// The Windows build has no web page yet, and clears no forgotten line.
std::string bridge_system_options() {
  return R"(  --install-service LINE   register the bridge as the Windows service
                           relayboard-mqtt-LINE with the options that follow, its
                           files under %ProgramData%\relayboard-mqtt, and leave
  --remove-service LINE    stop and remove that service, and leave
)";
}

std::string bridge_system_closing() {
  return R"(Exit status: 0 after Ctrl+C, a closed console or a service stop, 2 for a refused
command line or configuration or a line that another bridge serves (the option or file
line and the reason are logged; the service is not restarted on it), 1 when the bridge
cannot start.
)";
}
