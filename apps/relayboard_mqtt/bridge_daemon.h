#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "bridge/bridge_core.h"
#include "bridge/bridge_names.h"
#include "bridge_options.h"
#include "broker_settings.h"
#include "bus_line.h"
#include "common/message_boxes.h"
#include "daemon_host.h"
#include "event_log/event_log.h"
#include "file_keeper.h"
#include "held_client.h"
#include "mqtt/retained_snapshot.h"
#include "names/name_file.h"
#include "names/profile_store.h"

// What the name file would show the operator in a message box, as log lines.
class LoggedMessages : public MessageBoxes {
 public:
  explicit LoggedMessages(std::function<void(const std::string&)> log) : log_(std::move(log)) {}
  void show(const Message& message) override;

  std::filesystem::path name_file;  // named where the message itself does not

 private:
  std::function<void(const std::string&)> log_;
};

// The daemon put together: the bridge's logic between the broker link and the serial
// line, the name file it takes the names from (read again when it changes), and the timers
// that drive them, on whichever event loop the host runs (Qt's, the Win32 message loop).
class BridgeDaemon {
 public:
  using LogLine = std::function<void(const std::string&)>;

  // `program_dir` is where the executable lives, for the panel's state folder rule.
  // `warn` takes what went wrong and is lived with (a lost line or broker, a file not
  // read or not written), which a system's log may mark as such; `log` when not given.
  BridgeDaemon(DaemonHost& host, BridgeOptions options, std::filesystem::path program_dir,
               LogLine log, LogLine warn = {});
  ~BridgeDaemon();
  BridgeDaemon(const BridgeDaemon&) = delete;
  BridgeDaemon& operator=(const BridgeDaemon&) = delete;

  // Why the daemon cannot run at all, and whether the operator's settings are at fault
  // (rules.conf, events.conf, the web page's files), which no restart mends.
  struct StartFailure {
    std::string text;
    bool settings_fault = false;
  };
  // Reads the names, starts the broker link and opens the line; why not, when the
  // daemon cannot run at all.
  std::optional<StartFailure> start();
  // Publishes the bridge and its boards offline, disconnects once that is written,
  // closes the line, then calls `done`.
  void stop(std::function<void()> done);

  // The line is served by another bridge: this one has left the broker and closed the
  // line without a word on the line's topics.
  std::function<void()> on_refused;

  // How long the goodbye to the broker may take.
  static constexpr std::chrono::seconds leave_patience{3};

 private:
  // The event log of the state folder, written with every event of the line.
  void open_event_log(const std::filesystem::path& folder, EventLogLimits limits);
  // Each event of the line to the log and to the web page.
  void follow_events();
  void take_message(const MqttMessage& message);
  void settle_claim();
  void run_timetable();
  // The timetable's memory in the state folder: read at start, written when it changes.
  ScheduleMemory recall_schedule();
  void remember_schedule();
  // What the line owes its boards, in the state folder: put back before the first poll,
  // written each time it changes, so that a crash does not forget it.
  void recall_owed();
  void remember_owed(const OwedState& owed);
  void look_at_names();
  // The names as the file holds them now, after a rename of our own.
  BridgeNames names_now();
  DaemonHost& host_;
  BridgeOptions options_;
  std::filesystem::path program_dir_;
  LogLine log_;
  LogLine warn_;
  LoggedMessages messages_;
  ProfileStore profile_store_;
  BridgeNameView name_view_;
  std::unique_ptr<NameFile> name_file_;
  std::unique_ptr<MosquittoSession> link_;
  std::unique_ptr<HeldClient> held_;       // the core's broker until the line is ours
  std::optional<RetainedSnapshot> claim_;  // who serves the line, read at start
  // The web page, when asked for: the core's broker is then its tap.
  std::unique_ptr<BridgePage> web_;
  std::unique_ptr<BridgeCore> core_;
  std::unique_ptr<BusLine> line_;
  std::unique_ptr<EventLog> event_log_;  // none when it could not be opened
  std::shared_ptr<void> name_watcher_;
  std::filesystem::path state_folder_;  // empty when there is none
  ScheduleMemory remembered_;
  const ClockAnchor anchor_ = ClockAnchor::now();  // the run's one reading of both clocks
  std::string owed_text_;                          // what the owed file holds
  std::unique_ptr<FileKeeper> owed_file_;          // writes it off the event loop
  // On the wall clock, looked at again at least twice a minute.
  std::unique_ptr<DaemonTimer> timetable_timer_;
  std::unique_ptr<DaemonTimer> discovery_timer_;  // held documents out once the claim settles
};
