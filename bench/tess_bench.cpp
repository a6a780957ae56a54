// Tessellation throughput: patches and vertices per second of tessellateBasis (both normal
// sources) and tessellateForward at 6 and 20 steps for both surface types, on every path of
// the grid loops the processor runs (scalar, 128-bit, AVX2; VEXA_PATH=portable leaves the scalar
// one), then with the specular and environment-mapping variant on the path start-up chooses.
// The rasterizer is not started, so it draws nothing and the figures are the program's own
// per-vertex work: weights, normals, lighting, transform, texture coordinates, colour
// packing, edge copies.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <initializer_list>

#include "geometry/camera.h"
#include "geometry/transform.h"
#include "render/emit.h"
#include "render/lighting.h"
#include "render/options.h"
#include "render/surfacepass.h"
#include "render/tessellate.h"
#include "render/view.h"
#include "surface/surface.h"

namespace {

Point4 meshPoints[16];
Point4 meshNormals[16];

void buildMesh(PatchRecord& patch) {
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            meshPoints[r * 4 + c] = {30.0f * c - 45.0f, 30.0f * r - 45.0f,
                                     5.0f * std::sin(1.3f * c + 0.7f * r), 1.0f};
            Point3 n = {0.2f * c - 0.3f, 0.1f * r - 0.15f, 1.0f};
            normalize(n);
            meshNormals[r * 4 + c] = {n.x, n.y, n.z, 0.0f};
        }
    }
    patch = PatchRecord{};
    patch.controlPoints = meshPoints;
    patch.controlNormals = meshNormals;
    patch.width = 4;
    patch.lastColumn = 3;
    patch.lastRow = 3;
}

// The view the patches are drawn for: easy to invert, the whole patch inside.
View view;

// Runs the tessellator for about a fifth of a second; returns patches per second.
double measure(int (*tessellate)(PatchRecord&, const View&, float, float, float, float),
               PatchRecord& patch) {
    using Clock = std::chrono::steady_clock;
    long patches = 0;
    long sink = 0;
    const auto start = Clock::now();
    double elapsed = 0.0;
    do {
        for (int i = 0; i < 256; ++i) sink += tessellate(patch, view, 0.0f, 0.0f, 256.0f, 256.0f);
        patches += 256;
        elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    } while (elapsed < 0.2);
    if (sink < 0) std::printf("impossible\n");
    return static_cast<double>(patches) / elapsed;
}

constexpr const char* PATH_NAME[GRID_LANES_COUNT] = {"scalar", "128-bit", "avx2"};

// One table of both surface types, step counts and tessellators on the path in use.
void measureTable(PatchRecord& patch, const char* variant) {
    const char* path = PATH_NAME[surfacePass.gridPath.lanes];
    for (int type : {SURFACE_BSPLINE, SURFACE_BEZIER}) {
        renderOptions.surfaceType = static_cast<SurfaceType>(type);
        const char* typeName = type == SURFACE_BEZIER ? "bezier" : "b-spline";
        for (int n : {6, 20}) {
            patch.steps = n;
            const double vertices = static_cast<double>((n + 1) * (n + 1));
            for (bool control : {true, false}) {
                renderOptions.controlNormals = control;
                const double rate = measure(tessellateBasis, patch);
                std::printf("%-8s %-13s %-10s %-8s %-8s %5d %14.0f %14.0f\n", path, variant,
                            "basis", typeName, control ? "control" : "poly", n, rate,
                            rate * vertices);
            }
            renderOptions.controlNormals = true;
            const double rate = measure(tessellateForward, patch);
            std::printf("%-8s %-13s %-10s %-8s %-8s %5d %14.0f %14.0f\n", path, variant,
                        "forward", typeName, "control", n, rate, rate * vertices);
        }
    }
}

}  // namespace

int main() {
    VxProcessor cpu;
    vxQueryProcessor(&cpu);
    chooseLightingRoutines(cpu);
    resetRenderOptions();
    setClipBounds(view.clip, 0.0f, 1000.0f, 0.0f, 1000.0f, 0.5f, 10.0f);
    useClipBounds(view.clip);
    view.frameMatrix = Matrix4{{1, 0, 0, 500, 0, 1, 0, 500, 0, 0, 1, 0, 0, 0, 0.01f, 1}};
    view.light = {Point3{1, 1, 1}, Point3{0, 0, 1}};

    PatchRecord patch;
    buildMesh(patch);
    std::printf("%-8s %-13s %-10s %-8s %-8s %5s %14s %14s\n", "path", "variant", "tessellator",
                "type", "normals", "n", "patches/s", "vertices/s");
    // The paths this processor runs, narrowest first; start-up's choice is the last.
    const bool runs[GRID_LANES_COUNT] = {true, cpu.hasSse41 || cpu.hasSimd128 != 0,
                                         cpu.hasAvx2 != 0};
    for (int lanes = 0; lanes < GRID_LANES_COUNT; ++lanes) {
        if (runs[lanes] && useGridLanes(static_cast<GridLanes>(lanes))) {
            measureTable(patch, "plain");
        }
    }
    chooseGridRoutines(cpu);
    renderOptions.specular = true;
    renderOptions.environmentMapping = true;
    measureTable(patch, "specular+env");
    return 0;
}
