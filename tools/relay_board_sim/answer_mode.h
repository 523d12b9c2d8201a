#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "protocol/status_frame.h"

// How the virtual board misbehaves, for tests and demonstrations.
enum class AnswerMode {
  Normal,        // answers every frame for its address
  Silent,        // carries out commands but never answers
  BadChecksum,   // answers with the checksum off by one
  StrayByte,     // puts one 00 byte before every answer
  Late,          // answers after a delay
  Flood,         // sends its status back to back at the line's speed, asked or not
  FloodUnpaced,  // sends its status back to back as fast as the terminal takes it
  DeafSwitch,    // answers every frame but carries out no switch command
};

std::optional<AnswerMode> answer_mode_from_name(std::string_view name);

// The bytes the board puts on the line for an answer; empty when it stays silent.
std::vector<std::uint8_t> answer_bytes(const StatusFrame& frame, AnswerMode mode);
