// The program's version as the build knows it: the project's version (CMake's project
// version, the one place it is set) and the commit the build was made from, both from the
// header cmake/version.cmake writes at build time. Entry point: platformVersionText; in a
// page the same text is exported to the page's script as vorlVersion().
#include <cstdio>

#if defined(__EMSCRIPTEN__)
#include <emscripten.h>
#endif

#include "platform/host.h"
#include "vorl_version.h"

const char* platformVersionText() {
    static char text[128];
    if (text[0] == '\0') {
        if (VORL_COMMIT[0] == '\0') {
            std::snprintf(text, sizeof text, "vorl %s (unknown commit)", VORL_VERSION);
        } else {
            std::snprintf(text, sizeof text, "vorl %s (commit %s%s)", VORL_VERSION, VORL_COMMIT,
                          VORL_COMMIT_MODIFIED ? ", modified" : "");
        }
    }
    return text;
}

#if defined(__EMSCRIPTEN__)
// For the page: Module.UTF8ToString(Module._vorlVersion()) reads the same line --version
// prints, without starting the program.
extern "C" EMSCRIPTEN_KEEPALIVE const char* vorlVersion() { return platformVersionText(); }
#endif
