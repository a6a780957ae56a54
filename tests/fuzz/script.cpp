// Fuzz target of the input-script parser (platform/platform.h); the input is a script. Accepted:
// known messages, frames >= 0, lines inside the text in file order, each verb's fields; then
// made active and queued. Refused: no events and "NAME:LINE: reason", the lines before LINE
// parsing on their own and LINE alone failing for the same reason. Key names ignore case.
#include <algorithm>
#include <cctype>
#include <climits>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

constexpr const char* NAME = "fuzz.txt";

// Lines as std::getline sees them: a last line without its line break still counts.
int lineCount(const std::string& text) {
    int lines = int(std::count(text.begin(), text.end(), '\n'));
    if (!text.empty() && text.back() != '\n') ++lines;
    return lines;
}

// Offset of the first character of line `line` (1-based).
std::size_t lineStart(const std::string& text, int line) {
    std::size_t at = 0;
    for (int i = 1; i < line; ++i) at = text.find('\n', at) + 1;
    return at;
}

bool knownMessage(UINT m) {
    return m == WM_KEYDOWN || m == WM_KEYUP || m == WM_MOUSEMOVE || m == WM_LBUTTONDOWN ||
           m == WM_LBUTTONUP || m == WM_RBUTTONDOWN || m == WM_RBUTTONUP || m == WM_CLOSE;
}

void checkEvents(const std::string& text, const std::vector<PlatformScriptEvent>& events) {
    const int lines = lineCount(text);
    int lastLine = 0;
    for (const PlatformScriptEvent& e : events) {
        FUZZ_CHECK(e.frame >= 0, "line %d: frame %d", e.line, e.frame);
        FUZZ_CHECK(knownMessage(e.message), "line %d: message 0x%x", e.line, unsigned(e.message));
        FUZZ_CHECK(e.line >= 1 && e.line <= lines && e.line >= lastLine,
                   "an event of line %d after line %d in a text of %d lines", e.line, lastLine,
                   lines);
        lastLine = e.line;
        // The event's line starts with its frame number.
        const std::size_t start = lineStart(text, e.line);
        const char* first = text.c_str() + start;
        while (*first == ' ' || *first == '\t' || *first == '\r' || *first == '\v' ||
               *first == '\f') {
            ++first;
        }
        FUZZ_CHECK(std::strtol(first, nullptr, 10) == e.frame,
                   "line %d does not start with frame %d", e.line, e.frame);
        if (e.message == WM_KEYDOWN || e.message == WM_KEYUP) {
            const LPARAM expected = e.message == WM_KEYDOWN ? LPARAM(1) : LPARAM(0xC0000001u);
            FUZZ_CHECK(e.wParam >= 1 && e.wParam <= 255 && e.lParam == expected && !e.mouse,
                       "line %d: key message with wParam %lu lParam 0x%lx", e.line,
                       static_cast<unsigned long>(e.wParam), static_cast<unsigned long>(e.lParam));
        } else if (e.message == WM_CLOSE) {
            FUZZ_CHECK(e.wParam == 0 && e.lParam == 0 && !e.mouse, "line %d: close with fields",
                       e.line);
        } else {
            FUZZ_CHECK(e.mouse && e.x >= -32768 && e.x <= 32767 && e.y >= -32768 &&
                           e.y <= 32767 && e.lParam == MAKELPARAM(e.x, e.y),
                       "line %d: mouse message at (%d, %d) with lParam 0x%lx", e.line, e.x, e.y,
                       static_cast<unsigned long>(e.lParam));
        }
    }
}

// "NAME:LINE: reason"; the line number is returned in *line and the reason in *reason.
void splitError(const std::string& error, int lines, int* line, std::string* reason) {
    const std::string prefix = std::string(NAME) + ":";
    FUZZ_CHECK(error.compare(0, prefix.size(), prefix) == 0, "error '%s' does not name the file",
               error.c_str());
    std::size_t at = prefix.size();
    long number = 0;
    const std::size_t digits = at;
    while (at < error.size() && std::isdigit(static_cast<unsigned char>(error[at])) &&
           number < INT_MAX) {
        number = number * 10 + (error[at] - '0');
        ++at;
    }
    FUZZ_CHECK(at > digits && number >= 1 && number <= lines,
               "error '%s': no line between 1 and %d", error.c_str(), lines);
    FUZZ_CHECK(error.compare(at, 2, ": ") == 0 && error.size() > at + 2,
               "error '%s' has no reason", error.c_str());
    *line = int(number);
    *reason = error.substr(at + 2);
}

void checkRefusal(const std::string& text, const std::string& error) {
    int line = 0;
    std::string reason;
    splitError(error, lineCount(text), &line, &reason);

    std::vector<PlatformScriptEvent> events;
    std::string again;
    const std::size_t start = lineStart(text, line);
    FUZZ_CHECK(scriptParse(text.substr(0, start), NAME, &events, &again),
               "the %d lines before a refused line are refused too: %s", line - 1,
               again.c_str());
    const std::size_t end = text.find('\n', start);
    const std::string alone = text.substr(start, end == std::string::npos ? end : end - start);
    FUZZ_CHECK(!scriptParse(alone, NAME, &events, &again), "line %d is refused only in context",
               line);
    const std::string expected = std::string(NAME) + ":1: " + reason;
    FUZZ_CHECK(again == expected, "line %d alone gives '%s', in the text '%s'", line,
               again.c_str(), error.c_str());
}

void checkKeyName(const std::string& name) {
    const int code = scriptKeyCode(name.c_str());
    FUZZ_CHECK(code >= 0 && code <= 255, "key '%s' is %d", name.c_str(), code);
    std::string upper = name, lower = name;
    for (char& c : upper) c = char(std::toupper(static_cast<unsigned char>(c)));
    for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
    FUZZ_CHECK(scriptKeyCode(upper.c_str()) == code && scriptKeyCode(lower.c_str()) == code,
               "key '%s' is %d, '%s' is %d, '%s' is %d", name.c_str(), code, upper.c_str(),
               scriptKeyCode(upper.c_str()), lower.c_str(), scriptKeyCode(lower.c_str()));
}

// Made the active script: sorted by frame, file order kept within a frame; queued as far as
// the queue has room.
void checkActive(const std::vector<PlatformScriptEvent>& events) {
    scriptSet(events);
    const std::vector<PlatformScriptEvent>& active = platformScript.events;
    FUZZ_CHECK(active.size() == events.size(), "%zu events parsed, %zu active", events.size(),
               active.size());
    for (std::size_t i = 1; i < active.size(); ++i) {
        const PlatformScriptEvent& a = active[i - 1];
        const PlatformScriptEvent& b = active[i];
        FUZZ_CHECK(a.frame < b.frame || (a.frame == b.frame && a.line <= b.line),
                   "active event %zu (frame %d, line %d) after frame %d, line %d", i, b.frame,
                   b.line, a.frame, a.line);
    }
    queueReset();
    const int queued = scriptQueueUpTo(INT_MAX);
    const int expected = std::min(int(events.size()), PLATFORM_QUEUE_CAPACITY);
    FUZZ_CHECK(queued == expected && platformQueue.count == queued,
               "%d of %zu events queued, %d in the queue", queued, events.size(),
               platformQueue.count);
    scriptReset();
    queueReset();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzKeepLog();
    platformReset();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<PlatformScriptEvent> events;
    const std::string untouched = "(untouched)";
    std::string error = untouched;
    if (scriptParse(text, NAME, &events, &error)) {
        FUZZ_CHECK(error == untouched, "an accepted script says '%s'", error.c_str());
        checkEvents(text, events);
        checkActive(events);
    } else {
        FUZZ_CHECK(events.empty(), "a refused script left %zu events", events.size());
        checkRefusal(text, error);
    }
    // The first line, up to 32 characters, as a key name.
    const std::size_t end = std::min(text.find_first_of("\n", 0), std::size_t(32));
    checkKeyName(std::string(text.c_str(), std::min(end, std::strlen(text.c_str()))));
    return 0;
}
