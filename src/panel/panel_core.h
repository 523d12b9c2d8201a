#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "common/board_limits.h"
#include "common/message_boxes.h"
#include "event_log/event_recorder.h"
#include "loop/event_wait.h"
#include "serial/serial_port.h"
#include "names/name_file.h"
#include "names/profile_store.h"
#include "names/rename_logic.h"
#include "panel/address_source.h"
#include "line/board_line.h"
#include "line/owed_state.h"
#include "panel/indicator_panel.h"
#include "panel/line_watcher.h"
#include "panel/panel_names.h"
#include "panel/poll_cycle.h"
#include "panel/port_control.h"

// What a host of the core provides: the line, and whatever shows the board and the
// names to the operator (the window's widgets, relayctl's output, a test's records).
struct PanelHost {
  SerialPort& port;
  IndicatorPanel& indicators;
  PortControlView& view;
  AddressSource& address;
  NameView& names;
  MessageBoxes& messages;
};

// The panel's core, wired once for every host: the command frames, the 50 ms poll
// cycle with its mailbox and watchdog, the port control, and the names (the name file
// with the rename logic, or a served line's). The host calls tick() on each tick of its own 50 ms
// timer, which the port control switches through PortControlView; the receive event of the port
// reaches the poll cycle here. No Qt: the host's event loop drives everything.
class PanelCore final : private FramePort, private IndicatorPanel {
 public:
  PanelCore(const PanelHost& host, std::filesystem::path name_file);
  // Stops the receive events and closes an open port: the line goes with its host.
  ~PanelCore() override;
  PanelCore(const PanelCore&) = delete;
  PanelCore& operator=(const PanelCore&) = delete;

  // One tick of the host's 50 ms poll timer.
  void tick() {
    poll_.tick();
    keep_owed();
  }

  // The line engine that the poll cycle sends through.
  LineEngine& line() { return poll_.line(); }
  PollCycle& poll() { return poll_; }
  PortControl& port_control() { return port_control_; }
  ProfileStore& profile_store() { return profile_store_; }
  NameFile& name_file() { return name_file_; }
  RenameLogic& rename() { return rename_; }
  // The names shown and renamed: the name file's, or the open line's owner's.
  PanelNames& names() { return names_; }
  SerialPort& port() { return port_; }

  // Valid status frames shown since the start.
  std::uint64_t answers() const { return answers_; }
  // What the core last painted on each indicator, relay 1 at index 0.
  const std::array<IndicatorState, relay_count>& shown() const { return shown_; }

  // Keeps the events of the lines this core opens (its switches as `who`'s, the board's
  // answers and silences) in `sink`; none by default.
  void set_event_sink(EventSink& sink, SwitchSource who);
  // The recorder of those events, for a host that switches on a line engine of its own.
  EventRecorder* recorder() { return recorder_.get(); }

  // The panel owns the lines it opens (those for which `line_is_ours` holds, if given):
  // each board gets its on_start state at its first answer, and its on_stop state
  // before the port closes (the frames awaited through `wait`, within
  // release_patience). Not called, the boards are left as they are.
  void own_lines(EventWait& wait, std::function<bool()> line_is_ours = {});
  // Puts the boards in their on_stop state while the port is still open.
  void release_line();
  // The line whose owner switches its boards, when the open line is one: the clicks go
  // to it at once, its states are painted as they arrive, and the switches it refused
  // are shown as the panel's own refusals are; nullptr for none.
  void use_board_line(FollowedLine* line);
  static constexpr std::chrono::milliseconds release_patience{500};

  // One watcher at a time; nullptr for none.
  void set_watcher(LineWatcher* watcher) { watcher_ = watcher; }

 private:
  // FramePort: the frames of the line engine pass the watcher on their way to the port.
  bool is_open() const override { return port_.is_open(); }
  void discard_input() override { port_.discard_input(); }
  void write(std::span<const std::uint8_t> bytes) override;
  // IndicatorPanel: the paints of the core pass here on their way to the host.
  void paint(int relay, IndicatorState state) override;
  Colour box_colour(int relay) const override { return indicators_.box_colour(relay); }

  void on_receive(int event_code);
  // Tells the watcher of a receive event or a board-level line's states, once painted.
  void handled(const std::function<void()>& paint);
  // What the line owes under its max_on rules, beside the name file while the panel owns
  // `line`: put back at the open, written each time it changes.
  void recall_owed(const std::string& line);
  void keep_owed();

  SerialPort& port_;
  IndicatorPanel& indicators_;
  LineWatcher* watcher_ = nullptr;
  EventWait* release_wait_ = nullptr;
  std::function<bool()> line_is_ours_;
  std::unique_ptr<EventRecorder> recorder_;
  std::array<IndicatorState, relay_count> shown_{};
  std::uint64_t answers_ = 0;
  bool painted_states_ = false;

  PollCycle poll_;
  PortControl port_control_;
  ProfileStore profile_store_;
  NameFile name_file_;
  RenameLogic rename_;
  PanelNames names_;
  MessageBoxes& messages_;
  FollowedLine* board_line_ = nullptr;
  std::filesystem::path owed_file_;  // empty while the panel keeps nothing
  ClockAnchor owed_anchor_{};        // the open's one reading of the wall clock and the ticks
  std::vector<OwedState::On> told_owed_;
  std::string owed_text_;  // what the owed file holds
  bool owed_fault_shown_ = false;
};
