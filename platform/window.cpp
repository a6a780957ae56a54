// The window-class and window table, focus, capture, paint bookkeeping and the virtual
// cursor (a position in output pixels that the back ends and scripts move). Entry points:
// the window, cursor and metrics calls of win32.h plus DefWindowProcA and MessageBoxA.
// Windows live in a fixed table; a handle is the address of its slot.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <strings.h>

#include "platform/platform.h"

PlatformWindows platformWindows;

// Opaque objects behind the handles the program only passes back: the standard cursors (by
// their resource numbers) and the paint DC.
static PlatformObject cursorObjects[] = {
    {PLATFORM_OBJECT_CURSOR, 32512}, {PLATFORM_OBJECT_CURSOR, 32515},
    {PLATFORM_OBJECT_CURSOR, 32642}, {PLATFORM_OBJECT_CURSOR, 32643},
    {PLATFORM_OBJECT_CURSOR, 32644}, {PLATFORM_OBJECT_CURSOR, 32645}};
constexpr int CURSOR_ID_COUNT = static_cast<int>(sizeof(cursorObjects) / sizeof(cursorObjects[0]));
static PlatformObject paintDc = {PLATFORM_OBJECT_DC, 0};

// Frame sizes AdjustWindowRectEx adds, in pixels: a sizing border, a thin fixed border, the
// caption bar and a menu bar, close to what a desktop of the time drew.
constexpr int FRAME_SIZING = 8;
constexpr int FRAME_FIXED = 3;
constexpr int FRAME_CAPTION = 23;
constexpr int FRAME_MENU = 20;

void windowsReset() {
    std::memset(&platformWindows, 0, sizeof(platformWindows));
}

PlatformWindow* windowFromHandle(HWND hwnd) {
    const auto first = reinterpret_cast<std::uintptr_t>(platformWindows.windows);
    const auto address = reinterpret_cast<std::uintptr_t>(hwnd);
    if (address < first || address >= first + sizeof(platformWindows.windows)) return nullptr;
    if ((address - first) % sizeof(PlatformWindow) != 0) return nullptr;
    return hwnd->alive ? hwnd : nullptr;
}

HWND appWindow() { return platformWindows.focus; }

void cursorMoveTo(int x, int y) {
    PlatformWindows& pw = platformWindows;
    if (pw.clipped) {
        if (x > pw.clip.right - 1) x = pw.clip.right - 1;
        if (x < pw.clip.left) x = pw.clip.left;
        if (y > pw.clip.bottom - 1) y = pw.clip.bottom - 1;
        if (y < pw.clip.top) y = pw.clip.top;
    }
    pw.cursorX = x;
    pw.cursorY = y;
    pw.cursorPlaced = true;
}

// Whether a "name" below 0x10000 can be a real string. On Windows it never is (MAKEINTATOM
// passes an atom that way); in a browser's memory the program's strings live that low.
#if defined(__EMSCRIPTEN__)
constexpr bool SMALL_ADDRESSES_HOLD_STRINGS = true;
#else
constexpr bool SMALL_ADDRESSES_HOLD_STRINGS = false;
#endif

// A class by name, or by atom when the "name" is a small integer as MAKEINTATOM makes it.
static int findClass(LPCSTR name) {
    if (!name) return -1;
    const std::uintptr_t asNumber = reinterpret_cast<std::uintptr_t>(name);
    const bool maybeAtom = asNumber < 0x10000;
    for (int i = 0; i < PLATFORM_MAX_CLASSES; ++i) {
        const PlatformClass& c = platformWindows.classes[i];
        if (!c.used) continue;
        if ((!maybeAtom || SMALL_ADDRESSES_HOLD_STRINGS) && strcasecmp(c.name, name) == 0) {
            return i;
        }
    }
    for (int i = 0; maybeAtom && i < PLATFORM_MAX_CLASSES; ++i) {
        const PlatformClass& c = platformWindows.classes[i];
        if (c.used && c.atom == asNumber) return i;
    }
    return -1;
}

ATOM RegisterClassExA(const WNDCLASSEXA* wc) {
    if (!wc || !wc->lpszClassName || !wc->lpfnWndProc) return 0;
    if (std::strlen(wc->lpszClassName) >= static_cast<std::size_t>(PLATFORM_NAME_MAX)) return 0;
    if (findClass(wc->lpszClassName) >= 0) return 0;
    for (PlatformClass& c : platformWindows.classes) {
        if (c.used) continue;
        c.used = true;
        // Registered classes are numbered from 0xC000, as Windows numbers them.
        c.atom = static_cast<ATOM>(0xC000 + platformWindows.atomsIssued++);
        std::snprintf(c.name, sizeof(c.name), "%s", wc->lpszClassName);
        c.proc = wc->lpfnWndProc;
        return c.atom;
    }
    return 0;
}

BOOL UnregisterClassA(LPCSTR className, HINSTANCE) {
    const int index = findClass(className);
    if (index < 0) return FALSE;
    for (const PlatformWindow& w : platformWindows.windows) {
        if (w.alive && w.classIndex == index) return FALSE;   // still in use, as Windows says
    }
    platformWindows.classes[index].used = false;
    return TRUE;
}

HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR title, DWORD style, int x, int y,
                     int width, int height, HWND, HMENU, HINSTANCE, void*) {
    const int index = findClass(className);
    if (index < 0) return nullptr;
    HWND hwnd = nullptr;
    for (PlatformWindow& w : platformWindows.windows) {
        if (!w.alive) {
            hwnd = &w;
            break;
        }
    }
    if (!hwnd) return nullptr;
    std::memset(hwnd, 0, sizeof(*hwnd));
    hwnd->alive = true;
    hwnd->classIndex = index;
    hwnd->proc = platformWindows.classes[index].proc;
    hwnd->style = style;
    hwnd->exStyle = exStyle;
    hwnd->x = x;
    hwnd->y = y;
    hwnd->width = width;
    hwnd->height = height;
    std::snprintf(hwnd->title, sizeof(hwnd->title), "%s", title ? title : "");
    HWND previousFocus = platformWindows.focus;
    platformWindows.focus = hwnd;
    if (hwnd->proc(hwnd, WM_CREATE, 0, 0) == -1) {
        // The procedure refused its creation: Windows destroys the window and returns null.
        DestroyWindow(hwnd);
        platformWindows.focus = windowFromHandle(previousFocus);
        return nullptr;
    }
    if (!windowFromHandle(hwnd)) return nullptr;   // destroyed itself during WM_CREATE
    // No desktop to place it on: the window is shown over the whole output at once.
    hwnd->visible = true;
    hwnd->needsPaint = true;
    return hwnd;
}

BOOL SetWindowTextA(HWND hwnd, LPCSTR text) {
    PlatformWindow* w = windowFromHandle(hwnd);
    if (!w) return FALSE;
    std::snprintf(w->title, sizeof(w->title), "%s", text ? text : "");
    return TRUE;
}

BOOL DestroyWindow(HWND hwnd) {
    PlatformWindow* w = windowFromHandle(hwnd);
    if (!w || w->destroying) return FALSE;
    w->destroying = true;
    w->proc(hwnd, WM_DESTROY, 0, 0);
    w->alive = false;
    w->visible = false;
    queueRemoveWindow(hwnd);
    PlatformWindows& pw = platformWindows;
    if (pw.capture == hwnd) pw.capture = nullptr;
    if (pw.focus == hwnd) {
        pw.focus = nullptr;
        for (PlatformWindow& other : pw.windows) {
            if (other.alive) {
                pw.focus = &other;
                break;
            }
        }
    }
    return TRUE;
}

BOOL ShowWindow(HWND hwnd, int) {
    PlatformWindow* w = windowFromHandle(hwnd);
    if (!w) return FALSE;
    const BOOL wasVisible = w->visible ? TRUE : FALSE;
    w->visible = true;
    return wasVisible;
}

BOOL UpdateWindow(HWND hwnd) {
    PlatformWindow* w = windowFromHandle(hwnd);
    if (!w) return FALSE;
    if (w->needsPaint) w->proc(hwnd, WM_PAINT, 0, 0);
    return TRUE;
}

BOOL SetWindowPos(HWND hwnd, HWND, int x, int y, int cx, int cy, UINT) {
    PlatformWindow* w = windowFromHandle(hwnd);
    if (!w) return FALSE;
    if (cx != w->width || cy != w->height) w->needsPaint = true;
    w->x = x;
    w->y = y;
    w->width = cx;
    w->height = cy;
    return TRUE;
}

BOOL AdjustWindowRectEx(RECT* rect, DWORD style, BOOL menu, DWORD) {
    if (!rect) return FALSE;
    const bool caption = (style & WS_CAPTION) == WS_CAPTION;
    int border = 0;
    if (style & WS_THICKFRAME) {
        border = FRAME_SIZING;
    } else if (caption) {
        border = FRAME_FIXED;
    }
    rect->left -= border;
    rect->right += border;
    rect->bottom += border;
    rect->top -= border + (caption ? FRAME_CAPTION : 0) + (menu ? FRAME_MENU : 0);
    return TRUE;
}

BOOL IsIconic(HWND) { return FALSE; }

BOOL GetUpdateRect(HWND hwnd, RECT* rect, BOOL) {
    PlatformWindow* w = windowFromHandle(hwnd);
    if (!w) return FALSE;
    if (rect) {
        *rect = RECT{0, 0, 0, 0};
        if (w->needsPaint) *rect = RECT{0, 0, w->width, w->height};
    }
    return w->needsPaint ? TRUE : FALSE;
}

HDC BeginPaint(HWND hwnd, PAINTSTRUCT* ps) {
    PlatformWindow* w = windowFromHandle(hwnd);
    if (!w) return nullptr;
    if (ps) {
        ps->hdc = &paintDc;
        ps->fErase = FALSE;
        ps->rcPaint = RECT{0, 0, w->width, w->height};
    }
    w->needsPaint = false;
    return &paintDc;
}

BOOL EndPaint(HWND, const PAINTSTRUCT*) { return TRUE; }

HWND GetFocus() { return platformWindows.focus; }

LRESULT DefWindowProcA(HWND hwnd, UINT message, WPARAM, LPARAM) {
    if (message == WM_CLOSE) DestroyWindow(hwnd);
    return 0;
}

BOOL GetCursorPos(POINT* point) {
    if (!point) return FALSE;
    point->x = platformWindows.cursorX;
    point->y = platformWindows.cursorY;
    return TRUE;
}

BOOL SetCursorPos(int x, int y) {
    cursorMoveTo(x, y);
    return TRUE;
}

BOOL ClipCursor(const RECT* rect) {
    PlatformWindows& pw = platformWindows;
    if (!rect) {
        pw.clipped = false;
        return TRUE;
    }
    pw.clip = *rect;
    // An empty rectangle would leave nowhere for the cursor; keep at least its corner.
    if (pw.clip.right <= pw.clip.left) pw.clip.right = pw.clip.left + 1;
    if (pw.clip.bottom <= pw.clip.top) pw.clip.bottom = pw.clip.top + 1;
    pw.clipped = true;
    if (pw.cursorPlaced) {
        cursorMoveTo(pw.cursorX, pw.cursorY);
    } else {
        // Until anything has moved it, the virtual cursor rests in the middle of the area it
        // is confined to, as a pointer left alone on a desktop would: a program that reads it
        // at start-up and re-centres it then sees no motion.
        pw.cursorX = (pw.clip.left + pw.clip.right) / 2;
        pw.cursorY = (pw.clip.top + pw.clip.bottom) / 2;
    }
    return TRUE;
}

HWND SetCapture(HWND hwnd) {
    HWND previous = platformWindows.capture;
    platformWindows.capture = windowFromHandle(hwnd);
    return previous;
}

BOOL ReleaseCapture() {
    platformWindows.capture = nullptr;
    return TRUE;
}

HCURSOR SetCursor(HCURSOR cursor) {
    HCURSOR previous = platformWindows.cursor;
    platformWindows.cursor = cursor;
    return previous;
}

HCURSOR LoadCursorA(HINSTANCE, LPCSTR name) {
    const std::uintptr_t id = reinterpret_cast<std::uintptr_t>(name);
    for (int i = 0; i < CURSOR_ID_COUNT; ++i) {
        if (cursorObjects[i].id == id) return &cursorObjects[i];
    }
    return nullptr;
}

int GetSystemMetrics(int index) {
    int width = PLATFORM_SCREEN_DEFAULT_WIDTH;
    int height = PLATFORM_SCREEN_DEFAULT_HEIGHT;
    const bool desktop = platformBackend.screenSize && platformBackend.screenSize(&width, &height);
    if (!desktop && platformFrame.width > 0) {
        width = platformFrame.width;
        height = platformFrame.height;
    }
    if (index == SM_CXSCREEN) return width;
    if (index == SM_CYSCREEN) return height;
    return 0;
}

int MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT type) {
    int result = IDOK;
    if (platformBackend.messageBox && platformBackend.messageBox(text, caption, type, &result)) {
        return result;
    }
    return headlessMessageBox(text, caption, type);
}
