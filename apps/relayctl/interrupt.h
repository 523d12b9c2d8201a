#pragma once

// SIGINT (Ctrl+C), SIGTERM and SIGHUP only raise a flag and wake the event loop at once,
// whatever it waits for; the command then ends in its own way: a watch stops, a pulse
// drives its relays back, an open or close that has switched goes on to verify. Only
// SIGKILL ends relayctl in the middle. A signal ignored when relayctl starts (nohup)
// stays ignored.
void catch_interrupts();
bool interrupted();
