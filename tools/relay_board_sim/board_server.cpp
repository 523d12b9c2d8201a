#include "board_server.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

namespace {

void log_frame(const char* direction, std::span<const std::uint8_t> bytes) {
  std::fprintf(stderr, "relay_board_sim: %s", direction);
  for (const auto byte : bytes) std::fprintf(stderr, " %02X", byte);
  std::fprintf(stderr, "\n");
}

}  // namespace

int BoardServer::run(int stop_fd) {
  while (true) {
    pollfd fds[2] = {{stop_fd, POLLIN, 0}, {terminal_.master_fd(), POLLIN, 0}};
    const int ready = ::poll(fds, 2, poll_timeout_ms());
    if (ready < 0 && errno != EINTR) {
      std::fprintf(stderr, "relay_board_sim: poll: %s\n", std::strerror(errno));
      return 1;
    }
    if (fds[0].revents != 0) return 0;
    if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
      if (!read_from_panel()) {
        // The line is hung up although a slave end is held; do not spin on it.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
    }
    send_due_answers();
  }
}

bool BoardServer::read_from_panel() {
  std::uint8_t buffer[256];
  const ssize_t count = ::read(terminal_.master_fd(), buffer, sizeof buffer);
  if (count < 0) return errno == EAGAIN || errno == EINTR;
  if (count == 0) return false;
  reader_.feed(std::span(buffer, static_cast<std::size_t>(count)));
  while (const auto frame = reader_.next()) handle(*frame);
  return true;
}

void BoardServer::handle(const CommandFrame& frame) {
  if (options_.verbose) log_frame("<-", frame.bytes);
  if (!model_.addressed(frame)) return;
  const StatusFrame status = model_.handle(frame);
  auto bytes = answer_bytes(status, options_.mode);
  if (bytes.empty()) return;
  const auto delay = options_.mode == AnswerMode::Late ? options_.delay : Clock::duration{};
  answers_.push_back({Clock::now() + delay, std::move(bytes)});
}

void BoardServer::send_due_answers() {
  const auto now = Clock::now();
  while (!answers_.empty() && answers_.front().due <= now) {
    const auto& bytes = answers_.front().bytes;
    if (options_.verbose) log_frame("->", bytes);
    // Eight or nine bytes always fit the terminal's buffer; a panel that does not read
    // simply leaves them waiting there.
    if (::write(terminal_.master_fd(), bytes.data(), bytes.size()) < 0 && errno != EAGAIN) {
      std::fprintf(stderr, "relay_board_sim: write: %s\n", std::strerror(errno));
    }
    answers_.pop_front();
  }
}

int BoardServer::poll_timeout_ms() const {
  if (answers_.empty()) return -1;
  const auto wait =
      std::chrono::ceil<std::chrono::milliseconds>(answers_.front().due - Clock::now());
  return static_cast<int>(std::max<std::chrono::milliseconds::rep>(wait.count(), 0));
}
