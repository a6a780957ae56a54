// Key and mouse commands: key-down toggles and steps of RenderOptions, held keys for the
// camera, the spin gesture and picking on the mouse, and the immediate commands (quit,
// load, save, fog, the resolution switch and the start of a capture burst).
#include "app/input.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cstdint>

#include "app/capture.h"
#include "app/diagnostics.h"
#include "app/editor.h"
#include "app/insight.h"
#include "app/program.h"
#include "app/userfiles.h"
#include "app/startup.h"
#include "app/viewer.h"
#include "display/device.h"
#include "render/options.h"
#include "render/scene.h"
#include "surface/surface.h"
#include "vexa/vexa.h"


namespace {

template <typename T>
T clampTo(T value, T low, T high) {
    return value < low ? low : (value > high ? high : value);
}

std::uint8_t heldBit(WPARAM key) {
    switch (key) {
    case VK_SHIFT: return HELD_SHIFT;
    case VK_LEFT: return HELD_LEFT;
    case VK_RIGHT: return HELD_RIGHT;
    case VK_DOWN: return HELD_DOWN;
    case VK_UP: return HELD_UP;
    default: return 0;
    }
}

[[noreturn]] void fatalAfterSwitch(const char* text) {
    DestroyWindow(program.output.window);
    MessageBoxA(GetFocus(), text, "Vorl", MB_OK | MB_ICONERROR);
    std::exit(EXIT_FATAL);
}

void keyDown(HWND hwnd, WPARAM key) {
    RenderOptions& o = renderOptions;
    const bool shift = (program.input.heldKeys & HELD_SHIFT) != 0;
    switch (key) {
    case VK_ESCAPE: PostMessageA(hwnd, WM_CLOSE, 0, 0); break;
    case VK_END: o.moveSpeed = clampTo(o.moveSpeed * 0.9f, MOVE_SPEED_MIN, MOVE_SPEED_MAX); break;
    case VK_HOME: o.moveSpeed = clampTo(o.moveSpeed * 1.1f, MOVE_SPEED_MIN, MOVE_SPEED_MAX); break;
    case '2': o.multiView = !o.multiView; break;
    case 'B':
        o.farW = clampTo(o.farW + (shift ? -100.0f : 100.0f), DEPTH_LIMIT_MIN, DEPTH_LIMIT_MAX);
        break;
    case 'C': o.controlNormals = !o.controlNormals; break;
    case 'D': o.showControlPoints = !o.showControlPoints; break;
    case 'E':
        if (textureUnitCount() >= 2) o.environmentMapping = !o.environmentMapping;
        break;
    case 'F':
        o.nearW = clampTo(o.nearW + (shift ? -1.0f : 1.0f), DEPTH_LIMIT_MIN, DEPTH_LIMIT_MAX);
        break;
    case 'G': o.gapFill = (o.gapFill + 1) % GAP_FILL_MODE_COUNT; break;
    case 'H':
        o.fog = !o.fog;
        vxSetFogMode(o.fog ? VX_FOG_WTABLE : VX_FOG_DISABLE);
        break;
    case 'I': o.forwardDifferencing = !o.forwardDifferencing; break;
    case 'L': {
        // All or nothing: a file that does not read to its end leaves the surfaces as they are.
        // The file is the one the user named, or the one S saved in the working folder, or
        // else the shipped one.
        char path[SAVE_PATH_MAX];
        surfaceFileToRead(path, sizeof path);
        char reason[SURFACE_REASON_MAX];
        if (!loadSurfaceFile(scene.surfaces, path, reason, sizeof reason)) {
            reportFailure(timeGetTime(), "couldn't reload surface file (%s)\n", reason);
        } else {
            if (reason[0] != '\0') reportError("%s\n", reason);   // loaded, with a warning
            clearEditHistory();   // the drags were made on surfaces that are gone
            const int count = scene.surfaces.count;
            showNotice(timeGetTime(), "loaded %d surface%s from %s", count,
                       count == 1 ? "" : "s", path);
        }
        break;
    }
    case 'K': exportNumbered(); break;
    case 'M': switchResolution(); break;
    case 'N': o.drawNormals = !o.drawNormals; break;
    case 'P': o.wavesPaused = !o.wavesPaused; break;
    case 'S': {
        // Into the file the user named, or else into the working folder (its data/ made when
        // missing), never where the shipped file was read from. A named file's folder is
        // the user's to make.
        char reason[SAVE_REASON_MAX];
        const char* target = surfaceFileName();
        settleWaves(scene.waves, scene.surfaces);   // the heights as the frame has them
        if (!surfaceFileNamed() && !makeFolderFor(SURFACE_FILE)) {
            std::snprintf(reason, sizeof reason, "cannot make the folder: %s",
                          std::strerror(errno));
            reportFailure(timeGetTime(), "couldn't save surface file (%s)\n", reason);
        } else if (!saveSurfaceFile(scene.surfaces, target, reason, sizeof reason)) {
            reportFailure(timeGetTime(), "couldn't save surface file (%s)\n", reason);
        } else {
            const int count = scene.surfaces.count;
            showNotice(timeGetTime(), "saved %d surface%s to %s", count, count == 1 ? "" : "s",
                       target);
        }
        break;
    }
    case 'T':
        o.surfaceType = o.surfaceType == SURFACE_BSPLINE ? SURFACE_BEZIER : SURFACE_BSPLINE;
        break;
    case 'V': o.verticalSync = !o.verticalSync; break;
    case 'W': o.wireframe = !o.wireframe; break;
    case 'X': o.dynamicDetail = !o.dynamicDetail; break;
    case 'Y': o.specular = !o.specular; break;
    case 'Z': {
        const float factor = shift ? 0.9f : 1.1f;
        for (float& scale : o.modelScale) scale *= factor;
        break;
    }
    case VK_F1: o.showHelp = !o.showHelp; break;
    case VK_F2: toggleHeatMap(); break;
    case VK_F3: toggleTimingOverlay(); break;
    case VK_F4: toggleCrackAudit(); break;
    case VK_F5: toggleEditMode(); break;
    case 'U': undoEdit(); break;
    case 'R': redoEdit(); break;
    case VK_OEM_PLUS:
    case VK_ADD:
        o.subdivisions = clampTo(o.subdivisions + 1, SUBDIVISIONS_MIN, SUBDIVISIONS_MAX);
        break;
    case VK_OEM_MINUS:
    case VK_SUBTRACT:
        o.subdivisions = clampTo(o.subdivisions - 1, SUBDIVISIONS_MIN, SUBDIVISIONS_MAX);
        break;
    default: program.input.heldKeys |= heldBit(key); break;
    }
}

void keyUp(WPARAM key) {
    if (key == VK_RETURN) {
        program.capture.remaining = program.capture.captureCount;
        return;
    }
    program.input.heldKeys &= static_cast<std::uint8_t>(~heldBit(key));
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
        pointer.x = pointer.previousX = static_cast<int>(program.output.width * 0.5f);
        pointer.y = pointer.previousY = static_cast<int>(program.output.height * 0.5f);
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

void switchResolution() {
    DisplaySettings& d = program.output;
    const bool back = d.currentMode == d.alternateMode;
    const int mode = back ? d.startupMode : d.alternateMode;
    const int width = back ? d.startupWidth : d.alternateWidth;
    const int height = back ? d.startupHeight : d.alternateHeight;
    d.currentMode = mode;
    d.width = static_cast<float>(width);
    d.height = static_cast<float>(height);
    const RECT screen = {0, 0, width, height};
    ClipCursor(&screen);
    // The cursor rests at the old centre; unless it moves to the new one, the next frame
    // would read the jump between the two centres as mouse motion and turn the camera.
    program.input.pointer.x = width / 2;
    program.input.pointer.y = height / 2;
    SetCursorPos(program.input.pointer.x, program.input.pointer.y);
    if (program.capture.captureCount != 0 &&
        !setCaptureRect(0, 0, static_cast<std::uint16_t>(width),
                        static_cast<std::uint16_t>(height))) {
        vxCloseWindow(d.output);
        vxShutdown();
        fatalAfterSwitch("couldn't setup screen capture rect");
    }
    vxCloseWindow(d.output);
    d.output = 0;
    if (!openDisplayMode(mode, width, height)) {
        vxShutdown();
        fatalAfterSwitch("couldn't open vexa window");
    }
    setupOutputState();
}

LRESULT appWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_KEYDOWN: keyDown(hwnd, wParam); return 0;
    case WM_KEYUP: keyUp(wParam); return 0;
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
