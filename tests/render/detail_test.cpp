// Detail selection (static and distance-based step counts, the eye at a patch centre) and
// crack filling between drawn neighbours.
#include "render/detail.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>
#include <vector>

#include "recorder.h"
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
        patches.assign(cols * rows, PatchRecord{});
        surface = Surface{cols + 3, rows + 3, points.data(), points.data(), patches.data()};
        for (int p = 0; p < cols * rows; ++p) {
            for (int e = 0; e < EDGE_COUNT; ++e) {
                for (int k = 0; k < GRID_MAX_SIDE; ++k) {
                    ScreenVertex& v = patches[p].edges[e].slot[k];
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
    std::vector<PatchRecord> patches;
    Surface surface = {};
};

TEST_F(Cracks, SmallestAndLargestFillPolygons) {
    build(2, 1);
    patches[0].steps = 1;
    patches[1].steps = 2;
    // Drawn from both patches: twice one triangle.
    EXPECT_EQ(fillCracks(surface), 2);
    EXPECT_EQ(countCalls(DRAW_TRIANGLE), 2);
    std::set<const void*> seen = drawnVertices();
    EXPECT_EQ(seen.size(), 3u);
    EXPECT_TRUE(seen.count(&patches[0].edges[EDGE_LAST_U].slot[0]));
    EXPECT_TRUE(seen.count(&patches[0].edges[EDGE_LAST_U].slot[1]));
    EXPECT_TRUE(seen.count(&patches[1].edges[EDGE_FIRST_U].slot[1]));

    installRecorder();
    patches[0].steps = 20;
    patches[1].steps = 19;
    EXPECT_EQ(fillCracks(surface), 2 * 37);
    seen = drawnVertices();
    EXPECT_EQ(seen.size(), 39u);
    // The second border is used without its two end vertices.
    EXPECT_FALSE(seen.count(&patches[1].edges[EDGE_FIRST_U].slot[0]));
    EXPECT_FALSE(seen.count(&patches[1].edges[EDGE_FIRST_U].slot[19]));
}

TEST_F(Cracks, EachCrackDrawnTwiceIdentically) {
    build(1, 2);   // one patch column, two patch rows: the crack runs along v borders
    patches[0].steps = 4;
    patches[1].steps = 6;
    EXPECT_EQ(fillCracks(surface), 2 * 8);
    ASSERT_EQ(drawCalls().size(), 16u);
    for (int t = 0; t < 8; ++t) {
        EXPECT_EQ(drawCalls()[t].address, drawCalls()[t + 8].address) << t;
    }
    std::set<const void*> seen = drawnVertices();
    EXPECT_EQ(seen.size(), 10u);
    EXPECT_TRUE(seen.count(&patches[0].edges[EDGE_LAST_V].slot[4]));
    EXPECT_TRUE(seen.count(&patches[1].edges[EDGE_FIRST_V].slot[5]));
}

TEST_F(Cracks, UndrawnEqualAndMissingNeighboursGetNothing) {
    build(3, 3);
    for (PatchRecord& p : patches) p.steps = 5;
    patches[4].steps = 0;   // the centre patch was not drawn
    EXPECT_EQ(fillCracks(surface), 0);
    EXPECT_TRUE(drawCalls().empty());
    patches[4].steps = 6;   // now it differs from all four neighbours
    EXPECT_EQ(fillCracks(surface), 4 * 2 * 9);
    patches[1].steps = 0;
    installRecorder();
    EXPECT_EQ(fillCracks(surface), 3 * 2 * 9);
}

TEST_F(Cracks, GreenModeStillDrawsAndCounts) {
    build(2, 1);
    patches[0].steps = 3;
    patches[1].steps = 2;
    renderOptions.gapFill = GAP_FILL_GREEN;
    EXPECT_EQ(fillCracks(surface), 2 * 3);
}

}  // namespace
