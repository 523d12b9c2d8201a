#pragma once

// What relayctl's exit status tells a script.
enum class ExitCode : int {
  Done = 0,
  Usage = 1,          // a bad command line or input, a name not stored or names not read
  PortNotOpened = 2,  // the port could not be opened
  NoAnswer = 3,       // no valid answer from the board within the timeout, retries included
  NotReached = 4,     // a relay did not reach the state asked for
  Interrupted = 5,    // a signal cut the command short: a pulse's relays are back, verified
  MayBeLeftOn = 6,    // a pulse's end was never confirmed: its relays may still be switched
};

constexpr int exit_status(ExitCode code) {
  return static_cast<int>(code);
}
