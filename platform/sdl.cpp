// The SDL2 back end: a window made at the first presented frame (full-screen desktop, or the
// output's size with --windowed) showing each frame scaled with its aspect kept, and SDL's
// keyboard, mouse and quit events reported through the back-end routines whenever the queue
// is looked at. Entry point: sdlStart, which fills the back-end table. Never calls the program.
#include <SDL.h>

#include <cstdio>
#include <cstring>

#include "platform/backend.h"
#include "platform/win32.h"

struct SdlState {
    bool failed;              // the window or renderer could not be made: frames are not shown
    SDL_Window* window;
    SDL_Renderer* renderer;
    SDL_Texture* texture;
    int textureWidth, textureHeight;
    int desktopWidth, desktopHeight;
    int vsync;                // the swap interval last handed to the renderer, -1 = none yet
    // The pointer is the program's (relative mode: hidden, its motion turns the view). Full
    // screen always; a window gives it back on F6 or when it loses the focus, and takes it
    // again on a click into it (a click that is not passed on).
    bool pointerHeld;
    Uint8 swallowedButtons;   // SDL_BUTTON masks of taking clicks whose release is not passed on
};
static SdlState sdlState;

// The virtual-key code of an SDL key, or 0 for keys the program has no use for.
static int virtualKey(SDL_Keycode sym) {
    if (sym >= SDLK_a && sym <= SDLK_z) return 'A' + (sym - SDLK_a);
    if (sym >= SDLK_0 && sym <= SDLK_9) return '0' + (sym - SDLK_0);
    // SDL numbers F1 to F12 in a row, as Windows does.
    if (sym >= SDLK_F1 && sym <= SDLK_F12) return VK_F1 + (sym - SDLK_F1);
    switch (sym) {
    case SDLK_LEFT: return VK_LEFT;
    case SDLK_RIGHT: return VK_RIGHT;
    case SDLK_UP: return VK_UP;
    case SDLK_DOWN: return VK_DOWN;
    case SDLK_LSHIFT:
    case SDLK_RSHIFT: return VK_SHIFT;
    case SDLK_ESCAPE: return VK_ESCAPE;
    case SDLK_RETURN:
    case SDLK_KP_ENTER: return VK_RETURN;
    case SDLK_HOME: return VK_HOME;
    case SDLK_END: return VK_END;
    case SDLK_EQUALS:
    case SDLK_PLUS: return VK_OEM_PLUS;
    case SDLK_MINUS: return VK_OEM_MINUS;
    case SDLK_KP_PLUS: return VK_ADD;
    case SDLK_KP_MINUS: return VK_SUBTRACT;
    default: return 0;
    }
}

static void holdPointer(bool hold) {
    sdlState.pointerHeld = hold;
    SDL_SetRelativeMouseMode(hold ? SDL_TRUE : SDL_FALSE);
}

// A button press or release; true when it goes on to the program. In a window that does not
// hold the pointer, a press takes it and neither the press nor its release is passed on.
static bool passButton(const SDL_MouseButtonEvent& button, bool down) {
    SdlState& s = sdlState;
    const Uint8 mask = static_cast<Uint8>(SDL_BUTTON(button.button));
    if (down && !s.pointerHeld && s.window) {
        holdPointer(true);
        s.swallowedButtons = static_cast<Uint8>(s.swallowedButtons | mask);
        return false;
    }
    if (!down && (s.swallowedButtons & mask)) {
        s.swallowedButtons = static_cast<Uint8>(s.swallowedButtons & ~mask);
        return false;
    }
    return true;
}

static void sdlPumpEvents() {
    SdlState& s = sdlState;
    SDL_Event e;
    while (SDL_PollEvent(&e)) {
        switch (e.type) {
        case SDL_QUIT: backendPostClose(); break;
        case SDL_KEYDOWN:
        case SDL_KEYUP: {
            if (e.type == SDL_KEYDOWN && e.key.keysym.sym == SDLK_F6 && backendWindowed() &&
                s.pointerHeld) {
                holdPointer(false);
            }
            const int vk = virtualKey(e.key.keysym.sym);
            if (vk) backendPostKey(vk, e.type == SDL_KEYDOWN, e.key.repeat != 0);
            break;
        }
        case SDL_MOUSEMOTION:
            // A free pointer is the desktop's: its motion is not the program's.
            if (s.pointerHeld) backendMoveCursorBy(e.motion.xrel, e.motion.yrel);
            break;
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP: {
            const bool down = e.type == SDL_MOUSEBUTTONDOWN;
            if (!passButton(e.button, down)) break;
            if (e.button.button == SDL_BUTTON_LEFT) backendPostButton(true, down);
            if (e.button.button == SDL_BUTTON_RIGHT) backendPostButton(false, down);
            break;
        }
        case SDL_WINDOWEVENT:
            if (e.window.event == SDL_WINDOWEVENT_FOCUS_LOST && backendWindowed() &&
                s.pointerHeld) {
                holdPointer(false);
            }
            break;
        default: break;
        }
    }
}

// Makes the window and renderer for a first frame of width x height; false (reported once)
// when SDL cannot, after which frames are only kept, not shown.
static bool openWindow(int width, int height) {
    SdlState& s = sdlState;
    const char* title = backendWindowTitle();
    const Uint32 flags =
        backendWindowed() ? 0u : static_cast<Uint32>(SDL_WINDOW_FULLSCREEN_DESKTOP);
    s.window = SDL_CreateWindow(title, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, width,
                                height, flags);
    if (s.window) s.renderer = SDL_CreateRenderer(s.window, -1, 0);
    if (!s.window || !s.renderer) {
        std::fprintf(stderr, "SDL: cannot open a window (%s); frames are not shown\n",
                     SDL_GetError());
        if (s.window) SDL_DestroyWindow(s.window);
        s.window = nullptr;
        s.failed = true;
        return false;
    }
    // The program reads the mouse by its motion and re-centres the virtual cursor itself.
    holdPointer(true);
    s.vsync = -1;
    return true;
}

static void sdlShowFrame(const std::uint16_t* pixels, int width, int height, int swapInterval) {
    SdlState& s = sdlState;
    if (s.failed) return;
    if (!s.window && !openWindow(width, height)) return;
    if (!s.texture || s.textureWidth != width || s.textureHeight != height) {
        if (s.texture) SDL_DestroyTexture(s.texture);
        s.texture = SDL_CreateTexture(s.renderer, SDL_PIXELFORMAT_RGB565,
                                      SDL_TEXTUREACCESS_STREAMING, width, height);
        if (!s.texture) return;
        s.textureWidth = width;
        s.textureHeight = height;
        if (backendWindowed()) SDL_SetWindowSize(s.window, width, height);
    }
    const int vsync = swapInterval == 1 ? 1 : 0;
    if (vsync != s.vsync) {
        // Vertical sync where the renderer can wait for it; a renderer that cannot simply
        // presents at once, so a swap never waits on a display that does not answer.
        SDL_RenderSetVSync(s.renderer, vsync);
        s.vsync = vsync;
    }
    SDL_UpdateTexture(s.texture, nullptr, pixels, width * static_cast<int>(sizeof(std::uint16_t)));
    int outW = 0, outH = 0;
    SDL_GetRendererOutputSize(s.renderer, &outW, &outH);
    // The largest rectangle of the frame's aspect that fits, centred; the rest stays black.
    SDL_Rect dst = {0, 0, outW, outH};
    if (static_cast<long long>(outW) * height > static_cast<long long>(outH) * width) {
        dst.w = static_cast<int>(static_cast<long long>(outH) * width / height);
        dst.x = (outW - dst.w) / 2;
    } else {
        dst.h = static_cast<int>(static_cast<long long>(outW) * height / width);
        dst.y = (outH - dst.h) / 2;
    }
    SDL_SetRenderDrawColor(s.renderer, 0, 0, 0, 255);
    SDL_RenderClear(s.renderer);
    SDL_RenderCopy(s.renderer, s.texture, nullptr, &dst);
    SDL_RenderPresent(s.renderer);
}

static bool sdlMessageBox(const char* text, const char* caption, unsigned type, int* result) {
    // A scripted answer means nobody is there to click: answer without showing a box.
    if (backendAnswerGiven()) return false;
    SDL_MessageBoxButtonData buttons[2] = {};
    int buttonCount = 1;
    buttons[0] = {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT, BACKEND_IDOK, "OK"};
    if ((type & BACKEND_MB_TYPE_MASK) == BACKEND_MB_OKCANCEL) {
        buttons[1] = {SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, BACKEND_IDCANCEL, "Cancel"};
        buttonCount = 2;
    } else {
        buttons[0].flags |= SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT;
    }
    Uint32 flags = SDL_MESSAGEBOX_INFORMATION;
    if (type & MB_ICONERROR) flags = SDL_MESSAGEBOX_ERROR;
    SDL_MessageBoxData data = {};
    data.flags = flags;
    data.window = sdlState.window;
    data.title = caption ? caption : "Error";
    data.message = text ? text : "";
    data.numbuttons = buttonCount;
    data.buttons = buttons;
    // The box needs the real pointer; relative mode hides it.
    const bool relative = SDL_GetRelativeMouseMode() == SDL_TRUE;
    if (relative) SDL_SetRelativeMouseMode(SDL_FALSE);
    int pressed = -1;
    const bool shown = SDL_ShowMessageBox(&data, &pressed) == 0;
    if (relative) SDL_SetRelativeMouseMode(SDL_TRUE);
    if (!shown) return false;
    // Closing the box without a button counts as its escape button.
    *result = pressed < 0 ? (buttonCount == 2 ? BACKEND_IDCANCEL : BACKEND_IDOK) : pressed;
    return true;
}

static bool sdlScreenSize(int* width, int* height) {
    if (sdlState.desktopWidth <= 0) return false;
    *width = sdlState.desktopWidth;
    *height = sdlState.desktopHeight;
    return true;
}

static void sdlStop() {
    SdlState& s = sdlState;
    if (s.texture) SDL_DestroyTexture(s.texture);
    if (s.renderer) SDL_DestroyRenderer(s.renderer);
    if (s.window) SDL_DestroyWindow(s.window);
    s = SdlState{};
    SDL_Quit();
}

bool sdlStart(PlatformBackend* backend) {
    sdlState = SdlState{};
    // Full screen should stay up when a message box takes the focus.
    SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
    if (SDL_Init(SDL_INIT_VIDEO) != 0) return false;
    // When no display answers, SDL may settle for a driver that draws nowhere; that is
    // the headless case, and the headless back end serves it better.
    const char* driver = SDL_GetCurrentVideoDriver();
    if (!driver || std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0) {
        SDL_Quit();
        return false;
    }
    SDL_DisplayMode mode;
    if (SDL_GetDesktopDisplayMode(0, &mode) == 0 && mode.w > 0 && mode.h > 0) {
        sdlState.desktopWidth = mode.w;
        sdlState.desktopHeight = mode.h;
    }
    *backend = PlatformBackend{};
    backend->name = "sdl";
    backend->stop = sdlStop;
    backend->pumpEvents = sdlPumpEvents;
    backend->showFrame = sdlShowFrame;
    backend->messageBox = sdlMessageBox;
    backend->screenSize = sdlScreenSize;
    return true;
}
