// Whole-frame benchmark at 1024 x 768: the program started in-process by its own start-up
// (headless platform, no present hook), then runFrame() timed for the shipped scene in three
// option sets and for a single 32 x 32 comparison surface, each also with rasterOps as no-ops
// to split the frame between the program's own work and the rasterizer. Runs the peer
// benchmark on the same comparison surface when it is present (PEER_BENCH, or where the peer
// folder's build.sh puts it by default).
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
#include <unistd.h>

#include "app/frame.h"
#include "app/input.h"
#include "app/startup.h"
#include "app/viewer.h"
#include "geometry/camera.h"
#include "geometry/transform.h"
#include "platform/host.h"
#include "platform/win32.h"
#include "render/emit.h"
#include "render/options.h"
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

struct Configuration {
    const char* name;
    bool dynamicDetail;
    int subdivisions;
    bool forwardDifferencing;
    bool wavesPaused;
};

struct Measurement {
    double fullFps;        // median frames per second, real drawing
    double programFps;     // median frames per second, rasterOps as no-ops
    double trianglesPerFrame;
};

void noTriangle(const void*, const void*, const void*) {}
void noLine(const void*, const void*) {}
void noArray(int, int, const void* const*) {}

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

void countLine(const void*, const void*) {}

// Strips as the rasterizer splits them (every other triangle reversed), polygons as fans.
void countArray(int mode, int count, const void* const* v) {
    for (int i = 2; i < count; ++i) {
        if (mode == VX_TRIANGLE_STRIP) {
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

void installNoOps() {
    rasterOps.drawTriangle = noTriangle;
    rasterOps.drawLine = noLine;
    rasterOps.drawVertexArray = noArray;
}

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
    seedRandom(WAVE_SEED);
    for (WaveSource& source : waveState.sources) source = WaveSource{};
    resetCamera();
    resetSpin(dragSpin);
    resetSpin(lightSpin);
    const int cx = OUTPUT_WIDTH / 2;
    const int cy = OUTPUT_HEIGHT / 2;
    inputState.pointer = PointerState{cx, cy, cx, cy};
    SetCursorPos(cx, cy);
}

// One frame as the main loop draws it: the queue found empty (the fixed clock steps), then
// runFrame. Returns the surface triangles of the frame.
int drawFrame() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    runFrame();
    return frameStats.polygons;
}

// Frames per second of one run of benchSettings.frames; adds its mean triangles per frame to
// *triangleSum.
double timedRun(double* triangleSum) {
    restartSequence();
    long triangles = 0;
    const double start = seconds();
    for (int f = 0; f < benchSettings.frames; ++f) triangles += drawFrame();
    vxFinish();
    const double elapsed = seconds() - start;
    *triangleSum += static_cast<double>(triangles) / benchSettings.frames;
    return benchSettings.frames / elapsed;
}

Measurement measure(const Configuration& c) {
    resetRenderOptions();
    renderOptions.surfaceType = SURFACE_BSPLINE;
    renderOptions.verticalSync = false;
    renderOptions.dynamicDetail = c.dynamicDetail;
    renderOptions.subdivisions = c.subdivisions;
    renderOptions.forwardDifferencing = c.forwardDifferencing;
    renderOptions.wavesPaused = c.wavesPaused;

    restartSequence();
    for (int f = 0; f < benchSettings.warmFrames; ++f) drawFrame();
    double full[MAX_RUNS];
    double program[MAX_RUNS];
    double triangles = 0.0;
    double ignored = 0.0;
    // The modes alternate run by run, so a slow spell of the machine touches both alike.
    for (int r = 0; r < benchSettings.runs; ++r) {
        resetRasterOps();
        full[r] = timedRun(&triangles);
        installNoOps();
        program[r] = timedRun(&ignored);
    }
    // The census frame: the last frame of a run's sequence, counted instead of drawn.
    restartSequence();
    for (int f = 0; f + 1 < benchSettings.frames; ++f) drawFrame();
    sizeCensus = SizeCensus{};
    rasterOps.drawTriangle = countTriangle;
    rasterOps.drawLine = countLine;
    rasterOps.drawVertexArray = countArray;
    drawFrame();
    resetRasterOps();
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

// The program's own start-up at 1024 x 768; false with a message when it does not start.
bool startBenchProgram() {
    char name[] = "frame_bench";
    char option[] = "-res";
    char size[] = "1024x768";
    char* argv[] = {name, option, size, nullptr};
    int exitCode = 0;
    if (!startProgram(3, argv, &exitCode)) {
        std::fprintf(stderr, "frame_bench: the program does not start (exit code %d)\n",
                     exitCode);
        return false;
    }
    return true;
}

// The peer benchmark's path: PEER_BENCH when set, else the peer's default build place.
const char* peerPath() {
    const char* peer = std::getenv("PEER_BENCH");
    return (peer == nullptr || peer[0] == '\0') ? PEER_DEFAULT : peer;
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

// Runs the peer on the surface file; its fps, or a negative value when it did not report.
double runPeer(const char* peer, const std::filesystem::path& surfaceFile) {
    char command[2048];
    std::snprintf(command, sizeof command,
                  "GALLIUM_DRIVER=llvmpipe LP_NUM_THREADS=2 '%s' --mode cpu --cull --surface "
                  "'%s' --frames 300 2>&1",
                  peer, surfaceFile.c_str());
    std::FILE* pipe = popen(command, "r");
    if (pipe == nullptr) return -1.0;
    std::string text;
    char chunk[512];
    while (std::fgets(chunk, sizeof chunk, pipe) != nullptr) text += chunk;
    pclose(pipe);
    std::printf("peer: %s", text.c_str());
    // The figure is the key "fps=", at the start of the line or after a space.
    std::size_t at = text.rfind("fps=", 0);
    if (at == std::string::npos) {
        at = text.find(" fps=");
        if (at == std::string::npos) return -1.0;
        ++at;
    }
    return std::atof(text.c_str() + at + 4);
}

// The comparison scene in a temporary data folder: our frames, then the peer's.
void comparisonScene() {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path home = fs::current_path();
    char name[64];
    std::snprintf(name, sizeof name, "vorl-frame-bench-%d", static_cast<int>(getpid()));
    const fs::path root = fs::temp_directory_path() / name;
    fs::create_directories(root / "data", error);
    const bool ready = !error && writeComparisonSurface(root / SURFACE_FILE) &&
                       fs::copy_file(home / SURFACE_TEXTURE_FILE, root / SURFACE_TEXTURE_FILE,
                                     fs::copy_options::overwrite_existing, error) &&
                       fs::copy_file(home / ENVIRONMENT_TEXTURE_FILE,
                                     root / ENVIRONMENT_TEXTURE_FILE,
                                     fs::copy_options::overwrite_existing, error);
    if (!ready) {
        std::fprintf(stderr, "frame_bench: cannot write the comparison scene in %s\n",
                     root.c_str());
        fs::remove_all(root, error);
        return;
    }
    fs::current_path(root, error);
    releaseScene();
    const bool loaded = loadScene();
    fs::current_path(home, error);
    if (!loaded) {
        std::fprintf(stderr, "frame_bench: the comparison scene does not load\n");
        fs::remove_all(root, error);
        return;
    }
    const Configuration peerScene = {"comparison 32x32 s6", false, PEER_SUBDIVISIONS, false,
                                     true};
    const Measurement ours = measure(peerScene);
    std::printf("\ncomparison scene: one 32 x 32 surface, static subdivisions %d, waves paused\n",
                PEER_SUBDIVISIONS);
    printHeader();
    printMeasurement(peerScene.name, ours);
    printCensus(peerScene.name);

    const char* peer = peerPath();
    if (access(peer, X_OK) != 0) {
        std::printf("peer: %s not found; ours %.1f fps\n", peer, ours.fullFps);
    } else {
        const double peerFps = runPeer(peer, root / SURFACE_FILE);
        if (peerFps > 0.0) {
            std::printf("ours %.1f fps, peer %.1f fps, ratio %.2fx (target 3x)\n", ours.fullFps,
                        peerFps, ours.fullFps / peerFps);
        } else {
            std::printf("peer: no fps= figure in its output\n");
        }
    }
    fs::remove_all(root, error);
}

bool readArguments(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--runs") == 0 && hasValue) {
            benchSettings.runs = std::clamp(std::atoi(argv[++i]), 1, MAX_RUNS);
        } else if (std::strcmp(argv[i], "--frames") == 0 && hasValue) {
            benchSettings.frames = std::max(1, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--warm") == 0 && hasValue) {
            benchSettings.warmFrames = std::max(0, std::atoi(argv[++i]));
        } else {
            std::fprintf(stderr, "usage: frame_bench [--runs N] [--frames N] [--warm N]\n");
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (!readArguments(argc, argv)) return 2;
    // The data files are read relative to the working directory; the source tree has them.
    if (access(SURFACE_FILE, R_OK) != 0 && chdir(VORL_SOURCE_DIR) != 0) {
        std::fprintf(stderr, "frame_bench: no %s here or in the source tree\n", SURFACE_FILE);
        return 1;
    }
    if (!startBenchProgram()) return 1;

    std::printf("frame_bench: %d x %d, %d runs of %d frames (median), fixed clock %u ms/frame, "
                "vsync off, no present hook\n",
                OUTPUT_WIDTH, OUTPUT_HEIGHT, benchSettings.runs, benchSettings.frames,
                CLOCK_STEP_MS);
    std::printf("prog = the same frames with rasterOps as no-ops (clear, console and swap "
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
