#include "board_model.h"

#include "protocol/board_command.h"

StatusFrame BoardModel::handle(const CommandFrame& frame) {
  const auto relay_bit = [&]() -> std::uint16_t {
    const int relay = frame.data2();
    return relay >= 1 && relay <= 16 ? static_cast<std::uint16_t>(1u << (relay - 1)) : 0;
  };
  switch (static_cast<BoardCommand>(frame.command())) {
    case BoardCommand::CloseRelay:
      opened_mask_ = static_cast<std::uint16_t>(opened_mask_ & ~relay_bit());
      break;
    case BoardCommand::OpenRelay:
      opened_mask_ = static_cast<std::uint16_t>(opened_mask_ | relay_bit());
      break;
    case BoardCommand::SetAllRelays:
      opened_mask_ = static_cast<std::uint16_t>(frame.data1() << 8 | frame.data2());
      break;
    case BoardCommand::QueryStatus:
    default:
      break;
  }
  return StatusFrame::build(opened_mask_, address_);
}
