// Meshes written from the surfaces for other programs: every patch of every surface at one
// step count, evaluated as the basis-table tessellator draws it and welded along the patches'
// shared borders, as OBJ (positions, texture coordinates, normals, faces), binary STL or
// binary PLY; and the control meshes as OBJ quads. Entry points: exportFormatOf,
// surfaceMeshCounts, exportSurfaceMeshes, exportControlMeshes. Files go through the save
// helpers: whole or not at all.
#pragma once

#include <cstddef>
#include <cstdint>

#include "surface/surface.h"

enum ExportFormat : std::int32_t { EXPORT_OBJ = 0, EXPORT_STL, EXPORT_PLY, EXPORT_FORMAT_COUNT };

// Longest reason a refusal gives, with the file's name.
constexpr int EXPORT_REASON_MAX = 320;
// STL counts its triangles and PLY numbers its vertices in 32 bits.
constexpr std::uint64_t EXPORT_MAX_32 = 0xFFFFFFFFu;
// The texture coordinates are the drawn s and t in texels over the texture's 256 a side, so
// that the texture's width is 1 (it repeats four times across a surface, as drawn).
constexpr float EXPORT_TEXELS_PER_REPEAT = 256.0f;

// The format a file name asks for by its extension (.obj, .stl, .ply in any case); false for
// any other name, with the reason naming it and the extensions known.
bool exportFormatOf(const char* path, int* format, char* reason, std::size_t reasonSize);

struct MeshCounts {
    std::uint64_t vertices;
    std::uint64_t triangles;
};
// What one surface gives at `steps` steps a patch: a mesh of nx x ny patches (the surface
// type's counts) is a grid of (nx * steps + 1) x (ny * steps + 1) welded vertices and
// 2 * nx * steps * ny * steps triangles; nothing without a patch.
MeshCounts surfaceMeshCounts(const Surface& surface, int surfaceType, int steps);

// How the mesh is made: as drawn under these settings.
struct ExportSettings {
    std::int32_t surfaceType;   // SURFACE_BEZIER or SURFACE_BSPLINE
    std::int32_t steps;         // 1..GRID_MAX_STEPS a patch
    bool controlNormals;        // blend the control normals, else the derivatives' cross product
};

// Writes every surface's patches to `path` in `format`, units those of the surface file, z
// up, triangles counter-clockwise seen from the side the normals point to. False, with
// nothing written (an earlier file of that name as it was) and the reason, when there is no
// patch to write, a count does not fit the format, memory runs out or the file cannot be
// written; *written (when given) receives the totals on success.
bool exportSurfaceMeshes(const SurfaceList& list, const ExportSettings& settings, int format,
                         const char* path, MeshCounts* written, char* reason,
                         std::size_t reasonSize);
// Writes every surface's control mesh to `path` as OBJ: its points, and a quad for each
// square of four neighbouring points. False, as above, when there is no surface with a square.
bool exportControlMeshes(const SurfaceList& list, const char* path, char* reason,
                         std::size_t reasonSize);
