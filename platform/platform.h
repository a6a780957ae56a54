// The platform layer's private records and the contract of its back ends: the shared message
// queue and frame counter, the window and class table with the virtual cursor, the input
// script, the last presented frame, and the back-end routine table. For the platform's own
// files and their tests only: the program includes platform/win32.h, and a host that runs the
// program (main(), a benchmark) includes platform/host.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/host.h"
#include "platform/win32.h"

// ---- Message queue, frames and clock -------------------------------------------------------
constexpr int PLATFORM_QUEUE_CAPACITY = 1024;

struct PlatformQueuedMessage {
    MSG msg;
    bool moveCursor;          // a scripted mouse message: the cursor goes to its position
    int cursorX, cursorY;     // when it is taken from the queue
};

struct PlatformQueue {
    PlatformQueuedMessage entries[PLATFORM_QUEUE_CAPACITY];
    int head;                 // index of the oldest entry
    int count;
    bool quitPending;         // PostQuitMessage was called; WM_QUIT comes when nothing else is left
    int quitCode;
    int framesCounted;        // empty findings counted as frames so far
    bool frameLimited;
    int frameLimit;           // after this many frames WM_CLOSE is posted, when frameLimited
    bool closePosted;
    bool fixedClock;
    std::uint32_t clockStep;
    std::uint32_t clockMs;    // the fixed clock's reading
    std::int64_t startNs;     // the real clock's zero, steady clock nanoseconds
};
extern PlatformQueue platformQueue;

// Empties the queue, zeroes the frame counter and restarts both clocks.
void queueReset();
// Appends a message; false when the queue is full.
bool queuePush(const MSG& msg, bool moveCursor, int cursorX, int cursorY);
// Drops every queued message addressed to hwnd (the window is gone).
void queueRemoveWindow(HWND hwnd);
// Sets the frame limit (< 0 = none) and the fixed clock (step in ms, or none).
void queueConfigure(int frameLimit, bool fixedClock, std::uint32_t clockStep);

// ---- Windows, classes, cursor ------------------------------------------------------------
constexpr int PLATFORM_MAX_CLASSES = 8;
constexpr int PLATFORM_MAX_WINDOWS = 8;
constexpr int PLATFORM_NAME_MAX = 128;
constexpr int PLATFORM_SCREEN_DEFAULT_WIDTH = 1024;
constexpr int PLATFORM_SCREEN_DEFAULT_HEIGHT = 768;

struct PlatformClass {
    bool used;
    ATOM atom;
    char name[PLATFORM_NAME_MAX];
    WNDPROC proc;
};

struct PlatformWindow {
    bool alive;
    bool destroying;          // WM_DESTROY is being sent
    bool visible;
    bool needsPaint;
    int classIndex;
    WNDPROC proc;
    DWORD style, exStyle;
    int x, y, width, height;
    char title[PLATFORM_NAME_MAX];
};

enum PlatformObjectKind { PLATFORM_OBJECT_CURSOR = 0, PLATFORM_OBJECT_DC, PLATFORM_OBJECT_COUNT };
struct PlatformObject {
    int kind;                 // PlatformObjectKind
    std::uintptr_t id;        // the cursor's resource number
};

struct PlatformWindows {
    PlatformClass classes[PLATFORM_MAX_CLASSES];
    int atomsIssued;
    PlatformWindow windows[PLATFORM_MAX_WINDOWS];
    HWND focus;
    HWND capture;
    HCURSOR cursor;
    int cursorX, cursorY;     // the virtual cursor, output pixels
    bool cursorPlaced;        // moved by SetCursorPos, a script or the mouse since start
    bool clipped;
    RECT clip;                // right and bottom exclusive, as Windows has them
};
extern PlatformWindows platformWindows;

// Forgets every class and window and puts the cursor at (0, 0) unclipped.
void windowsReset();
// The live window behind a handle, or null for a null, stale or foreign handle.
PlatformWindow* windowFromHandle(HWND hwnd);
// The window the platform sends its own messages to (closing, keys): the focus window.
HWND appWindow();
// Moves the virtual cursor, clamped into the ClipCursor rectangle when one is set.
void cursorMoveTo(int x, int y);

// ---- Input script --------------------------------------------------------------------------
struct PlatformScriptEvent {
    int frame;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    bool mouse;               // moves the cursor to (x, y) first
    int x, y;
    int line;
};

struct PlatformScript {
    std::vector<PlatformScriptEvent> events;   // sorted by frame, file order kept within one
    std::size_t next;         // first event not yet queued
};
extern PlatformScript platformScript;

// Parses a script's text into *events (file order); false with "NAME:LINE: reason" in *error.
bool scriptParse(const std::string& text, const char* name,
                 std::vector<PlatformScriptEvent>* events, std::string* error);
// Makes already parsed events the active script (sorted by frame, stable).
void scriptSet(const std::vector<PlatformScriptEvent>& events);
// The virtual-key code a script names (letter, digit, name or number); 0 when unknown.
int scriptKeyCode(const char* name);
// Queues every event of frames <= frame not yet queued, as far as the queue has room;
// the hwnd is the application window. Returns the number queued.
int scriptQueueUpTo(int frame);
void scriptReset();

// ---- Last presented frame and status line --------------------------------------------------
constexpr int PLATFORM_STATUS_MAX = 512;

struct PlatformFrame {
    std::vector<std::uint16_t> pixels;   // RGB 5-6-5, rows top first; grown only on size change
    int width, height;                   // 0 before the first frame
    int presented;                       // frames handed over so far
    char statusLine[PLATFORM_STATUS_MAX];
    bool statusGiven;
};
extern PlatformFrame platformFrame;

// The rasterizer's present hook: keeps a copy, then lets the back end show it.
void framePresent(void* user, void* window, const std::uint16_t* pixels, int width,
                  int height, int swapInterval);
// Writes the last frame as a picture (savePicture: TGA, or PNG under --png); false with a
// reason.
bool frameSave(const char* path, std::string* error);
void frameReset();

// ---- Back ends: the contract is in platform/backend.h ----------------------------------------
// The headless message box: "[caption] text" on standard error, answer from the options.
int headlessMessageBox(const char* text, const char* caption, UINT type);
