#include "ui/quit_signals.h"

// Windows ends a program with window messages, which close the window as a click does.
void quit_on_stop_signals(QObject&) {}
