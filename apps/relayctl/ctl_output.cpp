#include "ctl_output.h"

#include <cstdio>

#include "text/json_text.h"
#include "text/shown_text.h"

std::string utc_time_text(std::chrono::system_clock::time_point time) {
  using namespace std::chrono;
  const auto ms = floor<milliseconds>(time);
  const auto day = floor<days>(ms);
  const year_month_day date(day);
  const hh_mm_ss clock(ms - day);
  char text[32];
  std::snprintf(
      text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
      static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
      static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
      static_cast<int>(clock.seconds().count()), static_cast<int>(clock.subseconds().count()));
  return text;
}

// A message may echo the command line or a file's path, which could hold controls.
std::string error_line(std::string_view text, int exit, bool json) {
  if (!json) return "relayctl: " + shown_text(text) + '\n';
  return json_text({{"error", text}, {"exit", exit}}) + '\n';
}

std::string notice_line(std::string_view text, bool json) {
  if (!json) return "relayctl: " + shown_text(text) + '\n';
  return json_text({{"notice", text}}) + '\n';
}

std::string relay_list(RelayMask relays) {
  std::string list;
  for (int relay = 1; relay <= relay_count; ++relay) {
    if ((relays & relay_bit(relay)) == 0) continue;
    list += (list.empty() ? "" : ", ") + std::to_string(relay);
  }
  return (list.find(',') == std::string::npos ? "relay " : "relays ") + list;
}

std::string_view state_word(IndicatorState state) {
  // The indicator's own caption, without the spaces that centre it in its box.
  std::string_view caption = indicator_caption(state);
  caption.remove_prefix(caption.find_first_not_of(' '));
  return caption;
}

namespace {

IndicatorState state_of(RelayMask opened, int relay) {
  return (opened & relay_bit(relay)) != 0 ? IndicatorState::Opened : IndicatorState::Closed;
}

const std::string& name_of(const RelayNames& names, int relay) {
  return names[static_cast<std::size_t>(relay - 1)];
}

std::string padded(std::string text, std::size_t width) {
  if (text.size() < width) text.insert(0, width - text.size(), ' ');
  return text;
}

}  // namespace

std::string status_text(RelayMask opened, const RelayNames* names) {
  std::string text = names ? "relay  state   name\n" : "relay  state\n";
  for (int relay = 1; relay <= relay_count; ++relay) {
    std::string line =
        padded(std::to_string(relay), 5) + "  " + std::string(state_word(state_of(opened, relay)));
    if (names && !name_of(*names, relay).empty()) line += "  " + shown_text(name_of(*names, relay));
    text += line + '\n';
  }
  return text;
}

std::string status_json(int address, RelayMask opened, const RelayNames* names) {
  Json relays = Json::array();
  for (int relay = 1; relay <= relay_count; ++relay) {
    Json entry = {{"relay", relay}, {"state", state_word(state_of(opened, relay))}};
    if (names) entry["name"] = name_of(*names, relay);
    relays.push_back(std::move(entry));
  }
  return json_text({{"address", address}, {"relays", std::move(relays)}}) + '\n';
}

std::string names_text(const RelayNames& names) {
  std::string text;
  for (int relay = 1; relay <= relay_count; ++relay) {
    std::string line = padded(std::to_string(relay), 5);
    if (!name_of(names, relay).empty()) line += "  " + shown_text(name_of(names, relay));
    text += line + '\n';
  }
  return text;
}

std::string names_json(int address, const RelayNames& names) {
  Json list = Json::array();
  for (int relay = 1; relay <= relay_count; ++relay) {
    list.push_back({{"relay", relay}, {"name", name_of(names, relay)}});
  }
  return json_text({{"address", address}, {"names", std::move(list)}}) + '\n';
}

std::string ChangeLines::take(const std::array<IndicatorState, relay_count>& shown, bool json,
                              std::chrono::system_clock::time_point now) {
  std::string lines;
  // Formatted at the first change only: a watch asks on every poll tick.
  std::string time;
  for (int relay = 1; relay <= relay_count; ++relay) {
    const auto index = static_cast<std::size_t>(relay - 1);
    // Idle is what a closed port shows; to a script it is as unknown as Unknown.
    const auto state =
        shown[index] == IndicatorState::Idle ? IndicatorState::Unknown : shown[index];
    if (state == last_[index]) continue;
    last_[index] = state;
    if (time.empty()) time = utc_time_text(now);
    const std::string word(state_word(state));
    const std::string board = std::to_string(address_);
    if (json) {
      Json line = {{"time", time}};
      if (address_ >= 0) line["address"] = address_;
      line["relay"] = relay;
      line["state"] = word;
      lines += json_text(line) + '\n';
    } else {
      lines += time + (address_ < 0 ? "" : " board " + board) + " relay " + std::to_string(relay) +
               " " + word + '\n';
    }
  }
  return lines;
}
