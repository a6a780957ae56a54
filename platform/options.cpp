// The platform's own command-line options, taken out of the argument vector before the
// program sees it (every other argument passes through in order), and the --help text.
// Entry point: platformParseOptions. Values are checked here, and a word starting with '-'
// that neither the platform nor the program knows is refused; a bad one is a user mistake
// reported in one line.
#include <cerrno>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>

#include "platform/platform.h"

PlatformOptions platformOptions;

static const char HELP_TEXT[] =
    "Usage: vorl [platform options] [program options]\n"
    "\n"
    "Platform options:\n"
    "  --help                  print this text and exit\n"
    "  --version               print the program's version and commit, and exit\n"
    "  --headless              no window; frames are drawn into memory\n"
    "  --windowed              a window of the output's size instead of full screen\n"
    "  --frames N              post WM_CLOSE after N frames (headless default 300)\n"
    "  --input FILE            scripted messages: lines of 'FRAME VERB ARGS'\n"
    "                          (keydown|keyup|key KEY, move X Y, lbutton|rbutton down|up X Y,\n"
    "                          close; '#' starts a comment). KEY: A-Z, 0-9, SHIFT, ESCAPE,\n"
    "                          RETURN, HOME, END, LEFT, RIGHT, UP, DOWN, PLUS, MINUS, F1-F12\n"
    "                          or a key code. A recording made with --record is replayed\n"
    "                          with its own clock readings and answers, and ends as its run did\n"
    "  --record FILE           write the run as an input script that replays it, saved at exit:\n"
    "                          each message as the program took it, and the lines\n"
    "                          'FRAME clock MS ...' (the frame's clock readings, in order),\n"
    "                          'FRAME cursor X Y' (where the cursor stood as the message on the\n"
    "                          line before was taken) and 'FRAME answer ok|cancel' (the answer\n"
    "                          a question box got)\n"
    "  --fixed-clock MS        the millisecond clock starts at 0 and advances MS per frame\n"
    "  --answer ok|cancel      the answer to question boxes when nobody is asked (default ok)\n"
    "  --save-last-frame FILE  at exit, write the last presented frame as a 24-bit TGA\n"
    "  --png                   write captures and --save-last-frame as PNG (scrn0000.png ...)\n"
    "  --audit-cracks          audit every frame for gaps between patches (as F4 does) and\n"
    "                          print 'crack audit: frames=N gaps=M largest=K' at exit\n"
    "  --lod RULE              the rule of dynamic detail (X), cycled with Q: 'distance' (the\n"
    "                          default, whole step counts), 'smooth' (distance, the counts'\n"
    "                          fractions morphed in) or 'screen=PX' (the least count whose\n"
    "                          flattening error stays within PX pixels, 0.125..64, morphed;\n"
    "                          + and - change PX)\n"
    "\n"
    "Program options:\n"
    "  -res WxH                output resolution: 1600x1200, 1280x1024, 1024x768, 800x600,\n"
    "                          640x480 or 512x384 (without -res the largest that opens)\n"
    "  -ref HZ                 refresh rate in hertz: 60, 70, 72, 75, 80, 85, 90, 100 or 120\n"
    "  -screencapture N        Enter captures the next N frames (scrn0000.tga and on)\n"
    "\n"
    "File options:\n"
    "  FILE, --surface FILE    read this surface file instead of data/vorl.txt; S saves to it,\n"
    "                          L reads it again (surface-format.md describes the file)\n"
    "  --heightmap IMAGE       make the scene from a grey image (PNG or TGA, 8 or 16 bits;\n"
    "                          colour is taken as grey): one B-spline surface, a control point\n"
    "                          per pixel one unit apart, S saves it as a surface file\n"
    "  --height H              with --heightmap: the height of the largest pixel value (a\n"
    "                          pixel value of 0 .. 1 times H; default a fifth of the image's\n"
    "                          longer side)\n"
    "  --export FILE           at exit, write every patch as drawn at the static step count\n"
    "                          (+/-) as a mesh: FILE.obj (OBJ), FILE.stl (binary STL) or\n"
    "                          FILE.ply (binary PLY); K writes export0000.obj and on\n"
    "  --export-control FILE   at exit, write the control meshes as quads (FILE.obj)\n";

// Where the keys' descriptions start, as the options' do.
constexpr std::size_t HELP_KEY_COLUMN = 26;

std::string platformHelpText(const char* keyList) {
    std::string text = HELP_TEXT;
    if (keyList == nullptr || keyList[0] == '\0') return text;
    text += "\nKeys (F1 shows the demo's own help on the picture):\n";
    std::string group;
    for (const char* line = keyList; *line;) {
        const char* end = std::strchr(line, '\n');
        if (end == nullptr) end = line + std::strlen(line);
        const std::string entry(line, end);
        line = *end ? end + 1 : end;
        // GROUP, KEYS and WHAT between tabs; a line of another shape is not shown.
        const std::size_t first = entry.find('\t');
        const std::size_t second = first == std::string::npos ? first : entry.find('\t', first + 1);
        if (second == std::string::npos) continue;
        const std::string name = entry.substr(0, first);
        if (name != group) {
            text += " " + name + "\n";
            group = name;
        }
        std::string keys = "  " + entry.substr(first + 1, second - first - 1);
        keys += keys.size() < HELP_KEY_COLUMN ? std::string(HELP_KEY_COLUMN - keys.size(), ' ')
                                              : std::string(" ");
        text += keys + entry.substr(second + 1) + "\n";
    }
    return text;
}

enum OptionKind {
    OPTION_HELP = 0, OPTION_HEADLESS, OPTION_WINDOWED, OPTION_FRAMES, OPTION_INPUT,
    OPTION_FIXED_CLOCK, OPTION_ANSWER, OPTION_SAVE_LAST_FRAME, OPTION_PNG, OPTION_AUDIT_CRACKS,
    OPTION_RECORD, OPTION_VERSION, OPTION_LOD, OPTION_SURFACE, OPTION_HEIGHTMAP, OPTION_HEIGHT,
    OPTION_EXPORT, OPTION_EXPORT_CONTROL, OPTION_KIND_COUNT
};
struct OptionName {
    const char* name;
    bool takesValue;
};
static const OptionName OPTION_NAMES[] = {
    {"--help", false},   {"--headless", false},    {"--windowed", false},
    {"--frames", true},  {"--input", true},        {"--fixed-clock", true},
    {"--answer", true},  {"--save-last-frame", true}, {"--png", false},
    {"--audit-cracks", false}, {"--record", true}, {"--version", false},
    {"--lod", true},
    {"--surface", true}, {"--heightmap", true}, {"--height", true},
    {"--export", true}, {"--export-control", true},
};
static_assert(sizeof(OPTION_NAMES) / sizeof(OPTION_NAMES[0]) == OPTION_KIND_COUNT);

// A non-negative decimal integer that fits an int.
static bool parseCount(const char* text, long* value) {
    if (!text[0] || text[0] == '-' || text[0] == '+') return false;
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || v < 0 || v > INT_MAX) return false;
    *value = v;
    return true;
}

// --lod's value: distance, smooth or screen=PX with PX a decimal number of pixels in range.
static bool parseLodRule(const char* name, const char* value, PlatformOptions* o,
                         std::string* error) {
    if (std::strcmp(value, "distance") == 0 || std::strcmp(value, "smooth") == 0) {
        o->lodRule = value[0] == 'd' ? PLATFORM_LOD_DISTANCE : PLATFORM_LOD_SMOOTH;
        o->lodTolerance = 0.0f;
        return true;
    }
    if (std::strncmp(value, "screen=", 7) == 0) {
        const char* number = value + 7;
        errno = 0;
        char* end = nullptr;
        const double px = std::strtod(number, &end);
        const bool isNumber = number[0] != '\0' && *end == '\0' && errno == 0 && std::isfinite(px);
        if (isNumber && px >= PLATFORM_LOD_TOLERANCE_MIN && px <= PLATFORM_LOD_TOLERANCE_MAX) {
            o->lodRule = PLATFORM_LOD_SCREEN;
            o->lodTolerance = static_cast<float>(px);
            return true;
        }
        *error = std::string(name) + ": expected a tolerance of 0.125 to 64 pixels after " +
                 "'screen=', not '" + number + "'";
        return false;
    }
    *error = std::string(name) + ": expected distance, smooth or screen=PX, not '" + value + "'";
    return false;
}

// A height: a finite decimal number above 0.
static bool parseHeight(const char* text, float* value) {
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    if (end == text || *end != '\0' || errno != 0 || !(v > 0.0) || !std::isfinite(v) ||
        v > static_cast<double>(FLT_MAX)) {
        return false;
    }
    *value = static_cast<float>(v);
    return true;
}

static bool copyPath(char* dst, const char* value, const char* option, std::string* error) {
    const std::size_t length = std::strlen(value);
    if (length == 0 || length >= static_cast<std::size_t>(PLATFORM_PATH_MAX)) {
        *error = std::string(option) + ": the file name is empty or too long";
        return false;
    }
    std::memcpy(dst, value, length + 1);
    return true;
}

// The surface file is named once, by --surface or as a lone word; a second name is refused
// rather than one of them silently ignored.
static bool nameSurfaceFile(PlatformOptions* o, const char* value, const char* option,
                            std::string* error) {
    if (o->surfaceFile[0]) {
        *error = std::string("'") + value + "': a second surface file ('" + o->surfaceFile +
                 "' is named already)";
        return false;
    }
    return copyPath(o->surfaceFile, value, option, error);
}

static bool applyOption(int kind, const char* name, const char* value, PlatformOptions* o,
                        std::string* error) {
    long number = 0;
    switch (kind) {
    case OPTION_HELP: o->help = true; return true;
    case OPTION_VERSION: o->version = true; return true;
    case OPTION_HEADLESS: o->headless = true; return true;
    case OPTION_WINDOWED: o->windowed = true; return true;
    case OPTION_FRAMES:
        if (!parseCount(value, &number)) {
            *error = std::string(name) + ": expected a whole number of frames, not '" + value + "'";
            return false;
        }
        o->frames = static_cast<int>(number);
        return true;
    case OPTION_INPUT: return copyPath(o->inputFile, value, name, error);
    case OPTION_FIXED_CLOCK:
        if (!parseCount(value, &number)) {
            *error = std::string(name) + ": expected whole milliseconds, not '" + value + "'";
            return false;
        }
        o->fixedClock = true;
        o->fixedClockStep = static_cast<std::uint32_t>(number);
        return true;
    case OPTION_ANSWER:
        if (std::strcmp(value, "ok") == 0) {
            o->answer = PLATFORM_ANSWER_OK;
        } else if (std::strcmp(value, "cancel") == 0) {
            o->answer = PLATFORM_ANSWER_CANCEL;
        } else {
            *error = std::string(name) + ": expected ok or cancel, not '" + value + "'";
            return false;
        }
        o->answerGiven = true;
        return true;
    case OPTION_SAVE_LAST_FRAME: return copyPath(o->saveLastFrameFile, value, name, error);
    case OPTION_RECORD: return copyPath(o->recordFile, value, name, error);
    case OPTION_AUDIT_CRACKS: o->auditCracks = true; return true;
    case OPTION_LOD: return parseLodRule(name, value, o, error);
    case OPTION_SURFACE: return nameSurfaceFile(o, value, name, error);
    case OPTION_HEIGHTMAP: return copyPath(o->heightmapFile, value, name, error);
    case OPTION_HEIGHT:
        if (!parseHeight(value, &o->heightScale)) {
            *error = std::string(name) + ": expected a height above 0, not '" + value + "'";
            return false;
        }
        return true;
    case OPTION_EXPORT: return copyPath(o->exportFile, value, name, error);
    case OPTION_EXPORT_CONTROL: return copyPath(o->exportControlFile, value, name, error);
    case OPTION_PNG:
#if VORL_HAVE_PNG
        o->png = true;
        return true;
#else
        *error = std::string(name) + ": this build writes TGA only (it was built without libpng)";
        return false;
#endif
    default: return false;
    }
}

// The program's own options, which it reads case-insensitively, each with the argument after
// it as its value (app/startup.cpp, readCommandLine). Known here only so that any other word
// starting with '-' is refused before the program starts rather than silently ignored.
static const char* const PROGRAM_OPTIONS[] = {"-res", "-ref", "-screencapture"};

// Walks the arguments left for the program as it will: a program option takes the next
// argument as its value whatever it looks like (a lone option at the end asks for its value).
// The capture count must be a whole number; the resolution and the rate are judged by the
// program, which says what it does instead. A lone word that is no option's value names the
// surface file (taken out of *rest); any other argument is refused, named in *error: a word
// starting with '-' as an unknown option, a second surface file as such.
static bool checkProgramArguments(std::vector<char*>* arguments, PlatformOptions* options,
                                  std::string* error) {
    std::vector<char*>& rest = *arguments;
    for (std::size_t i = 1; i < rest.size(); ++i) {
        const char* arg = rest[i];
        bool program = false;
        for (const char* name : PROGRAM_OPTIONS) program |= strcasecmp(arg, name) == 0;
        if (program) {
            long count = 0;
            if (strcasecmp(arg, "-screencapture") == 0 && i + 1 < rest.size() &&
                !parseCount(rest[i + 1], &count)) {
                *error = std::string(arg) + ": expected a whole number of frames, not '" +
                         rest[i + 1] + "'";
                return false;
            }
            ++i;
            continue;
        }
        if (arg[0] != '-') {
            if (!nameSurfaceFile(options, arg, "the surface file", error)) return false;
            rest.erase(rest.begin() + static_cast<std::ptrdiff_t>(i));
            --i;
            continue;
        }
        const char* equals = std::strncmp(arg, "--", 2) == 0 ? std::strchr(arg, '=') : nullptr;
        const std::size_t nameLength = equals ? static_cast<std::size_t>(equals - arg)
                                              : std::strlen(arg);
        *error = std::string(arg, nameLength) + ": unknown option";
        return false;
    }
    return true;
}

int platformParseOptions(int argc, char** argv, PlatformOptions* options,
                         std::vector<char*>* rest, std::string* error) {
    std::memset(options, 0, sizeof(*options));
    options->frames = PLATFORM_FRAMES_DEFAULT;
    options->answer = PLATFORM_ANSWER_OK;
    rest->clear();
    if (argc > 0) rest->push_back(argv[0]);
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        // "--name value" and "--name=value" are both accepted.
        const char* equals = std::strncmp(arg, "--", 2) == 0 ? std::strchr(arg, '=') : nullptr;
        const std::size_t nameLength = equals ? static_cast<std::size_t>(equals - arg)
                                              : std::strlen(arg);
        int kind = -1;
        for (int k = 0; k < OPTION_KIND_COUNT; ++k) {
            if (std::strlen(OPTION_NAMES[k].name) == nameLength &&
                std::strncmp(OPTION_NAMES[k].name, arg, nameLength) == 0) {
                kind = k;
                break;
            }
        }
        if (kind < 0) {
            rest->push_back(argv[i]);
            continue;
        }
        const std::string name(arg, nameLength);
        const char* value = nullptr;
        if (OPTION_NAMES[kind].takesValue) {
            if (equals) {
                value = equals + 1;
            } else if (i + 1 < argc) {
                value = argv[++i];
            } else {
                *error = name + ": missing value";
                return PLATFORM_PARSE_ERROR;
            }
        } else if (equals) {
            *error = name + ": takes no value";
            return PLATFORM_PARSE_ERROR;
        }
        if (!applyOption(kind, name.c_str(), value, options, error)) return PLATFORM_PARSE_ERROR;
    }
    if (!checkProgramArguments(rest, options, error)) return PLATFORM_PARSE_ERROR;
    if (options->heightScale > 0.0f && !options->heightmapFile[0]) {
        *error = "--height: only with --heightmap";
        return PLATFORM_PARSE_ERROR;
    }
    if (options->help) return PLATFORM_PARSE_HELP;
    return options->version ? PLATFORM_PARSE_VERSION : PLATFORM_PARSE_OK;
}
