// The key table: each key's action beside its words and group, the groups' names, the look-up
// the window procedure dispatches through, and applicationKeyList (declared with the
// program's entry in platform/win32.h), the table's text form for --help and a page.
#include "app/keys.h"

#include <string>

#include "app/audit.h"
#include "app/capture.h"
#include "app/editor.h"
#include "app/input.h"
#include "app/program.h"
#include "app/screen.h"
#include "app/timing.h"
#include "app/userfiles.h"
#include "display/device.h"
#include "render/tools.h"
#include "platform/services.h"
#include "platform/win32.h"
#include "render/options.h"
#include "vexa/vexa.h"

namespace {

const char* const GROUP_NAMES[] = {"Moving",           "Looking",
                                   "Drawing modes",    "Detail",
                                   "Files",            "Inspection tools",
                                   "Shaping the surface", "The program"};
static_assert(sizeof(GROUP_NAMES) / sizeof(GROUP_NAMES[0]) == KEY_GROUP_COUNT);

template <typename T>
T clampTo(T value, T low, T high) {
    return value < low ? low : (value > high ? high : value);
}

// The actions. Each reads the press's code or Shift where its row has two keys.
RenderOptions& options() { return renderOptions; }
void flip(bool& value) { value = !value; }

void holdKey(const KeyPress& p) { program.input.heldKeys |= heldKeyBit(p.code); }
void changeMoveSpeed(const KeyPress& p) {
    float& speed = options().moveSpeed;
    speed = clampTo(speed * (p.code == VK_HOME ? 1.1f : 0.9f), MOVE_SPEED_MIN, MOVE_SPEED_MAX);
}
void toggleMultiView(const KeyPress&) { flip(options().multiView); }
void moveFarLimit(const KeyPress& p) {
    float& limit = options().farW;
    limit = clampTo(limit + (p.shift ? -100.0f : 100.0f), DEPTH_LIMIT_MIN, DEPTH_LIMIT_MAX);
}
void moveNearLimit(const KeyPress& p) {
    float& limit = options().nearW;
    limit = clampTo(limit + (p.shift ? -1.0f : 1.0f), DEPTH_LIMIT_MIN, DEPTH_LIMIT_MAX);
}
void scaleSurfaces(const KeyPress& p) {
    const float factor = p.shift ? 0.9f : 1.1f;
    for (float& scale : options().modelScale) scale *= factor;
}
void toggleWireframe(const KeyPress&) { flip(options().wireframe); }
void toggleSurfaceType(const KeyPress&) {
    SurfaceType& type = options().surfaceType;
    type = type == SURFACE_BSPLINE ? SURFACE_BEZIER : SURFACE_BSPLINE;
}
void toggleEnvironment(const KeyPress&) {
    if (textureUnitCount() >= 2) flip(options().environmentMapping);
}
void toggleSpecular(const KeyPress&) { flip(options().specular); }
void toggleFog(const KeyPress&) {
    flip(options().fog);
    vxSetFogMode(options().fog ? VX_FOG_WTABLE : VX_FOG_DISABLE);
}
void toggleNormalSource(const KeyPress&) { flip(options().controlNormals); }
void toggleNormals(const KeyPress&) { flip(options().drawNormals); }
void toggleControlPoints(const KeyPress&) { flip(options().showControlPoints); }
void toggleWaves(const KeyPress&) { flip(options().wavesPaused); }
void stepSubdivisions(const KeyPress& p) {
    const int step = p.code == VK_OEM_PLUS || p.code == VK_ADD ? 1 : -1;
    // While the screen rule picks the detail, + asks for more of it: a finer tolerance.
    if (screenRuleOn(options())) {
        stepScreenTolerance(options(), -step);
        return;
    }
    std::int32_t& subdivisions = options().subdivisions;
    subdivisions = clampTo(subdivisions + step, SUBDIVISIONS_MIN, SUBDIVISIONS_MAX);
}
void toggleDynamicDetail(const KeyPress&) { flip(options().dynamicDetail); }
void cycleRule(const KeyPress&) { cycleDetailRule(options()); }
void toggleDifferencing(const KeyPress&) { flip(options().forwardDifferencing); }
void cycleGapFill(const KeyPress&) {
    options().gapFill = (options().gapFill + 1) % GAP_FILL_MODE_COUNT;
}
void save(const KeyPress&) { saveSurfaces(); }
void reload(const KeyPress&) { reloadSurfaces(); }
// A release during a burst starts the count again.
void startCaptureBurst(const KeyPress&) {
    program.capture.remaining = program.capture.captureCount;
}
void toggleHelp(const KeyPress&) { flip(options().showHelp); }
void toggleHeatMap(const KeyPress&) { flip(inspection.heatMap); }
void toggleTiming(const KeyPress&) { toggleTimingOverlay(); }
void toggleAudit(const KeyPress&) { toggleCrackAudit(); }
void toggleEditing(const KeyPress&) { toggleEditMode(); }
void undoOrRedo(const KeyPress& p) {
    if (p.code == 'U') {
        undoEdit();
    } else {
        redoEdit();
    }
}
void exportMesh(const KeyPress&) { exportNumbered(); }
void switchOutput(const KeyPress&) { switchResolution(); }
void toggleVerticalSync(const KeyPress&) { flip(options().verticalSync); }
void quit(const KeyPress& p) { PostMessageA(p.window, WM_CLOSE, 0, 0); }

// One row a key (or a pair of keys doing opposite things). Keep a group's rows together.
const KeyEntry KEY_TABLE[] = {
    {KEYS_MOVING, "Up, Down", "move forward, back (level, whatever the pitch)", true, holdKey,
     {VK_UP, VK_DOWN}, KEY_NO_SHIFT, false},
    {KEYS_MOVING, "Left, Right", "move sideways", true, holdKey, {VK_LEFT, VK_RIGHT},
     KEY_ANY_SHIFT, false},
    {KEYS_MOVING, "Shift+Up, Shift+Down", "climb, descend", false, holdKey, {VK_UP, VK_DOWN},
     KEY_WITH_SHIFT, false},
    {KEYS_MOVING, "Home, End", "move faster, slower", false, changeMoveSpeed, {VK_HOME, VK_END},
     KEY_ANY_SHIFT, false},
    {KEYS_LOOKING, "mouse movement", "rotate camera", true, nullptr, {}, KEY_ANY_SHIFT, false},
    {KEYS_LOOKING, "2", "toggle multi-view: ahead and behind side by side", true,
     toggleMultiView, {'2'}, KEY_ANY_SHIFT, false},
    {KEYS_LOOKING, "B, Shift+B", "far limit of the view further, nearer", false, moveFarLimit,
     {'B'}, KEY_ANY_SHIFT, false},
    {KEYS_LOOKING, "F, Shift+F", "near limit of the view further, nearer", false,
     moveNearLimit, {'F'}, KEY_ANY_SHIFT, false},
    {KEYS_LOOKING, "Z, Shift+Z", "scale the surfaces up, down", false, scaleSurfaces, {'Z'},
     KEY_ANY_SHIFT, false},
    {KEYS_DRAWING, "W", "toggle wireframe", true, toggleWireframe, {'W'}, KEY_ANY_SHIFT, false},
    {KEYS_DRAWING, "T", "toggle surface type: b-spline, bezier", true, toggleSurfaceType, {'T'},
     KEY_ANY_SHIFT, false},
    {KEYS_DRAWING, "E", "toggle environment mapping (with two texture units)", true,
     toggleEnvironment, {'E'}, KEY_ANY_SHIFT, false},
    {KEYS_DRAWING, "Y", "toggle specular lighting", true, toggleSpecular, {'Y'}, KEY_ANY_SHIFT,
     false},
    {KEYS_DRAWING, "H", "toggle fog", true, toggleFog, {'H'}, KEY_ANY_SHIFT, false},
    {KEYS_DRAWING, "C", "toggle normals' source: control normals, poly normals", true,
     toggleNormalSource, {'C'}, KEY_ANY_SHIFT, false},
    {KEYS_DRAWING, "N", "toggle drawing of normals", true, toggleNormals, {'N'}, KEY_ANY_SHIFT,
     false},
    {KEYS_DRAWING, "D", "toggle control points", true, toggleControlPoints, {'D'},
     KEY_ANY_SHIFT, false},
    {KEYS_DRAWING, "P", "pause/unpause waves", true, toggleWaves, {'P'}, KEY_ANY_SHIFT, false},
    {KEYS_DETAIL, "+, -", "increase/decrease static patch subdivs", true, stepSubdivisions,
     {VK_OEM_PLUS, VK_ADD, VK_OEM_MINUS, VK_SUBTRACT}, KEY_ANY_SHIFT, false},
    {KEYS_DETAIL, "X", "toggle dynamic lod: detail by distance", true, toggleDynamicDetail,
     {'X'}, KEY_ANY_SHIFT, false},
    {KEYS_DETAIL, "Q", "detail rule: distance, smooth, screen (+, - its tolerance)", false,
     cycleRule, {'Q'}, KEY_ANY_SHIFT, false},
    {KEYS_DETAIL, "I", "toggle forward differencing (else basis tables)", true,
     toggleDifferencing, {'I'}, KEY_ANY_SHIFT, false},
    {KEYS_DETAIL, "G", "gap fill mode: no fill, fill, fill green", true, cycleGapFill, {'G'},
     KEY_ANY_SHIFT, false},
    {KEYS_FILES, "S", "save the surfaces, waves included, to data/vorl.txt", false, save, {'S'},
     KEY_ANY_SHIFT, false},
    {KEYS_FILES, "L", "load data/vorl.txt again", false, reload, {'L'}, KEY_ANY_SHIFT, false},
    {KEYS_FILES, "K", "export the surfaces as drawn, as a mesh, to export0000.obj and on", false,
     exportMesh, {'K'}, KEY_ANY_SHIFT, false},
    {KEYS_FILES, "Enter", "on release, capture the next N frames (-screencapture N)", false,
     startCaptureBurst, {VK_RETURN}, KEY_ANY_SHIFT, true},
    {KEYS_INSPECTION, "F1", "show or hide this list of keys, over the picture", false,
     toggleHelp, {VK_F1}, KEY_ANY_SHIFT, false},
    {KEYS_INSPECTION, "F2", "detail heat map: patches coloured by step count", false,
     toggleHeatMap, {VK_F2}, KEY_ANY_SHIFT, false},
    {KEYS_INSPECTION, "F3", "stage timing overlay and frame-time graph", false, toggleTiming,
     {VK_F3}, KEY_ANY_SHIFT, false},
    {KEYS_INSPECTION, "F4", "crack audit of every frame (see --audit-cracks)", false,
     toggleAudit, {VK_F4}, KEY_ANY_SHIFT, false},
    {KEYS_SHAPING, "F5", "toggle edit mode: drag a shown control point (Shift: up, down)",
     false, toggleEditing, {VK_F5}, KEY_ANY_SHIFT, false},
    {KEYS_SHAPING, "U, R", "undo, redo a drag", false, undoOrRedo, {'U', 'R'}, KEY_ANY_SHIFT,
     false},
    {KEYS_PROGRAM, "F6", "in a window: give the pointer back (a click takes it again)", false,
     nullptr, {}, KEY_ANY_SHIFT, false},
    {KEYS_PROGRAM, "M", "toggle resolution", true, switchOutput, {'M'}, KEY_ANY_SHIFT, false},
    {KEYS_PROGRAM, "V", "toggle vsynch", true, toggleVerticalSync, {'V'}, KEY_ANY_SHIFT, false},
    {KEYS_PROGRAM, "Escape", "quit program", true, quit, {VK_ESCAPE}, KEY_ANY_SHIFT, false},
};

bool answers(const KeyEntry& entry, WPARAM code, bool shift) {
    if (entry.shift == KEY_NO_SHIFT && shift) return false;
    if (entry.shift == KEY_WITH_SHIFT && !shift) return false;
    for (const std::uint16_t c : entry.codes) {
        if (c != 0 && c == code) return true;
    }
    return false;
}

}  // namespace

const char* keyGroupName(int group) {
    return group >= 0 && group < KEY_GROUP_COUNT ? GROUP_NAMES[group] : "";
}

const KeyEntry* keyList(int* count) {
    *count = static_cast<int>(sizeof(KEY_TABLE) / sizeof(KEY_TABLE[0]));
    return KEY_TABLE;
}

const KeyEntry* findKey(WPARAM code, bool shift, bool release) {
    for (const KeyEntry& entry : KEY_TABLE) {
        if (entry.onRelease == release && answers(entry, code, shift)) return &entry;
    }
    return nullptr;
}

const char* applicationKeyList() {
    // Built once, on first use: never per frame.
    static const std::string text = [] {
        std::string lines;
        for (const KeyEntry& entry : KEY_TABLE) {
            lines += keyGroupName(entry.group);
            lines += '\t';
            lines += entry.keys;
            lines += '\t';
            lines += entry.what;
            lines += '\n';
        }
        return lines;
    }();
    return text.c_str();
}
