// The surface pass: patch counts per type, culling by the widened view volume, texture spans
// per patch column, the tessellator switch, crack filling and the control-point markers.
#include "render/surfacepass.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "recorder.h"
#include "render/drawn.h"
#include "render/tools.h"
#include "render/tessellate.h"
#include "surface/surface.h"

namespace {

// A flat-ish mesh of width x height points ahead of the default camera (which stands at
// (0, 0, 1) in mesh units looking along +y), spanning x -1.5..1.5 and y from 10 on.
struct AheadMesh {
    std::vector<Point4> points;
    std::vector<Point4> normals;
    std::vector<PatchRecord> patches;      // standalone records, for tessellating one by one
    std::vector<std::int32_t> slots;
    Surface surface = {};

    AheadMesh(int width, int height, float y0 = 10.0f) {
        points.resize(width * height);
        normals.assign(width * height, Point4{0, 0, 1, 0});
        patches.assign((width - 3) * (height - 3), PatchRecord{});
        slots.assign((width - 3) * (height - 3), 0);
        for (int r = 0; r < height; ++r) {
            for (int c = 0; c < width; ++c) {
                points[r * width + c] = {-1.5f + 3.0f * c / (width - 1), y0 + 0.5f * r,
                                         0.1f * ((c + r) % 2), 1.0f};
            }
        }
        for (PatchRecord& p : patches) {
            p.controlPoints = points.data();
            p.controlNormals = normals.data();
            p.width = width;
        }
        surface = Surface{width, height, points.data(), normals.data(), slots.data()};
    }
};

// The step count patch `index` was drawn with in the last pass; 0 when it was not drawn.
int drawnSteps(const Surface& surface, int index) {
    const PatchRecord* record = findDrawnPatch(surfacePass.drawn, surface, index);
    return record != nullptr ? record->steps : 0;
}

class SurfacePass : public ::testing::Test {
protected:
    void SetUp() override {
        resetRenderTestState();
        renderOptions.dynamicDetail = false;
        renderOptions.subdivisions = 1;
    }
    void TearDown() override { removeRecorder(); }
};

TEST_F(SurfacePass, PatchCountsByType) {
    AheadMesh mesh(7, 7);
    renderOptions.surfaceType = SURFACE_BSPLINE;
    EXPECT_EQ(drawSurface(mesh.surface, testView(), 0, 0, 1024, 1024), 2 * 16);
    EXPECT_EQ(countCalls(DRAW_STRIP), 16);
    installRecorder();
    renderOptions.surfaceType = SURFACE_BEZIER;   // static 1 becomes 3 steps for bezier
    EXPECT_EQ(drawSurface(mesh.surface, testView(), 0, 0, 1024, 1024), 4 * 2 * 9);
    EXPECT_EQ(countCalls(DRAW_STRIP), 4 * 9);

    AheadMesh wide(8, 4);
    installRecorder();
    EXPECT_EQ(drawSurface(wide.surface, testView(), 0, 0, 1024, 1024), 2 * 2 * 9);
    ASSERT_NE(findDrawnPatch(surfacePass.drawn, wide.surface, 1), nullptr);
    EXPECT_EQ(findDrawnPatch(surfacePass.drawn, wide.surface, 1)->lastColumn, 6);
    EXPECT_EQ(drawnSteps(wide.surface, 1), 3);
    EXPECT_EQ(drawnSteps(wide.surface, 2), 0);   // no record past the bezier patches
    EXPECT_EQ(surfacePass.drawn.count, 2);
}

TEST_F(SurfacePass, TextureSpansFollowPatchColumns) {
    AheadMesh mesh(7, 4);   // b-spline: 4 patch columns, 1 patch row
    EXPECT_EQ(drawSurface(mesh.surface, testView(), 0, 0, 1024, 1024), 8);
    ASSERT_EQ(countCalls(DRAW_STRIP), 4);
    for (int i = 0; i < 4; ++i) {
        const DrawCall& cell = drawCalls()[i];
        const ScreenVertex& v0 = cell.vertex[0];   // (0, 0) of patch i
        const ScreenVertex& v3 = cell.vertex[3];   // (1, 1)
        EXPECT_NEAR(v0.s0 / v0.q, 256.0f * i, 1e-2f) << i;
        EXPECT_NEAR(v3.s0 / v3.q, 256.0f * (i + 1), 1e-2f) << i;
        EXPECT_NEAR(v0.t0 / v0.q, 0.0f, 1e-2f) << i;
        EXPECT_NEAR(v3.t0 / v3.q, 1024.0f, 1e-2f) << i;
    }
}

TEST_F(SurfacePass, MeshBehindTheCameraIsCulled) {
    AheadMesh mesh(7, 7, -20.0f);
    EXPECT_EQ(drawSurface(mesh.surface, testView(), 0, 0, 1024, 1024), 0);
    EXPECT_TRUE(drawCalls().empty());
    for (int k = 0; k < 16; ++k) {
        EXPECT_EQ(findDrawnPatch(surfacePass.drawn, mesh.surface, k), nullptr) << k;
    }
    EXPECT_EQ(surfacePass.drawn.count, 0);
    // The markers are still drawn when shown, and never counted.
    renderOptions.showControlPoints = true;
    EXPECT_EQ(drawSurface(mesh.surface, testView(), 0, 0, 1024, 1024), 0);
    EXPECT_EQ(countCalls(DRAW_LINE), 2 * 49);
}

TEST_F(SurfacePass, CornersOutsideCullEvenWhenTheMiddleBulgesIn) {
    AheadMesh mesh(4, 4);
    renderOptions.surfaceType = SURFACE_BEZIER;
    // Corners far to the left of the left plane; the inner points straight ahead.
    const int corners[4] = {0, 3, 12, 15};
    for (int k : corners) mesh.points[k].x = -100.0f;
    EXPECT_EQ(drawSurface(mesh.surface, testView(), 0, 0, 1024, 1024), 0);
    EXPECT_EQ(drawnSteps(mesh.surface, 0), 0);
    // One corner back in view: drawn.
    mesh.points[3].x = 0.0f;
    EXPECT_GT(drawSurface(mesh.surface, testView(), 0, 0, 1024, 1024), 0);
}

TEST(PatchOutsideView, OneCornerInsideEveryPlaneKeepsThePatch) {
    const Point3 planes[4] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}};
    const Point3 inside[4] = {{-1, -1, 0}, {-1, -1, 0}, {2, 0, 0}, {0, 0, 0}};
    EXPECT_FALSE(patchOutsideView(inside, planes));   // dot 0 counts as inside
    const Point3 outside[4] = {{5, -1, 0}, {1, -2, 0}, {2, -0.5f, 0}, {9, -9, 0}};
    EXPECT_TRUE(patchOutsideView(outside, planes));   // all below the third plane
}

TEST_F(SurfacePass, TessellatorSwitchAndCrackFilling) {
    AheadMesh mesh(6, 4, 1.5f);   // three b-spline patches in a row, close to the eye
    renderOptions.dynamicDetail = true;
    const int basis = drawSurface(mesh.surface, testView(), 0, 0, 1024, 1024);
    std::vector<int> steps;
    for (int i = 0; i < 3; ++i) steps.push_back(drawnSteps(mesh.surface, i));
    ASSERT_NE(steps[0], steps[1]);   // the outer patches are farther: there are cracks
    int expected = 0;
    for (int i = 0; i < 3; ++i) expected += 2 * steps[i] * steps[i];
    for (int i = 0; i + 1 < 3; ++i) {
        if (steps[i] != steps[i + 1]) expected += 2 * (steps[i] + steps[i + 1] - 2);
    }
    EXPECT_EQ(basis, expected);
    renderOptions.forwardDifferencing = true;
    EXPECT_EQ(drawSurface(mesh.surface, testView(), 0, 0, 1024, 1024), expected);
    renderOptions.gapFill = GAP_NO_FILL;
    int withoutFill = 0;
    for (int i = 0; i < 3; ++i) withoutFill += 2 * steps[i] * steps[i];
    EXPECT_EQ(drawSurface(mesh.surface, testView(), 0, 0, 1024, 1024), withoutFill);
}

TEST_F(SurfacePass, DrawSurfacesSumsEverySurface) {
    AheadMesh first(7, 4);
    AheadMesh second(4, 4);
    Surface both[2] = {first.surface, second.surface};
    const SurfaceList saved = scene.surfaces;
    scene.surfaces = SurfaceList{2, both};
    renderOptions.wavesPaused = true;   // the meshes here have no wave state
    EXPECT_EQ(drawSurfaces(testView()), 2 * 4 + 2 * 1);
    EXPECT_EQ(countCalls(DRAW_STRIP), 5);
    scene.surfaces = saved;
}

// The pass serves the inspection tools its view carries, whatever the inspection record's
// switches say: the bounds and borders of the drawn patches only for a view that asks.
TEST_F(SurfacePass, InspectionToolsComeFromTheView) {
    AheadMesh mesh(7, 7);
    resetInspection();
    inspection.crackAudit = true;
    inspection.heatMap = true;
    const int plain = drawSurface(mesh.surface, testView(), 0, 0, 1024, 1024);
    EXPECT_TRUE(inspection.bounds.empty()) << "the record's switch alone records nothing";
    testView().inspect = INSPECT_AUDIT_BOUNDS;
    EXPECT_EQ(drawSurface(mesh.surface, testView(), 0, 0, 1024, 1024), plain);
    ASSERT_EQ(inspection.bounds.size(), 16u) << "one entry a drawn patch";
    for (const PatchBounds& b : inspection.bounds) {
        EXPECT_LT(b.x0, b.x1);
        EXPECT_LT(b.y0, b.y1);
        EXPECT_EQ(b.outlineSteps, 1) << "static detail 1";
    }
    EXPECT_EQ(inspection.outline.size(), 16u * 4u);
    testView().inspect = 0;
    resetInspection();
}

TEST_F(SurfacePass, ControlPointMarkersAreTwoLinesEach) {
    AheadMesh mesh(4, 4);
    // Wide bounds so that no marker line is clipped.
    setTestBounds(0.0f, 10000.0f, 0.0f, 10000.0f, 0.5f, 10.0f);
    testView().frameMatrix = Matrix4{{1, 0, 0, 5000, 0, 1, 0, 5000, 0, 0, 1, 0, 0, 0, 0.01f, 1}};
    renderOptions.showControlPoints = true;
    const int triangles = drawSurface(mesh.surface, testView(), 0, 0, 1024, 1024);
    installRecorder();
    drawControlPoints(mesh.surface, testView(), scene.surfaces.picked);
    EXPECT_EQ(countCalls(DRAW_LINE), 2 * 16);
    EXPECT_GT(triangles, 0);
    // A marker's half-size is 500 q pixels around its point.
    const DrawCall& first = drawCalls()[0];
    const float r = 0.5f * (first.vertex[0].x - first.vertex[1].x);
    EXPECT_NEAR(r, 500.0f * first.vertex[0].q, 1e-2f);
}

// Meshes at the reader's coordinate limit, seen through the program's real projection: every
// grid vertex (what the clip codes read) and every vertex handed to the rasterizer is finite,
// for both surface types, both tessellators, both normal sources and specular on and off.
TEST_F(SurfacePass, MeshesAtTheCoordinateLimitGiveOnlyFiniteVertices) {
    Matrix4 viewport, projection, view, scale;
    matViewport(viewport, 0.0f, 1024.0f, 0.0f, 768.0f, 1.0f, 65535.0f);
    matPerspective(projection, 1.0471979f, 4.0f / 3.0f, 1.0f, 1000.0f);
    buildViewMatrix(CAMERA_DEFAULT, view);
    matScale(scale, 20.0f, 20.0f, 10.0f);
    matMultiply(testView().frameMatrix, viewport, projection);
    matMultiply(testView().frameMatrix, testView().frameMatrix, view);
    matMultiply(testView().frameMatrix, testView().frameMatrix, scale);
    setTestBounds(0.0f, 1024.0f, 0.0f, 768.0f, 1.0f, 1000.0f);

    std::mt19937 random(77);
    std::uniform_real_distribution<float> coordinate(-SURFACE_MAX_COORDINATE,
                                                     SURFACE_MAX_COORDINATE);
    for (int trial = 0; trial < 6; ++trial) {
        AheadMesh mesh(7, 7);
        for (Point4& p : mesh.points) {
            p = {coordinate(random), coordinate(random), coordinate(random), 1.0f};
            // Some points at the exact limit, some near the eye.
            if (random() % 5 == 0) p.x = (random() & 1) ? SURFACE_MAX_COORDINATE : 0.5f;
        }
        Surface& surface = mesh.surface;
        computeControlNormals(surface);
        for (int flags = 0; flags < 16; ++flags) {
            renderOptions.surfaceType = (flags & 1) ? SURFACE_BEZIER : SURFACE_BSPLINE;
            renderOptions.forwardDifferencing = (flags & 2) != 0;
            renderOptions.controlNormals = (flags & 4) == 0;
            renderOptions.specular = (flags & 8) != 0;
            renderOptions.subdivisions = 3;
            installRecorder();
            drawSurface(surface, testView(), 0, 0, 1024, 1024);
            for (const DrawCall& call : drawCalls()) {
                for (const ScreenVertex& v : call.vertex) {
                    ASSERT_TRUE(vertexFinite(v)) << "trial " << trial << " flags " << flags;
                }
            }
            // Every patch tessellated on its own: the whole grid, drawn or not, is finite.
            for (PatchRecord& patch : mesh.patches) {
                patch.lastColumn = 3;
                patch.lastRow = 3;
                patch.steps = 3;
                if (renderOptions.forwardDifferencing) {
                    tessellateForward(patch, testView(), 0, 0, 256, 256);
                } else {
                    tessellateBasis(patch, testView(), 0, 0, 256, 256);
                }
                for (int i = 0; i < 16; ++i) {
                    const ScreenVertex& v = surfacePass.tessellation.grid[i];
                    ASSERT_TRUE(std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.w))
                        << "trial " << trial << " flags " << flags;
                }
            }
        }
    }
}

}  // namespace
