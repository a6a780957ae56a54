// Control meshes: Point4, Surface and the program-wide SurfaceList, the surface text file
// reader and writer, and the release of all surface memory.
#pragma once

#include <cstdint>

struct PatchRecord;  // render/patch.h

// Limits of the reader. Two points per side are the least the normals can be computed from;
// the upper limits keep a hostile file from asking for more memory than any real mesh needs
// (16M points are 512 MB of points and normals).
constexpr int SURFACE_MIN_SIDE = 2;
constexpr long long SURFACE_MAX_POINTS = 1LL << 24;   // width * height
constexpr long long SURFACE_MAX_COUNT = 1LL << 20;    // surfaces in one file

// Control points carry w = 1, control normals w = 0.
struct Point4 {
    float x, y, z, w;
};

// One control mesh, row-major: the point of column c, row r is element r * width + c.
struct Surface {
    std::int32_t width;      // points per row (columns)
    std::int32_t height;     // rows
    Point4* points;          // width * height, owned
    Point4* normals;         // width * height unit normals, owned
    PatchRecord* patches;    // (width - 3) * (height - 3), owned; null when either is below 4
};

struct SurfaceList {
    std::int32_t count;
    Surface* surfaces;
};
extern SurfaceList surfaceList;

// Reads the file and replaces the surface list. False with the list untouched for a missing
// file, a wrong header or no count line; false with an empty list for anything that fails
// after the count (truncated file, a count or dimensions outside the limits above, a point
// that is not finite, no memory). A side of 2 or 3 points loads with no patches.
bool loadSurfaceFile(const char* path);
// Writes the list in the file format; false only when the file cannot be created.
bool saveSurfaceFile(const char* path);
// Frees every surface's arrays and the list; count becomes 0.
void releaseSurfaces();
// Number of patches along width and height for the surface type (0 when too small).
int patchColumns(const Surface& surface, int surfaceType);
int patchRows(const Surface& surface, int surfaceType);

// Recomputes every unit normal of the surface from its points (mirrored border differences).
void computeControlNormals(Surface& surface);
