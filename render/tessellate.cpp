// Basis-table tessellator and what both tessellators share: the scratch record, the weight
// tables, the normal line, the border copies, the choice of the grid loops' path
// (surfacePass.gridPath) and the tables the vector paths read. Entry: tessellateBasis. Reads
// renderOptions, the view's matrix and light, surfacePass.lightingPath and surfacePass.gridPath;
// draws via emit.
#include "render/tessellate.h"

#include <array>
#include <cassert>
#include <utility>

#include "render/emit.h"
#include "render/grid.h"
#include "render/tools.h"
#include "render/options.h"
#include "render/shade.h"
#include "render/view.h"


namespace {

constexpr float ONE_SIXTH = 0.16666667f;

void loadPatchMatrices(PatchMatrices& out, const Point4* mesh, const PatchRecord& patch) {
    const Point4* first = mesh + (patch.lastRow - 3) * patch.width + (patch.lastColumn - 3);
    for (int k = 0; k < 4; ++k) {
        const Point4* row = first + k * patch.width;
        for (int l = 0; l < 4; ++l) {
            out.x[k][l] = row[l].x;
            out.y[k][l] = row[l].y;
            out.z[k][l] = row[l].z;
        }
    }
}

// (M B)[k] = sum over l of M[k][l] B[l].
inline void matrixTimesRow(float out[4], const float m[4][4], const float b[4]) {
    for (int k = 0; k < 4; ++k) {
        out[k] = m[k][0] * b[0] + m[k][1] * b[1] + m[k][2] * b[2] + m[k][3] * b[3];
    }
}

inline float dot4(const float a[4], const float b[4]) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2] + a[3] * b[3];
}

// The grid loops of tessellateBasis for one normal source, shading variant and lighting style.
template <bool POLY_NORMALS, int FLAGS, int STYLE>
void basisGrid(const VertexConstants& constants, int n, const PatchMatrices& pm,
               const PatchMatrices& nm, float sLo, float tLo, float stepS, float stepT) {
    float s = sLo;
    const BasisTable& basis = surfacePass.tessellation.basis;
    const DerivativeTable& derivative = surfacePass.tessellation.derivative;
    for (int i = 0; i <= n; ++i) {
        const float* b = basis.row[i];
        float cx[4], cy[4], cz[4];
        float mx[4], my[4], mz[4];
        matrixTimesRow(cx, pm.x, b);
        matrixTimesRow(cy, pm.y, b);
        matrixTimesRow(cz, pm.z, b);
        if constexpr (POLY_NORMALS) {
            const float* d = derivative.row[i];
            matrixTimesRow(mx, pm.x, d);
            matrixTimesRow(my, pm.y, d);
            matrixTimesRow(mz, pm.z, d);
        } else {
            matrixTimesRow(mx, nm.x, b);
            matrixTimesRow(my, nm.y, b);
            matrixTimesRow(mz, nm.z, b);
        }
        ScreenVertex* slot = &surfacePass.tessellation.grid[i * (n + 1)];
        float t = tLo;
        for (int j = 0; j <= n; ++j) {
            const float* bv = basis.row[j];
            const Point3 point = {dot4(cx, bv), dot4(cy, bv), dot4(cz, bv)};
            Point3 normal;
            if constexpr (POLY_NORMALS) {
                const float* dv = derivative.row[j];
                const Point3 pu = {dot4(mx, bv), dot4(my, bv), dot4(mz, bv)};
                const Point3 pv = {dot4(cx, dv), dot4(cy, dv), dot4(cz, dv)};
                // cross(pu, pv), written out so it inlines into the vertex loop.
                normal = {pu.y * pv.z - pu.z * pv.y, pu.z * pv.x - pu.x * pv.z,
                          pu.x * pv.y - pu.y * pv.x};
            } else {
                normal = {dot4(mx, bv), dot4(my, bv), dot4(mz, bv)};
            }
            shadeVertex<FLAGS, STYLE>(constants, slot[j], point, normal, s, t);
            t += stepT;
        }
        s += stepS;
    }
}

template <bool POLY, int STYLE, int... F>
constexpr BasisGridTable basisVariants(std::integer_sequence<int, F...>) {
    return {{basisGrid<POLY, F, STYLE>...}};
}
constexpr auto SHADE_VARIANTS = std::make_integer_sequence<int, SHADE_VARIANT_COUNT>{};

// [lighting style][poly normals][shading variant].
static_assert(LIGHTING_STYLE_COUNT == 2, "one row per lighting style");
constexpr BasisGridTable basisGrids[LIGHTING_STYLE_COUNT][2] = {
    {basisVariants<false, LIGHTING_SELECT>(SHADE_VARIANTS),
     basisVariants<true, LIGHTING_SELECT>(SHADE_VARIANTS)},
    {basisVariants<false, LIGHTING_INTEGER>(SHADE_VARIANTS),
     basisVariants<true, LIGHTING_INTEGER>(SHADE_VARIANTS)},
};

// The weights of the basis and derivative tables at one parameter, one place for the even
// grids and the sliding ones, so that the same parameter gives the same numbers.
void basisWeights(float w[4], float p, int surfaceType) {
    const float m = 1.0f - p;
    if (surfaceType == SURFACE_BEZIER) {
        w[0] = m * m * m;
        w[1] = 3.0f * p * m * m;
        w[2] = 3.0f * p * p * m;
        w[3] = p * p * p;
    } else {
        const float p2 = p * p;
        const float p3 = p2 * p;
        w[0] = m * m * m * ONE_SIXTH;
        w[1] = (3.0f * p3 - 6.0f * p2 + 4.0f) * ONE_SIXTH;
        w[2] = (-3.0f * p3 + 3.0f * p2 + 3.0f * p + 1.0f) * ONE_SIXTH;
        w[3] = p3 * ONE_SIXTH;
    }
}

void derivativeWeights(float d[4], float p, int surfaceType) {
    const float m = 1.0f - p;
    const float p2 = p * p;
    if (surfaceType == SURFACE_BEZIER) {
        d[0] = -3.0f * m * m;
        d[1] = 9.0f * p2 - 12.0f * p + 3.0f;
        d[2] = 6.0f * p - 9.0f * p2;
        d[3] = 3.0f * p2;
    } else {
        d[0] = (-3.0f * p2 + 6.0f * p - 3.0f) * ONE_SIXTH;
        d[1] = (9.0f * p2 - 12.0f * p) * ONE_SIXTH;
        d[2] = (-9.0f * p2 + 6.0f * p + 3.0f) * ONE_SIXTH;
        d[3] = 3.0f * p2 * ONE_SIXTH;
    }
}

}  // namespace

void buildBasisTable(BasisTable& table, int n, int surfaceType) {
    assert(n >= 1 && n <= GRID_MAX_STEPS);
    const float h = 1.0f / static_cast<float>(n);
    float p = 0.0f;
    for (int i = 0; i <= n; ++i) {
        // The last row is taken at exactly 1, where the sum of n steps may land a bit off:
        // there the weights are the first row's weights moved up by one control value (one
        // patch's end is its neighbour's start), so a shared border is the same numbers on
        // both sides.
        if (i == n) p = 1.0f;
        basisWeights(table.row[i], p, surfaceType);
        p += h;
    }
}

void buildDerivativeTable(DerivativeTable& table, int n, int surfaceType) {
    assert(n >= 1 && n <= GRID_MAX_STEPS);
    const float h = 1.0f / static_cast<float>(n);
    float p = 0.0f;
    for (int i = 0; i <= n; ++i) {
        if (i == n) p = 1.0f;   // as in buildBasisTable
        derivativeWeights(table.row[i], p, surfaceType);
        p += h;
    }
}

namespace {

// A sliding grid's texture coordinates: the grid loops step s and t evenly, so each vertex
// gets its own row's and column's parameter instead (s0 and t0 carry q like every vertex).
void retextureSlidingGrid(int n, const float* p, float sLo, float tLo, float sHi, float tHi) {
    for (int i = 0; i <= n; ++i) {
        const float s = sLo + (sHi - sLo) * p[i];
        ScreenVertex* row = &surfacePass.tessellation.grid[i * (n + 1)];
        for (int j = 0; j <= n; ++j) {
            const float t = tLo + (tHi - tLo) * p[j];
            row[j].s0 = s * row[j].q;
            row[j].t0 = t * row[j].q;
        }
    }
}

}  // namespace

void buildSlidingParameters(float p[GRID_MAX_SIDE], int n, float coarseness) {
    assert(n >= 1 && n <= GRID_MAX_STEPS);
    const float step = 1.0f / (static_cast<float>(n) - coarseness);
    const int shortStep = n / 2;
    float q = 0.0f;
    for (int i = 0; i < n; ++i) {
        p[i] = q;
        q += i == shortStep ? (1.0f - coarseness) * step : step;
    }
    p[n] = 1.0f;
}

void buildBasisTableAt(BasisTable& table, const float* p, int n, int surfaceType) {
    assert(n >= 1 && n <= GRID_MAX_STEPS);
    for (int i = 0; i <= n; ++i) basisWeights(table.row[i], p[i], surfaceType);
}

void buildDerivativeTableAt(DerivativeTable& table, const float* p, int n, int surfaceType) {
    assert(n >= 1 && n <= GRID_MAX_STEPS);
    for (int i = 0; i <= n; ++i) derivativeWeights(table.row[i], p[i], surfaceType);
}

void drawNormalLine(const ScreenVertex& slot, const Point3& point, const Point3& unitNormal) {
    ScreenVertex start;
    start.x = slot.x;
    start.y = slot.y;
    start.w = slot.w;
    start.q = slot.q;
    start.s0 = 0.0f;
    start.t0 = 0.0f;
    start.s1 = 0.0f;
    start.t1 = 0.0f;
    start.colour = NORMAL_LINE_COLOUR;
    start.flags = 0;
    const Point3 tip = {point.x + NORMAL_LINE_LENGTH * unitNormal.x,
                        point.y + NORMAL_LINE_LENGTH * unitNormal.y,
                        point.z + NORMAL_LINE_LENGTH * unitNormal.z};
    ScreenVertex& end = surfacePass.tessellation.normalTip;
    end.flags = 0;
    transformVertex(end, tip);
    end.colour = NORMAL_LINE_COLOUR;
    end.s0 = 0.0f;
    end.t0 = 0.0f;
    end.s1 = 0.0f;
    end.t1 = 0.0f;
    end.flags = 0;
    drawClippedLine(start, end);
}

void prepareBasisLanes(int n, bool polyNormals) {
    GridLaneTables& lanes = surfacePass.tessellation.lanes;
    for (int i = 0; i <= n; ++i) {
        for (int l = 0; l < 4; ++l) lanes.basis[l][i] = surfacePass.tessellation.basis.row[i][l];
    }
    if (!polyNormals) return;
    for (int i = 0; i <= n; ++i) {
        for (int l = 0; l < 4; ++l) {
            lanes.derivative[l][i] = surfacePass.tessellation.derivative.row[i][l];
        }
    }
}

void prepareTextureLanes(int n, float sLo, float tLo, float stepS, float stepT) {
    GridLaneTables& lanes = surfacePass.tessellation.lanes;
    float s = sLo;
    float t = tLo;
    for (int i = 0; i <= n; ++i) {
        lanes.s[i] = s;
        lanes.t[i] = t;
        s += stepS;
        t += stepT;
    }
}

bool useGridLanes(GridLanes lanes) {
    switch (lanes) {
        case GRID_LANES_SCALAR:
            surfacePass.gridPath = {nullptr, lanes};
            return true;
#if defined(VORL_BUILD_128)
        case GRID_LANES_128:
            surfacePass.gridPath = {&gridRoutines128, lanes};
            return true;
#endif
#if defined(VORL_BUILD_AVX2)
        case GRID_LANES_AVX2:
            surfacePass.gridPath = {&gridRoutinesAvx2, lanes};
            return true;
#endif
        default:
            return false;
    }
}

void chooseGridRoutines(const VxProcessor& features) {
    useGridLanes(GRID_LANES_SCALAR);
    if (features.hasSse41 || features.hasSimd128) useGridLanes(GRID_LANES_128);
    if (features.hasAvx2) useGridLanes(GRID_LANES_AVX2);
}

void copyPatchEdges(PatchRecord& patch) {
    // The surface pass lends every drawn patch its borders' room; without it (out of memory,
    // or a record used on its own) nothing is kept and crack filling passes the patch by.
    if (patch.edges[EDGE_FIRST_U].slot == nullptr) return;
    const int n = patch.steps;
    const int side = n + 1;
    const ScreenVertex* grid = surfacePass.tessellation.grid;
    for (int k = 0; k <= n; ++k) {
        patch.edges[EDGE_FIRST_U].slot[k] = grid[k];
        patch.edges[EDGE_LAST_U].slot[k] = grid[n * side + k];
        patch.edges[EDGE_FIRST_V].slot[k] = grid[k * side];
        patch.edges[EDGE_LAST_V].slot[k] = grid[k * side + n];
    }
}

void evaluatePatchGrid(const PatchRecord& patch, int surfaceType, bool polyNormals,
                       Point3* points, Point3* normals) {
    const int n = patch.steps;
    assert(n >= 1 && n <= GRID_MAX_STEPS);
    assert(patch.lastColumn >= 3 && patch.lastRow >= 3);
    // Tables of its own, so that drawing's scratch stays as the last patch drawn left it.
    BasisTable basis;
    DerivativeTable derivative;
    buildBasisTable(basis, n, surfaceType);
    if (polyNormals) buildDerivativeTable(derivative, n, surfaceType);
    PatchMatrices pm;
    PatchMatrices nm;
    loadPatchMatrices(pm, patch.controlPoints, patch);
    if (!polyNormals) loadPatchMatrices(nm, patch.controlNormals, patch);
    // The sums of basisGrid, in its order, so the points are the ones drawn.
    for (int i = 0; i <= n; ++i) {
        const float* b = basis.row[i];
        float cx[4], cy[4], cz[4];
        float mx[4], my[4], mz[4];
        matrixTimesRow(cx, pm.x, b);
        matrixTimesRow(cy, pm.y, b);
        matrixTimesRow(cz, pm.z, b);
        const PatchMatrices& m = polyNormals ? pm : nm;
        const float* w = polyNormals ? derivative.row[i] : b;
        matrixTimesRow(mx, m.x, w);
        matrixTimesRow(my, m.y, w);
        matrixTimesRow(mz, m.z, w);
        for (int j = 0; j <= n; ++j) {
            const float* bv = basis.row[j];
            const int k = i * (n + 1) + j;
            points[k] = {dot4(cx, bv), dot4(cy, bv), dot4(cz, bv)};
            if (polyNormals) {
                const float* dv = derivative.row[j];
                const Point3 pu = {dot4(mx, bv), dot4(my, bv), dot4(mz, bv)};
                const Point3 pv = {dot4(cx, dv), dot4(cy, dv), dot4(cz, dv)};
                normals[k] = {pu.y * pv.z - pu.z * pv.y, pu.z * pv.x - pu.x * pv.z,
                              pu.x * pv.y - pu.y * pv.x};
            } else {
                normals[k] = {dot4(mx, bv), dot4(my, bv), dot4(mz, bv)};
            }
        }
    }
}

int tessellateBasis(PatchRecord& patch, const View& view, float sLo, float tLo, float sHi,
                    float tHi) {
    const int n = patch.steps;
    assert(n >= 1 && n <= GRID_MAX_STEPS);
    assert(patch.lastColumn >= 3 && patch.lastRow >= 3);
    const int type = renderOptions.surfaceType;
    const bool polyNormals = !renderOptions.controlNormals;
    const float h = 1.0f / static_cast<float>(n);
    const bool sliding = patch.coarseness > 0.0f;
    float slid[GRID_MAX_SIDE];
    if (sliding) {
        buildSlidingParameters(slid, n, patch.coarseness);
        buildBasisTableAt(surfacePass.tessellation.basis, slid, n, type);
        if (polyNormals) buildDerivativeTableAt(surfacePass.tessellation.derivative, slid, n, type);
    } else {
        buildBasisTable(surfacePass.tessellation.basis, n, type);
        if (polyNormals) buildDerivativeTable(surfacePass.tessellation.derivative, n, type);
    }
    const float stepS = (sHi - sLo) * h;
    const float stepT = (tHi - tLo) * h;
    PatchMatrices points;
    PatchMatrices normals;
    loadPatchMatrices(points, patch.controlPoints, patch);
    if (!polyNormals) loadPatchMatrices(normals, patch.controlNormals, patch);
    const int style = surfacePass.lightingPath.style;
    const int normalSource = polyNormals ? 1 : 0;
    const int variant = shadeVariant();
    BasisGridRoutine grid = nullptr;
    const GridRoutines* routines = surfacePass.gridPath.routines;
    if (routines != nullptr) grid = routines->basis[style][normalSource][variant];
    if (grid == nullptr) grid = basisGrids[style][normalSource][variant];
    loadTransform(view.frameMatrix);
    VertexConstants constants;
    loadVertexConstants(constants, view.light);
    beginVertices();
    grid(constants, n, points, normals, sLo, tLo, stepS, stepT);
    if (sliding) retextureSlidingGrid(n, slid, sLo, tLo, sHi, tHi);
    endVertices();
    if (renderOptions.gapFill != GAP_NO_FILL) copyPatchEdges(patch);
    stageMark(TIMED_EMIT);
    return drawPatchGrid(patch);
}
