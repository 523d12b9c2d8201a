// The bridge's timetable: its runs as switches on the line, and its entries paused and
// resumed over MQTT.
#include <algorithm>

#include "bridge/bridge_core.h"
#include "bridge/bridge_core_parts.h"
#include "bridge/json_payloads.h"
#include "common/address_list.h"
#include "schedule/local_clock.h"

namespace {

std::string run_text(const TimetableEntry& entry) {
  std::vector<std::uint8_t> relays;
  for (int relay = 1; relay <= relay_count; ++relay) {
    if (entry.relays & (1u << (relay - 1))) relays.push_back(static_cast<std::uint8_t>(relay));
  }
  const std::string what = "board " + std::to_string(entry.address) +
                           (relays.size() == relay_count ? " all"
                            : relays.size() == 1         ? " relay "
                                                         : " relays ") +
                           (relays.size() == relay_count ? "" : address_list_text(relays));
  switch (entry.action) {
    case TimetableEntry::Action::on:
      return what + " on";
    case TimetableEntry::Action::off:
      return what + " off";
    case TimetableEntry::Action::pulse:
      break;
  }
  return what + " pulse " + pulse_text(entry.pulse_length);
}

// "3 runs since 2026-06-01 08:00 +02:00, the bridge was not running".
std::string missed_text(const Timetable::Missed& missed) {
  std::string text =
      missed.runs == 1 ? "the run at " : std::to_string(missed.runs) + " runs since ";
  text += local_minute_text(missed.first);
  switch (missed.why) {
    case Timetable::Missed::Why::paused:
      return text + ", paused";
    case Timetable::Missed::Why::not_running:
      return text + ", the bridge was not running";
    case Timetable::Missed::Why::clock_jumped:
      return text + ", the clock jumped ahead or the machine slept";
    case Timetable::Missed::Why::late:
      break;
  }
  return text + ", the bridge was held up";
}

}  // namespace

std::optional<std::chrono::system_clock::time_point> BridgeCore::run_timetable(
    std::chrono::system_clock::time_point wall, Clock::time_point now) {
  if (!timetable_started_) timetable_started_ = now;
  const bool unanswered = std::any_of(boards_.begin(), boards_.end(),
                                      [](const auto& entry) { return !entry.second.opened; });
  if (unanswered && !line_lost_ && now - *timetable_started_ < first_answers) {
    return wall + std::chrono::seconds(1);
  }
  // The wall clock may have jumped since the last look; the steady one says how long it was.
  const auto lived = now - timetable_looked_.value_or(*timetable_started_);
  timetable_looked_ = now;
  const Timetable::Due due = timetable_.due(wall, lived);
  for (const auto& missed : due.missed) {
    if (missed.caught_up) continue;
    run_not_made(timetable_.entries()[missed.entry], "missed", missed_text(missed),
                 Event::Kind::missed);
  }
  for (const std::size_t entry : due.run) {
    const auto caught_up = std::find_if(due.missed.begin(), due.missed.end(), [&](const auto& m) {
      return m.entry == entry && m.caught_up;
    });
    run_entry(timetable_.entries()[entry], now,
              caught_up == due.missed.end() ? std::nullopt : std::optional(*caught_up));
  }
  publish_timetable();
  return timetable_.next_due();
}

void BridgeCore::run_entry(const TimetableEntry& entry, Clock::time_point now,
                           const std::optional<Timetable::Missed>& caught_up) {
  const SourceScope scope(source_, {"schedule", entry.name, ""});
  Board* b = board(entry.address);
  // Like a command, a run is not kept for a board that comes back later.
  if (!b || !b->opened) {
    return run_not_made(entry, "not sent",
                        line_lost_ ? refusal_text(SwitchRefusal::device_lost())
                                   : "board " + std::to_string(entry.address) + " does not answer",
                        Event::Kind::missed);
  }
  // The entry's relays are one command: judged whole, nothing of it goes when refused.
  const auto refusal = entry.action == TimetableEntry::Action::pulse
                           ? start_pulses(entry.address, entry.relays, entry.pulse_length, now)
                           : set_relays(entry.address, entry.relays,
                                        entry.action == TimetableEntry::Action::on, now);
  if (refusal) {
    return run_not_made(entry, "not sent", refusal_text(*refusal),
                        refusal->why == SwitchRefusal::Why::against_rules ? Event::Kind::refused
                                                                          : Event::Kind::missed);
  }
  log("schedule \"" + printable(entry.name) + "\": " + run_text(entry) +
      (caught_up ? " (caught up: " + missed_text(*caught_up) + ")" : ""));
}

void BridgeCore::run_not_made(const TimetableEntry& entry, std::string_view verb,
                              const std::string& why, Event::Kind kind) {
  log("schedule \"" + printable(entry.name) + "\": " + run_text(entry) + ": " + std::string(verb) +
      ": " + why);
  const SwitchSource by{"schedule", entry.name, ""};
  if (entry.relays == 0xFFFF) return recorder_.refused(entry.address, 0, by, why, wall_now(), kind);
  for (int relay = 1; relay <= relay_count; ++relay) {
    if (entry.relays & (1u << (relay - 1))) {
      recorder_.refused(entry.address, relay, by, why, wall_now(), kind);
    }
  }
}

void BridgeCore::schedule_command(std::size_t entry, const MqttMessage& message) {
  // An empty message removes a retained one; a retained one would pause again at every start.
  if (message.payload.empty()) return;
  const auto refused = [&](const std::string& why) {
    log("command ignored on " + printable(message.topic) + ": " + why);
    answer(reply_to(message), std::nullopt, CommandOutcome::refused, why);
  };
  if (message.retained) return refused("it was sent retained");
  if (entry > timetable_.entries().size()) {
    return refused("the timetable has no entry " + std::to_string(entry));
  }
  if (message.payload != "ON" && message.payload != "OFF") {
    return refused('"' + printable(message.payload) + "\" is not ON or OFF");
  }
  const std::string& name = timetable_.entries()[entry - 1].name;
  const bool pause = message.payload == "OFF";
  timetable_.set_paused(name, pause);
  log("schedule \"" + printable(name) + "\" " + (pause ? "paused" : "resumed"));
  publish_schedule_state(entry);
  publish_timetable();
  answer(reply_to(message), std::nullopt, CommandOutcome::done);
}

void BridgeCore::publish_schedule_state(std::size_t entry) {
  publish(topics_.schedule_state(entry), timetable_.paused(entry - 1) ? "OFF" : "ON");
}

ScheduleMemory BridgeCore::schedule_memory() const {
  const Timetable::Span settled = timetable_.settled();
  ScheduleMemory memory{settled.to, {}, settled.from, timetable_.other_spans()};
  for (std::size_t entry = 0; entry < timetable_.entries().size(); ++entry) {
    if (timetable_.paused(entry)) memory.paused.push_back(timetable_.entries()[entry].name);
  }
  return memory;
}

void BridgeCore::publish_timetable(bool always) {
  if (timetable_.entries().empty()) return;
  std::string json = timetable_json(timetable_);
  if (!always && json == timetable_published_) return;
  publish(topics_.timetable(), json);
  timetable_published_ = std::move(json);
}

bool BridgeCore::stale_schedule(const MqttMessage& message) {
  const auto entry = topics_.schedule_entry(message.topic, "state");
  if (!entry && message.topic != topics_.timetable()) return false;
  // Our own come back live (or empty, once cleared); only an earlier run's is retained.
  const std::size_t count = timetable_.entries().size();
  if (message.retained && !message.payload.empty() && (entry ? *entry > count : count == 0)) {
    log("timetable topic " + printable(message.topic) + " cleared: no such entry any more");
    publish(message.topic, "");
  }
  return true;
}
