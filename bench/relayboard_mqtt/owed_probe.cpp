// The cost of keeping what a line owes its boards (owed-LINE.txt) and what it buys:
//  - the time a change adds: on the event loop (the snapshot, its text, the hand-off) and
//    on the keeper's thread (the file replaced: temporary file, fsync, rename) in a folder
//    on this machine's disk;
//  - the writes an hour brings on a line switched once a minute, counted in simulated time
//    on the fake port exactly as the bridge decides them;
//  - after a SIGKILL, the time from the bridge's restart to the owed OFF on the wire, with
//    mosquitto and the virtual board on a pseudo-terminal.
// Usage: owed_probe [writes] [restarts] [folder]   (default 500, 10, the current folder)
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "board_tap.h"
#include "fake_serial_port.h"
#include "file_keeper.h"
#include "line/local_line.h"
#include "line/owed_state.h"
#include "logged_process.h"
#include "mqtt_broker.h"
#include "mqtt_test_client.h"
#include "protocol/status_frame.h"

namespace {

using namespace std::chrono;
using Clock = steady_clock;

double ms(Clock::duration span) {
  return std::chrono::duration<double, std::milli>(span).count();
}

void report(const char* what, std::vector<double> times) {
  if (times.empty()) {
    std::printf("%-44s no runs\n", what);
    return;
  }
  std::sort(times.begin(), times.end());
  const auto p99 = times[std::min(times.size() - 1, times.size() * 99 / 100)];
  std::printf("%-44s %4zu runs  median %7.3f ms  p99 %7.3f ms  max %7.3f ms\n", what, times.size(),
              times[times.size() / 2], p99, times.back());
}

// A change as the bridge keeps it: the snapshot's text handed to the keeper on the event
// loop, the file replaced on the keeper's thread. Between them the line runs on.
void time_writes(int runs, const std::filesystem::path& folder) {
  std::filesystem::create_directories(folder);
  const auto file = folder / owed_state_file_name("probe");
  const ClockAnchor anchor = ClockAnchor::now();
  std::vector<double> on_loop, written;
  {
    FileKeeper keeper(file, [](std::error_code error) {
      std::fprintf(stderr, "owed_probe: not written: %s\n", error.message().c_str());
    });
    for (int run = 0; run < runs; ++run) {
      const auto now = Clock::now();
      const OwedState owed{{{1, 5, now}}, {{1, 3, false, now, now + 3s}}};
      const auto start = Clock::now();
      keeper.keep(owed_state_text(owed, anchor));
      const auto handed = Clock::now();
      keeper.flush();
      on_loop.push_back(ms(handed - start));
      written.push_back(ms(Clock::now() - start));
    }
  }
  std::filesystem::remove(file);
  std::printf("folder %s\n", folder.c_str());
  report("a change on the event loop (text, hand-off)", on_loop);
  report("a change on disk (temp file, fsync, rename)", written);
}

// What every step of the line pays: the snapshot taken and compared, on a line that owes
// all 16 relays of two boards (max_on holds and pulses).
void time_snapshots() {
  FakeSerialPort port;
  LocalLine line(port, {1, 2});
  const auto now = Clock::now();
  OwedState owed;
  for (const std::uint8_t board : {1, 2}) {
    for (int relay = 1; relay <= 16; ++relay)
      owed.pulses.push_back({board, relay, false, now, now + 1h});
  }
  line.recall(owed, now);
  std::vector<double> times;
  for (int run = 0; run < 2000; ++run) {
    const auto start = Clock::now();
    const bool same = line.owed() == owed;
    times.push_back(ms(Clock::now() - start) * 1000);
    if (!same) return (void)std::fprintf(stderr, "owed_probe: the snapshot differs\n");
  }
  std::sort(times.begin(), times.end());
  std::printf("%-44s median %7.2f us  p99 %7.2f us\n", "snapshot compared per step, 32 pulses",
              times[times.size() / 2], times[times.size() * 99 / 100]);
}

// An hour of a line switched once a minute, in simulated time: how often the owed file
// changes, and how many bytes are written.
struct HourRig {
  explicit HourRig(bool max_on) : line(port, {1}) {
    LineRules rules;
    if (max_on) rules.boards[1].max_on[4] = 10min;
    line.engine().set_rules(rules);
    line.engine().set_owner(true);
    port.open();
    port.set_receive_threshold(8);
    port.set_receive_handler([this] { line.on_receive(now); });
  }
  void run_for(Clock::duration length) {
    const auto end = now + length;
    while (std::min(next, answer_at) <= end) {
      now = std::min(next, answer_at);
      if (now == answer_at) {
        answer_at = Clock::time_point::max();
        const auto status = StatusFrame::build(opened);
        port.receive({status.bytes.begin(), status.bytes.end()});
      }
      next = line.step(now);
      keep();
      for (const auto& frame : std::exchange(port.writes, {})) {
        const auto bit = static_cast<std::uint16_t>(1u << ((frame[6] - 1) & 15));
        if (frame[2] == 0x11) opened &= static_cast<std::uint16_t>(~bit);
        if (frame[2] == 0x12) opened |= bit;
        answer_at = now + 17ms;
      }
    }
    now = end;
  }
  // The bridge's rule: a snapshot that changed, whose text changed, is written.
  void keep() {
    OwedState owed = line.owed();
    if (owed == told) return;
    told = std::move(owed);
    std::string text = owed_state_text(told, anchor);
    if (text == written) return;
    ++writes;
    bytes += text.size();
    written = std::move(text);
  }
  void command(BoardCommand what, std::optional<milliseconds> pulse = {}) {
    line.command({{{1, what, 0, 5}}, SwitchLane::in_turn, pulse}, now);
    keep();
    next = now;
  }

  FakeSerialPort port;
  LocalLine line;
  Clock::time_point now = Clock::time_point{} + 1h;
  Clock::time_point next = now;
  Clock::time_point answer_at = Clock::time_point::max();
  const ClockAnchor anchor{system_clock::now(), now};
  std::uint16_t opened = 0;
  OwedState told;
  std::string written;
  int writes = 0;
  std::size_t bytes = 0;
};

void count_hour() {
  const struct {
    const char* what;
    bool max_on;
    bool pulse;
  } cases[] = {{"relay 5 ON/OFF, no max_on", false, false},
               {"relay 5 ON/OFF under max_on", true, false},
               {"a 10 s pulse of relay 5", false, true}};
  for (const auto& c : cases) {
    HourRig rig(c.max_on);
    for (int minute = 0; minute < 60; ++minute) {
      if (c.pulse) {
        rig.command(BoardCommand::OpenRelay, 10s);
      } else {
        rig.command(minute % 2 ? BoardCommand::CloseRelay : BoardCommand::OpenRelay);
      }
      rig.run_for(1min);
    }
    std::printf("%-44s %4d writes/h  %6zu bytes/h\n", c.what, rig.writes, rig.bytes);
  }
}

// The bridge killed while it owes relay 5 an OFF, kept down until it is due, started
// again: from the restart to the OFF on the wire.
class Site {
 public:
  Site() {
    if (!broker_.running()) return;
    folder_ = broker_.folder();
    std::ofstream(folder_ + "/rules.conf") << "[address 1]\nmax_on = 5: 1s\n";
    const std::string fifo = folder_ + "/board.pipe";
    ::mkfifo(fifo.c_str(), 0600);
    tap_ = std::make_unique<BoardTap>(fifo);
    board_ = std::make_unique<LoggedProcess>(
        RELAY_BOARD_SIM_PATH,
        std::vector<std::string>{"--link-dir", folder_, "--port", "1", "--verbose"}, fifo);
    client_ = std::make_unique<MqttTestClient>(broker_);
    client_->subscribe("relayboard/probe/#");
    up_ = tap_->wait_line(0, "/dev/").has_value();
  }
  ~Site() {
    client_.reset();
    bridge_.reset();
    board_.reset();
    tap_.reset();
  }
  bool start_bridge() {
    client_->clear();
    bridge_ = std::make_unique<LoggedProcess>(
        RELAYBOARD_MQTT_PATH,
        std::vector<std::string>{"--device", folder_ + "/com1", "--line", "probe", "--names",
                                 folder_ + "/name.txt", "--host", broker_.host(), "--mqtt-port",
                                 std::to_string(broker_.port()), "--no-discovery"},
        folder_ + "/bridge.log");
    return client_->wait_for_payload("relayboard/probe/status", "online");
  }
  bool owed(const std::string& start) const {
    std::ifstream in(folder_ + "/owed-probe.txt");
    for (std::string line; std::getline(in, line);)
      if (line.starts_with(start)) return true;
    return false;
  }

  // One round: what is owed, the SIGKILL, the outage past the due time, the restart.
  void round(const std::string& topic, const std::string& payload, const std::string& owed_line,
             std::vector<double>& to_poll, std::vector<double>& to_off) {
    client_->publish("relayboard/probe/1/5/" + topic, payload);
    if (!eventually([&] { return owed(owed_line); }, seconds(20))) return;
    tap_->wait_line(0, "relay_board_sim: <- 55 01 12 00 00 00 05");
    bridge_->kill();
    std::this_thread::sleep_for(1200ms);  // past the max_on and the pulse
    const std::size_t from = tap_->size();
    const auto restart = Clock::now();
    start_bridge();
    const auto poll = tap_->wait_line(from, "relay_board_sim: <- 55 01 10");
    const auto off = tap_->wait_line(from, "relay_board_sim: <- 55 01 11 00 00 00 05");
    if (!poll || !off) return;
    to_poll.push_back(ms(poll->second - restart));
    to_off.push_back(ms(off->second - restart));
  }
  bool up() const { return up_; }

 private:
  MqttBroker broker_;
  std::string folder_;
  std::unique_ptr<BoardTap> tap_;
  std::unique_ptr<LoggedProcess> board_;
  std::unique_ptr<LoggedProcess> bridge_;
  std::unique_ptr<MqttTestClient> client_;
  bool up_ = false;
};

void time_restarts(int rounds) {
  Site site;
  if (!site.up() || !site.start_bridge()) {
    std::fprintf(stderr, "owed_probe: the bridge did not come up\n");
    return;
  }
  std::vector<double> poll_max_on, off_max_on, poll_pulse, off_pulse;
  for (int round = 0; round < rounds; ++round) {
    site.round("set", "ON", "on = 1 5 ", poll_max_on, off_max_on);
    site.round("pulse", "1s", "pulse = 1 5 ", poll_pulse, off_pulse);
  }
  report("kill -9, max_on past: restart -> first poll", poll_max_on);
  report("kill -9, max_on past: restart -> OFF on wire", off_max_on);
  report("kill -9, pulse past: restart -> first poll", poll_pulse);
  report("kill -9, pulse past: restart -> OFF on wire", off_pulse);
}

}  // namespace

int main(int argc, char* argv[]) {
  const int writes = argc > 1 ? std::atoi(argv[1]) : 500;
  const int restarts = argc > 2 ? std::atoi(argv[2]) : 10;
  const std::filesystem::path folder =
      argc > 3 ? std::filesystem::path(argv[3]) : std::filesystem::current_path() / "owed_probe.d";
  time_writes(writes, folder);
  std::filesystem::remove_all(folder);
  time_snapshots();
  count_hour();
  time_restarts(restarts);
  return 0;
}
