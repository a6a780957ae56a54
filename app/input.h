// Key and mouse commands: the input state (held keys and pointer positions) and the
// application's window procedure, which turns messages into changes of RenderOptions, the
// input state, the spin and the picked point, and runs the immediate commands (quit, load,
// save, fog, resolution switch, capture burst).
#pragma once

#include <cstdint>

#include "platform/win32.h"

// The held-key bits.
constexpr std::uint8_t HELD_SHIFT = 0x01;
constexpr std::uint8_t HELD_LEFT = 0x04;
constexpr std::uint8_t HELD_RIGHT = 0x08;
constexpr std::uint8_t HELD_DOWN = 0x10;
constexpr std::uint8_t HELD_UP = 0x20;

struct PointerState {
    std::int32_t x, y;           // current cursor position, screen pixels
    std::int32_t previousX, previousY;
};

// What the key and mouse routine keeps between messages; the frame reads it.
struct InputState {
    std::uint8_t heldKeys;       // HELD_* bits
    PointerState pointer;
};

LRESULT appWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
