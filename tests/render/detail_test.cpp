// Detail selection (static and distance-based step counts, the eye at a patch centre) and
// crack filling between drawn neighbours.
#include "render/detail.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>
#include <vector>

#include "recorder.h"
#include "render/drawn.h"
#include "render/surfacepass.h"
#include "render/tessellate.h"
#include "surface/surface.h"

namespace {

// A patch whose four corner points all sit at the origin, so its centre is the origin.
struct PointPatch {
    Point4 points[16] = {};
    PatchRecord patch = {};
    PointPatch() {
        patch.controlPoints = points;
        patch.width = 4;
        patch.lastColumn = 3;
        patch.lastRow = 3;
    }
};

int stepsAtDistance(float distance) {
    PointPatch p;
    return chooseStepCount(p.patch, Point3{distance, 0.0f, 0.0f});
}

TEST(StepCount, DynamicByDistance) {
    resetRenderOptions();
    renderOptions.surfaceType = SURFACE_BSPLINE;
    EXPECT_EQ(stepsAtDistance(1.0f), 19);
    EXPECT_EQ(stepsAtDistance(2.0f), 9);
    EXPECT_EQ(stepsAtDistance(4.0f), 4);
    EXPECT_EQ(stepsAtDistance(10.0f), 1);
    EXPECT_EQ(stepsAtDistance(500.0f), 1);
    EXPECT_EQ(stepsAtDistance(0.5f), 20);
    renderOptions.surfaceType = SURFACE_BEZIER;
    EXPECT_EQ(stepsAtDistance(1.0f), 20);
    EXPECT_EQ(stepsAtDistance(4.0f), 14);
    EXPECT_EQ(stepsAtDistance(10.0f), 5);
    EXPECT_EQ(stepsAtDistance(30.0f), 1);
}

TEST(StepCount, CentreFromTheFourCorners) {
    resetRenderOptions();
    renderOptions.surfaceType = SURFACE_BSPLINE;
    PointPatch p;
    p.points[0] = {2, 0, 0, 1};
    p.points[3] = {2, 0, 0, 1};
    p.points[12] = {2, 0, 0, 1};
    p.points[15] = {2, 0, 0, 1};
    p.points[5] = {100, 100, 100, 1};   // inner points do not count
    EXPECT_EQ(chooseStepCount(p.patch, Point3{0, 0, 0}), 9);
}

TEST(StepCount, EyeAtTheCentreGetsTheFinestGrid) {
    resetRenderOptions();
    for (int type : {SURFACE_BSPLINE, SURFACE_BEZIER}) {
        renderOptions.surfaceType = static_cast<SurfaceType>(type);
        EXPECT_EQ(stepsAtDistance(0.0f), 20);
        EXPECT_EQ(stepsAtDistance(1e-20f), 20);
        EXPECT_EQ(stepsAtDistance(std::numeric_limits<float>::infinity()), 1);
        // A centre that is not a number: the cheapest grid.
        EXPECT_EQ(stepsAtDistance(std::numeric_limits<float>::quiet_NaN()), 1);
    }
}

TEST(StepCount, StaticSubdivisions) {
    resetRenderOptions();
    renderOptions.dynamicDetail = false;
    const int s[] = {1, 6, 7, 20};
    const int bezier[] = {3, 18, 20, 20};
    for (int k = 0; k < 4; ++k) {
        renderOptions.subdivisions = s[k];
        renderOptions.surfaceType = SURFACE_BSPLINE;
        EXPECT_EQ(stepsAtDistance(3.0f), s[k]);
        renderOptions.surfaceType = SURFACE_BEZIER;
        EXPECT_EQ(stepsAtDistance(3.0f), bezier[k]);
    }
}

// A b-spline surface of cols x rows patches whose borders are filled with distinct, inside
// vertices; steps are set by the test.
class Cracks : public ::testing::Test {
protected:
    void SetUp() override {
        resetRenderTestState();
        renderOptions.surfaceType = SURFACE_BSPLINE;
    }
    void TearDown() override { removeRecorder(); }

    void build(int cols, int rows) {
        points.assign((cols + 3) * (rows + 3), Point4{0, 0, 0, 1});
        patches.assign(cols * rows, nullptr);
        slots.assign(cols * rows, 0);
        surface = Surface{cols + 3, rows + 3, points.data(), points.data(), slots.data()};
        // Every patch drawn in this pass, in mesh order; a test takes one out by giving it
        // steps 0 (a record with no steps is skipped like a patch with no record).
        borders.assign(cols * rows, PatchBorderStore{});
        beginDrawnPatches(surfacePass.drawn, surface);
        for (int p = 0; p < cols * rows; ++p) {
            patches[p] = addDrawnPatch(surfacePass.drawn, surface, p);
            lendPatchBorders(*patches[p], borders[p]);
        }
        for (int p = 0; p < cols * rows; ++p) {
            for (int e = 0; e < EDGE_COUNT; ++e) {
                for (int k = 0; k < GRID_MAX_SIDE; ++k) {
                    ScreenVertex& v = patches[p]->edges[e].slot[k];
                    v = ScreenVertex{};
                    v.x = 100.0f + 10.0f * p + k;
                    v.y = 100.0f + 50.0f * e + 0.5f * k * k;
                    v.w = 1.0f;
                    v.q = 1.0f;
                }
            }
        }
    }

    std::set<const void*> drawnVertices() const {
        std::set<const void*> seen;
        for (const DrawCall& c : drawCalls()) seen.insert(c.address.begin(), c.address.end());
        return seen;
    }

    std::vector<Point4> points;
    std::vector<PatchRecord*> patches;   // the records of this pass, by patch index
    std::vector<PatchBorderStore> borders;
    std::vector<std::int32_t> slots;
    Surface surface = {};
};

TEST_F(Cracks, SmallestAndLargestFillPolygons) {
    build(2, 1);
    patches[0]->steps = 1;
    patches[1]->steps = 2;
    // Drawn from both patches: twice one triangle.
    EXPECT_EQ(fillCracks(surface), 2);
    EXPECT_EQ(countCalls(DRAW_TRIANGLE), 2);
    std::set<const void*> seen = drawnVertices();
    EXPECT_EQ(seen.size(), 3u);
    EXPECT_TRUE(seen.count(&patches[0]->edges[EDGE_LAST_U].slot[0]));
    EXPECT_TRUE(seen.count(&patches[0]->edges[EDGE_LAST_U].slot[1]));
    EXPECT_TRUE(seen.count(&patches[1]->edges[EDGE_FIRST_U].slot[1]));

    installRecorder();
    patches[0]->steps = 20;
    patches[1]->steps = 19;
    EXPECT_EQ(fillCracks(surface), 2 * 37);
    seen = drawnVertices();
    EXPECT_EQ(seen.size(), 39u);
    // The second border is used without its two end vertices.
    EXPECT_FALSE(seen.count(&patches[1]->edges[EDGE_FIRST_U].slot[0]));
    EXPECT_FALSE(seen.count(&patches[1]->edges[EDGE_FIRST_U].slot[19]));
}

TEST_F(Cracks, EachCrackDrawnTwiceIdentically) {
    build(1, 2);   // one patch column, two patch rows: the crack runs along v borders
    patches[0]->steps = 4;
    patches[1]->steps = 6;
    EXPECT_EQ(fillCracks(surface), 2 * 8);
    ASSERT_EQ(drawCalls().size(), 16u);
    for (int t = 0; t < 8; ++t) {
        EXPECT_EQ(drawCalls()[t].address, drawCalls()[t + 8].address) << t;
    }
    std::set<const void*> seen = drawnVertices();
    EXPECT_EQ(seen.size(), 10u);
    EXPECT_TRUE(seen.count(&patches[0]->edges[EDGE_LAST_V].slot[4]));
    EXPECT_TRUE(seen.count(&patches[1]->edges[EDGE_FIRST_V].slot[5]));
}

TEST_F(Cracks, UndrawnEqualAndMissingNeighboursGetNothing) {
    build(3, 3);
    for (PatchRecord* p : patches) p->steps = 5;
    patches[4]->steps = 0;   // the centre patch was not drawn
    EXPECT_EQ(fillCracks(surface), 0);
    EXPECT_TRUE(drawCalls().empty());
    patches[4]->steps = 6;   // now it differs from all four neighbours
    EXPECT_EQ(fillCracks(surface), 4 * 2 * 9);
    patches[1]->steps = 0;
    installRecorder();
    EXPECT_EQ(fillCracks(surface), 3 * 2 * 9);
}

TEST_F(Cracks, EqualCountsWithDifferentSlidesAreFilled) {
    build(3, 1);
    for (PatchRecord* p : patches) p->steps = 5;
    for (PatchRecord* p : patches) p->coarseness = 0.25f;
    // Same count and slide: the shared border is the same numbers on both sides.
    EXPECT_EQ(fillCracks(surface), 0);
    // Patch 2 slides differently from patch 1: its crack is a polygon of 2 * 5 vertices,
    // 8 triangles, drawn from both sides.
    patches[2]->coarseness = 0.5f;
    EXPECT_EQ(fillCracks(surface), 2 * 8);
    std::set<const void*> seen = drawnVertices();
    EXPECT_TRUE(seen.count(&patches[1]->edges[EDGE_LAST_U].slot[3]));
    EXPECT_TRUE(seen.count(&patches[2]->edges[EDGE_FIRST_U].slot[2]));
    EXPECT_FALSE(seen.count(&patches[0]->edges[EDGE_LAST_U].slot[2]));
}

TEST_F(Cracks, GreenModeStillDrawsAndCounts) {
    build(2, 1);
    patches[0]->steps = 3;
    patches[1]->steps = 2;
    renderOptions.gapFill = GAP_FILL_GREEN;
    EXPECT_EQ(fillCracks(surface), 2 * 3);
}

}  // namespace

namespace {

// A later pass that draws fewer patches: the slots the earlier pass left in the mesh must not
// make undrawn patches look drawn, and a neighbour drawn in a pass of another surface is not a
// neighbour.
TEST_F(Cracks, SlotsLeftByAnEarlierPassAreNotRecords) {
    build(3, 1);
    for (PatchRecord* p : patches) p->steps = 5;
    patches[1]->steps = 7;
    EXPECT_EQ(fillCracks(surface), 2 * 2 * 10);
    // The next pass draws only the middle patch, then the right one; the left patch's slot
    // (0) still names a slot in use, now holding the middle patch.
    beginDrawnPatches(surfacePass.drawn, surface);
    PatchRecord* middle = addDrawnPatch(surfacePass.drawn, surface, 1);
    middle->steps = 7;
    lendPatchBorders(*middle, borders[1]);
    EXPECT_EQ(findDrawnPatch(surfacePass.drawn, surface, 0), nullptr);
    EXPECT_EQ(findDrawnPatch(surfacePass.drawn, surface, 2), nullptr);
    EXPECT_EQ(findDrawnPatch(surfacePass.drawn, surface, 1), middle);
    EXPECT_EQ(fillCracks(surface), 0);
    PatchRecord* right = addDrawnPatch(surfacePass.drawn, surface, 2);
    right->steps = 4;
    // Drawn, but with no borders kept (no memory for them): nothing to fill against.
    EXPECT_EQ(fillCracks(surface), 0);
    lendPatchBorders(*right, borders[2]);
    installRecorder();
    EXPECT_EQ(fillCracks(surface), 2 * 9);
    // Another surface's pass: this surface has no drawn patch any more.
    std::vector<std::int32_t> otherSlots(1, 0);
    std::vector<Point4> otherPoints(16, Point4{0, 0, 0, 1});
    Surface other = {4, 4, otherPoints.data(), otherPoints.data(), otherSlots.data()};
    beginDrawnPatches(surfacePass.drawn, other);
    addDrawnPatch(surfacePass.drawn, other, 0)->steps = 3;
    EXPECT_EQ(findDrawnPatch(surfacePass.drawn, surface, 1), nullptr);
    EXPECT_EQ(fillCracks(surface), 0);
}

// Passes that draw more patches than any before grow the pool; records stay where they are.
TEST(DrawnPatches, PoolGrowsAndKeepsItsRecords) {
    const int count = 3 * DRAWN_BLOCK_SIZE + 5;
    std::vector<std::int32_t> slots(count, 0);
    std::vector<Point4> points(4 * (count + 3), Point4{0, 0, 0, 1});
    Surface surface = {count + 3, 4, points.data(), points.data(), slots.data()};
    beginDrawnPatches(surfacePass.drawn, surface);
    std::vector<PatchRecord*> records;
    for (int k = 0; k < count; ++k) {
        records.push_back(addDrawnPatch(surfacePass.drawn, surface, count - 1 - k));
        ASSERT_NE(records.back(), nullptr);
        records.back()->steps = 1 + k % GRID_MAX_STEPS;
    }
    for (int k = 0; k < count; ++k) {
        EXPECT_EQ(findDrawnPatch(surfacePass.drawn, surface, count - 1 - k), records[k]) << k;
        EXPECT_EQ(drawnPatchAt(surfacePass.drawn, k).index, count - 1 - k);
        EXPECT_EQ(records[k]->steps, 1 + k % GRID_MAX_STEPS);
        EXPECT_EQ(records[k]->controlPoints, points.data());
        EXPECT_EQ(records[k]->width, count + 3);
    }
    // Borders lent at every step count lie apart, each 4 * (steps + 1) long, also across
    // vertex blocks.
    std::set<const ScreenVertex*> lent;
    for (int k = 0; k < count; ++k) {
        ASSERT_TRUE(lendDrawnBorders(surfacePass.drawn, *records[k]));
        const int side = records[k]->steps + 1;
        for (int e = 0; e < EDGE_COUNT; ++e) {
            for (int v = 0; v < side; ++v) {
                ASSERT_TRUE(lent.insert(&records[k]->edges[e].slot[v]).second) << k;
            }
        }
    }
    EXPECT_GT(surfacePass.drawn.vertexBlockCount, 1);
    const int blocks = surfacePass.drawn.blockCount;
    const int vertexBlocks = surfacePass.drawn.vertexBlockCount;
    beginDrawnPatches(surfacePass.drawn, surface);   // a smaller pass reuses the blocks
    for (int k = 0; k < 10; ++k) {
        addDrawnPatch(surfacePass.drawn, surface, k)->steps = GRID_MAX_STEPS;
        const PatchRecord* record = findDrawnPatch(surfacePass.drawn, surface, k);
        lendDrawnBorders(surfacePass.drawn, *const_cast<PatchRecord*>(record));
    }
    EXPECT_EQ(surfacePass.drawn.blockCount, blocks);
    EXPECT_EQ(surfacePass.drawn.vertexBlockCount, vertexBlocks);
    EXPECT_EQ(surfacePass.drawn.vertexBlock, 0);
    EXPECT_EQ(surfacePass.drawn.vertexUsed, 10 * EDGE_COUNT * GRID_MAX_SIDE);
    EXPECT_EQ(findDrawnPatch(surfacePass.drawn, surface, 10), nullptr);
    releaseDrawnPatches(surfacePass.drawn);
    EXPECT_EQ(surfacePass.drawn.blockCount, 0);
    EXPECT_EQ(surfacePass.drawn.vertexBlockCount, 0);
}

}  // namespace
