#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "board_server.h"
#include "com_link.h"
#include "pseudo_terminal.h"
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

  // Interrupts arrive as readable data on a descriptor, so the loop stops between two
  // frames and the link is removed on the way out.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGHUP);
  sigprocmask(SIG_BLOCK, &stop_signals, nullptr);
  const int stop_fd = signalfd(-1, &stop_signals, SFD_CLOEXEC);
  if (stop_fd < 0) {
    std::perror("relay_board_sim: signalfd");
    return 1;
  }
  signal(SIGPIPE, SIG_IGN);

  std::string error;
  auto terminal = PseudoTerminal::create(error);
  if (!terminal) {
    std::cerr << "relay_board_sim: cannot create a pseudo-terminal: " << error << "\n";
    return 1;
  }
  std::optional<ComLink> link;
  if (options.link_dir) {
    link = ComLink::create(*options.link_dir, options.port, terminal->slave_path(), error);
    if (!link) {
      std::cerr << "relay_board_sim: " << error << "\n";
      return 1;
    }
  }

  std::cout << terminal->slave_path() << std::endl;
  if (options.verbose) {
    std::cerr << "relay_board_sim: board " << int(options.address) << " on "
              << terminal->slave_path();
    if (link) std::cerr << " (port " << options.port << ": " << link->path().string() << ")";
    std::cerr << "\n";
  }

  BoardServer server(*terminal, options);
  const int status = server.run(stop_fd);
  ::close(stop_fd);
  return status;
}
