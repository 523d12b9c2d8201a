#pragma once

#include <algorithm>
#include <string>
#include <string_view>

#include "bridge/command_result.h"
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

inline CommandReply reply_to(const MqttMessage& message) {
  return {message.topic, message.payload, message.response_topic, message.correlation_data};
}
