#include "mqtt/served_line.h"

#include "common/address_list.h"
#include "text/json_text.h"

namespace {

std::uint16_t bit(int relay) {
  return static_cast<std::uint16_t>(1u << (relay - 1));
}

Presence presence(const std::string& payload) {
  if (payload == "online") return Presence::online;
  if (payload == "offline") return Presence::offline;
  return Presence::unknown;
}

}  // namespace

ServedLine::ServedLine(MqttClient& client, std::string prefix, std::string line,
                       std::uint8_t address)
    : client_(client), topics_(std::move(prefix), std::move(line), ""), address_(address) {}

std::string ServedLine::names_topic() const {
  return topics_.prefix() + "/" + topics_.line() + "/" + std::to_string(address_) + "/names";
}

std::string ServedLine::rename_topic(int relay) const {
  return topics_.prefix() + "/" + topics_.line() + "/" + std::to_string(address_) + "/" +
         std::to_string(relay) + "/name/set";
}

std::vector<std::string> ServedLine::subscriptions() const {
  const std::string board =
      topics_.prefix() + "/" + topics_.line() + "/" + std::to_string(address_);
  return {topics_.bridge_status(), topics_.board_status(address_), board + "/+/state",
          names_topic(), topics_.board_result(address_)};
}

void ServedLine::subscribe() {
  for (const auto& pattern : subscriptions()) client_.subscribe(pattern);
}

void ServedLine::subscribed(const std::string& pattern, bool granted) {
  ++acknowledged_;
  if (!granted && !refused_subscription_) refused_subscription_ = pattern;
}

void ServedLine::publish_refused(const std::string& topic, const std::string& reason) {
  if (sent_topics_.count(topic) == 0 || outcome_.kind != ServedOutcome::Kind::waiting) return;
  outcome_ = {ServedOutcome::Kind::not_allowed, reason, {}};
}

void ServedLine::received(const MqttMessage& message) {
  const std::string& topic = message.topic;
  if (topic == topics_.bridge_status()) {
    bridge_ = presence(message.payload);
    return;
  }
  if (topic == topics_.board_status(address_)) {
    board_ = presence(message.payload);
    return;
  }
  if (topic == topics_.board_result(address_)) {
    result_received(message.payload);
    return;
  }
  if (topic == names_topic()) {
    const auto fields = json_object(message.payload);
    if (!fields) return;
    const auto list = fields->find("names");
    if (list == fields->end() || !list->is_array() || list->size() != 16) return;
    Names names;
    names.title = json_text_field(*fields, "title").value_or("");
    for (std::size_t i = 0; i < 16; ++i) {
      const Json& name = (*list)[i];
      if (!name.is_string()) return;
      names.relays[i] = name.get<std::string>();
    }
    names_ = std::move(names);
    return;
  }
  for (int relay = 1; relay <= 16; ++relay) {
    if (topic != topics_.relay_state(address_, relay)) continue;
    if (message.payload != "ON" && message.payload != "OFF") return;
    known_ |= bit(relay);
    if (message.payload == "ON") {
      opened_ |= bit(relay);
    } else {
      opened_ &= static_cast<std::uint16_t>(~bit(relay));
    }
    state_changed();
    return;
  }
}

std::optional<std::uint16_t> ServedLine::states() const {
  if (known_ != 0xFFFF) return std::nullopt;
  return opened_;
}

std::string ServedLine::command_topic(std::uint16_t relays, const char* leaf) const {
  const std::string level = relays == 0xFFFF ? "all" : relay_list_text(relays);
  return topics_.prefix() + "/" + topics_.line() + "/" + std::to_string(address_) + "/" + level +
         "/" + leaf;
}

void ServedLine::send(const std::string& topic, const std::string& payload) {
  sent_topics_.insert(topic);
  // A publish the client cannot even queue (the broker gone) is no command sent.
  if (!client_.publish(topic, payload, false) && outcome_.kind == ServedOutcome::Kind::waiting) {
    outcome_ = {ServedOutcome::Kind::failed, "the broker connection was lost", "not sent"};
  }
}

void ServedLine::drive(std::uint16_t relays, bool open) {
  command_ = Command::drive;
  relays_ = relays;
  open_ = open;
  sent_topics_.clear();
  outcome_ = {};
  // The relays to switch go as one command, which the bridge's rules judge as a whole;
  // as on a local line, nothing goes out for a relay already as asked.
  std::uint16_t changing = 0;
  for (int relay = 1; relay <= 16; ++relay) {
    if ((relays & bit(relay)) == 0) continue;
    if ((known_ & bit(relay)) && ((opened_ & bit(relay)) != 0) == open) continue;
    changing |= bit(relay);
  }
  if (changing != 0)
    send(command_topic(relays == 0xFFFF ? relays : changing, "set"), open ? "ON" : "OFF");
  state_changed();
}

void ServedLine::pulse(std::uint16_t relays, const std::string& duration) {
  command_ = Command::pulse;
  relays_ = relays;
  open_ = false;
  pulse_seen_open_ = 0;
  sent_topics_.clear();
  outcome_ = {};
  if (relays != 0) send(command_topic(relays, "pulse"), duration);
}

void ServedLine::rename(int relay, const std::string& name) {
  command_ = Command::rename;
  relays_ = bit(relay);
  sent_topics_.clear();
  outcome_ = {};
  send(rename_topic(relay), name);
}

std::uint16_t ServedLine::missing() const {
  if (command_ == Command::pulse) {
    return static_cast<std::uint16_t>(relays_ & ~(pulse_seen_open_ & ~opened_));
  }
  const std::uint16_t wanted = open_ ? relays_ : 0;
  return static_cast<std::uint16_t>(relays_ & ~known_) |
         static_cast<std::uint16_t>((opened_ ^ wanted) & relays_);
}

void ServedLine::state_changed() {
  if (outcome_.kind != ServedOutcome::Kind::waiting) return;
  if (command_ == Command::pulse) pulse_seen_open_ |= static_cast<std::uint16_t>(opened_ & relays_);
  if ((command_ == Command::drive || command_ == Command::pulse) && missing() == 0) {
    outcome_.kind = ServedOutcome::Kind::done;
  }
}

void ServedLine::result_received(const std::string& payload) {
  if (outcome_.kind != ServedOutcome::Kind::waiting) return;
  const auto fields = json_object(payload);
  if (!fields) return;
  const auto command = json_text_field(*fields, "command");
  const auto result = json_text_field(*fields, "result");
  // Results of other clients' commands on the same board are theirs.
  if (!command || !result || sent_topics_.count(*command) == 0) return;
  if (*result == "done") {
    // A switch is done when the board reports it, a rename when it is stored; a pulse
    // too short for the bridge's poll to see is known opened by its result.
    if (command_ == Command::rename) outcome_.kind = ServedOutcome::Kind::done;
    if (command_ == Command::pulse) {
      const IncomingTopic sent = topics_.parse(*command);
      const auto* pulsed = std::get_if<CommandTopic>(&sent);
      if (pulsed && pulsed->relay > 0) pulse_seen_open_ |= bit(pulsed->relay);
      if (pulsed) pulse_seen_open_ |= pulsed->relays;
      state_changed();
    }
    return;
  }
  outcome_ = {ServedOutcome::Kind::failed, json_text_field(*fields, "reason").value_or(""),
              *result};
}
