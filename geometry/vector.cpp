// Vector and matrix helpers: cross products, normalising, axis rotations (dot and the fast
// reciprocal square root are inline in the header), the 4x4 matrix builders and products, point transforms and the
// double-precision colour packer. Leaf routines: no state, no allocation, no other module.
#include "geometry/vector.h"

#include <cmath>

#include "geometry/functions.h"

namespace {

// The low 32 bits of the significand of d.
std::uint32_t significandLow(double d) {
    return static_cast<std::uint32_t>(std::bit_cast<std::uint64_t>(d));
}

}  // namespace

Point3& cross(Point3& out, const Point3& a, const Point3& b) {
    // All six products are formed before out is written, so out may be a or b.
    const float yz = a.y * b.z, zy = a.z * b.y;
    const float zx = a.z * b.x, xz = a.x * b.z;
    const float xy = a.x * b.y, yx = a.y * b.x;
    out.x = yz - zy;
    out.y = zx - xz;
    out.z = xy - yx;
    return out;
}

void normalize(Point3& v) {
    const float scale = 1.0f / std::sqrt(dot(v, v));
    v.x *= scale;
    v.y *= scale;
    v.z *= scale;
}

void rotateAboutAxis(Point3& out, const Point3& v, float angle, const Point3& axis) {
    const float half = angle * 0.5f;
    const float c = cosine(half);
    const float s = sine(half);
    const Point3 q = {s * axis.x, s * axis.y, s * axis.z};
    // Everything read from v is taken before out is written, so out may be v.
    Point3 qv;
    cross(qv, q, v);
    Point3 qqv;
    cross(qqv, q, qv);
    const float vq = dot(v, q);
    const float cc = c * c;
    const float c2 = 2.0f * c;
    const Point3 in = v;
    out.x = cc * in.x + vq * q.x + c2 * qv.x + qqv.x;
    out.y = cc * in.y + vq * q.y + c2 * qv.y + qqv.y;
    out.z = cc * in.z + vq * q.z + c2 * qv.z + qqv.z;
}

void matIdentity(Matrix4& m) {
    for (int i = 0; i < 16; ++i) {
        m.m[i] = (i % 5 == 0) ? 1.0f : 0.0f;
    }
}

void matScale(Matrix4& m, float sx, float sy, float sz) {
    matIdentity(m);
    m.m[0] = sx;
    m.m[5] = sy;
    m.m[10] = sz;
}

void matTranslate(Matrix4& m, float tx, float ty, float tz) {
    matIdentity(m);
    m.m[3] = tx;
    m.m[7] = ty;
    m.m[11] = tz;
}

void matRotate(Matrix4& m, float angle, float x, float y, float z) {
    const float c = cosine(angle);
    const float s = sine(angle);
    const float t = 1.0f - c;
    matIdentity(m);
    m.m[0] = x * x + (1.0f - x * x) * c;
    m.m[1] = x * y * t - z * s;
    m.m[2] = x * z * t + y * s;
    m.m[4] = x * y * t + z * s;
    m.m[5] = y * y + (1.0f - y * y) * c;
    m.m[6] = y * z * t - x * s;
    m.m[8] = x * z * t - y * s;
    m.m[9] = y * z * t + x * s;
    m.m[10] = z * z + (1.0f - z * z) * c;
}

void matMultiply(Matrix4& out, const Matrix4& a, const Matrix4& b) {
    Matrix4 product;
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            product.m[4 * r + c] = a.m[4 * r] * b.m[c] + a.m[4 * r + 1] * b.m[4 + c] +
                                   a.m[4 * r + 2] * b.m[8 + c] + a.m[4 * r + 3] * b.m[12 + c];
        }
    }
    out = product;
}

void matMultiplyAffine(Matrix4& out, const Matrix4& a, const Matrix4& b) {
    Matrix4 product;
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            product.m[4 * r + c] = a.m[4 * r] * b.m[c] + a.m[4 * r + 1] * b.m[4 + c] +
                                   a.m[4 * r + 2] * b.m[8 + c];
        }
        // b's row 3 is (0, 0, 0, 1): only column 3 picks up a's translation.
        product.m[4 * r + 3] = a.m[4 * r] * b.m[3] + a.m[4 * r + 1] * b.m[7] +
                               a.m[4 * r + 2] * b.m[11] + a.m[4 * r + 3];
    }
    product.m[12] = 0.0f;
    product.m[13] = 0.0f;
    product.m[14] = 0.0f;
    product.m[15] = 1.0f;
    out = product;
}

void matCopy(Matrix4& out, const Matrix4& m) {
    out = m;
}

void transformAffine(Point4& out, const Matrix4& m, const Point3& p) {
    const float* e = m.m;
    const Point3 in = p;
    out.x = e[0] * in.x + e[1] * in.y + e[2] * in.z + e[3];
    out.y = e[4] * in.x + e[5] * in.y + e[6] * in.z + e[7];
    out.z = e[8] * in.x + e[9] * in.y + e[10] * in.z + e[11];
    out.w = 1.0f;
}

void transformPoint(Point4& out, const Matrix4& m, const Point3& p) {
    const float* e = m.m;
    const Point3 in = p;
    out.x = e[0] * in.x + e[1] * in.y + e[2] * in.z + e[3];
    out.y = e[4] * in.x + e[5] * in.y + e[6] * in.z + e[7];
    out.z = e[8] * in.x + e[9] * in.y + e[10] * in.z + e[11];
    out.w = e[12] * in.x + e[13] * in.y + e[14] * in.z + e[15];
}

void transformVec4(Point4& out, const Matrix4& m, const Point4& v) {
    const float* e = m.m;
    const Point4 in = v;
    out.x = e[0] * in.x + e[1] * in.y + e[2] * in.z + e[3] * in.w;
    out.y = e[4] * in.x + e[5] * in.y + e[6] * in.z + e[7] * in.w;
    out.z = e[8] * in.x + e[9] * in.y + e[10] * in.z + e[11] * in.w;
    out.w = e[12] * in.x + e[13] * in.y + e[14] * in.z + e[15] * in.w;
}

void transformVec4Affine(Point4& out, const Matrix4& m, const Point4& v) {
    const float* e = m.m;
    const Point4 in = v;
    out.x = e[0] * in.x + e[1] * in.y + e[2] * in.z + e[3] * in.w;
    out.y = e[4] * in.x + e[5] * in.y + e[6] * in.z + e[7] * in.w;
    out.z = e[8] * in.x + e[9] * in.y + e[10] * in.z + e[11] * in.w;
    out.w = in.w;
}

void matViewport(Matrix4& m, float x0, float x1, float y0, float y1, float z0, float z1) {
    Matrix4 toCorner, scale, shift;
    matTranslate(toCorner, x0, y0, z0);
    matScale(scale, (x1 - x0) * 0.5f, (y1 - y0) * 0.5f, (z1 - z0) * 0.5f);
    matTranslate(shift, 1.0f, 1.0f, 1.0f);
    matMultiplyAffine(m, toCorner, scale);
    matMultiplyAffine(m, m, shift);
    // Screen y grows downwards: y = 1 lands on y0 and y = -1 on y1.
    m.m[5] = -m.m[5];
}

void matFrustum(Matrix4& m, float left, float right, float bottom, float top, float nearZ,
                float farZ) {
    for (float& e : m.m) {
        e = 0.0f;
    }
    m.m[0] = 2.0f * nearZ / (right - left);
    m.m[2] = (right + left) / (right - left);
    m.m[5] = 2.0f * nearZ / (top - bottom);
    m.m[6] = (top + bottom) / (top - bottom);
    m.m[10] = -(farZ + nearZ) / (farZ - nearZ);
    m.m[11] = -2.0f * farZ * nearZ / (farZ - nearZ);
    m.m[14] = -1.0f;
}

void matPerspective(Matrix4& m, float fovy, float aspect, float nearZ, float farZ) {
    const float e = tangent(fovy * 0.5f) * nearZ;
    matFrustum(m, -e * aspect, e * aspect, -e, e, nearZ, farZ);
}

std::uint32_t packColor(float a, float b, float c, float d) {
    // Adding 1.5 * 2^k in double precision puts the product's bits at a fixed place in the
    // significand: the fraction lands in the low 32 bits, truncated for the upper three
    // channels (their lower bits fall into bytes that are masked off) and rounded to nearest
    // for the lowest, whose whole word is kept. 255/256 turns 1.0 into 0xFF.
    const float unit = 0.99609375f;
    const std::uint32_t wa = significandLow(static_cast<double>(a * unit) + 1572864.0);
    const std::uint32_t wb = significandLow(static_cast<double>(b * unit) + 402653184.0);
    const std::uint32_t wc = significandLow(static_cast<double>(c * unit) + 103079215104.0);
    const std::uint32_t wd = significandLow(static_cast<double>(d * unit) + 26388279066624.0);
    return (wa & 0xFF000000u) | (wb & 0x00FF0000u) | (wc & 0x0000FF00u) | wd;
}
