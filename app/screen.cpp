// The program's part of an open output: its state set up after each open, and the M key's
// switch (display/output.h reopens, this renews what hangs on the output's size).
#include "app/screen.h"

#include <cstdint>
#include <cstdlib>

#include "app/capture.h"
#include "app/program.h"
#include "display/console.h"
#include "display/display.h"
#include "display/output.h"
#include "platform/win32.h"
#include "render/options.h"
#include "render/scene.h"
#include "vexa/vexa.h"

namespace {

[[noreturn]] void fatalAfterSwitch(const char* text) {
    DestroyWindow(display.output.window);
    MessageBoxA(GetFocus(), text, "Vorl", MB_OK | MB_ICONERROR);
    std::exit(EXIT_FATAL);
}

}  // namespace

void setupOutputState() {
    const OutputState& out = display.output;
    outputSetFixedState();
    if (!renderOptions.fog) vxSetFogMode(VX_FOG_DISABLE);
    consoleInit(0.0f, 0.0f, 1.0f, 1.0f, static_cast<float>(out.width),
                static_cast<float>(out.height), CONSOLE_COLUMNS, CONSOLE_ROWS, STATISTICS_COLOUR);
    consoleClear();
    if (program.stage >= STAGE_SCENE) sceneReloadTextures();
}

void switchResolution() {
    int width = 0, height = 0;
    vxResolutionSize(outputSwitchTarget(), &width, &height);
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
        outputClose();
        vxShutdown();
        fatalAfterSwitch("couldn't setup screen capture rect");
    }
    if (!outputSwitch()) {
        vxShutdown();
        fatalAfterSwitch("couldn't open vexa window");
    }
    setupOutputState();
}
