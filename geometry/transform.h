// Vertex transform, projection and clip codes: ScreenVertex (the record handed to the
// rasterizer), ClipBounds, and the transform stage's record: the matrix and clip bounds in use
// (loaded from the view being drawn) and the batch beginVertices / transformVertex /
// endVertices with its deferred clip codes.
#pragma once

#include <bit>
#include <cstdint>

#include "geometry/vector.h"

// One rasterizer vertex, 40 bytes. Texture coordinates are premultiplied by q = 1/w and in
// texel units (256 across a texture). Colour: alpha 24-31, red 16-23, green 8-15, blue 0-7.
struct ScreenVertex {
    float x, y;         // screen pixels after the divide
    float w;            // distance along the view direction; read by clip codes and clipper
    float q;            // 1 / w
    float s0, t0;       // unit 0 (surface texture)
    float s1, t1;       // unit 1 (environment map)
    std::uint32_t colour;
    std::uint32_t flags;  // bits 0-5: clip code; higher bits belong to the drawing code
};
static_assert(sizeof(ScreenVertex) == 40, "ScreenVertex is the rasterizer's 40-byte record");

// Byte offsets declared to the rasterizer.
constexpr int VERTEX_OFFSET_XY = 0;
constexpr int VERTEX_OFFSET_Q = 12;
constexpr int VERTEX_OFFSET_ST0 = 16;
constexpr int VERTEX_OFFSET_ST1 = 24;
constexpr int VERTEX_OFFSET_COLOUR = 32;

constexpr std::uint32_t CLIP_X_MIN = 0x01;
constexpr std::uint32_t CLIP_X_MAX = 0x02;
constexpr std::uint32_t CLIP_Y_MIN = 0x04;
constexpr std::uint32_t CLIP_Y_MAX = 0x08;
constexpr std::uint32_t CLIP_NEAR = 0x10;
constexpr std::uint32_t CLIP_FAR = 0x20;
constexpr std::uint32_t CLIP_MASK = 0x3F;

// A view's volume, all bounds non-negative; the reciprocals of the depth bounds are read by
// the clipper.
struct ClipBounds {
    float xMin, xMax, yMin, yMax, wNear, wFar;
    float invNear, invFar;
};

// Fills the bounds with the rectangle, the depth bounds and their reciprocals.
void setClipBounds(ClipBounds& bounds, float x0, float x1, float y0, float y1, float nearW,
                   float farW);

// The transform stage: the matrix and the clip bounds in use (what loadTransform and
// useClipBounds loaded from the view being drawn), the pending vertex and the accumulated code.
struct TransformState {
    Matrix4 matrix;
    ClipBounds clip;
    ScreenVertex* pending;
    std::uint32_t accumulated;
};
extern TransformState transformState;

// Makes m the current transform (model space to pixels and w).
inline void loadTransform(const Matrix4& m) { transformState.matrix = m; }
// Makes the view's bounds the ones clip codes and the clipper test against.
inline void useClipBounds(const ClipBounds& bounds) { transformState.clip = bounds; }
// Opens a batch: no pending vertex, accumulated code 0.
void beginVertices();
// Writes out.x, y, w, q from p; completes the pending vertex's clip code; out becomes pending.
void transformVertex(ScreenVertex& out, const Point3& p);
// Completes the pending vertex's code and returns the OR of all codes.
std::uint32_t endVertices();

// Indexed by the sign bits of x (bit 0), y (bit 1) and w (bit 2): for each negative value the
// pair of bits whose unsigned compare read the sign bit as a huge magnitude is flipped.
inline constexpr std::uint32_t CLIP_SIGN_FIX[8] = {0x00, 0x03, 0x0C, 0x0F,
                                                   0x30, 0x33, 0x3C, 0x3F};

inline std::uint32_t clipFloatBits(float f) { return std::bit_cast<std::uint32_t>(f); }

// The six-bit clip code of v from x, y, w by unsigned bit-pattern compares. Inline so that
// the per-vertex loops of the tessellators keep it in registers.
inline std::uint32_t clipCode(const ScreenVertex& v) {
    const std::uint32_t x = clipFloatBits(v.x);
    const std::uint32_t y = clipFloatBits(v.y);
    const std::uint32_t w = clipFloatBits(v.w);
    const ClipBounds& b = transformState.clip;
    // Non-negative floats order like their bit patterns read as unsigned integers.
    std::uint32_t code = 0;
    code |= static_cast<std::uint32_t>(clipFloatBits(b.wFar) < w) << 5;
    code |= static_cast<std::uint32_t>(w < clipFloatBits(b.wNear)) << 4;
    code |= static_cast<std::uint32_t>(clipFloatBits(b.yMax) < y) << 3;
    code |= static_cast<std::uint32_t>(y < clipFloatBits(b.yMin)) << 2;
    code |= static_cast<std::uint32_t>(clipFloatBits(b.xMax) < x) << 1;
    code |= static_cast<std::uint32_t>(x < clipFloatBits(b.xMin));
    // A set sign bit (also -0.0) made the value compare above every bound: swap the pair.
    const std::uint32_t signs = (x >> 31) | ((y >> 31) << 1) | ((w >> 31) << 2);
    code ^= CLIP_SIGN_FIX[signs];
    // Behind the eye the projected x and y are mirrored, so their four bits are inverted.
    code ^= (w >> 31) * 0x0Fu;
    return code;
}

// Closes the batch's pending vertex: its clip code goes into bits 0-5 and into the
// accumulated code.
inline void completePendingVertex() {
    ScreenVertex* pending = transformState.pending;
    if (pending != nullptr) {
        const std::uint32_t code = clipCode(*pending);
        pending->flags = (pending->flags & ~CLIP_MASK) | code;
        transformState.accumulated |= code;
    }
}

// transformVertex's body with the matrix elements e (row-major, 16) passed in, for loops that
// hoist the matrix; the arithmetic is the same operation for operation.
inline void transformVertexWith(const float* e, ScreenVertex& out, const Point3& p) {
    const float w = e[12] * p.x + e[13] * p.y + e[14] * p.z + e[15];
    const float sx = e[0] * p.x + e[1] * p.y + e[2] * p.z + e[3];
    const float sy = e[4] * p.x + e[5] * p.y + e[6] * p.z + e[7];
    // No guard: w = 0 gives an infinite q, and the clip code marks the vertex CLIP_NEAR.
    const float q = 1.0f / w;
    // The previous vertex is complete by now; its integer work overlaps the division.
    completePendingVertex();
    out.x = sx * q;
    out.y = sy * q;
    out.q = q;
    out.w = w;
    transformState.pending = &out;
}
