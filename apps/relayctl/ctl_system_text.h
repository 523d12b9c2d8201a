#pragma once

#include <string_view>

// The lines of relayctl's help that differ between systems: how a port number finds
// its device, where the names are kept by default, what cuts a command short, where the
// client configuration file is by default and why mqtts:// cannot be used (empty where
// it can).
struct CtlSystemText {
  std::string_view port_option;
  std::string_view names_option;
  std::string_view cut_short;
  std::string_view client_config;
  std::string_view no_tls;
};

const CtlSystemText& ctl_system_text();
