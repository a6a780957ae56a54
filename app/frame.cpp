// The main loop and one frame: messages one at a time, a frame whenever the queue is empty;
// a frame clears, moves the camera, draws one or two views, captures, prints the statistics
// and help through the console, swaps, and keeps the frame rate.
#include "app/frame.h"

#include <cstdio>
#include <cstring>

#include "app/capture.h"
#include "app/diagnostics.h"
#include "app/editor.h"
#include "app/input.h"
#include "app/insight.h"
#include "app/keys.h"
#include "app/program.h"
#include "app/userfiles.h"
#include "app/startup.h"
#include "app/viewer.h"
#include "display/console.h"
#include "display/display.h"
#include "geometry/camera.h"
#include "platform/win32.h"
#include "render/options.h"
#include "render/surfacepass.h"
#include "vexa/vexa.h"


namespace {

const char* onOff(bool value) { return value ? "on" : "off"; }

// `linesAbove`: rows the statistics text took; the help starts below them. First the demo's
// own list with the settings in brackets, then every other key of the key table in its words.
void printHelp(int linesAbove) {
    static const char* const gapNames[GAP_FILL_MODE_COUNT] = {"no fill", "fill", "fill green"};
    const RenderOptions& o = renderOptions;
    const int gap = (o.gapFill >= 0 && o.gapFill < GAP_FILL_MODE_COUNT) ? o.gapFill : 0;
    for (int row = 3; row < linesAbove; ++row) consolePrintf("\n");
    consolePrintf(
        "\n\n\n"
        "mouse movement: rotate camera\n"
        "arrow keys: move camera\n"
        "escape: quit program\n"
        "+/-: increase/decrease static patch subdivs [%d]%s\n"
        "2: toggle multi-view\n"
        "C: toggle normals' source [%s]\n"
        "D: toggle control points\n"
        "E: toggle environment mapping\n"
        "G: gap fill mode [%s]\n"
        "H: toggle fog [%s]\n"
        "I: toggle forward differencing [%s]\n"
        "M: toggle resolution\n"
        "N: toggle drawing of normals\n"
        "P: pause/unpause waves\n"
        "T: toggle surface type [%s]\n"
        "V: toggle vsynch\n"
        "W: toggle wireframe\n"
        "X: toggle dynamic lod [%s]\n"
        "Y: toggle specular lighting [%s]\n",
        o.subdivisions, o.dynamicDetail ? " (unused: dynamic)" : "",
        o.controlNormals ? "control normals" : "poly normals", gapNames[gap], onOff(o.fog),
        onOff(o.forwardDifferencing), o.surfaceType == SURFACE_BSPLINE ? "b-spline" : "bezier",
        onOff(o.dynamicDetail), onOff(o.specular));
    int count = 0;
    const KeyHelp* keys = keyList(&count);
    for (int i = 0; i < count; ++i) {
        if (keys[i].demoHelp) continue;
        // S and L name the file they use: the one the user named in place of the shipped one.
        const char* what = keys[i].what;
        const char* shipped = surfaceFileNamed() ? std::strstr(what, SURFACE_FILE) : nullptr;
        if (shipped == nullptr) {
            consolePrintf("%s: %s\n", keys[i].keys, what);
        } else {
            consolePrintf("%s: %.*s%s%s\n", keys[i].keys, static_cast<int>(shipped - what), what,
                          surfaceFileName(), shipped + std::strlen(SURFACE_FILE));
        }
    }
    if (surfaceFileNamed()) consolePrintf("surface file: %s\n", surfaceFileName());
}

// The frame's views of the camera: one over the whole output, or in multi-view two side by
// side, the second looking the other way (from the camera turned by the mouse once more).
// Each is its own record; the camera itself only takes the mouse's turn. While a control
// point is held, the mouse's motion moves it instead, as the view it was picked in sees it.
int drawViews(std::uint32_t now) {
    const float width = program.output.width;
    const float height = program.output.height;
    const PointerState& pointer = program.input.pointer;
    const int dx = pointer.x - pointer.previousX;
    const int dy = pointer.y - pointer.previousY;
    const bool holding = program.editor.holding;
    ViewerState& viewer = program.viewer;
    if (!holding) mouseLook(program.camera, dx, dy);
    if (!renderOptions.multiView) {
        viewer.viewCount = 1;
        setupView(viewer.views[0], program.camera, 0.0f, width, 0.0f, height, now);
    } else {
        viewer.viewCount = 2;
        setupView(viewer.views[0], program.camera, width * 0.05f, width * 0.45f, height * 0.3f,
                  height * 0.7f, now);
        Camera reversed = program.camera;
        if (!holding) mouseLook(reversed, dx, dy);
        reverseCamera(reversed);
        setupView(viewer.views[1], reversed, width * 0.55f, width * 0.95f, height * 0.3f,
                  height * 0.7f, now);
    }
    if (holding) {
        // The pointer moved from the centre by minus the look delta; the point moves as the
        // view it was picked in sees it.
        dragHeldPoint(viewer.views[editorDragView(viewer.viewCount)], -dx, -dy,
                      (program.input.heldKeys & HELD_SHIFT) != 0);
    }
    int polygons = 0;
    clearSurfacePassCounts();
    for (int v = 0; v < viewer.viewCount; ++v) polygons += drawSurfaces(viewer.views[v]);
    return polygons;
}

}  // namespace

int formatStatisticsLine(char* out, int size) {
    const int ppf = program.stats.polygons;
    const int pps = static_cast<int>(static_cast<float>(ppf) * program.stats.framesPerSecond);
    return std::snprintf(out, static_cast<std::size_t>(size),
                         "fps: %.2f, ppf: %6d, pps: %6d [%d x %d vsynch: %s]\n",
                         program.stats.framesPerSecond, ppf, pps,
                         static_cast<int>(program.output.width),
                         static_cast<int>(program.output.height),
                         renderOptions.verticalSync ? " on" : "off");
}

void runFrame() {
    // After the close clean-up the device is gone; nothing may draw until the quit message.
    if (program.stage < STAGE_SCENE) return;
    const DWORD start = timeGetTime();
    // Black, or the audit colour when the frame is audited for gaps.
    vxClearBuffers(inspectionFrameStart(), 0, 0xFFFF);
    moveCamera();

    PointerState& pointer = program.input.pointer;
    pointer.previousX = pointer.x;
    pointer.previousY = pointer.y;
    pointer.x = static_cast<int>(program.output.width * 0.5f);
    pointer.y = static_cast<int>(program.output.height * 0.5f);
    SetCursorPos(pointer.x, pointer.y);

    program.stats.polygons = drawViews(start);
    inspectionAfterDrawing();

    // The capture is taken before any text is drawn, so files hold the surface alone. An
    // audited frame is not the normal picture: a burst waits until the audit is off.
    const int capturedBefore = program.capture.nextIndex;
    if (!auditingFrames()) captureBurstFrame();
    const bool captured = program.capture.nextIndex != capturedBefore;

    stageMark(TIMED_CONSOLE);
    char line[128];
    formatStatisticsLine(line, sizeof line);
    platformSetStatusLine(line);
    consoleClear();
    consolePrintf("%s", line);
    // The notice stands under the statistics line on every frame of a burst, so the user
    // sees each capture as it is written.
    if (captured) consolePrintf("\nscreen captured...%d more to go...\n", program.capture.remaining);
    // A save or capture that failed stays in view for a few seconds.
    if (const char* notice = currentNotice(start)) consolePrintf("\n%s\n", notice);
    inspectionPrintLines();
    editorPrintLines();
    const int statisticsRows = display.console.cursorRow;
    consoleSetColour(STATISTICS_COLOUR);
    consoleDraw();
    if (renderOptions.showHelp) {
        consoleClear();
        printHelp(statisticsRows);
        consoleDrawBacking(HELP_BACKING_COLOUR);
        consoleSetColour(HELP_COLOUR);
        consoleDraw();
    }
    inspectionDrawMarks();
    editorDrawMarks();
    stageMark(TIMED_OTHER);
    vxSwapBuffers(renderOptions.verticalSync ? 1 : 0);

    const DWORD end = timeGetTime();
    program.stats.busyMilliseconds += static_cast<std::int32_t>(end - start);
    program.stats.frames += 1;
    if (program.stats.busyMilliseconds >= 1000) {
        program.stats.framesPerSecond = static_cast<float>(program.stats.frames) * 1000.0f /
                                     static_cast<float>(program.stats.busyMilliseconds);
        program.stats.frames = 0;
        program.stats.busyMilliseconds = 0;
    }
}

int runMainLoop() {
    MSG msg;
    for (;;) {
        if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            runFrame();
            continue;
        }
        if (msg.message == WM_QUIT) break;
        if (msg.message == WM_CLOSE) shutdownDisplay();
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    // A window closed some other way than through the queue's close request still releases
    // the output, the scene, the console and the device.
    shutdownDisplay();
    return static_cast<int>(msg.wParam);
}
