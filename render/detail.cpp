// Detail selection (static or distance-based step counts) and crack filling between drawn
// neighbours of different step counts, from the borders the tessellators saved. Entries:
// chooseStepCount, fillCracks. Reads renderOptions and the patches drawn in the pass
// (render/drawn.h); draws through drawPolygon.
#include "render/detail.h"

#include <cassert>

#include "render/drawn.h"
#include "render/emit.h"
#include "render/inspection.h"
#include "render/options.h"
#include "render/view.h"
#include "surface/surface.h"
#include "vexa/vexa.h"

namespace {

constexpr std::uint32_t FILL_GREEN = 0xFF00FF00u;

// The polygon between two borders: one border from its first to its last vertex, then the
// other border backwards without its two end vertices.
int fillBetween(const PatchEdge& along, int alongSteps, const PatchEdge& back, int backSteps) {
    const ScreenVertex* fillPolygon[POLYGON_MAX_VERTICES];
    int m = 0;
    for (int k = 0; k <= alongSteps; ++k) fillPolygon[m++] = &along.slot[k];
    for (int k = backSteps - 1; k >= 1; --k) fillPolygon[m++] = &back.slot[k];
    return m >= 3 ? drawPolygon(m, fillPolygon) : 0;
}

// The step count of a drawn neighbour whose borders were kept; 0 (no crack to fill) when they
// were not.
int bordersSteps(const PatchRecord& patch) {
    return patch.edges[EDGE_FIRST_U].slot != nullptr ? patch.steps : 0;
}

}  // namespace

int chooseStepCount(const PatchRecord& patch, const Point3& eye) {
    const bool bezier = renderOptions.surfaceType == SURFACE_BEZIER;
    if (!renderOptions.dynamicDetail) {
        int s = renderOptions.subdivisions;
        if (s < SUBDIVISIONS_MIN) s = SUBDIVISIONS_MIN;
        if (s > SUBDIVISIONS_MAX) s = SUBDIVISIONS_MAX;
        if (!bezier) return s;
        return 3 * s >= GRID_MAX_STEPS ? GRID_MAX_STEPS : 3 * s;
    }
    const Point4* mesh = patch.controlPoints;
    const int firstRow = (patch.lastRow - 3) * patch.width;
    const int lastRow = patch.lastRow * patch.width;
    const Point4& a = mesh[firstRow + patch.lastColumn - 3];
    const Point4& b = mesh[firstRow + patch.lastColumn];
    const Point4& c = mesh[lastRow + patch.lastColumn - 3];
    const Point4& d = mesh[lastRow + patch.lastColumn];
    const float cx = 0.25f * (a.x + b.x + c.x + d.x);
    const float cy = 0.25f * (a.y + b.y + c.y + d.y);
    const float cz = 0.25f * (a.z + b.z + c.z + d.z);
    const float dx = cx - eye.x;
    const float dy = cy - eye.y;
    const float dz = cz - eye.z;
    const float d2 = dx * dx + dy * dy + dz * dz;
    // A patch whose position is not a number gets the cheapest grid.
    if (d2 != d2) return 1;
    const float k = bezier ? DETAIL_K_BEZIER : DETAIL_K_BSPLINE;
    const float n = k * invSqrtFast(d2);
    // The clamps act on the float before the conversion: with the eye at the centre
    // (d2 = 0) the estimate is huge, infinite or NaN, none of which fits an int. The
    // negated compare sends those to the finest grid, 20.
    if (!(n < static_cast<float>(GRID_MAX_STEPS))) return GRID_MAX_STEPS;
    if (n < 1.0f) return 1;
    return static_cast<int>(n);
}

int surfaceCullMode(std::uint32_t inspect) {
    return (inspect & INSPECT_AUDIT_BOUNDS) != 0 ? VX_CULL_NONE : VX_CULL_NEGATIVE;
}

int fillCracks(Surface& surface, std::uint32_t inspect) {
    const int type = renderOptions.surfaceType;
    const int px = patchColumns(surface, type);
    const int py = patchRows(surface, type);
    if (px <= 0 || py <= 0 || surface.patchSlots == nullptr) return 0;
    vxSetCullMode(VX_CULL_NONE);
    const bool heatMap = (inspect & INSPECT_HEAT_MAP) != 0;
    if (renderOptions.gapFill == GAP_FILL_GREEN || heatMap) {
        vxSetColorCombine(VX_COMBINE_LOCAL, VX_FACTOR_ZERO, VX_LOCAL_CONSTANT, VX_OTHER_CONSTANT,
                          false);
        vxSetConstantColor(heatMap ? HEAT_CRACK_COLOUR : FILL_GREEN);
    }
    int triangles = 0;
    // Only the patches drawn in this pass, in the order they were drawn (row-major); a
    // neighbour that was not drawn has no record.
    const int drawn = drawnPatches.surface == &surface ? drawnPatches.count : 0;
    for (int slot = 0; slot < drawn; ++slot) {
        const DrawnPatch& entry = drawnPatchAt(slot);
        const PatchRecord& p = entry.record;
        const int m = p.steps;
        if (m == 0 || p.edges[EDGE_FIRST_U].slot == nullptr) continue;
        assert(m >= 1 && m <= GRID_MAX_STEPS);
        const int index = entry.index;
        const int a = index / px;
        const int b = index - a * px;
        // Neighbours in the same patch row were drawn just before and after this patch, when
        // they were drawn.
        if (b > 0) {
            const PatchRecord* l =
                slot > 0 && drawnPatchAt(slot - 1).index == index - 1 ? &drawnPatchAt(slot - 1).record
                                                                      : nullptr;
            const int k = l ? bordersSteps(*l) : 0;
            if (k != 0 && k != m) {
                triangles += fillBetween(l->edges[EDGE_LAST_U], k, p.edges[EDGE_FIRST_U], m);
            }
        }
        if (b < px - 1) {
            const PatchRecord* r =
                slot + 1 < drawn && drawnPatchAt(slot + 1).index == index + 1
                    ? &drawnPatchAt(slot + 1).record
                    : nullptr;
            const int k = r ? bordersSteps(*r) : 0;
            if (k != 0 && k != m) {
                triangles += fillBetween(p.edges[EDGE_LAST_U], m, r->edges[EDGE_FIRST_U], k);
            }
        }
        if (a > 0) {
            const PatchRecord* u = findDrawnPatch(surface, index - px);
            const int k = u ? bordersSteps(*u) : 0;
            if (k != 0 && k != m) {
                triangles += fillBetween(u->edges[EDGE_LAST_V], k, p.edges[EDGE_FIRST_V], m);
            }
        }
        if (a < py - 1) {
            const PatchRecord* d = findDrawnPatch(surface, index + px);
            const int k = d ? bordersSteps(*d) : 0;
            if (k != 0 && k != m) {
                triangles += fillBetween(p.edges[EDGE_LAST_V], m, d->edges[EDGE_FIRST_V], k);
            }
        }
    }
    vxSetCullMode(surfaceCullMode(inspect));
    return triangles;
}
