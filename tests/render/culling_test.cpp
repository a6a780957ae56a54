// Culling through the bounds hierarchy: the surface pass draws exactly the patches, in the
// same order and with the same step counts, as a walk over every patch with the corner test,
// for random meshes and views, both surface types, after edits with refits, and while the
// waves move the first surface without any refit.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <utility>
#include <vector>

#include "recorder.h"
#include "render/drawn.h"
#include "render/surfacepass.h"
#include "surface/bounds.h"
#include "surface/surface.h"
#include "surface/waves.h"

namespace {

// A hilly mesh of width x height points, one unit apart around (x0, y0), with its own arrays.
struct Terrain {
    int width, height;
    std::vector<Point4> points, normals;
    std::vector<std::int32_t> slots;
    Surface surface = {};

    Terrain(int w, int h, std::mt19937& random) : width(w), height(h) {
        std::uniform_real_distribution<float> unit(0.0f, 1.0f);
        const float x0 = -0.5f * w + 20.0f * (unit(random) - 0.5f);
        const float y0 = -10.0f + 30.0f * unit(random);
        const float bump = 5.0f * unit(random);
        points.resize(static_cast<std::size_t>(w * h));
        for (int r = 0; r < h; ++r) {
            for (int c = 0; c < w; ++c) {
                points[r * w + c] = {x0 + c + 0.3f * (unit(random) - 0.5f),
                                     y0 + r + 0.3f * (unit(random) - 0.5f),
                                     bump * std::sin(0.4f * c) * std::cos(0.3f * r) +
                                         0.2f * unit(random),
                                     1.0f};
            }
        }
        normals.assign(points.size(), Point4{0, 0, 1, 0});
        slots.assign(static_cast<std::size_t>((w - 3) * (h - 3)), 0);
        surface = Surface{w, h, points.data(), normals.data(), slots.data()};
        EXPECT_TRUE(buildSurfaceBounds(surface));
    }
    ~Terrain() { freeSurfaceBounds(surface); }
    Terrain(const Terrain&) = delete;
    Terrain& operator=(const Terrain&) = delete;
};

// A camera somewhere above or beside the mesh, looking anywhere.
Camera randomCamera(std::mt19937& random) {
    std::uniform_real_distribution<float> spread(-1.0f, 1.0f);
    Point3 right = {spread(random), spread(random), spread(random)};
    normalize(right);
    Point3 up = {spread(random), spread(random), spread(random)};
    const float along = dot(up, right);
    up = {up.x - along * right.x, up.y - along * right.y, up.z - along * right.z};
    normalize(up);
    Point3 back;
    cross(back, right, up);
    Camera camera = CAMERA_DEFAULT;
    camera.right.v = right;
    camera.up.v = up;
    camera.back.v = back;
    // In world units: the model scale (20, 20, 10) turns them into mesh units.
    camera.position.v = {400.0f * spread(random), 400.0f * spread(random),
                         100.0f * spread(random) + 50.0f};
    return camera;
}

// What one pass drew: each patch's index and step count, in drawing order, and the triangles.
struct Drawn {
    std::vector<std::pair<int, int>> patches;
    int triangles;
    bool operator==(const Drawn& other) const {
        return patches == other.patches && triangles == other.triangles;
    }
};

Drawn drawOnce(Surface& surface) {
    Drawn drawn;
    installRecorder();   // keeps the recorded calls from piling up
    drawn.triangles = drawSurface(surface, testView(), 0, 0, 1024, 1024);
    for (int k = 0; k < surfacePass.drawn.count; ++k) {
        const DrawnPatch& p = drawnPatchAt(surfacePass.drawn, k);
        drawn.patches.emplace_back(p.index, p.record.steps);
    }
    return drawn;
}

// The pass with the hierarchy and the pass over every patch (the surface without bounds).
void expectSameAsEveryPatch(Surface& surface, const char* where, int trial) {
    const Drawn culled = drawOnce(surface);
    SurfaceBounds* bounds = surface.bounds;
    surface.bounds = nullptr;
    const Drawn every = drawOnce(surface);
    surface.bounds = bounds;
    ASSERT_TRUE(culled == every) << where << " trial " << trial << ": " << culled.patches.size()
                                 << " patches against " << every.patches.size();
}

class CullHierarchy : public ::testing::Test {
protected:
    void SetUp() override {
        resetRenderTestState();
        renderOptions.subdivisions = 1;
        renderOptions.dynamicDetail = true;
        renderOptions.gapFill = GAP_FILL;
        savedSurfaces = scene.surfaces;
        ASSERT_TRUE(buildSineTable(scene.waves));
    }
    void TearDown() override {
        scene.surfaces = savedSurfaces;
        clearWaveLifts(scene.waves);
        freeSineTable(scene.waves);
        removeRecorder();
    }
    SurfaceList savedSurfaces = {};
};

TEST_F(CullHierarchy, DrawsWhatTheCornerTestDrawsFromAnyView) {
    std::mt19937 random(4401);
    std::uniform_int_distribution<int> side(4, 70);
    int drawnSomewhere = 0, culledSomewhere = 0;
    for (int trial = 0; trial < 60; ++trial) {
        Terrain terrain(side(random), side(random), random);
        renderOptions.surfaceType = trial % 2 ? SURFACE_BEZIER : SURFACE_BSPLINE;
        for (int view = 0; view < 4; ++view) {
            testView().camera = randomCamera(random);
            expectSameAsEveryPatch(terrain.surface, "view", trial);
            const int nx = patchColumns(terrain.surface, renderOptions.surfaceType);
            const int ny = patchRows(terrain.surface, renderOptions.surfaceType);
            if (surfacePass.drawn.count > 0) ++drawnSomewhere;
            if (surfacePass.drawn.count < nx * ny) ++culledSomewhere;
        }
    }
    // The views both draw and cull: the comparison is not between two empty pictures.
    EXPECT_GT(drawnSomewhere, 40);
    EXPECT_GT(culledSomewhere, 40);
}

// With a far plane across the mesh, the pass draws what it draws with the far plane out of
// reach, less exactly the patches whose sixteen control points all lie beyond the far plane
// with its margin of a hundredth: a box test that took the wrong corner, or a margin on the
// wrong side, drops a patch with a point in front and fails here.
TEST_F(CullHierarchy, SkipsOnlyPatchesWhollyBeyondTheFarPlane) {
    std::mt19937 random(4402);
    std::uniform_int_distribution<int> side(8, 70);
    int skippedSomewhere = 0, keptSomewhere = 0;
    for (int trial = 0; trial < 40; ++trial) {
        Terrain terrain(side(random), side(random), random);
        renderOptions.surfaceType = trial % 2 ? SURFACE_BEZIER : SURFACE_BSPLINE;
        testView().camera = randomCamera(random);
        // Depth grows along y (and a little along x and z), so the far plane at w = 10 cuts
        // the mesh across its middle rows.
        const float wy = 0.1f + 0.3f * static_cast<float>(trial % 5) / 4.0f;
        testView().frameMatrix.m[12] = 0.01f * static_cast<float>(trial % 3 - 1);
        testView().frameMatrix.m[13] = wy;
        testView().frameMatrix.m[14] = 0.02f;
        const float middle = terrain.points[(terrain.height / 2) * terrain.width].y;
        testView().frameMatrix.m[15] = 10.0f - wy * middle;   // the far plane near mid-mesh
        testView().clip.wFar = 1e30f;
        const Drawn all = drawOnce(terrain.surface);
        testView().clip.wFar = 10.0f;
        const Drawn cut = drawOnce(terrain.surface);
        const float* w = &testView().frameMatrix.m[12];
        const float beyond = 10.0f * 1.01f;
        std::vector<std::pair<int, int>> expected;
        const int nx = patchColumns(terrain.surface, renderOptions.surfaceType);
        const int origin = renderOptions.surfaceType == SURFACE_BEZIER ? 3 : 1;
        for (const std::pair<int, int>& patch : all.patches) {
            const int c0 = origin * (patch.first % nx), r0 = origin * (patch.first / nx);
            bool wholly = true;
            for (int r = r0; r < r0 + 4; ++r) {
                for (int c = c0; c < c0 + 4; ++c) {
                    const Point4& p = terrain.points[r * terrain.width + c];
                    if (w[0] * p.x + w[1] * p.y + w[2] * p.z + w[3] <= beyond) wholly = false;
                }
            }
            if (!wholly) expected.push_back(patch);
        }
        ASSERT_EQ(cut.patches, expected) << "trial " << trial;
        if (expected.size() < all.patches.size()) ++skippedSomewhere;
        if (!expected.empty()) ++keptSomewhere;
        expectSameAsEveryPatch(terrain.surface, "far plane", trial);
    }
    testView().frameMatrix = Matrix4{{1, 0, 0, 500, 0, 1, 0, 500, 0, 0, 1, 0, 0, 0, 0.01f, 1}};
    EXPECT_GT(skippedSomewhere, 10);
    EXPECT_GT(keptSomewhere, 10);
}

TEST_F(CullHierarchy, HiddenQuartersCostOneTest) {
    std::mt19937 random(5);
    Terrain terrain(259, 259, random);   // 256 x 256 b-spline patches, 32 x 32 tiles
    renderOptions.surfaceType = SURFACE_BSPLINE;
    // Looking straight down at the mesh from far above its first corner: most of it is out.
    Camera camera = CAMERA_DEFAULT;
    camera.right.v = {1, 0, 0};
    camera.up.v = {0, 1, 0};
    camera.back.v = {0, 0, 1};
    camera.position.v = {20.0f * terrain.points[0].x, 20.0f * terrain.points[0].y, 100.0f};
    testView().camera = camera;
    surfacePass.boxesTested = surfacePass.patchesVisited = surfacePass.patchesDrawn = 0;
    expectSameAsEveryPatch(terrain.surface, "corner", 0);
    ASSERT_GT(surfacePass.drawn.count, 0);
    // The every-patch walk added all of the patches to the counts; the culled walk only what
    // it visited, a small part of the mesh, through few box tests.
    const int all = 256 * 256;
    EXPECT_LT(surfacePass.patchesVisited - all, all / 8);
    EXPECT_LT(surfacePass.boxesTested, 200);
    EXPECT_EQ(surfacePass.patchesDrawn, 2 * surfacePass.drawn.count);
}

TEST_F(CullHierarchy, EditedPointsRefitTheirBoxes) {
    std::mt19937 random(99);
    std::uniform_real_distribution<float> far(-300.0f, 300.0f);
    for (int trial = 0; trial < 20; ++trial) {
        Terrain terrain(40, 30, random);
        renderOptions.surfaceType = trial % 2 ? SURFACE_BEZIER : SURFACE_BSPLINE;
        testView().camera = randomCamera(random);
        for (int edit = 0; edit < 30; ++edit) {
            // A point thrown far away in any direction, the way a drag can take it.
            const int c = static_cast<int>(random() % 40);
            const int r = static_cast<int>(random() % 30);
            Point4& p = terrain.points[r * 40 + c];
            p = {p.x + far(random), p.y + far(random), p.z + far(random), 1.0f};
            refitSurfaceBounds(terrain.surface, c, r);
            expectSameAsEveryPatch(terrain.surface, "edit", trial * 100 + edit);
        }
    }
}

TEST_F(CullHierarchy, WavesNeedNoRefit) {
    std::mt19937 random(7);
    for (int trial = 0; trial < 8; ++trial) {
        Terrain terrain(50, 44, random);
        // A flat file, so the bounds made from it are flat, seen from just above it: the
        // patches the waves raise towards the eye or lower away from it change sides of the
        // culling planes.
        for (Point4& p : terrain.points) p.z = 0.0f;
        ASSERT_TRUE(buildSurfaceBounds(terrain.surface));
        scene.surfaces = SurfaceList{1, &terrain.surface, nullptr};
        // A few edited points ride the waves about their own rest heights.
        clearWaveLifts(scene.waves);
        for (int k = 0; k < 5; ++k) {
            ASSERT_TRUE(setWaveLift(scene.waves, static_cast<std::int32_t>(random() % (50 * 44)),
                                    40.0f * (static_cast<float>(random() % 100) / 50.0f - 1.0f)));
        }
        seedRandom(scene.waves, static_cast<std::uint32_t>(trial));
        renderOptions.surfaceType = trial % 2 ? SURFACE_BEZIER : SURFACE_BSPLINE;
        testView().camera = randomCamera(random);
        testView().camera.position.v.x = 20.0f * terrain.points[(trial * 97) % (50 * 44)].x;
        testView().camera.position.v.y = 20.0f * terrain.points[(trial * 97) % (50 * 44)].y;
        testView().camera.position.v.z = 10.0f * (1.0f + static_cast<float>(trial % 4));
        // Flat bounds from the file heights; then the waves take over for a minute.
        for (int frame = 0; frame < 40; ++frame) {
            animateWaves(scene.waves, scene.surfaces, 1500 * frame, false);
            expectSameAsEveryPatch(terrain.surface, "waves", trial * 100 + frame);
        }
    }
}

// A point the editor lowered far under the waving sea shows past the edge of the view from
// above, though the flat file's boxes put its tile out of sight: the boxes of the waving surface
// reach down to every lift.
TEST_F(CullHierarchy, LiftedPointsAreSeenWithoutARefit) {
    std::mt19937 random(11);
    Terrain terrain(48, 48, random);
    for (Point4& p : terrain.points) p.z = 0.0f;
    ASSERT_TRUE(buildSurfaceBounds(terrain.surface));
    scene.surfaces = SurfaceList{1, &terrain.surface, nullptr};
    renderOptions.surfaceType = SURFACE_BSPLINE;
    Camera camera = CAMERA_DEFAULT;   // straight down from one unit above point (20, 20)
    camera.right.v = {1, 0, 0};
    camera.up.v = {0, 1, 0};
    camera.back.v = {0, 0, 1};
    camera.position.v = {20.0f * terrain.points[20 * 48 + 20].x,
                         20.0f * terrain.points[20 * 48 + 20].y, 10.0f};
    testView().camera = camera;
    ASSERT_TRUE(setWaveLift(scene.waves, 20 * 48 + 27, -20.0f));
    animateWaves(scene.waves, scene.surfaces, 5000, false);
    expectSameAsEveryPatch(terrain.surface, "lift", 0);
    // Patch 27 of row 20 (tile 3, whose points lie four units and more away) is drawn.
    EXPECT_NE(findDrawnPatch(surfacePass.drawn, terrain.surface, 20 * 45 + 27), nullptr);
}

// Every wave height, whatever the sources, stays within the bound the culling counts on.
TEST_F(CullHierarchy, WaveHeightsStayWithinTheirBound) {
    std::mt19937 random(3);
    Terrain terrain(33, 21, random);
    scene.surfaces = SurfaceList{1, &terrain.surface, nullptr};
    float highest = 0.0f;
    for (int frame = 0; frame < 3000; ++frame) {
        animateWaves(scene.waves, scene.surfaces, 37 * frame, false);
        for (const Point4& p : terrain.points) {
            ASSERT_LE(std::fabs(p.z), WAVE_HEIGHT_BOUND) << frame;
            highest = std::fmax(highest, std::fabs(p.z));
        }
    }
    EXPECT_GT(highest, 1.0f);   // the waves did rise
}

}  // namespace
