#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "board_model.h"
#include "com_link.h"
#include "frame_reader.h"
#include "pseudo_terminal.h"
#include "sim_options.h"

// Serves the boards of one line on the master end of a pseudo-terminal: reads the
// panel's bytes, carries out every well-formed frame addressed to one of the boards and
// writes that board's answer, shaped by the answer mode (a silent board of the list
// answers nothing). Frames for other addresses or with a wrong checksum get no answer,
// as on a shared bus.
//
// The board can be unplugged and plugged in again, as a USB adapter is: unplugging
// hangs up the line and removes the com<n> link; plugging in makes a new terminal and
// places the link again. The relays keep their states in between. The cable between
// the adapter and the board can be cut and mended too: the terminal stays, and the board
// neither hears nor answers meanwhile.
class BoardServer {
 public:
  explicit BoardServer(const SimOptions& options);

  // Makes the terminal (and the link, when asked for); nothing, or why not.
  std::optional<std::string> plug_in();
  void unplug();
  const ComLink* link() const { return link_ ? &*link_ : nullptr; }

  // Serves until a stop signal arrives on the signal descriptor (SIGUSR1 unplugs,
  // SIGUSR2 plugs in, SIGURG cuts or mends the cable); returns the process exit code.
  int run(int signal_fd);

  // The board at `address`; nullptr when the line has none there.
  const BoardModel* model(std::uint8_t address) const;

 private:
  using Clock = std::chrono::steady_clock;
  struct Answer {
    Clock::time_point due;
    std::vector<std::uint8_t> bytes;
  };

  // False when the signal asks the board to stop.
  bool handle_signal(int signal_fd);
  bool read_from_panel();
  void handle(const CommandFrame& frame);
  void queue_flood();
  bool floods() const {
    return options_.mode == AnswerMode::Flood || options_.mode == AnswerMode::FloodUnpaced;
  }
  void pour_unpaced_flood();
  // Back to normal answers once the mode's time is up.
  void end_mode_when_due();
  void send_due_answers();
  int poll_timeout_ms() const;

  BoardModel* board_for(const CommandFrame& frame);
  bool silent(std::uint8_t address) const;
  // The board whose status a flood pours out: the first on the line.
  const BoardModel& flooding_board() const { return models_.front(); }

  SimOptions options_;
  std::vector<BoardModel> models_;
  std::optional<PseudoTerminal> terminal_;
  std::optional<ComLink> link_;
  FrameReader reader_;
  std::deque<Answer> answers_;
  Clock::time_point next_flood_{};
  std::optional<Clock::time_point> mode_end_;  // set by the first frame read
  std::vector<std::uint8_t> unpaced_;          // unpaced flood bytes the terminal has not taken yet
  bool cut_ = false;                           // the cable to the board is cut
};
