// The output's verbs: open at start-up (the asked-for mode or the fallbacks), open one mode,
// switch between the start-up and the alternate mode, close, and the fixed render state of an
// open output. The size of a mode is the rasterizer's (vxResolutionSize), never a table here.
#include "display/output.h"

#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <new>

#include "display/device.h"
#include "display/display.h"

namespace {

// How dense the fog gets with distance (exp2 table over w).
constexpr float FOG_DENSITY = 0.007f;

// Opens `mode` in `window`: the device's colour-buffer count first, then 2.
VxContext openContext(HWND window, int mode, int refresh) {
    VxContext context = vxOpenWindow(window, mode, refresh, VX_COLORFORMAT_ABGR,
                                     VX_ORIGIN_UPPER_LEFT, display.device.colourBufferCount, 1);
    if (context == 0) {
        context = vxOpenWindow(window, mode, refresh, VX_COLORFORMAT_ABGR, VX_ORIGIN_UPPER_LEFT,
                               2, 1);
    }
    return context;
}

}  // namespace

bool outputOpenMode(int mode) {
    OutputState& out = display.output;
    int width = 0, height = 0;
    if (!vxResolutionSize(mode, &width, &height)) return false;
    const VxContext context = openContext(out.window, mode, out.refresh);
    if (context == 0) return false;
    out.context = context;
    out.mode = mode;
    out.width = width;
    out.height = height;
    return true;
}

bool outputOpen() {
    OutputState& out = display.output;
    bool opened = false;
    if (out.modeGiven) {
        opened = outputOpenMode(out.requestedMode);
    } else {
        // One texture unit cannot keep up at the largest mode: start from the second.
        const int first = textureUnitCount() == 1 ? 1 : 0;
        for (int i = first; i < static_cast<int>(std::size(OUTPUT_FALLBACK_MODES)) && !opened;
             ++i) {
            opened = outputOpenMode(OUTPUT_FALLBACK_MODES[i]);
        }
    }
    if (!opened) return false;
    out.startupMode = out.mode;
    out.alternateMode = OUTPUT_ALTERNATE_MODE;
    return true;
}

int outputSwitchTarget() {
    const OutputState& out = display.output;
    return out.mode == out.alternateMode ? out.startupMode : out.alternateMode;
}

bool outputSwitch() {
    const int target = outputSwitchTarget();
    outputClose();
    return outputOpenMode(target);
}

void outputClose() {
    if (display.output.context != 0) vxCloseWindow(display.output.context);
    display.output.context = 0;
}

void outputSetFixedState() {
    const int units = textureUnitCount() >= 2 ? 2 : 1;
    for (int unit = 0; unit < units; ++unit) {
        vxSetTexFilter(unit, VX_FILTER_BILINEAR, VX_FILTER_BILINEAR);
        vxSetTexLodBias(unit, 0.5f);
        vxSetTexMipMapMode(unit, VX_MIPMAP_NEAREST, false);
        vxSetTexClamp(unit, VX_TEXCLAMP_WRAP, VX_TEXCLAMP_WRAP);
    }
    vxSetAlphaTestReference(255);
    vxSetCullMode(VX_CULL_NEGATIVE);
    vxSetDepthMode(VX_DEPTH_WBUFFER);
    vxSetDepthFunction(VX_CMP_LEQUAL);
    vxSetDepthMask(true);
    vxSetAlphaTest(VX_CMP_ALWAYS);
    vxSetClipWindow(0, 0, display.output.width, display.output.height);
    vxSetCoordinateSpace(VX_WINDOW_COORDS);
    declareVertexLayout();

    std::int32_t entries = 0;
    vxQuery(VX_QUERY_FOG_TABLE_ENTRIES, 4, &entries);
    // The table maker always fills the board's full table, so never allocate less than that.
    const int size = entries > VX_FOG_TABLE_ENTRIES ? entries : VX_FOG_TABLE_ENTRIES;
    std::uint8_t* fogTable = new (std::nothrow) std::uint8_t[size];
    if (fogTable == nullptr) std::exit(EXIT_FATAL);
    vxMakeFogTableExp2(fogTable, FOG_DENSITY);
    vxSetFogTable(fogTable);
    delete[] fogTable;
    vxSetFogColor(0);
    vxSetFogMode(VX_FOG_WTABLE);
}
