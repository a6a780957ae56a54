// The output: the application window, the rasterizer context open on it, the mode it is open
// at and its size, the mode start-up opened and the alternate mode M switches to. Verbs: open
// (the asked-for mode or the fallbacks), switch, close, and the fixed render state that
// belongs to an open output. Sizes come from the rasterizer (vxResolutionSize); the window
// itself is made and destroyed by the program (createAppWindow in device.h).
#pragma once

#include "platform/win32.h"
#include "vexa/vexa.h"

// The process's exit code when the output cannot go on: no memory for the fog table, or a
// switch whose mode does not open.
constexpr int EXIT_FATAL = static_cast<int>(0xDEADBEEF);
// The modes tried in turn when no mode was asked for (from the second with one texture unit).
constexpr int OUTPUT_FALLBACK_MODES[] = {VX_RES_1024x768, VX_RES_800x600, VX_RES_640x480};
// The mode M switches to from the mode start-up opened.
constexpr int OUTPUT_ALTERNATE_MODE = VX_RES_640x480;

// All zero is the default: no mode asked for, the device chooses the refresh, nothing open.
struct OutputState {
    bool modeGiven;       // -res named a mode
    int requestedMode;    // VxResolution named by -res
    int refresh;          // VxRefresh; VX_REFRESH_DEFAULT lets the device choose
    HWND window;          // the application window the output is drawn in
    VxContext context;    // the open output, 0 when none is open
    int mode;             // the open mode (VxResolution)
    int width, height;    // the open mode's size, pixels
    int startupMode;      // the mode start-up opened; M returns to it
    int alternateMode;    // the mode M switches to
};

// Opens the output at start-up: the asked-for mode, or else the fallback modes in turn. The
// open mode becomes the start-up mode. False (nothing open) when no mode opens.
bool outputOpen();
// Opens `mode` (the device's colour-buffer count, then 2) in the output's window; on success
// it becomes the open mode with its size. False leaves the record as it was.
bool outputOpenMode(int mode);
// The mode a switch goes to: the alternate mode, or back to the start-up mode from it.
int outputSwitchTarget();
// Closes the open output and opens the switch target. False when it does not open: then no
// output is open (context 0) and the size is the target's.
bool outputSwitch();
// Closes the open output, if any; the window stays.
void outputClose();
// The rasterizer state that never changes while the output is open: texture filtering,
// culling, depth, the clip window over the whole output, the vertex layout and the fog table
// (fog on; the caller turns it off when the options say so).
void outputSetFixedState();
