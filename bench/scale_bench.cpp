// Scale benchmark: the release program itself, headless at 1024 x 768 under the shipped start
// view, on one B-spline surface of gentle hills of 128, 512, 1024 and 4096 points a side (the
// terrain written here, into a temporary folder removed at the end). Per side: the file's size,
// the time to the first frame, the peak resident memory, the frame rate with waves paused and
// on, and the triangles a frame. Reads only what the program prints; every run has a time limit.
// `--sides 128,512`, `--runs N` (the median is reported), `--time-limit S` (seconds a run).
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <string>
#include <system_error>
#include <sys/statvfs.h>
#include <unistd.h>
#include <vector>

#include "bench/scale_run.h"

namespace {

namespace fs = std::filesystem;

constexpr std::size_t SIDES_MAX = 16;
constexpr int RUNS_MAX = 64;
constexpr int DEFAULT_SIDES[] = {128, 512, 1024, 4096};
// Frames a rate run is given: about this many seconds of frames at the rate expected, and at
// least RATE_SECONDS_LEAST at the rate it gave, so that the statistics line, which gives the
// rate over the last whole second, reads a second well after the start.
constexpr double RATE_SECONDS = 5.0;
constexpr double RATE_SECONDS_LEAST = 3.0;
constexpr int RATE_FRAMES_MIN = 20;
constexpr int RATE_FRAMES_MAX = 200000;
constexpr double FIRST_RATE_GUESS = 60.0;
// The share of the memory available that a child may take as address space, and that an
// estimate may reach before a side is skipped: the rest is the machine's.
constexpr double MEMORY_SHARE = 0.85;
constexpr long long DISK_MARGIN = 64ll << 20;

struct Settings {
    std::vector<int> sides;
    int runs;
    double timeLimit;
};
Settings settings = {{std::begin(DEFAULT_SIDES), std::end(DEFAULT_SIDES)}, 3, 300.0};

volatile std::sig_atomic_t stopRequested = 0;
void requestStop(int) { stopRequested = 1; }

enum RowState { ROW_MEASURED = 0, ROW_SKIPPED, ROW_TOO_SLOW, ROW_STATE_COUNT };

struct Row {
    int side;
    int state;                 // RowState
    std::string note;          // why a row was skipped
    long long fileBytes;
    double firstFrame;         // median seconds, start to exit of a one-frame run
    long peakKilobytes;        // the largest of every run's peak
    double fpsPaused, fpsWaves;
    double ppfPaused, ppfWaves;
};

// The program run: VORL_PROGRAM when set, else the one built beside this benchmark.
const char* programPath() {
    const char* program = std::getenv("VORL_PROGRAM");
    return (program == nullptr || program[0] == '\0') ? VORL_BINARY : program;
}

// MemAvailable of /proc/meminfo in bytes; 0 when it cannot be read.
long long availableMemory() {
    std::FILE* in = std::fopen("/proc/meminfo", "r");
    if (in == nullptr) return 0;
    char line[256];
    long long kilobytes = 0;
    while (std::fgets(line, sizeof line, in) != nullptr) {
        if (std::sscanf(line, "MemAvailable: %lld kB", &kilobytes) == 1) break;
    }
    std::fclose(in);
    return kilobytes * 1024;
}

long long freeDisk(const fs::path& folder) {
    struct statvfs info = {};
    if (statvfs(folder.c_str(), &info) != 0) return 0;
    return static_cast<long long>(info.f_bavail) * static_cast<long long>(info.f_frsize);
}

double megabytes(long long bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

// The scratch folder: data/ with the shipped textures beside the terrain each side writes, and
// the input scripts. False (with the reason) when it cannot be made.
bool makeScratch(const fs::path& root) {
    std::error_code error;
    fs::create_directories(root / "data", error);
    const fs::path shipped = fs::path(VORL_SOURCE_DIR) / "data";
    for (const fs::directory_entry& entry : fs::directory_iterator(shipped, error)) {
        if (entry.path().filename() == "vorl.txt" || !entry.is_regular_file()) continue;
        fs::copy_file(entry.path(), root / "data" / entry.path().filename(), error);
        if (error) break;
    }
    if (error) {
        std::fprintf(stderr, "scale_bench: cannot set up %s with the textures of %s: %s\n",
                     root.c_str(), shipped.c_str(), error.message().c_str());
        return false;
    }
    // Waves paused (P) for the first rate, on for the second; no vertical sync (V) in either.
    const char* scripts[][2] = {{"paused.txt", "0 key P\n0 key V\n"}, {"waves.txt", "0 key V\n"}};
    for (const auto& script : scripts) {
        std::FILE* out = std::fopen((root / script[0]).c_str(), "w");
        if (out == nullptr || std::fputs(script[1], out) < 0 || std::fclose(out) != 0) {
            std::fprintf(stderr, "scale_bench: cannot write %s\n", (root / script[0]).c_str());
            return false;
        }
    }
    return true;
}

enum Outcome { RUN_OK = 0, RUN_TOO_SLOW, RUN_FAILED, RUN_INTERRUPTED };

// One headless run of the program in `root` for `frames` frames, with `script` when not empty.
// RUN_FAILED (said on stderr with the end of its output) when it did not end with status 0 or
// printed no statistics line.
Outcome runProgram(const fs::path& root, int side, int frames, const char* script,
                   long long addressLimit, scale::RunResult* run, scale::Statistics* stats) {
    std::vector<std::string> arguments = {programPath(), "--headless", "-res", "1024x768",
                                          "--frames", std::to_string(frames)};
    if (script[0] != '\0') {
        arguments.push_back("--input");
        arguments.push_back((root / script).string());
    }
    *run = scale::runLimited(arguments, root.c_str(), (root / "run.log").c_str(),
                             settings.timeLimit, addressLimit, &stopRequested);
    *stats = scale::lastStatistics(run->output);
    // Ctrl-C reaches the program too, which may end before the wait sees the request.
    if (run->interrupted || stopRequested != 0) return RUN_INTERRUPTED;
    if (run->timedOut) return RUN_TOO_SLOW;
    if (run->started && run->status == 0 && stats->found) return RUN_OK;
    std::fprintf(stderr,
                 "scale_bench: %s failed on the %d x %d terrain (%s%d%s) under an address-space "
                 "limit of %.0f MB; the end of its output:\n%s\n",
                 programPath(), side, side, run->started ? "exit status " : "not started, ",
                 run->status, run->status == 0 ? ", no statistics line" : "",
                 megabytes(addressLimit), scale::lastLines(run->output, 12).c_str());
    return RUN_FAILED;
}

int framesFor(double fps) {
    return std::clamp(static_cast<int>(fps * RATE_SECONDS) + 1, RATE_FRAMES_MIN, RATE_FRAMES_MAX);
}

// A rate run with at least RATE_SECONDS_LEAST of frames, so that the second the statistics line
// reads is not the first, with the start's page faults: while the frames took less than one
// second (its rate reads 0) `frames` grows fourfold, and a shorter run is run again with frames
// for RATE_SECONDS at the rate it gave. The frame count is kept for the next.
Outcome rateRun(const fs::path& root, int side, int* frames, const char* script,
                long long addressLimit, scale::RunResult* run, scale::Statistics* stats) {
    for (;;) {
        const Outcome outcome = runProgram(root, side, *frames, script, addressLimit, run, stats);
        if (outcome != RUN_OK) return outcome;
        if (stats->fps > 0.0 && *frames >= RATE_SECONDS_LEAST * stats->fps) return outcome;
        if (*frames >= RATE_FRAMES_MAX) {
            std::fprintf(stderr, "scale_bench: %d frames took less than %.0f seconds\n", *frames,
                         RATE_SECONDS_LEAST);
            return RUN_FAILED;
        }
        *frames = stats->fps > 0.0 ? framesFor(stats->fps)
                                   : std::min(RATE_FRAMES_MAX, *frames * 4);
        std::printf(" [under %.0f s of frames; again with %d]", RATE_SECONDS_LEAST, *frames);
        std::fflush(stdout);
    }
}

// The runs of one side, the terrain already written: `settings.runs` rounds of a one-frame run,
// a rate run with waves paused and one with waves on. The expected rates carry over from side
// to side. RUN_OK with the row filled, RUN_TOO_SLOW, or the failure.
Outcome measureSide(const fs::path& root, Row* row, double* pausedGuess, double* wavesGuess) {
    const long long addressLimit =
        static_cast<long long>(static_cast<double>(availableMemory()) * MEMORY_SHARE);
    int pausedFrames = framesFor(*pausedGuess);
    int wavesFrames = framesFor(*wavesGuess);
    std::vector<double> first, paused, waves, ppfPaused, ppfWaves;
    scale::RunResult run;
    scale::Statistics stats;
    for (int r = 0; r < settings.runs; ++r) {
        Outcome outcome = runProgram(root, row->side, 1, "", addressLimit, &run, &stats);
        if (outcome != RUN_OK) return outcome;
        first.push_back(run.seconds);
        row->peakKilobytes = std::max(row->peakKilobytes, run.peakKilobytes);
        std::printf("  run %d: first frame %.2f s (peak %.0f MB)", r + 1, run.seconds,
                    run.peakKilobytes / 1024.0);
        std::fflush(stdout);

        outcome = rateRun(root, row->side, &pausedFrames, "paused.txt", addressLimit, &run, &stats);
        if (outcome != RUN_OK) return outcome;
        paused.push_back(stats.fps);
        ppfPaused.push_back(static_cast<double>(stats.ppf));
        row->peakKilobytes = std::max(row->peakKilobytes, run.peakKilobytes);
        std::printf(", paused %.1f fps ppf %ld (%d frames)", stats.fps, stats.ppf, pausedFrames);
        std::fflush(stdout);

        outcome = rateRun(root, row->side, &wavesFrames, "waves.txt", addressLimit, &run, &stats);
        if (outcome != RUN_OK) return outcome;
        waves.push_back(stats.fps);
        ppfWaves.push_back(static_cast<double>(stats.ppf));
        row->peakKilobytes = std::max(row->peakKilobytes, run.peakKilobytes);
        std::printf(", waves %.1f fps ppf %ld (%d frames), peak %.0f MB\n", stats.fps, stats.ppf,
                    wavesFrames, row->peakKilobytes / 1024.0);
        std::fflush(stdout);
        pausedFrames = framesFor(paused.back());
        wavesFrames = framesFor(waves.back());
    }
    row->firstFrame = scale::median(first);
    row->fpsPaused = scale::median(paused);
    row->fpsWaves = scale::median(waves);
    row->ppfPaused = scale::median(ppfPaused);
    row->ppfWaves = scale::median(ppfWaves);
    *pausedGuess = row->fpsPaused;
    *wavesGuess = row->fpsWaves;
    return RUN_OK;
}

// Why a side is not run, or empty: its memory estimated from the largest side measured
// before it (peak per point times its points) against what the machine has available, and
// its file against the free disk.
std::string skipReason(int side, const std::vector<Row>& rows, const fs::path& root) {
    const double points = static_cast<double>(side) * side;
    const Row* base = nullptr;
    for (const Row& row : rows) {
        if (row.state == ROW_TOO_SLOW && row.side < side) {
            return "a smaller side was already too slow";
        }
        if (row.state == ROW_MEASURED && row.side < side && (!base || row.side > base->side)) {
            base = &row;
        }
    }
    char reason[200];
    const long long available = availableMemory();
    if (base != nullptr) {
        const double perPoint =
            static_cast<double>(base->peakKilobytes) * 1024.0 / (double(base->side) * base->side);
        const double estimate = perPoint * points;
        if (estimate > static_cast<double>(available) * MEMORY_SHARE) {
            std::snprintf(reason, sizeof reason,
                          "needs about %.1f GB (the %d side's peak per point), %.1f GB available",
                          estimate / (1u << 30), base->side,
                          static_cast<double>(available) / (1u << 30));
            return reason;
        }
    }
    const long long file = scale::terrainBytesEstimate(side);
    if (file + DISK_MARGIN > freeDisk(root)) {
        std::snprintf(reason, sizeof reason, "its %.0f MB file does not fit on the disk of %s",
                      megabytes(file), root.c_str());
        return reason;
    }
    return {};
}

void printTable(const std::vector<Row>& rows) {
    std::printf("\n%-13s %8s %9s %12s %10s %11s %10s %11s %10s\n", "control mesh", "points",
                "file", "first frame", "peak RSS", "fps paused", "fps waves", "ppf paused",
                "ppf waves");
    const Row* firstMeasured = nullptr;
    for (const Row& row : rows) {
        char mesh[32], points[32];
        std::snprintf(mesh, sizeof mesh, "%d x %d", row.side, row.side);
        const double count = static_cast<double>(row.side) * row.side;
        if (count >= 1e6) {
            std::snprintf(points, sizeof points, "%.1f M", count / (1 << 20));
        } else {
            std::snprintf(points, sizeof points, "%.0f k", count / 1024.0);
        }
        if (row.state != ROW_MEASURED) {
            std::printf("%-13s %8s   %s\n", mesh, points,
                        row.state == ROW_TOO_SLOW ? "too slow: a run passed the time limit"
                                                  : ("skipped: " + row.note).c_str());
            continue;
        }
        if (firstMeasured == nullptr) firstMeasured = &row;
        std::printf("%-13s %8s %6.2f MB %10.2f s %7.0f MB %11.1f %10.1f %10.1fk %9.1fk\n", mesh,
                    points, megabytes(row.fileBytes), row.firstFrame, row.peakKilobytes / 1024.0,
                    row.fpsPaused, row.fpsWaves, row.ppfPaused / 1000.0, row.ppfWaves / 1000.0);
    }
    if (firstMeasured == nullptr) return;
    std::printf("\nfps against the %d x %d mesh's (paused, waves on):", firstMeasured->side,
                firstMeasured->side);
    for (const Row& row : rows) {
        if (row.state != ROW_MEASURED) continue;
        std::printf("  %d: %.2f, %.2f;", row.side, row.fpsPaused / firstMeasured->fpsPaused,
                    row.fpsWaves / firstMeasured->fpsWaves);
    }
    std::printf("\n");
}

bool readArguments(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--sides") == 0 && hasValue) {
            if (!scale::readSides(argv[++i], &settings.sides, SIDES_MAX)) return false;
        } else if (std::strcmp(argv[i], "--runs") == 0 && hasValue) {
            settings.runs = std::atoi(argv[++i]);
            if (settings.runs < 1 || settings.runs > RUNS_MAX) return false;
        } else if (std::strcmp(argv[i], "--time-limit") == 0 && hasValue) {
            settings.timeLimit = std::atof(argv[++i]);
            if (!(settings.timeLimit > 0.0)) return false;
        } else {
            return false;
        }
    }
    return true;
}

// Every side in turn: skip it, or write its terrain, run it and remove the file. False when a
// run failed or the benchmark was interrupted.
bool measureSides(const fs::path& root, std::vector<Row>* rows) {
    double pausedGuess = FIRST_RATE_GUESS, wavesGuess = FIRST_RATE_GUESS;
    const fs::path terrain = root / "data" / "vorl.txt";
    for (int side : settings.sides) {
        Row row = {side, ROW_MEASURED, {}, 0, 0.0, 0, 0.0, 0.0, 0.0, 0.0};
        row.note = skipReason(side, *rows, root);
        if (!row.note.empty()) {
            row.state = ROW_SKIPPED;
            std::printf("\n%d x %d: skipped, %s\n", side, side, row.note.c_str());
            rows->push_back(row);
            continue;
        }
        const auto start = std::chrono::steady_clock::now();
        row.fileBytes = scale::writeTerrain(terrain.c_str(), side);
        if (row.fileBytes < 0) {
            std::fprintf(stderr, "scale_bench: cannot write %s\n", terrain.c_str());
            return false;
        }
        std::printf("\n%d x %d: terrain of %.1f MB written in %.1f s\n", side, side,
                    megabytes(row.fileBytes),
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        std::fflush(stdout);
        const Outcome outcome = measureSide(root, &row, &pausedGuess, &wavesGuess);
        std::error_code error;
        fs::remove(terrain, error);
        if (outcome == RUN_INTERRUPTED) {
            std::fprintf(stderr, "scale_bench: interrupted\n");
            return false;
        }
        if (outcome == RUN_FAILED) return false;
        if (outcome == RUN_TOO_SLOW) {
            row.state = ROW_TOO_SLOW;
            std::printf("\n  too slow: a run passed the limit of %.0f s\n", settings.timeLimit);
        }
        rows->push_back(row);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (!readArguments(argc, argv)) {
        std::fprintf(stderr, "usage: scale_bench [--sides 128,512,1024,4096] [--runs N] "
                             "[--time-limit SECONDS]\n       sides %d to %d; VORL_PROGRAM "
                             "names another program\n", scale::SIDE_MIN, scale::SIDE_MAX);
        return 2;
    }
    if (access(programPath(), X_OK) != 0) {
        std::fprintf(stderr, "scale_bench: the program %s is not there; build it first (make "
                             "build)\n", programPath());
        return 1;
    }
    std::signal(SIGINT, requestStop);
    std::signal(SIGTERM, requestStop);
    char name[64];
    std::snprintf(name, sizeof name, "vorl-scale-bench-%d", static_cast<int>(getpid()));
    std::error_code error;
    const fs::path root = fs::temp_directory_path(error) / name;
    bool ok = !error && makeScratch(root);
    std::vector<Row> rows;
    if (ok) {
        std::printf(
            "scale_bench: %s --headless -res 1024x768 in a scratch folder, its data/vorl.txt one "
            "B-spline surface of gentle hills, one unit between control points, under the start "
            "view; %d runs a side, medians (peak RSS: the largest).\n"
            "  first frame: wall time from start to exit of a --frames 1 run (reading, first "
            "frame, release).\n"
            "  peak RSS: the run's own ru_maxrss.\n"
            "  fps: the statistics line the program prints at exit (its rate over the last whole "
            "second of the frames' own time), about %.0f s of frames a run; paused: keys P and V "
            "on frame 0, waves: V.\n"
            "  ppf: triangles of the last frame, from the same line.\n"
            "  each run is stopped after %.0f s; a side whose estimated memory passes %.0f%% of "
            "the available is skipped.\n",
            programPath(), settings.runs, RATE_SECONDS, settings.timeLimit, MEMORY_SHARE * 100.0);
        std::fflush(stdout);
        ok = measureSides(root, &rows);
    }
    fs::remove_all(root, error);
    if (!rows.empty()) printTable(rows);
    return ok ? 0 : 1;
}
