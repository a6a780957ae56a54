// Diagnostic output: one formatted message handed to each enabled sink in index order.
// The file sink opens and closes the file per message so everything reported is on disk;
// standard error takes what the file could not, and every message of a run without a window.
#include "app/diagnostics.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "app/program.h"
#include "display/console.h"
#include "platform/services.h"
#include "platform/win32.h"
#include "vexa/vexa.h"

void resetDiagnostics() {
    std::strcpy(program.diagnostics.filePath, "error.txt");
    program.diagnostics.truncateNext = true;
    program.diagnostics.enabledSinks = 1u << SINK_FILE;
    program.diagnostics.notice[0] = '\0';
    program.diagnostics.noticeUntil = 0;
}

bool setErrorFile(const char* path) {
    // A path that does not fit with its terminator keeps the previous one rather than being
    // written past the buffer or silently cut into another file name.
    if (path == nullptr || std::strlen(path) >= sizeof program.diagnostics.filePath) return false;
    std::strcpy(program.diagnostics.filePath, path);
    program.diagnostics.truncateNext = true;
    return true;
}

void enableErrorSink(int index) {
    program.diagnostics.enabledSinks |= 1u << (static_cast<unsigned>(index) % 32u);
}

// False when the text did not reach the file (it could not be opened, written or closed:
// a full disk, a folder that cannot be written); the next message tries again.
static bool writeFileSink(const char* text) {
    std::FILE* file = std::fopen(program.diagnostics.filePath,
                                 program.diagnostics.truncateNext ? "w" : "a");
    if (file == nullptr) return false;
    program.diagnostics.truncateNext = false;
    const bool written = std::fputs(text, file) >= 0;
    return std::fclose(file) == 0 && written;
}

static void writeScreenSink(const char* text) {
    vxClearBuffers(0x2030, 0, 0xFFFF);
    consoleSetColour(0xF0C000);
    consolePrintf("%s", text);
    consoleDraw();
    vxSwapBuffers(1);
}

// Formats into text (ERROR_TEXT_SIZE bytes). A text cut to the buffer keeps the line end its
// format asked for, so that the next message does not join it on the same line.
static void formatMessage(char* text, const char* format, va_list args) {
    const int length = std::vsnprintf(text, ERROR_TEXT_SIZE, format, args);
    const std::size_t formatLength = std::strlen(format);
    if (length >= ERROR_TEXT_SIZE && formatLength > 0 && format[formatLength - 1] == '\n') {
        text[ERROR_TEXT_SIZE - 2] = '\n';
    }
}

// A run without a window says everything on standard error too, as command-line programs
// do; a line the file could not take goes there in any run, so that it is never lost.
static void sendToSinks(const char* text) {
    const std::uint32_t sinks = program.diagnostics.enabledSinks & ((1u << ERROR_SINK_COUNT) - 1);
    const bool fileLost = (sinks & (1u << SINK_FILE)) != 0 && !writeFileSink(text);
    if (fileLost || platformRequests().echoDiagnostics) {
        std::fputs(text, stderr);
        std::fflush(stderr);
    }
    if (sinks & (1u << SINK_STDOUT)) {
        std::fputs(text, stdout);
        std::fflush(stdout);
    }
    if (sinks & (1u << SINK_MESSAGE_BOX)) MessageBoxA(nullptr, text, "tavik", MB_OK | MB_TOPMOST);
    if (sinks & (1u << SINK_SCREEN)) writeScreenSink(text);
}

void reportError(const char* format, ...) {
    const std::uint32_t sinks = program.diagnostics.enabledSinks & ((1u << ERROR_SINK_COUNT) - 1);
    if (sinks == 0) return;
    char text[ERROR_TEXT_SIZE];
    va_list args;
    va_start(args, format);
    formatMessage(text, format, args);
    va_end(args);
    sendToSinks(text);
}

// The notice is one line: it ends at the first line end.
static void setNotice(std::uint32_t now, const char* text) {
    std::snprintf(program.diagnostics.notice, sizeof program.diagnostics.notice, "%.*s",
                  static_cast<int>(std::strcspn(text, "\n")), text);
    // 0 means "no notice", so a notice due to end exactly at 0 ends one millisecond later.
    program.diagnostics.noticeUntil = now + NOTICE_MILLISECONDS;
    if (program.diagnostics.noticeUntil == 0) program.diagnostics.noticeUntil = 1;
}

void reportFailure(std::uint32_t now, const char* format, ...) {
    char text[ERROR_TEXT_SIZE];
    va_list args;
    va_start(args, format);
    formatMessage(text, format, args);
    va_end(args);
    sendToSinks(text);
    setNotice(now, text);
}

void showNotice(std::uint32_t now, const char* format, ...) {
    char text[ERROR_TEXT_SIZE];
    va_list args;
    va_start(args, format);
    formatMessage(text, format, args);
    va_end(args);
    setNotice(now, text);
}

const char* currentNotice(std::uint32_t now) {
    const DiagnosticsState& d = program.diagnostics;
    if (d.notice[0] == '\0' || d.noticeUntil == 0) return nullptr;
    // Clock readings wrap; the notice is due while it has not yet reached its end.
    if (static_cast<std::int32_t>(d.noticeUntil - now) <= 0) return nullptr;
    return d.notice;
}
