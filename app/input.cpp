// Key and mouse commands: keys dispatched through the key table (app/keys.cpp), held keys
// for the camera, the spin gesture and picking on the mouse, and the immediate commands
// (load, save, the resolution switch).
#include "app/input.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cstdint>

#include "app/capture.h"
#include "app/diagnostics.h"
#include "app/editor.h"
#include "app/keys.h"
#include "app/program.h"
#include "app/screen.h"
#include "app/userfiles.h"
#include "app/viewer.h"
#include "display/device.h"
#include "display/display.h"
#include "platform/services.h"
#include "render/options.h"
#include "render/scene.h"
#include "surface/surface.h"
#include "vexa/vexa.h"


namespace {

// Shift is a modifier of the keys in the table, held like the arrows; every other key acts
// through its row of the key table, if it has one.
void keyDown(HWND hwnd, WPARAM key) {
    const bool shift = (program.input.heldKeys & HELD_SHIFT) != 0;
    if (key == VK_SHIFT) {
        program.input.heldKeys |= HELD_SHIFT;
        return;
    }
    if (const KeyEntry* entry = findKey(key, shift, false)) entry->action({hwnd, key, shift});
}

void keyUp(HWND hwnd, WPARAM key) {
    const bool shift = (program.input.heldKeys & HELD_SHIFT) != 0;
    if (const KeyEntry* entry = findKey(key, shift, true)) {
        entry->action({hwnd, key, shift});
        return;
    }
    program.input.heldKeys &= static_cast<std::uint8_t>(~heldKeyBit(key));
}

int positionX(LPARAM lParam) { return LOWORD(static_cast<std::uintptr_t>(lParam)); }
int positionY(LPARAM lParam) {
    return static_cast<std::int16_t>(HIWORD(static_cast<std::uintptr_t>(lParam)));
}

void buttonDown(HWND hwnd, LPARAM lParam, bool left) {
    SetCapture(hwnd);
    PointerState& pointer = program.input.pointer;
    pointer.x = pointer.previousX = positionX(lParam);
    pointer.y = pointer.previousY = positionY(lParam);
    if (!renderOptions.showControlPoints) return;
    int view = 0;
    scene.surfaces.picked = pickControlPoint(&view);
    if (left && beginDrag(scene.surfaces.picked, view)) {
        // The drag follows the pointer's motion from the centre, where every frame puts it: the
        // press's own place is no motion.
        pointer.x = pointer.previousX = display.output.width / 2;
        pointer.y = pointer.previousY = display.output.height / 2;
        SetCursorPos(pointer.x, pointer.y);
    }
}

void leftButtonUp(LPARAM lParam) {
    ReleaseCapture();
    PointerState& pointer = program.input.pointer;
    const int x = positionX(lParam);
    const int y = positionY(lParam);
    pointer.x = x;
    pointer.y = y;
    endDrag();
    if (renderOptions.showControlPoints) return;
    SpinState& spin = *program.viewer.spinTarget;
    const int moved = std::abs(x - pointer.previousX) + std::abs(y - pointer.previousY);
    if (moved != 0) {
        spinFromRelease(spin, x, y, pointer.previousX, pointer.previousY);
    } else {
        spin.angleX = spin.angleY = spin.angleZ = 0.0f;
        spin.mode = SPIN_NONE;
    }
}

}  // namespace

std::uint8_t heldKeyBit(WPARAM key) {
    switch (key) {
    case VK_SHIFT: return HELD_SHIFT;
    case VK_LEFT: return HELD_LEFT;
    case VK_RIGHT: return HELD_RIGHT;
    case VK_DOWN: return HELD_DOWN;
    case VK_UP: return HELD_UP;
    default: return 0;
    }
}

void reloadSurfaces() {
    // All or nothing: a file that does not read to its end leaves the surfaces as they are.
    // The file is the one the user named, or the one S saved in the working folder, or else
    // the shipped one.
    char path[SAVE_PATH_MAX];
    surfaceFileToRead(path, sizeof path);
    char reason[SURFACE_REASON_MAX];
    if (!loadSurfaceFile(scene.surfaces, path, reason, sizeof reason)) {
        reportFailure(timeGetTime(), "couldn't reload surface file (%s)\n", reason);
        return;
    }
    if (reason[0] != '\0') reportError("%s\n", reason);   // loaded, with a warning
    clearEditHistory();   // the drags were made on surfaces that are gone
    const int count = scene.surfaces.count;
    showNotice(timeGetTime(), "loaded %d surface%s from %s", count, count == 1 ? "" : "s", path);
}

void saveSurfaces() {
    // Into the file the user named, or else into the working folder (its data/ made when
    // missing), never where the shipped file was read from. A named file's folder is the
    // user's to make.
    char reason[SAVE_REASON_MAX];
    const char* target = surfaceFileName();
    settleWaves(scene.waves, scene.surfaces);   // the heights as the frame has them
    if (!surfaceFileNamed() && !makeFolderFor(SURFACE_FILE)) {
        std::snprintf(reason, sizeof reason, "cannot make the folder: %s", std::strerror(errno));
        reportFailure(timeGetTime(), "couldn't save surface file (%s)\n", reason);
    } else if (!saveSurfaceFile(scene.surfaces, target, reason, sizeof reason)) {
        reportFailure(timeGetTime(), "couldn't save surface file (%s)\n", reason);
    } else {
        const int count = scene.surfaces.count;
        showNotice(timeGetTime(), "saved %d surface%s to %s", count, count == 1 ? "" : "s",
                   target);
    }
}

LRESULT appWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_KEYDOWN: keyDown(hwnd, wParam); return 0;
    case WM_KEYUP: keyUp(hwnd, wParam); return 0;
    case WM_MOUSEMOVE: {
        POINT cursor = {program.input.pointer.x, program.input.pointer.y};
        GetCursorPos(&cursor);
        program.input.pointer.x = cursor.x;
        program.input.pointer.y = cursor.y;
        return 0;
    }
    case WM_LBUTTONDOWN: buttonDown(hwnd, lParam, true); return 0;
    case WM_RBUTTONDOWN: buttonDown(hwnd, lParam, false); return 0;
    case WM_LBUTTONUP: leftButtonUp(lParam); return 0;
    case WM_RBUTTONUP:
        ReleaseCapture();
        program.input.pointer.x = positionX(lParam);
        program.input.pointer.y = positionY(lParam);
        return 0;
    default: return DefWindowProcA(hwnd, message, wParam, lParam);
    }
}
