// Start-up: command line, window and output set-up with fallbacks, the fixed render state,
// the scene's load, reload and release; then the main loop until the quit message. Every
// resource start-up takes is one stage, released in reverse order from however far it got.
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

// The console over the whole screen: 80 columns, 40 rows, dark red text by default.
constexpr int CONSOLE_COLUMNS = 80;
constexpr int CONSOLE_ROWS = 40;
constexpr std::uint32_t STATISTICS_COLOUR = 0xFF00007F;  // dark red
constexpr std::uint32_t HELP_COLOUR = 0xFF007F00;        // dark green
// Behind the help: black that lets an eighth of the picture through, so that the dark green
// stays readable over the bright sea.
constexpr std::uint32_t HELP_BACKING_COLOUR = 0xE0000000;

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
};

// What start-up holds, in the order it is taken; released in the reverse order.
enum StartupStage : int {
    STAGE_NONE = 0,
    STAGE_SINE_TABLE,   // the wave animation's table
    STAGE_WINDOW,       // the application window
    STAGE_DEVICE,       // the started rasterizer (deviceStart), later its state block and caches
    STAGE_OUTPUT,       // the open output
    STAGE_CAPTURE,      // the capture buffers (when a capture count is set)
    STAGE_CONSOLE,      // the fixed render state and the console
    STAGE_SCENE,        // the textures and surfaces: the program is running
    STARTUP_STAGE_COUNT
};

enum CommandLineResult { COMMAND_LINE_OK, COMMAND_LINE_CANCELLED };
// Reads "-res", "-ref" and "-screencapture" from arguments 1 .. argc - 1 into the display
// settings and the capture count, asking (message boxes) about missing or unknown values;
// COMMAND_LINE_CANCELLED when the user cancelled a question.
CommandLineResult readCommandLine(int argc, char** argv);

// The whole start-up up to the main loop. True when the program is ready to run frames; false
// with *exitCode the process's exit code (0 when the user cancelled a command-line question or
// the sine table had no memory, EXIT_STARTUP_FAILURE after the failure's message box).
bool startProgram(int argc, char** argv, int* exitCode);
// Releases every stage still held (the close clean-up first); harmless when nothing is held.
void stopProgram();
// Detects the processor and fills the lighting routine table.
void chooseProcessorPaths();
// Options, camera, capture state, textures and display settings back to their defaults.
void resetProgramDefaults();
// Opens the output at `mode` (the device's colour-buffer count, then 2); on success it becomes
// the current mode with its size. False leaves the display settings as they were.
bool openDisplayMode(int mode, int width, int height);
// The rasterizer state that never changes while the output is open.
void setFixedRenderState();
// Everything that belongs to an open output: the fixed render state (fog as the options say),
// the console over the whole screen, and the textures downloaded again once the scene is in.
void setupOutputState();
bool loadScene();
void reloadTextures();
void releaseScene();
// The close request's clean-up: the scene, console, capture buffers, output and device are
// released. Runs once; afterwards frames draw nothing.
void shutdownDisplay();
