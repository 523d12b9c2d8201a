#include "web/web_boards.h"

#include <cstdio>

#include "panel/indicator_state.h"
#include "panel/spoken_names.h"
#include "text/json_text.h"

namespace {

// The panel's colour (red in the low byte) as CSS writes it.
std::string css_colour(Colour colour) {
  char text[8];
  std::snprintf(text, sizeof text, "#%02x%02x%02x", colour & 0xFF, (colour >> 8) & 0xFF,
                (colour >> 16) & 0xFF);
  return text;
}

}  // namespace

WebBoards::WebBoards(const BridgeTopics& topics, std::vector<std::uint8_t> addresses)
    : prefix_(topics.prefix() + '/' + topics.line() + '/'), addresses_(std::move(addresses)) {
  for (const std::uint8_t address : addresses_) boards_[address];
}

std::optional<std::uint8_t> WebBoards::published(std::string_view topic, std::string_view payload) {
  if (!topic.starts_with(prefix_)) return std::nullopt;
  topic.remove_prefix(prefix_.size());
  const std::size_t slash = topic.find('/');
  if (slash == std::string_view::npos) return std::nullopt;
  const auto address = plain_number(topic.substr(0, slash), 255);
  const auto found = address ? boards_.find(static_cast<std::uint8_t>(*address)) : boards_.end();
  if (found == boards_.end()) return std::nullopt;
  Board& board = found->second;
  const std::string_view rest = topic.substr(slash + 1);
  if (rest == "status") {
    board.online = payload == "online";
    // A board that comes back reports all 16 again: until then they are unknown.
    if (!board.online) board.opened = {};
    return found->first;
  }
  if (!rest.ends_with("/state") || (payload != "ON" && payload != "OFF")) return std::nullopt;
  const auto relay = plain_number(rest.substr(0, rest.size() - 6), relay_count);
  if (!relay || *relay < 1) return std::nullopt;
  board.opened[static_cast<std::size_t>(*relay - 1)] = payload == "ON";
  return found->first;
}

std::vector<std::uint8_t> WebBoards::names_changed(const BridgeNames& names) {
  std::vector<std::uint8_t> changed;
  const bool title_changed = names.title != title_;
  title_ = names.title;
  for (auto& [address, board] : boards_) {
    const auto found = names.relays.find(address);
    const std::array<std::string, relay_count> now =
        found == names.relays.end() ? std::array<std::string, relay_count>{} : found->second;
    if (title_changed || now != board.names) changed.push_back(address);
    board.names = now;
  }
  return changed;
}

std::string WebBoards::board_json(std::uint8_t address) const {
  const auto found = boards_.find(address);
  if (found == boards_.end()) return {};
  const Board& board = found->second;
  Json relays = Json::array();
  for (int relay = 1; relay <= relay_count; ++relay) {
    const auto& opened = board.opened[static_cast<std::size_t>(relay - 1)];
    const IndicatorState state = !board.online || !opened ? IndicatorState::Unknown
                                 : *opened                ? IndicatorState::Opened
                                                          : IndicatorState::Closed;
    const std::string caption(simplified(indicator_caption(state)));
    const std::string& name = board.names[static_cast<std::size_t>(relay - 1)];
    relays.push_back({{"relay", relay},
                      {"name", name},
                      {"state", caption},
                      {"caption", caption},
                      {"colour", css_colour(indicator_colour(state))},
                      {"label", indicator_spoken_name(relay, name, caption)}});
  }
  return json_text({{"type", "board"},
                    {"address", address},
                    {"title", title_},
                    {"online", board.online},
                    {"relays", std::move(relays)}});
}

std::string WebBoards::event_json(const std::string& text) {
  std::string json = json_text({{"type", "event"}, {"text", text}});
  events_.push_back(json);
  if (events_.size() > events_kept) events_.pop_front();
  return json;
}
