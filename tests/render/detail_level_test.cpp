// The fractional detail rules: the screen rule's error bound against sampled error on random
// patches, its shading level from the patch's screen area and the normals' curvature, the sliding grid's ends (the coarser even grid, then exactly the finer one), its
// continuity across whole levels, and the smooth rule keeping the distance rule's counts.
#include "render/detail.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "render/options.h"
#include "render/tessellate.h"
#include "surface/surface.h"

namespace {

struct Random {
    std::uint32_t state;
    float unit() {   // 0 .. 1
        state = state * 1664525u + 1013904223u;
        return static_cast<float>(state >> 8) / 16777216.0f;
    }
    float between(float lo, float hi) { return lo + (hi - lo) * unit(); }
};

struct OnePatch {
    Point4 points[16] = {};
    PatchRecord patch = {};
    OnePatch() {
        patch.controlPoints = points;
        patch.width = 4;
        patch.lastColumn = 3;
        patch.lastRow = 3;
    }
};

// The surface at (u, v) through the tessellators' own weights.
Point3 evaluate(const OnePatch& p, float u, float v, int type) {
    BasisTable wu, wv;
    const float pu[2] = {u, 1.0f};
    const float pv[2] = {v, 1.0f};
    buildBasisTableAt(wu, pu, 1, type);
    buildBasisTableAt(wv, pv, 1, type);
    Point3 s = {0, 0, 0};
    for (int a = 0; a < 4; ++a) {
        for (int b = 0; b < 4; ++b) {
            const float w = wu.row[0][a] * wv.row[0][b];
            s.x += w * p.points[a * 4 + b].x;
            s.y += w * p.points[a * 4 + b].y;
            s.z += w * p.points[a * 4 + b].z;
        }
    }
    return s;
}

// A view from the origin along +z: x and y in pixels about (400, 300) of an 800 x 600 frame,
// focal length 500 pixels, w = z.
constexpr float FOCAL = 500.0f;
Matrix4 lookAlongZ() {
    return Matrix4{{FOCAL, 0, 400, 0, 0, FOCAL, 300, 0, 0, 0, 1, 0, 0, 0, 1, 0}};
}
ClipBounds frameBounds() {
    ClipBounds c = {};
    c.xMin = 0;
    c.xMax = 800;
    c.yMin = 0;
    c.yMax = 600;
    c.wNear = 1;
    c.wFar = 1000;
    return c;
}
float screenDistance(const Point3& a, const Point3& b) {
    const float ax = 400 + FOCAL * a.x / a.z, ay = 300 + FOCAL * a.y / a.z;
    const float bx = 400 + FOCAL * b.x / b.z, by = 300 + FOCAL * b.y / b.z;
    return std::hypot(ax - bx, ay - by);
}

// The largest screen distance between the patch and the triangles of its grid at the sliding
// parameters (both diagonals of every cell), sampled inside each triangle.
float sampledScreenError(const OnePatch& p, int steps, float coarseness, int type) {
    float params[GRID_MAX_SIDE];
    buildSlidingParameters(params, steps, coarseness);
    std::vector<Point3> grid((steps + 1) * (steps + 1));
    for (int i = 0; i <= steps; ++i) {
        for (int j = 0; j <= steps; ++j) grid[i * (steps + 1) + j] = evaluate(p, params[i], params[j], type);
    }
    float worst = 0.0f;
    constexpr int SAMPLES = 6;
    for (int i = 0; i < steps; ++i) {
        for (int j = 0; j < steps; ++j) {
            const Point3& c00 = grid[i * (steps + 1) + j];
            const Point3& c01 = grid[i * (steps + 1) + j + 1];
            const Point3& c10 = grid[(i + 1) * (steps + 1) + j];
            const Point3& c11 = grid[(i + 1) * (steps + 1) + j + 1];
            for (int a = 0; a <= SAMPLES; ++a) {
                for (int b = 0; b <= SAMPLES; ++b) {
                    const float x = static_cast<float>(a) / SAMPLES;   // along u
                    const float y = static_cast<float>(b) / SAMPLES;   // along v
                    const float u = params[i] + x * (params[i + 1] - params[i]);
                    const float v = params[j] + y * (params[j + 1] - params[j]);
                    const Point3 s = evaluate(p, u, v, type);
                    // Diagonal c00-c11: the triangle below or above it; then diagonal c10-c01.
                    Point3 l1, l2;
                    if (x >= y) {
                        l1 = {c00.x + x * (c10.x - c00.x) + y * (c11.x - c10.x),
                              c00.y + x * (c10.y - c00.y) + y * (c11.y - c10.y),
                              c00.z + x * (c10.z - c00.z) + y * (c11.z - c10.z)};
                    } else {
                        l1 = {c00.x + y * (c01.x - c00.x) + x * (c11.x - c01.x),
                              c00.y + y * (c01.y - c00.y) + x * (c11.y - c01.y),
                              c00.z + y * (c01.z - c00.z) + x * (c11.z - c01.z)};
                    }
                    if (x + y <= 1.0f) {
                        l2 = {c00.x + x * (c10.x - c00.x) + y * (c01.x - c00.x),
                              c00.y + x * (c10.y - c00.y) + y * (c01.y - c00.y),
                              c00.z + x * (c10.z - c00.z) + y * (c01.z - c00.z)};
                    } else {
                        l2 = {c11.x + (1 - x) * (c01.x - c11.x) + (1 - y) * (c10.x - c11.x),
                              c11.y + (1 - x) * (c01.y - c11.y) + (1 - y) * (c10.y - c11.y),
                              c11.z + (1 - x) * (c01.z - c11.z) + (1 - y) * (c10.z - c11.z)};
                    }
                    worst = std::fmax(worst, screenDistance(s, l1));
                    worst = std::fmax(worst, screenDistance(s, l2));
                }
            }
        }
    }
    return worst;
}

void randomPatch(OnePatch& p, Random& r) {
    const float z = r.between(4.0f, 60.0f);
    const float size = r.between(0.5f, 8.0f);
    const float bump = r.between(0.0f, 1.5f) * size;
    const float x0 = r.between(-0.5f, 0.5f) * z;
    const float y0 = r.between(-0.4f, 0.4f) * z;
    for (int a = 0; a < 4; ++a) {
        for (int b = 0; b < 4; ++b) {
            p.points[a * 4 + b] = {x0 + size * a / 3.0f + r.between(-0.3f, 0.3f) * bump,
                                   y0 + size * b / 3.0f + r.between(-0.3f, 0.3f) * bump,
                                   z + r.between(-1.0f, 1.0f) * bump, 1.0f};
        }
    }
}

TEST(ScreenRule, SampledErrorNeverAboveTheTolerance) {
    resetRenderOptions();
    renderOptions.detailRule = DETAIL_SCREEN;
    DetailScale scale;
    buildDetailScale(scale, lookAlongZ(), frameBounds());
    Random r{7};
    int measured = 0;
    int morphed = 0;
    for (int type : {SURFACE_BSPLINE, SURFACE_BEZIER}) {
        renderOptions.surfaceType = static_cast<SurfaceType>(type);
        for (float tolerance : {0.5f, 1.0f, 4.0f}) {
            renderOptions.screenTolerance = tolerance;
            for (int k = 0; k < 120; ++k) {
                OnePatch p;
                randomPatch(p, r);
                const float level = chooseDetailLevel(p.patch, Point3{0, 0, 0}, scale);
                ASSERT_GE(level, 1.0f);
                ASSERT_LE(level, 20.0f);
                if (level >= 20.0f) continue;   // capped: the bound no longer applies
                setDetailLevel(p.patch, level);
                const float error = sampledScreenError(p, p.patch.steps, p.patch.coarseness, type);
                EXPECT_LE(error, tolerance) << "type " << type << " patch " << k << " level "
                                            << level;
                ++measured;
                morphed += p.patch.coarseness > 0.0f;
            }
        }
    }
    EXPECT_GT(measured, 300);
    EXPECT_GT(morphed, 200);
}

TEST(ScreenRule, FlatPatchesGetOneStepCurvedOnesMore) {
    resetRenderOptions();
    renderOptions.detailRule = DETAIL_SCREEN;
    DetailScale scale;
    buildDetailScale(scale, lookAlongZ(), frameBounds());
    OnePatch flat;
    for (int a = 0; a < 4; ++a) {
        for (int b = 0; b < 4; ++b) flat.points[a * 4 + b] = {1.0f * a, 1.0f * b, 5.0f, 1.0f};
    }
    EXPECT_EQ(chooseDetailLevel(flat.patch, Point3{0, 0, 0}, scale), 1.0f);
    OnePatch curved = flat;
    curved.patch.controlPoints = curved.points;
    curved.points[5].z = 4.0f;
    const float near = chooseDetailLevel(curved.patch, Point3{0, 0, 0}, scale);
    for (Point4& q : curved.points) q.z += 40.0f;
    const float far = chooseDetailLevel(curved.patch, Point3{0, 0, 0}, scale);
    EXPECT_GT(near, far);
    // A finer tolerance asks for more.
    renderOptions.screenTolerance = 0.25f;
    EXPECT_GT(chooseDetailLevel(curved.patch, Point3{0, 0, 0}, scale), far);
    // Points that are not numbers get the cheapest grid.
    curved.points[3].x = NAN;
    EXPECT_EQ(chooseDetailLevel(curved.patch, Point3{0, 0, 0}, scale), 1.0f);
}

// A flat square patch of side `side` at depth z facing the view, its normals straight at the
// eye except one inner one leaning by `lean`.
void flatLitPatch(OnePatch& p, Point4 normals[16], float side, float z, float lean) {
    for (int a = 0; a < 4; ++a) {
        for (int b = 0; b < 4; ++b) {
            p.points[a * 4 + b] = {side * a / 3.0f, side * b / 3.0f, z, 1.0f};
            normals[a * 4 + b] = {0.0f, 0.0f, -1.0f, 0.0f};
        }
    }
    normals[5].x = lean;
    p.patch.controlNormals = normals;
}

TEST(ScreenRule, ShadeErrorIsTheNormalsCurvatureWhateverThePatchSize) {
    OnePatch p;
    Point4 normals[16];
    flatLitPatch(p, normals, 6.0f, 10.0f, 0.0f);
    p.patch.controlNormals = nullptr;
    EXPECT_EQ(patchShadeError(p.patch, SURFACE_BSPLINE), 0.0f);   // no normals
    p.patch.controlNormals = normals;
    EXPECT_EQ(patchShadeError(p.patch, SURFACE_BSPLINE), 0.0f);   // even normals
    normals[5].x = 0.2f;   // second differences of 0.4 along rows and columns, mixed of 0.2
    const float small = patchShadeError(p.patch, SURFACE_BSPLINE);
    EXPECT_FLOAT_EQ(small, 0.125f * (0.4f + 0.4f + 2.0f * 0.2f));
    for (Point4& q : p.points) q.x *= 3.0f;   // the same light over a larger patch
    EXPECT_FLOAT_EQ(patchShadeError(p.patch, SURFACE_BSPLINE), small);
    normals[5].x = 0.4f;
    EXPECT_FLOAT_EQ(patchShadeError(p.patch, SURFACE_BSPLINE), 2.0f * small);
    // The Bezier form's derivatives are larger for the same differences.
    EXPECT_GT(patchShadeError(p.patch, SURFACE_BEZIER), 2.0f * small);
}

TEST(ScreenRule, ScreenAreaOfTheCornersQuadrilateral) {
    DetailScale scale;
    buildDetailScale(scale, lookAlongZ(), frameBounds());
    OnePatch p;
    Point4 normals[16];
    flatLitPatch(p, normals, 6.0f, 10.0f, 0.0f);
    // 6 x 6 units at depth 10 with a focal length of 500: 300 x 300 pixels.
    EXPECT_NEAR(patchScreenArea(p.patch, scale), 90000.0f, 1.0f);
    for (Point4& q : p.points) q.z = 20.0f;
    EXPECT_NEAR(patchScreenArea(p.patch, scale), 22500.0f, 0.5f);
    // Leaning away (the last row twice as deep): a trapezium with parallel sides of 150 and
    // 75 pixels, 75 pixels apart.
    for (int b = 0; b < 4; ++b) p.points[12 + b].z = 40.0f;
    EXPECT_NEAR(patchScreenArea(p.patch, scale), 0.5f * (150.0f + 75.0f) * 75.0f, 0.5f);
    // Corners behind the near plane count as at it; corners that are not numbers give NaN.
    for (Point4& q : p.points) q.z = -5.0f;
    EXPECT_NEAR(patchScreenArea(p.patch, scale), 500.0f * 6.0f * 500.0f * 6.0f, 10.0f);
    p.points[15].y = NAN;
    EXPECT_TRUE(std::isnan(patchScreenArea(p.patch, scale)));
}

TEST(ScreenRule, ShadingAsksForStepsByScreenAreaAndCurvature) {
    resetRenderOptions();
    renderOptions.detailRule = DETAIL_SCREEN;
    renderOptions.screenTolerance = 1.0f;
    DetailScale scale;
    buildDetailScale(scale, lookAlongZ(), frameBounds());
    OnePatch p;
    Point4 normals[16];
    flatLitPatch(p, normals, 6.0f, 40.0f, 0.0f);
    // Flat geometry, even light: one step, however large on the screen.
    EXPECT_EQ(chooseDetailLevel(p.patch, Point3{0, 0, 0}, scale), 1.0f);
    normals[5].x = 0.2f;
    const float shade = patchShadeError(p.patch, SURFACE_BSPLINE);
    const float area = patchScreenArea(p.patch, scale);
    const float at40 = chooseDetailLevel(p.patch, Point3{0, 0, 0}, scale);
    EXPECT_NEAR(at40, std::sqrt(std::sqrt(area * shade)), 1e-3f);
    // Half as far: four times the area, the root of two times the level.
    for (Point4& q : p.points) q.z = 20.0f;
    EXPECT_NEAR(chooseDetailLevel(p.patch, Point3{0, 0, 0}, scale), std::sqrt(2.0f) * at40, 1e-3f);
    // Four times the tolerance: half the level.
    renderOptions.screenTolerance = 4.0f;
    EXPECT_NEAR(chooseDetailLevel(p.patch, Point3{0, 0, 0}, scale), 0.5f * std::sqrt(2.0f) * at40,
                1e-3f);
    // Sixteen times the light's curvature: twice the level.
    normals[5].x = 3.2f;
    EXPECT_NEAR(chooseDetailLevel(p.patch, Point3{0, 0, 0}, scale), std::sqrt(2.0f) * at40, 1e-3f);
    // Curved geometry with even light still gets the geometric bound's level.
    normals[5].x = 0.0f;
    p.points[5].z -= 1.0f;
    EXPECT_GT(chooseDetailLevel(p.patch, Point3{0, 0, 0}, scale), 1.0f);
}

TEST(SlidingGrid, EvenAtWholeLevelsAndTheCoarserGridAtTheOtherEnd) {
    for (int n = 1; n <= GRID_MAX_STEPS; ++n) {
        float p[GRID_MAX_SIDE];
        buildSlidingParameters(p, n, 0.0f);
        for (int type : {SURFACE_BSPLINE, SURFACE_BEZIER}) {
            BasisTable even, at;
            DerivativeTable evenD, atD;
            buildBasisTable(even, n, type);
            buildBasisTableAt(at, p, n, type);
            buildDerivativeTable(evenD, n, type);
            buildDerivativeTableAt(atD, p, n, type);
            EXPECT_EQ(std::memcmp(even.row, at.row, sizeof(float) * 4 * (n + 1)), 0) << n;
            EXPECT_EQ(std::memcmp(evenD.row, atD.row, sizeof(float) * 4 * (n + 1)), 0) << n;
        }
        if (n < 2) continue;
        // Almost fully coarse: the middle step has closed and the others are those of n - 1.
        buildSlidingParameters(p, n, 0.99999f);
        int closed = 0;
        for (int i = 0, k = 0; i < n; ++i) {
            if (p[i + 1] - p[i] < 1e-4f) {
                ++closed;
                continue;
            }
            ++k;
            EXPECT_NEAR(p[i + 1], static_cast<float>(k) / static_cast<float>(n - 1), 1e-4f);
        }
        EXPECT_EQ(closed, 1) << n;
        EXPECT_EQ(p[0], 0.0f);
        EXPECT_EQ(p[n], 1.0f);
    }
}

TEST(SlidingGrid, LevelsSlideWithoutAJump) {
    // Just below and just above every whole level: every vertex of the finer grid lies on one
    // of the coarser grid's, and the parameters rise as the level does.
    for (int whole = 1; whole < GRID_MAX_STEPS; ++whole) {
        OnePatch below, above;
        setDetailLevel(below.patch, static_cast<float>(whole));
        setDetailLevel(above.patch, static_cast<float>(whole) + 1e-5f);
        EXPECT_EQ(below.patch.steps, whole);
        EXPECT_EQ(below.patch.coarseness, 0.0f);
        EXPECT_EQ(above.patch.steps, whole + 1);
        float pb[GRID_MAX_SIDE], pa[GRID_MAX_SIDE];
        buildSlidingParameters(pb, below.patch.steps, below.patch.coarseness);
        buildSlidingParameters(pa, above.patch.steps, above.patch.coarseness);
        for (int i = 0; i <= above.patch.steps; ++i) {
            float nearest = 1.0f;
            for (int k = 0; k <= below.patch.steps; ++k) {
                nearest = std::fmin(nearest, std::fabs(pa[i] - pb[k]));
            }
            EXPECT_LT(nearest, 1e-4f) << whole << " vertex " << i;
        }
    }
    // Inside a band the parameters move little for a little change of level.
    float p1[GRID_MAX_SIDE], p2[GRID_MAX_SIDE];
    OnePatch a, b;
    setDetailLevel(a.patch, 7.30f);
    setDetailLevel(b.patch, 7.31f);
    ASSERT_EQ(a.patch.steps, 8);
    ASSERT_EQ(b.patch.steps, 8);
    buildSlidingParameters(p1, 8, a.patch.coarseness);
    buildSlidingParameters(p2, 8, b.patch.coarseness);
    for (int i = 0; i <= 8; ++i) EXPECT_NEAR(p1[i], p2[i], 2e-3f);
}

TEST(SlidingGrid, LevelsOutsideTheRangeAreClamped) {
    OnePatch p;
    setDetailLevel(p.patch, 0.2f);
    EXPECT_EQ(p.patch.steps, 1);
    EXPECT_EQ(p.patch.coarseness, 0.0f);
    setDetailLevel(p.patch, NAN);
    EXPECT_EQ(p.patch.steps, 1);
    setDetailLevel(p.patch, 300.0f);
    EXPECT_EQ(p.patch.steps, GRID_MAX_STEPS);
    EXPECT_EQ(p.patch.coarseness, 0.0f);
    setDetailLevel(p.patch, 4.25f);
    EXPECT_EQ(p.patch.steps, 5);
    EXPECT_FLOAT_EQ(p.patch.coarseness, 0.75f);
}

TEST(SmoothRule, SameCountsAsTheDistanceRule) {
    resetRenderOptions();
    DetailScale scale = {};
    for (int type : {SURFACE_BSPLINE, SURFACE_BEZIER}) {
        renderOptions.surfaceType = static_cast<SurfaceType>(type);
        for (float d = 0.3f; d < 80.0f; d *= 1.07f) {
            OnePatch p;
            renderOptions.detailRule = DETAIL_DISTANCE;
            const int counted = chooseStepCount(p.patch, Point3{d, 0, 0});
            renderOptions.detailRule = DETAIL_SMOOTH;
            setDetailLevel(p.patch, chooseDetailLevel(p.patch, Point3{d, 0, 0}, scale));
            // Equal, except right at a whole estimate, where the sliding grid is the one below.
            EXPECT_LE(std::abs(p.patch.steps - counted), p.patch.coarseness > 0.999f ? 1 : 0)
                << "distance " << d;
            EXPECT_TRUE(p.patch.steps == counted || p.patch.steps == counted - 1) << d;
        }
    }
}

}  // namespace
