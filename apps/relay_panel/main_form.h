#pragma once

#include <QWidget>
#include <filesystem>
#include <memory>
#include <string>

#include "common/message_boxes.h"
#include "serial/serial_port.h"
#include "names/name_file.h"
#include "panel/address_source.h"
#include "panel/indicator_panel.h"
#include "panel/panel_core.h"
#include "panel/poll_cycle.h"
#include "panel/port_control.h"
#include "relay_panel/main_form_controls.h"

class NameFileWatcher;
class name_form;

// The operator's window on the board: port and address boxes with their spin bars,
// the 16 relay indicators with their names, the bulk buttons and the poll timer.
// Each handler hands its event to the core object that owns the logic: the poll
// cycle, the port control, the name file or the rename dialog.
class main_form : public QWidget,
                  public NameView,
                  public IndicatorPanel,
                  public PortControlView,
                  public AddressSource {
  Q_OBJECT

 public:
  // The name file and the folder that holds the com<n> links (where the name file is);
  // an empty name file path runs the panel without names, an empty folder without links.
  main_form(std::filesystem::path name_file, std::filesystem::path link_dir, MessageBoxes& messages,
            SerialPort& port, QWidget* parent = nullptr);
  // name.txt and the links in the one folder, as for a portable copy.
  main_form(const std::filesystem::path& program_dir, MessageBoxes& messages, SerialPort& port,
            QWidget* parent = nullptr);
  ~main_form() override;

  // Makes sure the name file exists, sets the title and shows the names of the
  // address in the box. Runs once, before the window is first shown.
  void set_up();

  // Sets the address spin bar from the box and reloads the 16 names; also once the
  // rename dialog has stored a name.
  void address_changed();

  // Where the names of a line that another program owns come from (the port's), and
  // the line at its boards' level: the switches go to its owner, its states come back.
  void use_line_owner(LineNames& names, FollowedLine& line);

  // One poll tick.
  void tick();

  name_form& rename_dialog() { return *rename_; }
  // The window's core, for what main() adds to it (the event log).
  PanelCore& core() { return core_; }

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

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void port_number_changed();
  void address_bar_changed();
  void port_bar_changed();
  void toggle_port();
  void relay_clicked(int index);
  void state_caption_clicked(int index);
  void name_clicked(int index);

  void connect_handlers();
  void name_file_changed();
  void update_port_tooltip();
  void centre_on_screen();

  std::filesystem::path link_dir_;
  SerialPort& port_;
  MainFormControls controls_;
  PanelCore core_;
  std::unique_ptr<name_form> rename_;
  std::unique_ptr<NameFileWatcher> name_watcher_;
};
