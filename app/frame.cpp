// One frame of the main loop (app/program.cpp): a frame clears, moves the camera, draws one
// or two views, captures, prints the statistics and help through the console, swaps, and
// keeps the frame rate.
#include "app/frame.h"

#include <cstdio>
#include <cstring>

#include "app/audit.h"
#include "app/capture.h"
#include "app/diagnostics.h"
#include "app/editor.h"
#include "app/input.h"
#include "app/keys.h"
#include "app/program.h"
#include "app/timing.h"
#include "app/userfiles.h"
#include "app/viewer.h"
#include "display/console.h"
#include "display/display.h"
#include "geometry/camera.h"
#include "platform/services.h"
#include "platform/win32.h"
#include "render/tools.h"
#include "render/options.h"
#include "render/scene.h"
#include "render/surfacepass.h"
#include "vexa/vexa.h"


namespace {

const char* onOff(bool value) { return value ? "on" : "off"; }

// The detail rule as F1 and the statistics line show it: nothing for the distance rule (their
// text is then as it always was), else the rule and, for the screen rule, its tolerance.
void formatDetailRule(char* out, std::size_t size, const char* before) {
    const RenderOptions& o = renderOptions;
    out[0] = '\0';
    if (o.detailRule == DETAIL_SMOOTH) {
        std::snprintf(out, size, "%ssmooth", before);
    } else if (o.detailRule == DETAIL_SCREEN) {
        std::snprintf(out, size, "%sscreen %.3g px", before, static_cast<double>(o.screenTolerance));
    }
}

// `linesAbove`: rows the statistics text took; the help starts below them. First the demo's
// own list with the settings in brackets, then every other key of the key table in its words.
void printHelp(int linesAbove) {
    static const char* const gapNames[GAP_FILL_MODE_COUNT] = {"no fill", "fill", "fill green"};
    const RenderOptions& o = renderOptions;
    const int gap = (o.gapFill >= 0 && o.gapFill < GAP_FILL_MODE_COUNT) ? o.gapFill : 0;
    for (int row = 3; row < linesAbove; ++row) consolePrintf("\n");
    char rule[48];
    formatDetailRule(rule, sizeof rule, ", ");
    const char* plusMinus = !o.dynamicDetail ? ""
                            : screenRuleOn(o) ? " (the screen tolerance instead)"
                                              : " (unused: dynamic)";
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
        "X: toggle dynamic lod [%s%s]\n"
        "Y: toggle specular lighting [%s]\n",
        o.subdivisions, plusMinus,
        o.controlNormals ? "control normals" : "poly normals", gapNames[gap], onOff(o.fog),
        onOff(o.forwardDifferencing), o.surfaceType == SURFACE_BSPLINE ? "b-spline" : "bezier",
        onOff(o.dynamicDetail), rule, onOff(o.specular));
    int count = 0;
    const KeyEntry* keys = keyList(&count);
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

// The inspection tools' lines under the statistics line: the heat map's colour key, the
// timing overlay's figures, the crack audit's result.
void printInspectionLines() {
    if (inspection.heatMap) {
        consolePrintf("\nheat map steps: 1 blue  6 cyan  10 green  15 yellow  20 red  "
                      "crack fill white\n");
    }
    timingPrintLines();
    auditPrintLines();
}

// The text over the picture: the statistics line (also the platform's status line), the
// capture and failure notices and the tools' lines, then F1's help on its backing.
void drawConsole(std::uint32_t now, bool captured) {
    char line[128];
    formatStatisticsLine(line, sizeof line);
    platformSetStatusLine(line);
    consoleClear();
    consolePrintf("%s", line);
    // The notice stands under the statistics line on every frame of a burst, so the user
    // sees each capture as it is written.
    if (captured) consolePrintf("\nscreen captured...%d more to go...\n", program.capture.remaining);
    // A save or capture that failed stays in view for a few seconds.
    if (const char* notice = currentNotice(now)) consolePrintf("\n%s\n", notice);
    printInspectionLines();
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
}

// The frame's views of the camera: one over the whole output, or in multi-view two side by
// side, the second looking the other way (from the camera turned by the mouse once more).
// Each is its own record; the camera itself only takes the mouse's turn. While a control
// point is held, the mouse's motion moves it instead, as the view it was picked in sees it.
int drawViews(std::uint32_t now, std::uint32_t inspect) {
    const float width = static_cast<float>(display.output.width);
    const float height = static_cast<float>(display.output.height);
    const PointerState& pointer = program.input.pointer;
    const int dx = pointer.x - pointer.previousX;
    const int dy = pointer.y - pointer.previousY;
    const bool holding = program.editor.holding;
    ViewerState& viewer = program.viewer;
    if (!holding) mouseLook(program.camera, dx, dy);
    if (!renderOptions.multiView) {
        viewer.viewCount = 1;
        setupView(viewer.views[0], program.camera, 0.0f, width, 0.0f, height, now, inspect);
    } else {
        viewer.viewCount = 2;
        setupView(viewer.views[0], program.camera, width * 0.05f, width * 0.45f, height * 0.3f,
                  height * 0.7f, now, inspect);
        Camera reversed = program.camera;
        if (!holding) mouseLook(reversed, dx, dy);
        reverseCamera(reversed);
        setupView(viewer.views[1], reversed, width * 0.55f, width * 0.95f, height * 0.3f,
                  height * 0.7f, now, inspect);
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

// The frame-rate bookkeeping: the frames and busy time add up until a second's worth, then
// give the rate and start again.
void countFrame(FrameStats& stats, DWORD start, DWORD end) {
    stats.busyMilliseconds += static_cast<std::int32_t>(end - start);
    stats.frames += 1;
    if (stats.busyMilliseconds >= 1000) {
        stats.framesPerSecond = static_cast<float>(stats.frames) * 1000.0f /
                                static_cast<float>(stats.busyMilliseconds);
        stats.frames = 0;
        stats.busyMilliseconds = 0;
    }
}

}  // namespace

int formatStatisticsLine(char* out, int size) {
    const int ppf = program.stats.polygons;
    const int pps = static_cast<int>(static_cast<float>(ppf) * program.stats.framesPerSecond);
    char rule[48];
    formatDetailRule(rule, sizeof rule, " lod: ");
    return std::snprintf(out, static_cast<std::size_t>(size),
                         "fps: %.2f, ppf: %6d, pps: %6d [%d x %d vsynch: %s%s]\n",
                         program.stats.framesPerSecond, ppf, pps,
                         display.output.width, display.output.height,
                         renderOptions.verticalSync ? " on" : "off", rule);
}

void runFrame() {
    // After the close clean-up the device is gone; nothing may draw until the quit message.
    if (program.stage < STAGE_SCENE) return;
    const DWORD start = timeGetTime();
    timingFrameStart();
    // Black, or the audit colour when the frame is audited for gaps.
    vxClearBuffers(auditFrameStart(), 0, 0xFFFF);
    const std::uint32_t inspect = inspectionViewTools(auditingFrames());
    moveCamera();

    PointerState& pointer = program.input.pointer;
    pointer.previousX = pointer.x;
    pointer.previousY = pointer.y;
    pointer.x = static_cast<int>(static_cast<float>(display.output.width) * 0.5f);
    pointer.y = static_cast<int>(static_cast<float>(display.output.height) * 0.5f);
    SetCursorPos(pointer.x, pointer.y);

    program.stats.polygons = drawViews(start, inspect);
    auditAfterDrawing();

    // The capture is taken before any text is drawn, so files hold the surface alone. An
    // audited frame is not the normal picture: a burst waits until the audit is off.
    const int capturedBefore = program.capture.nextIndex;
    if (!auditingFrames()) captureBurstFrame();
    const bool captured = program.capture.nextIndex != capturedBefore;

    stageMark(TIMED_CONSOLE);
    drawConsole(start, captured);
    timingDrawMarks();
    auditDrawMarks();
    editorDrawMarks();
    stageMark(TIMED_OTHER);
    vxSwapBuffers(renderOptions.verticalSync ? 1 : 0);

    countFrame(program.stats, start, timeGetTime());
}
