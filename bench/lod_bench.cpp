// Detail rules compared: triangles, picture error against static detail 20, frame time, crack
// audit and the largest frame-to-frame jump of the drawn surface, for the distance, smooth and
// screen rules over recorded flights (input scripts with camera motion) over the shipped scene
// and over the scale benchmark's terrain, at 800 x 600. Runs the program for the pictures and
// counts; the jumps are computed here with the program's own detail routines along a slow
// flight of its own. POSIX only (a bench of this machine). Options: --quick (fewer tolerances),
// --scene shipped|terrain (one scene), --tolerances A,B,... (the screen rule's, in pixels).
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "render/detail.h"
#include "render/options.h"
#include "render/tessellate.h"
#include "scale_run.h"
#include "surface/surface.h"

namespace {

constexpr int WIDTH = 800;
constexpr int HEIGHT = 600;
constexpr int FLIGHT_FRAMES = 48;
// Rows at the top and bottom of the frame where the console prints the statistics line: they
// differ between rules by the numbers alone and are left out of the picture error.
constexpr int TEXT_ROWS = 24;

struct Picture {
    int width = 0, height = 0;
    std::vector<unsigned char> bgr;
};

// A 24-bit uncompressed TGA as the program writes its captures; empty otherwise.
Picture readTga(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    const std::string bytes = s.str();
    Picture p;
    if (bytes.size() < 18 || bytes[2] != 2 || bytes[16] != 24) return p;
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const int w = byte(12) | byte(13) << 8;
    const int h = byte(14) | byte(15) << 8;
    if (bytes.size() != 18 + static_cast<std::size_t>(w) * h * 3) return p;
    p.width = w;
    p.height = h;
    p.bgr.assign(bytes.begin() + 18, bytes.end());
    return p;
}

// Mean absolute difference per channel over the pixels that are surface (not black) in either
// picture, the text rows left out; -1 when the sizes differ.
double surfaceError(const Picture& a, const Picture& b, long long* pixels) {
    if (a.width != b.width || a.height != b.height || a.bgr.empty()) return -1.0;
    double sum = 0.0;
    long long n = 0;
    for (int y = TEXT_ROWS; y < a.height - TEXT_ROWS; ++y) {
        for (int x = 0; x < a.width; ++x) {
            const std::size_t i = (static_cast<std::size_t>(y) * a.width + x) * 3;
            const bool surfaceA = a.bgr[i] | a.bgr[i + 1] | a.bgr[i + 2];
            const bool surfaceB = b.bgr[i] | b.bgr[i + 1] | b.bgr[i + 2];
            if (!surfaceA && !surfaceB) continue;
            for (int c = 0; c < 3; ++c) sum += std::abs(int(a.bgr[i + c]) - int(b.bgr[i + c]));
            ++n;
        }
    }
    *pixels = n;
    return n > 0 ? sum / (3.0 * static_cast<double>(n)) : 0.0;
}

// A recorded flight: fog off, forward at the given pace with the view turning slowly, and
// the capture burst of every frame started on frame 0.
std::string flightScript(int turn, bool climb) {
    std::string s = "0 key H\n0 keyup RETURN\n0 keydown UP\n";
    if (climb) s += "0 keydown SHIFT\n0 keydown DOWN\n4 keyup DOWN\n4 keyup SHIFT\n";
    for (int f = 2; f < FLIGHT_FRAMES; f += 3) {
        s += std::to_string(f) + " move " + std::to_string(WIDTH / 2 + turn) + " " +
             std::to_string(HEIGHT / 2 + (f % 2)) + "\n";
    }
    return s;
}

struct RuleRun {
    std::string name;      // as shown
    std::string options;   // the program's options for it
    std::string keys;      // keys pressed on frame 0
};

struct RunFigures {
    double triangles = 0;   // the last frame's, mean over flights
    double msPerFrame = 0;  // wall time of a run without captures, per frame
    double error = 0;       // mean over frames and flights
    bool audited = false;   // the crack audit found no gap
};

std::string runProgram(const std::string& folder, const std::string& args, double* seconds) {
    const std::string command = "cd '" + folder + "' && VEXA_DITHER=0 '" + VORL_BINARY +
                                "' --headless --fixed-clock 16 -res 800x600 " + args +
                                " 2>/dev/null";
    const auto start = std::chrono::steady_clock::now();
    FILE* pipe = popen(command.c_str(), "r");
    std::string out;
    if (pipe) {
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
        pclose(pipe);
    }
    if (seconds) {
        *seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    return out;
}

// Runs one rule over one flight in `folder` (which holds data/ and flight.txt): the captured
// frames are kept as ref<k>.tga when `keepAs` is "ref", compared with those otherwise.
void runFlight(const std::string& folder, const RuleRun& rule, bool reference, RunFigures& f,
               int flights) {
    std::ifstream in(folder + "/flight.txt");
    std::stringstream text;
    text << in.rdbuf();
    std::string keyLines;
    for (std::size_t at = 0; at < rule.keys.size();) {
        std::size_t end = rule.keys.find(' ', at);
        if (end == std::string::npos) end = rule.keys.size();
        if (end > at) keyLines += "0 key " + rule.keys.substr(at, end - at) + "\n";
        at = end + 1;
    }
    std::ofstream(folder + "/run.txt") << keyLines << text.str();
    const std::string frames = " --frames " + std::to_string(FLIGHT_FRAMES) + " --input run.txt ";
    double seconds = 0;
    const std::string timed = runProgram(folder, frames + rule.options, &seconds);
    const scale::Statistics stats = scale::lastStatistics(timed);
    f.triangles += static_cast<double>(stats.ppf) / flights;
    f.msPerFrame += 1000.0 * seconds / FLIGHT_FRAMES / flights;
    const std::string audit = runProgram(folder, frames + "--audit-cracks " + rule.options, nullptr);
    f.audited = audit.find("gaps=0 ") != std::string::npos;
    runProgram(folder, frames + "-screencapture " + std::to_string(FLIGHT_FRAMES) + " " +
                           rule.options, nullptr);
    double error = 0;
    int compared = 0;
    for (int k = 0; k < FLIGHT_FRAMES; ++k) {
        char name[32], ref[32];
        std::snprintf(name, sizeof name, "/scrn%04d.tga", k);
        std::snprintf(ref, sizeof ref, "/ref%04d.tga", k);
        if (reference) {
            std::filesystem::rename(folder + name, folder + ref);
            continue;
        }
        long long pixels = 0;
        const double e = surfaceError(readTga(folder + name), readTga(folder + ref), &pixels);
        if (e >= 0) {
            error += e;
            ++compared;
        }
    }
    if (compared > 0) f.error += error / compared / flights;
}

// ---- The jumps -------------------------------------------------------------------------------
// A slow flight of the bench's own: the eye moves `pace` world units a frame along +y at a
// fixed height, looking along +y and a little down, a perspective of 60 degrees over 800 x
// 600. Each frame every patch in front of the eye gets its grid from the rule; at fixed
// parameters inside each patch the drawn surface (the grid's triangles) strays from the true
// surface by a screen vector; the jump is how much that vector changes from one frame to the
// next, the camera's own motion taken out.
struct Camera {
    Point3 eye, right, down, ahead;
};

void frameMatrixFor(const Camera& c, const float scale[3], Matrix4& m, DetailScale& ds) {
    const float f = 300.0f / std::tan(0.5235988f);
    auto row = [&](float* out, const Point3& axis, float offset) {
        const Point3 a = {f * axis.x + offset * c.ahead.x, f * axis.y + offset * c.ahead.y,
                          f * axis.z + offset * c.ahead.z};
        out[0] = a.x * scale[0];
        out[1] = a.y * scale[1];
        out[2] = a.z * scale[2];
        out[3] = -(a.x * c.eye.x + a.y * c.eye.y + a.z * c.eye.z);
    };
    row(&m.m[0], c.right, 400.0f);
    row(&m.m[4], c.down, 300.0f);
    m.m[8] = m.m[9] = m.m[10] = m.m[11] = 0.0f;
    m.m[12] = c.ahead.x * scale[0];
    m.m[13] = c.ahead.y * scale[1];
    m.m[14] = c.ahead.z * scale[2];
    m.m[15] = -(c.ahead.x * c.eye.x + c.ahead.y * c.eye.y + c.ahead.z * c.eye.z);
    ClipBounds clip = {};
    clip.xMax = WIDTH;
    clip.yMax = HEIGHT;
    clip.wNear = 1.0f;
    clip.wFar = 1000.0f;
    buildDetailScale(ds, m, clip);
}

bool project(const Matrix4& m, const Point3& p, float& x, float& y) {
    const float w = m.m[12] * p.x + m.m[13] * p.y + m.m[14] * p.z + m.m[15];
    if (w < 1.0f) return false;
    x = (m.m[0] * p.x + m.m[1] * p.y + m.m[2] * p.z + m.m[3]) / w;
    y = (m.m[4] * p.x + m.m[5] * p.y + m.m[6] * p.z + m.m[7]) / w;
    return true;
}

Point3 evaluate(const Point4* q, int width, float u, float v) {
    BasisTable wu, wv;
    const float pu[2] = {u, 1.0f};
    const float pv[2] = {v, 1.0f};
    buildBasisTableAt(wu, pu, 1, SURFACE_BSPLINE);
    buildBasisTableAt(wv, pv, 1, SURFACE_BSPLINE);
    Point3 s = {0, 0, 0};
    for (int a = 0; a < 4; ++a) {   // rows: v
        for (int b = 0; b < 4; ++b) {
            const float w = wv.row[0][a] * wu.row[0][b];
            s.x += w * q[a * width + b].x;
            s.y += w * q[a * width + b].y;
            s.z += w * q[a * width + b].z;
        }
    }
    return s;
}

constexpr int SAMPLES = 4;
const float SAMPLE_AT[SAMPLES] = {0.11f, 0.37f, 0.63f, 0.89f};

// The drawn point at (u, v): the grid's triangles at the rule's parameters.
Point3 drawnAt(const Point4* q, int width, const PatchRecord& patch, float u, float v) {
    float p[GRID_MAX_SIDE];
    buildSlidingParameters(p, patch.steps, patch.coarseness);
    int i = 0, j = 0;
    while (i + 1 < patch.steps && p[i + 1] <= u) ++i;
    while (j + 1 < patch.steps && p[j + 1] <= v) ++j;
    const float x = (u - p[i]) / (p[i + 1] - p[i]);
    const float y = (v - p[j]) / (p[j + 1] - p[j]);
    const Point3 c00 = evaluate(q, width, p[i], p[j]);
    const Point3 c10 = evaluate(q, width, p[i + 1], p[j]);
    const Point3 c01 = evaluate(q, width, p[i], p[j + 1]);
    const Point3 c11 = evaluate(q, width, p[i + 1], p[j + 1]);
    if (x >= y) {
        return {c00.x + x * (c10.x - c00.x) + y * (c11.x - c10.x),
                c00.y + x * (c10.y - c00.y) + y * (c11.y - c10.y),
                c00.z + x * (c10.z - c00.z) + y * (c11.z - c10.z)};
    }
    return {c00.x + y * (c01.x - c00.x) + x * (c11.x - c01.x),
            c00.y + y * (c01.y - c00.y) + x * (c11.y - c01.y),
            c00.z + y * (c01.z - c00.z) + x * (c11.z - c01.z)};
}

// The largest jump in pixels over `frames` frames of the slow flight over `surface`.
double largestJump(const Surface& surface, int rule, float tolerance, int frames, float pace) {
    resetRenderOptions();
    renderOptions.surfaceType = SURFACE_BSPLINE;
    renderOptions.detailRule = rule;
    renderOptions.screenTolerance = tolerance;
    const int nx = surface.width - 3, ny = surface.height - 3;
    std::vector<float> previous(static_cast<std::size_t>(nx) * ny * SAMPLES * SAMPLES * 2, NAN);
    double worst = 0.0;
    float minX = 1e30f, maxX = -1e30f, minY = 1e30f, maxY = -1e30f;
    for (int k = 0; k < surface.width * surface.height; ++k) {
        minX = std::fmin(minX, surface.points[k].x);
        maxX = std::fmax(maxX, surface.points[k].x);
        minY = std::fmin(minY, surface.points[k].y);
        maxY = std::fmax(maxY, surface.points[k].y);
    }
    const float pitch = 0.35f;
    for (int frame = 0; frame < frames; ++frame) {
        Camera c;
        // World units: the model scale is 20, 20, 10; start over the mesh's near edge.
        c.eye = {20.0f * 0.5f * (minX + maxX), 20.0f * (minY + 0.1f * (maxY - minY)) + pace * frame,
                 12.0f};
        c.ahead = {0.0f, std::cos(pitch), -std::sin(pitch)};
        c.right = {1.0f, 0.0f, 0.0f};
        c.down = {0.0f, -std::sin(pitch), -std::cos(pitch)};
        Matrix4 m;
        DetailScale ds;
        frameMatrixFor(c, renderOptions.modelScale, m, ds);
        const Point3 eye = {c.eye.x / renderOptions.modelScale[0], c.eye.y / renderOptions.modelScale[1],
                            c.eye.z / renderOptions.modelScale[2]};
        for (int r = 0; r < ny; ++r) {
            for (int col = 0; col < nx; ++col) {
                PatchRecord patch = {};
                patch.controlPoints = surface.points;
                patch.width = surface.width;
                patch.lastColumn = col + 3;
                patch.lastRow = r + 3;
                const Point4* q = surface.points + r * surface.width + col;
                float x, y;
                if (!project(m, Point3{q[surface.width + 1].x, q[surface.width + 1].y,
                                       q[surface.width + 1].z}, x, y) ||
                    x < 0 || x > WIDTH || y < 0 || y > HEIGHT) {
                    for (int s = 0; s < SAMPLES * SAMPLES * 2; ++s) {
                        previous[(static_cast<std::size_t>(r) * nx + col) * SAMPLES * SAMPLES * 2 + s] = NAN;
                    }
                    continue;
                }
                if (rule == DETAIL_DISTANCE) {
                    patch.steps = chooseStepCount(patch, eye);
                } else {
                    setDetailLevel(patch, chooseDetailLevel(patch, eye, ds));
                }
                for (int a = 0; a < SAMPLES; ++a) {
                    for (int b = 0; b < SAMPLES; ++b) {
                        const float u = SAMPLE_AT[a], v = SAMPLE_AT[b];
                        float tx, ty, dx, dy;
                        const bool seen = project(m, evaluate(q, surface.width, u, v), tx, ty) &&
                                          project(m, drawnAt(q, surface.width, patch, u, v), dx, dy);
                        float* keep = &previous[((static_cast<std::size_t>(r) * nx + col) * SAMPLES * SAMPLES +
                                                 a * SAMPLES + b) * 2];
                        if (!seen) {
                            keep[0] = keep[1] = NAN;
                            continue;
                        }
                        const float ex = dx - tx, ey = dy - ty;
                        if (keep[0] == keep[0]) {
                            worst = std::fmax(worst, std::hypot(ex - keep[0], ey - keep[1]));
                        }
                        keep[0] = ex;
                        keep[1] = ey;
                    }
                }
            }
        }
    }
    return worst;
}

bool prepareFolder(const std::string& folder, bool terrain) {
    std::filesystem::create_directories(folder + "/data");
    const std::string source = std::string(VORL_SOURCE_DIR) + "/data/";
    for (const char* name : {"tex.tga", "env.tga", "vorl.txt"}) {
        std::filesystem::copy_file(source + name, folder + "/data/" + name,
                                   std::filesystem::copy_options::overwrite_existing);
    }
    if (terrain && scale::writeTerrain((folder + "/data/vorl.txt").c_str(), 256) < 0) return false;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    bool quick = false;
    const char* only = nullptr;
    std::vector<float> chosen;
    for (int a = 1; a < argc; ++a) {
        if (std::strcmp(argv[a], "--quick") == 0) {
            quick = true;
        } else if (std::strcmp(argv[a], "--scene") == 0 && a + 1 < argc) {
            only = argv[++a];
        } else if (std::strcmp(argv[a], "--tolerances") == 0 && a + 1 < argc) {
            for (const char* at = argv[++a]; *at != '\0';) {
                char* end = nullptr;
                const float t = std::strtof(at, &end);
                if (end == at || !(t > 0.0f)) break;
                chosen.push_back(t);
                at = *end == ',' ? end + 1 : end;
            }
        } else {
            std::fprintf(stderr, "lod_bench: unknown option %s (--quick, --scene shipped|terrain, "
                                 "--tolerances A,B,...)\n", argv[a]);
            return 1;
        }
    }
    char pattern[] = "/tmp/lod-bench-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (!made) {
        std::fprintf(stderr, "lod_bench: cannot make a scratch folder\n");
        return 1;
    }
    const std::string root = made;
    std::vector<RuleRun> rules = {{"static 20", "", "X PLUS PLUS PLUS PLUS PLUS PLUS PLUS PLUS "
                                                    "PLUS PLUS PLUS PLUS PLUS PLUS"},
                                  {"distance", "--lod distance", ""},
                                  {"smooth", "--lod smooth", ""}};
    const std::vector<float> tolerances =
        !chosen.empty() ? chosen
        : quick         ? std::vector<float>{1.0f, 2.0f}
                        : std::vector<float>{0.5f, 1.0f, 1.5f, 2.0f, 3.0f, 4.0f};
    for (float t : tolerances) {
        char option[32];
        std::snprintf(option, sizeof option, "--lod screen=%g", static_cast<double>(t));
        rules.push_back({std::string("screen ") + (option + 13) + " px", option, ""});
    }
    struct Scene {
        const char* name;
        bool terrain;
    };
    const Scene scenes[] = {{"shipped scene", false}, {"terrain 256", true}};
    std::printf("%d frames a flight at 800 x 600, two flights a scene; error: mean absolute "
                "difference from static 20 over the surface's pixels (0..255)\n",
                FLIGHT_FRAMES);
    for (const Scene& scene : scenes) {
        if (only != nullptr && std::strcmp(only, scene.terrain ? "terrain" : "shipped") != 0) {
            continue;
        }
        const std::string folder = root + "/" + (scene.terrain ? "terrain" : "shipped");
        if (!prepareFolder(folder, scene.terrain)) {
            std::fprintf(stderr, "lod_bench: cannot write the terrain in %s\n", folder.c_str());
            return 1;
        }
        std::vector<RunFigures> figures(rules.size());
        const int flights = 2;
        for (int flight = 0; flight < flights; ++flight) {
            std::ofstream(folder + "/flight.txt") << flightScript(flight == 0 ? 6 : -9, flight == 1);
            for (std::size_t r = 0; r < rules.size(); ++r) {
                runFlight(folder, rules[r], r == 0, figures[r], flights);
            }
        }
        std::fflush(stdout);
        std::printf("\n%s\n%-14s %10s %10s %10s %8s\n", scene.name, "rule", "triangles",
                    "ms/frame", "error", "audit");
        for (std::size_t r = 0; r < rules.size(); ++r) {
            const RunFigures& f = figures[r];
            std::printf("%-14s %10.0f %10.2f %10.3f %8s\n", rules[r].name.c_str(), f.triangles,
                        f.msPerFrame, r == 0 ? 0.0 : f.error, f.audited ? "0 gaps" : "GAPS");
        }
        SurfaceList list = {};
        char reason[SURFACE_REASON_MAX];
        if (!loadSurfaceFile(list, (folder + "/data/vorl.txt").c_str(), reason, sizeof reason)) {
            std::fprintf(stderr, "lod_bench: %s\n", reason);
            return 1;
        }
        // The program flies 1 world unit a frame at its starting speed; the slow flight a
        // quarter of that over the same 60 units. A pop is as large at any pace; a slide
        // moves a vertex in proportion to it.
        std::printf("largest jump of the drawn surface between frames (px), screen rule at "
                    "1 px:\n  %-10s %12s %12s\n", "rule", "0.25/frame", "1/frame");
        const int jumpRules[] = {DETAIL_DISTANCE, DETAIL_SMOOTH, DETAIL_SCREEN};
        for (int rule : jumpRules) {
            double slow = 0.0, full = 0.0;
            for (int s = 0; s < list.count; ++s) {
                if (list.surfaces[s].width < 4 || list.surfaces[s].height < 4) continue;
                slow = std::fmax(slow, largestJump(list.surfaces[s], rule, 1.0f, 240, 0.25f));
                full = std::fmax(full, largestJump(list.surfaces[s], rule, 1.0f, 60, 1.0f));
            }
            std::printf("  %-10s %12.3f %12.3f\n", detailRuleName(rule), slow, full);
        }
        std::fflush(stdout);
        releaseSurfaces(list);
    }
    std::filesystem::remove_all(root);
    return 0;
}
