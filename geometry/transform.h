// Vertex transform, projection and clip codes: ScreenVertex (the record handed to the
// rasterizer), ClipBounds, and the batch loadTransform / beginVertices / transformVertex /
// endVertices reached through the TransformPath table that start-up fills once.
#pragma once

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

// The view volume of the current view, all bounds non-negative; the reciprocals of the depth
// bounds are read by the clipper; each bound is also replicated four times for the
// four-wide path.
struct ClipBounds {
    float xMin, xMax, yMin, yMax, wNear, wFar;
    float invNear, invFar;
    alignas(16) float xMin4[4], xMax4[4], yMin4[4], yMax4[4], wNear4[4], wFar4[4];
};
extern ClipBounds clipBounds;

// Transform state: the current matrix (with a 16-byte aligned copy and each element
// replicated four times for the packed path), the pending vertex and the accumulated code.
struct TransformState {
    Matrix4 matrix;
    alignas(16) float rows[16];
    alignas(16) float splat[16][4];
    ScreenVertex* pending;
    std::uint32_t accumulated;
    std::uint16_t savedControlWord;
};
extern TransformState transformState;

// Routines with processor-specific variants, filled once at start-up (chooseTransformPath).
struct TransformPath {
    void (*loadTransform)(const Matrix4& m);
    void (*transformVertex)(ScreenVertex& out, const Point3& p);
};
extern TransformPath transformPath;

// Makes m the current transform (model space to pixels and w).
inline void loadTransform(const Matrix4& m) { transformPath.loadTransform(m); }
// Opens a batch: no pending vertex, accumulated code 0, single-precision arithmetic.
void beginVertices();
// Writes out.x, y, w, q from p; completes the pending vertex's clip code; out becomes pending.
inline void transformVertex(ScreenVertex& out, const Point3& p) {
    transformPath.transformVertex(out, p);
}
// Completes the pending vertex's code, restores precision, returns the OR of all codes.
std::uint32_t endVertices();
// The six-bit clip code of v from x, y, w by unsigned bit-pattern compares.
std::uint32_t clipCode(const ScreenVertex& v);

// The portable variants (always available) and the packed variant of loadTransform.
void loadTransformPlain(const Matrix4& m);
void loadTransformPacked(const Matrix4& m);
void transformVertexScalar(ScreenVertex& out, const Point3& p);
