// The web back end: the page's canvas is the window. The page turns its own events (keys,
// the locked mouse, touch drags, its on-screen buttons, its close request) into entries of an
// input ring in the program's memory (webInput); each pump drains the ring into the layer's
// messages, so page and program share nothing else. Frames are converted from 5-6-5 to RGBA
// in one vector pass into a buffer made when the size changes and painted into the canvas by the
// page's main thread (with worker threads at its next animation frame, the latest frame
// only: see WebFrame); message boxes are the page's own dialogs (Module.vorlAsk).
// Threads: the build with worker threads runs the program on a thread of its own (the page's
// main thread only paints, answers and handles events, and never waits); the build without
// hands control back to the browser after every frame (Asyncify) and awaits the dialogs.
// Entry points: webStart, webInput. Reaches the layer through platform/backend.h.
#include <emscripten.h>
#if defined(__wasm_simd128__)
#include <wasm_simd128.h>
#endif
#if defined(__EMSCRIPTEN_PTHREADS__)
#include <emscripten/threading.h>
#endif

#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
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

// Frames on their way to the canvas. With worker threads and no vertical sync the program
// never waits for the page: it converts each frame into a free slot and marks it pending,
// taking back the pending frame before it if the page has not started on that one, and the
// page paints the pending frame at its next animation frame. A canvas shows no more frames
// than the display does, so the frames it would have overwritten before the display took
// them are not painted at all, and the page's main thread paints at most once a display
// frame. Every frame painted is a whole frame; the last one is always painted (webStop).
// With vertical sync the program waits until its frame is painted, one frame a display frame.
// Three slots: one the page paints, one pending, one the program writes.
constexpr int WEB_FRAME_SLOTS = 3;
constexpr int WEB_STATUS_SIZE = 256;
enum WebFrameState {
    WEB_FRAME_FREE = 0,       // the program may write it
    WEB_FRAME_PENDING = 1,    // a whole frame, waiting for the page
    WEB_FRAME_PAINTING = 2,   // the page is painting it
};
// The page reads a slot by these offsets (int32 words): state, pixels, width, height, then
// the statistics line as it stood when the frame was drawn.
struct WebFrame {
    std::atomic<std::int32_t> state;      // WebFrameState; moved by both sides
    const std::uint32_t* pixels;          // RGBA bytes (the program's slot buffer)
    std::int32_t width, height;
    char status[WEB_STATUS_SIZE];
};
static_assert(sizeof(void*) == 4 && offsetof(WebFrame, width) == 8 &&
                  offsetof(WebFrame, status) == 16 && sizeof(WebFrame) == 16 + WEB_STATUS_SIZE,
              "the page reads the slots by these offsets");

struct WebState {
    bool draw;                                          // false with --headless
    WebFrame frames[WEB_FRAME_SLOTS];
    std::vector<std::uint32_t> rgba[WEB_FRAME_SLOTS];   // each slot's pixels, grown on size change
    std::atomic<std::int32_t> paintAsked;               // 1 while a paint of the page is due
};
WebState webState;

// The painter and the page's hooks, defined once on the page's main thread: paints RGBA
// bytes into the canvas (resizing it when needed; the bytes are copied into an image kept
// between frames, as a shared memory cannot back one), counts the frame and hands the
// statistics line to the page when it differs from the one shown. vorlPaintSlots paints the
// pending slot, if any (see WebFrame), and frees it.
void definePainter() {
    MAIN_THREAD_EM_ASM({
        Module['vorlStatus'] = "";
        Module['vorlPaintSlots'] = function(slots, count, size, asked) {
            Atomics.store(HEAP32, asked >> 2, 0);
            for (var i = 0; i < count; ++i) {
                var slot = slots + i * size;
                var state = slot >> 2;
                if (Atomics.compareExchange(HEAP32, state, 1, 2) !== 1) continue;
                Module['vorlPaint'](HEAPU32[state + 1], HEAP32[state + 2], HEAP32[state + 3],
                                    slot + 16);
                Atomics.store(HEAP32, state, 0);
                Atomics.notify(HEAP32, state);
                return;
            }
        };
        Module['vorlPaint'] = function(pixels, width, height, statusAt) {
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
            var status = UTF8ToString(statusAt);
            var changed = status !== Module['vorlStatus'];
            Module['vorlStatus'] = status;
            if (Module['onFrameShown']) Module['onFrameShown'](changed ? status : null);
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

#if defined(__EMSCRIPTEN_PTHREADS__)
// Asks the page to paint the pending slot: at its next animation frame, or at once (the last
// frame, when the program stops). A paint already due covers a frame made pending since.
void askPaint(bool atOnce) {
    WebState& s = webState;
    if (s.paintAsked.exchange(1) != 0 && !atOnce) return;
    MAIN_THREAD_ASYNC_EM_ASM({
        var paint = function() { Module['vorlPaintSlots']($0, $1, $2, $3); };
        if ($4) paint(); else requestAnimationFrame(paint);
    }, s.frames, WEB_FRAME_SLOTS, static_cast<int>(sizeof(WebFrame)), &s.paintAsked,
       atOnce ? 1 : 0);
}

// Waits until slot `f` is free again (painted, or taken back).
void waitUntilFree(WebFrame& f) {
    for (std::int32_t state = f.state.load(); state != WEB_FRAME_FREE; state = f.state.load()) {
        emscripten_futex_wait(reinterpret_cast<std::int32_t*>(&f.state), state, INFINITY);
    }
}
#endif

// Hands slot `f`, filled, to the page (see WebFrame). The build without threads paints it
// now and hands control back to the browser until its next animation frame (vertical sync)
// or at once.
void paint(WebFrame& f, bool verticalSync) {
#if defined(__EMSCRIPTEN_PTHREADS__)
    // The frame pending before this one is overwritten on the canvas before the display takes
    // it: taken back, unless the page has started painting it.
    for (WebFrame& other : webState.frames) {
        std::int32_t pending = WEB_FRAME_PENDING;
        if (&other != &f) other.state.compare_exchange_strong(pending, WEB_FRAME_FREE);
    }
    f.state.store(WEB_FRAME_PENDING);
    askPaint(false);
    if (verticalSync) waitUntilFree(f);
#else
    EM_ASM({ Module['vorlPaint']($0, $1, $2, $3); }, f.pixels, f.width, f.height, f.status);
    f.state.store(WEB_FRAME_FREE);
    yieldToBrowser(verticalSync ? 1 : 0);
#endif
}

// A free slot; with three there is always one (one painted, one pending, at most).
WebFrame& freeSlot(int* index) {
    for (int i = 0;; i = (i + 1) % WEB_FRAME_SLOTS) {
        if (webState.frames[i].state.load() == WEB_FRAME_FREE) {
            *index = i;
            return webState.frames[i];
        }
    }
}

// 5-6-5 pixels to RGBA bytes (R, G, B, 255), each field as the program's TGA files expand it.
// Eight pixels a step with WebAssembly's vector instructions: red and green are paired into
// one 16-bit lane, blue and the opaque alpha into another, and the two interleaved.
void toRgba(const std::uint16_t* pixels, std::uint32_t* out, std::size_t count) {
    std::size_t i = 0;
#if defined(__wasm_simd128__)
    const v128_t low6 = wasm_i16x8_splat(0x3F);
    const v128_t low5 = wasm_i16x8_splat(0x1F);
    const v128_t opaque = wasm_i16x8_splat(static_cast<std::int16_t>(0xFF00));
    for (; i + 8 <= count; i += 8) {
        const v128_t p = wasm_v128_load(pixels + i);
        const v128_t red = wasm_i16x8_shl(wasm_u16x8_shr(p, 11), 3);
        const v128_t green = wasm_i16x8_shl(wasm_v128_and(wasm_u16x8_shr(p, 5), low6), 2);
        const v128_t blue = wasm_i16x8_shl(wasm_v128_and(p, low5), 3);
        const v128_t redGreen = wasm_v128_or(red, wasm_i16x8_shl(green, 8));
        const v128_t blueAlpha = wasm_v128_or(blue, opaque);
        wasm_v128_store(out + i,
                        wasm_i16x8_shuffle(redGreen, blueAlpha, 0, 8, 1, 9, 2, 10, 3, 11));
        wasm_v128_store(out + i + 4,
                        wasm_i16x8_shuffle(redGreen, blueAlpha, 4, 12, 5, 13, 6, 14, 7, 15));
    }
#endif
    for (; i < count; ++i) {
        const Rgb888 rgb = expandRgb565(pixels[i]);
        out[i] = 0xFF000000u | std::uint32_t{rgb.blue} << 16 | std::uint32_t{rgb.green} << 8 |
                 rgb.red;   // bytes R, G, B, A
    }
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
    int index = 0;
    WebFrame& f = freeSlot(&index);
    std::vector<std::uint32_t>& rgba = s.rgba[index];
    const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    if (rgba.size() != count) rgba.resize(count);   // only when the size changes
    std::uint32_t* out = rgba.data();
    toRgba(pixels, out, count);
    f.pixels = out;
    f.width = width;
    f.height = height;
    std::snprintf(f.status, sizeof f.status, "%s", backendStatusLine());
    paint(f, swapInterval == 1);
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

// The last frame, if still pending, is painted now; no slot is in the page's hands after.
void webStop() {
    WebState& s = webState;
#if defined(__EMSCRIPTEN_PTHREADS__)
    if (s.draw) {
        askPaint(true);
        for (WebFrame& f : s.frames) waitUntilFree(f);
    }
#endif
    s.draw = false;
    for (std::vector<std::uint32_t>& rgba : s.rgba) rgba = {};
}

}  // namespace

// The ring the page writes its events into (see WebInput); its address does not change.
extern "C" EMSCRIPTEN_KEEPALIVE WebInput* webInput() { return &webInputRing; }

bool webStart(PlatformBackend* backend, bool headless) {
    webState.draw = !headless;
    for (int i = 0; i < WEB_FRAME_SLOTS; ++i) {
        webState.frames[i].state.store(WEB_FRAME_FREE);
        webState.rgba[i] = {};
    }
    webState.paintAsked.store(0);
    if (webState.draw) definePainter();
    *backend = PlatformBackend{};
    backend->name = headless ? "web-headless" : "web";
    backend->stop = webStop;
    backend->pumpEvents = webPumpEvents;
    backend->showFrame = webShowFrame;
    backend->showFrameCopies = true;   // converted into a slot of its own at once
    backend->messageBox = webMessageBox;
    // No screen size: the picture is the page's whole desktop, so the cursor is kept on the
    // output, as in a headless run (a window narrower than the output, a phone's, would
    // otherwise stop the cursor, and the view, short of the output's right side).
    backend->screenSize = nullptr;
    return true;
}
