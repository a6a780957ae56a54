// The program's keys as people are told about them: one list, grouped by what the keys do,
// that feeds --help (through the platform's host), a page's key panel and the README (a test
// compares them). The window procedure (app/input.cpp) is what the keys do; this is only
// what is said about them. Adding a key is one line of KEY_LIST in app/keys.cpp.
#pragma once

enum KeyGroup {
    KEYS_MOVING = 0, KEYS_LOOKING, KEYS_DRAWING, KEYS_DETAIL, KEYS_FILES, KEYS_INSPECTION,
    KEYS_SHAPING, KEYS_PROGRAM, KEY_GROUP_COUNT
};

// The group's heading ("Moving", "Drawing modes", ...).
const char* keyGroupName(int group);

struct KeyHelp {
    int group;          // KeyGroup; the list keeps each group's keys together, groups in order
    const char* keys;   // the keys as written on the keyboard: "Shift+Up, Shift+Down"
    const char* what;   // what they do, lower case, no full stop
    bool demoHelp;      // F1's first part, the demo's own list, names these keys in its words;
                        // F1 lists every other entry after it, from this table
};

// The list in the order it is shown; *count receives its length.
const KeyHelp* keyList(int* count);
