#pragma once

#include <QObject>
#include <functional>

// Turns SIGTERM (a service manager's stop) and SIGINT (Ctrl+C) into a call of `stop` on
// the event loop, outside the signal handler, so that the daemon can say goodbye to the
// broker and close its line. A second such signal ends the program at once, should the
// way out hang. A signal ignored when the daemon starts stays ignored. SIGPIPE is
// ignored: a log reader that went away must not end the daemon.
void call_on_stop_signals(QObject& owner, std::function<void()> stop);
