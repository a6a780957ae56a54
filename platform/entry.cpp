// main(): takes the platform's options out of the command line, loads the input script,
// starts the recording, starts a back end, then runs the program with the remaining arguments
// and returns its result. The only file of the vorl executable; the program starts at
// runApplication.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/host.h"
#include "platform/services.h"

#if defined(__EMSCRIPTEN__)
#include <emscripten.h>

// The page shows the program's keys (applicationKeyList's lines) from the moment the program
// is loaded, before it runs; its version the same way (vorlVersion, platform/version.cpp).
extern "C" EMSCRIPTEN_KEEPALIVE const char* webKeyList() { return applicationKeyList(); }
#endif

constexpr int EXIT_USAGE = 2;
// The run ended normally but --save-last-frame or the --record file could not be written.
constexpr int EXIT_SAVE_FAILED = 3;

// Also reached when the program leaves through exit(): the last frame and the status line
// are written either way.
static void finishAtExit() { platformFinish(); }

int main(int argc, char** argv) {
    platformAttachConsole();
    PlatformOptions options;
    std::vector<char*> rest;
    std::string error;
    const int parsed = platformParseOptions(argc, argv, &options, &rest, &error);
    if (parsed == PLATFORM_PARSE_ERROR) {
        platformTell(("vorl: " + error + " (see --help)\n").c_str(), true);
        return EXIT_USAGE;
    }
    if (parsed == PLATFORM_PARSE_HELP) {
        platformTell(platformHelpText(applicationKeyList()).c_str(), false);
        return 0;
    }
    if (parsed == PLATFORM_PARSE_VERSION) {
        platformTell((std::string(platformVersionText()) + "\n").c_str(), false);
        return 0;
    }
    platformReset();
    platformOptions = options;
    if (options.inputFile[0] && !scriptLoad(options.inputFile, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return EXIT_USAGE;
    }
    // What saves of these files in a killed run left behind, before this run saves any: the
    // sweep takes a temporary with this process's id for an earlier run's.
    saveFileSweep(options.saveLastFrameFile);
    saveFileSweep(options.recordFile);
    const int count = static_cast<int>(rest.size());
    if (options.recordFile[0] && !recordBegin(options.recordFile, count, rest.data(), &error)) {
        std::fprintf(stderr, "vorl: %s\n", error.c_str());
        return EXIT_USAGE;
    }
    platformInitBackend();
    std::atexit(finishAtExit);
    rest.push_back(nullptr);   // argv[argc] is null, as C promises
    const int code = runApplication(count, rest.data());
    const bool saved = platformFinish();
    // exit() rather than return: in a page, main was suspended and resumed between frames,
    // and only an explicit exit reaches the page with the status.
    std::exit((code == 0 && !saved) ? EXIT_SAVE_FAILED : code);
}
