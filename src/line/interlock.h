#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "protocol/board_command.h"
#include "line/line_rules.h"

// What a command leaves on at a board whose relays `opened` are on now.
std::uint16_t opened_after(BoardCommand command, std::uint8_t data1, std::uint8_t data2,
                           std::uint16_t opened);

// Why the command must not go to board `address`, if it must not: it would leave two
// relays of one interlocked group on, or it switches a relay on whose partners' states
// are not known (`opened` is nothing then). A command that switches nothing on is
// never refused: switching off is always safe.
std::optional<std::string> interlock_refusal(const LineRules& rules, std::uint8_t address,
                                             std::optional<std::uint16_t> opened,
                                             BoardCommand command, std::uint8_t data1,
                                             std::uint8_t data2);
// The same for what one or more switches do together: they switch `switched_on` on, and
// leave `after` on (which says nothing while `opened` is unknown).
std::optional<std::string> interlock_refusal(const LineRules& rules, std::uint8_t address,
                                             std::optional<std::uint16_t> opened,
                                             std::uint16_t switched_on, std::uint16_t after);

// "relay 1", "relays 1 and 2", "relays 1, 2 and 3": how a refusal names relays.
std::string relays_text(std::uint16_t mask);
