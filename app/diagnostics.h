// Diagnostic output: reportError formats a message once and hands it to every enabled sink
// (file, standard output, message box, none, screen). The file sink writes "error.txt",
// truncated by the first message of a run and appended to afterwards. A failure the user
// must see (a save that did not happen) is also kept as the screen notice that the frame
// shows under the statistics line for a few seconds.
#pragma once

#include <cstdint>

constexpr int ERROR_PATH_SIZE = 256;
constexpr int ERROR_TEXT_SIZE = 256;
constexpr std::uint32_t NOTICE_MILLISECONDS = 4000;

enum ErrorSink { SINK_FILE = 0, SINK_STDOUT, SINK_MESSAGE_BOX, SINK_NONE, SINK_SCREEN,
                 ERROR_SINK_COUNT };

// The program's record of its diagnostics (program.diagnostics): at process start "error.txt",
// truncated by the first message, the file sink only.
struct DiagnosticsState {
    char filePath[ERROR_PATH_SIZE] = "error.txt";
    bool truncateNext = true;
    std::uint32_t enabledSinks = 1u << SINK_FILE;
    char notice[ERROR_TEXT_SIZE] = "";   // the last failure shown on screen, one line
    std::uint32_t noticeUntil = 0;       // clock reading at which it goes away
};

// Back to the process-start values: "error.txt", truncate next, file sink only.
void resetDiagnostics();
// Copies the path and sets truncate-next; a path that does not fit keeps the previous one
// and returns false.
bool setErrorFile(const char* path);
// Enables sink (index mod 32); indices 5 and above enable nothing.
void enableErrorSink(int index);
// printf-style; the text is cut to 255 characters, keeping its line end.
void reportError(const char* format, ...) __attribute__((format(printf, 1, 2)));
// reportError, and the text also becomes the screen notice for NOTICE_MILLISECONDS from `now`.
void reportFailure(std::uint32_t now, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Only the screen notice, for NOTICE_MILLISECONDS from `now`: what a command did that the user
// should see ("saved 2 surfaces to data/vorl.txt"); nothing goes to the sinks.
void showNotice(std::uint32_t now, const char* format, ...) __attribute__((format(printf, 2, 3)));
// The screen notice at clock reading `now` (without its line end), or null when none is due.
const char* currentNotice(std::uint32_t now);
