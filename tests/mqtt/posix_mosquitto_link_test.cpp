// The broker link on the poll() loop, over TLS to a real broker: a round trip through
// the socket's watches, a broker that goes away and comes back, and a clean leave.
#include "mqtt/posix_mosquitto_link.h"

#include <gtest/gtest.h>

#include <vector>

#include "loop/posix_event_wait.h"
#include "mqtt_broker.h"

namespace {

using namespace std::chrono_literals;

TEST(PosixMosquittoLink, RoundTripsReconnectsAfterTheBrokerIsBackAndLeaves) {
  MqttBroker::Options options;
  options.tls = true;
  MqttBroker broker(options);
  ASSERT_TRUE(broker.start()) << broker.error();
  EventLoop loop;
  PosixEventWait wait(loop);
  const auto wait_for = [&](const std::function<bool()>& done) {
    return wait.wait_until(done, EventWait::Clock::now() + 20s);
  };
  BrokerSettings settings;
  settings.host = "localhost";
  settings.port = broker.port();
  settings.client_id = "posix-link-test";
  settings.cafile = broker.ca_file();
  std::vector<std::string> log;
  PosixMosquittoLink link(
      settings, [&](const std::string& line) { log.push_back(line); }, loop);
  int connects = 0;
  std::vector<std::string> received;
  link.on_connected = [&] {
    ++connects;
    link.subscribe("posix/#");
  };
  link.on_subscribed = [&](const std::string& pattern, bool granted) {
    if (granted) link.publish(pattern.substr(0, 6) + "state", "on", false);
  };
  link.on_message = [&](const MqttMessage& message) {
    received.push_back(message.topic + "=" + message.payload);
  };
  ASSERT_EQ(link.start(), std::nullopt);
  ASSERT_TRUE(wait_for([&] { return !received.empty() && link.all_acknowledged(); }))
      << broker.log();
  EXPECT_EQ(received, std::vector<std::string>{"posix/state=on"});

  const std::string where = "localhost:" + std::to_string(broker.port());
  broker.stop();
  ASSERT_TRUE(wait_for([&] { return !link.connected(); }));
  ASSERT_TRUE(broker.start()) << broker.error();
  // The retry timer fires on the loop; the new session subscribes and publishes again.
  ASSERT_TRUE(wait_for([&] { return connects == 2 && received.size() == 2; })) << broker.log();
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(log[0], "connected to broker " + where);
  EXPECT_TRUE(log[1].starts_with("broker " + where + " lost (")) << log[1];
  EXPECT_TRUE(log[1].ends_with("); reconnecting in 1 s")) << log[1];
  EXPECT_EQ(log.back(), "connected to broker " + where);

  bool left = false;
  link.disconnect(5s, [&] { left = true; });
  ASSERT_TRUE(wait_for([&] { return left; }));
  EXPECT_FALSE(link.connected());
}

}  // namespace
