// Per-vertex lighting: the light and view vectors of a view (LightState), AMBIENT, and the two
// lighting entries reached through a table that start-up fills once from the processor's
// features. The table also names which implementation it holds, so the tessellators' vertex
// loops can run the same bodies inlined.
#pragma once

#include <bit>
#include <cstdint>

#include "vexa/vexa.h"
#include "geometry/vector.h"

constexpr float AMBIENT = 0.25f;

struct LightState {
    Point3 light;   // towards the light, not normalised
    Point3 view;    // the viewer's axis for the specular term, not normalised
};

// The two implementations of the same formulas: clamps by conditional selection, or by sign
// bits and integer compares of the bit patterns.
enum LightingStyle : std::int32_t { LIGHTING_SELECT = 0, LIGHTING_INTEGER, LIGHTING_STYLE_COUNT };

// The lighting pair in use: diffuse intensity D in [0, 1]; D and specular S in [0, 1]; and
// which implementation the pair is.
struct LightingPath {
    float (*lightDiffuse)(const Point3& n, const LightState& light);
    void (*lightDiffuseSpecular)(const Point3& n, const LightState& light, float& diffuse,
                                 float& specular);
    LightingStyle style;
};

// The two implementations: clamps by conditional selection, or by sign bits and integer
// compares of the bit patterns.
float lightDiffuseSelect(const Point3& n, const LightState& light);
void lightDiffuseSpecularSelect(const Point3& n, const LightState& light, float& diffuse,
                                float& specular);
float lightDiffuseInteger(const Point3& n, const LightState& light);
void lightDiffuseSpecularInteger(const Point3& n, const LightState& light, float& diffuse,
                                 float& specular);

// The bodies of both implementations for a given light state, inline so that the
// tessellators' vertex loops can run the style surfacePass.lightingPath names on a copy of the
// view's light taken once per patch. The entries above call these.
namespace lightingDetail {

constexpr std::uint32_t ONE_BITS = 0x3F800000u;  // 1.0f

inline std::uint32_t floatBits(float f) { return std::bit_cast<std::uint32_t>(f); }
inline float bitsFloat(std::uint32_t bits) { return std::bit_cast<float>(bits); }

// The reflected light R = 2 d N - L, with d before any clamp.
inline Point3 reflectLight(const Point3& n, const Point3& l, float d) {
    const float twoD = 2.0f * d;
    return {twoD * n.x - l.x, twoD * n.y - l.y, twoD * n.z - l.z};
}

// c^8 by three squarings, c = u / |R| by the fast reciprocal square root. R . R is not 0
// whenever u > 0, but may be tiny; a huge c is clamped by the callers, never returned.
inline float highlightPower(const Point3& r, float u) {
    const float c = u * invSqrtFast(dot(r, r));
    const float c2 = c * c;
    const float c4 = c2 * c2;
    return c4 * c4;
}

// Selection style: compares that compile to min/max or conditional moves, no branches.
// A NaN d (from a NaN normal) selects 0 in the first clamp and so yields AMBIENT.
inline float diffuseSelect(float d) {
    const float lit = (d > 0.0f ? d : 0.0f) + AMBIENT;
    return lit < 1.0f ? lit : 1.0f;
}

// Integer style: a set sign bit (also -0.0) clears the whole pattern to +0.0; the clamp at
// 1 compares the non-negative pattern of d + AMBIENT with that of 1.0 as integers.
inline float diffuseInteger(float d) {
    const std::uint32_t bits = floatBits(d);
    const std::uint32_t keep = ~static_cast<std::uint32_t>(static_cast<std::int32_t>(bits) >> 31);
    const float lit = bitsFloat(bits & keep) + AMBIENT;
    return floatBits(lit) > ONE_BITS ? 1.0f : lit;
}

}  // namespace lightingDetail

inline float diffuseBySelect(const Point3& n, const LightState& state) {
    return lightingDetail::diffuseSelect(dot(n, state.light));
}

inline void diffuseSpecularBySelect(const Point3& n, const LightState& state, float& diffuse,
                                    float& specular) {
    const float d = dot(n, state.light);
    diffuse = lightingDetail::diffuseSelect(d);
    const Point3 r = lightingDetail::reflectLight(n, state.light, d);
    const float u = dot(r, state.view);
    const float power = lightingDetail::highlightPower(r, u);
    // The power is formed unconditionally and then selected away when u <= 0 (or NaN).
    const float s = u > 0.0f ? power : 0.0f;
    // Clamped at 1: a view vector drifting longer than 1, or a tiny R, would lift c above 1
    // and overflow into the neighbouring byte of the packed colour.
    specular = s < 1.0f ? s : 1.0f;
}

inline float diffuseByInteger(const Point3& n, const LightState& state) {
    return lightingDetail::diffuseInteger(dot(n, state.light));
}

inline void diffuseSpecularByInteger(const Point3& n, const LightState& state, float& diffuse,
                                     float& specular) {
    const float d = dot(n, state.light);
    diffuse = lightingDetail::diffuseInteger(d);
    const Point3 r = lightingDetail::reflectLight(n, state.light, d);
    const float u = dot(r, state.view);
    // u <= 0 exactly when its pattern read as a signed integer is <= 0 (sign bit or +0.0).
    if (static_cast<std::int32_t>(lightingDetail::floatBits(u)) <= 0) {
        specular = 0.0f;
        return;
    }
    const float power = lightingDetail::highlightPower(r, u);
    // Non-negative here; a pattern above 1.0's (also infinity and NaN) clamps to 1.
    specular = lightingDetail::floatBits(power) > lightingDetail::ONE_BITS ? 1.0f : power;
}

// Installs the conditional-selection pair when the processor has conditional moves, else
// the integer pair, with its style.
void chooseLightingRoutines(const VxProcessor& features);
