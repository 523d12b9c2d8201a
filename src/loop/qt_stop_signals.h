#pragma once

#include <QObject>
#include <functional>

// Turns SIGINT (Ctrl+C in a terminal), SIGTERM (a service manager's stop) and SIGHUP (the
// end of a session, a terminal closed) into a call of `stop` on the event loop, outside
// the signal handler, so that a program leaves as its own way out says. A second such
// signal ends the program at once, should that way out hang. A signal ignored when the
// program starts (nohup) stays ignored. Nothing where the system has no such signals.
void call_on_stop_signals(QObject& owner, std::function<void()> stop);
