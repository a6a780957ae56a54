// Diagnostic output: reportError formats a message once and hands it to every enabled sink
// (file, standard output, message box, none, screen). The file sink writes "error.txt",
// truncated by the first message of a run and appended to afterwards.
#pragma once

#include <cstdint>

constexpr int ERROR_PATH_SIZE = 256;
constexpr int ERROR_TEXT_SIZE = 256;

enum ErrorSink { SINK_FILE = 0, SINK_STDOUT, SINK_MESSAGE_BOX, SINK_NONE, SINK_SCREEN,
                 ERROR_SINK_COUNT };

struct DiagnosticsState {
    char filePath[ERROR_PATH_SIZE];
    bool truncateNext;
    std::uint32_t enabledSinks;
};
extern DiagnosticsState diagnosticsState;

// Back to the process-start values: "error.txt", truncate next, file sink only.
void resetDiagnostics();
// Copies the path and sets truncate-next; a path that does not fit keeps the previous one
// and returns false.
bool setErrorFile(const char* path);
// Enables sink (index mod 32); indices 5 and above enable nothing.
void enableErrorSink(int index);
// printf-style; the text is cut to 255 characters.
void reportError(const char* format, ...) __attribute__((format(printf, 1, 2)));
