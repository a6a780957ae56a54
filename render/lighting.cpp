// Per-vertex lighting: the light and view vectors, and the diffuse and diffuse-plus-specular
// entries in two implementations (clamps by float selection, or by sign bits and integer
// compares of bit patterns) chosen once at start-up. Reads only its own LightState.
#include "render/lighting.h"

#include "geometry/cpu.h"

LightState lightState = {{0.0f, 0.0f, 1.0f}, {0.0f, 0.0f, 1.0f}};
LightingPath lightingPath = {lightDiffuseSelect, lightDiffuseSpecularSelect};

void setLightVectors(const Point3& light, const Point3& view) {
    lightState.light = light;
    lightState.view = view;
}

float lightDiffuseSelect(const Point3& n) { return diffuseBySelect(n, lightState); }

void lightDiffuseSpecularSelect(const Point3& n, float& diffuse, float& specular) {
    diffuseSpecularBySelect(n, lightState, diffuse, specular);
}

float lightDiffuseInteger(const Point3& n) { return diffuseByInteger(n, lightState); }

void lightDiffuseSpecularInteger(const Point3& n, float& diffuse, float& specular) {
    diffuseSpecularByInteger(n, lightState, diffuse, specular);
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
