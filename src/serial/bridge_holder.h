#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

// A port held by relayboard-mqtt is no busy port to wait for: the bridge serves its line
// to every client of the broker, and the operator is told which line to open instead.

// The line the bridge serves, from the words of its command line after the program's
// name: --line, else the line key of its --config file (read with `read_config`, which
// gives nothing for a file it cannot read), else the bridge's own default from --device
// or --port. Empty when that cannot be told (a file this user may not read) or the name
// is no line name.
std::string bridge_line_name(
    const std::vector<std::string>& words,
    const std::function<std::optional<std::string>(const std::string&)>& read_config);

// When process `pid` is relayboard-mqtt: the line it serves (empty when its command line
// does not tell). Nothing for any other program. `proc` is the process table's folder.
std::optional<std::string> served_line(long long pid, const std::string& proc = "/proc");

// "the port is served by relayboard-mqtt as line L: open it as a served line, ..."
std::string served_port_text(const std::string& line);
