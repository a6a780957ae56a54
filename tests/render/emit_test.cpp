// Emission and clipping: trivial accept and reject, grid cells, zig-zag polygons, the
// clipper's planes, interpolation and the dropping of vertices that are not numbers.
#include "render/emit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "recorder.h"
#include "render/surfacepass.h"
#include "render/tessellate.h"

namespace {

ScreenVertex vertexAt(float x, float y, float w = 1.0f, std::uint32_t colour = 0xFFFFFFFFu) {
    ScreenVertex v = {};
    v.x = x;
    v.y = y;
    v.w = w;
    v.q = 1.0f / w;
    v.colour = colour;
    v.flags = clipCode(v);
    return v;
}

class Emit : public ::testing::Test {
protected:
    void SetUp() override { resetRenderTestState(); }
    void TearDown() override { removeRecorder(); }
};

TEST_F(Emit, InsideCellIsOneStrip) {
    PatchRecord patch = {};
    patch.steps = 1;
    surfacePass.tessellation.grid[0] = vertexAt(10, 10);
    surfacePass.tessellation.grid[1] = vertexAt(10, 20);
    surfacePass.tessellation.grid[2] = vertexAt(20, 10);
    surfacePass.tessellation.grid[3] = vertexAt(20, 20);
    EXPECT_EQ(drawPatchGrid(patch), 2);
    ASSERT_EQ(drawCalls().size(), 1u);
    const DrawCall& call = drawCalls()[0];
    EXPECT_EQ(call.kind, DRAW_STRIP);
    ASSERT_EQ(call.address.size(), 4u);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(call.address[i], &surfacePass.tessellation.grid[i]);
}

TEST_F(Emit, PartlyOutsideCellSplitsAlongV0V3) {
    PatchRecord patch = {};
    patch.steps = 1;
    surfacePass.tessellation.grid[0] = vertexAt(10, 10);
    surfacePass.tessellation.grid[1] = vertexAt(10, 20);
    surfacePass.tessellation.grid[2] = vertexAt(20, 10);
    surfacePass.tessellation.grid[3] = vertexAt(20, 1200);   // beyond y_max
    EXPECT_EQ(drawPatchGrid(patch), 4);   // two clipped quadrilaterals
    ASSERT_EQ(countCalls(DRAW_POLYGON), 2);
    EXPECT_EQ(countCalls(DRAW_STRIP), 0);
    for (const DrawCall& call : drawCalls()) {
        // Both triangles start at V0.
        EXPECT_EQ(call.address[0], &surfacePass.tessellation.grid[0]);
        for (const ScreenVertex& v : call.vertex) EXPECT_LE(v.y, 1000.0f);
    }
}

TEST_F(Emit, WireframePartlyOutsideCellDrawsSixClippedLines) {
    renderOptions.wireframe = true;
    PatchRecord patch = {};
    patch.steps = 1;
    surfacePass.tessellation.grid[0] = vertexAt(10, 10);
    surfacePass.tessellation.grid[1] = vertexAt(10, 20);
    surfacePass.tessellation.grid[2] = vertexAt(20, 10);
    surfacePass.tessellation.grid[3] = vertexAt(-20, 20);   // beyond x_min
    EXPECT_EQ(drawPatchGrid(patch), 2);
    EXPECT_EQ(countCalls(DRAW_LINE), 6);
    for (const DrawCall& call : drawCalls()) {
        for (const ScreenVertex& v : call.vertex) EXPECT_GE(v.x, 0.0f);
    }
}

TEST_F(Emit, TriangleOutsideOneBoundIsDropped) {
    const ScreenVertex a = vertexAt(-5, 10), b = vertexAt(-1, 900), c = vertexAt(-9, 400);
    EXPECT_EQ(emitTriangle(&a, &b, &c), 0);
    EXPECT_TRUE(drawCalls().empty());
}

TEST_F(Emit, TriangleInsideIsDrawnInOrder) {
    const ScreenVertex a = vertexAt(5, 10), b = vertexAt(1, 900), c = vertexAt(9, 400);
    EXPECT_EQ(emitTriangle(&a, &b, &c), 1);
    ASSERT_EQ(drawCalls().size(), 1u);
    EXPECT_EQ(drawCalls()[0].kind, DRAW_TRIANGLE);
    EXPECT_EQ(drawCalls()[0].address, (std::vector<const void*>{&a, &b, &c}));
}

TEST_F(Emit, VertexBeyondXMinGivesFourVerticesOnThePlane) {
    const ScreenVertex a = vertexAt(-10, 100), b = vertexAt(10, 50), c = vertexAt(10, 150);
    EXPECT_EQ(emitTriangle(&a, &b, &c), 2);
    ASSERT_EQ(drawCalls().size(), 1u);
    const DrawCall& call = drawCalls()[0];
    ASSERT_EQ(call.kind, DRAW_POLYGON);
    ASSERT_EQ(call.vertex.size(), 4u);
    int onPlane = 0;
    for (const ScreenVertex& v : call.vertex) {
        EXPECT_GE(v.x, 0.0f);
        onPlane += v.x == 0.0f;
    }
    EXPECT_EQ(onPlane, 2);
}

TEST_F(Emit, NearClippingInterpolatesInEyeSpace) {
    setTestBounds(0.0f, 1000.0f, 0.0f, 1000.0f, 2.0f, 10.0f);
    // Eye-space x (screen x times w): 100 at w = 0.5 and 300 at w = 3.
    ScreenVertex a = vertexAt(200, 400, 0.5f);
    ScreenVertex b = vertexAt(100, 100, 3.0f);
    ScreenVertex c = vertexAt(150, 300, 3.0f);
    a.s0 = 8.0f;   // s = 4 at w = 0.5
    b.s0 = 4.0f / 3.0f;
    c.s0 = 4.0f / 3.0f;
    ASSERT_EQ(a.flags, CLIP_NEAR);
    EXPECT_EQ(emitTriangle(&a, &b, &c), 2);
    ASSERT_EQ(drawCalls().size(), 1u);
    const DrawCall& call = drawCalls()[0];
    // Edge a-b crosses w = 2 at t = 0.6 from a: eye x = 100 + 0.6 * 200 = 220, so screen x
    // is 110 (screen-space interpolation would give 140).
    bool found = false;
    for (const ScreenVertex& v : call.vertex) {
        if (v.w != 2.0f) continue;
        EXPECT_FLOAT_EQ(v.q, 0.5f);
        EXPECT_NEAR(v.s0, 2.0f, 1e-5f);   // s = 4 on every vertex
        if (std::fabs(v.y - 0.5f * (200.0f + 0.6f * 100.0f)) < 1e-3f) {
            EXPECT_NEAR(v.x, 110.0f, 1e-3f);
            found = true;
        }
    }
    EXPECT_TRUE(found);
    for (const ScreenVertex& v : call.vertex) EXPECT_GE(v.w, 2.0f);
}

TEST_F(Emit, PositiveZeroOnABoundStaysNegativeZeroIsOutside) {
    ScreenVertex a = vertexAt(0.0f, 100);
    const ScreenVertex b = vertexAt(100, 100), c = vertexAt(50, 1600);
    EXPECT_EQ(emitTriangle(&a, &b, &c), 2);   // only y_max cuts: a quadrilateral
    ASSERT_EQ(drawCalls().size(), 1u);
    EXPECT_EQ(drawCalls()[0].vertex.size(), 4u);
    EXPECT_EQ(drawCalls()[0].address[0], &a);

    installRecorder();
    a.x = -0.0f;
    a.flags = clipCode(a);
    EXPECT_EQ(emitTriangle(&a, &b, &c), 3);   // x_min now makes a fifth vertex
    ASSERT_EQ(drawCalls().size(), 1u);
    EXPECT_EQ(drawCalls()[0].vertex.size(), 5u);
}

TEST_F(Emit, ColourBytesInterpolateThroughPackColor) {
    const ScreenVertex white = vertexAt(0, 0, 1.0f, 0xFFFFFFFFu);
    ScreenVertex out = {};
    lerpVertex(out, 0.5f, white, white);
    EXPECT_EQ(out.colour, 0xFEFEFEFEu);
    const ScreenVertex black = vertexAt(0, 0, 1.0f, 0x00000000u);
    const ScreenVertex grey = vertexAt(0, 0, 1.0f, 0xC8C8C8C8u);   // 200 in every byte
    lerpVertex(out, 0.5f, black, grey);
    EXPECT_EQ(out.colour, 0x63636364u);   // 99 truncated above, 100 rounded in the lowest
}

TEST_F(Emit, SharedEdgeClipsToTheSamePointFromBothSides) {
    const ScreenVertex a = vertexAt(-30, 100), b = vertexAt(70, 333);
    const ScreenVertex c = vertexAt(90, 10), d = vertexAt(80, 500);
    ScreenVertex first = {}, second = {};
    ASSERT_EQ(emitTriangle(&a, &b, &c), 2);
    for (const ScreenVertex& v : drawCalls()[0].vertex) {
        if (std::fabs(v.x) < 1e-3f && v.y > 150) first = v;
    }
    installRecorder();
    ASSERT_EQ(emitTriangle(&b, &a, &d), 2);
    for (const ScreenVertex& v : drawCalls()[0].vertex) {
        if (std::fabs(v.x) < 1e-3f && v.y > 150 && v.y < 200) second = v;
    }
    EXPECT_EQ(first.x, second.x);
    EXPECT_EQ(first.y, second.y);
    EXPECT_GT(first.y, 150.0f);
}

TEST(Polygon, ZigZagOrders) {
    resetRenderTestState();
    ScreenVertex v[6];
    const ScreenVertex* p[6];
    for (int i = 0; i < 6; ++i) {
        v[i] = vertexAt(10.0f * i, 100.0f + (i % 2) * 10.0f);
        p[i] = &v[i];
    }
    const std::vector<std::vector<int>> expected[4] = {
        {{0, 1, 2}},
        {{2, 1, 3}, {0, 1, 3}},
        {{0, 1, 4}, {1, 4, 2}, {4, 2, 3}},
        {{3, 2, 4}, {0, 1, 5}, {1, 5, 2}, {5, 2, 4}},
    };
    for (int m = 3; m <= 6; ++m) {
        installRecorder();
        EXPECT_EQ(drawPolygon(m, p), m - 2);
        const auto& want = expected[m - 3];
        ASSERT_EQ(drawCalls().size(), want.size()) << m;
        for (size_t t = 0; t < want.size(); ++t) {
            for (int k = 0; k < 3; ++k) {
                EXPECT_EQ(drawCalls()[t].address[k], p[want[t][k]]) << "m " << m << " t " << t;
            }
        }
    }
    removeRecorder();
}

TEST(ClippedLine, OutsideInsideAndCrossing) {
    resetRenderTestState();
    const ScreenVertex a = vertexAt(-5, 10), b = vertexAt(-50, 900);
    EXPECT_EQ(drawClippedLine(a, b), 0);
    EXPECT_TRUE(drawCalls().empty());
    const ScreenVertex c = vertexAt(5, 10), d = vertexAt(50, 900);
    EXPECT_EQ(drawClippedLine(c, d), 1);
    ASSERT_EQ(drawCalls().size(), 1u);
    EXPECT_EQ(drawCalls()[0].address, (std::vector<const void*>{&c, &d}));
    installRecorder();
    const ScreenVertex e = vertexAt(500, 500), f = vertexAt(1500, 500);
    EXPECT_EQ(drawClippedLine(e, f), 1);
    ASSERT_EQ(drawCalls().size(), 1u);
    EXPECT_EQ(drawCalls()[0].vertex[0].x, 500.0f);
    EXPECT_EQ(drawCalls()[0].vertex[1].x, 1000.0f);
    removeRecorder();
}

TEST(ClipNan, NanVerticesNeverReachTheRasterizer) {
    resetRenderTestState();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const ScreenVertex good1 = vertexAt(100, 100), good2 = vertexAt(200, 150);
    for (int field = 0; field < 3; ++field) {
        ScreenVertex bad = vertexAt(150, 300);
        (field == 0 ? bad.x : field == 1 ? bad.y : bad.w) = nan;
        bad.flags = clipCode(bad);
        installRecorder();
        EXPECT_EQ(emitTriangle(&good1, &good2, &bad), 0) << field;
        EXPECT_EQ(drawClippedLine(good1, bad), 0) << field;
        EXPECT_TRUE(drawCalls().empty()) << field;
        // Even with a clip code that claims only one plane, the sign-bit tests are not
        // trusted with it.
        bad.flags = CLIP_X_MAX;
        EXPECT_EQ(clipTriangle(&good1, &good2, &bad), 0) << field;
        EXPECT_TRUE(drawCalls().empty()) << field;
    }
    // A vertex at w = 0 has an infinite x; undoing its divide at the near plane gives NaN.
    ScreenVertex atEye = vertexAt(150, 300, 0.0f);
    atEye.x = std::numeric_limits<float>::infinity();
    atEye.flags = clipCode(atEye);
    installRecorder();
    emitTriangle(&good1, &good2, &atEye);
    drawClippedLine(good1, atEye);
    for (const DrawCall& call : drawCalls()) {
        for (const ScreenVertex& v : call.vertex) EXPECT_TRUE(vertexFinite(v));
    }
    removeRecorder();
}

}  // namespace
