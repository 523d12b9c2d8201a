#pragma once

#include <windows.h>

// A click as a button takes it, for a static label that reports clicks: the left button
// pressed and then released over the label. Sliding off before letting go is no click,
// so it renames nothing. The label reports STN_CLICKED to its parent on the release.
void take_clicks_as_buttons_do(HWND label);
