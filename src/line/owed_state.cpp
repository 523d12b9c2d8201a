#include "line/owed_state.h"

#include <charconv>
#include <optional>

#include "settings/file_trust.h"
#include "settings/settings_files.h"
#include "settings/settings_text.h"

namespace {

using Milliseconds = std::chrono::milliseconds;

// 9999-12-31T23:59:59.999Z: well inside the clocks' range.
constexpr long long latest_ms = 253402300799999;

std::string wall_ms(const ClockAnchor& anchor, std::chrono::steady_clock::time_point at) {
  const auto ms = std::chrono::floor<Milliseconds>(anchor.wall(at)).time_since_epoch().count();
  return std::to_string(ms);
}

// The value's blank-separated words.
std::vector<std::string_view> words(std::string_view value) {
  std::vector<std::string_view> out;
  for (std::size_t at = 0; at < value.size();) {
    const auto start = value.find_first_not_of(" \t", at);
    if (start == std::string_view::npos) break;
    const auto end = std::min(value.find_first_of(" \t", start), value.size());
    out.push_back(value.substr(start, end - start));
    at = end;
  }
  return out;
}

std::optional<long long> number(std::string_view word, long long lowest, long long highest) {
  long long value = 0;
  const auto parsed = std::from_chars(word.data(), word.data() + word.size(), value);
  if (parsed.ec != std::errc() || parsed.ptr != word.data() + word.size() || value < lowest ||
      value > highest) {
    return std::nullopt;
  }
  return value;
}

}  // namespace

std::string owed_state_file_name(std::string_view line) {
  std::string name = "owed-";
  for (const char c : line) {
    const bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '-' || c == '_';
    name += kept ? c : '_';
  }
  return name + ".txt";
}

std::string owed_state_text(const OwedState& owed, const ClockAnchor& anchor) {
  std::string text = "# what the line's owner owes its boards: rewritten as it changes\n";
  for (const OwedState::On& on : owed.on) {
    text += "on = " + std::to_string(on.address) + ' ' + std::to_string(on.relay) + ' ' +
            wall_ms(anchor, on.since) + '\n';
  }
  for (const OwedState::PulseEnd& pulse : owed.pulses) {
    text += "pulse = " + std::to_string(pulse.address) + ' ' + std::to_string(pulse.relay) +
            (pulse.back_opened ? " on " : " off ") + wall_ms(anchor, pulse.started) + ' ' +
            wall_ms(anchor, pulse.due) + '\n';
  }
  return text;
}

std::variant<OwedState, std::string> parse_owed_state(std::string_view text,
                                                      std::string_view file_name,
                                                      const ClockAnchor& anchor) {
  auto read = settings_lines(
      text, file_name,
      {.trailing_comments = false, .skip_other_lines = true, .repeatable = {"on", "pulse"}});
  if (auto* why = std::get_if<std::string>(&read)) return std::move(*why);
  const auto steady = [&anchor](long long ms) {
    return anchor.steady(std::chrono::system_clock::time_point(Milliseconds(ms)));
  };
  OwedState owed;
  for (const SettingsLine& line : std::get<std::vector<SettingsLine>>(read)) {
    const bool pulse = line.key == "pulse";
    if (!pulse && line.key != "on") continue;
    const auto fault = [&](const char* why) {
      return settings_where(file_name, line.number) + std::string(line.key) + " = " +
             std::string(line.value) + ": " + why;
    };
    const auto parts = words(line.value);
    if (parts.size() != (pulse ? 5u : 3u)) {
      return fault(pulse ? "not \"board relay on|off started due\"" : "not \"board relay since\"");
    }
    const auto address = number(parts[0], 0, 255);
    const auto relay = number(parts[1], 1, 16);
    if (!address) return fault("no board 0 to 255");
    if (!relay) return fault("no relay 1 to 16");
    const auto first = number(parts[pulse ? 3 : 2], 0, latest_ms);
    if (!first) return fault("no time between 1970 and 9999 in milliseconds");
    if (!pulse) {
      owed.on.push_back(
          {static_cast<std::uint8_t>(*address), static_cast<int>(*relay), steady(*first)});
      continue;
    }
    if (parts[2] != "on" && parts[2] != "off") return fault("the state to go back to is no on|off");
    const auto due = number(parts[4], 0, latest_ms);
    if (!due) return fault("no time between 1970 and 9999 in milliseconds");
    if (*due < *first) return fault("due before it started");
    owed.pulses.push_back({static_cast<std::uint8_t>(*address), static_cast<int>(*relay),
                           parts[2] == "on", steady(*first), steady(*due)});
  }
  return owed;
}

std::variant<std::monostate, OwedFile, std::string> read_owed_file(
    const std::filesystem::path& path, const ClockAnchor& anchor) {
  constexpr std::string_view afresh = "; what the line owed starts afresh";
  TrustedText read = read_trusted_file(path, settings_file_byte_limit);
  if (read.absent) return std::monostate{};
  if (!read.text) return read.reason + std::string(afresh);
  auto owed = parse_owed_state(*read.text, path.string(), anchor);
  if (auto* fault = std::get_if<std::string>(&owed)) return *fault + std::string(afresh);
  return OwedFile{std::get<OwedState>(std::move(owed)), std::move(*read.text)};
}
