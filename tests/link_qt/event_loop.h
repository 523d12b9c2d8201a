#pragma once

#include <functional>

// Makes the test program's QCoreApplication, once; Qt objects need it before they are
// made.
void start_qt();
// Runs the Qt event loop until `done` holds or
// `timeout_ms` have passed; returns whether it holds.
bool wait_until(const std::function<bool()>& done, int timeout_ms);
// Runs the event loop for a while.
void run_events_for(int ms);
