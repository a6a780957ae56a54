// The one message queue both back ends share, the frame counter and the millisecond clock.
// Entry points: PeekMessageA, TranslateMessage, DispatchMessageA, PostMessageA,
// PostQuitMessage, timeGetTime, queuePostInput for the back ends. An empty queue is where a
// frame begins: scripted messages for that frame are queued first, the --frames limit posts
// WM_CLOSE, the fixed clock steps. A recording (--record) is fed from here: the person's
// messages as they are taken, the program's clock readings as they are given; a replayed
// recording's readings stand in for the clock.
#include <chrono>
#include <cstring>

#include "platform/platform.h"

PlatformQueue platformQueue;

static std::int64_t steadyNowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void queueReset() {
    std::memset(&platformQueue, 0, sizeof(platformQueue));
    platformQueue.startNs = steadyNowNs();
}

void queueConfigure(int frameLimit, bool fixedClock, std::uint32_t clockStep) {
    platformQueue.frameLimited = frameLimit >= 0;
    platformQueue.frameLimit = frameLimit;
    platformQueue.fixedClock = fixedClock;
    platformQueue.clockStep = clockStep;
    platformQueue.clockMs = 0;
}

void platformSetClock(bool fixed, std::uint32_t stepMs) {
    queueConfigure(-1, fixed, stepMs);
    platformQueue.startNs = steadyNowNs();
}

bool queuePush(const MSG& msg, bool moveCursor, int cursorX, int cursorY, bool input) {
    PlatformQueue& q = platformQueue;
    if (q.count >= PLATFORM_QUEUE_CAPACITY) return false;
    PlatformQueuedMessage& e = q.entries[(q.head + q.count) % PLATFORM_QUEUE_CAPACITY];
    e.msg = msg;
    e.moveCursor = moveCursor;
    e.cursorX = cursorX;
    e.cursorY = cursorY;
    e.input = input;
    ++q.count;
    return true;
}

// Removes the entry at queue position `pos` (0 = oldest), keeping the order of the rest.
static void queueRemoveAt(int pos) {
    PlatformQueue& q = platformQueue;
    if (pos == 0) {
        q.head = (q.head + 1) % PLATFORM_QUEUE_CAPACITY;
        --q.count;
        return;
    }
    for (int i = pos; i + 1 < q.count; ++i) {
        q.entries[(q.head + i) % PLATFORM_QUEUE_CAPACITY] =
            q.entries[(q.head + i + 1) % PLATFORM_QUEUE_CAPACITY];
    }
    --q.count;
}

void queueRemoveWindow(HWND hwnd) {
    PlatformQueue& q = platformQueue;
    for (int i = 0; i < q.count;) {
        if (q.entries[(q.head + i) % PLATFORM_QUEUE_CAPACITY].msg.hwnd == hwnd) {
            queueRemoveAt(i);
        } else {
            ++i;
        }
    }
}

static bool messageMatches(const MSG& msg, HWND hwnd, UINT filterMin, UINT filterMax) {
    if (hwnd && msg.hwnd != hwnd) return false;
    if (filterMin == 0 && filterMax == 0) return true;
    return msg.message >= filterMin && msg.message <= filterMax;
}

// Posts the closing message of a finished --frames run: to the application window when there
// is one (the same path as Escape), otherwise straight WM_QUIT so a run always ends. A
// recording keeps it as the run's close, so that its replay ends where this run ended.
static void postFrameLimitClose() {
    HWND app = appWindow();
    if (app) {
        queuePostInput(app, WM_CLOSE, 0, 0);
    } else {
        PostQuitMessage(0);
    }
}

// Takes the entry at queue position `pos` out for the program: a scripted mouse message puts
// the cursor where it says, so GetCursorPos agrees with the message being handled, and a
// person's message goes into the recording.
static void queueTake(int pos) {
    PlatformQueue& q = platformQueue;
    const PlatformQueuedMessage taken = q.entries[(q.head + pos) % PLATFORM_QUEUE_CAPACITY];
    queueRemoveAt(pos);
    if (taken.input) recordCursorNote();
    if (taken.moveCursor) cursorMoveTo(taken.cursorX, taken.cursorY);
    if (taken.input) recordMessageTaken(taken, q.framesCounted);
}

BOOL PeekMessageA(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeMsg) {
    PlatformQueue& q = platformQueue;
    // From here to the next call, clock readings belong to this frame: the handling of its
    // messages and then, once the queue is found empty, its drawing.
    q.clockFrame = q.framesCounted;
    if (platformBackend.pumpEvents) platformBackend.pumpEvents();
    // An interrupted recording ends as if the person had closed the window.
    if (recordTakeInterrupt()) backendPostClose();
    const bool unfiltered = !hwnd && filterMin == 0 && filterMax == 0;
    for (;;) {
        for (int i = 0; i < q.count; ++i) {
            PlatformQueuedMessage& e = q.entries[(q.head + i) % PLATFORM_QUEUE_CAPACITY];
            if (!messageMatches(e.msg, hwnd, filterMin, filterMax)) continue;
            if (msg) *msg = e.msg;
            if (removeMsg & PM_REMOVE) queueTake(i);
            return TRUE;
        }
        // WM_QUIT comes only once nothing else is queued, whatever the filter asks for.
        if (q.quitPending && !hwnd) {
            if (msg) {
                std::memset(msg, 0, sizeof(*msg));
                msg->message = WM_QUIT;
                msg->wParam = static_cast<WPARAM>(q.quitCode);
                msg->time = queueClockStamp();
                msg->pt.x = platformWindows.cursorX;
                msg->pt.y = platformWindows.cursorY;
            }
            if (removeMsg & PM_REMOVE) q.quitPending = false;
            return TRUE;
        }
        if (!unfiltered) return FALSE;

        // The queue is empty: frame q.framesCounted is about to be drawn.
        if (q.frameLimited && q.framesCounted >= q.frameLimit && !q.closePosted) {
            q.closePosted = true;
            postFrameLimitClose();
            continue;
        }
        if (scriptQueueUpTo(q.framesCounted) > 0) continue;
        ++q.framesCounted;
        if (q.fixedClock) q.clockMs += q.clockStep;
        return FALSE;
    }
}

BOOL TranslateMessage(const MSG*) { return FALSE; }

LRESULT DispatchMessageA(const MSG* msg) {
    if (!msg) return 0;
    PlatformWindow* w = windowFromHandle(msg->hwnd);
    if (!w || !w->proc) return 0;
    return w->proc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

// A message stamped with the time and the cursor, queued for hwnd (null: for no window).
static bool postStamped(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, bool input) {
    if (hwnd && !windowFromHandle(hwnd)) return false;
    MSG m;
    m.hwnd = hwnd;
    m.message = message;
    m.wParam = wParam;
    m.lParam = lParam;
    m.time = queueClockStamp();
    m.pt.x = platformWindows.cursorX;
    m.pt.y = platformWindows.cursorY;
    return queuePush(m, false, 0, 0, input);
}

BOOL PostMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return postStamped(hwnd, message, wParam, lParam, false) ? TRUE : FALSE;
}

bool queuePostInput(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return postStamped(hwnd, message, wParam, lParam, true);
}

void PostQuitMessage(int exitCode) {
    platformQueue.quitPending = true;
    platformQueue.quitCode = exitCode;
}

// The fixed or the real clock as it stands, neither recorded nor replayed.
static DWORD clockNow() {
    if (platformQueue.fixedClock) return platformQueue.clockMs;
    if (platformQueue.startNs == 0) platformQueue.startNs = steadyNowNs();
    // Wraps after 49.7 days, as the millisecond clock it stands in for does.
    return static_cast<DWORD>((steadyNowNs() - platformQueue.startNs) / 1000000);
}

DWORD queueClockStamp() {
    // A stamp must not use up a replayed reading the program is owed.
    return scriptReplaysClock() ? platformScript.clockLast : clockNow();
}

DWORD timeGetTime() {
    const int frame = platformQueue.clockFrame;
    DWORD ms = 0;
    if (!scriptClockReading(frame, &ms)) ms = clockNow();
    recordClockReading(frame, ms);
    return ms;
}
