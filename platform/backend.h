// The contract of a platform back end, in plain types only: a back end whose own files see a
// system's real window headers (the Windows back end includes windows.h, whose names clash
// with the layer's own Win32-style ones) fills this table and reports its events through the
// routines below, never through platform/win32.h. Message codes, virtual-key codes and
// message-box bits are Windows' own numbers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/rgb565.h"

// Routines a back end fills in; any may be null where the back end has nothing to do.
struct PlatformBackend {
    const char* name;
    void (*stop)();
    void (*pumpEvents)();     // turns the back end's own events into queued messages
    void (*showFrame)(const std::uint16_t* pixels, int width, int height, int swapInterval);
    // True when showFrame takes what it needs from the pixels during the call (never reads
    // them again later), so it is handed the rasterizer's frame itself rather than a copy.
    bool showFrameCopies;
    // Shows a message box (type: MB_* bits); false when it could not, and the headless answer
    // is used.
    bool (*messageBox)(const char* text, const char* caption, unsigned type, int* result);
    // The desktop size; false when the back end has none (the last frame's size is used).
    bool (*screenSize)(int* width, int* height);
};
extern PlatformBackend platformBackend;

enum PlatformBackendKind { PLATFORM_BACKEND_HEADLESS = 0, PLATFORM_BACKEND_SDL,
                           PLATFORM_BACKEND_WINDOWS, PLATFORM_BACKEND_WEB,
                           PLATFORM_BACKEND_COUNT };

// Message-box bits and answers a back end reads and returns (Windows' values).
constexpr unsigned BACKEND_MB_TYPE_MASK = 0x0000000F;
constexpr unsigned BACKEND_MB_OKCANCEL = 0x00000001;
constexpr unsigned BACKEND_MB_ICON_MASK = 0x000000F0;
constexpr int BACKEND_IDOK = 1;
constexpr int BACKEND_IDCANCEL = 2;

// What a back end reports: each posts the message the application window would get.
// A key (virtual-key code) going down (repeat: auto-repeat) or up, with Windows' lParam bits.
void backendPostKey(int virtualKey, bool down, bool repeat);
// A mouse button (left or right) at the virtual cursor.
void backendPostButton(bool left, bool down);
// Relative motion: moves the virtual cursor, kept on the output and in ClipCursor's box, and
// posts WM_MOUSEMOVE there. Nothing when the motion is zero.
void backendMoveCursorBy(int dx, int dy);
// The user asked to close: WM_CLOSE to the application window (the same path as Escape).
void backendPostClose();
// The statistics line the program gave last ("" before the first).
const char* backendStatusLine();
// The application window's title ("Vorl" when there is none yet).
const char* backendWindowTitle();
// True when the run has no window: the headless back end draws into memory.
bool backendHeadless();
// The platform options a back end reads.
bool backendWindowed();
bool backendAnswerGiven();

// Fills the routines of the headless back end.
void headlessStart(PlatformBackend* backend);
#if VORL_HAVE_SDL
// Starts SDL video; false (nothing left open) when no display can be used.
bool sdlStart(PlatformBackend* backend);
#endif
#if VORL_HAVE_WEB
// Starts the web back end on the page's canvas (with `headless`, frames are not drawn; on the
// page's own thread control still returns to the browser after each one).
bool webStart(PlatformBackend* backend, bool headless);
#endif
#if VORL_HAVE_WINDOWS
// Starts the Windows back end (a real window made at the first frame); false when the system
// refuses the window class.
bool windowsStart(PlatformBackend* backend);
// Standard output and error of a GUI-subsystem program: where they go nowhere, the console
// of the process that started it (when there is one) takes them.
void windowsAttachConsole();
// Shows `text` in a message box when standard output (or error, for a refusal) goes nowhere
// a person sees; false when it goes somewhere and should be printed there.
bool windowsTellInBox(const char* text, bool error);
// The full path of the running program's file into out (size bytes); false when it does
// not fit or the system does not say.
bool windowsProgramPath(char* out, std::size_t size);
// True when a process of that id is running (or may be: one the system will not open).
bool windowsProcessAlive(unsigned long id);
#endif
