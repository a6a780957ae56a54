// What both tessellators share: the scratch record (vertex grid, weight tables, forward
// differences), the border copies, and the two tessellators' entry points (the per-vertex
// finishing step is render/shade.h's). The patch records
// themselves belong to the surfaces that own them (surface/surface.h).
#pragma once

#include <cstdint>

#include "geometry/transform.h"
#include "geometry/vector.h"
#include "render/lighting.h"
#include "surface/surface.h"

struct View;

// The four cubic weights (or their derivatives) at p_i for rows 0 .. n, p_0 = 0,
// p_(i+1) = p_i + 1/n and p_n = 1 exactly, so that a patch's last row and its neighbour's
// first row weigh their shared control values alike. Rebuilt per call for the patch's n.
struct BasisTable {
    float row[GRID_MAX_SIDE][4];
};
struct DerivativeTable {
    float row[GRID_MAX_SIDE][4];
};

// One coordinate of one cubic for forward differencing: value and three differences.
struct ForwardDifferences {
    float value, first, second, third;
};
// Row cubics (4 control rows x x, y, z) and the column cubic of the current u step, for points
// and for normals; and each row cubic's value at the end of the patch (u = 1), computed the way
// the next patch computes its start, so a shared border comes out bit for bit the same.
struct ForwardTables {
    ForwardDifferences pointRow[4][3];
    ForwardDifferences normalRow[4][3];
    ForwardDifferences pointColumn[3];
    ForwardDifferences normalColumn[3];
    float pointRowEnd[4][3];
    float normalRowEnd[4][3];
};

// The grid's rows rounded up to a whole number of the widest vector path's lanes (8).
constexpr int GRID_LANE_SIDE = 24;
static_assert(GRID_LANE_SIDE >= GRID_MAX_SIDE && GRID_LANE_SIDE % 8 == 0);

// What the vector paths read across the grid rows i (lane k of a group is row i0 + k): the
// weights by weight index, s of each row and t of each column, and for forward differencing
// each row's column cubic (value and three differences per coordinate) and end values. Rows
// past n hold whatever is left; their lanes are computed but never stored.
struct GridLaneTables {
    alignas(32) float basis[4][GRID_LANE_SIDE];
    alignas(32) float derivative[4][GRID_LANE_SIDE];
    alignas(32) float s[GRID_LANE_SIDE];
    alignas(32) float t[GRID_LANE_SIDE];
    alignas(32) float pointColumn[3][4][GRID_LANE_SIDE];
    alignas(32) float normalColumn[3][4][GRID_LANE_SIDE];
    alignas(32) float pointEnd[3][GRID_LANE_SIDE];
    alignas(32) float normalEnd[3][GRID_LANE_SIDE];
};

// The tessellators' scratch, one instance, rebuilt for every patch. grid is the vertex grid
// shared by both tessellators: vertex (i, j) of a patch with n steps is element i * (n + 1) + j,
// valid until the next patch. normalTip is the normal line's far end: it is the batch's pending
// vertex after the line is drawn, so it must outlive the vertex's shading until the next
// transformVertex or endVertices completes its clip code.
struct TessellationScratch {
    ScreenVertex grid[GRID_MAX_SIDE * GRID_MAX_SIDE];
    BasisTable basis;
    DerivativeTable derivative;
    ForwardTables forward;
    GridLaneTables lanes;
    ScreenVertex normalTip;
};

// The paths of the tessellators' grid loops: the scalar loops (the reference, and the only
// path with VEXA_PATH=portable or without the extensions), 128-bit vectors (SSE4.1, WebAssembly
// SIMD) and AVX2. Every path writes the same bytes.
enum GridLanes : std::int32_t { GRID_LANES_SCALAR = 0, GRID_LANES_128, GRID_LANES_AVX2,
                                GRID_LANES_COUNT };

// The grid loops in use, chosen once at start-up: routines null (all-zero) is the scalar path;
// otherwise its entries replace the scalar loops where they are not null.
struct GridRoutines;
struct GridPath {
    const GridRoutines* routines;
    GridLanes lanes;
};

// Makes lanes the path in use; false, leaving the path as it was, when this build has no such
// path. The caller answers for the processor running it (chooseGridRoutines asks the features).
bool useGridLanes(GridLanes lanes);
// The widest path the features allow: AVX2, else SSE4.1 or WebAssembly SIMD, else scalar.
void chooseGridRoutines(const VxProcessor& features);

// Rows 0 .. n of the weights for the surface type, n 1..20.
void buildBasisTable(BasisTable& table, int n, int surfaceType);
void buildDerivativeTable(DerivativeTable& table, int n, int surfaceType);

// The parameters 0 .. 1 of rows 0 .. n of a grid that slides (coarseness > 0, see
// PatchRecord): every step 1 / (n - coarseness) long except the middle one (n / 2), which is
// (1 - coarseness) of that; p[0] = 0 and p[n] = 1 exactly.
void buildSlidingParameters(float p[GRID_MAX_SIDE], int n, float coarseness);
// Rows 0 .. n of the weights (or their derivatives) at the parameters p, n 1..20: at the even
// grid's parameters, the same numbers as buildBasisTable and buildDerivativeTable.
void buildBasisTableAt(BasisTable& table, const float* p, int n, int surfaceType);
void buildDerivativeTableAt(DerivativeTable& table, const float* p, int n, int surfaceType);

// value += first; first += second; second += third.
inline void stepForward(ForwardDifferences& d) {
    d.value += d.first;
    d.first += d.second;
    d.second += d.third;
}

// Tessellate with basis tables / forward differences, shade with the view's light, project with
// its matrix, draw, return the triangles drawn. patch.steps is 1..20; s and t span the patch's
// texture rectangle.
int tessellateBasis(PatchRecord& patch, const View& view, float sLo, float tLo, float sHi,
                    float tHi);
int tessellateForward(PatchRecord& patch, const View& view, float sLo, float tLo, float sHi,
                      float tHi);

// The patch's grid in model space as tessellateBasis forms it before shading, for patch.steps
// (1..20) steps: the point and the normal (not unit length: control normals blended, or the
// cross product of the two derivatives under poly normals) of vertex (i, j) at
// i * (steps + 1) + j, i along the patch's control columns, j along its rows. Reads the patch's
// controlPoints, controlNormals, width, lastColumn and lastRow; draws nothing.
void evaluatePatchGrid(const PatchRecord& patch, int surfaceType, bool polyNormals,
                       Point3* points, Point3* normals);

// Copies the grid's four borders into patch.edges (steps + 1 slots each) when the record has
// room for them.
void copyPatchEdges(PatchRecord& patch);
