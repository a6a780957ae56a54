// Back-end choice and the run's start and end: the Windows back end on Windows, SDL where it
// was built in and a display answers, headless otherwise; the frame limit, clock and present
// hook are set here. Also what every back end reports through (backend.h): keys, buttons,
// relative motion of the virtual cursor, the close request. Question boxes are answered from
// a replayed recording and their answers recorded here, whatever the back end. Entry points:
// platformInitBackend, platformFinish, platformReset. Nothing here calls the program.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/platform.h"
#include "vexa/vexa.h"

PlatformBackend platformBackend;
static int backendKind = PLATFORM_BACKEND_HEADLESS;
static bool finished = false;
// The chosen back end's own message box, while a replay or a recording stands in front of it.
static bool (*backendMessageBox)(const char*, const char*, unsigned, int*) = nullptr;
static std::chrono::steady_clock::time_point runStart;   // for the replay's own speed

// A question box is answered by the recording being replayed while it has answers left
// (nobody is asked; the box is printed as a headless one), otherwise by the back end or the
// headless answer; a recording keeps every answer.
static bool answeredMessageBox(const char* text, const char* caption, unsigned type,
                               int* result) {
    const bool question = (type & BACKEND_MB_TYPE_MASK) == BACKEND_MB_OKCANCEL;
    int answer = 0;
    if (question && scriptNextAnswer(&answer)) {
        headlessMessageBox(text, caption, type);
        *result = answer;
    } else if (!backendMessageBox || !backendMessageBox(text, caption, type, result)) {
        *result = headlessMessageBox(text, caption, type);
    }
    if (question) recordAnswer(platformQueue.clockFrame, *result);
    return true;
}

int platformInitBackend() {
    backendKind = PLATFORM_BACKEND_HEADLESS;
    platformBackend = PlatformBackend{};
#if VORL_HAVE_WEB
    // In a page the program always runs through the canvas back end: even a headless run
    // must give control back to the browser.
    if (webStart(&platformBackend, platformOptions.headless)) {
        backendKind = platformOptions.headless ? PLATFORM_BACKEND_HEADLESS : PLATFORM_BACKEND_WEB;
    }
#endif
#if VORL_HAVE_WINDOWS
    if (!platformOptions.headless && windowsStart(&platformBackend)) {
        backendKind = PLATFORM_BACKEND_WINDOWS;
    }
#endif
#if VORL_HAVE_SDL
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const bool haveDisplay = (display && display[0]) || (wayland && wayland[0]);
    if (!platformOptions.headless && haveDisplay && sdlStart(&platformBackend)) {
        backendKind = PLATFORM_BACKEND_SDL;
    }
#endif
    if (backendKind == PLATFORM_BACKEND_HEADLESS && platformBackend.name == nullptr) {
        headlessStart(&platformBackend);
    }
    int frames = platformOptions.frames;
    if (frames == PLATFORM_FRAMES_DEFAULT && scriptReplaysClock()) {
        // A recording ends as its run did, with the close it holds; one cut short (the run
        // crashed) is closed after its last frame.
        frames = platformScript.lastFrame + 1;
    } else if (frames == PLATFORM_FRAMES_DEFAULT) {
        frames = backendKind == PLATFORM_BACKEND_HEADLESS ? PLATFORM_HEADLESS_FRAMES : -1;
    }
#if !VORL_HAVE_WEB
    // Nobody asked for a run without a window: say why there is none and what happens
    // instead, once, rather than drawing frames nobody sees in silence.
    if (!platformOptions.headless && backendKind == PLATFORM_BACKEND_HEADLESS) {
        std::fprintf(stderr, "vorl: no display found; running headless for %d frames "
                             "(--headless to silence, --help for options)\n", frames);
        std::fflush(stderr);
    }
#endif
    if (recordActive() || !platformScript.answers.empty()) {
        backendMessageBox = platformBackend.messageBox;
        platformBackend.messageBox = answeredMessageBox;
    }
    runStart = std::chrono::steady_clock::now();
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
        ok = frameSave(platformOptions.saveLastFrameFile, &error);
        if (!ok) std::fprintf(stderr, "%s\n", error.c_str());
    }
    std::string recordError;
    if (!recordFinish(&recordError)) {
        std::fprintf(stderr, "%s\n", recordError.c_str());
        ok = false;
    }
    if (scriptReplaysClock()) {
        // The statistics line reads the recorded clock, so it shows the recorded run's speed;
        // this is the replay's own.
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - runStart).count();
        std::fprintf(stderr, "replay: %d frames in %.3f s (%.2f frames per second)\n",
                     platformFrame.presented, seconds,
                     seconds > 0.0 ? platformFrame.presented / seconds : 0.0);
    }
    // A page prints it too: its console is where a run's figures are read.
    if ((backendKind == PLATFORM_BACKEND_HEADLESS || backendKind == PLATFORM_BACKEND_WEB) &&
        platformFrame.statusGiven) {
        std::string line = platformFrame.statusLine;
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    }
    // Summaries are asked for by options of scripted runs: printed whatever the back end.
    if (platformFrame.summaryLine[0] != '\0') {
        std::printf("%s\n", platformFrame.summaryLine);
        std::fflush(stdout);
    }
    if (platformBackend.stop) platformBackend.stop();
    platformBackend = PlatformBackend{};
    backendMessageBox = nullptr;
    headlessStart(&platformBackend);
    return ok;
}

void platformAttachConsole() {
#if VORL_HAVE_WINDOWS
    windowsAttachConsole();
#endif
}

void platformTell(const char* text, bool error) {
#if VORL_HAVE_WINDOWS
    if (windowsTellInBox(text, error)) return;
#endif
    std::FILE* stream = error ? stderr : stdout;
    std::fputs(text, stream);
    std::fflush(stream);
}

void platformReset() {
    if (platformBackend.stop) platformBackend.stop();
    std::vector<char*> none;
    std::string unused;
    platformParseOptions(0, nullptr, &platformOptions, &none, &unused);
    headlessStart(&platformBackend);
    backendKind = PLATFORM_BACKEND_HEADLESS;
    finished = false;
    backendMessageBox = nullptr;
    queueReset();
    windowsReset();
    scriptReset();
    frameReset();
    recordReset();
}

// lParam bits of key messages, as Windows sets them: repeat count 1, bit 30 the previous
// state (set for auto-repeat and for every key-up), bit 31 the transition (set for key-up).
constexpr LPARAM KEY_REPEAT_ONE = 0x00000001;
constexpr LPARAM KEY_PREVIOUS_DOWN = 0x40000000;
constexpr LPARAM KEY_RELEASED = static_cast<LPARAM>(0x80000000u);

void backendPostKey(int virtualKey, bool down, bool repeat) {
    if (down) {
        const LPARAM bits = KEY_REPEAT_ONE | (repeat ? KEY_PREVIOUS_DOWN : 0);
        queuePostInput(appWindow(), WM_KEYDOWN, static_cast<WPARAM>(virtualKey), bits);
    } else {
        const LPARAM bits = KEY_REPEAT_ONE | KEY_PREVIOUS_DOWN | KEY_RELEASED;
        queuePostInput(appWindow(), WM_KEYUP, static_cast<WPARAM>(virtualKey), bits);
    }
}

static void postMouse(UINT message) {
    const int x = platformWindows.cursorX;
    const int y = platformWindows.cursorY;
    queuePostInput(appWindow(), message, 0, MAKELPARAM(x, y));
}

void backendPostButton(bool left, bool down) {
    if (left) {
        postMouse(down ? WM_LBUTTONDOWN : WM_LBUTTONUP);
    } else {
        postMouse(down ? WM_RBUTTONDOWN : WM_RBUTTONUP);
    }
}

void backendMoveCursorBy(int dx, int dy) {
    if (dx == 0 && dy == 0) return;
    const int width =
        platformFrame.width > 0 ? platformFrame.width : GetSystemMetrics(SM_CXSCREEN);
    const int height =
        platformFrame.height > 0 ? platformFrame.height : GetSystemMetrics(SM_CYSCREEN);
    int x = platformWindows.cursorX + dx;
    int y = platformWindows.cursorY + dy;
    x = x < 0 ? 0 : (x >= width ? width - 1 : x);
    y = y < 0 ? 0 : (y >= height ? height - 1 : y);
    recordCursorNote();
    cursorMoveTo(x, y);
    recordCursorMoved();
    postMouse(WM_MOUSEMOVE);
}

void backendPostClose() {
    HWND app = appWindow();
    if (app) {
        queuePostInput(app, WM_CLOSE, 0, 0);
    } else {
        // With no window left the program is already on its way out: nothing to record.
        PostQuitMessage(0);
    }
}

const char* backendWindowTitle() {
    HWND app = appWindow();
    return app && app->title[0] ? app->title : "Vorl";
}

bool backendHeadless() { return backendKind == PLATFORM_BACKEND_HEADLESS; }

bool backendWindowed() { return platformOptions.windowed; }
bool backendAnswerGiven() { return platformOptions.answerGiven; }
