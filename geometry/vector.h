// Vector and matrix helpers: Point3, Matrix4 (row-major, points as column vectors), the fast
// reciprocal square root and the colour packer. Leaf routines: no allocation, no state.
#pragma once

#include <bit>
#include <cstdint>

struct Point3 {
    float x, y, z;
};

// A homogeneous point or direction: control points carry w = 1, control normals w = 0.
struct Point4 {
    float x, y, z, w;
};

// Degrees to radians in single precision, the one conversion every angle of the program uses.
constexpr float DEGREES_TO_RADIANS = 0.0174533f;

// Element (r, c) is m[4 * r + c]; p' = M * p; a translation sits in elements 3, 7, 11.
struct Matrix4 {
    float m[16];
};

// a.x*b.x + a.y*b.y + a.z*b.z. Defined here so that the per-vertex loops inline it.
inline float dot(const Point3& a, const Point3& b) {
    return (a.x * b.x + a.y * b.y) + a.z * b.z;
}
// out = a x b; out may alias a or b. Returns out.
Point3& cross(Point3& out, const Point3& a, const Point3& b);
// v scaled to unit length with the exact square root; no guard for a zero vector.
void normalize(Point3& v);
// 1/sqrt(x) from the 0x5F3759DF estimate and one Newton step (x > 0; relative error < 0.2%).
// Defined here so that the per-vertex loops inline it.
inline float invSqrtFast(float x) {
    // The shifted bit pattern halves the exponent; the magic constant corrects the bias and
    // the mantissa so that one Newton step lands within 0.2 % for every positive finite x.
    // Zero gives a large finite value, negative or non-finite input gives garbage (callers
    // guard these cases before the result can reach an integer).
    const float y = std::bit_cast<float>(0x5F3759DFu - (std::bit_cast<std::uint32_t>(x) >> 1));
    return 1.5f * y - (0.5f * x * y) * (y * y);
}
// v turned by angle (radians) about the unit axis, counter-clockwise seen from the axis tip;
// out may alias v.
void rotateAboutAxis(Point3& out, const Point3& v, float angle, const Point3& axis);

void matIdentity(Matrix4& m);
void matScale(Matrix4& m, float sx, float sy, float sz);
void matTranslate(Matrix4& m, float tx, float ty, float tz);
// Rotation by angle (radians) about the unit axis (x, y, z).
void matRotate(Matrix4& m, float angle, float x, float y, float z);
// out = a * b (full product); out may alias a or b.
void matMultiply(Matrix4& out, const Matrix4& a, const Matrix4& b);
// out = a * b for affine matrices (row 3 taken as 0 0 0 1); out may alias a or b.
void matMultiplyAffine(Matrix4& out, const Matrix4& a, const Matrix4& b);
void matCopy(Matrix4& out, const Matrix4& m);
// out.xyz = rows 0-2 of m times (p, 1); out.w = 1.
void transformAffine(Point4& out, const Matrix4& m, const Point3& p);
// out = m * (p, 1), all four rows.
void transformPoint(Point4& out, const Matrix4& m, const Point3& p);
void transformVec4(Point4& out, const Matrix4& m, const Point4& v);
// Rows 0-2 of m times v; out.w = v.w.
void transformVec4Affine(Point4& out, const Matrix4& m, const Point4& v);
// Maps x -1..1 to x0..x1, y 1..-1 to y0..y1 (screen y down), z -1..1 to z0..z1.
void matViewport(Matrix4& m, float x0, float x1, float y0, float y1, float z0, float z1);
void matFrustum(Matrix4& m, float left, float right, float bottom, float top, float nearZ,
                float farZ);
// Frustum through a vertical field of view (radians) and aspect (width / height).
void matPerspective(Matrix4& m, float fovy, float aspect, float nearZ, float farZ);

// a in bits 24-31, b 16-23, c 8-15, d 0-7 (inputs 0..1): upper three channels value*255
// truncated, the lowest rounded to nearest, by the double-precision significand method.
std::uint32_t packColor(float a, float b, float c, float d);
