#include "names/rename_logic.h"

#include "common/text_number.h"
#include "names/name_file_layout.h"

std::optional<std::string> RenameLogic::Form_Load() {
  // Text that is no 16-bit number counts as out of range; there is no lower bound on
  // the address beyond what the conversion refuses.
  const auto address = text_to_int16(add);
  const auto relay = text_to_int16(xianlu);
  if (!address || !relay) return std::nullopt;
  if (*address > highest_address || *relay < 1 || *relay > relay_count) return std::nullopt;
  return module2_.read_ini(name_file_, address_section(add), relay_key(xianlu));
}

void RenameLogic::Command_ok_Click(const std::string& text) {
  module2_.write_ini(name_file_, address_section(add), relay_key(xianlu), text);
}
