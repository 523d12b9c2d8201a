#pragma once

#include <string_view>

// The lines of relayctl's help that differ between systems: how a port number finds
// its device, where the names are kept by default, and what cuts a command short.
struct CtlSystemText {
  std::string_view port_option;
  std::string_view names_option;
  std::string_view cut_short;
};

const CtlSystemText& ctl_system_text();
