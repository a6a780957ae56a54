// Per-vertex lighting: the light and view vectors, and the diffuse and diffuse-plus-specular
// entries in two implementations (clamps by float selection, or by sign bits and integer
// compares of bit patterns) chosen once at start-up. Reads only its own LightState.
#include "render/lighting.h"

LightState lightState = {{0.0f, 0.0f, 1.0f}, {0.0f, 0.0f, 1.0f}};
LightingPath lightingPath = {lightDiffuseSelect, lightDiffuseSpecularSelect, LIGHTING_SELECT};

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
    static constexpr LightingPath PATHS[LIGHTING_STYLE_COUNT] = {
        {lightDiffuseSelect, lightDiffuseSpecularSelect, LIGHTING_SELECT},
        {lightDiffuseInteger, lightDiffuseSpecularInteger, LIGHTING_INTEGER},
    };
    lightingPath = PATHS[features.hasConditionalMove ? LIGHTING_SELECT : LIGHTING_INTEGER];
}
