// relayctl: the relay board from scripts, on the panel's own core.
#include <QCoreApplication>
#include <iostream>

#include "ctl_host.h"
#include "ctl_options.h"
#include "ctl_output.h"
#include "ctl_run.h"
#include "interrupt.h"
#include "link_qt/poll_timer.h"
#include "link_qt/qt_serial_port.h"
#include "names/state_folder.h"
#include "panel_core/panel_core.h"
#include "link_qt/qt_event_wait.h"
#include "standard_output.h"

int main(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  const auto parsed = parse_ctl_options(argc, argv);
  if (const auto* message = std::get_if<std::string>(&parsed)) {
    const bool json = json_asked(argc, argv);
    std::cerr << error_line(json ? *message : *message + " (see relayctl --help)",
                            exit_status(ExitCode::Usage), json);
    return exit_status(ExitCode::Usage);
  }
  const CtlOptions& options = std::get<CtlOptions>(parsed);
  if (options.help) {
    std::cout << ctl_usage();
    return exit_status(ExitCode::Done);
  }
  if (options.version) {
    std::cout << "relayctl " RELAYCTL_VERSION "\n";
    return exit_status(ExitCode::Done);
  }

  // The name file and the com<n> links that map port numbers to devices are found by
  // the panel's own rule; without a usable folder there are no names and no links, as
  // in the panel, and the reason is told only to a command that needs the names.
  const std::filesystem::path program_dir(QCoreApplication::applicationDirPath().toStdU16String());
  StateFolder state;
  std::string no_names_reason;
  const StateFolderChoice choice = find_state_folder(program_dir, options.names_file);
  if (const auto* found = std::get_if<StateFolder>(&choice)) {
    state = *found;
  } else {
    no_names_reason = state_folder_message(std::get<StateFolderProblem>(choice)).text;
  }

  QtSerialPort port(state.folder);
  CtlHost host(options.port_text, options.address_text, std::cerr);
  PanelCore core({port, host, host, host, host, host}, state.name_file);
  PollTimer timer(PollCycle::period);
  QObject::connect(&timer, &PollTimer::timeout, [&] { core.tick(); });
  // Only a watch polls on the panel's rhythm; the other commands send their requests
  // at once and wait for each answer.
  const bool watching = options.command == CtlCommand::Watch;
  if (watching) {
    ignore_broken_pipe();
    host.on_timer = [&](bool enabled) { timer.set_enabled(enabled); };
  }
  // A command that switches relays ends on a signal only once they are where it leaves
  // them; a status query has nothing to put back.
  if (watching || options.command == CtlCommand::Open || options.command == CtlCommand::Close ||
      options.command == CtlCommand::Pulse) {
    catch_interrupts();
  }

  // A watch also ends when nobody reads it any more.
  const auto ends = [watching] { return interrupted() || (watching && standard_output_closed()); };
  QtEventWait wait;
  CtlContext context{options,
                     core,
                     host,
                     wait,
                     [&] {
                       if (options.device) return core.port_control().open_device(*options.device);
                       core.port_control().toggle_port();
                       return port.is_open();
                     },
                     ends,
                     no_names_reason,
                     std::cout,
                     std::cerr};
  return run_command(context);
}
