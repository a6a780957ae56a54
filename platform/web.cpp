// The web back end: the page's canvas is the window. The page turns its own events (keys,
// the locked mouse, touch drags, its on-screen buttons, its close request) into entries of an
// input ring in the program's memory (webInput); each pump drains the ring into the layer's
// messages, so page and program share nothing else. Frames are converted from 5-6-5 to RGBA
// in one pass into a buffer made when the size changes and painted into the canvas by the
// page's main thread; message boxes are the page's own dialogs (Module.vorlAsk).
// Threads: the build with worker threads runs the program on a thread of its own (the page's
// main thread only paints, answers and handles events, and never waits); the build without
// hands control back to the browser after every frame (Asyncify) and awaits the dialogs.
// Entry points: webStart, webInput. Reaches the layer through platform/backend.h.
#include <emscripten.h>
#if defined(__EMSCRIPTEN_PTHREADS__)
#include <emscripten/threading.h>
#endif

#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/backend.h"

// The page's events: `written` counts entries the page has put in, `taken` those the program
// has handled; entry i sits at events[i % WEB_INPUT_CAPACITY]. Only the page moves `written`
// and only the program moves `taken`, so the ring needs no lock; a full ring drops the event.
constexpr int WEB_INPUT_CAPACITY = 1024;
enum WebInputKind {
    WEB_INPUT_KEY = 1,      // a: virtual-key code; b: bit 0 down, bit 1 auto-repeat
    WEB_INPUT_MOVE = 2,     // a, b: relative motion in output pixels
    WEB_INPUT_BUTTON = 3,   // a: 1 left, 0 right; b: 1 down, 0 up
    WEB_INPUT_CLOSE = 4,    // the page asks the program to end (as closing a window does)
};
struct WebInputEvent {
    std::int32_t kind, a, b;
};
struct WebInput {
    std::atomic<std::uint32_t> written;
    std::atomic<std::uint32_t> taken;
    WebInputEvent events[WEB_INPUT_CAPACITY];
};
static_assert(sizeof(WebInputEvent) == 12 && offsetof(WebInput, events) == 8,
              "the page writes the ring by these offsets");

namespace {

WebInput webInputRing;

struct WebState {
    bool draw;                          // false with --headless
    std::vector<std::uint32_t> rgba;    // the frame as RGBA bytes, grown on size change
    char statusShown[256];              // the statistics line the page was last given
};
WebState webState;

// The painter and the page's hooks, defined once on the page's main thread: paints RGBA
// bytes into the canvas (resizing it when needed; the bytes are copied into an image kept
// between frames, as a shared memory cannot back one), counts the frame and hands a new
// statistics line to the page.
void definePainter() {
    MAIN_THREAD_EM_ASM({
        Module['vorlPaint'] = function(pixels, width, height, status) {
            var canvas = Module['canvas'];
            if (!canvas) return;
            if (canvas.width != width || canvas.height != height) {
                canvas.width = width;
                canvas.height = height;
                Module['vorlImage'] = null;
            }
            var context = Module['vorlContext'] || (Module['vorlContext'] = canvas.getContext('2d'));
            var image = Module['vorlImage'];
            if (!image) image = Module['vorlImage'] = context.createImageData(width, height);
            image.data.set(HEAPU8.subarray(pixels, pixels + width * height * 4));
            context.putImageData(image, 0, 0);
            if (Module['onFrameShown']) Module['onFrameShown'](status ? UTF8ToString(status) : null);
        };
    });
}

#if defined(__EMSCRIPTEN_PTHREADS__)
// The program's thread waits for the page's main thread, which is never the one waiting.
void waitForFlag(std::atomic<std::int32_t>& flag) {
    while (flag.load() == 0) {
        emscripten_futex_wait(reinterpret_cast<std::int32_t*>(&flag), 0, INFINITY);
    }
}
#else
// Hands control to the browser until its next animation frame (vertical sync) or at once.
EM_ASYNC_JS(void, yieldToBrowser, (int waitForAnimationFrame), {
    await new Promise(function(resume) {
        if (waitForAnimationFrame) {
            requestAnimationFrame(function() { resume(); });
        } else {
            // A message comes back within the same turn of the event loop, unlike a timer.
            var channel = new MessageChannel();
            channel.port1.onmessage = function() { resume(); };
            channel.port2.postMessage(0);
        }
    });
});

// The page's dialog, awaited: 1 for OK, 2 for Cancel (Windows' IDOK and IDCANCEL).
EM_ASYNC_JS(int, askPage, (const char* text, const char* caption, int withCancel), {
    var ask = Module['vorlAsk'];
    if (!ask) return 1;
    return await ask(UTF8ToString(text), UTF8ToString(caption), withCancel != 0);
});
#endif

// Paints the frame now, or with vertical sync at the page's next animation frame; returns
// when the page has painted it (the RGBA buffer is then free again). `status` is the new
// statistics line, or null when it did not change.
void paint(const std::uint32_t* pixels, int width, int height, const char* status,
           bool verticalSync) {
#if defined(__EMSCRIPTEN_PTHREADS__)
    if (verticalSync) {
        std::atomic<std::int32_t> painted{0};
        MAIN_THREAD_ASYNC_EM_ASM({
            requestAnimationFrame(function() {
                Module['vorlPaint']($0, $1, $2, $3);
                Atomics.store(HEAP32, $4 >> 2, 1);
                Atomics.notify(HEAP32, $4 >> 2);
            });
        }, pixels, width, height, status, &painted);
        waitForFlag(painted);
        return;
    }
    MAIN_THREAD_EM_ASM({ Module['vorlPaint']($0, $1, $2, $3); }, pixels, width, height, status);
#else
    EM_ASM({ Module['vorlPaint']($0, $1, $2, $3); }, pixels, width, height, status);
    yieldToBrowser(verticalSync ? 1 : 0);
#endif
}

// Hands the page's events to the layer, in the order the page gave them.
void webPumpEvents() {
    WebInput& ring = webInputRing;
    std::uint32_t taken = ring.taken.load(std::memory_order_relaxed);
    const std::uint32_t written = ring.written.load(std::memory_order_acquire);
    for (; taken != written; ++taken) {
        const WebInputEvent e = ring.events[taken % WEB_INPUT_CAPACITY];
        switch (e.kind) {
        case WEB_INPUT_KEY: backendPostKey(e.a, (e.b & 1) != 0, (e.b & 2) != 0); break;
        case WEB_INPUT_MOVE: backendMoveCursorBy(e.a, e.b); break;
        case WEB_INPUT_BUTTON: backendPostButton(e.a != 0, e.b != 0); break;
        case WEB_INPUT_CLOSE: backendPostClose(); break;
        default: break;   // an entry of a kind this program does not know is skipped
        }
    }
    ring.taken.store(taken, std::memory_order_release);
}

void webShowFrame(const std::uint16_t* pixels, int width, int height, int swapInterval) {
    WebState& s = webState;
    if (!s.draw) {
#if !defined(__EMSCRIPTEN_PTHREADS__)
        yieldToBrowser(0);   // a headless run on the page's thread still lets the page live
#endif
        return;
    }
    const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    if (s.rgba.size() != count) s.rgba.resize(count);   // only when the size changes
    for (std::size_t i = 0; i < count; ++i) {
        const Rgb888 rgb = expandRgb565(pixels[i]);   // as the program's TGA files have it
        s.rgba[i] = 0xFF000000u | std::uint32_t{rgb.blue} << 16 | std::uint32_t{rgb.green} << 8 |
                    rgb.red;   // bytes R, G, B, A
    }
    // The statistics line goes to the page only when it changed.
    const char* line = backendStatusLine();
    const bool changed = std::strncmp(line, s.statusShown, sizeof s.statusShown) != 0;
    if (changed) std::strncpy(s.statusShown, line, sizeof s.statusShown - 1);
    paint(s.rgba.data(), width, height, changed ? s.statusShown : nullptr, swapInterval == 1);
}

bool webMessageBox(const char* text, const char* caption, unsigned type, int* result) {
    // A scripted answer means nobody is there to click: answer without showing a box.
    if (backendAnswerGiven() || !webState.draw) return false;
    const bool withCancel = (type & BACKEND_MB_TYPE_MASK) == BACKEND_MB_OKCANCEL;
    text = text ? text : "";
    caption = caption ? caption : "Error";
#if defined(__EMSCRIPTEN_PTHREADS__)
    std::atomic<std::int32_t> answer{0};
    MAIN_THREAD_ASYNC_EM_ASM({
        var ask = Module['vorlAsk'] || function() { return Promise.resolve(1); };
        ask(UTF8ToString($0), UTF8ToString($1), $2 != 0).then(function(given) {
            Atomics.store(HEAP32, $3 >> 2, given == 2 ? 2 : 1);
            Atomics.notify(HEAP32, $3 >> 2);
        });
    }, text, caption, withCancel ? 1 : 0, &answer);
    waitForFlag(answer);
    const int given = answer.load();
#else
    const int given = askPage(text, caption, withCancel ? 1 : 0);
#endif
    // A box with OK alone answers OK however it was closed, as Windows' does.
    *result = withCancel && given == 2 ? BACKEND_IDCANCEL : BACKEND_IDOK;
    return true;
}

void webStop() {
    webState.draw = false;
    webState.rgba = {};
}

}  // namespace

// The ring the page writes its events into (see WebInput); its address does not change.
extern "C" EMSCRIPTEN_KEEPALIVE WebInput* webInput() { return &webInputRing; }

bool webStart(PlatformBackend* backend, bool headless) {
    webState.draw = !headless;
    webState.rgba = {};
    webState.statusShown[0] = '\0';
    if (webState.draw) definePainter();
    *backend = PlatformBackend{};
    backend->name = headless ? "web-headless" : "web";
    backend->stop = webStop;
    backend->pumpEvents = webPumpEvents;
    backend->showFrame = webShowFrame;
    backend->messageBox = webMessageBox;
    // No screen size: the picture is the page's whole desktop, so the cursor is kept on the
    // output, as in a headless run (a window narrower than the output, a phone's, would
    // otherwise stop the cursor, and the view, short of the output's right side).
    backend->screenSize = nullptr;
    return true;
}
