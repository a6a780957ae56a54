// The platform layer's private records and the contract of its back ends: the shared message
// queue and frame counter, the window and class table with the virtual cursor, the input
// script, the last presented frame, and the back-end routine table. For the platform's own
// files and their tests only: the program includes platform/win32.h and platform/services.h,
// and a host that runs the
// program (main(), a benchmark) includes platform/host.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/host.h"
#include "platform/services.h"
#include "platform/win32.h"

// ---- Message queue, frames and clock -------------------------------------------------------
constexpr int PLATFORM_QUEUE_CAPACITY = 1024;

struct PlatformQueuedMessage {
    MSG msg;
    bool moveCursor;          // a scripted mouse message: the cursor goes to its position
    int cursorX, cursorY;     // when it is taken from the queue
    bool input;               // from a person (a back end or the script), not from the program:
                              // a recording takes it down as it is taken
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
    int clockFrame;           // the frame the program's clock readings belong to: the counter as
                              // the last PeekMessageA found it, so the readings of a frame's
                              // messages and of its drawing share one number
};
extern PlatformQueue platformQueue;

// Empties the queue, zeroes the frame counter and restarts both clocks.
void queueReset();
// Appends a message (input: from a person, see PlatformQueuedMessage); false when the queue is
// full.
bool queuePush(const MSG& msg, bool moveCursor, int cursorX, int cursorY, bool input);
// Posts a message a person gave (a back end's key, button, motion or close, the --frames
// close) to hwnd, stamped like PostMessageA; false when hwnd is stale or the queue is full.
bool queuePostInput(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
// The clock for the platform's own time stamps: neither recorded nor taken from a recording's
// readings (the replayed clock's last reading is returned instead).
DWORD queueClockStamp();
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
    bool cursorGiven;         // a cursor line followed: the cursor goes to (cursorX, cursorY)
    int cursorX, cursorY;     // as the message is taken, instead of to (x, y) or nowhere
    int line;
};

// A recording's clock reading: the program's next timeGetTime of that frame returns it.
struct PlatformClockReading {
    int frame;
    DWORD ms;
};

// A recording's answer to a question box (IDOK or IDCANCEL), given in the order asked.
struct PlatformScriptAnswer {
    int frame;
    int answer;
};

// What one script file says, each part in file order.
struct PlatformScriptParts {
    std::vector<PlatformScriptEvent> events;
    std::vector<PlatformClockReading> clock;
    std::vector<PlatformScriptAnswer> answers;
};

constexpr int SCRIPT_KEY_NAME_MAX = 8;   // "ESCAPE", "RETURN" or a code up to "255"

struct PlatformScript {
    std::vector<PlatformScriptEvent> events;   // sorted by frame, file order kept within one
    std::size_t next;         // first event not yet queued
    std::vector<PlatformClockReading> clock;   // sorted by frame, file order kept within one
    std::size_t clockNext;    // first reading not yet given
    DWORD clockLast;          // the reading given last; 0 before the first
    std::vector<PlatformScriptAnswer> answers;
    std::size_t answerNext;   // first answer not yet given
    int lastFrame;            // the highest frame any line names; -1 for an empty script
};
extern PlatformScript platformScript;

// Parses a script's text into *events (file order); false with "NAME:LINE: reason" in *error.
// Clock and answer lines are checked and left out.
bool scriptParse(const std::string& text, const char* name,
                 std::vector<PlatformScriptEvent>* events, std::string* error);
// The longest line a script or recording may have, in bytes without its line end: a file
// with no line ends is refused there instead of being read into memory without end.
constexpr int SCRIPT_LINE_MAX = 4096;
// Parses every kind of line of a script or recording into *parts; false with
// "NAME:LINE: reason" in *error and *parts empty (also for a line over SCRIPT_LINE_MAX).
bool scriptParseParts(const std::string& text, const char* name, PlatformScriptParts* parts,
                      std::string* error);
// Makes already parsed events the active script (sorted by frame, stable), with no clock
// readings and no answers.
void scriptSet(const std::vector<PlatformScriptEvent>& events);
// Makes a parsed script or recording the active one (each part sorted by frame, stable).
void scriptSetParts(const PlatformScriptParts& parts);
// The virtual-key code a script names (letter, digit, name or number); 0 when unknown.
int scriptKeyCode(const char* name);
// The name a script gives a virtual-key code (1..255): the letter, digit or name, otherwise
// the decimal code; written into out (SCRIPT_KEY_NAME_MAX bytes).
void scriptKeyName(int code, char* out);
// True when the active script holds clock readings: it is a recording, and the clock is
// replayed from it.
bool scriptReplaysClock();
// The replayed clock: the next reading recorded for `frame`, or once they are used up (or the
// frame has none) the reading given last. False when the script holds no readings.
bool scriptClockReading(int frame, DWORD* ms);
// The next recorded answer to a question box (IDOK or IDCANCEL); false when none is left.
bool scriptNextAnswer(int* answer);
// Queues every event of frames <= frame not yet queued, as far as the queue has room;
// the hwnd is the application window. Returns the number queued.
int scriptQueueUpTo(int frame);
void scriptReset();

// ---- Recording (--record FILE) -------------------------------------------------------------
// The run written down as a script that replays it: each input message as it is taken, the
// clock readings of every frame, the answers to question boxes, and where the virtual cursor
// stood whenever a replay would have put it elsewhere. Kept in memory as the file's text and
// saved at the end of the run (or, after a crash, as far as it goes).
constexpr int RECORD_CLOCK_PER_LINE = 16;   // readings per clock line, for readable files

// Whether a recording is being made.
bool recordActive();
// Called before the back end or a taken message moves the cursor: a move since the last call
// came from the program (SetCursorPos, ClipCursor), which a replay repeats on its own.
void recordCursorNote();
// Called after the back end moved the cursor by the person's motion; the replay moves it only
// as the message of that motion is taken.
void recordCursorMoved();
// An input message just taken from the queue at frame `frame`, after its cursor move.
void recordMessageTaken(const PlatformQueuedMessage& taken, int frame);
// A clock reading the program received in `frame`.
void recordClockReading(int frame, DWORD ms);
// The answer (IDOK or IDCANCEL) a question box received in `frame`.
void recordAnswer(int frame, int answer);
// True once, when an interrupt (Ctrl+C, SIGTERM) asked a recorded run to end: the queue then
// closes the window the way the person would, and the recording keeps its close.
bool recordTakeInterrupt();
// Saves the recording (temporary file, sync, rename); false with the reason when it could not
// be saved. Nothing to do, and true, when no recording is made.
bool recordFinish(std::string* error);
// Drops the recording and restores the signal handlers it installed.
void recordReset();

// ---- Last presented frame and status line --------------------------------------------------
constexpr int PLATFORM_STATUS_MAX = 512;

struct PlatformFrame {
    std::vector<std::uint16_t> pixels;   // RGB 5-6-5, rows top first; grown only on size change
    int width, height;                   // 0 before the first frame
    int presented;                       // frames handed over so far
    char statusLine[PLATFORM_STATUS_MAX];
    bool statusGiven;
    char summaryLine[PLATFORM_STATUS_MAX];   // printed after the status line; empty: none
};
extern PlatformFrame platformFrame;

// The rasterizer's present hook: counts the frame and, for a back end that shows frames or a
// run that saves its last one, keeps a copy and lets the back end show it.
void framePresent(void* user, void* window, const std::uint16_t* pixels, int width,
                  int height, int swapInterval);
// Writes the last frame as a picture (savePicture: TGA, or PNG under --png); false with a
// reason.
bool frameSave(const char* path, std::string* error);
void frameReset();

// ---- Back ends: the contract is in platform/backend.h ----------------------------------------
// The headless message box: "[caption] text" on standard error, answer from the options.
int headlessMessageBox(const char* text, const char* caption, UINT type);
