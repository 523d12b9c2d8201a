#pragma once

#include <string>

#include "protocol/frame_port.h"

class FixedAddress : public AddressSource {
 public:
  explicit FixedAddress(std::string text = "1") : text(std::move(text)) {}
  std::string address_text() const override { return text; }
  std::string text;
};
