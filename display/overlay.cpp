// Flat-coloured lines over the picture: the render state is saved, set for constant colour
// with every per-pixel feature off, and restored afterwards.
#include "display/overlay.h"

#include "display/device.h"
#include "geometry/transform.h"
#include "vexa/vexa.h"

namespace {

void setLineState(std::uint32_t colour) {
    vxSetColorCombine(VX_COMBINE_LOCAL, VX_FACTOR_ZERO, VX_LOCAL_CONSTANT, VX_OTHER_CONSTANT,
                      false);
    vxSetAlphaCombine(VX_COMBINE_LOCAL, VX_FACTOR_ZERO, VX_LOCAL_CONSTANT, VX_OTHER_CONSTANT,
                      false);
    vxSetAlphaBlend(VX_BLEND_ONE, VX_BLEND_ZERO, VX_BLEND_ONE, VX_BLEND_ZERO);
    vxSetAlphaTest(VX_CMP_ALWAYS);
    vxSetDepthFunction(VX_CMP_ALWAYS);
    vxSetDepthMask(false);
    vxSetOrigin(VX_ORIGIN_UPPER_LEFT);
    vxSetCullMode(VX_CULL_NONE);
    vxSetFogMode(VX_FOG_DISABLE);
    vxSetDitherMode(VX_DITHER_DISABLE);
    vxSetConstantColor(colour);
}

}  // namespace

void overlayDrawLines(const OverlayLine* lines, int count, std::uint32_t colour) {
    if (lines == nullptr || count <= 0) return;
    saveRenderState();
    setLineState(colour);
    for (int i = 0; i < count; ++i) {
        const OverlayLine& l = lines[i];
        const ScreenVertex a = {l.x0, l.y0, 1.0f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0u, 0u};
        const ScreenVertex b = {l.x1, l.y1, 1.0f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0u, 0u};
        vxDrawLine(&a, &b);
    }
    restoreRenderState();
}

void overlayDrawBox(float x0, float y0, float x1, float y1, std::uint32_t colour) {
    const OverlayLine sides[4] = {
        {x0, y0, x1, y0}, {x1, y0, x1, y1}, {x1, y1, x0, y1}, {x0, y1, x0, y0}};
    overlayDrawLines(sides, 4, colour);
}
