// Start-up as a list of stages: processor paths, diagnostics, sine table and generator,
// defaults, the command line; then the stage table (window, device, output, capture buffers,
// console, scene), each with its start and its release. Every start-up failure ends in a
// message box after the stages taken so far are released in reverse order.
#include "app/startup.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cstdint>
#include <iterator>
#include <strings.h>

#include "app/audit.h"
#include "app/capture.h"
#include "app/diagnostics.h"
#include "app/input.h"
#include "app/program.h"
#include "app/timing.h"
#include "app/screen.h"
#include "app/userfiles.h"
#include "app/viewer.h"
#include "display/console.h"
#include "display/device.h"
#include "display/display.h"
#include "display/output.h"
#include "geometry/camera.h"
#include "render/tools.h"
#include "platform/services.h"
#include "platform/win32.h"
#include "render/export.h"
#include "render/lighting.h"
#include "render/options.h"
#include "render/scene.h"
#include "render/tessellate.h"
#include "surface/waves.h"
#include "texture/cache.h"
#include "texture/image.h"
#include "vexa/vexa.h"


namespace {

struct RefreshName {
    const char* name;
    int refresh;
};
constexpr RefreshName REFRESH_RATES[] = {
    {"60", VX_REFRESH_60}, {"70", VX_REFRESH_70},   {"72", VX_REFRESH_72},
    {"75", VX_REFRESH_75}, {"80", VX_REFRESH_80},   {"90", VX_REFRESH_90},
    {"100", VX_REFRESH_100}, {"85", VX_REFRESH_85}, {"120", VX_REFRESH_120},
};

constexpr const char* CAPTION = "Vorl";
// The window's title: its name, and where a newcomer finds the keys.
constexpr const char* WINDOW_TITLE = "Vorl - F1 lists the keys";

// A question box for an option given as the last argument; false when the user cancels.
bool askMissingValue(const char* text) {
    return MessageBoxA(GetFocus(), text, CAPTION, MB_OKCANCEL | MB_ICONQUESTION) != IDCANCEL;
}

void informBadValue(const char* format, const char* value) {
    char text[512];
    std::snprintf(text, sizeof text, format, value);
    MessageBoxA(GetFocus(), text, CAPTION, MB_OK | MB_ICONINFORMATION);
}

}  // namespace

namespace {

// The mode whose size reads as `text` ("1024x768"); -1 when none does.
int modeNamed(const char* text) {
    for (int mode = 0; mode < VX_RES_COUNT; ++mode) {
        int width = 0, height = 0;
        char name[32];
        if (!vxResolutionSize(mode, &width, &height)) continue;
        std::snprintf(name, sizeof name, "%dx%d", width, height);
        if (std::strcmp(text, name) == 0) return mode;
    }
    return -1;
}

void readResolution(const char* value) {
    const int mode = modeNamed(value);
    display.output.modeGiven = mode >= 0;
    if (mode >= 0) {
        display.output.requestedMode = mode;
    } else {
        informBadValue("%s is not a cool resolution.  I'll pick the highest resolution!", value);
    }
}

void readRefresh(const char* value) {
    for (const RefreshName& r : REFRESH_RATES) {
        if (std::strcmp(value, r.name) == 0) {
            display.output.refresh = r.refresh;
            return;
        }
    }
    informBadValue("%s is not a cool refresh rate.  I'll make it 60Hz!", value);
    display.output.refresh = VX_REFRESH_60;
}

}  // namespace

CommandLineResult readCommandLine(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const char* option = argv[i];
        const bool res = strcasecmp(option, "-res") == 0;
        const bool ref = strcasecmp(option, "-ref") == 0;
        const bool capture = strcasecmp(option, "-screencapture") == 0;
        if (!res && !ref && !capture) continue;
        if (i + 1 >= argc) {
            const char* question = res ? "resolution not specified"
                                 : ref ? "refresh rate not specified"
                                       : "number of screen captures not specified (won't "
                                         "capture any screens)";
            if (!askMissingValue(question)) return COMMAND_LINE_CANCELLED;
            continue;
        }
        const char* value = argv[++i];
        if (res) {
            readResolution(value);
        } else if (ref) {
            readRefresh(value);
        } else {
            // A negative count would start bursts that never end; it counts as no capture.
            const int count = std::atoi(value);
            program.capture.captureCount = count < 0 ? 0 : count;
        }
    }
    return COMMAND_LINE_OK;
}

namespace {

// Why a stage did not start: the message box's text and caption.
struct StartupFailure {
    char text[64];
    const char* caption;
};

bool fail(StartupFailure& failure, const char* text, const char* caption = CAPTION) {
    std::snprintf(failure.text, sizeof failure.text, "%s", text);
    failure.caption = caption;
    return false;
}

bool startWindow(StartupFailure& failure) {
    OutputState& out = display.output;
    out.window = createAppWindow(CAPTION, 0, 0, 100, 100, WINDOW_CONFINE_CURSOR | WINDOW_MAXIMISED);
    if (out.window == nullptr) return fail(failure, "couldn't create a window");
    if (surfaceFileNamed()) {
        // The title names the file that S writes, so that two windows can be told apart.
        char title[SAVE_PATH_MAX + 64];
        std::snprintf(title, sizeof title, "%s - %s - F1 lists the keys", CAPTION,
                      surfaceFileName());
        SetWindowTextA(out.window, title);
    } else {
        SetWindowTextA(out.window, WINDOW_TITLE);
    }
    return true;
}

// The window goes, and its class with it, so that a later start in the same process (a
// test's) can register it again.
void destroyWindow() {
    if (display.output.window != nullptr) DestroyWindow(display.output.window);
    display.output.window = nullptr;
    UnregisterClassA(CAPTION, nullptr);
}

bool startDevice(StartupFailure& failure) {
    if (!deviceStart()) return fail(failure, "couldn't initialize vexa", "Murlo");
    OutputState& out = display.output;
    if (textureUnitCount() == 1 && out.refresh == VX_REFRESH_DEFAULT) out.refresh = VX_REFRESH_60;
    return true;
}

// The output at the asked-for mode or the fallbacks, the device's state block, vertex layout
// and caches, and the cursor kept on the output.
bool startOutput(StartupFailure& failure) {
    const OutputState& out = display.output;
    if (!outputOpen()) {
        int width = 640, height = 480;
        if (out.modeGiven) vxResolutionSize(out.requestedMode, &width, &height);
        std::snprintf(failure.text, sizeof failure.text, "couldn't open display (%dx%d)", width,
                      height);
        failure.caption = CAPTION;
        return false;
    }
    if (!deviceSetup()) {
        outputClose();
        return fail(failure, "couldn't setup Vexa", "Dangerous");
    }
    const RECT screen = {0, 0, out.width, out.height};
    ClipCursor(&screen);
    return true;
}

bool startCapture(StartupFailure& failure) {
    const OutputState& out = display.output;
    if (program.capture.captureCount != 0 &&
        !setCaptureRect(0, 0, static_cast<std::uint16_t>(out.width),
                        static_cast<std::uint16_t>(out.height))) {
        freeCaptureBuffers();
        return fail(failure, "couldn't setup screen capture rect");
    }
    return true;
}

// The output's state and console, then the input's starting state: the pointer where the
// cursor is, no keys held, no spin, and the key and mouse routine behind the window's.
bool startConsole(StartupFailure&) {
    setupOutputState();
    POINT cursor = {0, 0};
    GetCursorPos(&cursor);
    program.input.pointer.x = cursor.x;
    program.input.pointer.y = cursor.y;
    setMessageHook(appWindowProc);
    program.input.heldKeys = 0;
    resetSpin(program.viewer.dragSpin);
    resetSpin(program.viewer.lightSpin);
    program.viewer.spinTarget = &program.viewer.dragSpin;
    return true;
}

// The scene's files; every reason the load gave is reported, a warning too.
bool startScene(StartupFailure& failure) {
    SceneReasons reasons{};
    const bool loaded = sceneLoad(&reasons, readStartupSurfaces);
    for (int i = 0; i < reasons.count; ++i) reportError("%s\n", reasons.text[i]);
    if (!loaded) return fail(failure, "couldn't initialize surface");
    if (heightmapNamed()) frameHeightmap(scene.surfaces.surfaces[0]);
    return true;
}

void releaseSineTable() { freeSineTable(scene.waves); }

// Each stage's start and release, in the order start-up takes them. The sine table is taken
// before the command line is read (startProgram); its entry has no start.
struct StageRoutines {
    bool (*start)(StartupFailure& failure);
    void (*release)();
};
constexpr StageRoutines STAGES[] = {
    {nullptr, nullptr},                        // STAGE_NONE
    {nullptr, releaseSineTable},               // STAGE_SINE_TABLE
    {startWindow, destroyWindow},              // STAGE_WINDOW
    {startDevice, deviceStop},                 // STAGE_DEVICE
    {startOutput, outputClose},                // STAGE_OUTPUT
    {startCapture, freeCaptureBuffers},        // STAGE_CAPTURE
    {startConsole, consoleFree},               // STAGE_CONSOLE
    {startScene, sceneRelease},                // STAGE_SCENE
};
static_assert(std::size(STAGES) == STARTUP_STAGE_COUNT, "one entry a stage");

// Releases the held stages above `floor`, the last taken first.
void releaseStagesAbove(StartupStage floor) {
    while (program.stage > floor) {
        if (STAGES[program.stage].release != nullptr) STAGES[program.stage].release();
        program.stage = static_cast<StartupStage>(program.stage - 1);
    }
}

// A failed start-up: everything taken so far released, then the box.
bool failStartup(const char* text, const char* caption, int* exitCode) {
    releaseStagesAbove(STAGE_NONE);
    MessageBoxA(GetFocus(), text, caption, MB_OK | MB_ICONERROR);
    *exitCode = EXIT_STARTUP_FAILURE;
    return false;
}

// The stages from the window on, each recorded as it is taken.
bool startStages(int* exitCode) {
    for (int stage = STAGE_WINDOW; stage < STARTUP_STAGE_COUNT; ++stage) {
        StartupFailure failure{};
        if (!STAGES[stage].start(failure)) {
            return failStartup(failure.text, failure.caption, exitCode);
        }
        program.stage = static_cast<StartupStage>(stage);
    }
    return true;
}

}  // namespace

void shutdownDisplay() {
    // The meshes asked for at exit are the scene as it was last drawn, before it goes.
    if (program.stage >= STAGE_SCENE) exportAtExit();
    releaseStagesAbove(STAGE_WINDOW);
}

void chooseProcessorPaths() {
    vxQueryProcessor(&program.cpu);
    chooseLightingRoutines(program.cpu);
    chooseGridRoutines(program.cpu);
}

void resetProgramDefaults() {
    resetRenderOptions();
    // --lod: the rule dynamic detail starts with.
    const PlatformRequests& requests = platformRequests();
    static_assert(static_cast<int>(PLATFORM_LOD_SCREEN) == static_cast<int>(DETAIL_SCREEN) &&
                  static_cast<int>(PLATFORM_LOD_SMOOTH) == static_cast<int>(DETAIL_SMOOTH));
    if (requests.lodRule > PLATFORM_LOD_DISTANCE && requests.lodRule < DETAIL_RULE_COUNT) {
        renderOptions.detailRule = requests.lodRule;
        if (requests.lodRule == PLATFORM_LOD_SCREEN) {
            renderOptions.screenTolerance = requests.lodTolerance;
        }
    }
    program.camera = CAMERA_DEFAULT;
    program.editor = EditorState{};
    resetCaptureState();
    resetInspection();
    resetTiming();
    resetAudit();
    textureInit(scene.surfaceTexture);
    textureInit(scene.environmentTexture);
    display.output = OutputState{};  // no -res given, refresh VX_REFRESH_DEFAULT (0)
}

bool startProgram(int argc, char** argv, int* exitCode) {
    *exitCode = 0;
    chooseProcessorPaths();
    setErrorFile("error.txt");
    enableErrorSink(SINK_FILE);
    textureReport = reportError;

    if (!buildSineTable(scene.waves)) return false;
    program.stage = STAGE_SINE_TABLE;
    seedRandom(scene.waves, timeGetTime());

    resetProgramDefaults();
    // A run killed while it saved leaves a temporary file beside the file it was saving.
    sweepStaleCaptures();

    if (readCommandLine(argc, argv) == COMMAND_LINE_CANCELLED) {
        releaseStagesAbove(STAGE_NONE);
        return false;
    }
    saveFileSweep(surfaceFileName());
    saveFileSweep(NUMBERED_EXPORT_PATTERN);
    program.files = UserFiles{};
    char reason[EXPORT_REASON_MAX];
    if (!checkExportTargets(reason, sizeof reason)) {
        reportError("%s\n", reason);
        return failStartup("couldn't prepare the export", CAPTION, exitCode);
    }
    return startStages(exitCode);
}

void stopProgram() {
    releaseStagesAbove(STAGE_NONE);
}
