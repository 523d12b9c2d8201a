/* What a 50 ms poll costs at the least: a status query every 50 ms on an absolute
 * kernel timer, the answer read when it comes, nothing else. Runs until killed.
 *   c_poller DEVICE [ADDRESS] */
#include <fcntl.h>
#include <poll.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/timerfd.h>
#include <termios.h>
#include <unistd.h>

int main(int argc, char* argv[]) {
  if (argc < 2) {
    fprintf(stderr, "usage: %s DEVICE [ADDRESS]\n", argv[0]);
    return 1;
  }
  const unsigned address = argc > 2 ? (unsigned)atoi(argv[2]) : 1;
  const int fd = open(argv[1], O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    perror(argv[1]);
    return 2;
  }
  struct termios tio;
  tcgetattr(fd, &tio);
  cfmakeraw(&tio);
  cfsetspeed(&tio, B9600);
  tcsetattr(fd, TCSANOW, &tio);
  unsigned char query[8] = {0x55, (unsigned char)address, 0x10, 0, 0, 0, 0, 0};
  for (int i = 0; i < 7; ++i) query[7] = (unsigned char)(query[7] + query[i]);

  const int timer = timerfd_create(CLOCK_MONOTONIC, 0);
  const struct itimerspec period = {{0, 50000000}, {0, 50000000}};
  timerfd_settime(timer, 0, &period, NULL);
  unsigned char answer[64];
  for (;;) {
    struct pollfd wait[2] = {{timer, POLLIN, 0}, {fd, POLLIN, 0}};
    if (poll(wait, 2, -1) < 0) return 1;
    if (wait[0].revents & POLLIN) {
      uint64_t ticks;
      if (read(timer, &ticks, sizeof ticks) != sizeof ticks) return 1;
      if (write(fd, query, sizeof query) != sizeof query) return 1;
    }
    if (wait[1].revents & POLLIN && read(fd, answer, sizeof answer) < 0) return 1;
  }
}
