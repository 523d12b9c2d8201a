#include "served_line/served_board_port.h"

#include <gtest/gtest.h>

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
  std::unique_ptr<ServedBoardPort> port = std::make_unique<ServedBoardPort>(
      broker, ServedLineAddress{"h", 1883, "relayboard", "com1"}, [] { return true; },
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

TEST(ServedBoardPort, ARenameIsAnsweredOnceWhateverBecomesOfIt) {
  Rig rig;
  const std::uint8_t frame[] = {0x55, 0x01, 0x10, 0x00, 0x00, 0x00, 0x00, 0x66};
  rig.port->write(frame);
  rig.in("status", "offline");
  rig.rename(1);
  rig.run(std::chrono::milliseconds(0));
  EXPECT_TRUE(rig.broker.sent.empty());
  EXPECT_EQ(rig.answers, (std::vector<std::string>{"not sent: the bridge that serves the line is "
                                                   "offline"}));

  // Sent to another board than the panel follows; the answer is the bridge's.
  rig.in("status", "online");
  rig.rename(4);
  rig.port->write(frame);
  rig.in("4/result",
         R"({"command":"relayboard/com1/4/2/name/set","payload":"Fan","result":"done"})");
  rig.run(std::chrono::milliseconds(0));
  EXPECT_EQ(rig.broker.sent, (std::vector<std::string>{"relayboard/com1/4/2/name/set Fan"}));
  EXPECT_EQ(rig.answers.back(), "done: ");

  // No answer within the patience, and a rename cut short by the close.
  rig.rename(4);
  rig.run(ServedBoardPort::rename_patience);
  EXPECT_EQ(rig.answers.back(), "not answered: the bridge did not answer");
  rig.rename(4);
  rig.port.reset();
  rig.run(std::chrono::milliseconds(0));
  EXPECT_EQ(rig.answers.back(), "not answered: the line was closed");
  EXPECT_EQ(rig.answers.size(), 4u);
}

}  // namespace
