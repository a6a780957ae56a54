// The --input script: `FRAME VERB ARGS` lines turned into messages that are queued when the
// queue is found empty for the FRAME-th time. Entry points: scriptLoad / scriptParse at
// start-up (malformed lines refused with "file:line: reason"), scriptQueueUpTo from the
// queue. Knows the message layout of Windows, nothing of the program.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
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
};

void scriptReset() {
    platformScript.events.clear();
    platformScript.next = 0;
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

static void formatError(std::string* error, const char* name, int line, const std::string& why) {
    if (error) *error = std::string(name) + ":" + std::to_string(line) + ": " + why;
}

// Parses one line's tokens (comment already removed, at least one token) into *events.
static bool parseLine(const std::vector<std::string>& tok, int line,
                      std::vector<PlatformScriptEvent>* events, std::string* why) {
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

bool scriptParse(const std::string& text, const char* name,
                 std::vector<PlatformScriptEvent>* events, std::string* error) {
    events->clear();
    std::istringstream in(text);
    std::string raw;
    int line = 0;
    while (std::getline(in, raw)) {
        ++line;
        const std::size_t hash = raw.find('#');
        if (hash != std::string::npos) raw.erase(hash);
        std::istringstream words(raw);
        std::vector<std::string> tok;
        for (std::string w; words >> w;) tok.push_back(w);
        if (tok.empty()) continue;
        std::string why;
        if (!parseLine(tok, line, events, &why)) {
            formatError(error, name, line, why);
            events->clear();
            return false;
        }
    }
    return true;
}

void scriptSet(const std::vector<PlatformScriptEvent>& events) {
    platformScript.events = events;
    std::stable_sort(platformScript.events.begin(), platformScript.events.end(),
                     [](const PlatformScriptEvent& a, const PlatformScriptEvent& b) {
                         return a.frame < b.frame;
                     });
    platformScript.next = 0;
}

bool scriptLoad(const char* path, std::string* error) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        formatError(error, path, 0, "cannot read the file: it is a directory");
        return false;
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        formatError(error, path, 0, std::string("cannot read the file: ") + std::strerror(errno));
        return false;
    }
    std::ostringstream text;
    text << file.rdbuf();
    if (file.bad()) {
        formatError(error, path, 0, "cannot read the file");
        return false;
    }
    std::vector<PlatformScriptEvent> events;
    if (!scriptParse(text.str(), path, &events, error)) return false;
    scriptSet(events);
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
        m.time = timeGetTime();
        m.pt.x = e.mouse ? e.x : platformWindows.cursorX;
        m.pt.y = e.mouse ? e.y : platformWindows.cursorY;
        // A full queue keeps the rest for the next empty finding, still before this frame.
        if (!queuePush(m, e.mouse, e.x, e.y)) break;
        ++s.next;
        ++queued;
    }
    return queued;
}
