#pragma once

#include <windows.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "common/message_boxes.h"
#include "loop/event_wait.h"
#include "serial/serial_port.h"
#include "loop/win_poll_timer.h"
#include "names/name_file.h"
#include "panel/address_source.h"
#include "panel/indicator_panel.h"
#include "panel/line_names.h"
#include "panel/panel_core.h"
#include "panel/port_control.h"
#include "relay_panel_win/name_file_watch.h"
#include "relay_panel_win/panel_fonts.h"
#include "relay_panel_win/rename_dialog.h"
#include "relay_panel_win/window_controls.h"

// The operator's window on the board: port and address boxes with their spin bars, the
// 16 relay indicators with their names, the bulk buttons and the poll timer. Each
// handler hands its event to the core object that owns the logic: the poll cycle, the
// port control, the name file or the rename dialog.
class MainWindow final : public NameView,
                         public IndicatorPanel,
                         public PortControlView,
                         public AddressSource {
 public:
  // The name file and the folder it is in; an empty name file path runs the panel
  // without names.
  MainWindow(std::filesystem::path name_file, std::filesystem::path link_dir,
             MessageBoxes& messages, SerialPort& port);
  ~MainWindow() override;
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // Makes sure the name file exists, sets the title and shows the names of the address
  // in the box. Runs once, before the window is first shown.
  void set_up();
  void show();

  HWND handle() const { return window_; }
  RenameDialog& rename_dialog() { return *rename_; }

  // The keyboard's way round the window's controls and the rename dialog's; true when
  // the message was handled so.
  bool dialog_message(MSG& message);

  // Sets the address spin bar from the box and reloads the 16 names; also once the
  // rename dialog has stored a name.
  void address_changed();

  // The names of a line that another program owns, shown while such a line is open, and
  // the line at its boards' level: the switches go to its owner, its states come back.
  void use_line_owner(LineNames& names, FollowedLine& line);
  // The panel owns the lines for which `line_is_ours` holds: their boards get their
  // on_start state at the open and their on_stop state before the port closes (the
  // frames awaited through `wait`), the window's closing included.
  void own_lines(EventWait& wait, std::function<bool()> line_is_ours) {
    core_.own_lines(wait, std::move(line_is_ours));
  }
  // Who switched what, and the boards' answers and silences, go to `sink` as `who`'s.
  void set_event_sink(EventSink& sink, SwitchSource who) {
    core_.set_event_sink(sink, std::move(who));
  }
  // Each tick of the poll runs through `runner` (the serial port's, which takes the last
  // answer in first); by default the tick just runs.
  using TickRunner = std::function<void(const std::function<void()>& tick)>;
  void run_ticks_through(TickRunner runner) { tick_runner_ = std::move(runner); }
  // Refuses the operator's input while an open waits for a served line's broker.
  void set_waiting(bool waiting);

  // Puts `number` in the port box and presses "open com", as an operator would.
  void open_port(const std::string& number);

  // NameView
  void set_window_caption(const std::string& caption) override;
  void set_name_label(int relay, const std::string& name) override;
  // IndicatorPanel
  void paint(int relay, IndicatorState state) override;
  Colour box_colour(int relay) const override;
  // PortControlView
  std::string port_number_text() const override;
  void set_open_all_enabled(bool enabled) override;
  void set_close_all_enabled(bool enabled) override;
  void set_timer_enabled(bool enabled) override;
  void set_port_box_enabled(bool enabled) override;
  void set_open_button_caption(const std::string& caption) override;
  // AddressSource
  std::string address_text() const override;

 private:
  static LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT handle(UINT message, WPARAM wparam, LPARAM lparam);
  void command(int id, int code);
  LRESULT notify(const NMHDR& header);
  void dpi_changed(UINT dpi, const RECT& suggested);
  void lay_out();
  void centre_on_screen();

  void tick();
  void port_number_changed();
  void relay_clicked(int relay);
  void name_clicked(int relay);
  void name_file_changed();

  std::filesystem::path link_dir_;
  HWND window_ = nullptr;
  UINT dpi_ = 96;
  std::unique_ptr<PanelFonts> fonts_;
  std::unique_ptr<WindowControls> controls_;
  HWND focus_ = nullptr;          // the control that had the focus when the window lost it
  HWND waiting_focus_ = nullptr;  // the focus while an open waits for the broker
  bool closing_ = false;          // the boards' on_stop state is under way
  PanelCore core_;
  TickRunner tick_runner_;
  FollowedLine* followed_line_ = nullptr;
  // The open line's owner polls its boards: the poll sleeps, and only a new address in
  // the box has the core follow it.
  bool following_owner_ = false;
  WinPollTimer poll_timer_;
  std::unique_ptr<RenameDialog> rename_;
  std::unique_ptr<NameFileWatch> name_watch_;  // from set_up on
};
