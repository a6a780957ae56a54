// Fuzz target of the command line as main() reads it: the platform's options (platform/host.h),
// then the program's own (app/startup.h), from the input split at NUL bytes. Checked: every
// non-platform argument reaches the program in order, argv is never read past argc (the arrays
// are exactly argc long), the settings come from the tables, and only a "cancel" answer cancels.
// The headless question boxes print on standard error: run with -close_fd_mask=2.
#include <algorithm>
#include <cctype>
#include <memory>
#include <string>
#include <vector>

#include "app/capture.h"
#include "app/program.h"
#include "app/startup.h"
#include "display/display.h"
#include "platform/host.h"
#include "tests/fuzz/fuzz_support.h"
#include "vexa/vexa.h"

namespace {

constexpr int MAX_ARGUMENTS = 64;

// The platform's options as its --help text lists them ("  --name" and, when it takes one, a
// single space and the value's placeholder), so an option the parser takes but the help
// leaves out (or the other way round) shows as an argument lost or passed through.
struct KnownOption {
    std::string name;
    bool takesValue;
};
std::vector<KnownOption> knownOptions;

void readHelpText() {
    const std::string help = platformHelpText(nullptr);
    const std::size_t end = help.find("\nKeys");
    std::size_t at = 0;
    // The platform's and the file options' lines; "  FILE, --surface FILE" names its option
    // after the lone word's.
    auto next = [&](std::size_t from) {
        return std::min(help.find("\n  --", from), help.find("\n  FILE, --", from));
    };
    while ((at = next(at)) != std::string::npos && at < end) {
        if (help.compare(at, 9, "\n  FILE, ") == 0) at += 6;
        const std::size_t start = at + 3;
        std::size_t stop = start;
        while (stop < help.size() && help[stop] != ' ' && help[stop] != '\n') ++stop;
        const bool value = help.compare(stop, 1, " ") == 0 && stop + 1 < help.size() &&
                           help[stop + 1] != ' ';
        knownOptions.push_back({help.substr(start, stop - start), value});
        at = stop;
    }
    if (knownOptions.empty()) {
        std::fprintf(stderr, "no platform options found in the --help text\n");
        std::exit(1);
    }
}

// The option an argument names ("--name" or "--name=value"), or null.
const KnownOption* optionOf(const char* arg, bool* hasValue) {
    const char* equals = std::strncmp(arg, "--", 2) == 0 ? std::strchr(arg, '=') : nullptr;
    const std::size_t length = equals ? std::size_t(equals - arg) : std::strlen(arg);
    *hasValue = equals != nullptr;
    for (const KnownOption& o : knownOptions) {
        if (o.name.size() == length && o.name.compare(0, length, arg, length) == 0) return &o;
    }
    return nullptr;
}

// An array of exactly `count` pointers on the heap: argv[argc] does not exist.
std::unique_ptr<char*[]> exactArray(const std::vector<char*>& from) {
    std::unique_ptr<char*[]> out(new char*[from.size()]);
    for (std::size_t i = 0; i < from.size(); ++i) out[i] = from[i];
    return out;
}

bool caseEqual(const char* a, const char* b) {
    for (; *a && *b; ++a, ++b) {
        const int ca = std::tolower(static_cast<unsigned char>(*a));
        if (ca != std::tolower(static_cast<unsigned char>(*b))) return false;
    }
    return *a == *b;
}

void checkPlatformOptions(int argc, char** argv, int parsed, const PlatformOptions& options,
                          const std::vector<char*>& rest, const std::string& error) {
    FUZZ_CHECK(parsed == PLATFORM_PARSE_OK || parsed == PLATFORM_PARSE_HELP ||
                   parsed == PLATFORM_PARSE_ERROR || parsed == PLATFORM_PARSE_VERSION,
               "parse result %d", parsed);
    if (parsed == PLATFORM_PARSE_ERROR) {
        // One line, apart from line breaks inside an argument it quotes.
        bool argumentBreaks = false;
        for (int i = 1; i < argc; ++i) argumentBreaks |= std::strchr(argv[i], '\n') != nullptr;
        FUZZ_CHECK(!error.empty() && (argumentBreaks || error.find('\n') == std::string::npos),
                   "a refusal says '%s'", error.c_str());
        return;
    }
    // What must pass through: everything but the options and the values they take.
    std::vector<char*> expected = {argv[0]};
    bool help = false, version = false, answer = false, input = false, save = false;
    for (int i = 1; i < argc; ++i) {
        bool hasValue = false;
        const KnownOption* o = optionOf(argv[i], &hasValue);
        if (!o) {
            expected.push_back(argv[i]);
            continue;
        }
        help |= o->name == "--help";
        version |= o->name == "--version";
        answer |= o->name == "--answer";
        input |= o->name == "--input";
        save |= o->name == "--save-last-frame";
        if (o->takesValue && !hasValue) ++i;
    }
    // A lone word that is no program option's value names the surface file: it is taken out.
    const char* surfaceWord = nullptr;
    for (std::size_t i = 1; i < expected.size(); ++i) {
        if (caseEqual(expected[i], "-res") || caseEqual(expected[i], "-ref") ||
            caseEqual(expected[i], "-screencapture")) {
            ++i;
            continue;
        }
        if (expected[i][0] == '-') continue;
        FUZZ_CHECK(surfaceWord == nullptr, "two surface files '%s' and '%s' taken", surfaceWord,
                   expected[i]);
        surfaceWord = expected[i];
        expected.erase(expected.begin() + static_cast<std::ptrdiff_t>(i));
        --i;
    }
    FUZZ_CHECK(rest == expected, "%zu arguments passed through, %zu expected", rest.size(),
               expected.size());
    FUZZ_CHECK(surfaceWord == nullptr || std::strcmp(options.surfaceFile, surfaceWord) == 0,
               "the surface file '%s' not taken", surfaceWord);
    FUZZ_CHECK((parsed == PLATFORM_PARSE_HELP) == help, "help %s without --help",
               help ? "not asked" : "asked");
    FUZZ_CHECK((parsed == PLATFORM_PARSE_VERSION) == (version && !help),
               "version %s", version ? "not printed" : "printed unasked");
    // Nothing the program does not know starts with '-': only its own options and the value
    // that follows each.
    for (std::size_t i = 1; i < rest.size(); ++i) {
        if (caseEqual(rest[i], "-res") || caseEqual(rest[i], "-ref") ||
            caseEqual(rest[i], "-screencapture")) {
            ++i;
            continue;
        }
        FUZZ_CHECK(rest[i][0] != '-', "unknown option '%s' passed to the program", rest[i]);
    }
    FUZZ_CHECK(options.frames == PLATFORM_FRAMES_DEFAULT || options.frames >= 0, "frames %d",
               options.frames);
    FUZZ_CHECK(options.answer == PLATFORM_ANSWER_OK || options.answer == PLATFORM_ANSWER_CANCEL,
               "answer %d", options.answer);
    FUZZ_CHECK(options.answerGiven == answer, "answer %s", answer ? "lost" : "invented");
    const std::size_t inputLength = strnlen(options.inputFile, PLATFORM_PATH_MAX);
    const std::size_t saveLength = strnlen(options.saveLastFrameFile, PLATFORM_PATH_MAX);
    FUZZ_CHECK(inputLength < std::size_t(PLATFORM_PATH_MAX) && (inputLength > 0) == input,
               "input file of %zu characters", inputLength);
    FUZZ_CHECK(saveLength < std::size_t(PLATFORM_PATH_MAX) && (saveLength > 0) == save,
               "last-frame file of %zu characters", saveLength);
}

void checkProgramSettings(int argc, char** argv, CommandLineResult result) {
    bool resolutionAsked = false, refreshAsked = false;
    for (int i = 1; i < argc; ++i) {
        resolutionAsked |= caseEqual(argv[i], "-res");
        refreshAsked |= caseEqual(argv[i], "-ref");
    }
    FUZZ_CHECK(result == COMMAND_LINE_OK || platformOptions.answer == PLATFORM_ANSWER_CANCEL,
               "cancelled though every question was answered ok");
    const OutputState& d = display.output;
    if (d.modeGiven) {
        int width = 0, height = 0;
        FUZZ_CHECK(resolutionAsked, "a resolution without -res");
        FUZZ_CHECK(vxResolutionSize(d.requestedMode, &width, &height), "resolution %d",
                   d.requestedMode);
    }
    FUZZ_CHECK(d.refresh >= VX_REFRESH_DEFAULT && d.refresh < VX_REFRESH_COUNT &&
                   (refreshAsked || d.refresh == VX_REFRESH_DEFAULT),
               "refresh code %d", d.refresh);
    FUZZ_CHECK(program.capture.captureCount >= 0, "capture count %d",
               int(program.capture.captureCount));
    // Only the requested settings are the command line's to change.
    FUZZ_CHECK(d.mode == 0 && d.width == 0 && d.height == 0 && d.startupMode == 0 &&
                   d.alternateMode == 0 && d.window == nullptr && d.context == 0,
               "the command line changed the open output's settings");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzKeepLog();
    readHelpText();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Each argument in its own allocation of exactly its length, so a read past its end shows.
    std::vector<std::unique_ptr<char[]>> strings;
    const auto add = [&](const char* text, std::size_t length) {
        strings.emplace_back(new char[length + 1]);
        std::memcpy(strings.back().get(), text, length);
        strings.back()[length] = '\0';
    };
    add("vorl", 4);
    const char* text = reinterpret_cast<const char*>(data);
    std::size_t start = 0;
    for (std::size_t i = 0; size > 0 && i <= size && strings.size() < MAX_ARGUMENTS; ++i) {
        if (i == size || data[i] == 0) {
            add(text + start, i - start);
            start = i + 1;
        }
    }
    std::vector<char*> arguments;
    for (const auto& s : strings) arguments.push_back(s.get());
    const int argc = int(arguments.size());
    std::unique_ptr<char*[]> argv = exactArray(arguments);

    PlatformOptions options;
    std::vector<char*> rest;
    std::string error;
    const int parsed = platformParseOptions(argc, argv.get(), &options, &rest, &error);
    checkPlatformOptions(argc, argv.get(), parsed, options, rest, error);
    if (parsed != PLATFORM_PARSE_OK) return 0;

    platformReset();
    platformOptions = options;
    resetProgramDefaults();
    const int programArgc = int(rest.size());
    std::unique_ptr<char*[]> programArgv = exactArray(rest);
    const CommandLineResult result = readCommandLine(programArgc, programArgv.get());
    checkProgramSettings(programArgc, programArgv.get(), result);
    return 0;
}
