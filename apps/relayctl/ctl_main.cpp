#include "ctl_main.h"

#include "ctl_host.h"
#include "ctl_options.h"
#include "ctl_output.h"
#include "ctl_run.h"
#include "interrupt.h"
#include "names/state_folder.h"
#include "panel_core/panel_core.h"
#include "standard_output.h"

int relayctl_main(int argc, const char* const argv[], const CtlPlatform& platform,
                  std::ostream& out, std::ostream& err) {
  const auto parsed = parse_ctl_options(argc, argv);
  if (const auto* message = std::get_if<std::string>(&parsed)) {
    const bool json = json_asked(argc, argv);
    err << error_line(json ? *message : *message + " (see relayctl --help)",
                      exit_status(ExitCode::Usage), json);
    return exit_status(ExitCode::Usage);
  }
  const CtlOptions& options = std::get<CtlOptions>(parsed);
  if (options.help) {
    out << ctl_usage();
    return exit_status(ExitCode::Done);
  }
  if (options.version) {
    out << "relayctl " RELAYCTL_VERSION "\n";
    return exit_status(ExitCode::Done);
  }

  // The name file and the com<n> links that map port numbers to devices are found by
  // the panel's own rule; without a usable folder there are no names and no links, as
  // in the panel, and the reason is told only to a command that needs the names.
  StateFolder state;
  std::string no_names_reason;
  const StateFolderChoice choice = find_state_folder(platform.program_dir, options.names_file);
  if (const auto* found = std::get_if<StateFolder>(&choice)) {
    state = *found;
  } else {
    no_names_reason = state_folder_message(std::get<StateFolderProblem>(choice)).text;
  }

  const std::unique_ptr<SerialPort> port = platform.make_port(state.folder);
  CtlHost host(options.port_text, options.address_text, err);
  PanelCore core({*port, host, host, host, host, host}, state.name_file);
  // Every command runs on the line engine: a watch polls on its rhythm, the other
  // commands send their requests at once and wait for each answer.
  const bool watching = options.command == CtlCommand::Watch;
  if (watching) ignore_broken_pipe();
  // A command that switches relays ends on a signal only once they are where it leaves
  // them, and a scan with the boards found so far; a status query has nothing to put back.
  if (watching || options.command == CtlCommand::Open || options.command == CtlCommand::Close ||
      options.command == CtlCommand::Pulse || options.command == CtlCommand::Scan) {
    catch_interrupts();
  }

  // A watch also ends when nobody reads it any more.
  const auto ends = [watching] { return interrupted() || (watching && standard_output_closed()); };
  CtlContext context{options,
                     core,
                     host,
                     platform.wait,
                     [&] {
                       if (options.device) return core.port_control().open_device(*options.device);
                       core.port_control().toggle_port();
                       return port->is_open();
                     },
                     ends,
                     no_names_reason,
                     out,
                     err,
                     standard_error_is_terminal()};
  return run_command(context);
}
