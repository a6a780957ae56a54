// Per-vertex lighting: the light and view vectors, AMBIENT, and the two lighting entries
// reached through a table that start-up fills once from the processor's features.
#pragma once

#include "geometry/vector.h"

struct CpuFeatures;

constexpr float AMBIENT = 0.25f;

struct LightState {
    Point3 light;   // towards the light, not normalised
    Point3 view;    // the viewer's axis for the specular term, not normalised
};
extern LightState lightState;

// The lighting pair in use: diffuse intensity D in [0, 1]; D and specular S in [0, 1].
struct LightingPath {
    float (*lightDiffuse)(const Point3& n);
    void (*lightDiffuseSpecular)(const Point3& n, float& diffuse, float& specular);
};
extern LightingPath lightingPath;

void setLightVectors(const Point3& light, const Point3& view);
inline float lightDiffuse(const Point3& n) { return lightingPath.lightDiffuse(n); }
inline void lightDiffuseSpecular(const Point3& n, float& diffuse, float& specular) {
    lightingPath.lightDiffuseSpecular(n, diffuse, specular);
}

// The two implementations: clamps by conditional selection, or by sign bits and integer
// compares of the bit patterns.
float lightDiffuseSelect(const Point3& n);
void lightDiffuseSpecularSelect(const Point3& n, float& diffuse, float& specular);
float lightDiffuseInteger(const Point3& n);
void lightDiffuseSpecularInteger(const Point3& n, float& diffuse, float& specular);

// Installs the conditional-selection pair when the processor has conditional moves, else
// the integer pair.
void chooseLightingRoutines(const CpuFeatures& features);
