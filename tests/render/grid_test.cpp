// The grid loops' vector paths against the scalar loops: for random patches, every step count,
// both surface types, both tessellators and normals sources, every shading variant and both
// lighting styles, each path the processor runs writes the scalar path's grid bytes, border
// copies and clip codes, and draws the same triangles; and start-up's choice of path.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "geometry/cpu.h"
#include "recorder.h"
#include "render/surfacepass.h"
#include "render/tessellate.h"
#include "surface/surface.h"
#include "tests/environment.h"
#include "tests/geometry/lane_sets.h"

namespace {


// The vector paths this processor runs.
std::vector<GridLanes> vectorPathsHere() {
    const LaneSets sets = laneSetsHere();
    std::vector<GridLanes> paths;
    if (sets.runs128) paths.push_back(GRID_LANES_128);
    if (sets.runsAvx2) paths.push_back(GRID_LANES_AVX2);
    return paths;
}

// The sanitizer build runs ten times slower: there every fourth step count and fewer patches.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool SANITIZER_BUILD = true;
#else
constexpr bool SANITIZER_BUILD = false;
#endif

const char* pathName(GridLanes lanes) {
    static constexpr const char* NAMES[GRID_LANES_COUNT] = {"scalar", "128-bit", "AVX2"};
    return NAMES[lanes];
}

constexpr int MESH_SIDE = 4;
constexpr int MESH_COUNT = MESH_SIDE * MESH_SIDE;
constexpr float COORDINATE_LIMIT = 1000000.0f;  // the surface file's limit

// One patch's control values and the view it is drawn for.
struct GridCase {
    Point4 points[MESH_COUNT];
    Point4 normals[MESH_COUNT];
    Matrix4 matrix;
    LightState light;
    float sLo, tLo, sHi, tHi;
    std::string name;
};

enum CaseKind {
    CASE_ORDINARY,    // in front of the eye, some of it outside the bounds
    CASE_BEHIND,      // all behind the eye (w < 0)
    CASE_STRADDLING,  // around w = 0 and across the near bound
    CASE_ON_BOUNDS,   // x and y within rounding of the bounds, normals of zero length too
    CASE_LIMIT,       // coordinates up to the file's limit
    CASE_PROJECTIVE,  // a full projective matrix
    CASE_KIND_COUNT
};

GridCase makeCase(CaseKind kind, std::mt19937& random) {
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    GridCase c;
    c.name = "kind " + std::to_string(kind);
    // The render tests' view: screen x = (x + 500) / w, y likewise, w = 1 + z / 100.
    c.matrix = Matrix4{{1, 0, 0, 500, 0, 1, 0, 500, 0, 0, 1, 0, 0, 0, 0.01f, 1}};
    for (int k = 0; k < MESH_COUNT; ++k) {
        const float r = static_cast<float>(k / MESH_SIDE), col = static_cast<float>(k % MESH_SIDE);
        Point4& p = c.points[k];
        switch (kind) {
            case CASE_BEHIND:
                p = {400 * unit(random), 400 * unit(random), -150.0f + 45 * unit(random), 1};
                break;
            case CASE_STRADDLING:
                p = {300 * unit(random), 300 * unit(random), -100.0f + 60 * unit(random), 1};
                break;
            case CASE_ON_BOUNDS: {
                // Columns on x = -500 and x = 500 (screen 0 and 1000 at w = 1), rows on the
                // y bounds; every weighted sum lands on or within rounding of a bound.
                const float x = col < 2 ? -500.0f : 500.0f;
                const float y = r < 2 ? -500.0f : 500.0f;
                p = {x, y, 0.0f, 1};
                break;
            }
            case CASE_LIMIT:
                p = {COORDINATE_LIMIT * unit(random), COORDINATE_LIMIT * unit(random),
                     COORDINATE_LIMIT * unit(random), 1};
                break;
            default:
                p = {60 * col - 90 + 30 * unit(random), 60 * r - 90 + 30 * unit(random),
                     40 * unit(random) + 100 * (unit(random) > 0.8f ? 1.0f : 0.0f), 1};
                break;
        }
        // Normals of any length (the loops normalise them), a few of zero length.
        const bool zero = kind == CASE_ON_BOUNDS && k % 5 == 0;
        c.normals[k] =
            zero ? Point4{0, 0, 0, 0} : Point4{unit(random), unit(random), 2.0f * unit(random), 0};
        if (kind == CASE_LIMIT) {
            c.normals[k].x *= 1000.0f;
            c.normals[k].y *= 1000.0f;
            c.normals[k].z *= 1000.0f;
        }
    }
    if (kind == CASE_PROJECTIVE) {
        for (float& e : c.matrix.m) e = 2.0f * unit(random);
        c.matrix.m[3] += 500.0f;
        c.matrix.m[7] += 500.0f;
        c.matrix.m[15] += 2.0f;
    }
    // Lights and view vectors not of unit length, so the clamps at 1 are reached.
    c.light = {Point3{unit(random), unit(random), 1.5f * unit(random) + 0.5f},
               Point3{unit(random), unit(random), unit(random) + 1.0f}};
    c.sLo = 256.0f * (unit(random) + 1.0f);
    c.tLo = 256.0f * (unit(random) + 1.0f);
    c.sHi = c.sLo + 64.0f;
    c.tHi = c.tLo + 48.0f;
    return c;
}

// What one tessellation produced: the grid, the border copies, the accumulated clip code and
// the triangle count.
struct GridResult {
    std::vector<ScreenVertex> grid;
    std::vector<ScreenVertex> edges;
    std::uint32_t accumulated;
    int triangles;
};

using Tessellator = int (*)(PatchRecord&, const View&, float, float, float, float);

GridResult runCase(const GridCase& c, Tessellator tessellate, int n) {
    PatchRecord patch = {};
    patch.controlPoints = const_cast<Point4*>(c.points);
    patch.controlNormals = const_cast<Point4*>(c.normals);
    patch.width = MESH_SIDE;
    patch.lastColumn = 3;
    patch.lastRow = 3;
    patch.steps = n;
    PatchBorderStore borders;
    lendPatchBorders(patch, borders);
    View& view = testView();
    view.frameMatrix = c.matrix;
    view.light = c.light;
    // Unit 1's coordinates are written only with environment mapping: the same fill before
    // every run makes them comparable.
    std::memset(surfacePass.tessellation.grid, 0x5A, sizeof surfacePass.tessellation.grid);
    GridResult result;
    result.triangles = tessellate(patch, view, c.sLo, c.tLo, c.sHi, c.tHi);
    const int side = n + 1;
    result.grid.assign(surfacePass.tessellation.grid, surfacePass.tessellation.grid + side * side);
    for (const PatchEdge& edge : patch.edges) {
        result.edges.insert(result.edges.end(), edge.slot, edge.slot + side);
    }
    result.accumulated = transformState.accumulated;
    return result;
}

// The first record whose bytes differ, or -1.
int firstDifference(const std::vector<ScreenVertex>& a, const std::vector<ScreenVertex>& b) {
    for (std::size_t k = 0; k < a.size(); ++k) {
        if (std::memcmp(&a[k], &b[k], sizeof(ScreenVertex)) != 0) return static_cast<int>(k);
    }
    return -1;
}

std::string describe(const ScreenVertex& v) {
    char text[256];
    std::snprintf(text, sizeof text,
                  "x %a y %a w %a q %a s0 %a t0 %a s1 %a t1 %a colour %08x flags %x", v.x, v.y, v.w,
                  v.q, v.s0, v.t0, v.s1, v.t1, v.colour, v.flags);
    return text;
}

class GridLanesTest : public ::testing::Test {
protected:
    void SetUp() override {
        resetRenderTestState();
        // The comparisons draw thousands of patches: no copies of the drawing calls.
        removeRecorder();
        savedLighting = surfacePass.lightingPath;
        savedPath = surfacePass.gridPath;
        renderOptions.gapFill = GAP_FILL;  // the border copies are compared too
    }
    void TearDown() override {
        surfacePass.lightingPath = savedLighting;
        surfacePass.gridPath = savedPath;
        resetRenderTestState();
        removeRecorder();
    }
    LightingPath savedLighting{};
    GridPath savedPath{};
};

const LightingPath LIGHTING_PATHS[LIGHTING_STYLE_COUNT] = {
    {lightDiffuseSelect, lightDiffuseSpecularSelect, LIGHTING_SELECT},
    {lightDiffuseInteger, lightDiffuseSpecularInteger, LIGHTING_INTEGER},
};

}  // namespace

TEST(GridPath, StartUpChoosesTheWidestPathTheProcessorRuns) {
    const GridPath saved = surfacePass.gridPath;
    VxProcessor features = {};
    chooseGridRoutines(features);
    EXPECT_EQ(surfacePass.gridPath.lanes, GRID_LANES_SCALAR);
    EXPECT_EQ(surfacePass.gridPath.routines, nullptr);
#if defined(VORL_BUILD_128)
    features.hasSse41 = 1;
    chooseGridRoutines(features);
    EXPECT_EQ(surfacePass.gridPath.lanes, GRID_LANES_128);
    EXPECT_NE(surfacePass.gridPath.routines, nullptr);
#endif
#if defined(VORL_BUILD_AVX2)
    features.hasAvx2 = 1;
    chooseGridRoutines(features);
    EXPECT_EQ(surfacePass.gridPath.lanes, GRID_LANES_AVX2);
    EXPECT_NE(surfacePass.gridPath.routines, nullptr);
#endif
    // Back to scalar when the features are gone (VEXA_PATH=portable clears them all).
    chooseGridRoutines(VxProcessor{});
    EXPECT_EQ(surfacePass.gridPath.lanes, GRID_LANES_SCALAR);
    EXPECT_EQ(surfacePass.gridPath.routines, nullptr);
    surfacePass.gridPath = saved;
}

TEST(GridPath, PathsMissingFromTheBuildAreRefused) {
    const GridPath saved = surfacePass.gridPath;
    EXPECT_TRUE(useGridLanes(GRID_LANES_SCALAR));
#if !defined(VORL_BUILD_AVX2)
    EXPECT_FALSE(useGridLanes(GRID_LANES_AVX2));
    EXPECT_EQ(surfacePass.gridPath.lanes, GRID_LANES_SCALAR);
#endif
    EXPECT_FALSE(useGridLanes(GRID_LANES_COUNT));
    EXPECT_EQ(surfacePass.gridPath.lanes, GRID_LANES_SCALAR);
    surfacePass.gridPath = saved;
}

// The whole matrix of options on every vector path the processor runs, against the scalar
// loops, byte for byte.
TEST_F(GridLanesTest, EveryPathWritesTheScalarBytes) {
    const std::vector<GridLanes> paths = vectorPathsHere();
    if (paths.empty()) GTEST_SKIP() << "no vector path runs on this processor";
    std::mt19937 random(20240611);
    const int casesPerKind = SANITIZER_BUILD ? 1 : 3;
    int compared = 0;
    for (int kind = 0; kind < CASE_KIND_COUNT; ++kind) {
        for (int repeat = 0; repeat < casesPerKind; ++repeat) {
            const GridCase c = makeCase(static_cast<CaseKind>(kind), random);
            for (int style = 0; style < LIGHTING_STYLE_COUNT; ++style) {
                surfacePass.lightingPath = LIGHTING_PATHS[style];
                for (int variant = 0; variant < 8; ++variant) {
                    renderOptions.specular = (variant & 1) != 0;
                    renderOptions.environmentMapping = (variant & 2) != 0;
                    renderOptions.drawNormals = (variant & 4) != 0;
                    for (int type : {SURFACE_BEZIER, SURFACE_BSPLINE}) {
                        renderOptions.surfaceType = static_cast<SurfaceType>(type);
                        for (int source = 0; source < 3; ++source) {
                            // Basis tables with control and with poly normals, forward
                            // differencing (control normals only).
                            const Tessellator tessellate =
                                source < 2 ? tessellateBasis : tessellateForward;
                            renderOptions.controlNormals = source != 1;
                            for (int n = 1; n <= GRID_MAX_STEPS; ++n) {
                                if (SANITIZER_BUILD && n % 4 != 1 && n != GRID_MAX_STEPS) continue;
                                ASSERT_TRUE(useGridLanes(GRID_LANES_SCALAR));
                                const GridResult want = runCase(c, tessellate, n);
                                for (GridLanes lanes : paths) {
                                    ASSERT_TRUE(useGridLanes(lanes));
                                    const GridResult got = runCase(c, tessellate, n);
                                    const std::string where =
                                        std::string(pathName(lanes)) + ", " + c.name + " repeat " +
                                        std::to_string(repeat) + ", style " +
                                        std::to_string(style) + ", variant " +
                                        std::to_string(variant) + ", type " + std::to_string(type) +
                                        ", source " + std::to_string(source) + ", n " +
                                        std::to_string(n);
                                    const int at = firstDifference(want.grid, got.grid);
                                    ASSERT_EQ(at, -1) << where << ": vertex " << at << "\n  scalar "
                                                      << describe(want.grid[at]) << "\n  vector "
                                                      << describe(got.grid[at]);
                                    ASSERT_EQ(firstDifference(want.edges, got.edges), -1) << where;
                                    ASSERT_EQ(want.accumulated, got.accumulated) << where;
                                    ASSERT_EQ(want.triangles, got.triangles) << where;
                                    ++compared;
                                }
                            }
                        }
                    }
                }
            }
        }
    }
    EXPECT_GT(compared, 0);
}
