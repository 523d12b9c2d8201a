// The panel's core on a local line and on a line that relayboard-mqtt serves, side by
// side on one machine: a click to its frame on the wire, and the board's answer to the
// indicator showing it. Two virtual boards: one the panel opens as port 2, one that the
// bridge serves through a real mosquitto and the panel opens as port 3 (lines.conf).
// Each board's frame log comes through a pipe and each line is stamped as it arrives;
// each paint of an indicator is stamped as it is made.
// Usage: panel_line_probe [clicks]   (default 100)
#include <sys/stat.h>

#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "board_tap.h"
#include "loop/qt_descriptor_loop.h"
#include "serial/posix_serial_port.h"
#include "link_rig.h"
#include "logged_process.h"
#include "mqtt_broker.h"
#include "mqtt_test_client.h"
#include "qt_events.h"
#include "panel/line_choice_port.h"
#include "mqtt/served_line_port.h"

namespace {

using Clock = BoardTap::Clock;

double ms(Clock::duration duration) {
  return std::chrono::duration<double, std::milli>(duration).count();
}

void report(const char* what, std::vector<double> times) {
  if (times.empty()) {
    std::printf("  %-34s no runs\n", what);
    return;
  }
  std::sort(times.begin(), times.end());
  std::printf("  %-34s %4zu runs  median %6.2f ms  max %6.2f ms\n", what, times.size(),
              times[times.size() / 2], times.back());
}

std::string hex(int byte) {
  char text[3];
  std::snprintf(text, sizeof text, "%02X", byte);
  return text;
}

// Indicators that remember when each relay was last painted, and how.
struct StampedIndicators : FakeIndicators {
  void paint(int relay, IndicatorState state) override {
    FakeIndicators::paint(relay, state);
    painted_at.at(relay - 1) = Clock::now();
  }
  std::array<Clock::time_point, relay_count> painted_at{};
};

// The port control switches the poll timer as the window's does.
struct TimedView : FakePortView {
  void set_timer_enabled(bool enabled) override {
    FakePortView::set_timer_enabled(enabled);
    if (enabled)
      timer.start(PollCycle::period);
    else
      timer.stop();
  }
  QTimer timer;
};

// A virtual board linked as com<port> in `folder`, its log read through a pipe.
struct Board {
  Board(const std::string& folder, int port) {
    const std::string fifo = folder + "/board" + std::to_string(port) + ".pipe";
    ::mkfifo(fifo.c_str(), 0600);
    tap = std::make_unique<BoardTap>(fifo);
    process = std::make_unique<LoggedProcess>(
        RELAY_BOARD_SIM_PATH,
        std::vector<std::string>{"--link-dir", folder, "--port", std::to_string(port), "--verbose"},
        fifo);
  }
  ~Board() {
    process.reset();  // before the pipe's reader
    tap.reset();
  }
  std::unique_ptr<BoardTap> tap;
  std::unique_ptr<LoggedProcess> process;
};

class Probe {
 public:
  explicit Probe(MqttBroker& broker) : folder_(broker.folder()) {
    std::ofstream(folder_ + "/lines.conf")
        << "3 = mqtt://" << broker.host() << ":" << broker.port() << "/relayboard/probe\n";
    QObject::connect(&view_.timer, &QTimer::timeout, [this] { core_.tick(); });
    core_.use_board_line(&port_);
  }

  // Opens port `port_text`, clicks `clicks` times at an operator's pace (100 to 150 ms
  // apart, so that clicks fall at every point of the poll's rhythm) and closes it again.
  void time_clicks(const char* what, const std::string& port_text, BoardTap& tap, int clicks) {
    view_.port_text = port_text;
    core_.port_control().toggle_port();
    if (!port_.is_open()) {
      std::printf("%s: the port did not open\n", what);
      return;
    }
    wait_until([&] { return indicators_.states[15] == IndicatorState::Closed; });
    std::vector<double> to_wire, to_indicator, click_to_indicator;
    bool opened[relay_count] = {};
    for (int run = 0; run < clicks; ++run) {
      const int relay = run % relay_count + 1;
      const bool open = !opened[relay - 1];
      const std::string frame =
          "relay_board_sim: <- 55 01 " + hex(open ? 0x12 : 0x11) + " 00 00 00 " + hex(relay);
      wait_until([] { return false; }, 100 + run * 37 % 51);
      const std::size_t from = tap.size();
      const auto clicked = Clock::now();
      core_.poll().relay_clicked(static_cast<std::int16_t>(relay));
      const IndicatorState shown = open ? IndicatorState::Opened : IndicatorState::Closed;
      BoardTap::Found wire, answer;
      wait_until([&] {
        if (!wire) wire = tap.find_line(from, frame);
        if (wire && !answer) answer = tap.find_line(wire->first + 1, "relay_board_sim: -> 22");
        return answer && indicators_.states[relay - 1] == shown;
      });
      if (!wire || !answer || indicators_.states[relay - 1] != shown) {
        std::printf("%s: click %d lost\n", what, run + 1);
        break;
      }
      to_wire.push_back(ms(wire->second - clicked));
      to_indicator.push_back(ms(indicators_.painted_at[relay - 1] - answer->second));
      click_to_indicator.push_back(ms(indicators_.painted_at[relay - 1] - clicked));
      opened[relay - 1] = open;
    }
    core_.port_control().toggle_port();
    std::printf("%s:\n", what);
    report("click -> frame on the wire", to_wire);
    report("board's answer -> indicator", to_indicator);
    report("click -> indicator", click_to_indicator);
  }

 private:
  std::string folder_;
  PosixSerialPort serial_{folder_, QtDescriptorLoop::program()};
  ServedLinePort served_;
  LineChoicePort port_{serial_, served_, folder_};
  StampedIndicators indicators_;
  FixedAddress address_;
  TimedView view_;
  FakeNameLabels names_;
  RecordingMessageBoxes messages_;
  PanelCore core_{{port_, indicators_, view_, address_, names_, messages_}, folder_ + "/name.txt"};
};

bool bridge_up(MqttBroker& broker, const std::string& folder) {
  MqttTestClient client(broker);
  client.subscribe("relayboard/probe/#");
  const bool up = client.wait_for_payload("relayboard/probe/1/status", "online") &&
                  client.wait_for_payload("relayboard/probe/1/16/state", "OFF");
  if (!up)
    std::fprintf(stderr, "panel_line_probe: the bridge did not come up in %s\n", folder.c_str());
  return up;
}

// One site: a broker as `options` set it, the served board, its bridge and the local board.
int run_site(const MqttBroker::Options& options, const char* broker_name, int clicks) {
  MqttBroker broker(options);
  if (!broker.running()) {
    std::fprintf(stderr, "panel_line_probe: %s\n", broker.error().c_str());
    return 1;
  }
  const std::string folder = broker.folder();
  Board served(folder, 1);
  Board local(folder, 2);
  if (!served.tap->wait_line(0, "/dev/") || !local.tap->wait_line(0, "/dev/")) return 1;
  LoggedProcess bridge(
      RELAYBOARD_MQTT_PATH,
      {"--device", folder + "/com1", "--line", "probe", "--names", folder + "/served-name.txt",
       "--host", broker.host(), "--mqtt-port", std::to_string(broker.port()), "--no-discovery"},
      folder + "/bridge.log");
  if (!bridge_up(broker, folder)) return 1;
  std::printf("broker %s:\n", broker_name);
  Probe probe(broker);
  probe.time_clicks(" local line (port 2)", "2", *local.tap, clicks);
  probe.time_clicks(" served line (port 3)", "3", *served.tap, clicks);
  return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
  const int clicks = argc > 1 ? std::atoi(argv[1]) : 100;
  start_qt();
  std::printf("the panel's core, 50 ms poll, on a local line and on a served line\n");
  MqttBroker::Options at_once;
  at_once.tcp_nodelay = true;
  if (run_site(at_once, "with set_tcp_nodelay true", clicks) != 0) return 1;
  return run_site(MqttBroker::Options{}, "as installed (set_tcp_nodelay false)", clicks);
}
