#include "ctl_command_help.h"

#include <algorithm>

namespace {

// The options that several commands share, as the help lists them.
constexpr std::string_view address = "  --address A     the board address, 0 to 255 (default 1)\n";
constexpr std::string_view addresses =
    "  --address A     the board address, 0 to 255 (default 1), or several: 1,3,5-7\n";
constexpr std::string_view names = "  --names FILE    the name file (default: the panel's)\n";
constexpr std::string_view json = "  --json          print JSON, errors too\n";
constexpr std::string_view timeout =
    "  --timeout MS    how long to wait for each answer (default 200)\n";
constexpr std::string_view any_line =
    "\nLINE is --port N or --device PATH, or --broker URL --line NAME for a line that\n"
    "relayboard-mqtt serves (relayctl --help tells each).\n";
constexpr std::string_view relays =
    "\nR is a relay number 1 to 16, a range such as 3-6, all, or a relay's name.\n";

struct CommandHelp {
  CtlCommand command;
  std::string_view synopsis;  // after "relayctl "
  std::string_view what;
  std::string_view options[5];  // its options, a line each; the rest empty
  std::string_view notes;       // after the options: what LINE and R are
  std::string_view example;
};

const CommandHelp helps[] = {
    {CtlCommand::Status,
     "[LINE] [--address A] [--json] [--timeout MS] status",
     "Prints the 16 relays' states and names; with several boards a line per board.\n",
     {addresses, json, timeout},
     any_line,
     "relayctl --port 1 status"},
    {CtlCommand::Open,
     "[LINE] [--address A] [--json] [--timeout MS] open R...",
     "Opens the relays: nothing is sent for one already opened, and a final status\n"
     "query checks the result.\n",
     {address, json, timeout},
     any_line,
     "relayctl open 3-6 Pump"},
    {CtlCommand::Close,
     "[LINE] [--address A] [--json] [--timeout MS] close R...",
     "Closes the relays: nothing is sent for one already closed, and a final status\n"
     "query checks the result.\n",
     {address, json, timeout},
     any_line,
     "relayctl close all"},
    {CtlCommand::Pulse,
     "[LINE] [--address A] [--json] [--timeout MS] [--inverse]\n                pulse R DURATION",
     "Opens the relay, waits DURATION (500ms, 1.5s, 2m, 1h; up to 24h) and closes it\n"
     "again; Ctrl+C ends the wait early and still closes it.\n",
     {address, json, timeout, "  --inverse       close, wait, open\n"},
     any_line,
     "relayctl pulse 5 500ms"},
    {CtlCommand::Watch,
     "[LINE] [--address A] [--json] [--timeout MS] watch",
     "Polls the board every 50 ms and prints each relay's state, then each change, each\n"
     "line headed by its UTC time, until Ctrl+C (exit status 0).\n",
     {addresses, json, timeout},
     any_line,
     "relayctl --json watch"},
    {CtlCommand::Names,
     "[LINE] [--address A] [--names FILE] [--json] names",
     "Prints the 16 names of the address from the name file.\n",
     {address, names, json},
     any_line,
     "relayctl --address 2 names"},
    {CtlCommand::Rename,
     "[LINE] [--address A] [--names FILE] [--json] rename R TEXT",
     "Stores TEXT (UTF-8) as the relay's name, as the panel's rename dialog does; the\n"
     "name file is created when there is none yet.\n",
     {address, names, json},
     any_line,
     "relayctl rename 3 Heater"},
    {CtlCommand::Scan,
     "[--port N | --device PATH] [--json] [--timeout MS]\n                scan [--from A --to B]",
     "Prints the addresses at which a board answers a status query, one a line; a\n"
     "whole line takes about 6.5 s.\n",
     {json, "  --timeout MS    wait that long for each address (default 25)\n",
      "  --from A        the first address asked (default 0)\n",
      "  --to B          the last address asked (default 255)\n"},
     "",
     "relayctl --port 1 scan --from 1 --to 10"},
    {CtlCommand::Lines,
     "--broker URL [--prefix TOPIC] [--json] lines",
     "Prints the lines and boards that the broker knows from the bridges' topics.\n",
     {"  --prefix TOPIC  the bridges' topic prefix (default relayboard)\n", json},
     "",
     "relayctl --broker mqtt://pi.local lines"},
    {CtlCommand::Log,
     "[--names FILE] [--since TIME] [--relay A[/R]] [--json | --csv] log",
     "Prints this machine's event log: each switch with its time, board, relay, states\n"
     "and who made it, boards lost and back, refused commands.\n",
     {names,
      "  --since TIME    from today, yesterday, 2026-12-07, \"2026-12-07 03:00\", 90m, 2h, 3d\n",
      "  --relay A[/R]   one board, or one relay of it\n", json,
      "  --csv           print CSV (times in UTC)\n"},
     "",
     "relayctl --since 2h --relay 1/5 log"},
    {CtlCommand::Schedule,
     "[--json] schedule FILE\n       relayctl --broker URL --line NAME [--json] schedule",
     "Prints each timetable entry's next run in local time: computed from the bridge's\n"
     "configuration file FILE, or as the bridge serving the line publishes it.\n",
     {json},
     "",
     "relayctl schedule /etc/relayboard-mqtt.conf"},
};

}  // namespace

std::string ctl_command_usage(CtlCommand command) {
  const CommandHelp& help =
      *std::find_if(std::begin(helps), std::end(helps),
                    [&](const CommandHelp& h) { return h.command == command; });
  std::string text = "Usage: relayctl " + std::string(help.synopsis) + "\n" +
                     std::string(help.what) + "\nOptions:\n";
  for (const std::string_view option : help.options) text += option;  // an empty one adds nothing
  const bool takes_relays = command == CtlCommand::Open || command == CtlCommand::Close ||
                            command == CtlCommand::Pulse || command == CtlCommand::Rename;
  text += help.notes;
  if (takes_relays) text += relays;
  return text + "\nExample:\n  " + std::string(help.example) + "\n";
}
