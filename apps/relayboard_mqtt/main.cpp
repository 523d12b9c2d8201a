// relayboard-mqtt: the boards of one serial line on an MQTT broker, on the bridge's logic
// with libmosquitto and Qt's event loop, all on one thread.
#include <signal.h>

#include <QCoreApplication>
#include <filesystem>
#include <iostream>

#include "bridge/bridge_options.h"
#include "bridge_daemon.h"
#include "host_qt/stop_signals.h"
#include "line_forgetting.h"

namespace {

// One event, one line: received text (a topic, a name) cannot break a line of the log or
// reach the terminal as a control sequence.
void log_line(const std::string& text) {
  std::string line = "relayboard-mqtt: ";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      static const char digits[] = "0123456789abcdef";
      line.append("\\x").push_back(digits[byte >> 4]);
      line.push_back(digits[byte & 0xF]);
    } else {
      line.push_back(c);
    }
  }
  line.push_back('\n');
  std::cerr << line << std::flush;
}

}  // namespace

int main(int argc, char* argv[]) {
  const BridgeOptionsResult parsed = parse_bridge_options(argc, argv);
  if (const auto* error = std::get_if<OptionsError>(&parsed)) {
    log_line(error->message);
    return 2;
  }
  const BridgeOptions& options = std::get<BridgeOptions>(parsed);
  if (options.help) {
    std::cout << bridge_usage() << std::flush;
    return 0;
  }
  if (options.version) {
    std::cout << "relayboard-mqtt " RELAYBOARD_MQTT_VERSION "\n" << std::flush;
    return 0;
  }
  if (const auto error = check_bridge_files(options)) {
    log_line(error->message);
    return 2;
  }

  // A log reader that went away must not end the daemon.
  ::signal(SIGPIPE, SIG_IGN);
  QCoreApplication app(argc, argv);
  if (options.forget_line) {
    LineForgetting forgetting(options, log_line);
    if (const auto failure = forgetting.start([](int status) { QCoreApplication::exit(status); })) {
      log_line(*failure);
      return 1;
    }
    return app.exec();
  }
  BridgeDaemon daemon(
      options, std::filesystem::path(QCoreApplication::applicationDirPath().toStdU16String()),
      log_line);
  if (const auto failure = daemon.start()) {
    log_line(*failure);
    return 1;
  }
  daemon.on_refused = [] { QCoreApplication::exit(2); };
  call_on_stop_signals(daemon, [&daemon] {
    log_line("stopping");
    daemon.stop([] { QCoreApplication::exit(0); });
  });
  const int status = app.exec();
  log_line("stopped");
  return status;
}
