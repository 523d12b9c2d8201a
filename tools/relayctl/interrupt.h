#pragma once

// Ctrl+C (SIGINT) and SIGTERM only raise a flag here; the watch sees it at its next
// event (a poll tick comes every 50 ms) and ends cleanly, port closed.
void catch_interrupts();
bool interrupted();
