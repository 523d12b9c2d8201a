#pragma once

// Called by main once the command is over and its output written: a console window
// that is being closed waits for this before Windows ends the process.
void interrupts_finished();
