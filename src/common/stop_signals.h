#pragma once

// SIGINT (Ctrl+C in a terminal), SIGTERM (a service manager's stop) and SIGHUP (the end of
// a session, a terminal closed), caught once for the whole program so that it leaves in
// its own way: a pulse drives its relay back, the bridge says it is offline. The handler
// only raises a flag and writes a byte to a pipe, which is all a handler may safely do;
// the host's event loop watches the pipe and acts outside the handler. A signal ignored
// when the program starts (nohup, a background job) stays ignored. Plain POSIX, so that
// any host can watch the descriptor in the loop it has; nothing on a system without such
// signals (stop_signals_windows.cpp: Windows ends a program with window messages or
// console events, which each host takes in its own way).

// What a second stop signal does: end the program at once, should its way out hang (the
// panel, the bridge), or only raise the flag again (relayctl, whose way out verifies the
// relays it switched back and must not be cut short).
enum class SecondStopSignal { ends_program, is_caught };

// Installs the handler; a second call changes nothing. The descriptor that becomes
// readable at a signal, or -1 when there is none.
int catch_stop_signals(SecondStopSignal second);

// Whether a stop signal came.
bool stop_signal_caught();

// Reads what the handler wrote, so that the descriptor sleeps again.
void drain_stop_signal_pipe();
