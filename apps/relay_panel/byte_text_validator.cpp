#include "relay_panel/byte_text_validator.h"

#include "panel/number_box_coupling.h"

QValidator::State ByteTextValidator::validate(QString& input, int&) const {
  if (input.isEmpty()) return Intermediate;
  return acceptable_box_text(input.toStdString()) ? Acceptable : Invalid;
}
