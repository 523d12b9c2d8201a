#pragma once

#include <functional>

// Makes the program's QCoreApplication, once: the serial port and the timers need it.
void start_qt();

// Runs a real Qt event loop, as the panel does, for a while or until `done` holds. The
// default deadline is generous: on a loaded machine the loop may fall far behind.
void run_events_for(int ms);
bool wait_until(const std::function<bool()>& done, int timeout_ms = 15000);
