// The display's record: the started rasterizer device with its texture caches, the
// application window, the output open on it, and the text console, one instance. Each concern
// keeps its own header and verbs (device.h, output.h, console.h); this one owns the instance.
#pragma once

#include "display/console.h"
#include "display/device.h"
#include "display/output.h"

struct Display {
    DeviceState device;
    WindowState window;
    OutputState output;
    ConsoleState console;
};
extern Display display;
