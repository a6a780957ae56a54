// Tests of the vertex pipeline: clip codes at the bounds, for -0.0, w = 0 and points behind
// the eye, the deferred completion of codes within a batch, the empty batch, and the inlined
// transform body giving transformVertex's vertices.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

#include "geometry/transform.h"

namespace {

class TransformTest : public ::testing::Test {
protected:
    void SetUp() override {
        transformState = TransformState{};
        setBounds(0.0f, 640.0f, 0.0f, 480.0f, 1.0f, 1000.0f);
    }
    void TearDown() override { transformState = TransformState{}; }
    // Makes these the bounds in use, as a view's are.
    static void setBounds(float x0, float x1, float y0, float y1, float nearW, float farW) {
        ClipBounds bounds;
        setClipBounds(bounds, x0, x1, y0, y1, nearW, farW);
        useClipBounds(bounds);
    }
};

ScreenVertex vertexAt(float x, float y, float w) {
    ScreenVertex v{};
    v.x = x;
    v.y = y;
    v.w = w;
    return v;
}

// Plain float comparisons against the bounds, valid for w >= 0.
std::uint32_t plainCode(const ScreenVertex& v) {
    std::uint32_t code = 0;
    if (v.x < transformState.clip.xMin) code |= CLIP_X_MIN;
    if (v.x > transformState.clip.xMax) code |= CLIP_X_MAX;
    if (v.y < transformState.clip.yMin) code |= CLIP_Y_MIN;
    if (v.y > transformState.clip.yMax) code |= CLIP_Y_MAX;
    if (v.w < transformState.clip.wNear) code |= CLIP_NEAR;
    if (v.w > transformState.clip.wFar) code |= CLIP_FAR;
    return code;
}

// x, y pass through and w = z: the matrix the batch tests load.
Matrix4 passThrough() {
    return {{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0}};
}

}  // namespace

TEST_F(TransformTest, ClipCodeOnTheBoundsIsClear) {
    EXPECT_EQ(0u, clipCode(vertexAt(640.0f, 480.0f, 1.0f)));
    EXPECT_EQ(0u, clipCode(vertexAt(0.0f, 0.0f, 1000.0f)));
    EXPECT_EQ(CLIP_X_MAX, clipCode(vertexAt(std::nextafter(640.0f, 1e9f), 10.0f, 5.0f)));
    EXPECT_EQ(CLIP_Y_MAX, clipCode(vertexAt(10.0f, 480.5f, 5.0f)));
    EXPECT_EQ(CLIP_NEAR, clipCode(vertexAt(10.0f, 10.0f, 0.999f)));
    EXPECT_EQ(CLIP_FAR, clipCode(vertexAt(10.0f, 10.0f, 1000.5f)));
    EXPECT_EQ(CLIP_X_MIN | CLIP_Y_MIN, clipCode(vertexAt(-0.5f, -3.0f, 5.0f)));
}

TEST_F(TransformTest, ClipCodeOfNegativeZeroIsBelowAZeroMinimum) {
    EXPECT_EQ(CLIP_X_MIN, clipCode(vertexAt(-0.0f, 10.0f, 5.0f)));
    EXPECT_EQ(CLIP_Y_MIN, clipCode(vertexAt(10.0f, -0.0f, 5.0f)));
    EXPECT_EQ(0u, clipCode(vertexAt(0.0f, 0.0f, 5.0f)));
}

TEST_F(TransformTest, ClipCodeBehindTheEyeSetsNearAndInvertsScreenBits) {
    // Inside on screen, behind the eye: all four screen bits and near.
    EXPECT_EQ(CLIP_NEAR | 0x0Fu, clipCode(vertexAt(100.0f, 100.0f, -5.0f)));
    // Beyond x max (and below y min) behind the eye: those two bits come out clear.
    EXPECT_EQ(CLIP_NEAR | CLIP_X_MIN | CLIP_Y_MAX, clipCode(vertexAt(700.0f, -4.0f, -5.0f)));
    // Far behind the eye is never beyond the far bound.
    EXPECT_EQ(CLIP_NEAR | 0x0Fu, clipCode(vertexAt(1.0f, 1.0f, -1e6f)));
    EXPECT_EQ(CLIP_NEAR | 0x0Fu, clipCode(vertexAt(1.0f, 1.0f, -0.0f)));
}

TEST_F(TransformTest, ClipCodeMatchesPlainComparesInFrontOfTheEye) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> xs(-200.0f, 900.0f);
    std::uniform_real_distribution<float> ws(0.0f, 1500.0f);
    setBounds(30.0f, 600.0f, 20.0f, 400.0f, 2.0f, 900.0f);
    for (int i = 0; i < 20000; ++i) {
        const ScreenVertex v = vertexAt(xs(random), xs(random), ws(random));
        ASSERT_EQ(plainCode(v), clipCode(v)) << v.x << " " << v.y << " " << v.w;
    }
}

TEST_F(TransformTest, BatchCompletesEachCodeOnTheNextVertexAndAtTheEnd) {
    loadTransform(passThrough());
    ScreenVertex v[3] = {};
    v[0].flags = 0x100u | CLIP_MASK;  // stale code bits must go, drawing bits must stay
    v[0].colour = 0x12345678u;
    v[0].s0 = 3.0f;
    beginVertices();
    transformVertex(v[0], Point3{3500.0f, 10.0f, 5.0f});  // x 700: beyond x max
    EXPECT_EQ(0x100u | CLIP_MASK, v[0].flags);           // not complete yet
    transformVertex(v[1], Point3{10.0f, 10.0f, 5.0f});   // inside
    EXPECT_EQ(0x100u | CLIP_X_MAX, v[0].flags);
    EXPECT_EQ(0x12345678u, v[0].colour);
    EXPECT_EQ(3.0f, v[0].s0);
    transformVertex(v[2], Point3{10.0f, 10.0f, 2000.0f});  // beyond far
    EXPECT_EQ(0u, v[1].flags);
    EXPECT_EQ(CLIP_X_MAX | CLIP_FAR, endVertices());
    EXPECT_EQ(CLIP_FAR, v[2].flags);
    // The divide: x, y in pixels, q = 1 / w.
    EXPECT_FLOAT_EQ(700.0f, v[0].x);
    EXPECT_FLOAT_EQ(0.2f, v[0].q);
    EXPECT_FLOAT_EQ(5.0f, v[0].w);
}

TEST_F(TransformTest, PointOnTheEyePlaneGetsInfiniteQAndNear) {
    loadTransform(passThrough());
    ScreenVertex v{};
    beginVertices();
    transformVertex(v, Point3{10.0f, 10.0f, 0.0f});
    const std::uint32_t code = endVertices();
    EXPECT_TRUE(std::isinf(v.q));
    EXPECT_NE(0u, v.flags & CLIP_NEAR);
    EXPECT_NE(0u, code & CLIP_NEAR);
}

TEST_F(TransformTest, EmptyBatchReturnsZeroAndWritesNothing) {
    loadTransform(passThrough());
    ScreenVertex earlier{};
    beginVertices();
    transformVertex(earlier, Point3{7000.0f, 7000.0f, 5.0f});
    EXPECT_NE(0u, endVertices());
    earlier.flags = 0xABCDu;  // a finished batch must not write into its last vertex again
    beginVertices();
    EXPECT_EQ(0u, endVertices());
    EXPECT_EQ(0u, endVertices());
    EXPECT_EQ(0xABCDu, earlier.flags);
}

// The tessellators inline the transform's body on a copy of the matrix: the same vertices and
// codes as transformVertex, bit for bit.
TEST_F(TransformTest, InlinedBodyGivesTransformVertexsVertices) {
    const Matrix4 m = {{1.5f, -2, 3, 4, 5, 6.25f, -7, 8, 9, 10, 11, 12, 0.1f, 0.2f, 0.3f, 1}};
    ScreenVertex a[3] = {}, b[3] = {};
    const Point3 points[3] = {{1, 2, 3}, {-40, 7, 0.5f}, {0, 0, -20}};
    loadTransform(m);
    beginVertices();
    for (int i = 0; i < 3; ++i) transformVertex(a[i], points[i]);
    const std::uint32_t codeA = endVertices();
    const Matrix4 copy = transformState.matrix;
    beginVertices();
    for (int i = 0; i < 3; ++i) transformVertexWith(copy.m, b[i], points[i]);
    EXPECT_EQ(codeA, endVertices());
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(a[i].x, b[i].x);
        EXPECT_EQ(a[i].y, b[i].y);
        EXPECT_EQ(a[i].q, b[i].q);
        EXPECT_EQ(a[i].flags, b[i].flags);
    }
}
