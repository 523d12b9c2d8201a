#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "board_server.h"
#include "sim_options.h"

int main(int argc, char* argv[]) {
  const auto parsed = parse_sim_options(argc, argv);
  if (const auto* error = std::get_if<std::string>(&parsed)) {
    std::cerr << "relay_board_sim: " << *error << "\n";
    return 2;
  }
  const auto& options = std::get<SimOptions>(parsed);
  if (options.help) {
    std::cout << sim_usage(argv[0]);
    return 0;
  }
  if (options.version) {
    std::cout << "relay_board_sim " RELAY_PANEL_VERSION "\n";
    return 0;
  }

  // Signals arrive as readable data on a descriptor, so the loop handles them between
  // two frames: the stop signals remove the link on the way out, SIGUSR1 and SIGUSR2
  // pull and put back the plug, SIGURG cuts the cable and mends it.
  sigset_t signals;
  sigemptyset(&signals);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGUSR1, SIGUSR2, SIGURG})
    sigaddset(&signals, signal);
  sigprocmask(SIG_BLOCK, &signals, nullptr);
  const int signal_fd = signalfd(-1, &signals, SFD_CLOEXEC);
  if (signal_fd < 0) {
    std::perror("relay_board_sim: signalfd");
    return 1;
  }
  signal(SIGPIPE, SIG_IGN);

  BoardServer server(options);
  if (const auto error = server.plug_in()) {
    std::cerr << "relay_board_sim: " << *error << "\n";
    return 1;
  }
  const int status = server.run(signal_fd);
  ::close(signal_fd);
  return status;
}
