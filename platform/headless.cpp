// The headless back end: no window and no events of its own (input comes from --input
// scripts), message boxes printed to standard error and answered from --answer, frames kept
// in memory by the shared present hook for --save-last-frame.
// Entry points: headlessStart, headlessMessageBox (also the SDL back end's fallback).
#include <cstdio>
#include <string>

#include "platform/platform.h"

constexpr UINT MB_TYPE_MASK = 0x0000000F;

int headlessMessageBox(const char* text, const char* caption, UINT type) {
    // One line on standard error: line breaks inside the text become single spaces.
    std::string line = "[";
    line += caption ? caption : "Error";   // Windows' caption for a null one
    line += "] ";
    bool lastWasBreak = false;
    for (const char* p = text ? text : ""; *p; ++p) {
        const bool isBreak = *p == '\n' || *p == '\r';
        if (isBreak && !lastWasBreak) line += ' ';
        if (!isBreak) line += *p;
        lastWasBreak = isBreak;
    }
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
    if ((type & MB_TYPE_MASK) == MB_OKCANCEL && platformOptions.answer == PLATFORM_ANSWER_CANCEL) {
        return IDCANCEL;
    }
    return IDOK;
}

void headlessStart(PlatformBackend* backend) {
    *backend = PlatformBackend{};
    backend->name = "headless";
}
