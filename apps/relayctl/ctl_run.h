#pragma once

#include <functional>
#include <ostream>

#include "board_session.h"
#include "ctl_messages.h"
#include "ctl_options.h"
#include "event_log/event_recorder.h"
#include "line_driver.h"
#include "loop/event_wait.h"
#include "names/name_file.h"
#include "names/rename_logic.h"

// Everything a relayctl command runs on: the name file, the one line engine of the run,
// the way to wait for the board, and where its output goes.
struct CtlContext {
  const CtlOptions& options;
  CtlMessages& messages;
  NameFile& name_file;
  RenameLogic& rename;
  LineDriver& line;
  // Where the switches and the board's answers are kept; none without an event log.
  EventRecorder* recorder;
  EventWait& wait;
  // Opens the port the command line names, with the rules beside the name file on its
  // line; false once the operator has been told why not.
  std::function<bool()> open_port;
  // Whether the operator has asked a watch to end (Ctrl+C).
  std::function<bool()> interrupted;
  // Why there is no name file to use, when the panel's rule found no folder for one.
  std::string no_names_reason;
  std::ostream& out;
  std::ostream& err;
  // Whether a long command may show its progress on err (a terminal, not a log).
  bool progress = false;
  // Who the command's switches are for, in the event log.
  SwitchSource who = {"relayctl", "", ""};
  // The line the port opened on (its device), once open_port has opened it.
  const std::string* opened_line = nullptr;
};

// Runs the command and returns relayctl's exit status.
int run_command(CtlContext& context);
