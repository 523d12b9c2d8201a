// relayboard-mqtt's timing against a real mosquitto and the virtual board on a
// pseudo-terminal: an MQTT command to its frame on the wire, the board's change to its
// state on the broker, and the daemon's CPU and memory while it only polls the board.
// The board's frame log comes through a pipe and each line is stamped as it arrives.
// Usage: relayboard_mqtt_probe [commands] [idle seconds]   (default 200, 60)
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "board_tap.h"
#include "logged_process.h"
#include "mqtt_broker.h"
#include "mqtt_test_client.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto deadline = std::chrono::seconds(20);

double ms(Clock::duration duration) {
  return std::chrono::duration<double, std::milli>(duration).count();
}

void report(const char* what, std::vector<double> times) {
  if (times.empty()) {
    std::printf("%-36s no runs\n", what);
    return;
  }
  std::sort(times.begin(), times.end());
  std::printf("%-36s %4zu runs  median %6.2f ms  max %6.2f ms\n", what, times.size(),
              times[times.size() / 2], times.back());
}

// Time a process has run so far, in seconds, and how often it was woken: the
// scheduler's own count (/proc/<pid>/schedstat), exact where /proc/<pid>/stat counts
// clock ticks and misjudges a process that wakes briefly many times a second.
struct Run {
  double seconds = 0;
  long wakeups = 0;
};
Run run_so_far(pid_t pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/schedstat");
  long long nanoseconds = 0, waited = 0;
  Run run;
  file >> nanoseconds >> waited >> run.wakeups;
  run.seconds = static_cast<double>(nanoseconds) / 1e9;
  return run;
}

std::string memory_line(pid_t pid, const std::string& key) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(file, line);)
    if (line.starts_with(key + ":"))
      return line.substr(line.find_first_not_of(" \t", key.size() + 1));
  return "?";
}

std::string hex(int byte) {
  char text[3];
  std::snprintf(text, sizeof text, "%02X", byte);
  return text;
}

// The bridge between a broker and the board, with a client watching and commanding.
class Site {
 public:
  explicit Site(const MqttBroker::Options& options) : broker_(options) {
    if (!broker_.running()) return;
    // The broker's folder holds the board's link, its log pipe, the names and the log.
    const std::string folder = broker_.folder();
    const std::string fifo = folder + "/board.pipe";
    ::mkfifo(fifo.c_str(), 0600);
    tap_ = std::make_unique<BoardTap>(fifo);
    board_ = std::make_unique<LoggedProcess>(
        RELAY_BOARD_SIM_PATH,
        std::vector<std::string>{"--link-dir", folder, "--port", "1", "--verbose"}, fifo);
    bridge_ = std::make_unique<LoggedProcess>(
        RELAYBOARD_MQTT_PATH,
        std::vector<std::string>{"--device", folder + "/com1", "--line", "probe", "--names",
                                 folder + "/name.txt", "--host", broker_.host(), "--mqtt-port",
                                 std::to_string(broker_.port()), "--no-discovery"},
        folder + "/bridge.log");
    client_ = std::make_unique<MqttTestClient>(broker_);
    client_->subscribe("relayboard/probe/#");
    up_ = tap_->wait_line(0, "/dev/") &&
          client_->wait_for_payload("relayboard/probe/1/status", "online") &&
          client_->wait_for_payload("relayboard/probe/1/16/state", "OFF");
    if (!up_)
      std::fprintf(stderr, "relayboard_mqtt_probe: the bridge did not come up:\n%s%s",
                   broker_.error().c_str(), bridge_->log().c_str());
  }
  // Tears down in order: the processes before the pipe's reader.
  ~Site() {
    client_.reset();
    bridge_.reset();
    board_.reset();
    tap_.reset();
  }

  bool up() const { return up_; }
  pid_t bridge_pid() const { return bridge_->pid(); }
  BoardTap& tap() { return *tap_; }

  // Commands at an operator's pace, 100 to 150 ms apart so that they fall at every
  // point of the poll's rhythm, switching each relay in turn.
  void time_commands(int runs, const char* broker_name) {
    std::vector<double> to_wire;
    std::vector<double> to_broker;
    bool opened[17] = {};
    for (int run = 0; run < runs; ++run) {
      const int relay = run % 16 + 1;
      const bool on = !opened[relay];
      const std::string topic = "relayboard/probe/1/" + std::to_string(relay);
      const std::string frame =
          "relay_board_sim: <- 55 01 " + hex(on ? 0x12 : 0x11) + " 00 00 00 " + hex(relay);
      std::this_thread::sleep_for(std::chrono::milliseconds(100 + run * 37 % 51));
      client_->clear();
      const std::size_t from = tap_->size();
      const auto sent = Clock::now();
      client_->publish(topic + "/set", on ? "ON" : "OFF");
      const auto wire = tap_->wait_line(from, frame);
      const auto answer =
          wire ? tap_->wait_line(wire->first + 1, "relay_board_sim: -> 22") : std::nullopt;
      const auto state = client_->wait_for(topic + "/state", [&](const SeenMessage& message) {
        return message.payload == (on ? "ON" : "OFF");
      });
      if (!wire || !answer || !state) {
        std::fprintf(stderr, "relayboard_mqtt_probe: command %d lost\n", run + 1);
        break;
      }
      to_wire.push_back(ms(wire->second - sent));
      to_broker.push_back(ms(state->arrived - answer->second));
      opened[relay] = on;
    }
    std::printf("broker %s:\n", broker_name);
    report("  MQTT command -> frame on the wire", to_wire);
    report("  board's answer -> state at a client", to_broker);
  }

 private:
  MqttBroker broker_;
  std::unique_ptr<BoardTap> tap_;
  std::unique_ptr<LoggedProcess> board_;
  std::unique_ptr<LoggedProcess> bridge_;
  std::unique_ptr<MqttTestClient> client_;
  bool up_ = false;
};

}  // namespace

int main(int argc, char* argv[]) {
  const int runs = argc > 1 ? std::atoi(argv[1]) : 200;
  const int idle_seconds = argc > 2 ? std::atoi(argv[2]) : 60;
  std::printf("relayboard-mqtt between mosquitto on loopback and the virtual board on a pty\n");

  MqttBroker::Options at_once;
  at_once.tcp_nodelay = true;
  {
    Site site(at_once);
    if (!site.up()) return 1;
    site.time_commands(runs, "with set_tcp_nodelay true");
  }
  Site site(MqttBroker::Options{});
  if (!site.up()) return 1;
  site.time_commands(runs, "as installed (set_tcp_nodelay false)");

  // Idle: no command, the board still polled at the line's pace.
  const pid_t bridge = site.bridge_pid();
  const std::size_t lines_before = site.tap().size();
  const Run before = run_so_far(bridge);
  const auto idle_start = Clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(idle_seconds));
  const Run after = run_so_far(bridge);
  const double cpu = after.seconds - before.seconds;
  const double seconds = std::chrono::duration<double>(Clock::now() - idle_start).count();
  const double exchanges = static_cast<double>(site.tap().size() - lines_before) / 2;
  std::printf(
      "idle %.0f s: CPU %.3f s (%.2f %%), %.1f wake-ups/s, %.1f polls/s, RSS %s, "
      "peak RSS %s\n",
      seconds, cpu, 100 * cpu / seconds,
      static_cast<double>(after.wakeups - before.wakeups) / seconds, exchanges / seconds,
      memory_line(bridge, "VmRSS").c_str(), memory_line(bridge, "VmHWM").c_str());
  return 0;
}
