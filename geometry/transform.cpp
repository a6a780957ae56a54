// The vertex pipeline: the current transform (plain and packed loads), the batch
// beginVertices / transformVertex / endVertices with its deferred clip codes, and clipCode.
// Owns transformState, clipBounds and the TransformPath table; knows nothing of the
// rasterizer beyond the ScreenVertex layout.
#include "geometry/transform.h"

#include <cstring>

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

ClipBounds clipBounds;
TransformState transformState;
TransformPath transformPath = {loadTransformPlain, transformVertexScalar};

namespace {

std::uint32_t floatBits(float f) {
    std::uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
}

// Indexed by the sign bits of x (bit 0), y (bit 1) and w (bit 2): for each negative value the
// pair of bits whose unsigned compare read the sign bit as a huge magnitude is flipped.
constexpr std::uint32_t SIGN_FIX[8] = {0x00, 0x03, 0x0C, 0x0F, 0x30, 0x33, 0x3C, 0x3F};

// Closes the pending vertex: its clip code goes into bits 0-5 and into the accumulated code.
inline void completePending() {
    ScreenVertex* pending = transformState.pending;
    if (pending != nullptr) {
        const std::uint32_t code = clipCode(*pending);
        pending->flags = (pending->flags & ~CLIP_MASK) | code;
        transformState.accumulated |= code;
    }
}

}  // namespace

std::uint32_t clipCode(const ScreenVertex& v) {
    const std::uint32_t x = floatBits(v.x);
    const std::uint32_t y = floatBits(v.y);
    const std::uint32_t w = floatBits(v.w);
    const ClipBounds& b = clipBounds;
    // Non-negative floats order like their bit patterns read as unsigned integers.
    std::uint32_t code = 0;
    code |= static_cast<std::uint32_t>(floatBits(b.wFar) < w) << 5;
    code |= static_cast<std::uint32_t>(w < floatBits(b.wNear)) << 4;
    code |= static_cast<std::uint32_t>(floatBits(b.yMax) < y) << 3;
    code |= static_cast<std::uint32_t>(y < floatBits(b.yMin)) << 2;
    code |= static_cast<std::uint32_t>(floatBits(b.xMax) < x) << 1;
    code |= static_cast<std::uint32_t>(x < floatBits(b.xMin));
    // A set sign bit (also -0.0) made the value compare above every bound: swap the pair.
    const std::uint32_t signs = (x >> 31) | ((y >> 31) << 1) | ((w >> 31) << 2);
    code ^= SIGN_FIX[signs];
    // Behind the eye the projected x and y are mirrored, so their four bits are inverted.
    code ^= (w >> 31) * 0x0Fu;
    return code;
}

void loadTransformPlain(const Matrix4& m) {
    transformState.matrix = m;
}

void loadTransformPacked(const Matrix4& m) {
    transformState.matrix = m;
    float* rows = transformState.rows;
#if defined(__SSE__)
    for (int r = 0; r < 4; ++r) {
        _mm_store_ps(rows + 4 * r, _mm_loadu_ps(m.m + 4 * r));
    }
    for (int i = 0; i < 16; ++i) {
        _mm_store_ps(transformState.splat[i], _mm_set1_ps(m.m[i]));
    }
#else
    for (int i = 0; i < 16; ++i) {
        rows[i] = m.m[i];
        for (int k = 0; k < 4; ++k) {
            transformState.splat[i][k] = m.m[i];
        }
    }
#endif
}

void beginVertices() {
    transformState.pending = nullptr;
    transformState.accumulated = 0;
#if defined(__i386__)
    // x87 arithmetic: save the control word and set precision control (bits 8-9) to single.
    std::uint16_t word;
    __asm__ __volatile__("fnstcw %0" : "=m"(word));
    transformState.savedControlWord = word;
    word = static_cast<std::uint16_t>(word & ~0x0300u);
    __asm__ __volatile__("fldcw %0" : : "m"(word));
#endif
    // Elsewhere float arithmetic already runs in single precision (SSE on x86-64), so the
    // precision switch is a no-op.
}

void transformVertexScalar(ScreenVertex& out, const Point3& p) {
    const float* e = transformState.matrix.m;
    const float w = e[12] * p.x + e[13] * p.y + e[14] * p.z + e[15];
    const float sx = e[0] * p.x + e[1] * p.y + e[2] * p.z + e[3];
    const float sy = e[4] * p.x + e[5] * p.y + e[6] * p.z + e[7];
    // No guard: w = 0 gives an infinite q, and the clip code marks the vertex CLIP_NEAR.
    const float q = 1.0f / w;
    // The previous vertex is complete by now; its integer work overlaps the division.
    completePending();
    out.x = sx * q;
    out.y = sy * q;
    out.q = q;
    out.w = w;
    transformState.pending = &out;
}

std::uint32_t endVertices() {
    completePending();
    transformState.pending = nullptr;
#if defined(__i386__)
    std::uint16_t word = transformState.savedControlWord;
    __asm__ __volatile__("fldcw %0" : : "m"(word));
#endif
    return transformState.accumulated;
}
