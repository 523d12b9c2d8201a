#include "ui/byte_text_validator.h"

#include "common/board_limits.h"
#include "common/text_number.h"

QValidator::State ByteTextValidator::validate(QString& input, int&) const {
  if (input.isEmpty()) return Intermediate;
  const auto number = text_to_int16(input.toStdString());
  if (number && *number >= 0 && *number <= highest_address) return Acceptable;
  return Invalid;
}
