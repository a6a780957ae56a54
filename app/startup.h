// Start-up: command line, window and output set-up with fallbacks, the fixed render state,
// the scene's load, reload and release; then the main loop until the quit message.
#pragma once

#include <cstdint>

#include "platform/win32.h"
#include "vexa/vexa.h"

constexpr const char* SURFACE_FILE = "data/vorl.txt";
constexpr const char* SURFACE_TEXTURE_FILE = "data/tex.tga";
constexpr const char* ENVIRONMENT_TEXTURE_FILE = "data/env.tga";
constexpr int EXIT_STARTUP_FAILURE = -1;
constexpr int EXIT_FATAL = static_cast<int>(0xDEADBEEF);
constexpr float FOG_DENSITY = 0.007f;

struct DisplaySettings {
    int requestedMode;          // VxResolution named by -res
    int requestedWidth, requestedHeight;
    bool resolutionGiven;
    int refresh;                // VxRefresh; VX_REFRESH_DEFAULT lets the device choose
    int currentMode;
    float width, height;        // the open output's size
    int startupMode;            // the mode opened at start-up
    int startupWidth, startupHeight;
    int alternateMode;
    int alternateWidth, alternateHeight;
    HWND window;
    VxContext output;
    bool shutDown;              // the close clean-up has run
};
extern DisplaySettings displaySettings;

int runApplication(int argc, char** argv);
// Detects the processor and fills the lighting and transform routine tables.
void chooseProcessorPaths();
// Options, camera, capture state, textures and display settings back to their defaults.
void resetProgramDefaults();
// The rasterizer state that never changes while the output is open.
void setFixedRenderState();
bool loadScene();
void reloadTextures();
void releaseScene();
// The close request's clean-up: output closed, scene, console and device released. Runs once.
void shutdownDisplay();
