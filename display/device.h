// Device start-up and the application window: the rasterizer device facts, the render-state
// block, one texture cache per unit, and the window procedure that keeps the cursor and
// forwards the rest to the message hook. The output opened on the window is output.h's.
#pragma once

#include <cstdint>

#include "platform/win32.h"
#include "vexa/vexa.h"

struct TextureCache;

constexpr int COLOUR_BUFFERS_DEFAULT = 3;
constexpr const char* HARDWARE_TWO_BUFFERS = "Zephrin Lite";

// Window flags.
constexpr int WINDOW_CURSOR_SHOWN = 0x01;
constexpr int WINDOW_CONFINE_CURSOR = 0x02;
constexpr int WINDOW_MAXIMISED = 0x04;
constexpr int WINDOW_CAPTION = 0x08;
constexpr int WINDOW_SYSTEM_MENU = 0x10;
constexpr int WINDOW_SIZING_BORDER = 0x20;

struct DeviceState {
    int colourBufferCount;
    int textureUnitCount;
    void* stateBlock;
    TextureCache* textureCaches[2];
};

struct WindowState {
    int x, y, width, height;
    int flags;
    WNDPROC messageHook;
};

// Starts the rasterizer and reads the unit count and the colour-buffer choice.
bool deviceStart();
// Declares the ScreenVertex fields the rasterizer reads: x and y, q, colour, unit 0's s and t.
void declareVertexLayout();
// State block, vertex layout and one texture cache per unit.
bool deviceSetup();
// Frees the state block and the caches, then shuts the rasterizer down.
void deviceStop();
void saveRenderState();
void restoreRenderState();
int textureUnitCount();
void setMessageHook(WNDPROC hook);
// Registers the class and creates and shows the window; null on failure.
HWND createAppWindow(const char* name, int x, int y, int width, int height, int flags);
LRESULT deviceWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
