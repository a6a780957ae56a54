// The list of the program's keys and its text form for the platform: the groups' names, the
// entries in display order, and applicationKeyList (declared with the program's entry in
// platform/win32.h). Keys the demo's own F1 help names are described in its words.
#include "app/keys.h"

#include <string>

#include "platform/win32.h"

namespace {

const char* const GROUP_NAMES[] = {"Moving",           "Looking",
                                   "Drawing modes",    "Detail",
                                   "Files",            "Inspection tools",
                                   "Shaping the surface", "The program"};
static_assert(sizeof(GROUP_NAMES) / sizeof(GROUP_NAMES[0]) == KEY_GROUP_COUNT);

// One line a key (or a pair of keys doing opposite things). Keep a group's lines together.
const KeyHelp KEY_LIST[] = {
    {KEYS_MOVING, "Up, Down", "move forward, back (level, whatever the pitch)", true},
    {KEYS_MOVING, "Left, Right", "move sideways", true},
    {KEYS_MOVING, "Shift+Up, Shift+Down", "climb, descend", false},
    {KEYS_MOVING, "Home, End", "move faster, slower", false},
    {KEYS_LOOKING, "mouse movement", "rotate camera", true},
    {KEYS_LOOKING, "2", "toggle multi-view: ahead and behind side by side", true},
    {KEYS_LOOKING, "B, Shift+B", "far limit of the view further, nearer", false},
    {KEYS_LOOKING, "F, Shift+F", "near limit of the view further, nearer", false},
    {KEYS_LOOKING, "Z, Shift+Z", "scale the surfaces up, down", false},
    {KEYS_DRAWING, "W", "toggle wireframe", true},
    {KEYS_DRAWING, "T", "toggle surface type: b-spline, bezier", true},
    {KEYS_DRAWING, "E", "toggle environment mapping (with two texture units)", true},
    {KEYS_DRAWING, "Y", "toggle specular lighting", true},
    {KEYS_DRAWING, "H", "toggle fog", true},
    {KEYS_DRAWING, "C", "toggle normals' source: control normals, poly normals", true},
    {KEYS_DRAWING, "N", "toggle drawing of normals", true},
    {KEYS_DRAWING, "D", "toggle control points", true},
    {KEYS_DRAWING, "P", "pause/unpause waves", true},
    {KEYS_DETAIL, "+, -", "increase/decrease static patch subdivs", true},
    {KEYS_DETAIL, "X", "toggle dynamic lod: detail by distance", true},
    {KEYS_DETAIL, "I", "toggle forward differencing (else basis tables)", true},
    {KEYS_DETAIL, "G", "gap fill mode: no fill, fill, fill green", true},
    {KEYS_FILES, "S", "save the surfaces, waves included, to data/vorl.txt", false},
    {KEYS_FILES, "L", "load data/vorl.txt again", false},
    {KEYS_FILES, "K", "export the surfaces as drawn, as a mesh, to export0000.obj and on", false},
    {KEYS_FILES, "Enter", "on release, capture the next N frames (-screencapture N)", false},
    {KEYS_INSPECTION, "F1", "show or hide this list of keys, over the picture", false},
    {KEYS_INSPECTION, "F2", "detail heat map: patches coloured by step count", false},
    {KEYS_INSPECTION, "F3", "stage timing overlay and frame-time graph", false},
    {KEYS_INSPECTION, "F4", "crack audit of every frame (see --audit-cracks)", false},
    {KEYS_SHAPING, "F5", "toggle edit mode: drag a shown control point (Shift: up, down)", false},
    {KEYS_SHAPING, "U, R", "undo, redo a drag", false},
    {KEYS_PROGRAM, "F6", "in a window: give the pointer back (a click takes it again)", false},
    {KEYS_PROGRAM, "M", "toggle resolution", true},
    {KEYS_PROGRAM, "V", "toggle vsynch", true},
    {KEYS_PROGRAM, "Escape", "quit program", true},
};

}  // namespace

const char* keyGroupName(int group) {
    return group >= 0 && group < KEY_GROUP_COUNT ? GROUP_NAMES[group] : "";
}

const KeyHelp* keyList(int* count) {
    *count = static_cast<int>(sizeof(KEY_LIST) / sizeof(KEY_LIST[0]));
    return KEY_LIST;
}

const char* applicationKeyList() {
    // Built once, on first use: never per frame.
    static const std::string text = [] {
        std::string lines;
        int count = 0;
        const KeyHelp* list = keyList(&count);
        for (int i = 0; i < count; ++i) {
            lines += keyGroupName(list[i].group);
            lines += '\t';
            lines += list[i].keys;
            lines += '\t';
            lines += list[i].what;
            lines += '\n';
        }
        return lines;
    }();
    return text.c_str();
}
