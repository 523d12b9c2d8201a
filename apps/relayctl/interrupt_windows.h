#pragma once

// Called by main once the command is over and its output written: a console window
// that is being closed waits for this before Windows ends the process.
void interrupts_finished();

// What the console's handler does with an event (Ctrl+C, Ctrl+Break, the window's
// close): whether it was taken. Raises the flag and wakes the thread that called
// catch_interrupts; a close returns only once interrupts_finished was called, or
// shortly before Windows would end the process anyway.
bool handle_console_event(unsigned long event);
