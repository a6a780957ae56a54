// Control meshes: Surface and SurfaceList with the patch records each surface owns, the
// surface type, the surface text file reader and writer, and the release of all surface memory
// (which also forgets the picked control point). The list itself belongs to the scene.
#pragma once

#include <cstddef>
#include <cstdint>

#include "geometry/transform.h"
#include "geometry/vector.h"

// How every surface is evaluated; one run-time setting for all surfaces.
enum SurfaceType : std::int32_t { SURFACE_BEZIER = 0, SURFACE_BSPLINE = 1 };

// A patch is cut into at most 20 steps per side, so its grid has at most 21 samples per side.
constexpr int GRID_MAX_STEPS = 20;
constexpr int GRID_MAX_SIDE = GRID_MAX_STEPS + 1;

enum PatchEdgeIndex { EDGE_FIRST_U = 0, EDGE_LAST_U, EDGE_FIRST_V, EDGE_LAST_V, EDGE_COUNT };

// One saved border of a patch's grid: slots 0 .. steps, in storage lent to the record for
// the pass (steps + 1 vertices, so a coarse patch takes little room); null when none is lent,
// and then the tessellators keep no border.
struct PatchEdge {
    ScreenVertex* slot;
};

// The working record of one patch drawn in the current pass: where its control points are,
// which patch of the mesh it is and its step count (filled by the surface pass), and its four
// borders (written by the tessellators, read by crack filling). The surface pass keeps these
// only for the patches it draws (render/drawn.h); the mesh keeps none.
struct PatchRecord {
    const Point4* controlPoints;    // the surface's points, row-major
    const Point4* controlNormals;   // the surface's normals, same layout
    std::int32_t width;             // row stride of the mesh
    std::int32_t lastColumn;        // control columns lastColumn - 3 .. lastColumn
    std::int32_t lastRow;           // control rows lastRow - 3 .. lastRow
    std::int32_t steps;             // 1..20 this frame; 0 = not drawn
    // 0: the even grid of `steps`; 0 < coarseness < 1: one step (the middle one) is shorter by
    // this fraction of a step and the others share what it gave up, so that the grid slides
    // from the even grid of steps - 1 (towards 1) to the even grid of steps (at 0).
    float coarseness;
    PatchEdge edges[EDGE_COUNT];
};

// Room for four borders at the finest step count, for a record used on its own.
struct PatchBorderStore {
    ScreenVertex slot[EDGE_COUNT][GRID_MAX_SIDE];
};
// Lends `store` to the record's four borders.
inline void lendPatchBorders(PatchRecord& patch, PatchBorderStore& store) {
    for (int e = 0; e < EDGE_COUNT; ++e) patch.edges[e].slot = store.slot[e];
}

// Limits of the reader. Two points per side are the least the normals can be computed from;
// the upper limits keep a hostile file from asking for more memory than any real mesh needs
// (16M points are 512 MB of points and normals).
constexpr int SURFACE_MIN_SIDE = 2;
constexpr long long SURFACE_MAX_POINTS = 1LL << 24;   // width * height
constexpr long long SURFACE_MAX_COUNT = 1LL << 20;    // surfaces in one file
// Largest coordinate a point may have. Beyond about 1e8 the squared lengths of the normals the
// tessellators form from a patch's derivatives overflow single precision; a million mesh
// units (twenty million world units at the default scale) lies far past any far plane.
constexpr float SURFACE_MAX_COORDINATE = 1.0e6f;

struct SurfaceBounds;

// One control mesh, row-major: the point of column c, row r is element r * width + c.
struct Surface {
    std::int32_t width;      // points per row (columns)
    std::int32_t height;     // rows
    Point4* points;          // width * height, owned
    Point4* normals;         // width * height unit normals, owned
    // Per patch ((width - 3) * (height - 3), owned; null when either side is below 4): the
    // patch's slot among the patches drawn in the current pass. Meaningful only while that slot
    // names this patch; any other value (0 after loading) means not drawn.
    std::int32_t* patchSlots;
    // Boxes over tiles of points for culling (surface/bounds.h), owned; null when there is no
    // memory for them, and the surface is then culled patch by patch.
    SurfaceBounds* bounds;
};

// The surfaces of a scene, and the control point the user picked among them (null for none),
// which is forgotten whenever the surfaces are released or replaced.
struct SurfaceList {
    std::int32_t count;
    Surface* surfaces;
    Point4* picked;
};

// Longest reason a refusal gives, with the file's name and line.
constexpr int SURFACE_REASON_MAX = 320;

// Reads the whole file into a new list and only then replaces `list` with it. On
// any failure (a missing file, a wrong header, no count, a truncated file, a count or
// dimensions outside the limits above, a point that is not finite or beyond the coordinate
// limit, no memory) the list stays as it was, and `reason` (when given) says why, with the
// file and line: "data/vorl.txt line 212: coordinate 2e+25 beyond the limit of 1000000". A side
// of 2 or 3 points loads with no patches. On success `reason` is empty, or holds a warning the
// caller should pass on: a file that ends inside its last number without a line end loads,
// but may have been cut short there. A byte-order mark before the header is skipped.
bool loadSurfaceFile(SurfaceList& list, const char* path, char* reason = nullptr,
                     std::size_t reasonSize = 0);
// Writes the list in the file format so that nothing is lost: the old file is replaced only
// by a complete new one. False when the file could not be written, with the old file as it
// was and the reason (for the user) in `reason` when given.
bool saveSurfaceFile(const SurfaceList& list, const char* path, char* reason = nullptr,
                     std::size_t reasonSize = 0);
// Frees every surface's arrays and the list; count becomes 0; no point stays picked.
void releaseSurfaces(SurfaceList& list);
// Number of patches along width and height for the surface type (0 when too small).
int patchColumns(const Surface& surface, int surfaceType);
int patchRows(const Surface& surface, int surfaceType);

// Recomputes every unit normal of the surface from its points (mirrored border differences).
void computeControlNormals(Surface& surface);
// Recomputes the normals that point (column, row) takes part in: its own and its neighbours',
// the same numbers computeControlNormals gives them.
void computeControlNormalsAround(Surface& surface, int column, int row);
// The normal of point (column, row), as computeControlNormals forms it.
Point4 controlNormalAt(const Surface& surface, int column, int row);
