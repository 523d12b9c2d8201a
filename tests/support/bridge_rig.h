#pragma once

#include <gtest/gtest.h>
#include <signal.h>

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "logged_process.h"
#include "mqtt_broker.h"
#include "mqtt_test_client.h"

// The daemon as an operator runs it: a real mosquitto on a loopback port, the virtual
// board (its frames logged) linked as port 1 in a folder that also holds the name file,
// and a watching client subscribed to everything before the daemon starts.
class BridgeRig : public ::testing::Test {
 protected:
  // `board_options` add to the virtual board's.
  explicit BridgeRig(const std::vector<std::string>& board_options = {},
                     const MqttBroker::Options& broker_options = {})
      : broker(broker_options) {
    EXPECT_TRUE(broker.start()) << broker.error();
    std::vector<std::string> options{"--verbose", "--link-dir", dir(), "--port", "1"};
    options.insert(options.end(), board_options.begin(), board_options.end());
    board = std::make_unique<LoggedProcess>(RELAY_BOARD_SIM_PATH, options, dir() + "/board.log");
    EXPECT_TRUE(board->wait_for_log("/dev/")) << board->log();
    watcher = std::make_unique<MqttTestClient>(broker);
    EXPECT_TRUE(watcher->subscribe("#"));
  }

  std::string dir() const { return temp.path().toStdString(); }
  // Replaced at once, as an editor saves: the daemon never reads half a file.
  void write_names(const std::string& bytes) const {
    std::ofstream(dir() + "/name.new", std::ios::binary) << bytes;
    std::filesystem::rename(dir() + "/name.new", dir() + "/name.txt");
  }

  // The daemon on port 1 (com1) with the name file of the folder; `extra` adds options.
  std::unique_ptr<LoggedProcess> start_bridge(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> options{
        "--port",   "1",           "--names",     dir() + "/name.txt",
        "--host",   broker.host(), "--mqtt-port", std::to_string(broker.port()),
        "--verbose"};
    options.insert(options.end(), extra.begin(), extra.end());
    return std::make_unique<LoggedProcess>(RELAYBOARD_MQTT_PATH, options,
                                           dir() + "/bridge" + std::to_string(++runs) + ".log");
  }
  // Started, and board 1 reported online with its states.
  std::unique_ptr<LoggedProcess> start_bridge_online(const std::vector<std::string>& extra = {}) {
    auto bridge = start_bridge(extra);
    EXPECT_TRUE(watcher->wait_for_payload(topic("1/status"), "online")) << bridge->log();
    EXPECT_TRUE(watcher->wait_for_payload(topic("1/16/state"), "OFF")) << bridge->log();
    return bridge;
  }

  static std::string topic(const std::string& rest) { return "relayboard/com1/" + rest; }

  // Cuts the board's cable (the terminal stays; the board hears and answers nothing) or
  // mends it, once the board says so.
  void cut_cable(bool cut) {
    const std::string said = cut ? "cable cut" : "cable mended";
    const int before = board->log_count(said);
    board->signal(SIGURG);
    EXPECT_TRUE(board->wait_for_log(said, before + 1)) << board->log();
  }

  // How many lines of the broker's log hold `text`.
  int broker_log_count(const std::string& text) const {
    std::istringstream log(broker.log());
    int count = 0;
    for (std::string line; std::getline(log, line);) count += line.find(text) != std::string::npos;
    return count;
  }

  // The frames the board received that switch something, oldest first, as hex text;
  // those already taken are left out.
  std::vector<std::string> take_switch_frames() {
    static const std::regex received(R"(<- (55 [0-9A-F]{2} 1[1-3] [0-9A-F ]{14}))");
    std::vector<std::string> frames;
    const std::string log = board->log();
    for (std::sregex_iterator it(log.begin(), log.end(), received), end; it != end; ++it) {
      frames.push_back((*it)[1]);
    }
    std::vector<std::string> fresh(frames.begin() + std::min(taken, frames.size()), frames.end());
    taken = frames.size();
    return fresh;
  }
  // Waits until the board has received `count` more switch frames, and takes them.
  std::vector<std::string> wait_switch_frames(std::size_t count) {
    const auto end = std::chrono::steady_clock::now() + LoggedProcess::default_deadline;
    std::vector<std::string> fresh;
    for (;;) {
      const auto more = take_switch_frames();
      fresh.insert(fresh.end(), more.begin(), more.end());
      if (fresh.size() >= count || std::chrono::steady_clock::now() > end) return fresh;
      // The next frame on the line: the board is polled without a pause.
      board->wait_for_log("<- 55", board->log_count("<- 55") + 1, std::chrono::seconds(1));
    }
  }

  QTemporaryDir temp;
  MqttBroker broker;
  std::unique_ptr<LoggedProcess> board;
  std::unique_ptr<MqttTestClient> watcher;
  std::size_t taken = 0;
  int runs = 0;
};
