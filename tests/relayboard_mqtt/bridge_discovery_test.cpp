// relayboard-mqtt's discovery documents and retained states on a real broker, read back
// with Qt's JSON parser: names from the name file arrive as the same text, the documents
// come again when the home automation starts or the names change, and a change of form,
// timetable or boards leaves no document behind and no entity with another id.
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
  const auto bridge = start_bridge_online(
      {"--button-pulse", "0.5s", "--board-manufacturer", "Werkstatt Nord", "--web", "127.0.0.1:0"});
  const std::string names[] = {"Pump \"A\"", "C:\\dir\\", "<b>bold</b> & co", "水泵", "Relay 5"};
  const QJsonObject document = parsed(watcher->retained(device_topic(1)));
  const QJsonObject components = document["components"].toObject();
  EXPECT_EQ(components.size(), 32 + 4);
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
    EXPECT_EQ(text(config["device_class"]), "switch");
    EXPECT_EQ(config.size(), 13);
    const QJsonObject button = components[QString::fromStdString(id + "_pulse")].toObject();
    EXPECT_EQ(button["enabled_by_default"], QJsonValue(false));
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
  EXPECT_EQ(text(device["manufacturer"]), "Werkstatt Nord");
  EXPECT_EQ(text(device["serial_number"]), "com1/1");
  EXPECT_EQ(text(device["via_device"]), "relayboard_com1_bridge");
  // The page as the log names it (127.0.0.1 and the port taken).
  const std::string log = bridge->log();
  const std::size_t page = log.find("web page on ") + 12;
  const std::string url = log.substr(page, log.find_first_of(" \n", page) - page);
  EXPECT_EQ(text(device["configuration_url"]), url);
  EXPECT_EQ(device.size(), 7);
  EXPECT_EQ(text(document["origin"]["name"]), "relayboard-mqtt");
  EXPECT_EQ(text(document["origin"]["sw_version"]), RELAYBOARD_MQTT_VERSION);
  EXPECT_FALSE(document["origin"].toObject().contains("support_url"));
  EXPECT_EQ(document.size(), 6);
  // The bridge's own device: its version and its connectivity, seen while it runs.
  const QJsonObject bridge_document =
      parsed(watcher->retained("homeassistant/device/relayboard_com1_bridge/config"));
  EXPECT_EQ(text(bridge_document["device"]["sw_version"]), RELAYBOARD_MQTT_VERSION);
  EXPECT_EQ(text(bridge_document["device"]["configuration_url"]), url);
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

// Each entity a discovery document describes: its unique id and the entity id it asks
// for; an entry named by its platform only (a removal) asks for none.
using Entities = std::map<std::string, std::string>;

Entities described(const std::string& topic, const std::string& payload) {
  Entities entities;
  const QJsonObject document = parsed(payload);
  if (!document.contains("components")) {
    const std::string platform = topic.substr(14, topic.find('/', 14) - 14);
    entities[text(document["unique_id"])] = platform + '.' + text(document["object_id"]);
    return entities;
  }
  const QJsonObject components = document["components"].toObject();
  for (auto each = components.begin(); each != components.end(); ++each) {
    entities[each.key().toStdString()] = text(each.value().toObject()["default_entity_id"]);
  }
  return entities;
}

// The entities of the documents the broker keeps, as a new subscriber finds them.
Entities on_broker(const MqttBroker& broker) {
  MqttTestClient reader(broker);
  EXPECT_TRUE(reader.subscribe("homeassistant/#"));
  EXPECT_TRUE(reader.subscribe("sync"));
  EXPECT_TRUE(reader.publish("sync", "end"));
  EXPECT_TRUE(reader.wait_for_payload("sync", "end"));
  Entities entities;
  for (const auto& [topic, payload] : reader.retained()) {
    for (const auto& [id, entity] : described(topic, payload)) {
      EXPECT_FALSE(entities.contains(id)) << id << " described twice";
      if (!entity.empty()) entities[id] = entity;
    }
  }
  return entities;
}

// A change of form, a timetable entry or a board taken out: what the second run no longer
// has is cleared before its documents come, every other entity keeps its unique and its
// entity id, and no document is left behind.
TEST_F(BridgeDiscovery, ChangesBetweenRunsLeaveNoDocumentAndKeepEveryId) {
  const std::vector<std::string> entity = {"--discovery-form", "entity"};
  const std::vector<std::string> entries = {"--schedule", "at 06:30: 1/3 on", "--schedule",
                                            "porch: at 19:00: 1/4 on"};
  const auto with = [](std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  const struct {
    std::string what;
    std::vector<std::string> first, second;
    std::string gone;  // the unique ids that start so go
    std::string last;  // the second run's last document
  } cases[] = {
      {"device to entity form", entries, with(entries, entity), "",
       "sensor/relayboard_com1_1/schedule2_next/config"},
      {"entity to device form", with(entries, entity), entries, "",
       "device/relayboard_com1_1/config"},
      {"an entry removed",
       entries,
       {entries[0], entries[1]},
       "relayboard_com1_1_schedule2",
       "device/relayboard_com1_1/config"},
      {"an entry removed, entity form", with(entries, entity),
       with({entries[0], entries[1]}, entity), "relayboard_com1_1_schedule2",
       "sensor/relayboard_com1_1/schedule1_next/config"},
      {"a board removed",
       {"--addresses", "1,2"},
       {},
       "relayboard_com1_2_",
       "device/relayboard_com1_1/config"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto bridge = start_bridge_online(c.first);
    if (c.what == "a board removed") {
      // A silent board's refusal is kept for the home automation, and goes with the board.
      ASSERT_TRUE(watcher->wait_for_payload("relayboard/com1/2/status", "offline"));
      ASSERT_TRUE(watcher->publish("relayboard/com1/2/1/set", "ON"));
      EXPECT_TRUE(watcher->wait_for("relayboard/com1/2/refusal", [](const SeenMessage& message) {
        return parsed(message.payload)["reason"] == "board 2 does not answer" && message.retained;
      })) << bridge->log();
    }
    const Entities before = on_broker(broker);
    ASSERT_GE(before.size(), 37u);
    const auto left = watcher->retained();
    bridge->signal(SIGTERM);
    ASSERT_EQ(bridge->wait_exit(), 0);

    watcher->clear();
    bridge = start_bridge_online(c.second);
    // The documents come a while after what was cleared, the last one whole.
    EXPECT_TRUE(watcher->wait_for("homeassistant/" + c.last, [](const SeenMessage& m) {
      return !m.payload.empty() && m.payload.find(R"({"platform":"switch"})") == std::string::npos;
    })) << bridge->log();
    // A board no longer served has its documents cleared as the broker hands them over.
    for (const auto& [topic, payload] : left) {
      if (topic.find("relayboard_com1_2/") == std::string::npos) continue;
      EXPECT_TRUE(watcher->wait_for(topic, [](const SeenMessage& m) { return m.payload.empty(); }))
          << topic << bridge->log();
    }
    Entities expected = before;
    std::erase_if(expected,
                  [&](const auto& e) { return !c.gone.empty() && e.first.starts_with(c.gone); });
    EXPECT_EQ(on_broker(broker), expected) << bridge->log();
    // In the order the broker passed them on: no entity's document is cleared (or the
    // entity named for removal) after a document describing it was published.
    std::map<std::string, std::string> documents(left.begin(), left.end());
    std::map<std::string, std::size_t> cleared, published;
    const auto seen = watcher->messages("homeassistant/#");
    for (std::size_t at = 0; at < seen.size(); ++at) {
      const bool clear = seen[at].payload.empty();
      std::string& document = documents[seen[at].topic];
      if (clear && document.empty()) continue;
      for (const auto& [id, held] :
           described(seen[at].topic, clear ? document : seen[at].payload)) {
        if (clear || held.empty()) {
          cleared[id] = at;
        } else {
          published.emplace(id, at);
        }
      }
      document = seen[at].payload;
    }
    for (const auto& [id, at] : cleared) {
      if (published.contains(id)) {
        EXPECT_LT(at, published[id]) << id;
      }
    }
    for (const auto& [topic, payload] : watcher->retained()) {
      EXPECT_FALSE(topic.starts_with("relayboard/com1/2/")) << topic;
    }
    EXPECT_EQ(bridge->log_count("board 2 is no longer served"),
              c.gone == "relayboard_com1_2_" ? 1 : 0);
    bridge->signal(SIGTERM);
    ASSERT_EQ(bridge->wait_exit(), 0);
    // The next case starts from an empty broker.
    for (const auto& [topic, payload] : watcher->retained()) {
      ASSERT_TRUE(watcher->publish(topic, "", true));
    }
    watcher->clear();
  }
}

TEST_F(BridgeDiscovery, NoDiscoveryPublishesStatesOnly) {
  const auto bridge = start_bridge_online({"--no-discovery"});
  for (const auto& [topic, payload] : watcher->retained()) {
    EXPECT_TRUE(topic.starts_with("relayboard/com1/")) << topic;
  }
}

}  // namespace
