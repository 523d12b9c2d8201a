// relayctl: the relay board from scripts, on the panel's own core.
#include <QCoreApplication>
#include <iostream>

#include "ctl_host.h"
#include "ctl_options.h"
#include "ctl_run.h"
#include "interrupt.h"
#include "link_qt/poll_timer.h"
#include "link_qt/qt_serial_port.h"
#include "panel_core/panel_core.h"
#include "qt_event_wait.h"

namespace {

// A device given by its path: the panel's open, with the path in place of a port number.
bool open_device(const std::string& device, QtSerialPort& port, PanelCore& core, CtlHost& host) {
  port.select_device(device);
  const OpenResult result = port.open();
  if (!result.ok) {
    host.show(
        {device + " could not be opened: " + result.reason, "open com", MessageIcon::Critical});
    return false;
  }
  port.set_receive_threshold(PortControl::receive_threshold);
  core.port_control().comm_opened();
  return true;
}

}  // namespace

int main(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  const auto parsed = parse_ctl_options(argc, argv);
  if (const auto* message = std::get_if<std::string>(&parsed)) {
    std::cerr << "relayctl: " << *message << " (see relayctl --help)\n";
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

  // Port numbers map to devices, and the name file is found, as for the panel beside it.
  const std::filesystem::path program_dir(QCoreApplication::applicationDirPath().toStdU16String());
  const std::filesystem::path names = options.names_file.value_or(name_file_path(program_dir));

  QtSerialPort port(program_dir);
  CtlHost host(options.port_text, options.address_text, std::cerr);
  PanelCore core({port, host, host, host, host, host}, names);
  PollTimer timer(std::chrono::milliseconds(50));
  QObject::connect(&timer, &PollTimer::timeout, [&] { core.Timer1_Timer(); });
  // Only a watch polls on the panel's rhythm; the other commands send their requests
  // at once and wait for each answer.
  if (options.command == CtlCommand::Watch) {
    catch_interrupts();
    host.on_timer = [&](bool enabled) { enabled ? timer.start() : timer.stop(); };
  }

  QtEventWait wait;
  CtlContext context{options,
                     core,
                     host,
                     wait,
                     [&] {
                       if (options.device) return open_device(*options.device, port, core, host);
                       core.port_control().open_comm_Click();
                       return port.is_open();
                     },
                     [] { return interrupted(); },
                     std::cout,
                     std::cerr};
  return run_command(context);
}
