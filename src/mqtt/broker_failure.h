#pragma once

#include <string>

// Why the broker could not be reached, from the MQTT link's log line "broker H:P not
// reached (why); trying again in 1 s": the operator needs the why.
inline std::string broker_failure(const std::string& log_line) {
  const auto open = log_line.find('(');
  const auto close = log_line.rfind(')');
  return open != std::string::npos && close > open ? log_line.substr(open + 1, close - open - 1)
                                                   : log_line;
}
