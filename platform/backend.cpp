// Back-end choice and the run's start and end: SDL where it was built in and a display
// answers, headless otherwise; the frame limit, clock and present hook are set here.
// Entry points: platformInitBackend, platformFinish, platformReset. The chosen back end's
// routines sit in platformBackend; nothing here calls the program.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/platform.h"
#include "vexa/vexa.h"

PlatformBackend platformBackend;
static int backendKind = PLATFORM_BACKEND_HEADLESS;
static bool finished = false;

int platformInitBackend() {
    backendKind = PLATFORM_BACKEND_HEADLESS;
    platformBackend = PlatformBackend{};
#if VORL_HAVE_SDL
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const bool haveDisplay = (display && display[0]) || (wayland && wayland[0]);
    if (!platformOptions.headless && haveDisplay && sdlStart(&platformBackend)) {
        backendKind = PLATFORM_BACKEND_SDL;
    }
#endif
    if (backendKind == PLATFORM_BACKEND_HEADLESS) headlessStart(&platformBackend);
    int frames = platformOptions.frames;
    if (frames == PLATFORM_FRAMES_DEFAULT) {
        frames = backendKind == PLATFORM_BACKEND_HEADLESS ? PLATFORM_HEADLESS_FRAMES : -1;
    }
    queueConfigure(frames, platformOptions.fixedClock, platformOptions.fixedClockStep);
    vxSetPresentHook(framePresent, nullptr);
    finished = false;
    return backendKind;
}

bool platformFinish() {
    if (finished) return true;
    finished = true;
    bool ok = true;
    if (platformOptions.saveLastFrameFile[0]) {
        std::string error;
        ok = frameSaveTga(platformOptions.saveLastFrameFile, &error);
        if (!ok) std::fprintf(stderr, "%s\n", error.c_str());
    }
    if (backendKind == PLATFORM_BACKEND_HEADLESS && platformFrame.statusGiven) {
        std::string line = platformFrame.statusLine;
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    }
    if (platformBackend.stop) platformBackend.stop();
    platformBackend = PlatformBackend{};
    headlessStart(&platformBackend);
    return ok;
}

void platformReset() {
    if (platformBackend.stop) platformBackend.stop();
    std::vector<char*> none;
    std::string unused;
    platformParseOptions(0, nullptr, &platformOptions, &none, &unused);
    headlessStart(&platformBackend);
    backendKind = PLATFORM_BACKEND_HEADLESS;
    finished = false;
    queueReset();
    windowsReset();
    scriptReset();
    frameReset();
}
