// What both tessellators share: PatchRecord, PatchEdge, the 21 x 21 VertexGrid, the per-vertex
// finishing step shadeAndProject, packVertexColor and normalizeFast; and the two
// tessellators' entry points.
#pragma once

#include <cstdint>

#include "geometry/transform.h"
#include "geometry/vector.h"

struct Point4;

constexpr int GRID_MAX_STEPS = 20;
constexpr int GRID_MAX_SIDE = GRID_MAX_STEPS + 1;   // 21 samples per side

enum PatchEdgeIndex { EDGE_FIRST_U = 0, EDGE_LAST_U, EDGE_FIRST_V, EDGE_LAST_V, EDGE_COUNT };

// One saved border of a patch's grid; slots 0 .. steps are valid.
struct PatchEdge {
    ScreenVertex slot[GRID_MAX_SIDE];
};

struct PatchRecord {
    const Point4* controlPoints;    // the surface's points, row-major
    const Point4* controlNormals;   // the surface's normals, same layout
    std::int32_t width;             // row stride of the mesh
    std::int32_t lastColumn;        // control columns lastColumn - 3 .. lastColumn
    std::int32_t lastRow;           // control rows lastRow - 3 .. lastRow
    std::int32_t steps;             // 1..20 this frame; 0 = not drawn
    PatchEdge edges[EDGE_COUNT];
};

// Vertex (i, j) of a patch with n steps is element i * (n + 1) + j.
extern ScreenVertex vertexGrid[GRID_MAX_SIDE * GRID_MAX_SIDE];

// The four cubic weights (or their derivatives) at p_i for rows 0 .. n, p_0 = 0 and
// p_(i+1) = p_i + 1/n, so p_n is 1 only up to rounding. Rebuilt per call for the patch's n.
struct BasisTable {
    float row[GRID_MAX_SIDE][4];
};
struct DerivativeTable {
    float row[GRID_MAX_SIDE][4];
};
extern BasisTable basisTable;
extern DerivativeTable derivativeTable;

// Rows 0 .. n of the weights for the surface type (SurfaceType of app/options.h), n 1..20.
void buildBasisTable(BasisTable& table, int n, int surfaceType);
void buildDerivativeTable(DerivativeTable& table, int n, int surfaceType);

// One coordinate of one cubic for forward differencing: value and three differences.
struct ForwardDifferences {
    float value, first, second, third;
};
// Scratch of tessellateForward: row cubics (4 control rows x x, y, z) and the column cubic of
// the current u step, for points and for normals. Rebuilt on every call.
struct ForwardTables {
    ForwardDifferences pointRow[4][3];
    ForwardDifferences normalRow[4][3];
    ForwardDifferences pointColumn[3];
    ForwardDifferences normalColumn[3];
};
extern ForwardTables forwardTables;

// Differences for step h (h2 = h * h, h3 = h2 * h as floats) of the cubic whose control
// values in parameter order are p0..p3, for the surface type.
void forwardFromControl(ForwardDifferences& out, float p0, float p1, float p2, float p3,
                        int surfaceType, float h, float h2, float h3);
// value += first; first += second; second += third.
inline void stepForward(ForwardDifferences& d) {
    d.value += d.first;
    d.first += d.second;
    d.second += d.third;
}

// Tessellate with basis tables / forward differences, draw, return the triangles drawn.
// patch.steps is 1..20; s and t span the patch's texture rectangle.
int tessellateBasis(PatchRecord& patch, float sLo, float tLo, float sHi, float tHi);
int tessellateForward(PatchRecord& patch, float sLo, float tLo, float sHi, float tHi);

// Normalises, lights, transforms and textures one grid vertex (point and normal in model
// space); draws its normal line when that option is on.
void shadeAndProject(ScreenVertex& slot, const Point3& point, Point3 normal, float s, float t);
// Diffuse byte in red, green and blue, specular byte in alpha (both intensities 0..1).
std::uint32_t packVertexColor(float specular, float diffuse);
// v scaled by invSqrtFast of its squared length.
void normalizeFast(Point3& v);
// Copies the grid's four borders into patch.edges (steps + 1 slots each).
void copyPatchEdges(PatchRecord& patch);
