#pragma once

#include <optional>
#include <string>

// A pseudo-terminal in raw mode: the master is the board's end of the line, the slave
// device is the serial port the panel opens. A slave descriptor is kept open for the
// terminal's whole life, so that the panel closing and reopening its port never hangs
// up the master.
class PseudoTerminal {
 public:
  // A new terminal, or nothing with `error` saying why.
  static std::optional<PseudoTerminal> create(std::string& error);

  PseudoTerminal(PseudoTerminal&& other) noexcept;
  PseudoTerminal& operator=(PseudoTerminal&& other) noexcept;
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;
  ~PseudoTerminal();

  // Non-blocking descriptor of the board's end.
  int master_fd() const { return master_fd_; }
  // The descriptor held open on the panel's end; for inspecting the line settings.
  int held_slave_fd() const { return slave_fd_; }
  const std::string& slave_path() const { return slave_path_; }

 private:
  PseudoTerminal(int master_fd, int slave_fd, std::string slave_path)
      : master_fd_(master_fd), slave_fd_(slave_fd), slave_path_(std::move(slave_path)) {}
  void release();

  int master_fd_ = -1;
  int slave_fd_ = -1;
  std::string slave_path_;
};
