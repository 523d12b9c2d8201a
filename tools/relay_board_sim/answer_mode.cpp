#include "answer_mode.h"

std::optional<AnswerMode> answer_mode_from_name(std::string_view name) {
  if (name == "normal") return AnswerMode::Normal;
  if (name == "silent") return AnswerMode::Silent;
  if (name == "bad-checksum") return AnswerMode::BadChecksum;
  if (name == "stray-byte") return AnswerMode::StrayByte;
  if (name == "late") return AnswerMode::Late;
  if (name == "flood") return AnswerMode::Flood;
  if (name == "flood-unpaced") return AnswerMode::FloodUnpaced;
  if (name == "deaf-switch") return AnswerMode::DeafSwitch;
  return std::nullopt;
}

std::vector<std::uint8_t> answer_bytes(const StatusFrame& frame, AnswerMode mode) {
  std::vector<std::uint8_t> bytes(frame.bytes.begin(), frame.bytes.end());
  switch (mode) {
    case AnswerMode::Silent:
      return {};
    case AnswerMode::BadChecksum:
      ++bytes.back();
      break;
    case AnswerMode::StrayByte:
      bytes.insert(bytes.begin(), 0x00);
      break;
    case AnswerMode::Normal:
    case AnswerMode::Late:
    case AnswerMode::Flood:
    case AnswerMode::FloodUnpaced:
    case AnswerMode::DeafSwitch:
      break;
  }
  return bytes;
}
