#include "bridge_options.h"

std::string bridge_password_file_rule() {
  return "                           can read the file (mode 0600, or 0640 owned by root)\n";
}

std::string bridge_system_options() {
  return R"(  --web ADDRESS:PORT       serve the panel as a web page there, e.g. localhost:8080;
                           beyond this machine only with TLS and a users file
  --web-cert FILE          the page's TLS certificate (PEM), with --web-key FILE
  --web-users FILE         who may log in to the page (see --add-web-user)
  --add-web-user NAME      add NAME to the --web-users file, or give them a new
                           password (asked on the terminal), and leave
  --web-role ROLE          the added user's role: operator (default) or viewer
)";
}

std::string bridge_system_closing() {
  return R"(Exit status: 0 after SIGTERM, SIGINT or SIGHUP, 2 for a refused command line or
configuration or a line that another bridge serves (the option or file line and the
reason are logged; the unit does not restart on it), 1 when the bridge cannot start.
)";
}
