// The web back end: the page's canvas is the window. Browser key and mouse events on the canvas
// become the layer's messages (the keys' codes are Windows' own virtual-key codes); a click
// locks the pointer, and its motion then turns the view. Each frame is converted from 5-6-5
// to RGBA in one pass into a buffer made when the size changes, and put into the canvas; the
// program's own blocking loop is kept by handing control back to the browser after every
// frame (at its next animation frame with vertical sync, at once without). Message boxes are
// the browser's dialogs. With --headless nothing is drawn, but control still goes back to the
// browser every frame. Entry point: webStart. Reaches the layer through platform/backend.h.
#include <emscripten.h>
#include <emscripten/html5.h>

#include <cstdint>
#include <vector>

#include "platform/backend.h"

namespace {

constexpr const char* CANVAS = "#canvas";

struct WebState {
    bool draw;                          // false with --headless
    std::vector<std::uint32_t> rgba;    // the frame as RGBA bytes, grown on size change
    int width, height;
};
WebState webState;

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

// Puts width x height RGBA bytes at `pixels` into the canvas, resizing it when needed. The
// bytes are copied into an image kept between frames (a shared memory cannot back it).
EM_JS(void, putFrame, (const void* pixels, int width, int height), {
    var canvas = Module['canvas'];
    if (!canvas) return;
    if (canvas.width != width || canvas.height != height) {
        canvas.width = width;
        canvas.height = height;
        Module['vorlImage'] = null;
    }
    var context = Module['vorlContext'] || (Module['vorlContext'] = canvas.getContext('2d'));
    var image = Module['vorlImage'];
    if (!image || image.width != width || image.height != height) {
        image = Module['vorlImage'] = context.createImageData(width, height);
    }
    image.data.set(HEAPU8.subarray(pixels, pixels + width * height * 4));
    context.putImageData(image, 0, 0);
    if (typeof window !== 'undefined' && window['vorl']) window['vorl']['frames']++;
});

// A browser dialog: 1 for OK, 2 for Cancel (Windows' IDOK and IDCANCEL).
EM_JS(int, showDialog, (const char* text, const char* caption, int withCancel), {
    var message = UTF8ToString(caption) + '\n\n' + UTF8ToString(text);
    if (withCancel) return confirm(message) ? 1 : 2;
    alert(message);
    return 1;
});

// The virtual-key code of a browser key code, or 0 for keys the program has no use for. The
// browser's codes for these keys are Windows' own.
int virtualKey(unsigned long keyCode) {
    if (keyCode >= 'A' && keyCode <= 'Z') return static_cast<int>(keyCode);
    if (keyCode >= '0' && keyCode <= '9') return static_cast<int>(keyCode);
    switch (keyCode) {
    case 0x0D:   // Enter
    case 0x10:   // Shift
    case 0x1B:   // Escape
    case 0x23:   // End
    case 0x24:   // Home
    case 0x25: case 0x26: case 0x27: case 0x28:   // arrows
    case 0x70: case 0x71: case 0x72: case 0x73:   // F1 to F4; the browser keeps F5 and on
    case 0xBB:   // = and +
    case 0xBD:   // -
        return static_cast<int>(keyCode);
    case 0x3D: return 0xBB;   // = in some browsers
    case 0xAD: return 0xBD;   // - in some browsers
    default: return 0;
    }
}

EM_BOOL onKey(int type, const EmscriptenKeyboardEvent* e, void*) {
    const int vk = virtualKey(e->keyCode);
    if (vk == 0) return EM_FALSE;   // the browser keeps its own keys
    backendPostKey(vk, type == EMSCRIPTEN_EVENT_KEYDOWN, e->repeat != 0);
    return EM_TRUE;                 // F1 to F4 and the arrows must not reach the page
}

bool pointerLocked() {
    EmscriptenPointerlockChangeEvent state;
    return emscripten_get_pointerlock_status(&state) == EMSCRIPTEN_RESULT_SUCCESS &&
           state.isActive;
}

EM_BOOL onMouse(int type, const EmscriptenMouseEvent* e, void*) {
    switch (type) {
    case EMSCRIPTEN_EVENT_MOUSEMOVE:
        if (pointerLocked()) backendMoveCursorBy(e->movementX, e->movementY);
        return EM_TRUE;
    case EMSCRIPTEN_EVENT_MOUSEDOWN:
        if (!pointerLocked()) {
            // The first click takes the pointer, as games in a page do; it is not a click.
            emscripten_request_pointerlock(CANVAS, EM_TRUE);
            return EM_TRUE;
        }
        if (e->button == 0 || e->button == 2) backendPostButton(e->button == 0, true);
        return EM_TRUE;
    case EMSCRIPTEN_EVENT_MOUSEUP:
        if (pointerLocked() && (e->button == 0 || e->button == 2)) {
            backendPostButton(e->button == 0, false);
        }
        return EM_TRUE;
    default: return EM_FALSE;
    }
}

void webShowFrame(const std::uint16_t* pixels, int width, int height, int swapInterval) {
    WebState& s = webState;
    if (s.draw) {
        const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
        if (s.rgba.size() != count) s.rgba.resize(count);   // only when the size changes
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint32_t p = pixels[i];
            // Each field shifted to the top of its byte, as the program's TGA files have it.
            const std::uint32_t r = (p >> 11) << 3;
            const std::uint32_t g = ((p >> 5) & 0x3F) << 2;
            const std::uint32_t b = (p & 0x1F) << 3;
            s.rgba[i] = 0xFF000000u | (b << 16) | (g << 8) | r;   // bytes R, G, B, A
        }
        putFrame(s.rgba.data(), width, height);
        s.width = width;
        s.height = height;
    }
    yieldToBrowser(swapInterval == 1 ? 1 : 0);
}

bool webMessageBox(const char* text, const char* caption, unsigned type, int* result) {
    // A scripted answer means nobody is there to click: answer without showing a box.
    if (backendAnswerGiven() || !webState.draw) return false;
    const bool withCancel = (type & BACKEND_MB_TYPE_MASK) == BACKEND_MB_OKCANCEL;
    if (pointerLocked()) emscripten_exit_pointerlock();
    *result = showDialog(text ? text : "", caption ? caption : "Error", withCancel ? 1 : 0) == 2
                  ? BACKEND_IDCANCEL
                  : BACKEND_IDOK;
    return true;
}

bool webScreenSize(int* width, int* height) {
    *width = EM_ASM_INT({ return typeof window !== 'undefined' ? window.innerWidth || 0 : 0; });
    *height = EM_ASM_INT({ return typeof window !== 'undefined' ? window.innerHeight || 0 : 0; });
    return *width > 0 && *height > 0;
}

void webStop() {
    if (pointerLocked()) emscripten_exit_pointerlock();
    webState = WebState{};
}

}  // namespace

bool webStart(PlatformBackend* backend, bool headless) {
    webState = WebState{};
    webState.draw = !headless;
    if (webState.draw) {
        emscripten_set_keydown_callback(CANVAS, nullptr, EM_TRUE, onKey);
        emscripten_set_keyup_callback(CANVAS, nullptr, EM_TRUE, onKey);
        emscripten_set_mousedown_callback(CANVAS, nullptr, EM_TRUE, onMouse);
        emscripten_set_mouseup_callback(CANVAS, nullptr, EM_TRUE, onMouse);
        emscripten_set_mousemove_callback(CANVAS, nullptr, EM_TRUE, onMouse);
    }
    *backend = PlatformBackend{};
    backend->name = headless ? "web-headless" : "web";
    backend->stop = webStop;
    backend->showFrame = webShowFrame;
    backend->messageBox = webMessageBox;
    backend->screenSize = webScreenSize;
    return true;
}
