// relayctl: the relay board from scripts, on the panel's own core, with Qt's serial
// port and event loop.
#include <unistd.h>

#include <QCoreApplication>
#include <iostream>

#include "ctl_main.h"
#include "link_connection.h"
#include "link_qt/qt_event_wait.h"
#include "link_qt/qt_serial_port.h"
#include "log_command.h"
#include "mqtt_qt/mosquitto_link.h"

int main(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  QtEventWait wait;
  const CtlPlatform platform{
      std::filesystem::path(QCoreApplication::applicationDirPath().toStdU16String()),
      [](const std::filesystem::path& state_folder) {
        return std::make_unique<QtSerialPort>(state_folder);
      },
      wait,
      [](const BrokerAccess& access) {
        return std::make_unique<LinkConnection<MosquittoLink>>(
            relayctl_broker_settings(access, static_cast<unsigned long>(::getpid())));
      },
      open_event_log,
      run_log};
  return relayctl_main(argc, argv, platform, std::cout, std::cerr);
}
