// The Windows build of libmosquitto against a real broker: the broker runs on Linux (started
// by with-broker, its port in RELAY_MQTT_PORT), this program under Wine.
#include <gtest/gtest.h>
#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>

namespace {
using Clock = std::chrono::steady_clock;
// Generous: Wine's first network call on a loaded machine may take seconds.
constexpr auto deadline = std::chrono::seconds(30);

struct Received {
  int connect_result = -1;
  int granted_qos = -1;
  std::string topic;
  std::string payload;
  std::string correlation;
};

// Runs the client's network loop until the condition holds or the deadline passes; each
// round waits on the socket, not on a clock.
bool run_until(mosquitto* client, const std::function<bool()>& condition) {
  const auto end = Clock::now() + deadline;
  while (!condition()) {
    if (Clock::now() > end || mosquitto_loop(client, 100, 1) != MOSQ_ERR_SUCCESS) return false;
  }
  return true;
}
}  // namespace

TEST(MosquittoOnWindows, PublishesAndReceivesThroughTheLinuxBroker) {
  const char* port = std::getenv("RELAY_MQTT_PORT");
  ASSERT_NE(port, nullptr) << "run through tests/mqtt/with-broker, which starts mosquitto";
  ASSERT_EQ(mosquitto_lib_init(), MOSQ_ERR_SUCCESS);
  Received received;
  mosquitto* client = mosquitto_new("relay-windows-client", true, &received);
  ASSERT_NE(client, nullptr);
  // MQTT 5: the programs rely on its reason codes, response topics and correlation data.
  ASSERT_EQ(mosquitto_int_option(client, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5),
            MOSQ_ERR_SUCCESS);
  mosquitto_connect_v5_callback_set(
      client, [](mosquitto*, void* data, int result, int, const mosquitto_property*) {
        static_cast<Received*>(data)->connect_result = result;
      });
  mosquitto_subscribe_v5_callback_set(client, [](mosquitto*, void* data, int, int count,
                                                 const int* qos, const mosquitto_property*) {
    if (count == 1) static_cast<Received*>(data)->granted_qos = qos[0];
  });
  mosquitto_message_v5_callback_set(
      client, [](mosquitto*, void* data, const mosquitto_message* message,
                 const mosquitto_property* properties) {
        auto& into = *static_cast<Received*>(data);
        into.topic = message->topic;
        into.payload.assign(static_cast<const char*>(message->payload), message->payloadlen);
        void* bytes = nullptr;
        uint16_t length = 0;
        if (mosquitto_property_read_binary(properties, MQTT_PROP_CORRELATION_DATA, &bytes, &length,
                                           false)) {
          into.correlation.assign(static_cast<const char*>(bytes), length);
          free(bytes);
        }
      });

  ASSERT_EQ(mosquitto_connect_bind_v5(client, "127.0.0.1", std::atoi(port), 30, nullptr, nullptr),
            MOSQ_ERR_SUCCESS);
  ASSERT_TRUE(run_until(client, [&] { return received.connect_result != -1; }));
  EXPECT_EQ(received.connect_result, MQTT_RC_SUCCESS);
  ASSERT_EQ(mosquitto_subscribe_v5(client, nullptr, "relayboard/+/1/result", 1, 0, nullptr),
            MOSQ_ERR_SUCCESS);
  ASSERT_TRUE(run_until(client, [&] { return received.granted_qos != -1; }));
  EXPECT_EQ(received.granted_qos, 1);

  // A payload with bytes above 0x7F and a NUL, and binary correlation data, come back whole.
  const std::string payload("{\"name\":\"\xE6\xB3\xB5 1\"}\0end", 20);
  const std::string correlation("\x01\x00\xFF", 3);
  mosquitto_property* properties = nullptr;
  ASSERT_EQ(mosquitto_property_add_binary(&properties, MQTT_PROP_CORRELATION_DATA,
                                          correlation.data(), correlation.size()),
            MOSQ_ERR_SUCCESS);
  EXPECT_EQ(
      mosquitto_publish_v5(client, nullptr, "relayboard/ttyUSB0/1/result",
                           static_cast<int>(payload.size()), payload.data(), 1, false, properties),
      MOSQ_ERR_SUCCESS);
  mosquitto_property_free_all(&properties);
  EXPECT_TRUE(run_until(client, [&] { return !received.topic.empty(); }));
  EXPECT_EQ(received.topic, "relayboard/ttyUSB0/1/result");
  EXPECT_EQ(received.payload, payload);
  EXPECT_EQ(received.correlation, correlation);

  mosquitto_disconnect_v5(client, MQTT_RC_NORMAL_DISCONNECTION, nullptr);
  mosquitto_destroy(client);
  mosquitto_lib_cleanup();
}
