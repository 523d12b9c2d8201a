/* The floor of a process that does one exchange with the board: open the line with
 * termios, one status query, one answer, the 16 states printed, exit. With a count it
 * does that many exchanges back to back on the open line and prints how long they took.
 *   termios_oneshot DEVICE [ADDRESS [COUNT]]
 * Exit 0 on an answer, 3 when none came within a second. */
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

static int exchange(int fd, unsigned address, unsigned char answer[8]) {
  unsigned char query[8] = {0x55, (unsigned char)address, 0x10, 0, 0, 0, 0, 0};
  for (int i = 0; i < 7; ++i) query[7] = (unsigned char)(query[7] + query[i]);
  tcflush(fd, TCIFLUSH);
  if (write(fd, query, sizeof query) != (ssize_t)sizeof query) return 0;
  size_t got = 0;
  while (got < 8) {
    struct pollfd line = {fd, POLLIN, 0};
    if (poll(&line, 1, 1000) <= 0) return 0;
    const ssize_t n = read(fd, answer + got, 8 - got);
    if (n <= 0) return 0;
    got += (size_t)n;
  }
  return 1;
}

int main(int argc, char* argv[]) {
  if (argc < 2) {
    fprintf(stderr, "usage: %s DEVICE [ADDRESS [COUNT]]\n", argv[0]);
    return 1;
  }
  const unsigned address = argc > 2 ? (unsigned)atoi(argv[2]) : 1;
  const int count = argc > 3 ? atoi(argv[3]) : 1;
  const int fd = open(argv[1], O_RDWR | O_NOCTTY);
  if (fd < 0) {
    perror(argv[1]);
    return 2;
  }
  struct termios tio;
  tcgetattr(fd, &tio);
  cfmakeraw(&tio);
  cfsetspeed(&tio, B9600);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cflag &= ~(tcflag_t)(CSTOPB | PARENB | CRTSCTS);
  tcsetattr(fd, TCSANOW, &tio);

  unsigned char answer[8];
  struct timespec start, end;
  clock_gettime(CLOCK_MONOTONIC, &start);
  for (int i = 0; i < count; ++i) {
    if (!exchange(fd, address, answer)) return 3;
  }
  clock_gettime(CLOCK_MONOTONIC, &end);
  if (count > 1) {
    printf("%d exchanges in %.3f s\n", count,
           (double)(end.tv_sec - start.tv_sec) + (double)(end.tv_nsec - start.tv_nsec) / 1e9);
    return 0;
  }
  const unsigned opened = (unsigned)answer[5] << 8 | answer[6];
  printf("address %u:", address);
  for (int relay = 1; relay <= 16; ++relay) {
    printf((opened >> (relay - 1)) & 1 ? " opened" : " closed");
  }
  printf("\n");
  close(fd);
  return 0;
}
