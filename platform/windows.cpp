// The Windows back end: a real Win32 window made at the first presented frame (a borderless
// window over the whole screen, or a framed window of the output's size with --windowed),
// each frame drawn into it with GDI straight from the 5-6-5 pixels (scaled with its aspect kept
// when the window is larger), the system's messages turned into the layer's queued messages,
// and real message boxes. The mouse turns the view as in full-screen games: the system cursor
// is hidden, confined to the window and put back at its centre after every motion, whose
// amount moves the layer's virtual cursor. The program is built for the GUI subsystem, so its
// standard output and error are connected here to the console it was started from, if any.
// Entry points: windowsStart, windowsAttachConsole, windowsTellInBox, windowsProgramPath,
// windowsProcessAlive. This file alone sees windows.h; it reaches the layer through
// platform/backend.h only.
#include <windows.h>

#include <cstdio>

#include "platform/backend.h"

namespace {

constexpr const char* WINDOW_CLASS = "VorlWindow";
constexpr int ICON_RESOURCE = 1;   // the program's icon in platform/vorl.rc

// Where standard output and error go, found once before the first print: the program is
// built for the GUI subsystem, so without a console or redirection they go nowhere.
struct ConsoleState {
    bool checked;
    bool output;              // standard output reaches a console, file or pipe
    bool error;               // standard error does
};
ConsoleState consoleState;

struct WindowsState {
    bool failed;              // the window could not be made: frames are not shown
    bool classRegistered;
    HWND window;
    int frameWidth, frameHeight;
    const std::uint16_t* lastPixels;   // the frame last shown, for repainting
    bool active;              // the window has the focus
    // The pointer is the program's: hidden, confined and its motion turning the view. Full
    // screen whenever the window has the focus; a window (--windowed) holds it from its first
    // activation, gives it back on F6 or when it loses the focus, and takes it again on a
    // click into it (a click that is not passed on).
    bool held;
    bool heldOnce;            // a window took the pointer on its first activation
    unsigned swallowedButtons;   // 1 left, 2 right: taking clicks whose release is not passed on
    POINT centre;             // the client centre in screen pixels, where the cursor rests
    // Vertical sync: the swap waits for the display's next refresh, paced from the rate the
    // display reports (Wine's DwmFlush returns at once, so it cannot be the clock).
    HANDLE timer;             // a waitable timer, or null where the system has none
    LONGLONG ticksPerRefresh; // performance-counter ticks of one refresh, 0 = not known yet
    LONGLONG nextPresent;     // performance-counter tick of the next refresh, 0 = none yet
};
WindowsState windowsState;

// The 5-6-5 layout GDI is told: top-down rows, three bit-field masks.
struct FrameBitmapInfo {
    BITMAPINFOHEADER header;
    DWORD masks[3];
};

void confineCursor(bool on) {
    WindowsState& s = windowsState;
    if (!on || s.window == nullptr) {
        ClipCursor(nullptr);
        return;
    }
    RECT client;
    GetClientRect(s.window, &client);
    POINT topLeft = {client.left, client.top};
    POINT bottomRight = {client.right, client.bottom};
    ClientToScreen(s.window, &topLeft);
    ClientToScreen(s.window, &bottomRight);
    const RECT screen = {topLeft.x, topLeft.y, bottomRight.x, bottomRight.y};
    ClipCursor(&screen);
    s.centre = {(topLeft.x + bottomRight.x) / 2, (topLeft.y + bottomRight.y) / 2};
    SetCursorPos(s.centre.x, s.centre.y);
}

// The largest rectangle of the frame's aspect that fits the client area, centred.
RECT frameRectangle(int clientWidth, int clientHeight, int width, int height) {
    RECT r = {0, 0, clientWidth, clientHeight};
    if (static_cast<long long>(clientWidth) * height > static_cast<long long>(clientHeight) * width) {
        const int w = static_cast<int>(static_cast<long long>(clientHeight) * width / height);
        r.left = (clientWidth - w) / 2;
        r.right = r.left + w;
    } else {
        const int h = static_cast<int>(static_cast<long long>(clientWidth) * height / width);
        r.top = (clientHeight - h) / 2;
        r.bottom = r.top + h;
    }
    return r;
}

void paintFrame(HDC dc) {
    const WindowsState& s = windowsState;
    if (s.lastPixels == nullptr || s.frameWidth <= 0 || s.frameHeight <= 0) return;
    RECT client;
    GetClientRect(s.window, &client);
    const int clientWidth = client.right - client.left;
    const int clientHeight = client.bottom - client.top;
    FrameBitmapInfo info = {};
    info.header.biSize = sizeof(BITMAPINFOHEADER);
    info.header.biWidth = s.frameWidth;
    info.header.biHeight = -s.frameHeight;   // negative: rows top first, as the frame has them
    info.header.biPlanes = 1;
    info.header.biBitCount = 16;
    info.header.biCompression = BI_BITFIELDS;
    info.masks[0] = 0xF800;
    info.masks[1] = 0x07E0;
    info.masks[2] = 0x001F;
    const BITMAPINFO* bitmap = reinterpret_cast<const BITMAPINFO*>(&info);
    if (clientWidth == s.frameWidth && clientHeight == s.frameHeight) {
        SetDIBitsToDevice(dc, 0, 0, s.frameWidth, s.frameHeight, 0, 0, 0, s.frameHeight,
                          s.lastPixels, bitmap, DIB_RGB_COLORS);
        return;
    }
    const RECT r = frameRectangle(clientWidth, clientHeight, s.frameWidth, s.frameHeight);
    // The bars beside the picture stay black.
    const HBRUSH black = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    const RECT bars[4] = {{0, 0, r.left, clientHeight}, {r.right, 0, clientWidth, clientHeight},
                          {r.left, 0, r.right, r.top}, {r.left, r.bottom, r.right, clientHeight}};
    for (const RECT& bar : bars) {
        if (bar.right > bar.left && bar.bottom > bar.top) FillRect(dc, &bar, black);
    }
    SetStretchBltMode(dc, COLORONCOLOR);
    StretchDIBits(dc, r.left, r.top, r.right - r.left, r.bottom - r.top, 0, 0, s.frameWidth,
                  s.frameHeight, s.lastPixels, bitmap, DIB_RGB_COLORS, SRCCOPY);
}

void holdPointer(bool hold) {
    WindowsState& s = windowsState;
    if (hold == s.held) return;
    s.held = hold;
    confineCursor(hold);
}

// A button press or release; true when it goes on to the program. In a window that does not
// hold the pointer, a press takes it and neither the press nor its release is passed on.
bool passButton(unsigned button, bool down) {
    WindowsState& s = windowsState;
    if (down && !s.held) {
        holdPointer(true);
        s.swallowedButtons |= button;
        return false;
    }
    if (!down && (s.swallowedButtons & button)) {
        s.swallowedButtons &= ~button;
        return false;
    }
    return true;
}

LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    WindowsState& s = windowsState;
    // The window is activated and sees the pointer while CreateWindowExA is still making it:
    // it is known from its first message, so that the cursor is confined and centred then.
    if (s.window == nullptr) s.window = hwnd;
    switch (message) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
        if (wParam == VK_F6 && backendWindowed()) holdPointer(false);
        // Bit 30 of lParam: the key was already down, so this is auto-repeat.
        backendPostKey(static_cast<int>(wParam), true, (lParam & (1 << 30)) != 0);
        return 0;
    case WM_KEYUP:
    case WM_SYSKEYUP:
        backendPostKey(static_cast<int>(wParam), false, false);
        return 0;
    case WM_MOUSEMOVE: {
        if (!s.active || !s.held) return 0;
        POINT at;
        GetCursorPos(&at);
        const int dx = at.x - s.centre.x;
        const int dy = at.y - s.centre.y;
        if (dx != 0 || dy != 0) {
            backendMoveCursorBy(dx, dy);
            SetCursorPos(s.centre.x, s.centre.y);
        }
        return 0;
    }
    case WM_LBUTTONDOWN:
        if (passButton(1, true)) backendPostButton(true, true);
        return 0;
    case WM_LBUTTONUP:
        if (passButton(1, false)) backendPostButton(true, false);
        return 0;
    case WM_RBUTTONDOWN:
        if (passButton(2, true)) backendPostButton(false, true);
        return 0;
    case WM_RBUTTONUP:
        if (passButton(2, false)) backendPostButton(false, false);
        return 0;
    case WM_ACTIVATE:
        s.active = LOWORD(wParam) != WA_INACTIVE;
        if (!s.active) {
            holdPointer(false);
        } else if (!backendWindowed() || !s.heldOnce) {
            s.heldOnce = true;
            s.held = false;
            holdPointer(true);
        }
        return 0;
    case WM_SIZE:
    case WM_MOVE:
        if (s.active && s.held) confineCursor(true);
        return 0;
    case WM_SETCURSOR:
        if (LOWORD(lParam) == HTCLIENT && s.held) {
            SetCursor(nullptr);
            return TRUE;
        }
        break;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        paintFrame(dc);
        EndPaint(hwnd, &ps);
        return 0;
    }
    case WM_ERASEBKGND: return 1;   // the frame covers the whole client area
    case WM_CLOSE:
        // The program decides: the close request takes the same path as Escape.
        backendPostClose();
        return 0;
    default: break;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

// Makes the window for a first frame of width x height; false (reported once) when the
// system refuses, after which frames are only kept, not shown.
bool openWindow(int width, int height) {
    WindowsState& s = windowsState;
    const bool windowed = backendWindowed();
    DWORD style = WS_POPUP;
    int x = 0, y = 0;
    int w = GetSystemMetrics(SM_CXSCREEN);
    int h = GetSystemMetrics(SM_CYSCREEN);
    if (windowed) {
        style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
        RECT r = {0, 0, width, height};
        AdjustWindowRectEx(&r, style, FALSE, 0);
        w = r.right - r.left;
        h = r.bottom - r.top;
        x = CW_USEDEFAULT;
        y = CW_USEDEFAULT;
    }
    s.window = CreateWindowExA(WS_EX_APPWINDOW, WINDOW_CLASS, backendWindowTitle(),
                               style | WS_VISIBLE, x, y, w, h, nullptr, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
    if (s.window == nullptr) {
        std::fprintf(stderr, "Windows: cannot open a window (error %lu); frames are not shown\n",
                     static_cast<unsigned long>(GetLastError()));
        s.failed = true;
        return false;
    }
    ShowWindow(s.window, SW_SHOW);
    SetForegroundWindow(s.window);
    SetFocus(s.window);
    return true;
}

// Refreshes per second of the display the window is on; 60 where it does not say (0 and 1
// stand for the board's default rate).
LONGLONG displayRefreshRate() {
    DEVMODEA mode = {};
    mode.dmSize = sizeof mode;
    if (EnumDisplaySettingsA(nullptr, ENUM_CURRENT_SETTINGS, &mode) &&
        mode.dmDisplayFrequency > 1 && mode.dmDisplayFrequency < 1000) {
        return static_cast<LONGLONG>(mode.dmDisplayFrequency);
    }
    return 60;
}

// Sleeps until the performance counter reaches `tick`: on the waitable timer (exact to the
// system's timer), else with Sleep in whole milliseconds, short of the tick rather than past.
void sleepUntil(LONGLONG tick, LONGLONG frequency) {
    WindowsState& s = windowsState;
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    if (now.QuadPart >= tick) return;
    // Due times are in 100-nanosecond units; negative means "from now".
    const LONGLONG hundreds = (tick - now.QuadPart) * 10000000 / frequency;
    if (s.timer != nullptr) {
        LARGE_INTEGER due;
        due.QuadPart = -hundreds;
        if (SetWaitableTimer(s.timer, &due, 0, nullptr, nullptr, FALSE)) {
            WaitForSingleObject(s.timer, INFINITE);
            return;
        }
    }
    if (hundreds >= 10000) Sleep(static_cast<DWORD>(hundreds / 10000));
}

// Vertical sync: a swap waits for the display's next refresh. GDI has no refresh to wait on
// (and DwmFlush does not wait under Wine), so the swaps are paced to the display's rate: each
// shows at the next multiple of the refresh period after the last, and a frame that came more
// than a period late starts the count again rather than hurrying to catch up.
void waitForRefresh() {
    WindowsState& s = windowsState;
    LARGE_INTEGER frequency;
    if (!QueryPerformanceFrequency(&frequency) || frequency.QuadPart <= 0) return;
    if (s.ticksPerRefresh == 0) s.ticksPerRefresh = frequency.QuadPart / displayRefreshRate();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    if (s.nextPresent == 0 || now.QuadPart - s.nextPresent > s.ticksPerRefresh) {
        s.nextPresent = now.QuadPart;
    } else {
        sleepUntil(s.nextPresent, frequency.QuadPart);
    }
    s.nextPresent += s.ticksPerRefresh;
}

void windowsShowFrame(const std::uint16_t* pixels, int width, int height, int swapInterval) {
    WindowsState& s = windowsState;
    if (s.failed) return;
    if (s.window == nullptr && !openWindow(width, height)) return;
    if (swapInterval >= 1) {
        waitForRefresh();
    } else {
        s.nextPresent = 0;
    }
    if (backendWindowed() && (width != s.frameWidth || height != s.frameHeight)) {
        // A windowed run follows the output's size, as at the resolution switch.
        RECT r = {0, 0, width, height};
        AdjustWindowRectEx(&r, static_cast<DWORD>(GetWindowLongPtrA(s.window, GWL_STYLE)), FALSE,
                           0);
        SetWindowPos(s.window, nullptr, 0, 0, r.right - r.left, r.bottom - r.top,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    s.frameWidth = width;
    s.frameHeight = height;
    s.lastPixels = pixels;
    HDC dc = GetDC(s.window);
    paintFrame(dc);
    ReleaseDC(s.window, dc);
    // The layer's copy of the frame stays valid until the next one: repaints read it.
    ValidateRect(s.window, nullptr);
}

void windowsPumpEvents() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) break;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

bool windowsMessageBox(const char* text, const char* caption, unsigned type, int* result) {
    // A scripted answer means nobody is there to click: answer without showing a box.
    if (backendAnswerGiven()) return false;
    const bool hadCursor = windowsState.held;
    if (hadCursor) confineCursor(false);
    ShowCursor(TRUE);
    const int pressed = MessageBoxA(windowsState.window, text ? text : "",
                                    caption ? caption : "Error",
                                    type & (BACKEND_MB_TYPE_MASK | BACKEND_MB_ICON_MASK));
    ShowCursor(FALSE);
    if (hadCursor) confineCursor(true);
    if (pressed == 0) return false;
    *result = pressed == IDCANCEL ? BACKEND_IDCANCEL : BACKEND_IDOK;
    return true;
}

bool windowsScreenSize(int* width, int* height) {
    *width = GetSystemMetrics(SM_CXSCREEN);
    *height = GetSystemMetrics(SM_CYSCREEN);
    return *width > 0 && *height > 0;
}

void windowsStop() {
    WindowsState& s = windowsState;
    ClipCursor(nullptr);
    if (s.window != nullptr) DestroyWindow(s.window);
    if (s.timer != nullptr) CloseHandle(s.timer);
    if (s.classRegistered) UnregisterClassA(WINDOW_CLASS, GetModuleHandleA(nullptr));
    s = WindowsState{};
}

// A standard handle that leads somewhere: a console, a file or a pipe.
bool standardHandleUsable(DWORD which) {
    const HANDLE handle = GetStdHandle(which);
    return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
           GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

}  // namespace

void windowsAttachConsole() {
    ConsoleState& c = consoleState;
    if (c.checked) return;
    c.checked = true;
    c.output = standardHandleUsable(STD_OUTPUT_HANDLE);
    c.error = standardHandleUsable(STD_ERROR_HANDLE);
    // Started from a console (cmd, PowerShell) without redirection: print there. Started from
    // Explorer there is no parent console, and diagnostics go to error.txt only.
    if ((!c.output || !c.error) && AttachConsole(ATTACH_PARENT_PROCESS)) {
        if (!c.output) c.output = std::freopen("CONOUT$", "w", stdout) != nullptr;
        if (!c.error) c.error = std::freopen("CONOUT$", "w", stderr) != nullptr;
    }
}

bool windowsTellInBox(const char* text, bool error) {
    windowsAttachConsole();
    if (error ? consoleState.error : consoleState.output) return false;
    MessageBoxA(nullptr, text, "Vorl", MB_OK | (error ? MB_ICONERROR : MB_ICONINFORMATION));
    return true;
}

bool windowsProgramPath(char* out, std::size_t size) {
    if (size == 0 || size > 0x7FFFFFFF) return false;
    const DWORD length = GetModuleFileNameA(nullptr, out, static_cast<DWORD>(size));
    return length > 0 && length < size;
}

bool windowsProcessAlive(unsigned long id) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
    if (process == nullptr) return GetLastError() == ERROR_ACCESS_DENIED;
    DWORD code = 0;
    const bool running = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
    CloseHandle(process);
    return running;
}

bool windowsStart(PlatformBackend* backend) {
    windowsState = WindowsState{};
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = windowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hIcon = LoadIconA(wc.hInstance, MAKEINTRESOURCEA(ICON_RESOURCE));
    wc.hIconSm = static_cast<HICON>(LoadImageA(wc.hInstance, MAKEINTRESOURCEA(ICON_RESOURCE),
                                               IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                               GetSystemMetrics(SM_CYSMICON), 0));
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    wc.lpszClassName = WINDOW_CLASS;
    if (RegisterClassExA(&wc) == 0) return false;
    windowsState.classRegistered = true;
    windowsState.timer = CreateWaitableTimerA(nullptr, TRUE, nullptr);
    *backend = PlatformBackend{};
    backend->name = "windows";
    backend->stop = windowsStop;
    backend->pumpEvents = windowsPumpEvents;
    backend->showFrame = windowsShowFrame;
    backend->messageBox = windowsMessageBox;
    backend->screenSize = windowsScreenSize;
    return true;
}
