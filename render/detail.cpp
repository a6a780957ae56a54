// Detail selection (static or distance-based step counts) and crack filling between drawn
// neighbours of different step counts, from the borders the tessellators saved. Entries:
// chooseStepCount, fillCracks. Reads renderOptions and the patches drawn in the pass
// (render/drawn.h); draws through drawPolygon.
#include "render/detail.h"

#include <cassert>
#include <cmath>

#include "render/drawn.h"
#include "render/surfacepass.h"
#include "render/emit.h"
#include "render/tools.h"
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
    assert(alongSteps + backSteps <= POLYGON_MAX_VERTICES);
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

// Two drawn neighbours' shared border is the same numbers on both sides only when their
// grids are the same: the same step count and the same slide.
bool bordersDiffer(const PatchRecord& a, int aSteps, const PatchRecord& b, int bSteps) {
    return aSteps != bSteps || a.coarseness != b.coarseness;
}

// The squared distance from the eye to the centre of the patch's four corner control points,
// the distance both distance rules (whole and sliding) start from.
float centreDistanceSquared(const PatchRecord& patch, const Point3& eye) {
    const Point4* mesh = patch.controlPoints;
    const int firstRow = (patch.lastRow - 3) * patch.width;
    const int lastRow = patch.lastRow * patch.width;
    const Point4& a = mesh[firstRow + patch.lastColumn - 3];
    const Point4& b = mesh[firstRow + patch.lastColumn];
    const Point4& c = mesh[lastRow + patch.lastColumn - 3];
    const Point4& d = mesh[lastRow + patch.lastColumn];
    const float dx = 0.25f * (a.x + b.x + c.x + d.x) - eye.x;
    const float dy = 0.25f * (a.y + b.y + c.y + d.y) - eye.y;
    const float dz = 0.25f * (a.z + b.z + c.z + d.z) - eye.z;
    return dx * dx + dy * dy + dz * dz;
}

float length3(float x, float y, float z) { return std::sqrt(x * x + y * y + z * z); }

// The largest length of a second difference of the 4 x 4 points along rows (step 1) or
// columns (step 4), and of the mixed differences.
void secondDifferences(const Point4 q[16], float& alongRows, float& alongColumns, float& mixed) {
    alongRows = 0.0f;
    alongColumns = 0.0f;
    mixed = 0.0f;
    for (int a = 0; a < 4; ++a) {
        for (int b = 0; b < 2; ++b) {
            const Point4& r0 = q[a * 4 + b];
            const Point4& r1 = q[a * 4 + b + 1];
            const Point4& r2 = q[a * 4 + b + 2];
            alongRows = std::fmax(alongRows, length3(r0.x - 2.0f * r1.x + r2.x,
                                                     r0.y - 2.0f * r1.y + r2.y,
                                                     r0.z - 2.0f * r1.z + r2.z));
            const Point4& c0 = q[b * 4 + a];
            const Point4& c1 = q[(b + 1) * 4 + a];
            const Point4& c2 = q[(b + 2) * 4 + a];
            alongColumns = std::fmax(alongColumns, length3(c0.x - 2.0f * c1.x + c2.x,
                                                           c0.y - 2.0f * c1.y + c2.y,
                                                           c0.z - 2.0f * c1.z + c2.z));
        }
    }
    for (int a = 0; a < 3; ++a) {
        for (int b = 0; b < 3; ++b) {
            const Point4& p00 = q[a * 4 + b];
            const Point4& p01 = q[a * 4 + b + 1];
            const Point4& p10 = q[(a + 1) * 4 + b];
            const Point4& p11 = q[(a + 1) * 4 + b + 1];
            mixed = std::fmax(mixed, length3(p11.x - p10.x - p01.x + p00.x,
                                             p11.y - p10.y - p01.y + p00.y,
                                             p11.z - p10.z - p01.z + p00.z));
        }
    }
}

float meshFlatness(const Point4* mesh, const PatchRecord& patch, int surfaceType) {
    Point4 q[16];
    const Point4* first = mesh + (patch.lastRow - 3) * patch.width + (patch.lastColumn - 3);
    float sum = 0.0f;   // not a number when any coordinate is not, which fmax would drop
    for (int a = 0; a < 4; ++a) {
        for (int b = 0; b < 4; ++b) {
            q[a * 4 + b] = first[a * patch.width + b];
            sum += q[a * 4 + b].x + q[a * 4 + b].y + q[a * 4 + b].z;
        }
    }
    if (sum != sum) return sum;
    float rows, columns, mixed;
    secondDifferences(q, rows, columns, mixed);
    // The second derivative along a direction is a weighted mean (weights >= 0, sum 1) of the
    // second differences, times 6 for the Bezier form and 1 for the uniform B-spline form; the
    // mixed one likewise of the mixed differences, times 9 or 1. Over a triangle of a grid with
    // steps h the linear piece is within (Muu + 2 Muv + Mvv) h^2 / 8 of the surface.
    const bool bezier = surfaceType == SURFACE_BEZIER;
    const float second = bezier ? 6.0f : 1.0f;
    const float cross = bezier ? 9.0f : 1.0f;
    return 0.125f * (second * (rows + columns) + 2.0f * cross * mixed);
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
    const float d2 = centreDistanceSquared(patch, eye);
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

void buildDetailScale(DetailScale& scale, const Matrix4& frameMatrix, const ClipBounds& clip) {
    const float* m = frameMatrix.m;
    for (int k = 0; k < 4; ++k) {
        scale.xRow[k] = m[k];
        scale.yRow[k] = m[4 + k];
        scale.wRow[k] = m[12 + k];
    }
    // A screen coordinate is (row . p) / w, so a displacement d moves it by
    // ((row - x w-row) . d) / w at screen position x: the largest factor over the rectangle is
    // at one of its sides, and the two screen directions together give at most the root of
    // the sum of their squares.
    auto largest = [&](int row, float lo, float hi) {
        float best = 0.0f;
        for (float x : {lo, hi}) {
            best = std::fmax(best, length3(m[row] - x * m[12], m[row + 1] - x * m[13],
                                           m[row + 2] - x * m[14]));
        }
        return best;
    };
    const float ax = largest(0, clip.xMin, clip.xMax);
    const float ay = largest(4, clip.yMin, clip.yMax);
    scale.pixelsAtUnitDepth = std::sqrt(ax * ax + ay * ay);
    scale.nearW = clip.wNear > 0.0f ? clip.wNear : 1.0f;
}

float patchFlatness(const PatchRecord& patch, int surfaceType) {
    return meshFlatness(patch.controlPoints, patch, surfaceType);
}

float patchShadeError(const PatchRecord& patch, int surfaceType) {
    if (patch.controlNormals == nullptr) return 0.0f;
    return meshFlatness(patch.controlNormals, patch, surfaceType);
}

float patchScreenArea(const PatchRecord& patch, const DetailScale& scale) {
    const Point4* mesh = patch.controlPoints;
    const int firstRow = (patch.lastRow - 3) * patch.width;
    const int lastRow = patch.lastRow * patch.width;
    // Around the patch: first row's ends, then the last row's ends backwards.
    const Point4* corners[4] = {&mesh[firstRow + patch.lastColumn - 3],
                                &mesh[firstRow + patch.lastColumn],
                                &mesh[lastRow + patch.lastColumn],
                                &mesh[lastRow + patch.lastColumn - 3]};
    float x[4], y[4];
    for (int k = 0; k < 4; ++k) {
        const Point4& p = *corners[k];
        float w = scale.wRow[0] * p.x + scale.wRow[1] * p.y + scale.wRow[2] * p.z + scale.wRow[3];
        if (!(w >= scale.nearW)) w = w == w ? scale.nearW : w;
        x[k] = (scale.xRow[0] * p.x + scale.xRow[1] * p.y + scale.xRow[2] * p.z + scale.xRow[3]) / w;
        y[k] = (scale.yRow[0] * p.x + scale.yRow[1] * p.y + scale.yRow[2] * p.z + scale.yRow[3]) / w;
    }
    // Half the cross product of the diagonals: the area of any quadrilateral, folded or not.
    return 0.5f * std::fabs((x[2] - x[0]) * (y[3] - y[1]) - (y[2] - y[0]) * (x[3] - x[1]));
}

float chooseDetailLevel(const PatchRecord& patch, const Point3& eye, const DetailScale& scale) {
    const float top = static_cast<float>(GRID_MAX_STEPS);
    if (renderOptions.detailRule == DETAIL_SCREEN) {
        // The patch lies within its control points' hull, so its nearest point is no nearer
        // than the nearest control point.
        const Point4* first = patch.controlPoints + (patch.lastRow - 3) * patch.width +
                              (patch.lastColumn - 3);
        float nearest = 3.4e38f;
        for (int a = 0; a < 4; ++a) {
            for (int b = 0; b < 4; ++b) {
                const Point4& p = first[a * patch.width + b];
                const float w = scale.wRow[0] * p.x + scale.wRow[1] * p.y + scale.wRow[2] * p.z +
                                scale.wRow[3];
                nearest = std::fmin(nearest, w);
            }
        }
        if (nearest < scale.nearW) nearest = scale.nearW;
        const int type = renderOptions.surfaceType;
        const float tolerance = renderOptions.screenTolerance;
        // Geometry: error in pixels with the longest step 1 / level is
        // flatness * pixels / level^2, kept within the tolerance everywhere.
        const float pixels = patchFlatness(patch, type) * scale.pixelsAtUnitDepth / nearest;
        const float shape = std::sqrt(pixels / tolerance);
        // Shading: the grid's light strays from the patch's by shade / level^2 on each of the
        // patch's area pixels, whatever its depth. Spending triangles (level^2 of them) where
        // they take most of that error off the picture gives every patch the same
        // area * shade / level^4; the tolerance squared sets that figure.
        const float shade = std::sqrt(std::sqrt(patchScreenArea(patch, scale) *
                                                patchShadeError(patch, type)) /
                                      tolerance);
        const float level = std::fmax(shape, shade);
        if (!(level < top)) return level == level ? top : 1.0f;
        return level < 1.0f ? 1.0f : level;
    }
    const float d2 = centreDistanceSquared(patch, eye);
    if (d2 != d2) return 1.0f;
    const float k = renderOptions.surfaceType == SURFACE_BEZIER ? DETAIL_K_BEZIER
                                                                : DETAIL_K_BSPLINE;
    // One less than the distance rule's estimate: the whole count above it is the distance
    // rule's own count, so the smooth rule draws the same triangles, its grid sliding from the
    // count below (where the distance rule's count changes) to its own.
    const float level = k * invSqrtFast(d2) - 1.0f;
    if (!(level < top)) return top;
    return level < 1.0f ? 1.0f : level;
}

void setDetailLevel(PatchRecord& patch, float level) {
    if (!(level >= 1.0f)) level = 1.0f;
    if (level > static_cast<float>(GRID_MAX_STEPS)) level = static_cast<float>(GRID_MAX_STEPS);
    const int steps = static_cast<int>(std::ceil(level));
    patch.steps = steps;
    // A whole level is the even grid; a count of 1 has no step to shrink.
    const float shortfall = static_cast<float>(steps) - level;
    patch.coarseness = steps > 1 && shortfall > 0.0f ? shortfall : 0.0f;
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
    const DrawnPatches& pass = surfacePass.drawn;
    const int drawn = pass.surface == &surface ? pass.count : 0;
    for (int slot = 0; slot < drawn; ++slot) {
        const DrawnPatch& entry = drawnPatchAt(pass, slot);
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
                slot > 0 && drawnPatchAt(pass, slot - 1).index == index - 1
                    ? &drawnPatchAt(pass, slot - 1).record
                    : nullptr;
            const int k = l ? bordersSteps(*l) : 0;
            if (k != 0 && bordersDiffer(*l, k, p, m)) {
                triangles += fillBetween(l->edges[EDGE_LAST_U], k, p.edges[EDGE_FIRST_U], m);
            }
        }
        if (b < px - 1) {
            const PatchRecord* r =
                slot + 1 < drawn && drawnPatchAt(pass, slot + 1).index == index + 1
                    ? &drawnPatchAt(pass, slot + 1).record
                    : nullptr;
            const int k = r ? bordersSteps(*r) : 0;
            if (k != 0 && bordersDiffer(*r, k, p, m)) {
                triangles += fillBetween(p.edges[EDGE_LAST_U], m, r->edges[EDGE_FIRST_U], k);
            }
        }
        if (a > 0) {
            const PatchRecord* u = findDrawnPatch(pass, surface, index - px);
            const int k = u ? bordersSteps(*u) : 0;
            if (k != 0 && bordersDiffer(*u, k, p, m)) {
                triangles += fillBetween(u->edges[EDGE_LAST_V], k, p.edges[EDGE_FIRST_V], m);
            }
        }
        if (a < py - 1) {
            const PatchRecord* d = findDrawnPatch(pass, surface, index + px);
            const int k = d ? bordersSteps(*d) : 0;
            if (k != 0 && bordersDiffer(*d, k, p, m)) {
                triangles += fillBetween(p.edges[EDGE_LAST_V], m, d->edges[EDGE_FIRST_V], k);
            }
        }
    }
    vxSetCullMode(surfaceCullMode(inspect));
    return triangles;
}
