// Diagnostic output: one formatted message handed to each enabled sink in index order.
// The file sink opens and closes the file per message so everything reported is on disk.
#include "app/diagnostics.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "display/console.h"
#include "platform/win32.h"
#include "vexa/vexa.h"

DiagnosticsState diagnosticsState = {"error.txt", true, 1u << SINK_FILE};

void resetDiagnostics() {
    std::strcpy(diagnosticsState.filePath, "error.txt");
    diagnosticsState.truncateNext = true;
    diagnosticsState.enabledSinks = 1u << SINK_FILE;
}

bool setErrorFile(const char* path) {
    // A path that does not fit with its terminator keeps the previous one rather than being
    // written past the buffer or silently cut into another file name.
    if (path == nullptr || std::strlen(path) >= sizeof diagnosticsState.filePath) return false;
    std::strcpy(diagnosticsState.filePath, path);
    diagnosticsState.truncateNext = true;
    return true;
}

void enableErrorSink(int index) {
    diagnosticsState.enabledSinks |= 1u << (static_cast<unsigned>(index) % 32u);
}

static void writeFileSink(const char* text) {
    std::FILE* file = std::fopen(diagnosticsState.filePath,
                                 diagnosticsState.truncateNext ? "w" : "a");
    if (file == nullptr) return;  // lost silently; the next message tries again
    diagnosticsState.truncateNext = false;
    std::fputs(text, file);
    std::fclose(file);
}

static void writeScreenSink(const char* text) {
    vxClearBuffers(0x2030, 0, 0xFFFF);
    consoleSetColour(0xF0C000);
    consolePrintf("%s", text);
    consoleDraw();
    vxSwapBuffers(1);
}

void reportError(const char* format, ...) {
    const std::uint32_t sinks = diagnosticsState.enabledSinks & ((1u << ERROR_SINK_COUNT) - 1);
    if (sinks == 0) return;
    // Longer texts are cut to the buffer (255 characters and the terminator).
    char text[ERROR_TEXT_SIZE];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (sinks & (1u << SINK_FILE)) writeFileSink(text);
    if (sinks & (1u << SINK_STDOUT)) {
        std::fputs(text, stdout);
        std::fflush(stdout);
    }
    if (sinks & (1u << SINK_MESSAGE_BOX)) MessageBoxA(nullptr, text, "tavik", MB_OK | MB_TOPMOST);
    if (sinks & (1u << SINK_SCREEN)) writeScreenSink(text);
}
