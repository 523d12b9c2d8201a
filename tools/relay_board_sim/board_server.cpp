#include "board_server.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>

namespace {

// Eight bytes of ten bits each (start, 8 data, stop) at 9600 baud.
constexpr auto frame_time = std::chrono::microseconds(8 * 10 * 1'000'000 / 9600);

const auto started = std::chrono::steady_clock::now();

// One write for the whole line: standard error is unbuffered, and a reader of the log
// must never see a frame without its time.
void log_frame(const char* direction, std::span<const std::uint8_t> bytes, bool times) {
  std::string line = std::string("relay_board_sim: ") + direction;
  char text[32];
  for (const auto byte : bytes) {
    std::snprintf(text, sizeof text, " %02X", byte);
    line += text;
  }
  if (times) {
    const std::chrono::duration<double, std::milli> since =
        std::chrono::steady_clock::now() - started;
    std::snprintf(text, sizeof text, " at %.3f ms", since.count());
    line += text;
  }
  line += '\n';
  std::fputs(line.c_str(), stderr);
}

}  // namespace

BoardServer::BoardServer(const SimOptions& options) : options_(options) {
  for (const std::uint8_t address : options_.addresses) models_.emplace_back(address);
  // A server always has a board, whatever list it was given.
  if (models_.empty()) models_.emplace_back(std::uint8_t{1});
}

const BoardModel* BoardServer::model(std::uint8_t address) const {
  for (const BoardModel& board : models_) {
    if (board.address() == address) return &board;
  }
  return nullptr;
}

BoardModel* BoardServer::board_for(const CommandFrame& frame) {
  for (BoardModel& board : models_) {
    if (board.addressed(frame)) return &board;
  }
  return nullptr;
}

bool BoardServer::silent(std::uint8_t address) const {
  return std::find(options_.silent.begin(), options_.silent.end(), address) !=
         options_.silent.end();
}

std::optional<std::string> BoardServer::plug_in() {
  if (terminal_) return std::nullopt;
  std::string error;
  auto terminal = PseudoTerminal::create(error);
  if (!terminal) return "cannot create a pseudo-terminal: " + error;
  if (options_.link_dir) {
    link_ = ComLink::create(*options_.link_dir, options_.port, terminal->slave_path(), error);
    if (!link_) return error;
  }
  terminal_ = std::move(terminal);
  reader_ = FrameReader{};
  unpaced_.clear();
  next_flood_ = Clock::now();
  // The first line of the output always names the line the panel can open now.
  std::cout << terminal_->slave_path() << std::endl;
  if (options_.verbose) {
    std::cerr << "relay_board_sim: board";
    if (models_.size() > 1) std::cerr << "s";
    for (std::size_t i = 0; i < models_.size(); ++i) {
      std::cerr << (i == 0 ? " " : ",") << int(models_[i].address());
    }
    if (!options_.silent.empty()) {
      std::cerr << " (silent:";
      for (const std::uint8_t address : options_.silent) std::cerr << ' ' << int(address);
      std::cerr << ")";
    }
    std::cerr << " on " << terminal_->slave_path();
    if (link_) std::cerr << " (port " << options_.port << ": " << link_->path().string() << ")";
    std::cerr << "\n";
  }
  return std::nullopt;
}

void BoardServer::unplug() {
  // The link goes first, as a device node vanishes with its adapter; closing the
  // master then hangs up the panel's end.
  link_.reset();
  terminal_.reset();
  answers_.clear();
  if (options_.verbose) std::cerr << "relay_board_sim: unplugged\n";
}

int BoardServer::run(int signal_fd) {
  while (true) {
    const short unpaced = options_.mode == AnswerMode::FloodUnpaced && !cut_ ? POLLOUT : 0;
    pollfd fds[2] = {{signal_fd, POLLIN, 0},
                     {terminal_ ? terminal_->master_fd() : -1, short(POLLIN | unpaced), 0}};
    const int ready = ::poll(fds, 2, poll_timeout_ms());
    if (ready < 0 && errno != EINTR) {
      std::fprintf(stderr, "relay_board_sim: poll: %s\n", std::strerror(errno));
      return 1;
    }
    if (fds[0].revents != 0 && !handle_signal(signal_fd)) return 0;
    if (terminal_ && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
      if (!read_from_panel()) {
        // The line is hung up although a slave end is held; do not spin on it.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
    }
    end_mode_when_due();
    if (terminal_ && !cut_ && (fds[1].revents & POLLOUT)) pour_unpaced_flood();
    queue_flood();
    send_due_answers();
  }
}

bool BoardServer::handle_signal(int signal_fd) {
  signalfd_siginfo info{};
  if (::read(signal_fd, &info, sizeof info) != static_cast<ssize_t>(sizeof info)) return true;
  if (info.ssi_signo == SIGUSR1) {
    unplug();
    return true;
  }
  if (info.ssi_signo == SIGUSR2) {
    if (const auto error = plug_in()) std::cerr << "relay_board_sim: " << *error << "\n";
    return true;
  }
  if (info.ssi_signo == SIGURG) {
    // What was on its way is lost with the cable; a mended one starts at a frame's start.
    cut_ = !cut_;
    answers_.clear();
    unpaced_.clear();
    reader_ = FrameReader{};
    if (options_.verbose)
      std::cerr << "relay_board_sim: cable " << (cut_ ? "cut" : "mended") << "\n";
    return true;
  }
  return false;
}

bool BoardServer::read_from_panel() {
  std::uint8_t buffer[256];
  const ssize_t count = ::read(terminal_->master_fd(), buffer, sizeof buffer);
  if (count < 0) return errno == EAGAIN || errno == EINTR;
  if (count == 0) return false;
  reader_.feed(std::span(buffer, static_cast<std::size_t>(count)));
  while (const auto frame = reader_.next()) {
    // A cut cable carries the frame to no board: the log shows what was lost on it.
    if (!cut_) {
      handle(*frame);
    } else if (options_.verbose) {
      log_frame("cut:", frame->bytes, options_.times);
    }
  }
  return true;
}

void BoardServer::handle(const CommandFrame& frame) {
  if (options_.verbose) log_frame("<-", frame.bytes, options_.times);
  if (options_.mode_time && !mode_end_) mode_end_ = Clock::now() + *options_.mode_time;
  BoardModel* board = board_for(frame);
  if (!board) return;
  // A board that ignores switch commands still reports its relays as they are.
  const StatusFrame status = options_.mode == AnswerMode::DeafSwitch
                                 ? StatusFrame::build(board->opened_mask(), board->address())
                                 : board->handle(frame);
  // A flooding board only carries out commands; its answers come on their own.
  if (floods() || silent(board->address())) return;
  auto bytes = answer_bytes(status, options_.mode);
  if (bytes.empty()) return;
  const bool slow = std::find(options_.slow.begin(), options_.slow.end(), board->address()) !=
                    options_.slow.end();
  const auto delay = options_.mode == AnswerMode::Late || slow ? options_.delay : Clock::duration{};
  answers_.push_back({Clock::now() + delay, std::move(bytes)});
}

void BoardServer::queue_flood() {
  if (options_.mode != AnswerMode::Flood || !terminal_ || cut_) return;
  const auto now = Clock::now();
  // Catch up after a stall of this process, but never by more than one frame: the
  // line could not have carried more.
  if (next_flood_ + frame_time < now) next_flood_ = now;
  for (; next_flood_ <= now; next_flood_ += frame_time) {
    const StatusFrame status =
        StatusFrame::build(flooding_board().opened_mask(), flooding_board().address());
    answers_.push_back({next_flood_, answer_bytes(status, options_.mode)});
  }
}

void BoardServer::end_mode_when_due() {
  if (!mode_end_ || options_.mode == AnswerMode::Normal || Clock::now() < *mode_end_) return;
  options_.mode = AnswerMode::Normal;
  unpaced_.clear();
  if (options_.verbose) std::cerr << "relay_board_sim: answering normally from now on\n";
}

void BoardServer::pour_unpaced_flood() {
  if (unpaced_.empty()) {
    // Whole frames, so that a partial write never shifts the stream.
    const StatusFrame status =
        StatusFrame::build(flooding_board().opened_mask(), flooding_board().address());
    for (int frame = 0; frame < 512; ++frame) {
      unpaced_.insert(unpaced_.end(), status.bytes.begin(), status.bytes.end());
    }
  }
  const ssize_t written = ::write(terminal_->master_fd(), unpaced_.data(), unpaced_.size());
  if (written > 0) unpaced_.erase(unpaced_.begin(), unpaced_.begin() + written);
}

void BoardServer::send_due_answers() {
  if (!terminal_) return;
  const auto now = Clock::now();
  while (!answers_.empty() && answers_.front().due <= now) {
    const auto& bytes = answers_.front().bytes;
    if (options_.verbose) log_frame("->", bytes, options_.times);
    // A panel that does not read leaves the answers waiting in the terminal; once its
    // buffer is full, further answers are lost, as on a real line.
    if (::write(terminal_->master_fd(), bytes.data(), bytes.size()) < 0 && errno != EAGAIN) {
      std::fprintf(stderr, "relay_board_sim: write: %s\n", std::strerror(errno));
    }
    answers_.pop_front();
  }
}

int BoardServer::poll_timeout_ms() const {
  auto due = answers_.empty() ? Clock::time_point::max() : answers_.front().due;
  if (options_.mode == AnswerMode::Flood && terminal_) due = std::min(due, next_flood_);
  if (mode_end_ && options_.mode != AnswerMode::Normal) due = std::min(due, *mode_end_);
  if (due == Clock::time_point::max()) return -1;
  const auto wait = std::chrono::ceil<std::chrono::milliseconds>(due - Clock::now());
  return static_cast<int>(std::max<std::chrono::milliseconds::rep>(wait.count(), 0));
}
