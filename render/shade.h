// The per-vertex finishing step shared by both tessellators, instantiated once per option
// combination and lighting style so the vertex loops test no option per vertex. Private to
// render/ (and its tests). Touches only the slot, the batch's pending vertex and the
// normal-line tip.
#pragma once

#include <bit>
#include <cstdint>

#include "geometry/transform.h"
#include "geometry/vector.h"
#include "render/lighting.h"
#include "render/options.h"
#include "render/tessellate.h"

// Option bits that select a shading variant; hoisted once per patch.
enum ShadeFlag {
    SHADE_SPECULAR = 0x1,
    SHADE_ENVIRONMENT = 0x2,
    SHADE_NORMALS = 0x4,
};
constexpr int SHADE_VARIANT_COUNT = 8;

constexpr std::uint32_t NORMAL_LINE_COLOUR = 0xFF00FFFFu;
constexpr float NORMAL_LINE_LENGTH = 0.25f;

// The variant for the current options.
inline int shadeVariant() {
    return (renderOptions.specular ? SHADE_SPECULAR : 0) |
           (renderOptions.environmentMapping ? SHADE_ENVIRONMENT : 0) |
           (renderOptions.drawNormals ? SHADE_NORMALS : 0);
}

// v scaled by invSqrtFast of its squared length.
inline void normalizeFast(Point3& v) {
    const float r = invSqrtFast(v.x * v.x + v.y * v.y + v.z * v.z);
    v.x *= r;
    v.y *= r;
    v.z *= r;
}

// Bit-pattern conversion of an intensity in [0, 1] to a byte, ceiling(256 x) - 1: with the
// exponent e and mantissa m, (m + 0x7FFFFF) >> (142 - e) when that shift is 0..31, else 0.
inline std::uint32_t intensityByte(std::uint32_t bits) {
    const std::int32_t e = static_cast<std::int32_t>((bits >> 23) & 0xFFu);
    const std::uint32_t m = bits & 0x7FFFFFu;
    const std::uint32_t sh = static_cast<std::uint32_t>(142 - e);
    return sh <= 31u ? (m + 0x7FFFFFu) >> sh : 0u;
}

// Diffuse byte in red, green and blue, specular byte in alpha (both intensities 0..1).
inline std::uint32_t packVertexColor(float specular, float diffuse) {
    const std::uint32_t dBits = std::bit_cast<std::uint32_t>(diffuse);
    const std::uint32_t sBits = std::bit_cast<std::uint32_t>(specular);
    const std::uint32_t grey = intensityByte(dBits) & 0xFFu;  // no spill above 1.0
    // The specular byte lands in bits 24-31 directly: shifted by 127 - e instead of 142 - e
    // and moved up by 9, which is the same byte for inputs in [0, 1].
    const std::int32_t se = static_cast<std::int32_t>((sBits >> 23) & 0xFFu);
    const std::uint32_t ssh = static_cast<std::uint32_t>(127 - se);
    const std::uint32_t alpha =
        ssh <= 31u ? (((sBits & 0x7FFFFFu) + 0x7FFFFFu) >> ssh << 9) & 0xFF000000u : 0u;
    return alpha | (grey << 16) | (grey << 8) | grey;
}

// Draws the normal line of a freshly transformed slot (rare: only with the normals option).
void drawNormalLine(const ScreenVertex& slot, const Point3& point, const Point3& unitNormal);

// What the vertex loops read per vertex, copied once per patch (after loadTransform) so that
// the stores into the grid cannot make the loop reload it; the vector paths read the clip
// bounds from here too.
struct VertexConstants {
    LightState light;
    Matrix4 matrix;
    ClipBounds clip;
};

inline void loadVertexConstants(VertexConstants& out, const LightState& light) {
    out.light = light;
    out.matrix = transformState.matrix;
    out.clip = transformState.clip;
}

// Normalises, lights, transforms and textures one grid vertex (point and normal in model
// space) for one option combination and lighting style; draws its normal line when FLAGS
// asks. The transform is the transformVertex body on the matrix copied once per patch.
template <int FLAGS, int STYLE>
inline void shadeVertex(const VertexConstants& constants, ScreenVertex& slot,
                        const Point3& point, Point3 normal, float s, float t) {
    static_assert(STYLE == LIGHTING_SELECT || STYLE == LIGHTING_INTEGER);
    normalizeFast(normal);
    float diffuse;
    float specular = 0.0f;
    if constexpr ((FLAGS & SHADE_SPECULAR) != 0) {
        if constexpr (STYLE == LIGHTING_SELECT) {
            diffuseSpecularBySelect(normal, constants.light, diffuse, specular);
        } else {
            diffuseSpecularByInteger(normal, constants.light, diffuse, specular);
        }
    } else {
        if constexpr (STYLE == LIGHTING_SELECT) {
            diffuse = diffuseBySelect(normal, constants.light);
        } else {
            diffuse = diffuseByInteger(normal, constants.light);
        }
    }
    slot.flags = 0;
    transformVertexWith(constants.matrix.m, slot, point);
    const float q = slot.q;
    if constexpr ((FLAGS & SHADE_ENVIRONMENT) != 0) {
        slot.s1 = (normal.x + 1.0f) * 0.5f * q * 256.0f;
        slot.t1 = (normal.y + 1.0f) * 0.5f * q * 256.0f;
    }
    slot.s0 = s * q;
    slot.t0 = t * q;
    slot.colour = packVertexColor(specular, diffuse);
    if constexpr ((FLAGS & SHADE_NORMALS) != 0) drawNormalLine(slot, point, normal);
}
