#pragma once

#include <string_view>

// The lines of relayctl's help that differ between systems: how a port number finds
// its device, where the names are kept by default, what cuts a command short and where
// the client configuration file is by default.
struct CtlSystemText {
  std::string_view port_option;
  std::string_view names_option;
  std::string_view cut_short;
  std::string_view client_config;
};

const CtlSystemText& ctl_system_text();
