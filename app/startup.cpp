// Start-up: processor paths, diagnostics, sine table and generator, defaults, the command
// line, the window, the device and its output with fallbacks, the fixed render state, the
// console and the scene; then the main loop. Every start-up failure ends in a message box
// after the stages taken so far are released in reverse order.
#include "app/startup.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <new>
#include <strings.h>

#include "app/capture.h"
#include "app/diagnostics.h"
#include "app/frame.h"
#include "app/input.h"
#include "app/insight.h"
#include "app/program.h"
#include "app/viewer.h"
#include "display/console.h"
#include "display/device.h"
#include "display/display.h"
#include "geometry/camera.h"
#include "render/drawn.h"
#include "render/lighting.h"
#include "render/options.h"
#include "render/scene.h"
#include "render/surfacepass.h"
#include "render/tessellate.h"
#include "surface/surface.h"
#include "surface/waves.h"
#include "texture/cache.h"
#include "texture/image.h"
#include "vexa/vexa.h"


namespace {

struct ResolutionName {
    const char* name;
    int resolution;
    int width;
    int height;
};
constexpr ResolutionName RESOLUTIONS[] = {
    {"1600x1200", VX_RES_1600x1200, 1600, 1200}, {"1280x1024", VX_RES_1280x1024, 1280, 1024},
    {"1024x768", VX_RES_1024x768, 1024, 768},    {"800x600", VX_RES_800x600, 800, 600},
    {"640x480", VX_RES_640x480, 640, 480},       {"512x384", VX_RES_512x384, 512, 384},
};

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
            program.output.resolutionGiven = true;
            bool found = false;
            for (const ResolutionName& r : RESOLUTIONS) {
                if (std::strcmp(value, r.name) == 0) {
                    program.output.requestedMode = r.resolution;
                    program.output.requestedWidth = r.width;
                    program.output.requestedHeight = r.height;
                    found = true;
                    break;
                }
            }
            if (!found) {
                informBadValue("%s is not a cool resolution.  I'll pick the highest resolution!",
                               value);
                program.output.resolutionGiven = false;
            }
        } else if (ref) {
            bool found = false;
            for (const RefreshName& r : REFRESH_RATES) {
                if (std::strcmp(value, r.name) == 0) {
                    program.output.refresh = r.refresh;
                    found = true;
                    break;
                }
            }
            if (!found) {
                informBadValue("%s is not a cool refresh rate.  I'll make it 60Hz!", value);
                program.output.refresh = VX_REFRESH_60;
            }
        } else {
            // A negative count would start bursts that never end; it counts as no capture.
            const int count = std::atoi(value);
            program.capture.captureCount = count < 0 ? 0 : count;
        }
    }
    return COMMAND_LINE_OK;
}

namespace {

// The window goes, and its class with it, so that a later start in the same process (a
// test's) can register it again.
void destroyWindow() {
    if (program.output.window != nullptr) DestroyWindow(program.output.window);
    program.output.window = nullptr;
    UnregisterClassA(CAPTION, nullptr);
}

// Releases the held stages above `floor`, the last taken first.
void releaseStagesAbove(StartupStage floor) {
    while (program.stage > floor) {
        switch (program.stage) {
        case STAGE_SCENE: releaseScene(); break;
        case STAGE_CONSOLE: consoleFree(); break;
        case STAGE_CAPTURE: freeCaptureBuffers(); break;
        case STAGE_OUTPUT:
            vxCloseWindow(program.output.output);
            program.output.output = 0;
            break;
        case STAGE_DEVICE: deviceStop(); break;
        case STAGE_WINDOW: destroyWindow(); break;
        case STAGE_SINE_TABLE: freeSineTable(scene.waves); break;
        default: break;
        }
        program.stage = static_cast<StartupStage>(program.stage - 1);
    }
}

// A start-up failure: everything taken so far is released, then the box is shown.
bool failStartup(const char* text, const char* caption, int* exitCode) {
    releaseStagesAbove(STAGE_NONE);
    MessageBoxA(GetFocus(), text, caption, MB_OK | MB_ICONERROR);
    *exitCode = EXIT_STARTUP_FAILURE;
    return false;
}

// Opens the output at the requested mode or by the automatic fallbacks; the open mode becomes
// the current one and the mode the resolution switch returns to.
bool openStartupDisplay() {
    DisplaySettings& d = program.output;
    if (d.resolutionGiven) {
        if (!openDisplayMode(d.requestedMode, d.requestedWidth, d.requestedHeight)) return false;
    } else {
        int mode = 0, width = 0, height = 0;
        d.output = openOutput(d.window, d.refresh, &mode, &width, &height);
        if (d.output == 0) return false;
        d.currentMode = mode;
        d.width = static_cast<float>(width);
        d.height = static_cast<float>(height);
    }
    d.startupMode = d.currentMode;
    d.startupWidth = static_cast<int>(d.width);
    d.startupHeight = static_cast<int>(d.height);
    return true;
}

// The window, the device, the output and what belongs to it, then the scene; each stage
// recorded as it is taken.
bool startDisplayAndScene(int* exitCode) {
    DisplaySettings& d = program.output;
    d.window = createAppWindow(CAPTION, 0, 0, 100, 100, WINDOW_CONFINE_CURSOR | WINDOW_MAXIMISED);
    if (d.window == nullptr) return failStartup("couldn't create a window", CAPTION, exitCode);
    program.stage = STAGE_WINDOW;
    SetWindowTextA(d.window, WINDOW_TITLE);
    if (!deviceStart()) return failStartup("couldn't initialize vexa", "Murlo", exitCode);
    program.stage = STAGE_DEVICE;
    if (textureUnitCount() == 1 && d.refresh == VX_REFRESH_DEFAULT) d.refresh = VX_REFRESH_60;
    d.alternateMode = VX_RES_640x480;
    d.alternateWidth = 640;
    d.alternateHeight = 480;

    if (!openStartupDisplay()) {
        char text[64];
        if (d.resolutionGiven) {
            std::snprintf(text, sizeof text, "couldn't open display (%dx%d)", d.requestedWidth,
                          d.requestedHeight);
        } else {
            std::snprintf(text, sizeof text, "couldn't open display (640x480)");
        }
        return failStartup(text, CAPTION, exitCode);
    }
    program.stage = STAGE_OUTPUT;
    if (!deviceSetup()) return failStartup("couldn't setup Vexa", "Dangerous", exitCode);
    const int width = static_cast<int>(d.width);
    const int height = static_cast<int>(d.height);
    const RECT screen = {0, 0, width, height};
    ClipCursor(&screen);
    program.stage = STAGE_CAPTURE;
    if (program.capture.captureCount != 0 &&
        !setCaptureRect(0, 0, static_cast<std::uint16_t>(width),
                        static_cast<std::uint16_t>(height))) {
        return failStartup("couldn't setup screen capture rect", CAPTION, exitCode);
    }
    setupOutputState();
    program.stage = STAGE_CONSOLE;

    POINT cursor = {0, 0};
    GetCursorPos(&cursor);
    program.input.pointer.x = cursor.x;
    program.input.pointer.y = cursor.y;
    setMessageHook(appWindowProc);
    program.input.heldKeys = 0;
    resetSpin(program.viewer.dragSpin);
    resetSpin(program.viewer.lightSpin);
    program.viewer.spinTarget = &program.viewer.dragSpin;

    if (!loadScene()) return failStartup("couldn't initialize surface", CAPTION, exitCode);
    program.stage = STAGE_SCENE;
    return true;
}

}  // namespace

bool openDisplayMode(int mode, int width, int height) {
    DisplaySettings& d = program.output;
    const VxContext output = openOutputAt(d.window, mode, d.refresh);
    if (output == 0) return false;
    d.output = output;
    d.currentMode = mode;
    d.width = static_cast<float>(width);
    d.height = static_cast<float>(height);
    return true;
}

void setFixedRenderState() {
    const int units = textureUnitCount() >= 2 ? 2 : 1;
    for (int unit = 0; unit < units; ++unit) {
        vxSetTexFilter(unit, VX_FILTER_BILINEAR, VX_FILTER_BILINEAR);
        vxSetTexLodBias(unit, 0.5f);
        vxSetTexMipMapMode(unit, VX_MIPMAP_NEAREST, false);
        vxSetTexClamp(unit, VX_TEXCLAMP_WRAP, VX_TEXCLAMP_WRAP);
    }
    vxSetAlphaTestReference(255);
    vxSetCullMode(VX_CULL_NEGATIVE);
    vxSetDepthMode(VX_DEPTH_WBUFFER);
    vxSetDepthFunction(VX_CMP_LEQUAL);
    vxSetDepthMask(true);
    vxSetAlphaTest(VX_CMP_ALWAYS);
    vxSetClipWindow(0, 0, static_cast<int>(program.output.width),
                    static_cast<int>(program.output.height));
    vxSetCoordinateSpace(VX_WINDOW_COORDS);
    declareVertexLayout();

    std::int32_t entries = 0;
    vxQuery(VX_QUERY_FOG_TABLE_ENTRIES, 4, &entries);
    // The table maker always fills the board's full table, so never allocate less than that.
    const int size = entries > VX_FOG_TABLE_ENTRIES ? entries : VX_FOG_TABLE_ENTRIES;
    std::uint8_t* fogTable = new (std::nothrow) std::uint8_t[size];
    if (fogTable == nullptr) std::exit(EXIT_FATAL);
    vxMakeFogTableExp2(fogTable, FOG_DENSITY);
    vxSetFogTable(fogTable);
    delete[] fogTable;
    vxSetFogColor(0);
    vxSetFogMode(VX_FOG_WTABLE);
}

void setupOutputState() {
    setFixedRenderState();
    if (!renderOptions.fog) vxSetFogMode(VX_FOG_DISABLE);
    consoleInit(0.0f, 0.0f, 1.0f, 1.0f, program.output.width, program.output.height,
                CONSOLE_COLUMNS, CONSOLE_ROWS, STATISTICS_COLOUR);
    consoleClear();
    if (program.stage >= STAGE_SCENE) reloadTextures();
}

bool loadScene() {
    releaseSurfaces(scene.surfaces);
    forgetWaveStamps(scene.waves);
    // Every file is tried, so that one run names everything that is missing or refused (run
    // outside its folder, all three); the caller shows its own message. Each file is read from
    // the working folder, or else where the program's own data is (dataFileToRead).
    char reason[SURFACE_REASON_MAX > IMAGE_REASON_MAX ? SURFACE_REASON_MAX : IMAGE_REASON_MAX];
    char path[SAVE_PATH_MAX];
    bool loaded = true;
    dataFileToRead(SURFACE_TEXTURE_FILE, path, sizeof path);
    if (!loadTextureImage(path, scene.surfaceTexture.info, TEXEL_RGB_565, -1, true, reason,
                          sizeof reason)) {
        reportError("%s\n", reason);
        loaded = false;
    }
    dataFileToRead(ENVIRONMENT_TEXTURE_FILE, path, sizeof path);
    if (!loadTextureImage(path, scene.environmentTexture.info, TEXEL_ARGB_4444, 127, true, reason,
                          sizeof reason)) {
        reportError("%s\n", reason);
        loaded = false;
    }
    dataFileToRead(SURFACE_FILE, path, sizeof path);
    if (!loadSurfaceFile(scene.surfaces, path, reason, sizeof reason)) {
        reportError("%s\n", reason);
        loaded = false;
    } else if (reason[0] != '\0') {
        reportError("%s\n", reason);   // loaded, with a warning (a file that may be cut short)
    }
    scene.surfaceTexture.name = SURFACE_TEXTURE_FILE;
    scene.environmentTexture.name = ENVIRONMENT_TEXTURE_FILE;
    if (!loaded) {
        textureFree(scene.surfaceTexture);
        textureFree(scene.environmentTexture);
        releaseSurfaces(scene.surfaces);
        return false;
    }
    cacheLoad(*display.device.textureCaches[0], scene.surfaceTexture);
    if (textureUnitCount() >= 2) cacheLoad(*display.device.textureCaches[1], scene.environmentTexture);
    renderOptions.surfaceType = SURFACE_BSPLINE;
    return true;
}

void reloadTextures() {
    cacheRefresh(*display.device.textureCaches[0], scene.surfaceTexture);
    if (textureUnitCount() >= 2) cacheRefresh(*display.device.textureCaches[1], scene.environmentTexture);
}

void releaseScene() {
    releaseSurfaces(scene.surfaces);
    releaseDrawnPatches();
    releaseSurfacePass();
    clearWaveLifts(scene.waves);   // they were heights of points that are gone
    forgetWaveStamps(scene.waves);
    if (display.device.textureCaches[0] != nullptr) {
        cacheRelease(*display.device.textureCaches[0], scene.surfaceTexture);
    }
    if (textureUnitCount() >= 2 && display.device.textureCaches[1] != nullptr) {
        cacheRelease(*display.device.textureCaches[1], scene.environmentTexture);
    } else {
        // With one unit the environment map was read but never made resident: its texels
        // are freed here so they do not outlive the scene.
        textureFree(scene.environmentTexture);
    }
}

void shutdownDisplay() {
    releaseStagesAbove(STAGE_WINDOW);
}

void chooseProcessorPaths() {
    vxQueryProcessor(&program.cpu);
    chooseLightingRoutines(program.cpu);
    chooseGridRoutines(program.cpu);
}

void resetProgramDefaults() {
    resetRenderOptions();
    program.camera = CAMERA_DEFAULT;
    program.editor = EditorState{};
    resetCaptureState();
    resetInspectionTools();
    textureInit(scene.surfaceTexture);
    textureInit(scene.environmentTexture);
    program.output = DisplaySettings{};  // no -res given, refresh VX_REFRESH_DEFAULT (0)
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
    saveFileSweep(SURFACE_FILE);
    sweepStaleCaptures();

    if (readCommandLine(argc, argv) == COMMAND_LINE_CANCELLED) {
        releaseStagesAbove(STAGE_NONE);
        return false;
    }
    return startDisplayAndScene(exitCode);
}

void stopProgram() {
    releaseStagesAbove(STAGE_NONE);
}

int runApplication(int argc, char** argv) {
    int exitCode = 0;
    if (!startProgram(argc, argv, &exitCode)) return exitCode;
    const int result = runMainLoop();
    // The quit message comes only after the window destroyed itself.
    program.output.window = nullptr;
    stopProgram();
    return result;
}
