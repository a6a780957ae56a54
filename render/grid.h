// The tessellators' grid loops as routine tables, private to render/: the routine types, the
// patch's control values as matrices, the vector paths' tables (render/grid_avx2.cpp,
// render/grid_128.cpp, one body in render/grid_lanes.h) and the scalar helpers that lay a
// patch's tables out across the grid rows for them. The scalar loops (basisGrid in
// render/tessellate.cpp, forwardGrid in render/forward.cpp) stay the reference.
#pragma once

#include <array>
#include <utility>

#include "geometry/cpu.h"
#include "render/lighting.h"
#include "render/shade.h"
#include "render/surfacepass.h"
#include "render/tessellate.h"

// The patch's control values as 4 x 4 matrices, [control row k][control column l].
struct PatchMatrices {
    float x[4][4], y[4][4], z[4][4];
};

// basisGrid: constants, n, the points' and normals' matrices, sLo, tLo, stepS, stepT.
using BasisGridRoutine = void (*)(const VertexConstants&, int, const PatchMatrices&,
                                  const PatchMatrices&, float, float, float, float);
// forwardGrid: constants, n, sLo, tLo, stepS, stepT, h, h^2, h^3 (the rows made already).
using ForwardGridRoutine = void (*)(const VertexConstants&, int, float, float, float, float,
                                    float, float, float);
using BasisGridTable = std::array<BasisGridRoutine, SHADE_VARIANT_COUNT>;
using ForwardGridTable = std::array<ForwardGridRoutine, SHADE_VARIANT_COUNT>;

// One vector path's grid loops: basis[lighting style][poly normals][shading variant] and
// forward[lighting style][surface type][shading variant]. A null entry (the variants that
// draw normal lines) keeps the scalar loop.
struct GridRoutines {
    BasisGridTable basis[LIGHTING_STYLE_COUNT][2];
    ForwardGridTable forward[LIGHTING_STYLE_COUNT][2];
};

#if defined(VORL_BUILD_AVX2)
extern const GridRoutines gridRoutinesAvx2;
#endif
#if defined(VORL_BUILD_128)
extern const GridRoutines gridRoutines128;
#endif

// surfacePass.tessellation.lanes.basis (and .derivative with poly normals) from the weight
// tables built for n steps.
void prepareBasisLanes(int n, bool polyNormals);
// surfacePass.tessellation.lanes.s and .t: s of every row and t of every column, summed step by
// step as the scalar loops sum them.
void prepareTextureLanes(int n, float sLo, float tLo, float stepS, float stepT);
// surfacePass.tessellation.lanes' column cubics and end values of rows 0 .. n, made from the row
// cubics in surfacePass.tessellation.forward (filled for the patch) as the scalar loop makes
// them, for the surface type.
void prepareForwardLanes(int type, int n, float h, float h2, float h3);
