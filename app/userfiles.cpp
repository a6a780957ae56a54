// The surface file's name as the user gave it, or the shipped file's; see app/userfiles.h.
#include "app/userfiles.h"

#include <cstdio>

#include "app/startup.h"
#include "platform/win32.h"

bool surfaceFileNamed() {
    const char* named = platformRequests().surfaceFile;
    return named != nullptr && named[0] != '\0';
}

const char* surfaceFileName() {
    return surfaceFileNamed() ? platformRequests().surfaceFile : SURFACE_FILE;
}

void surfaceFileToRead(char* out, std::size_t size) {
    // A named file is the user's own: read where it was named, never a shipped stand-in.
    if (surfaceFileNamed()) {
        std::snprintf(out, size, "%s", platformRequests().surfaceFile);
    } else {
        dataFileToRead(SURFACE_FILE, out, size);
    }
}
