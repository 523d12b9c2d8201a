#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/bridge_names.h"
#include "common/board_limits.h"
#include "mqtt/bridge_topics.h"

// The boards as the web page shows them, learnt from what the bridge publishes (a
// board's availability, each relay's state) and from the name file's names: so the page
// shows exactly what the broker's readers see, and nothing a board did not report.
class WebBoards {
 public:
  WebBoards(const BridgeTopics& topics, std::vector<std::uint8_t> addresses);

  // One of the bridge's publications; the board it changed, if any.
  std::optional<std::uint8_t> published(std::string_view topic, std::string_view payload);
  // The names now; the boards whose title or names changed.
  std::vector<std::uint8_t> names_changed(const BridgeNames& names);

  // One board for the page: {"type":"board","address":A,"title":...,"online":...,
  // "relays":[{"relay":R,"name":...,"state":"opened","caption":...,"colour":"#RRGGBB",
  // "label":...},...]}; each relay with the panel's colour and caption.
  std::string board_json(std::uint8_t address) const;
  const std::vector<std::uint8_t>& addresses() const { return addresses_; }

  // One event of the line, as relayctl log prints it, for the page's list:
  // {"type":"event","text":...}. The newest `events_kept` are kept for pages that open
  // later, which get them oldest first.
  std::string event_json(const std::string& text);
  const std::deque<std::string>& events_json() const { return events_; }
  static constexpr std::size_t events_kept = 20;

 private:
  struct Board {
    bool online = false;
    std::array<std::optional<bool>, relay_count> opened{};
    std::array<std::string, relay_count> names{};
  };

  std::string prefix_;  // P/L/
  std::vector<std::uint8_t> addresses_;
  std::string title_;
  std::map<std::uint8_t, Board> boards_;
  std::deque<std::string> events_;
};
