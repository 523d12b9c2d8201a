#include "event_log/event_json.h"

#include <cstdio>

#include "text/json_text.h"

namespace {

const char* state_text(bool on) {
  return on ? "opened" : "closed";
}

std::string csv_field(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + '"';
}

std::string optional_state(std::optional<bool> state) {
  return state ? state_text(*state) : "";
}

}  // namespace

std::string utc_time_text(Event::Time at) {
  using namespace std::chrono;
  const auto day = floor<days>(at);
  const year_month_day date{day};
  const hh_mm_ss<milliseconds> time{at - day};
  char text[48];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ",
                static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                static_cast<unsigned>(date.day()), static_cast<int>(time.hours().count()),
                static_cast<int>(time.minutes().count()), static_cast<int>(time.seconds().count()),
                static_cast<int>(time.subseconds().count()));
  return text;
}

std::string event_json(const Event& event) {
  Json json = {{"time", utc_time_text(event.at)},
               {"event", kind_text(event.kind)},
               {"line", event.line},
               {"address", event.address},
               {"relay", event.relay}};
  if (event.was_on) json["was"] = state_text(*event.was_on);
  if (event.now_on) json["now"] = state_text(*event.now_on);
  json["source"] = event.source;
  json["who"] = event.who;
  json["reason"] = event.reason;
  return json_text(json);
}

std::string event_csv_header() {
  return "time,event,line,address,relay,was,now,source,who,reason";
}

std::string event_csv(const Event& event) {
  return utc_time_text(event.at) + "," + kind_text(event.kind) + "," + csv_field(event.line) + "," +
         std::to_string(event.address) + "," + std::to_string(event.relay) + "," +
         optional_state(event.was_on) + "," + optional_state(event.now_on) + "," +
         csv_field(event.source) + "," + csv_field(event.who) + "," + csv_field(event.reason);
}
