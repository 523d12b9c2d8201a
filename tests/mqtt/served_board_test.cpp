#include "mqtt/served_board.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

namespace {

struct Broker : MqttClient {
  std::vector<std::string> sent;  // "topic payload"
  bool publish(const std::string& topic, const std::string& payload, bool) override {
    sent.push_back(topic + " " + payload);
    return true;
  }
  void subscribe(const std::string&) override {}
};

// The host's loop, run by hand: what the port hands it waits until the test runs it.
struct Rig {
  Broker broker;
  std::vector<std::pair<std::chrono::milliseconds, std::function<void()>>> tasks;
  bool broker_up = true;
  std::unique_ptr<ServedBoard> port = std::make_unique<ServedBoard>(
      broker, ServedLineAddress{"h", 1883, "relayboard", "com1"}, [this] { return broker_up; },
      [this](std::chrono::milliseconds delay, std::function<void()> task) {
        tasks.emplace_back(delay, std::move(task));
      });
  std::vector<std::string> answers;  // "result: reason"
  void rename(std::uint8_t address) {
    port->rename(address, 2, "Fan", [this](const ServedOutcome& outcome) {
      const bool done = outcome.kind == ServedOutcome::Kind::done;
      answers.push_back((done ? "done" : outcome.result) + ": " + outcome.reason);
    });
  }
  void in(const std::string& topic, const std::string& payload) {
    port->received({"relayboard/com1/" + topic, payload, true, {}, {}, "mqtt", {}});
  }
  // Runs what is due within `up_to`, and what that hands on; the rest waits.
  void run(std::chrono::milliseconds up_to) {
    for (bool ran = true; ran;) {
      ran = false;
      for (auto& [delay, task] : std::exchange(tasks, {})) {
        if (delay > up_to) {
          tasks.emplace_back(delay, std::move(task));
        } else {
          task();
          ran = true;
        }
      }
    }
  }
};

TEST(ServedBoard, ARenameIsAnsweredOnceWhateverBecomesOfIt) {
  Rig rig;
  rig.port->follow(1);
  rig.in("status", "offline");
  rig.rename(1);
  rig.run(std::chrono::milliseconds(0));
  EXPECT_TRUE(rig.broker.sent.empty());
  EXPECT_EQ(rig.answers, (std::vector<std::string>{"not sent: the bridge that serves the line is "
                                                   "offline"}));

  // Sent to another board than the panel follows; the answer is the bridge's.
  rig.in("status", "online");
  rig.rename(4);
  rig.port->follow(1);
  rig.in("4/result",
         R"({"command":"relayboard/com1/4/2/name/set","payload":"Fan","result":"done"})");
  rig.run(std::chrono::milliseconds(0));
  EXPECT_EQ(rig.broker.sent, (std::vector<std::string>{"relayboard/com1/4/2/name/set Fan"}));
  EXPECT_EQ(rig.answers.back(), "done: ");

  // No answer within the patience, and a rename cut short by the close.
  rig.rename(4);
  rig.run(ServedBoard::rename_patience);
  EXPECT_EQ(rig.answers.back(), "not answered: the bridge did not answer");
  rig.rename(4);
  rig.port.reset();
  rig.run(std::chrono::milliseconds(0));
  EXPECT_EQ(rig.answers.back(), "not answered: the line was closed");
  EXPECT_EQ(rig.answers.size(), 4u);
}

// The panel hears of a switch of its own that the bridge refused or the broker did not
// allow, once, from the host's loop; a result for another command, one overtaken, or
// one that came after the switch was done, says nothing.
TEST(ServedBoard, ASwitchRefusedByTheBridgeOrTheBrokerIsToldOnce) {
  Rig rig;
  std::vector<std::string> refused;  // "relay on|off [not allowed] reason"
  rig.port->on_switch_refused = [&](const ServedBoard::SwitchRefusal& r) {
    refused.push_back(std::to_string(r.relay) + (r.on ? " on " : " off ") +
                      (r.not_allowed ? "[not allowed] " : "") + r.reason);
  };
  const auto result = [&](const std::string& command, const std::string& payload,
                          const std::string& tail) {
    rig.in("1/result", R"({"command":"relayboard/com1/1/)" + command + R"(","payload":")" +
                           payload + R"(",)" + tail + "}");
  };
  rig.port->switch_relays(1, 2, true);
  result("3/set", "ON", R"("result":"refused","reason":"another's")");
  result("2/set", "OFF", R"("result":"refused","reason":"another's")");
  // Overtaken by a later command: not a refusal.
  result("2/set", "ON", R"("result":"not done","reason":"a later command took it")");
  result("2/set", "ON", R"("result":"refused","reason":"relay 2 is interlocked")");
  result("2/set", "ON", R"("result":"refused","reason":"again")");
  rig.run(std::chrono::milliseconds(0));
  EXPECT_EQ(refused, std::vector<std::string>{"2 on relay 2 is interlocked"});

  rig.port->switch_relays(1, 5, false);
  result("5/set", "OFF", R"("result":"done")");
  result("5/set", "OFF", R"("result":"refused","reason":"late")");
  rig.port->switch_relays(1, 0, false);
  rig.port->publish_refused("relayboard/com1/1/all/set", "Not authorized");
  rig.run(std::chrono::milliseconds(0));
  EXPECT_EQ(refused.back(), "0 off [not allowed] Not authorized");
  EXPECT_EQ(refused.size(), 2u);
  EXPECT_EQ(rig.broker.sent,
            (std::vector<std::string>{"relayboard/com1/1/2/set ON", "relayboard/com1/1/5/set OFF",
                                      "relayboard/com1/1/all/set OFF"}));

  // Refused as the line closes: the panel is no longer told.
  rig.port->switch_relays(1, 2, true);
  rig.port->publish_refused("relayboard/com1/1/2/set", "Not authorized");
  rig.port.reset();
  rig.run(std::chrono::milliseconds(0));
  EXPECT_EQ(refused.size(), 2u);
}

// The followed board's states are told on the message that completes or changes them,
// and as unknown while the broker, the bridge or the board is away.
TEST(ServedBoard, TellsTheFollowedBoardsStatesAsTheyArriveWhileAllIsOnline) {
  Rig rig;
  std::vector<std::string> told;  // "address states" in hex, or "address unknown"
  rig.port->on_states = [&](std::uint8_t address, std::optional<std::uint16_t> opened) {
    char text[16];
    std::snprintf(text, sizeof text, "%04X", opened.value_or(0));
    told.push_back(std::to_string(address) + " " + (opened ? text : "unknown"));
  };
  rig.port->follow(1);
  rig.in("status", "online");
  rig.in("1/status", "online");
  for (int relay = 1; relay <= 16; ++relay) rig.in("1/" + std::to_string(relay) + "/state", relay == 2 ? "ON" : "OFF");
  rig.in("1/3/state", "ON");
  rig.in("1/3/state", "ON");
  rig.broker_up = false;
  rig.port->follow(1);
  rig.broker_up = true;
  rig.port->follow(1);
  rig.in("1/status", "offline");
  rig.in("status", "offline");
  rig.in("1/status", "online");
  rig.in("status", "online");
  rig.port->follow(2);
  EXPECT_EQ(told, (std::vector<std::string>{"1 unknown", "1 0002", "1 0006", "1 unknown",
                                            "1 0006", "1 unknown", "1 0006", "2 unknown"}));
}

}  // namespace
