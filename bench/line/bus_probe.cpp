// Bus probe: the core's schedule for several boards polls the virtual board on a
// pseudo-terminal, driven as the hosts drive it (a precise single-shot timer set to the
// time step() returns, step() again after each receive event), and prints how often each
// board's states are refreshed, also beside silent boards and under a flood of switch
// commands (and how long each command waits for the wire); then times `relayctl scan`
// over all 256 addresses.
// Usage: bus_probe [seconds per case] [--no-scan]   (default 5)
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "board_process.h"
#include "line/line_engine.h"
#include "loop/qt_descriptor_loop.h"
#include "serial/posix_serial_port.h"
#include "panel/poll_cycle.h"

extern char** environ;

namespace {

using Clock = LineEngine::Clock;

// One exchange, request and answer of 8 bytes of 10 bits each, at 9600 baud.
constexpr double exchange_ms = 2 * 8 * 10 * 1000.0 / 9600;

// The port, with the time each switch frame went on the wire.
class TimedPort : public SerialPort {
 public:
  explicit TimedPort(SerialPort& port) : port_(port) {}
  bool is_open() const override { return port_.is_open(); }
  void discard_input() override { port_.discard_input(); }
  void write(std::span<const std::uint8_t> bytes) override {
    if (bytes.size() > 6 && bytes[2] != 0x10 && on_switch) on_switch(bytes[1], bytes[6], bytes[5]);
    port_.write(bytes);
  }
  void select_port(std::int16_t number) override { port_.select_port(number); }
  void select_device(std::string path) override { port_.select_device(std::move(path)); }
  OpenResult open() override { return port_.open(); }
  void set_receive_threshold(int bytes) override { port_.set_receive_threshold(bytes); }
  void set_receive_handler(std::function<void()> handler) override {
    port_.set_receive_handler(std::move(handler));
  }
  std::size_t bytes_waiting() const override { return port_.bytes_waiting(); }
  std::optional<std::uint8_t> read_byte() override { return port_.read_byte(); }
  void close() override { port_.close(); }

  // A frame switching `relay` of `address` (data2; all relays carry their data byte).
  // A frame switching one relay went out: data2 names the relay, data1 (which the board
  // ignores in these frames) the command it carries.
  std::function<void(std::uint8_t address, std::uint8_t relay, std::uint8_t tag)> on_switch;

 private:
  SerialPort& port_;
};

// The schedule on Qt's event loop, recording when each board answered.
class BusHost : public LineObserver {
 public:
  BusHost(SerialPort& port, std::vector<std::uint8_t> addresses)
      : port_(port), bus_(port, std::move(addresses), *this) {
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setSingleShot(true);
    QObject::connect(&timer_, &QTimer::timeout, [this] { step(); });
    port_.set_receive_handler([this] {
      bus_.on_receive(Clock::now());
      step();
    });
  }
  ~BusHost() override { port_.set_receive_handler({}); }

  void step() {
    const auto now = Clock::now();
    const auto next = bus_.step(now);
    timer_.start(std::chrono::ceil<std::chrono::milliseconds>(next - now));
  }

  void queue_switch(std::uint8_t address, int relay, bool open, std::uint8_t tag) {
    bus_.queue_switch(address, open ? BoardCommand::OpenRelay : BoardCommand::CloseRelay, tag,
                      static_cast<std::uint8_t>(relay));
  }

  std::map<std::uint8_t, std::vector<Clock::time_point>> answers;
  int lost = 0;

 private:
  void board_answered(std::uint8_t address, std::uint16_t) override {
    answers[address].push_back(Clock::now());
  }
  void board_lost(std::uint8_t) override { ++lost; }

  SerialPort& port_;
  LineEngine bus_;
  QTimer timer_;
};

double ms_between(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

void measure_refresh(const char* what, const QStringList& options,
                     const std::vector<std::uint8_t>& addresses, int seconds) {
  BoardProcess board(options);
  if (board.device.isEmpty()) {
    std::printf("%-44s the virtual board did not start\n", what);
    return;
  }
  PosixSerialPort port({}, QtDescriptorLoop::program());
  port.select_device(board.device.toStdString());
  if (const OpenResult opened = port.open(); !opened.ok) {
    std::printf("%-44s %s\n", what, opened.reason.c_str());
    return;
  }
  port.set_receive_threshold(8);
  std::vector<double> periods;
  std::size_t answered_boards = 0;
  int lost = 0;
  {
    BusHost host(port, addresses);
    host.step();
    QTimer::singleShot(seconds * 1000, qApp, &QCoreApplication::quit);
    qApp->exec();
    for (const auto& [address, times] : host.answers) {
      ++answered_boards;
      for (std::size_t i = 1; i < times.size(); ++i) {
        periods.push_back(ms_between(times[i - 1], times[i]));
      }
    }
    lost = host.lost;
  }
  port.close();
  if (periods.empty()) {
    std::printf("%-44s no board answered twice\n", what);
    return;
  }
  std::sort(periods.begin(), periods.end());
  // A line whose boards answer after a real exchange cannot go round faster than this.
  const double wire_round = std::max(
      std::chrono::duration<double, std::milli>(PollCycle::period).count(),
      static_cast<double>(answered_boards) * exchange_ms +
          static_cast<double>(addresses.size() - answered_boards) *
              std::chrono::duration<double, std::milli>(LineEngine::answer_timeout).count());
  std::printf(
      "%-44s %2zu answering  refresh per board: median %6.1f ms  p99 %6.1f ms  max %6.1f ms"
      "  (%d lost; at 9600 baud at least %.0f ms)\n",
      what, answered_boards, periods[periods.size() / 2],
      periods[static_cast<std::size_t>(0.99 * static_cast<double>(periods.size() - 1))],
      periods.back(), lost, wire_round);
}

double percentile(std::vector<double>& values, double share) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[static_cast<std::size_t>(share * static_cast<double>(values.size() - 1))];
}

// Board 1 gets 2000 switch commands a second (ten every 5 ms, its 16 relays in turn), board
// 2 one every 100 ms. A command has reached the wire when its frame goes out, or that of a
// later command for its relay that replaced it. Board 2 should still be refreshed about as
// often as without the flood.
void measure_flood(const QStringList& pace, int seconds) {
  BoardProcess board(pace + QStringList{"--addresses", "1-2"});
  PosixSerialPort serial({}, QtDescriptorLoop::program());
  serial.select_device(board.device.toStdString());
  if (board.device.isEmpty() || !serial.open().ok) {
    std::printf("  flood: the virtual board did not start\n");
    return;
  }
  serial.set_receive_threshold(8);
  TimedPort port(serial);
  struct Given {
    std::uint8_t tag;
    Clock::time_point at;
  };
  std::map<std::pair<int, int>, std::vector<Given>> waiting;
  std::map<int, std::vector<double>> latency;  // by board
  port.on_switch = [&](std::uint8_t address, std::uint8_t relay, std::uint8_t tag) {
    const auto now = Clock::now();
    auto& list = waiting[{address, relay}];
    const auto sent =
        std::find_if(list.begin(), list.end(), [&](const Given& each) { return each.tag == tag; });
    if (sent == list.end()) return;
    // The commands before it for that relay were replaced by it.
    for (auto it = list.begin(); it <= sent; ++it) {
      latency[address].push_back(ms_between(it->at, now));
    }
    list.erase(list.begin(), sent + 1);
  };
  std::uint8_t next_tag = 0;
  const auto give = [&](BusHost& host, int address, int relay, bool open, Clock::time_point now) {
    next_tag = static_cast<std::uint8_t>(next_tag % 255 + 1);
    host.queue_switch(static_cast<std::uint8_t>(address), relay, open, next_tag);
    waiting[{address, relay}].push_back({next_tag, now});
  };
  std::size_t given = 0;
  std::size_t board2_from = 0;
  {
    BusHost host(port, {1, 2});
    host.step();
    QTimer::singleShot(1000, qApp, [&] { board2_from = host.answers[2].size(); });
    int tick = 0;
    QTimer flood;
    flood.setTimerType(Qt::PreciseTimer);
    QObject::connect(&flood, &QTimer::timeout, [&] {
      const auto now = Clock::now();
      for (int i = 0; i < 10; ++i, ++given) {
        const int relay = static_cast<int>(given % 16) + 1;
        give(host, 1, relay, (given / 16) % 2 == 0, now);
      }
      if (++tick % 20 == 0) {
        give(host, 2, 1, tick % 40 == 0, now);
      }
      host.step();
    });
    flood.start(5);
    QTimer::singleShot(seconds * 1000, qApp, &QCoreApplication::quit);
    qApp->exec();
    std::vector<double> refresh;
    const auto& times = host.answers[2];
    for (std::size_t i = std::max<std::size_t>(board2_from, 1); i < times.size(); ++i) {
      refresh.push_back(ms_between(times[i - 1], times[i]));
    }
    std::size_t unsent = 0;
    for (const auto& entry : waiting) unsent += entry.second.size();
    for (const int address : {1, 2}) {
      auto& values = latency[address];
      std::printf("  flood: board %d command to wire  median %7.1f ms  max %8.1f ms  (%zu sent)\n",
                  address, percentile(values, 0.5), percentile(values, 1.0), values.size());
    }
    std::printf("  flood: %zu of %zu commands still waiting at the end\n", unsent, given);
    if (refresh.empty()) {
      std::printf("  flood: board 2 not refreshed once after the first second\n");
    } else {
      std::printf(
          "  flood: board 2 refresh  median %6.1f ms  max %8.1f ms  (%zu answers after 1 s)\n",
          percentile(refresh, 0.5), percentile(refresh, 1.0), refresh.size());
    }
  }
  serial.close();
}

// Seconds from the exec to the exit of relayctl; the exit status through `status`.
double run_relayctl(const std::vector<std::string>& arguments, int& status) {
  std::vector<char*> argv{const_cast<char*>(RELAYCTL_PATH)};
  for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  const auto start = Clock::now();
  pid_t pid = 0;
  status = -1;
  if (posix_spawn(&pid, RELAYCTL_PATH, &actions, nullptr, argv.data(), environ) == 0) {
    int wait_status = 0;
    waitpid(pid, &wait_status, 0);
    if (WIFEXITED(wait_status)) status = WEXITSTATUS(wait_status);
  }
  posix_spawn_file_actions_destroy(&actions);
  return ms_between(start, Clock::now()) / 1000;
}

void measure_scan(const std::string& timeout) {
  const BoardProcess board({"--addresses", "1,3,5-7", "--silent", "6"});
  if (board.device.isEmpty()) return;
  int status = 0;
  const double seconds =
      run_relayctl({"--device", board.device.toStdString(), "--timeout", timeout, "scan"}, status);
  std::printf(
      "relayctl --timeout %-4s scan (0-255, 4 of 256 answer)  %6.2f s  exit %d"
      "  (252 timeouts: %.2f s)\n",
      timeout.c_str(), seconds, status, 252 * std::atof(timeout.c_str()) / 1000);
}

std::vector<std::uint8_t> range(int from, int to) {
  std::vector<std::uint8_t> addresses;
  for (int address = from; address <= to; ++address) {
    addresses.push_back(static_cast<std::uint8_t>(address));
  }
  return addresses;
}

}  // namespace

int main(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  std::printf("bus probe: %d s per case on the virtual board\n", seconds);
  for (const bool late : {false, true}) {
    // Late: each answer leaves 17 ms after its request, as over a 9600-baud line.
    const QStringList pace =
        late ? QStringList{"--mode", "late", "--delay-ms", "17"} : QStringList{};
    std::printf("boards answering %s:\n", late ? "17 ms late, as over 9600 baud" : "at once");
    measure_refresh("  1 board", pace + QStringList{"--addresses", "1"}, {1}, seconds);
    measure_refresh("  3 boards", pace + QStringList{"--addresses", "1-3"}, range(1, 3), seconds);
    measure_refresh("  16 boards", pace + QStringList{"--addresses", "1-16"}, range(1, 16),
                    seconds);
    measure_refresh("  3 boards, board 2 silent",
                    pace + QStringList{"--addresses", "1-3", "--silent", "2"}, range(1, 3),
                    seconds);
    measure_refresh("  4 boards, boards 2-4 silent",
                    pace + QStringList{"--addresses", "1-4", "--silent", "2-4"}, range(1, 4),
                    seconds);
    if (late) measure_flood(pace, seconds);
  }
  if (argc > 2 && std::string(argv[2]) == "--no-scan") return 0;
  measure_scan("50");
  measure_scan("200");
  std::printf(
      "goal: one board refreshed every 50 ms; n boards every max(50 ms, n exchanges); a "
      "silent board costs the others only its 40 ms\n");
  return 0;
}
