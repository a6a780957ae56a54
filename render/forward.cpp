// Forward-differencing tessellator: each cubic becomes a start value and three differences for
// the step 1/n, and every further sample costs three additions per coordinate. Entry:
// tessellateForward. Always shades with the control normals; shares shadeVertex's variants,
// the edge copies, drawPatchGrid and surfacePass.gridPath's choice of loops with the
// basis-table tessellator; prepareForwardLanes lays the rows out for the vector loops.
#include <array>
#include <cassert>
#include <utility>

#include "render/emit.h"
#include "render/grid.h"
#include "render/tools.h"
#include "render/options.h"
#include "render/shade.h"
#include "render/tessellate.h"
#include "render/view.h"

namespace {

constexpr float ONE_SIXTH = 0.16666667f;

// The cubic a p^3 + b p^2 + c p + d through the control values, turned into differences.
// Every entry is stored as a float; errors of the at most 20 steps accumulate in float.
template <int TYPE>
inline void convertControl(ForwardDifferences& out, float p0, float p1, float p2, float p3,
                           float h, float h2, float h3) {
    float a;
    float b;
    float c;
    float d;
    if constexpr (TYPE == SURFACE_BEZIER) {
        a = -p0 + 3.0f * p1 - 3.0f * p2 + p3;
        b = 3.0f * p0 - 6.0f * p1 + 3.0f * p2;
        c = 3.0f * p1 - 3.0f * p0;
        d = p0;
    } else {
        a = (-p0 + 3.0f * p1 - 3.0f * p2 + p3) * ONE_SIXTH;
        b = (3.0f * p0 - 6.0f * p1 + 3.0f * p2) * ONE_SIXTH;
        c = (3.0f * p2 - 3.0f * p0) * ONE_SIXTH;
        d = (p0 + 4.0f * p1 + p2) * ONE_SIXTH;
    }
    const float ah3 = a * h3;
    const float bh2 = b * h2;
    out.value = d;
    out.first = ah3 + bh2 + c * h;
    out.second = 6.0f * ah3 + 2.0f * bh2;
    out.third = 6.0f * ah3;
}

// The cubic's value at parameter 1, with the operations the next patch uses for its value
// at 0 (the start value of convertControl with the control values shifted by one patch):
// stepping n times in single precision ends slightly off that value, and the difference
// opened pinholes along the seams.
template <int TYPE>
inline float endValue(float p0, float p1, float p2, float p3) {
    if constexpr (TYPE == SURFACE_BEZIER) {
        (void)p0;
        (void)p1;
        (void)p2;
        return p3;   // the next patch's first control value
    } else {
        (void)p0;
        return (p1 + 4.0f * p2 + p3) * ONE_SIXTH;
    }
}

// Row cubics (along u) of the patch's four control rows, for x, y and z, and their end values.
template <int TYPE>
void fillRows(ForwardDifferences rows[4][3], float ends[4][3], const Point4* mesh,
              const PatchRecord& patch, float h, float h2, float h3) {
    const Point4* first = mesh + (patch.lastRow - 3) * patch.width + (patch.lastColumn - 3);
    for (int k = 0; k < 4; ++k) {
        const Point4* c = first + k * patch.width;
        convertControl<TYPE>(rows[k][0], c[0].x, c[1].x, c[2].x, c[3].x, h, h2, h3);
        convertControl<TYPE>(rows[k][1], c[0].y, c[1].y, c[2].y, c[3].y, h, h2, h3);
        convertControl<TYPE>(rows[k][2], c[0].z, c[1].z, c[2].z, c[3].z, h, h2, h3);
        ends[k][0] = endValue<TYPE>(c[0].x, c[1].x, c[2].x, c[3].x);
        ends[k][1] = endValue<TYPE>(c[0].y, c[1].y, c[2].y, c[3].y);
        ends[k][2] = endValue<TYPE>(c[0].z, c[1].z, c[2].z, c[3].z);
    }
}

// Reads the current values of the four rows' sets (their end values on the last step), steps
// them, and makes the column cubic (along v) from those values as control values, with its
// end value beside it.
template <int TYPE>
inline void advanceRows(ForwardDifferences column[3], float columnEnd[3],
                        ForwardDifferences rows[4][3], const float rowEnds[4][3], bool last,
                        float h, float h2, float h3) {
    float value[4][3];
    for (int k = 0; k < 4; ++k) {
        for (int c = 0; c < 3; ++c) {
            value[k][c] = last ? rowEnds[k][c] : rows[k][c].value;
            stepForward(rows[k][c]);
        }
    }
    for (int c = 0; c < 3; ++c) {
        convertControl<TYPE>(column[c], value[0][c], value[1][c], value[2][c], value[3][c], h,
                             h2, h3);
        columnEnd[c] = endValue<TYPE>(value[0][c], value[1][c], value[2][c], value[3][c]);
    }
}

template <int TYPE, int FLAGS, int STYLE>
void forwardGrid(const VertexConstants& constants, int n, float sLo, float tLo, float stepS,
                 float stepT, float h, float h2, float h3) {
    ForwardTables& ft = surfacePass.tessellation.forward;
    float s = sLo;
    for (int i = 0; i <= n; ++i) {
        float pointEnd[3];
        float normalEnd[3];
        advanceRows<TYPE>(ft.pointColumn, pointEnd, ft.pointRow, ft.pointRowEnd, i == n, h, h2,
                          h3);
        advanceRows<TYPE>(ft.normalColumn, normalEnd, ft.normalRow, ft.normalRowEnd, i == n, h,
                          h2, h3);
        // The column cubics are stepped in locals, which the stores into the grid cannot
        // touch; the next row makes its own from the row cubics.
        ForwardDifferences pointColumn[3] = {ft.pointColumn[0], ft.pointColumn[1],
                                             ft.pointColumn[2]};
        ForwardDifferences normalColumn[3] = {ft.normalColumn[0], ft.normalColumn[1],
                                              ft.normalColumn[2]};
        ScreenVertex* slot = &surfacePass.tessellation.grid[i * (n + 1)];
        float t = tLo;
        for (int j = 0; j < n; ++j) {
            const Point3 point = {pointColumn[0].value, pointColumn[1].value,
                                  pointColumn[2].value};
            const Point3 normal = {normalColumn[0].value, normalColumn[1].value,
                                   normalColumn[2].value};
            for (int c = 0; c < 3; ++c) {
                stepForward(pointColumn[c]);
                stepForward(normalColumn[c]);
            }
            shadeVertex<FLAGS, STYLE>(constants, slot[j], point, normal, s, t);
            t += stepT;
        }
        // The last vertex of the row lies on the border with the next patch row: its value
        // is the column cubic's end, not the n-th step.
        const Point3 point = {pointEnd[0], pointEnd[1], pointEnd[2]};
        const Point3 normal = {normalEnd[0], normalEnd[1], normalEnd[2]};
        shadeVertex<FLAGS, STYLE>(constants, slot[n], point, normal, s, t);
        s += stepS;
    }
}

template <int TYPE, int STYLE, int... F>
constexpr ForwardGridTable forwardVariants(std::integer_sequence<int, F...>) {
    return {{forwardGrid<TYPE, F, STYLE>...}};
}
constexpr auto SHADE_VARIANTS = std::make_integer_sequence<int, SHADE_VARIANT_COUNT>{};

// [lighting style][surface type][shading variant]; SURFACE_BEZIER is 0, SURFACE_BSPLINE 1.
static_assert(SURFACE_BEZIER == 0 && SURFACE_BSPLINE == 1, "indexed by surface type");
static_assert(LIGHTING_STYLE_COUNT == 2, "one row per lighting style");
constexpr ForwardGridTable forwardGrids[LIGHTING_STYLE_COUNT][2] = {
    {forwardVariants<SURFACE_BEZIER, LIGHTING_SELECT>(SHADE_VARIANTS),
     forwardVariants<SURFACE_BSPLINE, LIGHTING_SELECT>(SHADE_VARIANTS)},
    {forwardVariants<SURFACE_BEZIER, LIGHTING_INTEGER>(SHADE_VARIANTS),
     forwardVariants<SURFACE_BSPLINE, LIGHTING_INTEGER>(SHADE_VARIANTS)},
};

// The scalar loop's rows for prepareForwardLanes: each row's column cubics and end values.
template <int TYPE>
void fillColumnLanes(int n, float h, float h2, float h3) {
    ForwardTables& ft = surfacePass.tessellation.forward;
    GridLaneTables& lanes = surfacePass.tessellation.lanes;
    for (int i = 0; i <= n; ++i) {
        float pointEnd[3];
        float normalEnd[3];
        advanceRows<TYPE>(ft.pointColumn, pointEnd, ft.pointRow, ft.pointRowEnd, i == n, h, h2,
                          h3);
        advanceRows<TYPE>(ft.normalColumn, normalEnd, ft.normalRow, ft.normalRowEnd, i == n, h,
                          h2, h3);
        for (int c = 0; c < 3; ++c) {
            const ForwardDifferences& p = ft.pointColumn[c];
            const ForwardDifferences& m = ft.normalColumn[c];
            lanes.pointColumn[c][0][i] = p.value;
            lanes.pointColumn[c][1][i] = p.first;
            lanes.pointColumn[c][2][i] = p.second;
            lanes.pointColumn[c][3][i] = p.third;
            lanes.normalColumn[c][0][i] = m.value;
            lanes.normalColumn[c][1][i] = m.first;
            lanes.normalColumn[c][2][i] = m.second;
            lanes.normalColumn[c][3][i] = m.third;
            lanes.pointEnd[c][i] = pointEnd[c];
            lanes.normalEnd[c][i] = normalEnd[c];
        }
    }
}

}  // namespace

void prepareForwardLanes(int type, int n, float h, float h2, float h3) {
    if (type == SURFACE_BEZIER) {
        fillColumnLanes<SURFACE_BEZIER>(n, h, h2, h3);
    } else {
        fillColumnLanes<SURFACE_BSPLINE>(n, h, h2, h3);
    }
}

int tessellateForward(PatchRecord& patch, const View& view, float sLo, float tLo, float sHi,
                      float tHi) {
    const int n = patch.steps;
    assert(n >= 1 && n <= GRID_MAX_STEPS);
    assert(patch.lastColumn >= 3 && patch.lastRow >= 3);
    const float h = 1.0f / static_cast<float>(n);
    const float h2 = h * h;
    const float h3 = h2 * h;
    const bool bezier = renderOptions.surfaceType == SURFACE_BEZIER;
    ForwardTables& ft = surfacePass.tessellation.forward;
    if (bezier) {
        fillRows<SURFACE_BEZIER>(ft.pointRow, ft.pointRowEnd, patch.controlPoints, patch, h,
                                 h2, h3);
        fillRows<SURFACE_BEZIER>(ft.normalRow, ft.normalRowEnd, patch.controlNormals, patch, h,
                                 h2, h3);
    } else {
        fillRows<SURFACE_BSPLINE>(ft.pointRow, ft.pointRowEnd, patch.controlPoints, patch, h,
                                  h2, h3);
        fillRows<SURFACE_BSPLINE>(ft.normalRow, ft.normalRowEnd, patch.controlNormals, patch, h,
                                  h2, h3);
    }
    const float stepS = (sHi - sLo) * h;
    const float stepT = (tHi - tLo) * h;
    const int style = surfacePass.lightingPath.style;
    const int type = bezier ? SURFACE_BEZIER : SURFACE_BSPLINE;
    const int variant = shadeVariant();
    ForwardGridRoutine grid = nullptr;
    const GridRoutines* routines = surfacePass.gridPath.routines;
    if (routines != nullptr) grid = routines->forward[style][type][variant];
    if (grid == nullptr) grid = forwardGrids[style][type][variant];
    loadTransform(view.frameMatrix);
    VertexConstants constants;
    loadVertexConstants(constants, view.light);
    beginVertices();
    grid(constants, n, sLo, tLo, stepS, stepT, h, h2, h3);
    endVertices();
    if (renderOptions.gapFill != GAP_NO_FILL) copyPatchEdges(patch);
    stageMark(TIMED_EMIT);
    return drawPatchGrid(patch);
}
