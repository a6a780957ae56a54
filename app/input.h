// Key and mouse commands: the input state (held keys and pointer positions) and the
// application's window procedure, which hands keys to their rows of the key table
// (app/keys.h), turns mouse messages into changes of the spin and the picked point, and the
// immediate commands (load, save, resolution switch).
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
// The HELD_* bit of a key held down (Shift, the arrows); 0 for any other key.
std::uint8_t heldKeyBit(WPARAM key);
// The L key: reads the surface file again (the one S saved, else the shipped one), all or
// nothing; says on screen what it loaded or why it refused.
void reloadSurfaces();
// The S key: writes the surfaces, waves included, to data/vorl.txt in the working folder;
// says on screen what it saved or why it could not.
void saveSurfaces();
