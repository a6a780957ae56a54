// The display's record: the started rasterizer device with its texture caches, the
// application window, and the text console, one instance. Each concern keeps its own header
// and verbs (device.h, console.h); this one owns the instance.
#pragma once

#include "display/console.h"
#include "display/device.h"

struct Display {
    DeviceState device;
    WindowState window;
    ConsoleState console;
};
extern Display display;
