#include "daemon_host_qt.h"

#include <QTimer>

#include "bridge_options.h"
#include "event_log/event_log.h"
#include "event_log/event_text.h"
#include "loop/qt_descriptor_loop.h"
#include "mqtt/mosquitto_link.h"
#include "names/name_file_watcher.h"
#include "serial/posix_serial_port.h"
#include "web_server.h"
#include "web_tap.h"

namespace {

class QtDaemonTimer final : public DaemonTimer {
 public:
  QtDaemonTimer(std::function<void()> fired, bool precise) {
    timer_.setSingleShot(true);
    // Qt's coarse timers may fire 5% late.
    if (precise) timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, std::move(fired));
  }
  void start(std::chrono::milliseconds after) override { timer_.start(after); }
  void stop() override { timer_.stop(); }

 private:
  QTimer timer_;
};

// The page's server, and the tap between the core and the broker that tells it what
// the core publishes.
class QtWebPage final : public BridgePage {
 public:
  QtWebPage(WebServer::Setup setup, const BridgeOptions& options, const BridgeTopics& topics,
            MqttClient& broker, std::function<void(const MqttMessage&)> command,
            DaemonHost::LogLine log)
      : line_(options.line),
        log_(log),
        server_(std::move(setup), topics, options.addresses, std::move(command), std::move(log)),
        tap_(
            broker, server_.answer_prefix(),
            [this](const std::string& topic, const std::string& payload) {
              server_.published(topic, payload);
            },
            [this](const std::string& topic, const std::string& payload) {
              server_.answer(topic, payload);
            }) {}

  MqttClient& broker() override { return tap_; }
  void names_changed(const BridgeNames& names) override { server_.names_changed(names); }
  void event(const Event& event) override { server_.event(event_line(event)); }
  void log_opened(const std::filesystem::path& file) override {
    auto newest = read_newest_events(file, line_, WebBoards::events_kept);
    if (const auto* why = std::get_if<std::string>(&newest)) log_("web page: no events: " + *why);
    if (const auto* events = std::get_if<std::vector<Event>>(&newest)) {
      for (const Event& event : *events) server_.event(event_line(event));
    }
  }
  std::optional<std::string> start() override { return server_.start(); }
  std::string url() const override { return server_.url(); }

 private:
  std::string line_;
  DaemonHost::LogLine log_;
  WebServer server_;
  WebTap tap_;
};

}  // namespace

std::unique_ptr<DaemonTimer> QtDaemonHost::timer(std::function<void()> fired, bool precise) {
  return std::make_unique<QtDaemonTimer>(std::move(fired), precise);
}

void QtDaemonHost::post(std::function<void()> work) {
  QMetaObject::invokeMethod(&context_, std::move(work), Qt::QueuedConnection);
}

std::shared_ptr<void> QtDaemonHost::watch_names(const std::filesystem::path& file,
                                                std::function<void()> changed) {
  return std::make_shared<NameFileWatcher>(file, std::move(changed));
}

std::unique_ptr<MosquittoSession> QtDaemonHost::broker_link(BrokerSettings settings, LogLine log) {
  return std::make_unique<MosquittoLink>(std::move(settings), std::move(log));
}

DaemonPort QtDaemonHost::serial_port(const std::filesystem::path& link_folder) {
  auto port = std::make_unique<PosixSerialPort>(link_folder, QtDescriptorLoop::program());
  auto lost = [port = port.get()] { return port->device_lost(); };
  return {std::move(port), lost};
}

std::unique_ptr<BridgePage> QtDaemonHost::web_page(const BridgeOptions& options,
                                                   const BridgeTopics& topics, MqttClient& broker,
                                                   std::function<void(const MqttMessage&)> command,
                                                   LogLine log) {
  // The page's files beside the program in the build tree, else in the share folder of
  // the prefix it is installed in (bin/../share), whichever prefix that is.
  std::filesystem::path files = program_dir / "web";
  if (!std::filesystem::exists(files / "index.html")) {
    files = program_dir.parent_path() / "share/relayboard-mqtt/web";
  }
  const auto endpoint = parse_web_endpoint(*options.web);
  WebServer::Setup setup{std::get<WebEndpoint>(endpoint), options.web_cert, options.web_key,
                         options.web_users, files};
  return std::make_unique<QtWebPage>(std::move(setup), options, topics, broker, std::move(command),
                                     std::move(log));
}
