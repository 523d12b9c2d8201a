#include "common/system_error_text.h"

std::string system_error_text(const std::error_code& error) {
  // The C library's strerror text: one line, without a full stop.
  return error.message();
}
