// Tests of the vector and matrix helpers: products with aliased outputs, rotations, the
// viewport and perspective mappings, the colour packer's byte placement and rounding, and
// the accuracy of the fast reciprocal square root.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "geometry/vector.h"

namespace {

Matrix4 sampleA() {
    return {{1, 2, 3, 4, -5, 6, 7, 8, 9, -10, 11, 12, 0.5f, 0.25f, -2, 3}};
}

Matrix4 sampleB() {
    return {{2, 0, 1, -3, 1, 4, 0, 2, -1, 2, 3, 5, 7, 1, -2, 0.5f}};
}

// Reference product in double precision, written out independently of the routine.
Matrix4 referenceProduct(const Matrix4& a, const Matrix4& b, bool affine) {
    Matrix4 out;
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            double sum = 0.0;
            for (int k = 0; k < 4; ++k) {
                const double bk = affine && k == 3 ? (c == 3 ? 1.0 : 0.0) : b.m[4 * k + c];
                sum += static_cast<double>(a.m[4 * r + k]) * bk;
            }
            out.m[4 * r + c] = static_cast<float>(sum);
        }
    }
    if (affine) {
        out.m[12] = out.m[13] = out.m[14] = 0.0f;
        out.m[15] = 1.0f;
    }
    return out;
}

void expectMatrixNear(const Matrix4& expected, const Matrix4& actual, float tolerance) {
    for (int i = 0; i < 16; ++i) {
        EXPECT_NEAR(expected.m[i], actual.m[i], tolerance) << "element " << i;
    }
}

Point3 project(const Matrix4& m, const Point3& p) {
    Point4 h;
    transformPoint(h, m, p);
    return {h.x / h.w, h.y / h.w, h.z / h.w};
}

}  // namespace

TEST(MatrixProduct, FullProductMatchesReferenceAlsoWhenAliased) {
    const Matrix4 expected = referenceProduct(sampleA(), sampleB(), false);
    Matrix4 out;
    matMultiply(out, sampleA(), sampleB());
    expectMatrixNear(expected, out, 1e-4f);

    Matrix4 a = sampleA();
    matMultiply(a, a, sampleB());
    expectMatrixNear(expected, a, 1e-4f);

    Matrix4 b = sampleB();
    matMultiply(b, sampleA(), b);
    expectMatrixNear(expected, b, 1e-4f);

    Matrix4 square = sampleA();
    matMultiply(square, square, square);
    expectMatrixNear(referenceProduct(sampleA(), sampleA(), false), square, 1e-3f);
}

TEST(MatrixProduct, AffineProductIgnoresRowThreeAndAliases) {
    // b's row 3 is garbage on purpose: the affine product must read it as (0, 0, 0, 1).
    const Matrix4 expected = referenceProduct(sampleA(), sampleB(), true);
    Matrix4 out;
    matMultiplyAffine(out, sampleA(), sampleB());
    expectMatrixNear(expected, out, 1e-4f);

    Matrix4 a = sampleA();
    matMultiplyAffine(a, a, sampleB());
    expectMatrixNear(expected, a, 1e-4f);

    Matrix4 b = sampleB();
    matMultiplyAffine(b, sampleA(), b);
    expectMatrixNear(expected, b, 1e-4f);
}

TEST(VectorOps, CrossAndDotAlias) {
    const Point3 a0 = {1.0f, 2.0f, 3.0f};
    const Point3 b0 = {-4.0f, 5.0f, 0.5f};
    Point3 separate;
    cross(separate, a0, b0);
    EXPECT_FLOAT_EQ(2.0f * 0.5f - 3.0f * 5.0f, separate.x);
    EXPECT_FLOAT_EQ(3.0f * -4.0f - 1.0f * 0.5f, separate.y);
    EXPECT_FLOAT_EQ(1.0f * 5.0f - 2.0f * -4.0f, separate.z);
    EXPECT_NEAR(0.0f, dot(separate, a0), 1e-4f);

    Point3 a = a0;
    cross(a, a, b0);
    EXPECT_EQ(separate.x, a.x);
    EXPECT_EQ(separate.y, a.y);
    EXPECT_EQ(separate.z, a.z);
    Point3 b = b0;
    cross(b, a0, b);
    EXPECT_EQ(separate.x, b.x);
    EXPECT_EQ(separate.y, b.y);
    EXPECT_EQ(separate.z, b.z);
}

TEST(Rotation, QuarterTurnAboutZInPlace) {
    Point3 v = {1.0f, 0.0f, 0.0f};
    rotateAboutAxis(v, v, 1.5707963f, Point3{0.0f, 0.0f, 1.0f});
    EXPECT_NEAR(0.0f, v.x, 1e-6f);
    EXPECT_NEAR(1.0f, v.y, 1e-6f);
    EXPECT_NEAR(0.0f, v.z, 1e-6f);

    Matrix4 m;
    matRotate(m, 1.5707963f, 0.0f, 0.0f, 1.0f);
    Point4 p;
    transformAffine(p, m, Point3{1.0f, 0.0f, 0.0f});
    EXPECT_NEAR(0.0f, p.x, 1e-6f);
    EXPECT_NEAR(1.0f, p.y, 1e-6f);
}

TEST(Rotation, AxisRotationAndMatrixAgreeOnAnArbitraryAxis) {
    Point3 axis = {1.0f, -2.0f, 0.5f};
    normalize(axis);
    const Point3 v = {0.3f, 0.7f, -1.1f};
    for (float angle = -3.0f; angle <= 3.0f; angle += 0.37f) {
        Point3 turned;
        rotateAboutAxis(turned, v, angle, axis);
        Matrix4 m;
        matRotate(m, angle, axis.x, axis.y, axis.z);
        Point4 p;
        transformAffine(p, m, v);
        EXPECT_NEAR(p.x, turned.x, 1e-5f) << angle;
        EXPECT_NEAR(p.y, turned.y, 1e-5f) << angle;
        EXPECT_NEAR(p.z, turned.z, 1e-5f) << angle;
        EXPECT_NEAR(dot(v, v), dot(turned, turned), 1e-5f);
        EXPECT_NEAR(dot(v, axis), dot(turned, axis), 1e-5f);
    }
}

TEST(Projection, ViewportMapsTheCubeCornersToThePixelRectangle) {
    Matrix4 m;
    matViewport(m, 0.0f, 640.0f, 0.0f, 480.0f, 1.0f, 65535.0f);
    Point4 p;
    transformAffine(p, m, Point3{-1.0f, 1.0f, -1.0f});
    EXPECT_FLOAT_EQ(0.0f, p.x);
    EXPECT_FLOAT_EQ(0.0f, p.y);
    EXPECT_FLOAT_EQ(1.0f, p.z);
    transformAffine(p, m, Point3{1.0f, -1.0f, 1.0f});
    EXPECT_FLOAT_EQ(640.0f, p.x);
    EXPECT_FLOAT_EQ(480.0f, p.y);
    EXPECT_FLOAT_EQ(65535.0f, p.z);

    // An offset rectangle (the right half of a multi-view screen).
    matViewport(m, 320.0f, 640.0f, 100.0f, 300.0f, 1.0f, 65535.0f);
    transformAffine(p, m, Point3{0.0f, 0.0f, 0.0f});
    EXPECT_FLOAT_EQ(480.0f, p.x);
    EXPECT_FLOAT_EQ(200.0f, p.y);
}

TEST(Projection, PerspectiveMapsTheFrustumEdgesToTheUnitCube) {
    Matrix4 m;
    const float fovy = 1.0471979f;  // 60 degrees
    const float aspect = 640.0f / 480.0f;
    matPerspective(m, fovy, aspect, 1.0f, 1000.0f);
    const float slope = std::tan(fovy * 0.5f);
    const float depth = 7.0f;
    Point4 h;
    transformPoint(h, m, Point3{0.0f, slope * depth, -depth});
    EXPECT_FLOAT_EQ(depth, h.w);  // w is the distance in front of the eye
    EXPECT_NEAR(1.0f, h.y / h.w, 1e-6f);
    Point3 p = project(m, Point3{slope * aspect * depth, 0.0f, -depth});
    EXPECT_NEAR(1.0f, p.x, 1e-6f);
    p = project(m, Point3{0.0f, 0.0f, -1.0f});
    EXPECT_NEAR(-1.0f, p.z, 1e-6f);
    p = project(m, Point3{0.0f, 0.0f, -1000.0f});
    EXPECT_NEAR(1.0f, p.z, 1e-4f);
}

TEST(PackColor, EndsAndBytePlacement) {
    EXPECT_EQ(0xFFFFFFFFu, packColor(1.0f, 1.0f, 1.0f, 1.0f));
    EXPECT_EQ(0x00000000u, packColor(0.0f, 0.0f, 0.0f, 0.0f));
    EXPECT_EQ(0xFF000000u, packColor(1.0f, 0.0f, 0.0f, 0.0f));
    EXPECT_EQ(0x00FF0000u, packColor(0.0f, 1.0f, 0.0f, 0.0f));
    EXPECT_EQ(0x0000FF00u, packColor(0.0f, 0.0f, 1.0f, 0.0f));
    EXPECT_EQ(0x000000FFu, packColor(0.0f, 0.0f, 0.0f, 1.0f));
}

TEST(PackColor, UpperChannelsTruncateLowestRounds) {
    // 0.25 * 255 = 63.75: truncated to 0x3F in the upper bytes, rounded to 0x40 in the lowest.
    EXPECT_EQ(0x3F3F3F40u, packColor(0.25f, 0.25f, 0.25f, 0.25f));
    EXPECT_EQ(0x7F000000u, packColor(0.5f, 0.0f, 0.0f, 0.0f));
    EXPECT_EQ(0x80u, packColor(0.0f, 0.0f, 0.0f, 0.5f));
    // Every level of the lowest channel rounds back to itself.
    for (int level = 0; level <= 255; ++level) {
        EXPECT_EQ(static_cast<std::uint32_t>(level),
                  packColor(0.0f, 0.0f, 0.0f, static_cast<float>(level) / 255.0f));
    }
}

TEST(InvSqrtFast, WithinTwoTenthsOfAPercentOverTheRange) {
    EXPECT_NEAR(0.5f, invSqrtFast(4.0f), 0.5f * 0.002f);
    EXPECT_NEAR(0.99831f, invSqrtFast(1.0f), 1e-5f);
    float worst = 0.0f;
    for (double x = 1e-30; x < 1e30; x *= 1.0137) {
        const float xf = static_cast<float>(x);
        const double exact = 1.0 / std::sqrt(static_cast<double>(xf));
        const double error = std::fabs(invSqrtFast(xf) - exact) / exact;
        worst = std::max(worst, static_cast<float>(error));
    }
    EXPECT_LT(worst, 0.002f);
    EXPECT_GT(worst, 0.001f);  // the approximation is really in use
}
