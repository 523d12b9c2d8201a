#include "bridge/bridge_core.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <utility>

#include "bridge/bridge_core_parts.h"
#include "bridge/discovery.h"
#include "bridge/json_payloads.h"
#include "common/address_list.h"
#include "event_log/event_json.h"
#include "line/interlock.h"

namespace {

constexpr const char* online = "online";

std::uint16_t bit(int relay) {
  return static_cast<std::uint16_t>(1u << (relay - 1));
}

// One frame per relay of `relays`, as one command.
SwitchCommand relay_switches(std::uint8_t address, std::uint16_t relays, bool open,
                             SwitchLane lane) {
  SwitchCommand command{{}, lane};
  for (int relay = 1; relay <= relay_count; ++relay) {
    if ((relays & bit(relay)) == 0) continue;
    command.frames.push_back({address, open ? BoardCommand::OpenRelay : BoardCommand::CloseRelay,
                              0x00, static_cast<std::uint8_t>(relay)});
  }
  return command;
}

// "board 1 relay 5", "board 1 relays 2 and 5"; "board 1" when no relay is named.
std::string board_relays(std::uint8_t address, std::uint16_t relays) {
  const std::string board = "board " + std::to_string(address);
  return relays == 0 ? board : board + ' ' + relays_text(relays);
}

// How the log names the switch of a rule: what it sends, not what the board did.
std::string rule_switch(const std::string& rule) {
  return rule + (rule == "on_start" ? " switch" : " switch-off");
}

std::string sends_text(int sends) {
  return std::to_string(sends) + (sends == 1 ? " send" : " sends");
}

// What follows "Schedule " in a timetable entry's entities' names: its name, or for an
// entry without one (named by its whole line) its number and time, "2 at 06:30".
std::string schedule_label(const TimetableEntry& entry, std::size_t number) {
  const std::string_view name = entry.name;
  const std::string_view first = name.substr(0, name.find_first_of(" \t"));
  if (first != "at" && first != "every") return entry.name;
  char time[8];
  std::snprintf(time, sizeof time, "%02d:%02d", entry.hour, entry.minute);
  return std::to_string(number) + " at " + time;
}

}  // namespace

BridgeCore::BridgeCore(BridgeSettings settings, MqttClient& client, BoardLine& line,
                       BridgeNames names, LogLine log, Rename rename)
    : settings_(std::move(settings)),
      topics_(settings_.prefix, settings_.line, settings_.discovery_prefix),
      client_(client),
      line_(line),
      names_(std::move(names)),
      log_(std::move(log)),
      rename_(std::move(rename)),
      timetable_(settings_.schedule,
                 {settings_.schedule_settled_from.value_or(settings_.schedule_since),
                  settings_.schedule_since},
                 settings_.schedule_spans) {
  for (const std::uint8_t address : settings_.addresses) boards_[address];
  for (const std::string& name : settings_.schedule_paused) timetable_.set_paused(name, true);
  line_.set_events(this);
}

void BridgeCore::connected(const std::map<std::string, std::string>& found) {
  // The broker takes a client's packets in order, so whoever sees "online" can already
  // send commands that reach us.
  for (const std::string& pattern : topics_.subscriptions(settings_.discovery)) {
    // Only commands: a live status (ours, another site's) must still read as live.
    const bool command = pattern.ends_with("/set") || pattern.ends_with("/pulse");
    if (command) {
      client_.subscribe_as_published(pattern);
    } else {
      client_.subscribe(pattern);
    }
  }
  // What an earlier run's timetable left: found, and cleared when it is no longer ours.
  client_.subscribe(topics_.timetable());
  client_.subscribe(topics_.timetable() + "/+/state");
  if (std::exchange(first_session_, false)) {
    for (const auto& entry : boards_) publish(topics_.board_status(entry.first), offline);
  }
  publish(topics_.line_client(), settings_.client_id);
  publish(topics_.bridge_status(), online);
  publish(topics_.line_info(), line_info_json(settings_.version, settings_.addresses,
                                              settings_.line_device, settings_.answer_timeout));
  for (const auto& entry : boards_) publish_names(entry.first);
  for (std::size_t entry = 1; entry <= timetable_.entries().size(); ++entry) {
    publish_schedule_state(entry);
  }
  publish_timetable(true);
  // The documents before the states: a reader that has a board's states has its
  // documents too, whether the board answered before the session came up or after
  // (unless documents of an earlier run were cleared: then ours follow a while later).
  if (settings_.discovery) {
    discovery_held_ = clear_left_documents(found) || discovery_held_;
    publish_all_discovery();
  }
  for (const auto& [address, board] : boards_) {
    publish(topics_.board_status(address), board.opened ? online : offline);
    if (board.opened) publish_states(address, *board.opened, 0xFFFF);
  }
}

void BridgeCore::message(const MqttMessage& message, Clock::time_point now) {
  const SourceScope scope(source_, {message.source, message.sender, ""});
  if (const auto node = discovery_node(topics_, message.topic)) {
    // Our own documents come back; only a board no longer served has some left to clear.
    const bool stale = node->board && std::find(stale_boards_.begin(), stale_boards_.end(),
                                                *node->board) != stale_boards_.end();
    if (stale && message.retained && !message.payload.empty()) publish(message.topic, "");
    return;
  }
  if (const auto entry = topics_.schedule_entry(message.topic)) {
    return schedule_command(*entry, message);
  }
  if (stale_schedule(message)) return;
  const IncomingTopic topic = topics_.parse(message.topic);
  if (const auto* command_topic = std::get_if<CommandTopic>(&topic)) {
    command(*command_topic, message, now);
  } else if (const auto* status = std::get_if<BoardStatusTopic>(&topic)) {
    // Only what an earlier run left on the broker counts: our own statuses come back, an
    // empty one is a removal already done, and a live one is nobody's to remove.
    if (message.retained && !boards_.contains(status->address) && !message.payload.empty()) {
      remove_stale_board(status->address);
    }
  } else if (std::holds_alternative<DiscoveryStatusTopic>(topic)) {
    // A retained "online" comes with every subscription, and discovery was just sent.
    if (settings_.discovery && message.payload == online && !message.retained) {
      log("home automation online: discovery sent again");
      publish_all_discovery();
    }
  } else if (std::holds_alternative<LineTopic>(topic)) {
    // Read once at start, to learn who serves the line; since then our own.
  } else {
    const std::string& why = std::get<ForeignTopic>(topic).why;
    log("message ignored on " + printable(message.topic) + ": " + why);
    const auto address = topics_.result_board(message.topic);
    if (!message.payload.empty() && (address || !message.response_topic.empty())) {
      answer(reply_to(message), address, CommandOutcome::refused, why);
    }
  }
}

void BridgeCore::command(const CommandTopic& topic, const MqttMessage& message,
                         Clock::time_point now) {
  // An empty command is the removal of a retained one (the bridge's own, without MQTT 5).
  // With MQTT 5 a live one tells itself apart: an empty name is a name like any other.
  // The web page's commands never come through the broker: each one is answered.
  const bool from_page = message.source == "web";
  const bool empty_name = topic.action == CommandAction::rename &&
                          (settings_.retain_as_published || from_page) && !message.retained;
  if (message.payload.empty() && !empty_name && !from_page) return;
  const auto ignored = [&](const std::string& why) {
    log("command ignored on " + printable(message.topic) + ": " + why);
    answer(reply_to(message), topic.address, CommandOutcome::refused, why);
  };
  // A retained command would switch the relay again at every start of the bridge.
  if (message.retained) {
    return ignored(
        "it was sent retained (send commands without the retain flag; an empty retained "
        "message on the topic removes it from the broker)");
  }
  Board* b = board(topic.address);
  if (!b) return ignored("board " + std::to_string(topic.address) + " is not served");
  const std::string payload = '"' + printable(message.payload) + '"';
  // What the line would not take is kept for the home automation: its sender may not
  // be there to read the answer (an interlock's refusal of a dashboard's switch).
  const auto kept = [&](CommandOutcome outcome, const std::string& why) {
    const std::string json = command_result_json(reply_to(message), outcome, why);
    publish(topics_.board_refusal(topic.address),
            refusal_json(json, std::chrono::system_clock::now()));
    answer(reply_to(message), topic.address, outcome, why);
  };
  const auto not_sent = [&](const std::string& why) {
    log("command refused on " + printable(message.topic) + " (" + payload + "): " + why);
    kept(CommandOutcome::not_sent, why);
  };
  const auto refused = [&](const SwitchRefusal& why) {
    if (why.why != SwitchRefusal::Why::against_rules) return not_sent(refusal_text(why));
    // The line's rules forbid it: the sender learns which rule, as from any refusal.
    log("command refused on " + printable(message.topic) + " (" + payload + "): " + why.reason);
    for (int relay = 1; relay <= relay_count; ++relay) {
      if (topic.relays & bit(relay))
        recorder_.refused(topic.address, relay, source_, why.reason, wall_now());
    }
    if (topic.relays == 0)
      recorder_.refused(topic.address, topic.relay, source_, why.reason, wall_now());
    kept(CommandOutcome::refused, why.reason);
  };
  // A silent board would take the frame nowhere: its sender learns it now.
  const auto silent = [&] {
    if (b->opened) return false;
    if (line_lost_) {
      refused(SwitchRefusal::device_lost());
    } else {
      not_sent("board " + std::to_string(topic.address) + " does not answer");
    }
    return true;
  };
  const auto taken = [&](std::uint16_t relays, std::uint16_t opened) {
    answer(pending_.add(topic.address, relays, opened, reply_to(message)));
    // Without MQTT 5 a live retained command looks like any other: removed once taken, so
    // that none stays on the broker.
    if (!settings_.retain_as_published) client_.publish(message.topic, "", true);
  };
  if (topic.action == CommandAction::rename) return rename(topic, message);
  const std::string what = "board " + std::to_string(topic.address) +
                           (topic.relays  ? " relays " + relay_list_text(topic.relays)
                            : topic.relay ? " relay " + std::to_string(topic.relay)
                                          : " all");
  // A list or all of the relays: one command, judged whole by the line's rules.
  const std::uint16_t relays = topic.relays  ? topic.relays
                               : topic.relay ? bit(topic.relay)
                                             : 0xFFFF;

  if (topic.action == CommandAction::pulse) {
    const auto duration = parse_pulse_duration(message.payload);
    if (!duration) return ignored(payload + " is not a duration from 10ms to 3600s");
    if (silent()) return;
    if (const auto refusal = start_pulses(topic.address, relays, *duration, now)) {
      return refused(*refusal);
    }
    note(what + ": pulse " + message.payload);
    taken(relays, relays);
    return;
  }
  const auto switch_payload = parse_switch_payload(message.payload);
  if (!switch_payload) return ignored(payload + " is not ON, OFF or TOGGLE");
  if (topic.relay == 0) {
    if (*switch_payload == SwitchPayload::toggle) {
      return ignored(topic.relays ? "a list of relays takes ON or OFF"
                                  : "all relays take ON or OFF");
    }
    const bool open = *switch_payload == SwitchPayload::on;
    if (silent()) return;
    if (const auto refusal = set_relays(topic.address, relays, open, now)) {
      return refused(*refusal);
    }
    note(what + ": " + message.payload);
    taken(relays, open ? relays : 0x0000);
    return;
  }
  bool open = *switch_payload == SwitchPayload::on;
  if (*switch_payload == SwitchPayload::toggle) {
    // Two toggles in quick succession flip the relay twice: the second flips what the
    // first commanded, which the board may not have reported yet.
    const auto opened = line_.commanded(topic.address, topic.relay);
    if (!opened) return ignored("the state of " + what + " is not known");
    open = !*opened;
  }
  if (silent()) return;
  if (const auto refusal = set_relays(topic.address, bit(topic.relay), open, now)) {
    return refused(*refusal);
  }
  note(what + ": " + message.payload + (open ? " (opens)" : " (closes)"));
  taken(bit(topic.relay), open ? bit(topic.relay) : 0);
}

std::optional<SwitchRefusal> BridgeCore::set_relays(std::uint8_t address, std::uint16_t relays,
                                                    bool open, Clock::time_point now) {
  SwitchCommand command;
  if (relays == 0xFFFF) {
    const std::uint8_t data = open ? 0xFF : 0x00;
    command.frames.push_back({address, BoardCommand::SetAllRelays, data, data});
  } else {
    command = relay_switches(address, relays, open, SwitchLane::in_turn);
  }
  if (const auto refusal = line_.command(command, now)) return refusal;
  recorder_.commanded(address, relays, open ? relays : 0, source_, wall_now());
  return std::nullopt;
}

std::optional<SwitchRefusal> BridgeCore::start_pulses(std::uint8_t address, std::uint16_t relays,
                                                      std::chrono::milliseconds length,
                                                      Clock::time_point now) {
  SwitchCommand command = relay_switches(address, relays, true, SwitchLane::first);
  command.pulse = length;
  if (const auto refusal = line_.command(command, now)) return refusal;
  recorder_.commanded(address, relays, relays, source_, wall_now());
  return std::nullopt;
}

// A name belongs to the name file, not to the board: a silent board is renamed too.
void BridgeCore::rename(const CommandTopic& topic, const MqttMessage& message) {
  RenameAnswer result{CommandOutcome::refused, "renames are not taken on this line", {}};
  if (rename_) result = rename_(topic.address, topic.relay, message.payload);
  const std::string what = "board " + std::to_string(topic.address) + " relay " +
                           std::to_string(topic.relay) + ": rename to \"" +
                           printable(message.payload) + '"';
  if (result.outcome == CommandOutcome::done) {
    note(what);
  } else {
    log(what + " not stored: " + result.reason);
  }
  // The names go out before the answer: whoever reads "done" then finds the new name.
  if (result.names) names_changed(std::move(*result.names));
  answer(reply_to(message), topic.address, result.outcome, result.reason);
  if (!settings_.retain_as_published) client_.publish(message.topic, "", true);
}

void BridgeCore::answer(const CommandReply& reply, std::optional<std::uint8_t> address,
                        CommandOutcome outcome, const std::string& reason) {
  const std::string json = command_result_json(reply, outcome, reason);
  if (address) client_.reply(topics_.board_result(*address), json, reply.correlation_data);
  if (!reply.response_topic.empty()) {
    client_.reply(reply.response_topic, json, reply.correlation_data);
  }
}

void BridgeCore::answer(const std::vector<PendingCommands::Settled>& settled) {
  for (const auto& s : settled) answer(s.reply, s.address, s.outcome, s.reason);
}

void BridgeCore::pulse_end_sent(const PulseRunner::End& end) {
  recorder_.commanded(end.address, end.relays, end.opened ? end.relays : 0,
                      {"pulse", "", stopped_ ? "the bridge stopped" : ""}, wall_now());
}

void BridgeCore::pulse_told(const PulseRunner::Told& each) {
  using News = PulseRunner::Told::News;
  const std::string what = "board " + std::to_string(each.end.address) + " relay " +
                           std::to_string(std::countr_zero(each.end.relays) + 1);
  switch (each.news) {
    case News::ended:
      note(what + ": pulse ended");
      break;
    case News::ended_late:
      note(what + ": pulse ended while the board was away");
      break;
    case News::sent_again:
      // Once per loss of the board, not at every send of a cut line.
      if (each.first) log(what + ": pulse's end not confirmed; sent again until it holds");
      break;
    case News::still_switched:
      log(what + ": still ON after its pulse's OFF was sent twice");
      break;
    case News::not_ended:
      log(what + ": pulse not ended: " + each.why);
      break;
    case News::back:
      if (each.sends > 1) log(what + ": pulse's end held after " + sends_text(each.sends));
      break;
  }
}

void BridgeCore::names_changed(BridgeNames names) {
  if (names == names_) return;
  const bool title_changed = names.title != names_.title;
  std::vector<std::uint8_t> changed;
  for (const auto& entry : boards_) {
    const std::uint8_t address = entry.first;
    const auto before = names_.relays.find(address);
    const auto after = names.relays.find(address);
    const bool same = (before == names_.relays.end()) == (after == names.relays.end()) &&
                      (before == names_.relays.end() || before->second == after->second);
    if (title_changed || !same) changed.push_back(address);
  }
  names_ = std::move(names);
  for (const std::uint8_t address : changed) publish_names(address);
  if (!settings_.discovery || changed.empty()) return;
  std::string list;
  for (const std::uint8_t address : changed) {
    if (!list.empty()) list += ", ";
    list += std::to_string(address);
  }
  log("names changed: discovery sent again for board " + list);
  for (const std::uint8_t address : changed) publish_discovery(address);
}

void BridgeCore::line_lost() {
  line_lost_ = true;
  for (auto& [address, b] : boards_) {
    if (!b.opened) continue;
    b.opened.reset();
    publish(topics_.board_status(address), offline);
    log("board " + std::to_string(address) + " offline");
  }
  // After the boards' news: whoever reads "not done" knows the states it saw are stale.
  answer(pending_.drop(std::nullopt, "the serial line was lost"));
}

void BridgeCore::shutting_down(Clock::time_point now) {
  // A pulse cut short by the stop still ends, and so does one owed to a board that
  // stopped answering (it may still hear): no relay is left switched by a pulse.
  stopped_ = true;
  line_.end_pulses(now);
  for (const auto& entry : boards_) publish(topics_.board_status(entry.first), offline);
  answer(pending_.drop(std::nullopt, "the bridge stopped"));
  publish(topics_.bridge_status(), offline);
}

void BridgeCore::board_answered(std::uint8_t address, std::uint16_t opened) {
  Board* b = board(address);
  if (!b) return;
  recorder_.reported(address, opened, wall_now());
  line_lost_ = false;
  b->told_late = false;
  if (!b->opened) {
    publish(topics_.board_status(address), online);
    log("board " + std::to_string(address) + " online");
    publish_states(address, opened, 0xFFFF);
  } else if (const auto changed = static_cast<std::uint16_t>(*b->opened ^ opened)) {
    publish_states(address, opened, changed);
  }
  b->opened = opened;
  answer(pending_.answered(address, opened,
                           [&](int relay) { return line_.commanded(address, relay); }));
}

void BridgeCore::board_lost(std::uint8_t address) {
  Board* b = board(address);
  if (!b || !b->opened) return;
  recorder_.lost(address, wall_now());
  b->opened.reset();
  publish(topics_.board_status(address), offline);
  log("board " + std::to_string(address) + " offline");
  answer(pending_.drop(address, "board " + std::to_string(address) + " stopped answering"));
}

void BridgeCore::board_late(std::uint8_t address, Clock::duration waited) {
  Board* b = board(address);
  if (!b || b->told_late) return;
  // Not a silent board: one whose answers the line cannot count, and the operator can
  // make countable. Said once, or a slow board would fill the log at every poll.
  b->told_late = true;
  log("board " + std::to_string(address) + " answers after " +
      std::to_string(std::chrono::ceil<std::chrono::milliseconds>(waited).count()) +
      " ms: raise --answer-timeout");
}

void BridgeCore::remove_stale_board(std::uint8_t address) {
  // Logged first, as every event: a reader of the log sees it before the broker's news.
  log("board " + std::to_string(address) + " is no longer served: its topics cleared");
  // Its documents, whatever form and entries they had, are cleared as the broker hands
  // them to this subscription.
  if (std::find(stale_boards_.begin(), stale_boards_.end(), address) == stale_boards_.end()) {
    stale_boards_.push_back(address);
    for (const std::string& pattern : discovery_patterns(topics_, address)) {
      client_.subscribe(pattern);
    }
  }
  for (int relay = 1; relay <= relay_count; ++relay)
    publish(topics_.relay_state(address, relay), "");
  publish(topics_.board_state(address), "");
  publish(topics_.board_names(address), "");
  publish(topics_.board_refusal(address), "");
  publish(topics_.board_status(address), "");
}

void BridgeCore::publish_states(std::uint8_t address, std::uint16_t opened, std::uint16_t which) {
  for (int relay = 1; relay <= relay_count; ++relay) {
    if ((which & bit(relay)) == 0) continue;
    const char* state = (opened & bit(relay)) ? "ON" : "OFF";
    publish(topics_.relay_state(address, relay), state);
    note("board " + std::to_string(address) + " relay " + std::to_string(relay) + " " + state);
  }
  if (settings_.json_state) publish(topics_.board_state(address), board_state_json(opened));
}

DeviceFacts BridgeCore::facts() const {
  return {settings_.version, settings_.support_url, configuration_url_,
          settings_.board_manufacturer, settings_.board_model};
}

BoardDescription BridgeCore::description(std::uint8_t address) const {
  const auto names = names_.relays.find(address);
  BoardDescription board{
      address, {}, names_.title, settings_.version, settings_.support_url, settings_.button_pulse};
  board.facts = facts();
  if (names != names_.relays.end()) board.names.assign(names->second.begin(), names->second.end());
  for (std::size_t entry = 0; entry < timetable_.entries().size(); ++entry) {
    const TimetableEntry& scheduled = timetable_.entries()[entry];
    if (scheduled.address == address) {
      board.schedules.push_back({entry + 1, schedule_label(scheduled, entry + 1)});
    }
  }
  return board;
}

void BridgeCore::publish_all_discovery() {
  publish_bridge_discovery();
  for (const auto& entry : boards_) publish_discovery(entry.first);
}

void BridgeCore::send_held_discovery() {
  if (!std::exchange(discovery_held_, false)) return;
  log("discovery sent after the earlier run's was cleared");
  publish_all_discovery();
}

void BridgeCore::publish_discovery(std::uint8_t address) {
  if (discovery_held_) return;
  for (const DiscoveryDocument& document :
       discovery_documents(topics_, settings_.discovery_form, description(address))) {
    publish(document.topic, document.payload);
  }
}

void BridgeCore::publish_bridge_discovery() {
  if (discovery_held_) return;
  for (const DiscoveryDocument& document :
       bridge_documents(topics_, settings_.discovery_form, facts())) {
    publish(document.topic, document.payload);
  }
}

std::vector<std::string> BridgeCore::found_patterns() const {
  if (!settings_.discovery) return {};
  std::vector<std::string> patterns = discovery_patterns(topics_, std::nullopt);
  for (const auto& entry : boards_) {
    for (std::string& pattern : discovery_patterns(topics_, entry.first)) {
      patterns.push_back(std::move(pattern));
    }
  }
  return patterns;
}

bool BridgeCore::clear_left_documents(const std::map<std::string, std::string>& found) {
  // Cleared before ours are published: a document published while another still holds
  // its unique ids is refused, and clearing that other one afterwards removes the
  // entities for good. Cleared, never sent again: a document cleared and published at
  // once gives its entities new ids while the old ones are still being removed.
  std::map<std::string, std::string> ours;
  for (const DiscoveryDocument& document :
       bridge_documents(topics_, settings_.discovery_form, facts())) {
    ours[document.topic] = document.payload;
  }
  for (const auto& entry : boards_) {
    for (const DiscoveryDocument& document :
         discovery_documents(topics_, settings_.discovery_form, description(entry.first))) {
      ours[document.topic] = document.payload;
    }
  }
  std::map<std::string, int> cleared;  // by whose documents they were
  for (const auto& [topic, payload] : found) {
    const auto node = discovery_node(topics_, topic);
    if (payload.empty() || !node || (node->board && !boards_.contains(*node->board))) continue;
    const std::string whose = node->board ? "board " + std::to_string(*node->board) : "bridge";
    const auto now = ours.find(topic);
    if (now == ours.end()) {
      publish(topic, "");
      ++cleared[whose];
    } else if (const auto removal = dropped_components(payload, now->second)) {
      // The same device document without some entities: named for removal first.
      publish(topic, *removal);
      ++cleared[whose];
    }
  }
  for (const auto& [whose, count] : cleared) {
    log(whose + ": " + std::to_string(count) + " discovery document" + (count == 1 ? "" : "s") +
        " of an earlier run cleared");
  }
  return !cleared.empty();
}

void BridgeCore::publish_names(std::uint8_t address) {
  const auto names = names_.relays.find(address);
  publish(topics_.board_names(address),
          board_names_json(names_.title, names == names_.relays.end()
                                             ? std::array<std::string, relay_count>{}
                                             : names->second));
}

// Everything the bridge publishes is retained: a reader that comes later sees the
// picture as it is.
void BridgeCore::publish(const std::string& topic, const std::string& payload) {
  client_.publish(topic, payload, true);
}

void BridgeCore::rule_switched(std::uint8_t address, std::uint16_t relays, const std::string& rule,
                               const std::string& why) {
  // Sent, not yet carried out: the board's report tells that.
  log(board_relays(address, relays) + ": " + rule_switch(rule) + " sent: " + why);
  recorder_.commanded(address, relays, {"rule", rule, why}, wall_now());
}

void BridgeCore::rule_sent_again(std::uint8_t address, std::uint16_t relays,
                                 const std::string& rule, const std::string& why, int, bool first) {
  if (first) {
    log(board_relays(address, relays) + ": " + rule_switch(rule) +
        " not confirmed; sent again until it holds");
  }
  // Each send renews the rule's credit for the change the board reports at last.
  recorder_.commanded(address, relays, {"rule", rule, why}, wall_now());
}

void BridgeCore::rule_held(std::uint8_t address, std::uint16_t relays, const std::string& rule,
                           int sends) {
  log(board_relays(address, relays) + ": " + rule_switch(rule) + " held after " +
      sends_text(sends));
}

void BridgeCore::rule_refused(std::uint8_t address, int relay, const std::string& rule,
                              const std::string& why) {
  log("board " + std::to_string(address) + " relay " + std::to_string(relay) + ": " + rule +
      " not switched: " + why);
  recorder_.refused(address, relay, {"rule", rule, ""}, why, wall_now());
}

void BridgeCore::event_happened(const Event& event) {
  // Not retained: a dashboard shows the history live; the log keeps it.
  client_.publish(
      topics_.prefix() + '/' + topics_.line() + '/' + std::to_string(event.address) + "/event",
      event_json(event), false);
  if (on_event) on_event(event);
}

void BridgeCore::log(const std::string& line) {
  if (log_) log_(line);
}

void BridgeCore::note(const std::string& line) {
  if (settings_.verbose) log(line);
}

BridgeCore::Board* BridgeCore::board(std::uint8_t address) {
  const auto found = boards_.find(address);
  return found == boards_.end() ? nullptr : &found->second;
}
