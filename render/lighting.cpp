// Per-vertex lighting: the light and view vectors, and the diffuse and diffuse-plus-specular
// entries in two implementations (clamps by float selection, or by sign bits and integer
// compares of bit patterns) chosen once at start-up. Reads only the light state it is handed.
#include "render/lighting.h"
#include "render/surfacepass.h"

float lightDiffuseSelect(const Point3& n, const LightState& light) {
    return diffuseBySelect(n, light);
}

void lightDiffuseSpecularSelect(const Point3& n, const LightState& light, float& diffuse,
                                float& specular) {
    diffuseSpecularBySelect(n, light, diffuse, specular);
}

float lightDiffuseInteger(const Point3& n, const LightState& light) {
    return diffuseByInteger(n, light);
}

void lightDiffuseSpecularInteger(const Point3& n, const LightState& light, float& diffuse,
                                 float& specular) {
    diffuseSpecularByInteger(n, light, diffuse, specular);
}

void chooseLightingRoutines(const VxProcessor& features) {
    static constexpr LightingPath PATHS[LIGHTING_STYLE_COUNT] = {
        {lightDiffuseSelect, lightDiffuseSpecularSelect, LIGHTING_SELECT},
        {lightDiffuseInteger, lightDiffuseSpecularInteger, LIGHTING_INTEGER},
    };
    const int style = features.hasConditionalMove ? LIGHTING_SELECT : LIGHTING_INTEGER;
    surfacePass.lightingPath = PATHS[style];
}
