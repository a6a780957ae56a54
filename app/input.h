// Key and mouse commands: the application's window procedure, which turns messages into
// changes of RenderOptions, the held keys, the pointer, the spin and the picked point, and
// runs the immediate commands (quit, load, save, fog, resolution switch, capture burst).
#pragma once

#include "platform/win32.h"

LRESULT appWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
// The M key: reopen the output at the other resolution and renew state, console, textures.
void switchResolution();
