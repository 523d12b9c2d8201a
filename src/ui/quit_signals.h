#pragma once

#include <QObject>

// Ends the panel on SIGINT, SIGTERM and SIGHUP (Ctrl+C in a terminal, a service
// manager's stop, the end of a session) the way closing its window does: every window
// is closed (a rename dialog without writing), the event loop ends, and the port with
// its lock is released on the way out. A second such signal ends the program at once,
// should the way out hang. A signal ignored when the panel starts (nohup) stays
// ignored. Nothing where the system has no such signals.
void quit_on_stop_signals(QObject& owner);
