// Per-vertex lighting: the light and view vectors, and the diffuse and diffuse-plus-specular
// entries in two implementations (clamps by float selection, or by sign bits and integer
// compares of bit patterns) chosen once at start-up. Reads only its own LightState.
#include "render/lighting.h"

#include <cstring>

#include "geometry/cpu.h"

LightState lightState = {{0.0f, 0.0f, 1.0f}, {0.0f, 0.0f, 1.0f}};
LightingPath lightingPath = {lightDiffuseSelect, lightDiffuseSpecularSelect};

namespace {

constexpr std::uint32_t ONE_BITS = 0x3F800000u;  // 1.0f

std::uint32_t floatBits(float f) {
    std::uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
}

float bitsFloat(std::uint32_t bits) {
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

// The reflected light R = 2 d N - L, with d before any clamp.
Point3 reflectLight(const Point3& n, float d) {
    const Point3& l = lightState.light;
    const float twoD = 2.0f * d;
    return {twoD * n.x - l.x, twoD * n.y - l.y, twoD * n.z - l.z};
}

// c^8 by three squarings, c = u / |R| by the fast reciprocal square root. R . R is not 0
// whenever u > 0, but may be tiny; a huge c is clamped by the callers, never returned.
float highlightPower(const Point3& r, float u) {
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

}  // namespace

void setLightVectors(const Point3& light, const Point3& view) {
    lightState.light = light;
    lightState.view = view;
}

float lightDiffuseSelect(const Point3& n) {
    return diffuseSelect(dot(n, lightState.light));
}

void lightDiffuseSpecularSelect(const Point3& n, float& diffuse, float& specular) {
    const float d = dot(n, lightState.light);
    diffuse = diffuseSelect(d);
    const Point3 r = reflectLight(n, d);
    const float u = dot(r, lightState.view);
    const float power = highlightPower(r, u);
    // The power is formed unconditionally and then selected away when u <= 0 (or NaN).
    const float s = u > 0.0f ? power : 0.0f;
    // Clamped at 1: a view vector drifting longer than 1, or a tiny R, would lift c above 1
    // and overflow into the neighbouring byte of the packed colour.
    specular = s < 1.0f ? s : 1.0f;
}

float lightDiffuseInteger(const Point3& n) {
    return diffuseInteger(dot(n, lightState.light));
}

void lightDiffuseSpecularInteger(const Point3& n, float& diffuse, float& specular) {
    const float d = dot(n, lightState.light);
    diffuse = diffuseInteger(d);
    const Point3 r = reflectLight(n, d);
    const float u = dot(r, lightState.view);
    // u <= 0 exactly when its pattern read as a signed integer is <= 0 (sign bit or +0.0).
    if (static_cast<std::int32_t>(floatBits(u)) <= 0) {
        specular = 0.0f;
        return;
    }
    const float power = highlightPower(r, u);
    // Non-negative here; a pattern above 1.0's (also infinity and NaN) clamps to 1.
    specular = floatBits(power) > ONE_BITS ? 1.0f : power;
}

void chooseLightingRoutines(const CpuFeatures& features) {
    if (features.hasConditionalMove) {
        lightingPath.lightDiffuse = lightDiffuseSelect;
        lightingPath.lightDiffuseSpecular = lightDiffuseSpecularSelect;
    } else {
        lightingPath.lightDiffuse = lightDiffuseInteger;
        lightingPath.lightDiffuseSpecular = lightDiffuseSpecularInteger;
    }
}
