// relayboard-mqtt: the boards of one serial line on an MQTT broker, on the bridge's logic
// with libmosquitto and Qt's event loop, all on one thread.
#include <signal.h>

#include <QCoreApplication>
#include <filesystem>
#include <iostream>

#include "bridge_daemon.h"
#include "bridge_launch.h"
#include "bridge_options.h"
#include "broker_settings.h"
#include "daemon_host_qt.h"
#include "line_forgetting.h"
#include "loop/qt_stop_signals.h"
#include "text/shown_text.h"
#include "web/web_endpoint.h"
#include "web_users_file.h"

namespace {

// One event, one line: received text (a topic, a name) cannot break a line of the log or
// reach the terminal as a control sequence.
void log_line(const std::string& text) {
  std::cerr << "relayboard-mqtt: " + shown_text(text) + '\n' << std::flush;
}

// Why the web page cannot be served as asked: an address that is not one, TLS files
// without each other, or the network without TLS and a login.
std::optional<std::string> web_setup_refusal(const BridgeOptions& options) {
  if (!options.web) {
    if (options.web_cert || options.web_key || options.web_users)
      return "--web-cert, --web-key and --web-users need --web";
    return std::nullopt;
  }
  const auto endpoint = parse_web_endpoint(*options.web);
  if (const auto* why = std::get_if<std::string>(&endpoint)) return "--web: " + *why;
  if (options.web_cert.has_value() != options.web_key.has_value()) {
    return "--web-cert and --web-key go together";
  }
  return web_endpoint_refusal(std::get<WebEndpoint>(endpoint),
                              {options.web_cert.has_value(), options.web_users.has_value()});
}

}  // namespace

int main(int argc, char* argv[]) {
  const BridgeOptionsResult parsed = parse_bridge_options(argc, argv);
  if (const auto status = settle_command_line(parsed, std::cout, log_line)) return *status;
  const BridgeOptions& options = std::get<BridgeOptions>(parsed);
  if (options.add_web_user) {
    QCoreApplication app(argc, argv);
    return add_web_user(options, log_line);
  }
  if (const auto refusal = web_setup_refusal(options)) {
    log_line(*refusal);
    return 2;
  }

  // A log reader that went away must not end the daemon.
  ::signal(SIGPIPE, SIG_IGN);
  QCoreApplication app(argc, argv);
  QtDaemonHost host;
  if (options.forget_line) {
    LineForgetting forgetting(host, options, log_line);
    if (const auto failure = forgetting.start([](int status) { QCoreApplication::exit(status); })) {
      log_line(*failure);
      return 1;
    }
    return app.exec();
  }
  host.program_dir = std::filesystem::path(QCoreApplication::applicationDirPath().toStdU16String());
  BridgeDaemon daemon(host, options, host.program_dir, log_line);
  if (const auto failure = daemon.start()) {
    log_line(failure->text);
    // 2: the service manager does not start it again until the settings are mended.
    return failure->settings_fault ? 2 : 1;
  }
  daemon.on_refused = [] { QCoreApplication::exit(2); };
  call_on_stop_signals(app, [&daemon] {
    log_line("stopping");
    daemon.stop([] { QCoreApplication::exit(0); });
  });
  const int status = app.exec();
  log_line("stopped");
  return status;
}
