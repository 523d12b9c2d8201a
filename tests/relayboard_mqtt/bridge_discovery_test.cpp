// relayboard-mqtt's discovery documents and retained states on a real broker, read back
// with Qt's JSON parser: names from the name file arrive as the same text, the documents
// come again when the home automation starts or the names change, and a board no longer
// served leaves nothing behind.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "bridge_rig.h"

namespace {

std::string device_topic(int address) {
  return "homeassistant/device/relayboard_com1_" + std::to_string(address) + "/config";
}

QJsonObject parsed(const std::optional<std::string>& json) {
  if (!json) return {};
  QJsonParseError error{};
  const auto document = QJsonDocument::fromJson(QByteArray::fromStdString(*json), &error);
  EXPECT_EQ(error.error, QJsonParseError::NoError) << *json;
  return document.object();
}

std::string text(const QJsonValue& value) {
  return value.toString().toStdString();
}

class BridgeDiscovery : public BridgeRig {
 protected:
  // An unmarked name file as Windows writes it, in code page 936 ("水泵" is CB AE B1 C3).
  void write_tricky_names(const std::string& relay1) const {
    write_names(
        "[address 0]\r\n[Software properties]\r\nThe name=Site <One> \"x\"\r\n"
        "[address 1]\r\nrelay1name=" +
        relay1 +
        "\r\nrelay2name=C:\\dir\\\r\n"
        "relay3name=<b>bold</b> & co\r\nrelay4name=\xCB\xAE\xB1\xC3\r\nrelay5name=\r\n");
  }
};

TEST_F(BridgeDiscovery, EachRelayIsDescribedWithItsNameAndItsStateRetained) {
  write_tricky_names("Pump \"A\"");
  const auto bridge = start_bridge_online({"--button-pulse", "0.5s"});
  const std::string names[] = {"Pump \"A\"", "C:\\dir\\", "<b>bold</b> & co", "水泵", "Relay 5"};
  const QJsonObject document = parsed(watcher->retained(device_topic(1)));
  const QJsonObject components = document["components"].toObject();
  EXPECT_EQ(components.size(), 32);
  for (int relay = 1; relay <= 16; ++relay) {
    SCOPED_TRACE(relay);
    const std::string id = "relayboard_com1_1_" + std::to_string(relay);
    const std::string base = "relayboard/com1/1/" + std::to_string(relay);
    const QJsonObject config = components[QString::fromStdString(id)].toObject();
    const std::string name = relay <= 5 ? names[relay - 1] : "Relay " + std::to_string(relay);
    EXPECT_EQ(text(config["name"]), name);
    EXPECT_EQ(text(config["platform"]), "switch");
    EXPECT_EQ(text(config["unique_id"]), id);
    EXPECT_EQ(text(config["default_entity_id"]), "switch." + id);
    EXPECT_EQ(text(config["state_topic"]), base + "/state");
    EXPECT_EQ(text(config["command_topic"]), base + "/set");
    for (const char* key : {"payload_on", "state_on"}) EXPECT_EQ(text(config[key]), "ON");
    for (const char* key : {"payload_off", "state_off"}) EXPECT_EQ(text(config[key]), "OFF");
    EXPECT_EQ(config["optimistic"], QJsonValue(false));
    EXPECT_EQ(config["retain"], QJsonValue(false));
    EXPECT_EQ(config.size(), 12);
    const QJsonObject button = components[QString::fromStdString(id + "_pulse")].toObject();
    EXPECT_EQ(text(button["name"]), name + " pulse");
    EXPECT_EQ(text(button["command_topic"]), base + "/pulse");
    EXPECT_EQ(text(button["payload_press"]), "500ms");
    EXPECT_EQ(watcher->retained(base + "/state"), "OFF");
  }
  EXPECT_EQ(document["qos"], QJsonValue(1));
  const QJsonArray availability = document["availability"].toArray();
  ASSERT_EQ(availability.size(), 2);
  EXPECT_EQ(text(availability[0].toObject()["topic"]), "relayboard/com1/status");
  EXPECT_EQ(text(availability[1].toObject()["topic"]), "relayboard/com1/1/status");
  EXPECT_EQ(text(document["availability_mode"]), "all");
  const QJsonObject device = document["device"].toObject();
  EXPECT_EQ(device["identifiers"].toArray(), QJsonArray{"relayboard_com1_1"});
  EXPECT_EQ(text(device["name"]), "Site <One> \"x\" 1");
  EXPECT_EQ(text(device["model"]), "16-relay board");
  EXPECT_EQ(text(device["manufacturer"]), "relay panel");
  EXPECT_EQ(text(device["serial_number"]), "com1/1");
  EXPECT_EQ(device.size(), 5);
  EXPECT_EQ(text(document["origin"]["name"]), "relayboard-mqtt");
  EXPECT_EQ(text(document["origin"]["sw_version"]), RELAYBOARD_MQTT_VERSION);
  EXPECT_TRUE(text(document["origin"]["support_url"]).starts_with("https://"));
  EXPECT_EQ(document.size(), 6);
  // What the line is, for clients that ask.
  const QJsonObject info = parsed(watcher->retained("relayboard/com1/info"));
  EXPECT_EQ(text(info["version"]), RELAYBOARD_MQTT_VERSION);
  EXPECT_EQ(info["addresses"].toArray(), QJsonArray{1});
  EXPECT_EQ(text(info["device"]), dir() + "/com1");
  EXPECT_EQ(info["answer_timeout_ms"], QJsonValue(40));
  EXPECT_EQ(watcher->retained("relayboard/com1/status"), "online");
  EXPECT_EQ(watcher->retained("relayboard/com1/1/status"), "online");
}

TEST_F(BridgeDiscovery, DocumentsComeAgainForTheHomeAutomationAndForNewNames) {
  write_tricky_names("Pump");
  const auto bridge = start_bridge_online();
  watcher->clear();
  ASSERT_TRUE(watcher->publish("homeassistant/status", "online"));
  EXPECT_TRUE(watcher->wait_for(device_topic(1), [](const SeenMessage&) { return true; }));

  write_tricky_names("Pump room \xCB\xAE");
  EXPECT_TRUE(watcher->wait_for(device_topic(1), [](const SeenMessage& message) {
    const QJsonObject components = parsed(message.payload)["components"].toObject();
    return text(components["relayboard_com1_1_1"]["name"]) == "Pump room 水";
  })) << bridge->log();
  // The log line follows the documents; once it is there, the change was taken once.
  EXPECT_TRUE(bridge->wait_for_log("names changed")) << bridge->log();
  EXPECT_EQ(bridge->log_count("names changed"), 1) << bridge->log();
}

// A board taken out, and the other discovery form's documents, are cleared.
TEST_F(BridgeDiscovery, ABoardNoLongerServedLeavesNothingOnTheBroker) {
  auto bridge = start_bridge_online({"--addresses", "1,2", "--discovery-form", "entity"});
  ASSERT_TRUE(watcher->wait_for_payload("relayboard/com1/2/status", "offline"));
  ASSERT_TRUE(watcher->retained("homeassistant/button/relayboard_com1_2/pulse16/config"));
  ASSERT_TRUE(watcher->retained("homeassistant/switch/relayboard_com1_1/relay16/config"));
  bridge->signal(SIGTERM);
  ASSERT_EQ(bridge->wait_exit(), 0);

  watcher->clear();
  bridge = start_bridge_online({"--addresses", "1"});
  // The board's status is cleared last.
  EXPECT_TRUE(watcher->wait_for("relayboard/com1/2/status", [](const SeenMessage& message) {
    return message.payload.empty() && message.retained;
  })) << bridge->log();
  EXPECT_EQ(bridge->log_count("board 2 is no longer served"), 1) << bridge->log();
  // Board 1's entity documents, then its device document, are cleared; it comes again.
  const auto cleared = watcher->wait_for(
      device_topic(1), [](const SeenMessage& message) { return message.payload.empty(); });
  ASSERT_TRUE(cleared) << bridge->log();
  EXPECT_TRUE(watcher->wait_for(device_topic(1), [&](const SeenMessage& message) {
    return !message.payload.empty() && message.arrived > cleared->arrived;
  }));
  EXPECT_EQ(bridge->log_count("board 1: discovery documents of the entity form cleared"), 1)
      << bridge->log();
  // A reader that comes now finds only board 1: the broker hands out what it keeps
  // before the reader's own message comes back.
  MqttTestClient reader(broker);
  ASSERT_TRUE(reader.subscribe("#"));
  ASSERT_TRUE(reader.publish("end", "of retained"));
  ASSERT_TRUE(reader.wait_for_payload("end", "of retained"));
  for (const auto& [topic, payload] : reader.retained()) {
    EXPECT_FALSE(topic.starts_with("relayboard/com1/2/")) << topic;
    EXPECT_FALSE(topic.starts_with("homeassistant/switch/")) << topic;
    EXPECT_FALSE(topic.starts_with("homeassistant/button/")) << topic;
  }
  EXPECT_TRUE(reader.retained(device_topic(1)));
  // two statuses, the client id and the info; board 1's states, names and document
  EXPECT_EQ(reader.retained().size(), 4u + 16u + 1u + 1u);
}

TEST_F(BridgeDiscovery, NoDiscoveryPublishesStatesOnly) {
  const auto bridge = start_bridge_online({"--no-discovery"});
  for (const auto& [topic, payload] : watcher->retained()) {
    EXPECT_TRUE(topic.starts_with("relayboard/com1/")) << topic;
  }
}

}  // namespace
