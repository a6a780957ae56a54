// The --input script: `FRAME VERB ARGS` lines turned into messages that are queued when the
// queue is found empty for the FRAME-th time, and a recording's clock readings and question
// answers given back in their place. Entry points: scriptLoad / scriptParseParts at start-up
// (malformed lines refused with "file:line: reason"), scriptQueueUpTo from the queue,
// scriptClockReading from the clock, scriptNextAnswer from the message box. Knows the
// message layout of Windows, nothing of the program.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <strings.h>

#include "platform/platform.h"

PlatformScript platformScript;

// lParam of key messages as Windows fills it: repeat count 1; a key-up also has the
// previous-state and transition bits (30 and 31) set.
constexpr LPARAM KEYDOWN_LPARAM = 0x00000001;
constexpr LPARAM KEYUP_LPARAM = static_cast<LPARAM>(0xC0000001u);

struct ScriptKeyName {
    const char* name;
    int code;
};
static const ScriptKeyName SCRIPT_KEY_NAMES[] = {
    {"SHIFT", VK_SHIFT}, {"ESCAPE", VK_ESCAPE}, {"RETURN", VK_RETURN}, {"HOME", VK_HOME},
    {"END", VK_END},     {"F1", VK_F1},         {"LEFT", VK_LEFT},     {"RIGHT", VK_RIGHT},
    {"UP", VK_UP},       {"DOWN", VK_DOWN},     {"PLUS", VK_OEM_PLUS}, {"MINUS", VK_OEM_MINUS},
    {"F2", VK_F2},       {"F3", VK_F3},         {"F4", VK_F4},         {"F5", VK_F5},
    {"F6", VK_F6},       {"F7", VK_F7},         {"F8", VK_F8},         {"F9", VK_F9},
    {"F10", VK_F10},     {"F11", VK_F11},       {"F12", VK_F12},
};

void scriptReset() {
    scriptSetParts(PlatformScriptParts{});
}

// A whole decimal integer (leading sign allowed) within [lo, hi]; false otherwise.
static bool parseInteger(const std::string& token, long lo, long hi, long* value) {
    if (token.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(token.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < lo || v > hi) return false;
    *value = v;
    return true;
}

int scriptKeyCode(const char* name) {
    if (!name || !name[0]) return 0;
    if (!name[1]) {
        const unsigned char c = static_cast<unsigned char>(name[0]);
        if (std::isalpha(c)) return std::toupper(c);   // letters are their upper-case ASCII
        if (std::isdigit(c)) return c;                 // so are digits
        return 0;
    }
    for (const ScriptKeyName& k : SCRIPT_KEY_NAMES) {
        if (strcasecmp(k.name, name) == 0) return k.code;
    }
    // Two or more digits: the virtual-key code itself (decimal, or hexadecimal with 0x).
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(name, &end, 0);
    if (errno != 0 || *end != '\0' || !std::isdigit(static_cast<unsigned char>(name[0])) ||
        v < 1 || v > 255) {
        return 0;
    }
    return static_cast<int>(v);
}

void scriptKeyName(int code, char* out) {
    if ((code >= 'A' && code <= 'Z') || (code >= '0' && code <= '9')) {
        out[0] = static_cast<char>(code);
        out[1] = '\0';
        return;
    }
    for (const ScriptKeyName& k : SCRIPT_KEY_NAMES) {
        if (k.code == code) {
            std::snprintf(out, SCRIPT_KEY_NAME_MAX, "%s", k.name);
            return;
        }
    }
    // In hexadecimal: a lone decimal digit would read back as that digit's key.
    std::snprintf(out, SCRIPT_KEY_NAME_MAX, "0x%02X", static_cast<unsigned>(code) & 0xFFu);
}

static void formatError(std::string* error, const char* name, int line, const std::string& why) {
    if (error) *error = std::string(name) + ":" + std::to_string(line) + ": " + why;
}

// A clock reading: whole milliseconds from 0 to 4294967295, as timeGetTime returns them.
static bool parseReading(const std::string& token, DWORD* ms) {
    if (token.empty() || !std::isdigit(static_cast<unsigned char>(token[0]))) return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(token.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v > 0xFFFFFFFFull) return false;
    *ms = static_cast<DWORD>(v);
    return true;
}

// The lines of a recording that carry no message: clock readings, the cursor position that
// goes with the message before, a question's answer. False with the reason for a malformed
// one; *handled false for any other verb.
static bool parseRecordedLine(const std::vector<std::string>& tok, int frame,
                              PlatformScriptParts* parts, bool* handled, std::string* why) {
    const std::string& verb = tok[1];
    *handled = true;
    if (verb == "clock") {
        if (tok.size() < 3) {
            *why = "missing arguments: expected MS ...";
            return false;
        }
        for (std::size_t i = 2; i < tok.size(); ++i) {
            DWORD ms = 0;
            if (!parseReading(tok[i], &ms)) {
                *why = "bad clock reading '" + tok[i] + "' (milliseconds from 0 to 4294967295)";
                return false;
            }
            parts->clock.push_back({frame, ms});
        }
        return true;
    }
    if (verb == "cursor") {
        if (tok.size() != 4) {
            *why = (tok.size() < 4 ? "missing arguments: " : "too many arguments: ") +
                   std::string("expected X Y");
            return false;
        }
        long x = 0, y = 0;
        if (!parseInteger(tok[2], INT_MIN, INT_MAX, &x) ||
            !parseInteger(tok[3], INT_MIN, INT_MAX, &y)) {
            *why = "bad position '" + tok[2] + " " + tok[3] + "'";
            return false;
        }
        // The position belongs to the message just before: a cursor line alone means nothing.
        if (parts->events.empty() || parts->events.back().frame != frame) {
            *why = "a cursor line must follow a message line of its frame";
            return false;
        }
        PlatformScriptEvent& e = parts->events.back();
        e.cursorGiven = true;
        e.cursorX = static_cast<int>(x);
        e.cursorY = static_cast<int>(y);
        return true;
    }
    if (verb == "answer") {
        if (tok.size() != 3) {
            *why = (tok.size() < 3 ? "missing arguments: " : "too many arguments: ") +
                   std::string("expected ok or cancel");
            return false;
        }
        if (tok[2] != "ok" && tok[2] != "cancel") {
            *why = "expected ok or cancel, not '" + tok[2] + "'";
            return false;
        }
        parts->answers.push_back({frame, tok[2] == "ok" ? IDOK : IDCANCEL});
        return true;
    }
    *handled = false;
    return true;
}

// Parses one line's tokens (comment already removed, at least one token) into *parts.
static bool parseLine(const std::vector<std::string>& tok, int line, PlatformScriptParts* parts,
                      std::string* why) {
    long frame = 0;
    if (!parseInteger(tok[0], 0, INT_MAX, &frame)) {
        *why = tok[0][0] == '-' ? "negative frame number '" + tok[0] + "'"
                                : "bad frame number '" + tok[0] + "'";
        return false;
    }
    if (tok.size() < 2) {
        *why = "missing verb after the frame number";
        return false;
    }
    bool handled = false;
    if (!parseRecordedLine(tok, static_cast<int>(frame), parts, &handled, why)) return false;
    if (handled) return true;
    std::vector<PlatformScriptEvent>* events = &parts->events;
    const std::string& verb = tok[1];
    PlatformScriptEvent e = {};
    e.frame = static_cast<int>(frame);
    e.line = line;
    auto expectArgs = [&](std::size_t count, const char* usage) {
        if (tok.size() == 2 + count) return true;
        *why = (tok.size() < 2 + count ? "missing arguments: " : "too many arguments: ") +
               std::string(usage);
        return false;
    };
    if (verb == "keydown" || verb == "keyup" || verb == "key") {
        if (!expectArgs(1, "expected KEY")) return false;
        const int code = scriptKeyCode(tok[2].c_str());
        if (!code) {
            *why = "unknown key '" + tok[2] + "'";
            return false;
        }
        e.wParam = static_cast<WPARAM>(code);
        if (verb != "keyup") {
            e.message = WM_KEYDOWN;
            e.lParam = KEYDOWN_LPARAM;
            events->push_back(e);
        }
        if (verb != "keydown") {
            e.message = WM_KEYUP;
            e.lParam = KEYUP_LPARAM;
            events->push_back(e);
        }
        return true;
    }
    std::size_t xy = 0;   // index of the X token of a mouse line
    if (verb == "move") {
        if (!expectArgs(2, "expected X Y")) return false;
        e.message = WM_MOUSEMOVE;
        xy = 2;
    } else if (verb == "lbutton" || verb == "rbutton") {
        if (!expectArgs(3, "expected down|up X Y")) return false;
        const bool left = verb == "lbutton";
        if (tok[2] == "down") {
            e.message = left ? WM_LBUTTONDOWN : WM_RBUTTONDOWN;
        } else if (tok[2] == "up") {
            e.message = left ? WM_LBUTTONUP : WM_RBUTTONUP;
        } else {
            *why = "expected down or up, not '" + tok[2] + "'";
            return false;
        }
        xy = 3;
    } else if (verb == "close") {
        if (!expectArgs(0, "close takes none")) return false;
        e.message = WM_CLOSE;
        events->push_back(e);
        return true;
    } else {
        *why = "unknown verb '" + verb + "'";
        return false;
    }
    // Positions travel as signed 16-bit halves of lParam, so they must fit one.
    long x = 0, y = 0;
    if (!parseInteger(tok[xy], -32768, 32767, &x) || !parseInteger(tok[xy + 1], -32768, 32767, &y)) {
        *why = "bad position '" + tok[xy] + " " + tok[xy + 1] + "' (integers from -32768 to 32767)";
        return false;
    }
    e.mouse = true;
    e.x = static_cast<int>(x);
    e.y = static_cast<int>(y);
    e.lParam = MAKELPARAM(e.x, e.y);
    events->push_back(e);
    return true;
}

namespace {

// Where a script's bytes come from: an open file, read a byte at a time so that a file
// without line ends (--input /dev/zero) is refused at its first over-long line instead of
// being read into memory whole, or text already in memory.
struct ScriptSource {
    std::FILE* file;
    const std::string* text;
    std::size_t at;
};

int nextByte(ScriptSource& source) {
    if (source.file != nullptr) return std::getc(source.file);
    return source.at < source.text->size()
               ? static_cast<unsigned char>((*source.text)[source.at++])
               : EOF;
}

// Parses the lines of `source` into *parts, each as it is read; false with "NAME:LINE:
// reason" in *error and *parts empty, also for a line longer than SCRIPT_LINE_MAX bytes.
bool parseSource(ScriptSource& source, const char* name, PlatformScriptParts* parts,
                 std::string* error) {
    *parts = PlatformScriptParts{};
    std::string raw;
    int line = 0;
    for (bool more = true; more;) {
        raw.clear();
        int c = nextByte(source);
        bool tooLong = false;
        for (; c != EOF && c != '\n'; c = nextByte(source)) {
            if (raw.size() == static_cast<std::size_t>(SCRIPT_LINE_MAX)) {
                tooLong = true;
                break;
            }
            raw.push_back(static_cast<char>(c));
        }
        if (c == EOF) {
            if (raw.empty()) break;
            more = false;
        }
        ++line;
        if (tooLong) {
            formatError(error, name, line,
                        "line longer than " + std::to_string(SCRIPT_LINE_MAX) + " bytes");
            *parts = PlatformScriptParts{};
            return false;
        }
        const std::size_t hash = raw.find('#');
        if (hash != std::string::npos) raw.erase(hash);
        std::istringstream words(raw);
        std::vector<std::string> tok;
        for (std::string w; words >> w;) tok.push_back(w);
        if (tok.empty()) continue;
        std::string why;
        if (!parseLine(tok, line, parts, &why)) {
            formatError(error, name, line, why);
            *parts = PlatformScriptParts{};
            return false;
        }
    }
    return true;
}

}  // namespace

bool scriptParseParts(const std::string& text, const char* name, PlatformScriptParts* parts,
                      std::string* error) {
    ScriptSource source = {nullptr, &text, 0};
    return parseSource(source, name, parts, error);
}

bool scriptParse(const std::string& text, const char* name,
                 std::vector<PlatformScriptEvent>* events, std::string* error) {
    PlatformScriptParts parts;
    const bool ok = scriptParseParts(text, name, &parts, error);
    *events = std::move(parts.events);
    return ok;
}

template <typename T>
static void sortByFrame(std::vector<T>* items) {
    std::stable_sort(items->begin(), items->end(),
                     [](const T& a, const T& b) { return a.frame < b.frame; });
}

void scriptSetParts(const PlatformScriptParts& parts) {
    PlatformScript& s = platformScript;
    s.events = parts.events;
    s.clock = parts.clock;
    s.answers = parts.answers;
    sortByFrame(&s.events);
    sortByFrame(&s.clock);
    s.next = 0;
    s.clockNext = 0;
    s.clockLast = 0;
    s.answerNext = 0;
    s.lastFrame = -1;
    if (!s.events.empty()) s.lastFrame = s.events.back().frame;
    if (!s.clock.empty()) s.lastFrame = std::max(s.lastFrame, s.clock.back().frame);
    for (const PlatformScriptAnswer& a : s.answers) s.lastFrame = std::max(s.lastFrame, a.frame);
}

void scriptSet(const std::vector<PlatformScriptEvent>& events) {
    PlatformScriptParts parts;
    parts.events = events;
    scriptSetParts(parts);
}

bool scriptLoad(const char* path, std::string* error) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        formatError(error, path, 0, "cannot read the file: it is a directory");
        return false;
    }
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        formatError(error, path, 0, std::string("cannot read the file: ") + std::strerror(errno));
        return false;
    }
    ScriptSource source = {file, nullptr, 0};
    PlatformScriptParts parts;
    bool parsed = parseSource(source, path, &parts, error);
    if (parsed && std::ferror(file)) {
        formatError(error, path, 0, "cannot read the file");
        parsed = false;
    }
    std::fclose(file);
    if (!parsed) return false;
    scriptSetParts(parts);
    return true;
}

int scriptQueueUpTo(int frame) {
    PlatformScript& s = platformScript;
    int queued = 0;
    while (s.next < s.events.size() && s.events[s.next].frame <= frame) {
        const PlatformScriptEvent& e = s.events[s.next];
        MSG m = {};
        m.hwnd = appWindow();
        m.message = e.message;
        m.wParam = e.wParam;
        m.lParam = e.lParam;
        m.time = queueClockStamp();
        m.pt.x = e.mouse ? e.x : platformWindows.cursorX;
        m.pt.y = e.mouse ? e.y : platformWindows.cursorY;
        // A recording's cursor line puts the cursor where the live run had it as the message
        // was taken; otherwise a mouse message takes it to its own position.
        const bool moveCursor = e.mouse || e.cursorGiven;
        const int cursorX = e.cursorGiven ? e.cursorX : e.x;
        const int cursorY = e.cursorGiven ? e.cursorY : e.y;
        // A full queue keeps the rest for the next empty finding, still before this frame.
        if (!queuePush(m, moveCursor, cursorX, cursorY, true)) break;
        ++s.next;
        ++queued;
    }
    return queued;
}

bool scriptReplaysClock() { return !platformScript.clock.empty(); }

bool scriptClockReading(int frame, DWORD* ms) {
    PlatformScript& s = platformScript;
    if (s.clock.empty()) return false;
    // Readings of earlier frames that the program did not ask for are passed over; a frame
    // asked more often than it was recorded keeps giving its last reading.
    while (s.clockNext < s.clock.size() && s.clock[s.clockNext].frame < frame) ++s.clockNext;
    if (s.clockNext < s.clock.size() && s.clock[s.clockNext].frame == frame) {
        s.clockLast = s.clock[s.clockNext].ms;
        ++s.clockNext;
    }
    *ms = s.clockLast;
    return true;
}

bool scriptNextAnswer(int* answer) {
    PlatformScript& s = platformScript;
    if (s.answerNext >= s.answers.size()) return false;
    *answer = s.answers[s.answerNext++].answer;
    return true;
}
