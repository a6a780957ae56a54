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
    renderOptions.specular = false;
    renderOptions.showHelp = false;
    renderOptions.nearW = 1.0f;
    renderOptions.farW = 1000.0f;
    renderOptions.modelScale[0] = 20.0f;
    renderOptions.modelScale[1] = 20.0f;
    renderOptions.modelScale[2] = 10.0f;
    renderOptions.moveSpeed = 1.0f;
}
