#include "bridge/discovery.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <set>
#include <sstream>

namespace {

using Keys = std::set<std::string>;

Keys keys(const std::string& words) {
  std::istringstream stream(words);
  Keys set;
  for (std::string word; stream >> word;) set.insert(word);
  return set;
}

// The keys Home Assistant documents for what the bridge describes (MQTT device
// discovery, switch, button, binary sensor, sensor, device, origin, availability).
const std::string entity_keys =
    "availability availability_mode availability_template availability_topic "
    "payload_available payload_not_available command_template command_topic device "
    "device_class enabled_by_default encoding entity_category entity_picture icon "
    "json_attributes_template json_attributes_topic name default_entity_id origin platform qos "
    "retain unique_id ";
const Keys document_keys = keys(
    "availability availability_mode availability_template availability_topic "
    "payload_available payload_not_available qos state_topic command_topic encoding device "
    "origin components");
const Keys switch_keys = keys(entity_keys +
                              "optimistic payload_off payload_on state_off state_on "
                              "state_topic value_template");
const Keys button_keys = keys(entity_keys + "payload_press");
const Keys binary_sensor_keys = keys(entity_keys +
                                     "expire_after force_update off_delay payload_off payload_on "
                                     "state_topic value_template");
const Keys sensor_keys = keys(entity_keys +
                              "expire_after force_update last_reset_value_template "
                              "options state_class state_topic suggested_display_precision "
                              "unit_of_measurement value_template");
const Keys device_keys = keys(
    "configuration_url connections hw_version identifiers manufacturer model model_id name "
    "serial_number suggested_area sw_version via_device");
const Keys origin_keys = keys("name sw_version support_url");
const Keys availability_keys = keys("topic payload_available payload_not_available value_template");

QJsonObject parsed(const std::string& json) {
  QJsonParseError error{};
  const auto document = QJsonDocument::fromJson(QByteArray::fromStdString(json), &error);
  EXPECT_EQ(error.error, QJsonParseError::NoError) << json;
  return document.object();
}

// The keys of `object` that Home Assistant does not document for it.
Keys undocumented(const QJsonObject& object, const Keys& documented) {
  Keys extra;
  for (const QString& key : object.keys()) {
    if (!documented.contains(key.toStdString())) extra.insert(key.toStdString());
  }
  return extra;
}

Keys with_object_id(Keys documented) {
  documented.erase("default_entity_id");
  documented.insert("object_id");
  return documented;
}

std::string text(const QJsonValue& value) {
  return value.toString().toStdString();
}

const BridgeTopics topics("relayboard", "tty-USB_0", "homeassistant");
const BoardDescription board{7,
                             {"Pump \"A\"", ""},
                             "Site",
                             "0.2.0",
                             "https://x.org/r",
                             std::chrono::milliseconds(1500),
                             {{2, "lights"}},
                             {"0.2.0", "", "http://127.0.0.1:8080/", "", "16-relay board"}};
const std::string id = "relayboard_tty-USB_0_7";

QJsonObject component(const QJsonObject& document, const std::string& suffix) {
  return document["components"][QString::fromStdString(id + suffix)].toObject();
}

TEST(Discovery, TheDeviceDocumentHoldsOnlyDocumentedKeys) {
  const auto documents = discovery_documents(topics, DiscoveryForm::device, board);
  ASSERT_EQ(documents.size(), 1u);
  EXPECT_EQ(documents[0].topic, "homeassistant/device/relayboard_tty-USB_0_7/config");
  const QJsonObject document = parsed(documents[0].payload);
  const QJsonObject components = document["components"].toObject();
  // 16 switches and buttons, all on and off, connectivity, last refusal, the timetable's
  ASSERT_EQ(components.size(), 32 + 4 + 2);
  // Older releases drop keys they do not know: the entity form keeps object_id.
  const auto entity = discovery_documents(topics, DiscoveryForm::entity, board);
  ASSERT_EQ(entity.size(), 38u);
  EXPECT_EQ(entity[37].topic, "homeassistant/sensor/relayboard_tty-USB_0_7/schedule2_next/config");
  const auto entry = [&](std::size_t at) { return parsed(entity[at].payload); };
  const QJsonObject bridge =
      parsed(bridge_documents(topics, DiscoveryForm::device, board.facts)[0].payload);
  const auto bridge_entity = bridge_documents(topics, DiscoveryForm::entity, board.facts);
  const struct {
    std::string what;
    QJsonObject object;
    Keys documented;
  } rows[] = {
      {"document", document, document_keys},
      {"device", document["device"].toObject(), device_keys},
      {"origin", document["origin"].toObject(), origin_keys},
      {"availability", document["availability"].toArray()[1].toObject(), availability_keys},
      {"switch", component(document, "_1"), switch_keys},
      {"button", component(document, "_16_pulse"), button_keys},
      {"all on", component(document, "_all_on"), button_keys},
      {"connectivity", component(document, "_connectivity"), binary_sensor_keys},
      {"last refusal", component(document, "_last_refusal"), sensor_keys},
      {"schedule", component(document, "_schedule2"), switch_keys},
      {"next run", component(document, "_schedule2_next"), sensor_keys},
      {"bridge", bridge, document_keys},
      {"bridge device", bridge["device"].toObject(), device_keys},
      {"entity switch", entry(0), with_object_id(switch_keys)},
      {"entity button", entry(31), with_object_id(button_keys)},
      {"entity next run", entry(37), with_object_id(sensor_keys)},
      {"entity bridge", parsed(bridge_entity[0].payload), with_object_id(binary_sensor_keys)},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_FALSE(row.object.isEmpty());
    EXPECT_EQ(undocumented(row.object, row.documented), Keys{});
  }
  // Read end to end with a name file; here, what only odd line names and options show.
  EXPECT_FALSE(document["device"].toObject().contains("sw_version"));  // not the board's
  EXPECT_EQ(text(document["device"]["via_device"]), "relayboard_tty-USB_0_bridge");
  const QJsonObject button16 = components["relayboard_tty-USB_0_7_16_pulse"].toObject();
  EXPECT_EQ(text(components["relayboard_tty-USB_0_7_1"]["default_entity_id"]),
            "switch.relayboard_tty_usb_0_7_1");
  EXPECT_EQ(text(button16["default_entity_id"]), "button.relayboard_tty_usb_0_7_16_pulse");
  EXPECT_EQ(text(button16["payload_press"]), "1500ms");
}

// A timetable entry is a switch of the board it switches, and a sensor of its next run.
TEST(Discovery, EachTimetableEntryIsASwitchAndASensorOfItsBoard) {
  const QJsonObject document =
      parsed(discovery_documents(topics, DiscoveryForm::device, board)[0].payload);
  const QJsonObject entry = component(document, "_schedule2");
  EXPECT_EQ(text(entry["command_topic"]), "relayboard/tty-USB_0/schedule/2/set");
  EXPECT_EQ(text(entry["state_topic"]), "relayboard/tty-USB_0/schedule/2/state");
  EXPECT_EQ(text(entry["name"]), "Schedule lights");
  const QJsonObject next = component(document, "_schedule2_next");
  EXPECT_EQ(text(next["state_topic"]), "relayboard/tty-USB_0/schedule");
  EXPECT_EQ(text(next["value_template"]), "{{ value_json.entries[1].next or None }}");
}

TEST(Discovery, AnUnnamedRelayAndBoardTakeDefaultNames) {
  const std::string unnamed = discovery_config_json(topics, {0, 16, "", "", "0.1.0"});
  EXPECT_EQ(unnamed.rfind(R"({"name":"Relay 16","unique_id":"relayboard_tty-USB_0_0_16",)", 0), 0u);
  EXPECT_NE(unnamed.find(R"("name":"Board 0","model")"), std::string::npos);
}

TEST(Discovery, ADocumentTopicNamesItsBoardOrTheBridge) {
  const struct {
    std::string topic;
    std::optional<DiscoveryNode> node;
  } cases[] = {
      {"homeassistant/device/relayboard_tty-USB_0_255/config", DiscoveryNode{255}},
      {"homeassistant/switch/relayboard_tty-USB_0_3/relay4/config", DiscoveryNode{3}},
      {"homeassistant/sensor/relayboard_tty-USB_0_3/schedule9_next/config", DiscoveryNode{3}},
      {"homeassistant/device/relayboard_tty-USB_0_bridge/config", DiscoveryNode{}},
      {"homeassistant/device/relayboard_tty-USB_0_3/relay4/config", {}},
      {"homeassistant/device/relayboard_tty-USB_0_03/config", {}},
      {"homeassistant/device/relayboard_tty-USB_1_3/config", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.topic);
    EXPECT_EQ(discovery_node(topics, c.topic), c.node);
  }
}

}  // namespace
