#pragma once

#include <cstdint>
#include <vector>

#include "ctl_run.h"

// The commands that poll boards on one line, or look for them: on an open port, on the
// line engine.

// The boards that the run's line engine polls by itself for the command: those of a
// status or watch of several boards, the one board of a watch; none for the commands
// that send their own requests.
std::vector<std::uint8_t> polled_addresses(const CtlOptions& options);

// One status query per address from --from to --to, each waiting --timeout; prints the
// addresses that answered. Exit 3 when none did, 5 when cut short (the addresses found
// until then are printed).
int scan_boards(CtlContext& context);

// status and watch for the boards of --address 1,3,5-7, polled in turn by the line
// engine: a line (or JSON object) per board; a change line names its board.
int bus_status(CtlContext& context);
// watch of those boards, or of the one board of --address A with lines that do not
// name it.
int bus_watch(CtlContext& context);
