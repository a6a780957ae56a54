// Whole-frame benchmark at 1024 x 768: the program started in-process by its own start-up
// (headless platform, no present hook), then runFrame() timed for the shipped scene in three
// option sets and for a single 32 x 32 comparison surface, each also with drawing calls recorded, not drawn
// to split the frame between the program's own work and the rasterizer. Runs the peer
// benchmark on the same comparison surface when it is present (PEER_BENCH, or where the peer
// folder's build.sh puts it by default).
// Then two scaling tables of the comparison surface, ours against the peer: static
// subdivisions 1 to 20 at 1024 x 768, and subdivisions 6 at every resolution -res accepts (the
// program started again at each; VEXA_MAX_RES is raised to the largest for them).
// `--tables only` runs just the tables, `--tables skip` leaves them out (FRAME_BENCH_TABLES=
// only|skip does the same for `make bench`); `--table-runs N`, `--table-frames N` size them.
// `--scene comparison` runs only the comparison the speed goals are set in: the program itself
// headless (its statistics line) against the peer at static detail 6 and 20, pair by pair
// (`--pairs N`, `--details 6,20`); `--write-comparison DIR` writes the comparison scene's
// data folder into DIR for other benchmarks and stops.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <string>
#include <system_error>
#include <sys/wait.h>
#include <unistd.h>

#include "app/frame.h"
#include "app/input.h"
#include "app/program.h"
#include "app/startup.h"
#include "app/viewer.h"
#include "display/display.h"
#include "geometry/camera.h"
#include "geometry/transform.h"
#include "platform/host.h"
#include "platform/win32.h"
#include "render/emit.h"
#include "render/options.h"
#include "render/scene.h"
#include "surface/waves.h"
#include "vexa/vexa.h"

namespace {

constexpr int OUTPUT_WIDTH = 1024;
constexpr int OUTPUT_HEIGHT = 768;
constexpr std::uint32_t CLOCK_STEP_MS = 16;     // the fixed clock's step per frame
constexpr std::uint32_t WAVE_SEED = 0x5EED;
constexpr int MAX_RUNS = 64;
constexpr int PEER_GRID_SIDE = 32;
constexpr int PEER_SUBDIVISIONS = 6;
// Where the peer folder's build.sh writes the peer by default (its OUT); PEER_BENCH overrides.
constexpr const char* PEER_DEFAULT = "/tmp/vorl-peer/peer_bench";

struct BenchSettings {
    int runs;          // timed runs per configuration and mode; the median is reported
    int frames;        // frames per timed run
    int warmFrames;    // untimed frames before the first run
};
BenchSettings benchSettings = {7, 60, 20};

enum TableChoice { TABLES_ALL = 0, TABLES_ONLY, TABLES_SKIP, TABLE_CHOICE_COUNT };
constexpr const char* TABLE_CHOICE_NAME[] = {"all", "only", "skip"};
static_assert(std::size(TABLE_CHOICE_NAME) == TABLE_CHOICE_COUNT);

// The scaling tables take fewer frames per point than the figures above: 26 points, each with
// the peer's runs beside ours, would otherwise take several times as long as the rest.
struct TableSettings {
    int choice;        // TableChoice
    int runs;          // timed runs per point, ours and the peer's; the median is reported
    int frames;        // frames per timed run
    int warmFrames;    // our untimed frames before a point's first run
};
TableSettings tableSettings = {TABLES_ALL, 3, 10, 3};
// Untimed frames before each peer run: every run is a new process, and llvmpipe compiles its
// shaders during the first frame.
constexpr int PEER_TABLE_WARM_FRAMES = 2;
constexpr int TABLE_SUBDIVISIONS_MAX = 20;
constexpr int TABLE_RESOLUTION_SUBDIVISIONS = 6;
struct TableResolution {
    const char* name;     // as -res and the peer's --size take it
    int width, height;
};
constexpr TableResolution TABLE_RESOLUTIONS[] = {
    {"512x384", 512, 384},   {"640x480", 640, 480},     {"800x600", 800, 600},
    {"1024x768", 1024, 768}, {"1280x1024", 1280, 1024}, {"1600x1200", 1600, 1200},
};
// The largest of them: a smaller VEXA_MAX_RES in the environment would refuse the rest.
constexpr const char* TABLE_MAX_RES = "1600x1200";

struct Configuration {
    const char* name;
    bool dynamicDetail;
    int subdivisions;
    bool forwardDifferencing;
    bool wavesPaused;
};

struct Measurement {
    double fullFps;        // median frames per second, real drawing
    double programFps;     // median frames per second, drawing calls only recorded
    double trianglesPerFrame;
};

// The board records the drawing calls instead of drawing them: the program alone is timed.
void ignoreCall(void*, int, int, const void* const*) {}

// Triangle sizes of one frame, as the rasterizer receives them: area bins in pixels, the
// triangles its back-face cull drops (signed area below 0) and the front-facing pixel total.
constexpr int SIZE_BIN_COUNT = 7;
constexpr double SIZE_BIN_LIMIT[SIZE_BIN_COUNT - 1] = {1, 8, 32, 128, 512, 2048};
constexpr const char* SIZE_BIN_NAME[SIZE_BIN_COUNT] = {"<1",      "1-8",      "8-32",
                                                       "32-128",  "128-512",  "512-2048",
                                                       ">=2048"};
struct SizeCensus {
    long bins[SIZE_BIN_COUNT];
    long culled;
    double frontPixels;
};
SizeCensus sizeCensus;

void countTriangle(const void* a, const void* b, const void* c) {
    const ScreenVertex& p = *static_cast<const ScreenVertex*>(a);
    const ScreenVertex& q = *static_cast<const ScreenVertex*>(b);
    const ScreenVertex& r = *static_cast<const ScreenVertex*>(c);
    const double area = 0.5 * ((double(q.x) - p.x) * (double(r.y) - p.y) -
                               (double(r.x) - p.x) * (double(q.y) - p.y));
    if (area < 0.0) {
        ++sizeCensus.culled;
        return;
    }
    int bin = 0;
    while (bin < SIZE_BIN_COUNT - 1 && area >= SIZE_BIN_LIMIT[bin]) ++bin;
    ++sizeCensus.bins[bin];
    sizeCensus.frontPixels += area;
}

// Every call's triangles: strips as the rasterizer splits them (every other triangle
// reversed), polygons as fans; lines have none.
void countCall(void*, int call, int count, const void* const* v) {
    if (call == VX_CALL_TRIANGLE) countTriangle(v[0], v[1], v[2]);
    if (call != VX_CALL_STRIP && call != VX_CALL_POLYGON) return;
    for (int i = 2; i < count; ++i) {
        if (call == VX_CALL_STRIP) {
            if (i & 1) {
                countTriangle(v[i - 1], v[i - 2], v[i]);
            } else {
                countTriangle(v[i - 2], v[i - 1], v[i]);
            }
        } else {
            countTriangle(v[0], v[i - 1], v[i]);
        }
    }
}

void installNoOps() { vxSetDrawRecorder(ignoreCall, nullptr, false); }
void drawForReal() { vxSetDrawRecorder(nullptr, nullptr, true); }

double seconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

double median(double* values, int count) {
    std::sort(values, values + count);
    return (count & 1) ? values[count / 2] : 0.5 * (values[count / 2 - 1] + values[count / 2]);
}

// Every run starts from the same clock, generator and wave sources, so every run draws the
// same frame sequence (waves included) and the two modes see identical geometry.
void restartSequence() {
    platformSetClock(true, CLOCK_STEP_MS);
    seedRandom(scene.waves, WAVE_SEED);
    for (WaveSource& source : scene.waves.sources) source = WaveSource{};
    program.camera = CAMERA_DEFAULT;
    resetSpin(program.viewer.dragSpin);
    resetSpin(program.viewer.lightSpin);
    // The centre of the open output, where runFrame puts the cursor: anywhere else, the first
    // frame would read the difference as mouse motion and turn the camera.
    const int cx = static_cast<int>(static_cast<float>(display.output.width) * 0.5f);
    const int cy = static_cast<int>(static_cast<float>(display.output.height) * 0.5f);
    program.input.pointer = PointerState{cx, cy, cx, cy};
    SetCursorPos(cx, cy);
}

// One frame as the main loop draws it: the queue found empty (the fixed clock steps), then
// runFrame. Returns the surface triangles of the frame.
int drawFrame() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    runFrame();
    return program.stats.polygons;
}

// Frames per second of one run of `frames` frames; adds its mean triangles per frame to
// *triangleSum.
double timedRun(int frames, double* triangleSum) {
    restartSequence();
    long triangles = 0;
    const double start = seconds();
    for (int f = 0; f < frames; ++f) triangles += drawFrame();
    vxFinish();
    const double elapsed = seconds() - start;
    *triangleSum += static_cast<double>(triangles) / frames;
    return frames / elapsed;
}

void applyConfiguration(const Configuration& c) {
    resetRenderOptions();
    renderOptions.surfaceType = SURFACE_BSPLINE;
    renderOptions.verticalSync = false;
    renderOptions.dynamicDetail = c.dynamicDetail;
    renderOptions.subdivisions = c.subdivisions;
    renderOptions.forwardDifferencing = c.forwardDifferencing;
    renderOptions.wavesPaused = c.wavesPaused;
}

Measurement measure(const Configuration& c) {
    applyConfiguration(c);
    restartSequence();
    for (int f = 0; f < benchSettings.warmFrames; ++f) drawFrame();
    double full[MAX_RUNS];
    double program[MAX_RUNS];
    double triangles = 0.0;
    double ignored = 0.0;
    // The modes alternate run by run, so a slow spell of the machine touches both alike.
    for (int r = 0; r < benchSettings.runs; ++r) {
        drawForReal();
        full[r] = timedRun(benchSettings.frames, &triangles);
        installNoOps();
        program[r] = timedRun(benchSettings.frames, &ignored);
    }
    // The census frame: the last frame of a run's sequence, counted instead of drawn.
    restartSequence();
    for (int f = 0; f + 1 < benchSettings.frames; ++f) drawFrame();
    sizeCensus = SizeCensus{};
    vxSetDrawRecorder(countCall, nullptr, false);
    drawFrame();
    drawForReal();
    return {median(full, benchSettings.runs), median(program, benchSettings.runs),
            triangles / benchSettings.runs};
}

void printCensus(const char* name) {
    const SizeCensus& c = sizeCensus;
    long front = 0;
    for (long n : c.bins) front += n;
    std::printf("  %s, one frame: %ld front-facing triangles, %ld culled, %.0f px covered "
                "(%.1f px per triangle); by area in px:",
                name, front, c.culled, c.frontPixels,
                front > 0 ? c.frontPixels / static_cast<double>(front) : 0.0);
    for (int b = 0; b < SIZE_BIN_COUNT; ++b) std::printf(" %s:%ld", SIZE_BIN_NAME[b], c.bins[b]);
    std::printf("\n");
}

// Frames per second of the device's fixed per-frame work alone: clear and swap.
double clearSwapFps() {
    double runs[MAX_RUNS];
    for (int r = 0; r < benchSettings.runs; ++r) {
        const double start = seconds();
        for (int f = 0; f < benchSettings.frames; ++f) {
            vxClearBuffers(0, 0, 0xFFFF);
            vxSwapBuffers(0);
        }
        runs[r] = benchSettings.frames / (seconds() - start);
    }
    return median(runs, benchSettings.runs);
}

void printHeader() {
    std::printf("%-22s %9s %9s %9s %9s %9s %7s %7s\n", "configuration", "tris/frm", "fps",
                "frame ms", "prog ms", "rast ms", "prog %", "rast %");
}

void printMeasurement(const char* name, const Measurement& m) {
    const double frameMs = 1000.0 / m.fullFps;
    const double programMs = 1000.0 / m.programFps;
    const double rasterMs = frameMs - programMs;
    std::printf("%-22s %9.0f %9.1f %9.2f %9.2f %9.2f %6.0f%% %6.0f%%\n", name,
                m.trianglesPerFrame, m.fullFps, frameMs, programMs, rasterMs,
                100.0 * programMs / frameMs, 100.0 * rasterMs / frameMs);
}

// The program's own start-up at `resolution` (as -res takes it), reading its data folder in
// the working directory; false with a message when it does not start.
bool startBenchProgram(const char* resolution) {
    char name[] = "frame_bench";
    char option[] = "-res";
    std::string size = resolution;
    char* argv[] = {name, option, size.data(), nullptr};
    int exitCode = 0;
    if (!startProgram(3, argv, &exitCode)) {
        std::fprintf(stderr, "frame_bench: the program does not start at %s (exit code %d)\n",
                     resolution, exitCode);
        return false;
    }
    return true;
}

// The peer benchmark's path: PEER_BENCH when set, else the peer's default build place.
const char* peerPath() {
    const char* peer = std::getenv("PEER_BENCH");
    return (peer == nullptr || peer[0] == '\0') ? PEER_DEFAULT : peer;
}

// Says what the missing peer is and how to get it, once per run: a reader of the tables
// should not have to guess what "peer" means.
void explainMissingPeer() {
    static bool explained = false;
    if (explained) return;
    explained = true;
    std::printf("peer: the peer benchmark draws the same comparison surface through OpenGL on "
                "Mesa's CPU drivers (OSMesa with llvmpipe), the frame rate a stock OpenGL stack "
                "gives on the processor; it is not part of this repository. Build it with its "
                "folder's build.sh (it writes %s) or set PEER_BENCH to where it is.\n",
                PEER_DEFAULT);
}

// The comparison surface: one 32 x 32 mesh, x = c - 16, y = r - 16,
// z = 0.5 sin(0.7 c) cos(0.5 r), in the program's surface file format.
bool writeComparisonSurface(const std::filesystem::path& file) {
    std::FILE* out = std::fopen(file.c_str(), "w");
    if (out == nullptr) return false;
    std::fprintf(out, "B-Spline Surface\n\n1\n\n%d %d\n\n", PEER_GRID_SIDE, PEER_GRID_SIDE);
    for (int r = 0; r < PEER_GRID_SIDE; ++r) {
        for (int c = 0; c < PEER_GRID_SIDE; ++c) {
            const double z = 0.5 * std::sin(0.7 * c) * std::cos(0.5 * r);
            std::fprintf(out, "%.6f %.6f %.6f\n", static_cast<double>(c - 16),
                         static_cast<double>(r - 16), z);
        }
    }
    return std::fclose(out) == 0;
}

// `text` in single quotes for the shell, any quote in it closed, escaped and reopened.
std::string shellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (char ch : text) {
        if (ch == '\'') {
            quoted += "'\\''";
        } else {
            quoted += ch;
        }
    }
    return quoted + "'";
}

struct PeerRun {
    bool ran;        // it started and ended with status 0 (OpenGL errors end it with 1)
    int status;      // its exit status, or -1 when it did not end normally
    std::string text;
};

// Runs the peer once on the surface file with the comparison's driver, mode and culling, then
// `arguments`; standard error is read with standard output.
PeerRun runPeerOnce(const char* peer, const std::filesystem::path& surfaceFile,
                    const std::string& arguments) {
    const std::string command = "GALLIUM_DRIVER=llvmpipe LP_NUM_THREADS=2 " +
                                shellQuoted(peer) + " --mode cpu --cull --surface " +
                                shellQuoted(surfaceFile.string()) + " " + arguments + " 2>&1";
    PeerRun run = {false, -1, {}};
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return run;
    char chunk[512];
    while (std::fgets(chunk, sizeof chunk, pipe) != nullptr) run.text += chunk;
    const int status = pclose(pipe);
    if (status != -1 && WIFEXITED(status)) run.status = WEXITSTATUS(status);
    run.ran = run.status == 0;
    return run;
}

// The number after `key` ("fps=") at the start of the peer's text or after a space; negative
// when the key is absent.
double peerFigure(const std::string& text, const char* key) {
    std::size_t at = text.rfind(key, 0);
    if (at == std::string::npos) {
        at = text.find(std::string(" ") + key);
        if (at == std::string::npos) return -1.0;
        ++at;
    }
    return std::atof(text.c_str() + at + std::strlen(key));
}

// Runs the peer on the surface file and prints its line; its fps, or a negative value when it
// failed or did not report.
double runPeer(const char* peer, const std::filesystem::path& surfaceFile) {
    const PeerRun run = runPeerOnce(peer, surfaceFile, "--frames 300");
    std::printf("peer: %s", run.text.c_str());
    if (!run.ran) {
        // A run that failed (an OpenGL error, a refused file) may still have printed a figure.
        std::printf("peer: ended with exit status %d; its figures are not compared\n",
                    run.status);
        return -1.0;
    }
    const double fps = peerFigure(run.text, "fps=");
    if (fps <= 0.0) std::printf("peer: no fps= figure in its output\n");
    return fps;
}

// Makes `folder` the working directory, where the program reads its data folder; false with a
// message when it cannot, so that the shipped scene is never measured in its place.
bool enterFolder(const std::filesystem::path& folder) {
    std::error_code error;
    std::filesystem::current_path(folder, error);
    if (error) {
        std::fprintf(stderr, "frame_bench: cannot enter %s (%s)\n", folder.c_str(),
                     error.message().c_str());
        return false;
    }
    return true;
}

// The comparison scene's data folder under `root`: the surface written, the textures copied
// from the shipped ones under `home`.
bool writeComparisonFolder(const std::filesystem::path& root, const std::filesystem::path& home) {
    namespace fs = std::filesystem;
    std::error_code error;
    fs::create_directories(root / "data", error);
    return !error && writeComparisonSurface(root / SURFACE_FILE) &&
           fs::copy_file(home / SURFACE_TEXTURE_FILE, root / SURFACE_TEXTURE_FILE,
                         fs::copy_options::overwrite_existing, error) &&
           fs::copy_file(home / ENVIRONMENT_TEXTURE_FILE, root / ENVIRONMENT_TEXTURE_FILE,
                         fs::copy_options::overwrite_existing, error);
}

// The comparison scene at static subdivisions 6: ours split as above, then the peer's line.
void comparisonFigures(const char* peer, const std::filesystem::path& surfaceFile) {
    const Configuration peerScene = {"comparison 32x32 s6", false, PEER_SUBDIVISIONS, false,
                                     true};
    const Measurement ours = measure(peerScene);
    std::printf("\ncomparison scene: one 32 x 32 surface, static subdivisions %d, waves paused\n",
                PEER_SUBDIVISIONS);
    printHeader();
    printMeasurement(peerScene.name, ours);
    printCensus(peerScene.name);

    if (peer == nullptr) {
        std::printf("peer: %s not found; ours %.1f fps\n", peerPath(), ours.fullFps);
        explainMissingPeer();
        return;
    }
    const double peerFps = runPeer(peer, surfaceFile);
    if (peerFps > 0.0) {
        std::printf("ours %.1f fps, peer %.1f fps, ratio %.2fx (target 3x)\n", ours.fullFps,
                    peerFps, ours.fullFps / peerFps);
    }
}

// One point of a scaling table: median frames per second and triangles per frame; fps
// negative when the point could not be measured.
struct TablePoint {
    double fps;
    double trianglesPerFrame;
};

// One point of both sides: the loaded comparison scene at the open output and static
// `subdivisions` (unmeasured when `ours` is false: the program did not start), and the peer at
// `size` (as its --size takes it), unmeasured when there is no peer or any of its runs failed
// or gave no figure. Our runs and the peer's alternate, so that a slow spell of the machine
// touches both alike.
void measureTablePoint(bool ours, const char* peer, const std::filesystem::path& surfaceFile,
                       const char* size, int subdivisions, TablePoint* ourPoint,
                       TablePoint* peerPoint) {
    *ourPoint = {-1.0, -1.0};
    *peerPoint = {-1.0, -1.0};
    if (ours) {
        applyConfiguration({"table", false, subdivisions, false, true});
        restartSequence();
        for (int f = 0; f < tableSettings.warmFrames; ++f) drawFrame();
    }
    char arguments[128];
    std::snprintf(arguments, sizeof arguments, "--size %s --n %d --frames %d --warm %d --nostats",
                  size, subdivisions, tableSettings.frames, PEER_TABLE_WARM_FRAMES);
    bool peerRuns = peer != nullptr;
    double ourFps[MAX_RUNS];
    double peerFps[MAX_RUNS];
    double ourTriangles = 0.0;
    double peerTriangles = -1.0;
    for (int r = 0; r < tableSettings.runs; ++r) {
        if (ours) ourFps[r] = timedRun(tableSettings.frames, &ourTriangles);
        if (!peerRuns) continue;
        const PeerRun run = runPeerOnce(peer, surfaceFile, arguments);
        peerFps[r] = run.ran ? peerFigure(run.text, "fps=") : -1.0;
        peerTriangles = peerFigure(run.text, "tris/frame=");
        peerRuns = peerFps[r] > 0.0;
        if (!peerRuns) {
            std::fprintf(stderr, "frame_bench: the peer (%s) failed or gave no fps= figure "
                                 "(exit status %d)\n", arguments, run.status);
        }
    }
    if (ours) *ourPoint = {median(ourFps, tableSettings.runs), ourTriangles / tableSettings.runs};
    if (peerRuns) *peerPoint = {median(peerFps, tableSettings.runs), peerTriangles};
}

void printTableHeader(const char* first) {
    std::printf("%-18s %9s %9s %9s %10s %9s %7s\n", first, "tris/frm", "fps", "frame ms",
                "peer tris", "peer fps", "ratio");
}

void printTableRow(const char* label, const TablePoint& ours, const TablePoint& peer) {
    std::printf("%-18s", label);
    if (ours.fps > 0.0) {
        std::printf(" %9.0f %9.1f %9.2f", ours.trianglesPerFrame, ours.fps, 1000.0 / ours.fps);
    } else {
        std::printf(" %9s %9s %9s", "-", "-", "-");
    }
    if (peer.fps > 0.0) {
        std::printf(" %10.0f %9.1f", peer.trianglesPerFrame, peer.fps);
    } else {
        std::printf(" %10s %9s", "-", "-");
    }
    if (ours.fps > 0.0 && peer.fps > 0.0) {
        std::printf(" %6.2fx\n", ours.fps / peer.fps);
    } else {
        std::printf(" %7s\n", "-");
    }
    // A table takes a while; each row shows as soon as it is measured, piped or not.
    std::fflush(stdout);
}

// Cost against triangles: the loaded comparison scene at the open 1024 x 768 output.
void subdivisionTable(const char* peer, const std::filesystem::path& surfaceFile) {
    std::printf("\nwith triangles: %d x %d, static subdivisions 1 to %d\n", OUTPUT_WIDTH,
                OUTPUT_HEIGHT, TABLE_SUBDIVISIONS_MAX);
    printTableHeader("subdivisions");
    char size[32];
    std::snprintf(size, sizeof size, "%dx%d", OUTPUT_WIDTH, OUTPUT_HEIGHT);
    for (int n = 1; n <= TABLE_SUBDIVISIONS_MAX; ++n) {
        TablePoint ours, theirs;
        measureTablePoint(true, peer, surfaceFile, size, n, &ours, &theirs);
        char label[32];
        std::snprintf(label, sizeof label, "%d", n);
        printTableRow(label, ours, theirs);
    }
}

// Cost against pixels: the program stopped and started again with -res at each resolution,
// reading the comparison scene from `root`. Leaves the program at the last resolution, or
// stopped when that one did not start.
void resolutionTable(const char* peer, const std::filesystem::path& root,
                     const std::filesystem::path& home) {
    std::printf("\nwith pixels: static subdivisions %d, the program started again at each "
                "resolution\n", TABLE_RESOLUTION_SUBDIVISIONS);
    printTableHeader("resolution (Mpx)");
    // The device reads its limit when it starts; the caller's value comes back afterwards.
    const char* limit = std::getenv("VEXA_MAX_RES");
    const bool hadLimit = limit != nullptr;
    const std::string previousLimit = hadLimit ? limit : "";
    setenv("VEXA_MAX_RES", TABLE_MAX_RES, 1);
    for (const TableResolution& r : TABLE_RESOLUTIONS) {
        // A process starts the program once: its window class stays registered and the
        // closed window's quit message stays queued until the platform is reset as well.
        stopProgram();
        platformReset();
        bool started = false;
        if (enterFolder(root)) {
            started = startBenchProgram(r.name);
            enterFolder(home);
        }
        TablePoint ours, theirs;
        measureTablePoint(started, peer, root / SURFACE_FILE, r.name,
                          TABLE_RESOLUTION_SUBDIVISIONS, &ours, &theirs);
        char label[32];
        std::snprintf(label, sizeof label, "%s (%.2f)", r.name, r.width * r.height / 1.0e6);
        printTableRow(label, ours, theirs);
    }
    if (hadLimit) {
        setenv("VEXA_MAX_RES", previousLimit.c_str(), 1);
    } else {
        unsetenv("VEXA_MAX_RES");
    }
}

void scalingTables(const char* peer, const std::filesystem::path& root,
                   const std::filesystem::path& home) {
    std::printf("\nscaling tables: the comparison scene, waves paused; per point, ours: %d runs "
                "of %d frames after %d warm-up frames (median), fewer frames than above; the "
                "peer (mode cpu, culling, llvmpipe on 2 threads): %d runs of %d frames after %d "
                "warm-up frames each (median); ratio = ours / peer\n",
                tableSettings.runs, tableSettings.frames, tableSettings.warmFrames,
                tableSettings.runs, tableSettings.frames, PEER_TABLE_WARM_FRAMES);
    if (peer == nullptr) {
        std::printf("peer: %s not found; its columns read -\n", peerPath());
        explainMissingPeer();
    }
    subdivisionTable(peer, root / SURFACE_FILE);
    resolutionTable(peer, root, home);
}

// The comparison folder written in a temporary place of this run's own: its path, or an empty
// one (said on stderr, nothing left behind) when it cannot be written.
std::filesystem::path temporaryComparisonFolder(const std::filesystem::path& home) {
    namespace fs = std::filesystem;
    char name[64];
    std::snprintf(name, sizeof name, "vorl-frame-bench-%d", static_cast<int>(getpid()));
    const fs::path root = fs::temp_directory_path() / name;
    if (writeComparisonFolder(root, home)) return root;
    std::fprintf(stderr, "frame_bench: cannot write the comparison scene in %s\n", root.c_str());
    std::error_code error;
    fs::remove_all(root, error);
    return {};
}

// The comparison scene in a temporary data folder: our frames, then the peer's, then the
// scaling tables unless they are skipped.
void comparisonScene() {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path home = fs::current_path();
    const fs::path root = temporaryComparisonFolder(home);
    if (root.empty()) return;
    bool loaded = false;
    if (enterFolder(root)) {
        sceneRelease();
        SceneReasons reasons{};
        loaded = sceneLoad(&reasons);
        for (int i = 0; i < reasons.count; ++i) {
            std::fprintf(stderr, "frame_bench: %s\n", reasons.text[i]);
        }
        enterFolder(home);
    }
    if (!loaded) {
        std::fprintf(stderr, "frame_bench: the comparison scene does not load\n");
        fs::remove_all(root, error);
        return;
    }
    const char* peer = access(peerPath(), X_OK) == 0 ? peerPath() : nullptr;
    if (tableSettings.choice != TABLES_ONLY) comparisonFigures(peer, root / SURFACE_FILE);
    if (tableSettings.choice != TABLES_SKIP) scalingTables(peer, root, home);
    fs::remove_all(root, error);
}

// ---- --scene comparison: the program itself against the peer, process by process ----------
// The measure the speed goals are set in: the real program run headless on the comparison
// scene (X: static detail, P: waves paused, V: no vertical sync, PLUS or MINUS from the
// default 6 to the detail wanted), its figure the statistics line it prints at exit (the frame
// rate over its last second of frames), beside the peer's fps= at the same detail. Runs
// alternate ours, peer, ours, peer, so that a slow spell of the machine touches both alike.
constexpr int COMPARISON_DETAILS_MAX = 8;
constexpr int DEFAULT_DETAIL = 6;        // the program's static detail before any key
struct ComparisonSettings {
    int pairs;                            // runs of ours and of the peer at each detail
    int frames;                           // our frames a run (the figure is the last second's)
    int peerFrames;                       // the peer's timed frames a run
    int details[COMPARISON_DETAILS_MAX];  // static subdivisions, in order
    int detailCount;
};
ComparisonSettings comparisonSettings = {3, 1500, 200, {6, 20}, 2};

enum SceneChoice { SCENE_ALL = 0, SCENE_COMPARISON, SCENE_CHOICE_COUNT };
constexpr const char* SCENE_CHOICE_NAME[] = {"all", "comparison"};
static_assert(std::size(SCENE_CHOICE_NAME) == SCENE_CHOICE_COUNT);
int sceneChoice = SCENE_ALL;
const char* comparisonFolderOnly = nullptr;   // --write-comparison DIR: write it and stop

// The program that --scene comparison runs: VORL_PROGRAM when set, else the one built beside
// this benchmark.
const char* programPath() {
    const char* program = std::getenv("VORL_PROGRAM");
    return (program == nullptr || program[0] == '\0') ? VORL_BINARY : program;
}

// The input script that sets the comparison scene up at static `subdivisions` on frame 0.
bool writeComparisonScript(const std::filesystem::path& file, int subdivisions) {
    std::FILE* out = std::fopen(file.c_str(), "w");
    if (out == nullptr) return false;
    std::fprintf(out, "# the comparison scene: static detail %d, waves paused, no vsync\n"
                      "0 key X\n0 key P\n0 key V\n", subdivisions);
    for (int n = DEFAULT_DETAIL; n < subdivisions; ++n) std::fprintf(out, "0 key PLUS\n");
    for (int n = DEFAULT_DETAIL; n > subdivisions; --n) std::fprintf(out, "0 key MINUS\n");
    return std::fclose(out) == 0;
}

// The figures of the program's statistics line.
struct StatisticsLine {
    double fps;    // negative when the run failed
    int ppf;       // surface triangles of the last frame
};

// One headless run of the program in `root` with `script`: its last statistics line, fps
// negative (with the reason on standard error) when it failed.
StatisticsLine runProgramOnce(const std::filesystem::path& root, const std::filesystem::path& script) {
    char frames[32];
    std::snprintf(frames, sizeof frames, "%d", comparisonSettings.frames);
    const std::string command = "cd " + shellQuoted(root.string()) + " && " +
                                shellQuoted(programPath()) + " --headless -res 1024x768 --frames " +
                                frames + " --input " + shellQuoted(script.string()) + " 2>&1";
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return {-1.0, 0};
    std::string last;
    char line[512];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        if (std::strncmp(line, "fps: ", 5) == 0) last = line;
    }
    const int status = pclose(pipe);
    if (status != 0 || last.empty()) {
        std::fprintf(stderr, "frame_bench: %s ended with status %d%s\n", programPath(), status,
                     last.empty() ? " and no statistics line" : "");
        return {-1.0, 0};
    }
    const std::size_t ppf = last.find("ppf: ");
    return {std::atof(last.c_str() + 5),
            ppf == std::string::npos ? 0 : std::atoi(last.c_str() + ppf + 5)};
}

// Ours against the peer at static `subdivisions`: the pairs in turn, each printed as it ends,
// then the medians and the median of the pairs' ratios. False when a run failed.
bool comparePairs(const char* peer, const std::filesystem::path& root, int subdivisions) {
    char name[48];
    std::snprintf(name, sizeof name, "comparison-%d.txt", subdivisions);
    const std::filesystem::path script = root / name;
    if (!writeComparisonScript(script, subdivisions)) {
        std::fprintf(stderr, "frame_bench: cannot write %s\n", script.c_str());
        return false;
    }
    char arguments[96];
    std::snprintf(arguments, sizeof arguments, "--size 1024x768 --n %d --frames %d", subdivisions,
                  comparisonSettings.peerFrames);
    std::printf("\nstatic detail %d:\n", subdivisions);
    double ours[MAX_RUNS], theirs[MAX_RUNS], ratios[MAX_RUNS];
    const int pairs = comparisonSettings.pairs;
    for (int r = 0; r < pairs; ++r) {
        const StatisticsLine line = runProgramOnce(root, script);
        ours[r] = line.fps;
        if (ours[r] < 0.0) return false;
        if (ours[r] == 0.0) {
            // The statistics line gives the rate over the last whole second of frames.
            std::fprintf(stderr, "frame_bench: the program's statistics line says 0 fps: its "
                                 "%d frames took less than a second; give it more with "
                                 "--program-frames\n",
                         comparisonSettings.frames);
            return false;
        }
        const PeerRun run = runPeerOnce(peer, root / SURFACE_FILE, arguments);
        theirs[r] = run.ran ? peerFigure(run.text, "fps=") : -1.0;
        if (theirs[r] <= 0.0) {
            std::fprintf(stderr, "frame_bench: the peer failed or gave no fps= figure (exit "
                                 "status %d): %s", run.status, run.text.c_str());
            return false;
        }
        ratios[r] = ours[r] / theirs[r];
        std::printf("  pair %d: ours %8.1f fps, peer %8.1f fps, ratio %6.2fx (triangles a "
                    "frame: ours %d, peer %.0f)\n",
                    r + 1, ours[r], theirs[r], ratios[r], line.ppf,
                    peerFigure(run.text, "tris/frame="));
        std::fflush(stdout);
    }
    const double ourMedian = median(ours, pairs);
    const double peerMedian = median(theirs, pairs);
    std::printf("  median: ours %.1f fps, peer %.1f fps; median ratio ours/peer %.2fx\n",
                ourMedian, peerMedian, median(ratios, pairs));
    return true;
}

// --scene comparison: the comparison folder in a temporary place, then each detail's pairs.
// Returns the exit status: 0, or 1 when something could not be run.
int comparisonAgainstPeer() {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path home = fs::current_path();
    const fs::path root = temporaryComparisonFolder(home);
    if (root.empty()) return 1;
    if (access(peerPath(), X_OK) != 0) {
        std::printf("peer: %s not found\n", peerPath());
        explainMissingPeer();
        fs::remove_all(root, error);
        return 1;
    }
    std::printf("frame_bench --scene comparison: the program (%s) headless at 1024 x 768, %d "
                "frames a run, its statistics line at exit; the peer (mode cpu, culling, "
                "llvmpipe on 2 threads) %d frames a run; %d pairs, ours then the peer\n",
                programPath(), comparisonSettings.frames, comparisonSettings.peerFrames,
                comparisonSettings.pairs);
    bool ok = true;
    for (int i = 0; i < comparisonSettings.detailCount && ok; ++i) {
        ok = comparePairs(peerPath(), root, comparisonSettings.details[i]);
    }
    fs::remove_all(root, error);
    return ok ? 0 : 1;
}

// "6,20": the static details to compare, each 1 to TABLE_SUBDIVISIONS_MAX; false when the
// list is empty, too long or holds anything else.
bool readDetails(const char* list) {
    int count = 0;
    for (const char* at = list; *at != '\0';) {
        char* end = nullptr;
        const long n = std::strtol(at, &end, 10);
        if (end == at || n < 1 || n > TABLE_SUBDIVISIONS_MAX || count == COMPARISON_DETAILS_MAX) {
            return false;
        }
        comparisonSettings.details[count++] = static_cast<int>(n);
        at = end;
        if (*at == ',') {
            ++at;
        } else if (*at != '\0') {
            return false;
        }
    }
    comparisonSettings.detailCount = count;
    return count > 0;
}

// A scene choice by name; false when the name is none of them.
bool readSceneChoice(const char* name) {
    for (int c = 0; c < SCENE_CHOICE_COUNT; ++c) {
        if (std::strcmp(name, SCENE_CHOICE_NAME[c]) == 0) {
            sceneChoice = c;
            return true;
        }
    }
    return false;
}

// A table choice by name; false when the name is none of them.
bool readTableChoice(const char* name) {
    for (int c = 0; c < TABLE_CHOICE_COUNT; ++c) {
        if (std::strcmp(name, TABLE_CHOICE_NAME[c]) == 0) {
            tableSettings.choice = c;
            return true;
        }
    }
    return false;
}

bool readArguments(int argc, char** argv) {
    const char* fromEnvironment = std::getenv("FRAME_BENCH_TABLES");
    if (fromEnvironment != nullptr && fromEnvironment[0] != '\0' &&
        !readTableChoice(fromEnvironment)) {
        std::fprintf(stderr, "frame_bench: FRAME_BENCH_TABLES is all, only or skip, not %s\n",
                     fromEnvironment);
        return false;
    }
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--runs") == 0 && hasValue) {
            benchSettings.runs = std::clamp(std::atoi(argv[++i]), 1, MAX_RUNS);
        } else if (std::strcmp(argv[i], "--frames") == 0 && hasValue) {
            benchSettings.frames = std::max(1, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--warm") == 0 && hasValue) {
            benchSettings.warmFrames = std::max(0, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--tables") == 0 && hasValue &&
                   readTableChoice(argv[i + 1])) {
            ++i;
        } else if (std::strcmp(argv[i], "--table-runs") == 0 && hasValue) {
            tableSettings.runs = std::clamp(std::atoi(argv[++i]), 1, MAX_RUNS);
        } else if (std::strcmp(argv[i], "--table-frames") == 0 && hasValue) {
            tableSettings.frames = std::max(1, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--scene") == 0 && hasValue &&
                   readSceneChoice(argv[i + 1])) {
            ++i;
        } else if (std::strcmp(argv[i], "--pairs") == 0 && hasValue) {
            comparisonSettings.pairs = std::clamp(std::atoi(argv[++i]), 1, MAX_RUNS);
        } else if (std::strcmp(argv[i], "--program-frames") == 0 && hasValue) {
            comparisonSettings.frames = std::max(1, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--peer-frames") == 0 && hasValue) {
            comparisonSettings.peerFrames = std::max(1, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--details") == 0 && hasValue && readDetails(argv[i + 1])) {
            ++i;
        } else if (std::strcmp(argv[i], "--write-comparison") == 0 && hasValue) {
            comparisonFolderOnly = argv[++i];
        } else {
            std::fprintf(stderr,
                         "usage: frame_bench [--runs N] [--frames N] [--warm N] "
                         "[--tables all|only|skip] [--table-runs N] [--table-frames N]\n"
                         "       frame_bench --scene comparison [--pairs N] [--details 6,20] "
                         "[--program-frames N] [--peer-frames N]\n"
                         "       frame_bench --write-comparison DIR\n");
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (!readArguments(argc, argv)) return 2;
    // Named from where the benchmark was started, before it moves to the source tree.
    std::filesystem::path comparisonFolder;
    if (comparisonFolderOnly != nullptr) {
        comparisonFolder = std::filesystem::absolute(comparisonFolderOnly);
    }
    // The data files are read relative to the working directory; the source tree has them.
    if (access(SURFACE_FILE, R_OK) != 0 && chdir(VORL_SOURCE_DIR) != 0) {
        std::fprintf(stderr, "frame_bench: no %s here or in the source tree\n", SURFACE_FILE);
        return 1;
    }
    if (comparisonFolderOnly != nullptr) {
        // The comparison scene's folder for other benchmarks (bench/web_fps): data/ as the
        // program reads it.
        const std::filesystem::path home = std::filesystem::current_path();
        if (writeComparisonFolder(comparisonFolder, home)) return 0;
        std::fprintf(stderr, "frame_bench: cannot write the comparison scene in %s\n",
                     comparisonFolderOnly);
        return 1;
    }
    if (sceneChoice == SCENE_COMPARISON) return comparisonAgainstPeer();
    char size[32];
    std::snprintf(size, sizeof size, "%dx%d", OUTPUT_WIDTH, OUTPUT_HEIGHT);
    if (!startBenchProgram(size)) return 1;

    if (tableSettings.choice == TABLES_ONLY) {
        std::printf("frame_bench: scaling tables only, fixed clock %u ms/frame, vsync off, no "
                    "present hook\n", CLOCK_STEP_MS);
        comparisonScene();
        stopProgram();
        return 0;
    }
    std::printf("frame_bench: %d x %d, %d runs of %d frames (median), fixed clock %u ms/frame, "
                "vsync off, no present hook\n",
                OUTPUT_WIDTH, OUTPUT_HEIGHT, benchSettings.runs, benchSettings.frames,
                CLOCK_STEP_MS);
    std::printf("prog = the same frames with drawing calls recorded, not drawn (clear, console and swap "
                "still run); rast = frame - prog\n\n");
    const Configuration configurations[] = {
        {"default", true, 6, false, false},
        {"static 20", false, 20, false, false},
        {"forward differencing", true, 6, true, false},
    };
    printHeader();
    SizeCensus census[std::size(configurations)];
    for (std::size_t i = 0; i < std::size(configurations); ++i) {
        printMeasurement(configurations[i].name, measure(configurations[i]));
        census[i] = sizeCensus;
    }
    const double fixedFps = clearSwapFps();
    std::printf("%-22s %9s %9.1f %9.2f\n", "clear + swap only", "-", fixedFps, 1000.0 / fixedFps);
    std::printf("\nrasterizer load: surface triangles (state: bilinear, nearest mipmap, fog "
                "table, w-buffer LEQUAL, texture x iterated colour, back faces culled)\n");
    for (std::size_t i = 0; i < std::size(configurations); ++i) {
        sizeCensus = census[i];
        printCensus(configurations[i].name);
    }

    comparisonScene();

    stopProgram();
    return 0;
}
