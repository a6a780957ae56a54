// The part of the Windows user interface and timer that the program calls: message queue,
// window, cursor, message boxes and the millisecond clock, with Windows' names, constants
// and meanings. Served by one shared queue and window table over the headless and SDL back
// ends. Below them, the program's side: its entry, the status line, and files saved so that
// nothing is lost. Knows no geometry; meets the rasterizer only at its present hook.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/rgb565.h"

// On Windows too these are the layer's own declarations (scripts, the fixed clock and the
// headless back end work there as well); the real system headers stay inside the Windows back
// end's file, which talks to the layer through platform/backend.h only.

using BOOL = int;
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using UINT = unsigned int;
using LONG = std::int32_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using LPCSTR = const char*;
using ATOM = WORD;

struct PlatformWindow;
struct PlatformObject;
using HWND = PlatformWindow*;
using HINSTANCE = PlatformObject*;
using HICON = PlatformObject*;
using HCURSOR = PlatformObject*;
using HBRUSH = PlatformObject*;
using HMENU = PlatformObject*;
using HDC = PlatformObject*;

#define TRUE 1
#define FALSE 0
#define CALLBACK
#define WINAPI

using WNDPROC = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);

struct POINT { LONG x; LONG y; };
union LARGE_INTEGER {
    struct {
        DWORD LowPart;
        LONG HighPart;
    } u;
    std::int64_t QuadPart;
};
struct RECT { LONG left; LONG top; LONG right; LONG bottom; };
struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
};
struct PAINTSTRUCT { HDC hdc; BOOL fErase; RECT rcPaint; };
struct WNDCLASSEXA {
    UINT cbSize;
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    HICON hIcon;
    HCURSOR hCursor;
    HBRUSH hbrBackground;
    LPCSTR lpszMenuName;
    LPCSTR lpszClassName;
    HICON hIconSm;
};

// Messages.
constexpr UINT WM_CREATE = 0x0001;
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_MOVE = 0x0003;
constexpr UINT WM_SIZE = 0x0005;
constexpr UINT WM_SETFOCUS = 0x0007;
constexpr UINT WM_KILLFOCUS = 0x0008;
constexpr UINT WM_PAINT = 0x000F;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_SETCURSOR = 0x0020;
constexpr UINT WM_DISPLAYCHANGE = 0x007E;
constexpr UINT WM_KEYDOWN = 0x0100;
constexpr UINT WM_KEYUP = 0x0101;
constexpr UINT WM_CHAR = 0x0102;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WM_MOUSEMOVE = 0x0200;
constexpr UINT WM_LBUTTONDOWN = 0x0201;
constexpr UINT WM_LBUTTONUP = 0x0202;
constexpr UINT WM_RBUTTONDOWN = 0x0204;
constexpr UINT WM_RBUTTONUP = 0x0205;
constexpr UINT WM_ENTERMENULOOP = 0x0211;
constexpr UINT WM_EXITMENULOOP = 0x0212;

// Virtual-key codes.
constexpr int VK_RETURN = 0x0D;
constexpr int VK_SHIFT = 0x10;
constexpr int VK_ESCAPE = 0x1B;
constexpr int VK_END = 0x23;
constexpr int VK_HOME = 0x24;
constexpr int VK_LEFT = 0x25;
constexpr int VK_UP = 0x26;
constexpr int VK_RIGHT = 0x27;
constexpr int VK_DOWN = 0x28;
constexpr int VK_ADD = 0x6B;        // the numeric keypad's plus
constexpr int VK_SUBTRACT = 0x6D;   // and minus
constexpr int VK_F1 = 0x70;
constexpr int VK_F2 = 0x71;
constexpr int VK_F3 = 0x72;
constexpr int VK_F4 = 0x73;
constexpr int VK_F5 = 0x74;
constexpr int VK_F6 = 0x75;
constexpr int VK_F7 = 0x76;
constexpr int VK_F8 = 0x77;
constexpr int VK_F9 = 0x78;
constexpr int VK_F10 = 0x79;
constexpr int VK_F11 = 0x7A;
constexpr int VK_F12 = 0x7B;
constexpr int VK_OEM_PLUS = 0xBB;
constexpr int VK_OEM_MINUS = 0xBD;

// PeekMessage.
constexpr UINT PM_NOREMOVE = 0x0000;
constexpr UINT PM_REMOVE = 0x0001;

// Message boxes.
constexpr UINT MB_OK = 0x00000000;
constexpr UINT MB_OKCANCEL = 0x00000001;
constexpr UINT MB_ICONERROR = 0x00000010;
constexpr UINT MB_ICONQUESTION = 0x00000020;
constexpr UINT MB_ICONINFORMATION = 0x00000040;
constexpr UINT MB_TOPMOST = 0x00040000;
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;

// Window styles and placement.
constexpr UINT CS_VREDRAW = 0x0001;
constexpr UINT CS_HREDRAW = 0x0002;
constexpr DWORD WS_POPUP = 0x80000000u;
constexpr DWORD WS_CAPTION = 0x00C00000u;
constexpr DWORD WS_SYSMENU = 0x00080000u;
constexpr DWORD WS_THICKFRAME = 0x00040000u;
constexpr DWORD WS_MINIMIZEBOX = 0x00020000u;
constexpr DWORD WS_MAXIMIZEBOX = 0x00010000u;
constexpr DWORD WS_EX_APPWINDOW = 0x00040000u;
constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_SHOWMAXIMIZED = 3;
constexpr UINT SWP_NOZORDER = 0x0004;
constexpr UINT SWP_NOACTIVATE = 0x0010;
constexpr int SM_CXSCREEN = 0;
constexpr int SM_CYSCREEN = 1;

// Hit-test codes (low word of WM_SETCURSOR's lParam).
constexpr int HTCLIENT = 1;
constexpr int HTCAPTION = 2;
constexpr int HTSYSMENU = 3;
constexpr int HTMINBUTTON = 8;
constexpr int HTMAXBUTTON = 9;
constexpr int HTLEFT = 10;
constexpr int HTRIGHT = 11;
constexpr int HTTOP = 12;
constexpr int HTTOPLEFT = 13;
constexpr int HTTOPRIGHT = 14;
constexpr int HTBOTTOM = 15;
constexpr int HTBOTTOMLEFT = 16;
constexpr int HTBOTTOMRIGHT = 17;
constexpr int HTBORDER = 18;
constexpr int HTCLOSE = 20;

// Standard cursors (LoadCursorA with a null instance).
#define IDC_ARROW reinterpret_cast<LPCSTR>(32512)
#define IDC_CROSS reinterpret_cast<LPCSTR>(32515)
#define IDC_SIZENWSE reinterpret_cast<LPCSTR>(32642)
#define IDC_SIZENESW reinterpret_cast<LPCSTR>(32643)
#define IDC_SIZEWE reinterpret_cast<LPCSTR>(32644)
#define IDC_SIZENS reinterpret_cast<LPCSTR>(32645)

inline WORD LOWORD(std::uintptr_t v) { return static_cast<WORD>(v & 0xFFFF); }
inline WORD HIWORD(std::uintptr_t v) { return static_cast<WORD>((v >> 16) & 0xFFFF); }
inline LPARAM MAKELPARAM(int lo, int hi) {
    return static_cast<LPARAM>(static_cast<DWORD>((lo & 0xFFFF) | ((hi & 0xFFFF) << 16)));
}

// Message queue.
BOOL PeekMessageA(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeMsg);
BOOL TranslateMessage(const MSG* msg);
LRESULT DispatchMessageA(const MSG* msg);
BOOL PostMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);
LRESULT DefWindowProcA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// Windows.
ATOM RegisterClassExA(const WNDCLASSEXA* wc);
BOOL UnregisterClassA(LPCSTR className, HINSTANCE instance);
HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR title, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     void* param);
BOOL DestroyWindow(HWND hwnd);
// The window's title (its caption); FALSE for a window that does not exist.
BOOL SetWindowTextA(HWND hwnd, LPCSTR text);
BOOL ShowWindow(HWND hwnd, int cmdShow);
BOOL UpdateWindow(HWND hwnd);
BOOL SetWindowPos(HWND hwnd, HWND after, int x, int y, int cx, int cy, UINT flags);
BOOL AdjustWindowRectEx(RECT* rect, DWORD style, BOOL menu, DWORD exStyle);
BOOL IsIconic(HWND hwnd);
BOOL GetUpdateRect(HWND hwnd, RECT* rect, BOOL erase);
HDC BeginPaint(HWND hwnd, PAINTSTRUCT* ps);
BOOL EndPaint(HWND hwnd, const PAINTSTRUCT* ps);
HWND GetFocus();

// Cursor and mouse.
BOOL GetCursorPos(POINT* point);
BOOL SetCursorPos(int x, int y);
BOOL ClipCursor(const RECT* rect);
HWND SetCapture(HWND hwnd);
BOOL ReleaseCapture();
HCURSOR SetCursor(HCURSOR cursor);
HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR name);
int GetSystemMetrics(int index);

// Message boxes and time.
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
DWORD timeGetTime();
// The high-resolution counter, for timing the program's own work: real time always (the fixed
// or replayed millisecond clock does not drive it), ticks at QueryPerformanceFrequency.
BOOL QueryPerformanceCounter(LARGE_INTEGER* count);
BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency);

// ---- The program's side of the platform ----------------------------------------------------
// The program's entry, called by the platform's main() with the arguments that are not the
// platform's own; its result is the process exit code.
int runApplication(int argc, char** argv);
// The program's keys for people: one line a key, "GROUP\tKEYS\tWHAT\n", each group's lines
// together and the groups in the order they are shown. The host hands it to the --help text;
// a page shows it as its key panel. Lives as long as the process.
const char* applicationKeyList();
// The program hands each frame's statistics line here; a headless run prints the last one
// on standard output at exit.
void platformSetStatusLine(const char* line);
// A line the program wants printed on standard output at the end of the run, after the
// status line (the summary of a scripted run); each call replaces the line.
void platformSetSummaryLine(const char* line);
// The platform options that ask the program for something (taken from the command line like
// every platform option, so the program's own command line stays as it is).
struct PlatformRequests {
    bool auditCracks;   // --audit-cracks: audit every frame for gaps between patches
    // The run has no window of its own (headless), or a page shows what the program prints:
    // diagnostics go to standard error as well as to their file.
    bool echoDiagnostics;
    // The surface file the user named (--surface FILE or a lone word), read at start-up and
    // by L and written by S in place of data/vorl.txt; empty when none was named.
    const char* surfaceFile;
    // --heightmap IMAGE: the scene is made from this grey image instead of a surface file;
    // empty when none. heightScale: --height, the height of a pixel value of 1 (0 when not
    // given: the program's default).
    const char* heightmapFile;
    float heightScale;
    // --export FILE and --export-control FILE: meshes written at the end of the run; empty
    // when none.
    const char* exportFile;
    const char* exportControlFile;
};
const PlatformRequests& platformRequests();

// ---- Files saved so that nothing is lost ---------------------------------------------------
// A file written in place of another: the bytes go to a temporary file in the same folder,
// and only a complete file, flushed and synced to the disk, is renamed over the target. Until
// then, and after any failure, the old file is exactly as it was and no temporary file stays.
constexpr int SAVE_PATH_MAX = 1024;
constexpr int SAVE_REASON_MAX = 160;

struct SaveFile {
    void* file;                       // the temporary file's stream, null when not open
    bool failed;                      // a write failed; the first failure's reason is kept
    char path[SAVE_PATH_MAX];
    char temporaryPath[SAVE_PATH_MAX];
    char reason[SAVE_REASON_MAX];     // why the save failed, for the user ("No space left...")
};

// Creates the temporary file beside the file `path` names, through symbolic links to their
// target; false with save.reason set (nothing created), also when that file exists and is
// not a regular file (a folder, a pipe, a device), which a save never replaces.
bool saveFileBegin(SaveFile& save, const char* path);
// Appends bytes; false once any write has failed (the first reason is kept).
bool saveFileWrite(SaveFile& save, const void* bytes, std::size_t size);
// printf into the file; false once any write has failed.
bool saveFilePrintf(SaveFile& save, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Flushes, syncs and closes the temporary file and renames it over the target. False, with
// save.reason set, the temporary file removed and the target untouched, when this or any
// earlier step failed.
bool saveFileCommit(SaveFile& save);
// Gives the save up: the temporary file is removed, the target untouched.
void saveFileAbandon(SaveFile& save);

// Removes what saves of `target` left behind when they were killed before they finished:
// temporary files beside it (named as files.cpp describes, with the writer's process id)
// whose writer is no longer running. A '#' in the target's file name stands for any digit
// ("scrn####.tga" covers every capture). Call it before this process saves `target`: a
// temporary carrying this process's own id counts as an earlier run's. Nothing else is
// touched. Returns the count removed.
int saveFileSweep(const char* target);

// ---- Shipped data files --------------------------------------------------------------------
// Where the program reads a shipped file named by its path relative to the working folder
// ("data/tex.tga"): from the working folder when anything of that name is there (even a file
// that cannot be read, which its reader then refuses: the shipped file never stands in for
// the user's), else from beside the program, else from the installed data folder (share/vorl
// beside the program's bin folder).
// Writes the path to read into out (size bytes, at least SAVE_PATH_MAX); when no place has
// the file, `path` itself, so that a refusal names the file as the program asked for it.
void dataFileToRead(const char* path, char* out, std::size_t size);
// Makes the folder that `path` (relative to the working folder) is saved into when it is
// missing, so that a program started from an empty folder saves there and never into the
// folder its data was read from. False, with errno set, when it cannot be made.
bool makeFolderFor(const char* path);
// True when `path` names a folder (through links), so that a reader can say so instead of
// reporting what reading a folder happens to give on this system.
bool pathIsFolder(const char* path);

// ---- Pictures ------------------------------------------------------------------------------
// Saves a picture of 24-bit pixels (blue, green, red; bottom row first) as a file of that
// name: an uncompressed 24-bit TGA, or under the platform option --png an 8-bit RGB PNG with the
// same pixels. Saved as above, so the file is whole or as it was; false with the reason (for
// the user) in `reason` when given.
bool savePicture(const char* path, const std::uint8_t* bgrBottomUp, int width, int height,
                 char* reason, std::size_t reasonSize);
// The extension of the files savePicture writes: "tga", or "png" under --png.
const char* pictureExtension();
