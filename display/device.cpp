// Device start-up and the application window: starts the rasterizer, chooses the colour
// buffer count, keeps the render-state block and the per-unit texture caches, and runs the
// window procedure that forwards to the message hook.
#include "display/device.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "display/display.h"
#include "geometry/transform.h"
#include "texture/cache.h"


namespace {

void confineCursorToWindow() {
    const RECT rect = {display.window.x, display.window.y, display.window.x + display.window.width,
                       display.window.y + display.window.height};
    ClipCursor(&rect);
}

void freeCursor() {
    const RECT rect = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    ClipCursor(&rect);
}

HCURSOR cursorForHitTest(int hit) {
    switch (hit) {
    case HTCLIENT: return LoadCursorA(nullptr, IDC_CROSS);
    case HTCAPTION: case HTSYSMENU: case HTMINBUTTON: case HTMAXBUTTON: case HTBORDER:
    case HTCLOSE:
        return LoadCursorA(nullptr, IDC_ARROW);
    case HTLEFT: case HTRIGHT: return LoadCursorA(nullptr, IDC_SIZEWE);
    case HTTOP: case HTBOTTOM: return LoadCursorA(nullptr, IDC_SIZENS);
    case HTTOPLEFT: case HTBOTTOMRIGHT: return LoadCursorA(nullptr, IDC_SIZENWSE);
    case HTTOPRIGHT: case HTBOTTOMLEFT: return LoadCursorA(nullptr, IDC_SIZENESW);
    default: return nullptr;
    }
}

}  // namespace

bool deviceStart() {
    display.device.colourBufferCount = COLOUR_BUFFERS_DEFAULT;
    vxInit();
    vxSelectDevice(0);
    std::int32_t units = 0;
    if (vxQuery(VX_QUERY_TEXTURE_UNITS, 4, &units) != 4) {
        vxShutdown();
        return false;
    }
    // The program serves at most two units (the cache table and texture slots have two).
    display.device.textureUnitCount = units < 1 ? 1 : (units > 2 ? 2 : units);
    if (std::strcmp(vxQueryString(VX_STRING_HARDWARE), HARDWARE_TWO_BUFFERS) == 0) {
        display.device.colourBufferCount = 2;
    }
    return true;
}

bool deviceSetup() {
    std::int32_t size = 0;
    if (vxQuery(VX_QUERY_STATE_SIZE, 4, &size) == 0 || size <= 0) return false;
    std::free(display.device.stateBlock);
    display.device.stateBlock = std::malloc(static_cast<std::size_t>(size));
    if (display.device.stateBlock == nullptr) return false;
    vxSetCoordinateSpace(VX_WINDOW_COORDS);
    declareVertexLayout();
    for (int unit = 0; unit < display.device.textureUnitCount; ++unit) {
        // On failure the caches made so far stay for deviceStop, which the caller runs.
        TextureCache* cache = new (std::nothrow) TextureCache{};
        if (cache == nullptr) return false;
        cacheInitForUnit(*cache, unit);
        display.device.textureCaches[unit] = cache;
    }
    return true;
}

void declareVertexLayout() {
    vxSetVertexLayout(VX_PARAM_XY, VERTEX_OFFSET_XY, VX_PARAM_ENABLE);
    vxSetVertexLayout(VX_PARAM_Q, VERTEX_OFFSET_Q, VX_PARAM_ENABLE);
    vxSetVertexLayout(VX_PARAM_ARGB, VERTEX_OFFSET_COLOUR, VX_PARAM_ENABLE);
    vxSetVertexLayout(VX_PARAM_ST0, VERTEX_OFFSET_ST0, VX_PARAM_ENABLE);
}

void deviceStop() {
    std::free(display.device.stateBlock);
    display.device.stateBlock = nullptr;
    for (TextureCache*& cache : display.device.textureCaches) {
        // Emptying the cache takes out whatever is still resident; the texture records keep
        // their texel data for their owners to release.
        if (cache != nullptr) cacheRemoveAll(*cache);
        delete cache;
        cache = nullptr;
    }
    vxShutdown();
}

void saveRenderState() {
    if (display.device.stateBlock != nullptr) vxSaveState(display.device.stateBlock);
}

void restoreRenderState() {
    if (display.device.stateBlock != nullptr) vxRestoreState(display.device.stateBlock);
}

int textureUnitCount() { return display.device.textureUnitCount; }

void setMessageHook(WNDPROC hook) { display.window.messageHook = hook; }

HWND createAppWindow(const char* name, int x, int y, int width, int height, int flags) {
    display.window.x = x;
    display.window.y = y;
    display.window.width = width;
    display.window.height = height;
    display.window.flags = flags;
    DWORD style = WS_POPUP;
    if (flags & WINDOW_CAPTION) style |= WS_CAPTION;
    if (flags & WINDOW_SYSTEM_MENU) style |= WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
    if (flags & WINDOW_SIZING_BORDER) style |= WS_THICKFRAME;

    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = deviceWindowProc;
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.lpszMenuName = name;
    wc.lpszClassName = name;
    if (RegisterClassExA(&wc) == 0) return nullptr;

    HWND window = CreateWindowExA(WS_EX_APPWINDOW, name, name, style, x, y, width, height,
                                  nullptr, nullptr, nullptr, nullptr);
    if (window == nullptr) {
        UnregisterClassA(name, nullptr);
        return nullptr;
    }

    RECT rect = {x, y, x + width, y + height};
    AdjustWindowRectEx(&rect, style, FALSE, 0);
    if (rect.left < 0) {
        rect.right -= rect.left;
        rect.left = 0;
    }
    if (rect.top < 0) {
        rect.bottom -= rect.top;
        rect.top = 0;
    }
    SetWindowPos(window, nullptr, rect.left, rect.top, rect.right - rect.left,
                 rect.bottom - rect.top, SWP_NOACTIVATE | SWP_NOZORDER);
    ShowWindow(window, (flags & WINDOW_MAXIMISED) ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL);
    UpdateWindow(window);
    return window;
}

LRESULT deviceWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    const bool confine = (display.window.flags & WINDOW_CONFINE_CURSOR) != 0;
    switch (message) {
    case WM_CREATE: case WM_DISPLAYCHANGE: case WM_COMMAND: case WM_ENTERMENULOOP:
    case WM_EXITMENULOOP:
        return 0;
    case WM_MOVE:
        if (!IsIconic(hwnd)) {
            display.window.x = LOWORD(static_cast<std::uintptr_t>(lParam));
            display.window.y = static_cast<std::int16_t>(HIWORD(static_cast<std::uintptr_t>(lParam)));
            if (confine) confineCursorToWindow();
        }
        return 0;
    case WM_SIZE:
        if (!IsIconic(hwnd)) {
            display.window.width = LOWORD(static_cast<std::uintptr_t>(lParam));
            display.window.height =
                static_cast<std::int16_t>(HIWORD(static_cast<std::uintptr_t>(lParam)));
            if (confine) confineCursorToWindow();
        }
        return 0;
    case WM_SETFOCUS:
        if (confine) confineCursorToWindow();
        break;
    case WM_KILLFOCUS:
        if (confine) freeCursor();
        break;
    case WM_DESTROY:
        if (confine) freeCursor();
        PostQuitMessage(0);
        return 0;
    case WM_PAINT: {
        RECT update;
        if (GetUpdateRect(hwnd, &update, FALSE)) {
            PAINTSTRUCT ps;
            BeginPaint(hwnd, &ps);
            EndPaint(hwnd, &ps);
        }
        return 0;
    }
    case WM_CLOSE:
        DestroyWindow(hwnd);
        return 0;
    case WM_SETCURSOR:
        if (display.window.flags & WINDOW_CURSOR_SHOWN) {
            SetCursor(cursorForHitTest(LOWORD(static_cast<std::uintptr_t>(lParam))));
        } else {
            SetCursor(nullptr);
        }
        return 1;
    default:
        break;
    }
    if (display.window.messageHook != nullptr) {
        return display.window.messageHook(hwnd, message, wParam, lParam);
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}
