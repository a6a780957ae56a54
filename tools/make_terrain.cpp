// Writes a terrain surface file for trying the program on large meshes: one B-spline surface
// of gentle hills, one unit between control points, SIDE x SIDE points (2 .. 4096).
// Run as build/make_terrain SIDE PATH; PATH is replaced only by a complete file.
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "surface/surface.h"

namespace {

SurfaceList terrain;

// Hills a few units high over the x-y plane, the mesh centred on the origin.
void buildTerrain(int side) {
    terrain.surfaces = new Surface[1]();
    terrain.count = 1;
    Surface& s = terrain.surfaces[0];
    s.width = side;
    s.height = side;
    const std::size_t points = static_cast<std::size_t>(side) * side;
    s.points = new Point4[points];
    s.normals = new Point4[points];
    const float half = (side - 1) * 0.5f;
    for (int r = 0; r < side; ++r) {
        for (int c = 0; c < side; ++c) {
            const float x = c - half, y = r - half;
            const float z = 2.0f * std::sin(x * 0.11f) * std::cos(y * 0.07f) +
                            0.6f * std::sin((x + y) * 0.23f) - 1.0f;
            s.points[static_cast<std::size_t>(r) * side + c] = Point4{x, y, z, 1.0f};
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    const int side = argc == 3 ? std::atoi(argv[1]) : 0;
    if (side < SURFACE_MIN_SIDE || static_cast<long long>(side) * side > SURFACE_MAX_POINTS) {
        std::fprintf(stderr, "usage: %s SIDE PATH (SIDE 2 .. 4096)\n", argv[0]);
        return 2;
    }
    buildTerrain(side);
    char reason[SURFACE_REASON_MAX];
    const bool saved = saveSurfaceFile(terrain, argv[2], reason, sizeof reason);
    releaseSurfaces(terrain);
    if (!saved) {
        std::fprintf(stderr, "%s\n", reason);
        return 1;
    }
    return 0;
}
