// What a host that runs the program asks of the platform: the platform's own command-line
// options, the start and end of a run (back end, frame limit, clock, present hook, the last
// frame saved), the input script, and the clock for in-process runs. The program itself never
// includes this; it talks to the platform through platform/win32.h only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// ---- Options -----------------------------------------------------------------------------
enum PlatformAnswer { PLATFORM_ANSWER_OK = 0, PLATFORM_ANSWER_CANCEL, PLATFORM_ANSWER_COUNT };

constexpr int PLATFORM_FRAMES_DEFAULT = -1;     // the back end's: 300 headless, none with SDL
constexpr int PLATFORM_HEADLESS_FRAMES = 300;
constexpr int PLATFORM_PATH_MAX = 1024;

struct PlatformOptions {
    bool help;
    bool version;             // --version: print the version and commit, run nothing
    bool headless;
    bool windowed;
    int frames;               // PLATFORM_FRAMES_DEFAULT or >= 0
    bool fixedClock;
    std::uint32_t fixedClockStep;   // milliseconds per frame when fixedClock
    int answer;               // PlatformAnswer
    bool answerGiven;         // --answer was on the command line: never wait for a person
    char inputFile[PLATFORM_PATH_MAX];        // empty = no script
    char saveLastFrameFile[PLATFORM_PATH_MAX];  // empty = nothing saved at exit
    char recordFile[PLATFORM_PATH_MAX];   // empty = the run is not recorded
    bool png;                 // pictures (captures, the last frame) are saved as PNG
    bool auditCracks;         // the program audits every frame for gaps between patches
    char surfaceFile[PLATFORM_PATH_MAX];  // --surface or a lone word; empty = data/vorl.txt
    char heightmapFile[PLATFORM_PATH_MAX];   // --heightmap; empty = none
    float heightScale;                      // --height; 0 = not given
    char exportFile[PLATFORM_PATH_MAX];      // --export; empty = none
    char exportControlFile[PLATFORM_PATH_MAX];   // --export-control; empty = none
};
extern PlatformOptions platformOptions;

enum PlatformParseResult { PLATFORM_PARSE_OK = 0, PLATFORM_PARSE_HELP, PLATFORM_PARSE_ERROR,
                           PLATFORM_PARSE_VERSION };

// Takes the platform's options out of argv[1..argc-1] into *options (reset first); every
// other argument is appended to *rest in order, argv[0] first, except a lone word that is no
// option's value: it names the surface file, as --surface does. On PLATFORM_PARSE_ERROR,
// *error holds a one-line reason: a bad value, an argument starting with '-' that is
// neither the platform's nor the program's (-res, -ref, -screencapture and their values), or
// a second surface file.
// An error wins over --help, and --help over --version.
int platformParseOptions(int argc, char** argv, PlatformOptions* options,
                         std::vector<char*>* rest, std::string* error);
// The --help text: the platform's options, the program's own, and the program's keys from
// `keyList` (applicationKeyList's lines, "GROUP\tKEYS\tWHAT"; none when null or empty), each
// group under its name.
std::string platformHelpText(const char* keyList);
// The --version line, without a line end: "vorl 1.0.0 (commit 0123456789ab)", with
// ", modified" when the build had changes not yet committed, or "vorl 1.0.0 (unknown commit)"
// for a build made outside git.
const char* platformVersionText();
// Connects standard output and error to where a person sees them before anything is printed:
// a Windows program built for the GUI subsystem has no console of its own, so it takes the
// console it was started from, if any (output already redirected to a file or pipe stays
// there). Elsewhere nothing to do.
void platformAttachConsole();
// Tells the person running the program `text` (one or more lines): on standard output, or on
// standard error when it is a refusal (error); a Windows program that has neither a console
// nor redirected output shows it in a message box instead, as nobody would see it otherwise.
void platformTell(const char* text, bool error);

// Reads and parses a script file and makes it the active script; false with a message.
bool scriptLoad(const char* path, std::string* error);

// Starts recording the run into `path` (--record): tries the place first, so that a file that
// could not be saved there is refused before the session rather than lost after it; false
// with a message. argv[1..argc-1] are the program's own arguments, noted in the file because
// a replay needs them again. The file is written by platformFinish, or after a crash.
bool recordBegin(const char* path, int argc, char** argv, std::string* error);

// Chooses and starts the back end from platformOptions, sets the frame limit, the clock and
// the present hook. Returns the back end chosen (PlatformBackendKind).
int platformInitBackend();
// The end of a run: writes --save-last-frame and the --record file, prints the headless
// status line (and how long a replayed recording took), stops the back end. Runs once however
// often it is called; false when the frame or the recording could not be saved.
bool platformFinish();
// Resets every platform record to its start-up state (headless, no script, real clock).
void platformReset();
// For a host that draws frames itself: no frame limit, and the clock restarted at 0, either
// stepping exactly stepMs each time the queue is found empty (fixed) or real.
void platformSetClock(bool fixed, std::uint32_t stepMs);
