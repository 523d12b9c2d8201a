#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <variant>

#include "line/line_rules.h"

// The rules file beside the name file, as the operator writes it:
//
//   # a reversing motor on relays 1 and 2, a heater on 5
//   [address 1]
//   interlock = 1,2
//   max_on = 5: 30m
//   on_start = off            # or keep, or "3,4 on": those on, the others off
//   on_stop = off             # or keep
//
// A section per board; interlock may be given several times (each a group of two or
// more relays, "1,2" or "3-5"), max_on once per relay (a duration as a pulse takes it),
// on_start and on_stop once. The grammar is the settings files' (common/settings_text.h),
// with comments after a value.
inline constexpr std::string_view rules_file_name = "rules.conf";

// The rules of `text`, or the first fault as "<file_name>:<line>: why".
std::variant<LineRules, std::string> parse_rules(std::string_view text,
                                                 const std::string& file_name);
// The folder's rules file; no rules when there is none.
std::variant<LineRules, std::string> read_rules(const std::filesystem::path& folder);
