#include <poll.h>
#include <unistd.h>

#include <csignal>

#include "standard_output.h"

void ignore_broken_pipe() {
  std::signal(SIGPIPE, SIG_IGN);
}

bool standard_output_closed() {
  // A pipe's writing end reports an error once no reader is left, without a write.
  pollfd output{STDOUT_FILENO, 0, 0};
  return ::poll(&output, 1, 0) > 0 && (output.revents & (POLLERR | POLLHUP)) != 0;
}

bool standard_error_is_terminal() {
  return ::isatty(STDERR_FILENO) == 1;
}
