#pragma once

#include <string>

// Where the panel's board address comes from: the address box's text as it stands now.
class AddressSource {
 public:
  virtual ~AddressSource() = default;
  virtual std::string address_text() const = 0;
};
