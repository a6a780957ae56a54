// RenderOptions: the settings the keys change and their defaults. Changed only by the key
// routine (and the surface type by loadScene).
#include "render/options.h"

RenderOptions renderOptions;

void resetRenderOptions() {
    renderOptions = RenderOptions{};
    renderOptions.subdivisions = 6;
    renderOptions.multiView = false;
    renderOptions.controlNormals = true;
    renderOptions.showControlPoints = false;
    renderOptions.environmentMapping = false;
    renderOptions.gapFill = GAP_FILL;
    renderOptions.fog = true;
    renderOptions.forwardDifferencing = false;
    renderOptions.drawNormals = false;
    renderOptions.wavesPaused = false;
    renderOptions.surfaceType = SURFACE_BSPLINE;
    renderOptions.verticalSync = true;
    renderOptions.wireframe = false;
    renderOptions.dynamicDetail = true;
    renderOptions.detailRule = DETAIL_DISTANCE;
    renderOptions.screenTolerance = SCREEN_TOLERANCE_DEFAULT;
    renderOptions.specular = false;
    renderOptions.showHelp = false;
    renderOptions.nearW = 1.0f;
    renderOptions.farW = 1000.0f;
    renderOptions.modelScale[0] = 20.0f;
    renderOptions.modelScale[1] = 20.0f;
    renderOptions.modelScale[2] = 10.0f;
    renderOptions.moveSpeed = 1.0f;
}

void cycleDetailRule(RenderOptions& o) {
    o.detailRule = (o.detailRule + 1) % DETAIL_RULE_COUNT;
}

void stepScreenTolerance(RenderOptions& o, int direction) {
    float t = direction > 0 ? o.screenTolerance * SCREEN_TOLERANCE_FACTOR
                            : o.screenTolerance / SCREEN_TOLERANCE_FACTOR;
    if (t < SCREEN_TOLERANCE_MIN) t = SCREEN_TOLERANCE_MIN;
    if (t > SCREEN_TOLERANCE_MAX) t = SCREEN_TOLERANCE_MAX;
    o.screenTolerance = t;
}

const char* detailRuleName(int rule) {
    static const char* const NAMES[] = {"distance", "smooth", "screen"};
    static_assert(sizeof(NAMES) / sizeof(NAMES[0]) == DETAIL_RULE_COUNT);
    return rule >= 0 && rule < DETAIL_RULE_COUNT ? NAMES[rule] : "";
}
