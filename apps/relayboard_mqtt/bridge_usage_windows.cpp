#include "bridge_options.h"

// The Windows build has no web page yet; it runs as a service of its line instead of a
// systemd unit.
std::string bridge_password_file_rule() {
  return R"(                           can read the file: its access list may name only you, the
                           administrators, the system, and a service account when
                           the administrators own the file
)";
}

std::string bridge_system_options() {
  return R"(  --install-service LINE [options]
                           install the Windows service relayboard-mqtt-LINE, which
                           serves the line LINE with these options (checked now), as
                           LocalService, started with Windows; administrators only
  --remove-service LINE    stop and remove that service
)";
}

std::string bridge_system_closing() {
  return R"(Exit status: 0 after Ctrl+C, Ctrl+Break or a closed console, or once a service is
installed or removed, 2 for a refused command line or configuration or a line that
another bridge serves (the option or file line and the reason are logged), 1 when the
bridge cannot start or the service manager refuses (not an administrator, already
installed, not installed). A service logs to the Windows event log, source
relayboard-mqtt, and keeps its names and state in %ProgramData%\relayboard-mqtt.
)";
}
