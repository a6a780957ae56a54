// The program's keys: one table of rows (key codes, group, words, action) that the window
// procedure (app/input.cpp) dispatches through and that everything people are told about the
// keys is made from: --help (through the platform's host), a page's key panel, F1's added
// lines and the README (a test compares them). Adding a key is one row of KEY_TABLE in
// app/keys.cpp.
#pragma once

#include <cstdint>

#include "platform/win32.h"

enum KeyGroup {
    KEYS_MOVING = 0, KEYS_LOOKING, KEYS_DRAWING, KEYS_DETAIL, KEYS_FILES, KEYS_INSPECTION,
    KEYS_SHAPING, KEYS_PROGRAM, KEY_GROUP_COUNT
};

// How a row's keys take Shift: whatever its state, only without it, only with it.
enum KeyShift : std::uint8_t { KEY_ANY_SHIFT = 0, KEY_NO_SHIFT, KEY_WITH_SHIFT };

// Virtual-key codes a row answers to at most (a pair of keys, each on two keyboards).
constexpr int KEY_CODES_MAX = 4;

// A key as it went down (or up): the window it went to, its code, whether Shift was held.
struct KeyPress {
    HWND window;
    WPARAM code;
    bool shift;
};
using KeyAction = void (*)(const KeyPress& press);

// The group's heading ("Moving", "Drawing modes", ...).
const char* keyGroupName(int group);

struct KeyEntry {
    int group;          // KeyGroup; the table keeps each group's keys together, groups in order
    const char* keys;   // the keys as written on the keyboard: "Shift+Up, Shift+Down"
    const char* what;   // what they do, lower case, no full stop
    bool demoHelp;      // F1's first part, the demo's own list, names these keys in its words;
                        // F1 lists every other row after it, from this table
    KeyAction action;   // what the keys do; null for what the platform does itself (the
                        // mouse turning the view, F6 giving the pointer back): no codes then
    std::uint16_t codes[KEY_CODES_MAX];   // the virtual keys it answers to, unused ones 0
    std::uint8_t shift;                   // KeyShift
    bool onRelease;                       // acts as the key goes up, not down
};

// The table in the order it is shown; *count receives its length.
const KeyEntry* keyList(int* count);
// The row that acts on `code` going down (release false) or up with Shift held or not; null
// when no row does.
const KeyEntry* findKey(WPARAM code, bool shift, bool release);
