#pragma once

// Registers a top-level window class of the panel once: the program's icon, the arrow
// cursor and the dialog face as background; the window procedure is set per window.
void register_window_class(const wchar_t* name);
