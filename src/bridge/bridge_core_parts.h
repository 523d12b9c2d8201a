#pragma once

#include <algorithm>
#include <chrono>
#include <string>
#include <string_view>

#include "bridge/command_result.h"
#include "event_log/event.h"
#include "line/board_line.h"
#include "mqtt/mqtt_client.h"
#include "text/shown_text.h"

// What the bridge core's source files share.

// Received text in a log line: shown as every log line shows outside text, cut short
// where a character begins.
inline std::string printable(std::string_view text) {
  std::size_t cut = 120;
  if (text.size() <= cut) return shown_text(text);
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return shown_text(text.substr(0, cut)) + "...";
}

// An event's time: the wall clock now, whatever a timetable is told it is.
inline Event::Time wall_now() {
  return std::chrono::time_point_cast<std::chrono::milliseconds>(std::chrono::system_clock::now());
}

inline CommandReply reply_to(const MqttMessage& message) {
  return {message.topic, message.payload, message.response_topic, message.correlation_data};
}
