#pragma once

#include <algorithm>
#include <string>
#include <string_view>

#include "bridge/command_result.h"
#include "line/line_engine.h"
#include "mqtt/mqtt_client.h"

// What the bridge core's source files share.

// Received text in a log line: one line, control characters shown as '?', cut short.
inline std::string printable(std::string_view text) {
  constexpr std::size_t longest = 120;
  std::string out(text.substr(0, longest));
  std::replace_if(
      out.begin(), out.end(),
      [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }, '?');
  if (text.size() > longest) out += "...";
  return out;
}

// Why a command, a pulse's end or a timetable's run did not go out, for the log.
inline std::string refusal_text(const SwitchRefusal& refusal) {
  switch (refusal.why) {
    case SwitchRefusal::Why::line_not_open:
      return "the serial line is not open";
    case SwitchRefusal::Why::device_lost:
      return "the serial line is lost";
    case SwitchRefusal::Why::against_rules:
      break;
  }
  return refusal.reason;
}

inline CommandReply reply_to(const MqttMessage& message) {
  return {message.topic, message.payload, message.response_topic, message.correlation_data};
}
