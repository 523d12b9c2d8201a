#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <vector>

#include "board_model.h"
#include "frame_reader.h"
#include "pseudo_terminal.h"
#include "sim_options.h"

// Serves one board on the master end of a pseudo-terminal: reads the panel's bytes,
// carries out every well-formed frame addressed to this board and writes its answer,
// shaped by the answer mode. Frames for other addresses or with a wrong checksum get
// no answer, as on a shared bus.
class BoardServer {
 public:
  BoardServer(PseudoTerminal& terminal, const SimOptions& options)
      : terminal_(terminal), options_(options), model_(options.address) {}

  // Serves until `stop_fd` becomes readable; returns the process exit code.
  int run(int stop_fd);

  const BoardModel& model() const { return model_; }

 private:
  using Clock = std::chrono::steady_clock;
  struct Answer {
    Clock::time_point due;
    std::vector<std::uint8_t> bytes;
  };

  bool read_from_panel();
  void handle(const CommandFrame& frame);
  void send_due_answers();
  int poll_timeout_ms() const;

  PseudoTerminal& terminal_;
  SimOptions options_;
  BoardModel model_;
  FrameReader reader_;
  std::deque<Answer> answers_;
};
