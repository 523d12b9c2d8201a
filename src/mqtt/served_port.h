#pragma once

#include <functional>

#include "serial/serial_port.h"
#include "mqtt/line_map.h"
#include "mqtt/served_board_port.h"

// The panel's port on a line that relayboard-mqtt serves, as the line choice sees it:
// each host's event loop carries its own (the Qt one, the Win32 message loop).
class ServedPort : public SerialPort {
 public:
  // The line the next open() reaches.
  virtual void select_line(ServedLineAddress line) = 0;
  // The open line's board port (names and renames); nothing while closed.
  virtual ServedBoardPort* board() = 0;
  // Passed to each session's board port.
  std::function<void()> on_names;
  std::function<void(const ServedBoardPort::SwitchRefusal&)> on_switch_refused;
};

// Hands a host's MQTT link's events to `board`; nullptr lets go of them.
template <class Link>
void feed_board(Link& link, ServedBoardPort* board) {
  if (!board) {
    link.on_connected = {};
    link.on_message = {};
    link.on_subscribed = {};
    link.on_publish_refused = {};
    return;
  }
  link.on_connected = [board] { board->connected(); };
  link.on_message = [board](const MqttMessage& message) { board->received(message); };
  link.on_subscribed = [board](const std::string& pattern, bool granted) {
    board->subscribed(pattern, granted);
  };
  link.on_publish_refused = [board](const std::string& topic, const std::string& reason) {
    board->publish_refused(topic, reason);
  };
}
