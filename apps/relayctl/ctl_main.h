#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>
#include <string>

#include "broker_connection.h"
#include "ctl_options.h"
#include "event_log/event_recorder.h"
#include "loop/event_wait.h"
#include "serial/serial_port.h"

// What a relayctl program puts under the shared main: the serial line and the event
// wait of its system. Ctrl+C and a closed output are told by the
// system's interrupt.h and standard_output.h, built into the same program.
struct CtlPlatform {
  std::filesystem::path program_dir;
  // The serial line; `state_folder` holds the com<n> links where the system has them.
  std::function<std::unique_ptr<SerialPort>(const std::filesystem::path& state_folder)> make_port;
  EventWait& wait;
  // The broker connection for served lines; none where this build has no MQTT library.
  std::function<std::unique_ptr<BrokerConnection>(const BrokerAccess&)> connect_broker = {};
  // The event log of the state folder `folder` as a sink for the command's events; none
  // (and the reason on `err`) when it cannot be opened, and none where this build keeps
  // no log.
  std::function<std::unique_ptr<EventSink>(const std::filesystem::path& folder, std::ostream& err)>
      open_events = {};
  // Prints the event log at `path` as `log` asks; none where this build keeps no log.
  std::function<int(const CtlOptions&, const std::filesystem::path& path, std::ostream& out,
                    std::ostream& err)>
      show_log = {};
  // Who runs the command, in UTF-8, for the event log; empty: the USER or USERNAME
  // variable as the C library has it.
  std::string user = {};
};

// Parses the command line (UTF-8), runs the command and returns the exit status.
int relayctl_main(int argc, const char* const argv[], const CtlPlatform& platform,
                  std::ostream& out, std::ostream& err);
