// The bounds hierarchy of a control mesh: axis-aligned boxes over square tiles of control
// points, a pyramid of levels from tiles of BOUNDS_TILE points up to one box for the whole
// mesh. Built when a surface is loaded, refitted above a point that moved; the surface pass
// culls whole quarters of the mesh with it. Entries: buildSurfaceBounds, refitSurfaceBounds,
// freeSurfaceBounds, boundsOfPoints.
#pragma once

#include <cstdint>

#include "geometry/vector.h"

struct Surface;

// Points per side of the finest tiles: small enough to cull close to the view's edge, large
// enough that the pyramid takes about 1/64 of a box per point.
constexpr int BOUNDS_TILE = 8;
// Levels of the pyramid at most: 8 << 24 points per side is past the reader's limit.
constexpr int BOUNDS_LEVELS_MAX = 25;

struct Box3 {
    Point3 lo, hi;
};

// Level L has columns[L] x rows[L] boxes, row-major from `level[L]`; the box of tile (c, r)
// at level L holds the points of columns c * S .. c * S + S - 1 and rows r * S .. r * S + S - 1
// (S = BOUNDS_TILE << L, clipped to the mesh). The last level has one box.
struct SurfaceBounds {
    std::int32_t levels;
    std::int32_t columns[BOUNDS_LEVELS_MAX];
    std::int32_t rows[BOUNDS_LEVELS_MAX];
    Box3* level[BOUNDS_LEVELS_MAX];   // into `boxes`
    Box3* boxes;                      // every level, one allocation, owned
};

// Builds surface.bounds from its points (replacing any it had). False, with no bounds (the
// surface is then culled patch by patch), when there is no memory.
bool buildSurfaceBounds(Surface& surface);
// Point (column, row) of the surface moved: its tile's box is made again and every box above
// it. Harmless when the surface has no bounds.
void refitSurfaceBounds(Surface& surface, int column, int row);
// Frees surface.bounds and clears the pointer.
void freeSurfaceBounds(Surface& surface);
// A box holding every point of columns c0 .. c1 and rows r0 .. r1 (inclusive, inside the mesh):
// the union of the at most 3 x 3 tiles of the lowest level where it touches no more.
Box3 boundsOfPoints(const SurfaceBounds& bounds, int c0, int r0, int c1, int r1);
