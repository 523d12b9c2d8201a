#pragma once

#include <functional>

// Makes the program's QCoreApplication, once: the serial port and the timers need it.
void start_qt();

// Runs the real Qt event loop, as the panel does, until `done` holds or the deadline
// passes; whether `done` holds. The default deadline is generous: on a loaded machine the
// loop may fall far behind.
bool wait_until(const std::function<bool()>& done, int timeout_ms = 15000);
