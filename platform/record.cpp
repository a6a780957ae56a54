// The --record file: the run written down as an input script that replays it. The queue hands
// over each message a person gave as the program takes it, the clock each reading it gives
// the program, the message box each question's answer; the back end says when the person's
// motion moved the cursor. Entry points: recordBegin (start-up), the record* notes of
// platform.h, recordFinish (saved as every save is). Kept in memory as the file's text, so
// that after a crash the text so far can still be written. Never calls the program.
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#if !defined(_WIN32) && !defined(__EMSCRIPTEN__)
#define RECORD_SIGNALS 1
#include <fcntl.h>
#include <unistd.h>
#endif

#include "platform/platform.h"

#if defined(_WIN32)
static char** environment() { return _environ; }
#else
extern "C" char** environ;
static char** environment() { return environ; }
#endif

namespace {

constexpr std::size_t RECORD_TEXT_START = 64 * 1024;   // bytes; grows by doubling
constexpr int RECORD_LINE_MAX = 96;                    // the longest line the recorder writes

struct RecordState {
    bool active;
    char path[PLATFORM_PATH_MAX];
    // The file's text; a clock line may be open (no line break yet) at its end.
    char* text;
    std::size_t length, capacity;
    std::vector<char*> retired;   // buffers grown out of; a crash may still be reading one
    bool outOfMemory;             // the text could not grow: the recording stops there
    bool clockOpen;
    int clockFrame;
    int clockCount;               // readings on the open clock line
    // Where a replay will have the virtual cursor, and where the recorder last saw the live
    // one: the two differ only while the person's motion is queued but not yet taken.
    int replayX, replayY;
    int seenX, seenY;
};
RecordState recordState;

// What a crash or a second interrupt may read. A grown buffer is published before any length
// that needs it, and the reader takes the length first: the buffer it then reads holds at
// least that many bytes (old buffers stay allocated until the end).
std::atomic<std::size_t> publishedLength{0};
std::atomic<const char*> publishedText{nullptr};
volatile std::sig_atomic_t interruptState = 0;   // 0 none, 1 asked, 2 taken by the queue

// ---- The text ------------------------------------------------------------------------------
void append(const char* bytes, std::size_t size) {
    RecordState& r = recordState;
    if (r.outOfMemory) return;
    if (r.length + size > r.capacity) {
        std::size_t capacity = r.capacity ? r.capacity : RECORD_TEXT_START;
        while (r.length + size > capacity) capacity *= 2;
        char* grown = static_cast<char*>(std::malloc(capacity));
        if (grown == nullptr) {
            // Whole lines so far (at worst a clock line short of its last readings) are kept.
            r.outOfMemory = true;
            return;
        }
        if (r.length) std::memcpy(grown, r.text, r.length);
        publishedText.store(grown, std::memory_order_release);
        if (r.text) r.retired.push_back(r.text);
        r.text = grown;
        r.capacity = capacity;
    }
    std::memcpy(r.text + r.length, bytes, size);
    r.length += size;
    publishedLength.store(r.length, std::memory_order_release);
}

void closeClockLine() {
    if (!recordState.clockOpen) return;
    append("\n", 1);
    recordState.clockOpen = false;
}

// One whole line (without its line break), after any open clock line.
void appendLine(const char* line) {
    closeClockLine();
    append(line, std::strlen(line));
    append("\n", 1);
}

void appendHeader(int argc, char** argv) {
    appendLine("# Vorl recording: replay with --input FILE and the same program arguments and");
    appendLine("# environment; lines are FRAME VERB ARGS as in any input script (see --help).");
    std::string line = "# program arguments:";
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i] ? argv[i] : "";
        for (char& c : arg) {
            if (static_cast<unsigned char>(c) < 0x20) c = '?';   // one line, whatever it holds
        }
        const bool quote = arg.empty() || arg.find_first_of(" \t#'\"") != std::string::npos;
        line += quote ? " '" + arg + "'" : " " + arg;
    }
    // A replay refuses lines beyond SCRIPT_LINE_MAX; this one is only for people to read.
    if (line.size() > static_cast<std::size_t>(SCRIPT_LINE_MAX)) {
        line.resize(static_cast<std::size_t>(SCRIPT_LINE_MAX) - 4);
        line += " ...";
    }
    appendLine(line.c_str());
    // The variables that choose the simulated board and the program's paths change pictures.
    for (char** v = environment(); v && *v; ++v) {
        const std::string entry = *v;
        const std::string name = entry.substr(0, entry.find('='));
        if (name.rfind("VORL_", 0) != 0 && name.find("VEXA_") == std::string::npos) continue;
        if (entry.size() > 200 || entry.find_first_of("\n\r") != std::string::npos) continue;
        appendLine(("# environment: " + entry).c_str());
    }
}

void freeText() {
    RecordState& r = recordState;
    publishedLength.store(0, std::memory_order_release);
    publishedText.store(nullptr, std::memory_order_release);
    std::free(r.text);
    for (char* old : r.retired) std::free(old);
    r.retired.clear();
    r.text = nullptr;
    r.length = r.capacity = 0;
}

// The position a replay gives the cursor for a mouse message at (x, y): cursorMoveTo's.
void clampToClip(int* x, int* y) {
    const PlatformWindows& pw = platformWindows;
    if (!pw.clipped) return;
    if (*x > pw.clip.right - 1) *x = pw.clip.right - 1;
    if (*x < pw.clip.left) *x = pw.clip.left;
    if (*y > pw.clip.bottom - 1) *y = pw.clip.bottom - 1;
    if (*y < pw.clip.top) *y = pw.clip.top;
}

bool isMouseMessage(UINT message) {
    return message == WM_MOUSEMOVE || message == WM_LBUTTONDOWN || message == WM_LBUTTONUP ||
           message == WM_RBUTTONDOWN || message == WM_RBUTTONUP;
}

// A mouse message's position, as Windows packs it: signed 16-bit x low, y high.
int messageX(const MSG& m) {
    return static_cast<std::int16_t>(LOWORD(static_cast<std::uintptr_t>(m.lParam)));
}
int messageY(const MSG& m) {
    return static_cast<std::int16_t>(HIWORD(static_cast<std::uintptr_t>(m.lParam)));
}

// The script line of an input message; false for one a script cannot say.
bool formatMessage(const MSG& m, int frame, char* line) {
    char key[SCRIPT_KEY_NAME_MAX];
    const char* verb = nullptr;
    const char* button = nullptr;
    switch (m.message) {
    case WM_KEYDOWN: verb = "keydown"; break;
    case WM_KEYUP: verb = "keyup"; break;
    case WM_MOUSEMOVE: verb = "move"; break;
    case WM_LBUTTONDOWN: verb = "lbutton"; button = "down"; break;
    case WM_LBUTTONUP: verb = "lbutton"; button = "up"; break;
    case WM_RBUTTONDOWN: verb = "rbutton"; button = "down"; break;
    case WM_RBUTTONUP: verb = "rbutton"; button = "up"; break;
    case WM_CLOSE: std::snprintf(line, RECORD_LINE_MAX, "%d close", frame); return true;
    default: return false;
    }
    if (m.message == WM_KEYDOWN || m.message == WM_KEYUP) {
        if (m.wParam < 1 || m.wParam > 255) return false;
        scriptKeyName(static_cast<int>(m.wParam), key);
        std::snprintf(line, RECORD_LINE_MAX, "%d %s %s", frame, verb, key);
    } else if (button) {
        std::snprintf(line, RECORD_LINE_MAX, "%d %s %s %d %d", frame, verb, button, messageX(m),
                      messageY(m));
    } else {
        std::snprintf(line, RECORD_LINE_MAX, "%d %s %d %d", frame, verb, messageX(m), messageY(m));
    }
    return true;
}

// ---- Crashes and interrupts ------------------------------------------------------------------
#if RECORD_SIGNALS
constexpr int CRASH_SIGNALS[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr int INTERRUPT_SIGNALS[] = {SIGINT, SIGTERM};
constexpr int SIGNAL_SLOTS = 7;
static_assert(sizeof(CRASH_SIGNALS) / sizeof(int) + sizeof(INTERRUPT_SIGNALS) / sizeof(int) ==
              SIGNAL_SLOTS);

struct SignalSlot {
    int number;
    struct sigaction previous;
};
SignalSlot signalSlots[SIGNAL_SLOTS];
int signalSlotCount = 0;
// Prepared at the start, because a signal handler may not build strings.
char crashPath[PLATFORM_PATH_MAX + 32];
char crashNotice[PLATFORM_PATH_MAX + 64];
// 0 before a crash, 1 while one thread saves the recording, 2 once it is saved (or could
// not be): a crash signal taken on another thread meanwhile (a signal sent to the whole
// process group arrives twice) waits for the save rather than end the process under it.
constexpr int CRASH_NONE = 0, CRASH_SAVING = 1, CRASH_DONE = 2;
std::atomic<int> crashState{CRASH_NONE};
constexpr int CRASH_WAIT_STEPS = 500;   // of 10 ms: a save that takes longer is given up

void writeAll(int fd, const char* bytes, std::size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, bytes, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
}

// Writes the text so far as the recording, with calls a signal handler may make: a new file
// beside the target, synced, renamed over it. Once only.
void writeRecordingAfterCrash() {
    const std::size_t length = publishedLength.load(std::memory_order_acquire);
    const char* text = publishedText.load(std::memory_order_acquire);
    if (text == nullptr || length == 0) return;
    const int fd = open(crashPath, O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd < 0) return;
    writeAll(fd, text, length);
    if (text[length - 1] != '\n') writeAll(fd, "\n", 1);   // an open clock line
    const bool synced = fsync(fd) == 0;
    close(fd);
    if (!synced || rename(crashPath, recordState.path) != 0) {
        unlink(crashPath);
        return;
    }
    writeAll(STDERR_FILENO, crashNotice, std::strlen(crashNotice));
}

// The first crash saves; a crash on another thread during the save waits for it to end.
void saveAfterCrash() {
    int expected = CRASH_NONE;
    if (crashState.compare_exchange_strong(expected, CRASH_SAVING)) {
        writeRecordingAfterCrash();
        crashState.store(CRASH_DONE);
        return;
    }
    const struct timespec step = {0, 10 * 1000 * 1000};
    for (int i = 0; i < CRASH_WAIT_STEPS && crashState.load() != CRASH_DONE; ++i) {
        nanosleep(&step, nullptr);
    }
}

const struct sigaction* previousAction(int number) {
    for (int i = 0; i < signalSlotCount; ++i) {
        if (signalSlots[i].number == number) return &signalSlots[i].previous;
    }
    return nullptr;
}

// A crash: the recording so far is saved, then the signal goes where it went before (a fault
// repeats as the handler returns; a signal that was sent is sent again).
void onCrash(int number, siginfo_t* info, void*) {
    saveAfterCrash();
    const struct sigaction* previous = previousAction(number);
    if (previous) sigaction(number, previous, nullptr);
    if (info == nullptr || info->si_code <= 0) raise(number);
}

// When the first interrupt came, in milliseconds of the monotonic clock.
constexpr long INTERRUPT_REPEAT_MS = 250;   // a repeat sooner than this is the same request
volatile std::sig_atomic_t interruptMs = 0;

long monotonicMs() {
    struct timespec now = {};
    clock_gettime(CLOCK_MONOTONIC, &now);   // async-signal-safe
    return static_cast<long>(now.tv_sec % 1000000) * 1000 + now.tv_nsec / 1000000;
}

// The first interrupt asks the queue to close the window, so the run ends as if the person
// had closed it and its recording is whole; a second one is treated as a crash. A signal sent
// to the program and to its process group (as timeout does) arrives twice within moments: a
// repeat that close to the first is the same request and changes nothing.
void onInterrupt(int number, siginfo_t* info, void* context) {
    if (interruptState == 0) {
        interruptMs = static_cast<std::sig_atomic_t>(monotonicMs());
        interruptState = 1;
        return;
    }
    const long since = monotonicMs() - static_cast<long>(interruptMs);
    if (since >= 0 && since < INTERRUPT_REPEAT_MS) return;   // negative: the clock wrapped
    onCrash(number, info, context);
}

void installSignals() {
    std::snprintf(crashPath, sizeof crashPath, "%s.%ld.part", recordState.path,
                  static_cast<long>(getpid()));
    std::snprintf(crashNotice, sizeof crashNotice, "vorl: the recording so far is in %s\n",
                  recordState.path);
    crashState.store(CRASH_NONE);
    signalSlotCount = 0;
    auto install = [](int number, void (*handler)(int, siginfo_t*, void*), int flags) {
        struct sigaction action = {};
        action.sa_sigaction = handler;
        action.sa_flags = SA_SIGINFO | flags;
        sigemptyset(&action.sa_mask);
        SignalSlot& slot = signalSlots[signalSlotCount];
        if (sigaction(number, &action, &slot.previous) == 0) {
            slot.number = number;
            ++signalSlotCount;
        }
    };
    for (int number : CRASH_SIGNALS) install(number, onCrash, 0);
    for (int number : INTERRUPT_SIGNALS) install(number, onInterrupt, SA_RESTART);
}

void restoreSignals() {
    for (int i = 0; i < signalSlotCount; ++i) {
        sigaction(signalSlots[i].number, &signalSlots[i].previous, nullptr);
    }
    signalSlotCount = 0;
}
#else
void installSignals() {}
void restoreSignals() {}
#endif

}  // namespace

bool recordBegin(const char* path, int argc, char** argv, std::string* error) {
    recordReset();
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        *error = std::string("--record ") + path + ": cannot record there: it is a folder";
        return false;
    }
    // The place is tried now: a session is not lost to a folder that cannot take the file.
    SaveFile probe;
    if (!saveFileBegin(probe, path)) {
        *error = std::string("--record ") + path + ": cannot record there: " + probe.reason;
        return false;
    }
    saveFileAbandon(probe);
    RecordState& r = recordState;
    std::snprintf(r.path, sizeof r.path, "%s", path);
    r.active = true;
    r.replayX = r.seenX = platformWindows.cursorX;
    r.replayY = r.seenY = platformWindows.cursorY;
    appendHeader(argc, argv);
    interruptState = 0;
    installSignals();
    return true;
}

bool recordActive() { return recordState.active; }

void recordCursorNote() {
    RecordState& r = recordState;
    if (!r.active) return;
    const int x = platformWindows.cursorX;
    const int y = platformWindows.cursorY;
    if (x != r.seenX || y != r.seenY) {
        // Moved by the program since the recorder last looked: a replay moves it too. (A
        // ClipCursor that pulls in a cursor whose motion is still queued is taken for the same;
        // the program re-centres the cursor right after one.)
        r.replayX = r.seenX = x;
        r.replayY = r.seenY = y;
    }
}

void recordCursorMoved() {
    if (!recordState.active) return;
    recordState.seenX = platformWindows.cursorX;
    recordState.seenY = platformWindows.cursorY;
}

void recordMessageTaken(const PlatformQueuedMessage& taken, int frame) {
    RecordState& r = recordState;
    if (!r.active) return;
    const int x = platformWindows.cursorX;
    const int y = platformWindows.cursorY;
    r.seenX = x;
    r.seenY = y;
    // A message for no window (posted after the program's window had gone) reaches nobody.
    char line[RECORD_LINE_MAX];
    if (!windowFromHandle(taken.msg.hwnd) || !formatMessage(taken.msg, frame, line)) return;
    appendLine(line);
    if (isMouseMessage(taken.msg.message)) {
        r.replayX = messageX(taken.msg);
        r.replayY = messageY(taken.msg);
        clampToClip(&r.replayX, &r.replayY);
    }
    // The person's later motion had already moved the live cursor (or, in a replay, a cursor
    // line did): the replay is told where it stands as this message is handled.
    if (x != r.replayX || y != r.replayY) {
        std::snprintf(line, sizeof line, "%d cursor %d %d", frame, x, y);
        appendLine(line);
        r.replayX = x;
        r.replayY = y;
    }
}

void recordClockReading(int frame, DWORD ms) {
    RecordState& r = recordState;
    if (!r.active) return;
    char words[RECORD_LINE_MAX];
    if (r.clockOpen && r.clockFrame == frame && r.clockCount < RECORD_CLOCK_PER_LINE) {
        std::snprintf(words, sizeof words, " %lu", static_cast<unsigned long>(ms));
    } else {
        closeClockLine();
        std::snprintf(words, sizeof words, "%d clock %lu", frame, static_cast<unsigned long>(ms));
        r.clockOpen = true;
        r.clockFrame = frame;
        r.clockCount = 0;
    }
    append(words, std::strlen(words));
    ++r.clockCount;
}

void recordAnswer(int frame, int answer) {
    if (!recordState.active) return;
    char line[RECORD_LINE_MAX];
    std::snprintf(line, sizeof line, "%d answer %s", frame, answer == IDCANCEL ? "cancel" : "ok");
    appendLine(line);
}

bool recordTakeInterrupt() {
    if (interruptState != 1) return false;
    interruptState = 2;
    return true;
}

bool recordFinish(std::string* error) {
    RecordState& r = recordState;
    if (!r.active) return true;
    closeClockLine();
    SaveFile save;
    bool saved = saveFileBegin(save, r.path);
    if (saved) saved = saveFileWrite(save, r.text, r.length);
    if (saved) {
        saved = saveFileCommit(save);
    } else {
        saveFileAbandon(save);
    }
    if (!saved) {
        *error = std::string(r.path) + ": recording not saved: " + save.reason;
    } else if (r.outOfMemory) {
        *error = std::string(r.path) + ": recording cut short: out of memory";
        saved = false;
    }
    recordReset();
    return saved;
}

void recordReset() {
    restoreSignals();
    freeText();
    recordState.active = false;
    recordState.outOfMemory = false;
    recordState.path[0] = '\0';
    recordState.clockOpen = false;
    recordState.clockCount = 0;
    interruptState = 0;
}
