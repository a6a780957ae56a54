// Heightmap meshes: sample grids into one B-spline control mesh with its normals, culling
// boxes and patch slots, built whole before it replaces the list.
#include "platform/services.h"
#include "surface/heightmap.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "surface/bounds.h"

namespace {

// Whole hundredths below 2^24 are exact in a float, and so a float division by 100 rounds
// the exact quotient once, as the file reader rounds the decimal text "k/100" once.
constexpr long long EXACT_HUNDREDTHS = 1LL << 24;

}  // namespace

float heightmapDefaultHeight(int width, int height) {
    const int side = width > height ? width : height;
    return static_cast<float>(side) / static_cast<float>(HEIGHTMAP_DEFAULT_SIDE_SHARE);
}

float heightmapHeight(std::uint32_t sample, std::uint32_t maxValue, float scale) {
    const double share = maxValue > 0 ? static_cast<double>(sample) / maxValue : 0.0;
    const long long hundredths = std::llround(share * static_cast<double>(scale) * 100.0);
    if (hundredths < EXACT_HUNDREDTHS) {
        return static_cast<float>(hundredths) / 100.0f;
    }
    // Beyond that the decimal text itself is rounded, as the reader does.
    char text[48];
    std::snprintf(text, sizeof text, "%lld.%02lld", hundredths / 100, hundredths % 100);
    return std::strtof(text, nullptr);
}

bool makeHeightmapSurfaces(SurfaceList& list, const std::uint16_t* samples, int width, int height,
                           int maxValue, float scale, const char* name, char* reason,
                           std::size_t reasonSize) {
    if (reason != nullptr && reasonSize > 0) reason[0] = '\0';
    if (width < HEIGHTMAP_MIN_SIDE || height < HEIGHTMAP_MIN_SIDE) {
        return refuseNamed(reason, reasonSize, name,
                      "a heightmap of %d x %d pixels: a side needs at least %d", width, height,
                      HEIGHTMAP_MIN_SIDE);
    }
    const long long points = static_cast<long long>(width) * height;
    if (points > SURFACE_MAX_POINTS) {
        return refuseNamed(reason, reasonSize, name,
                      "a heightmap of %d x %d pixels, more points than the limit of %lld",
                      width, height, SURFACE_MAX_POINTS);
    }
    if (!(scale > 0.0f) || !(scale <= SURFACE_MAX_COORDINATE)) {
        return refuseNamed(reason, reasonSize, name,
                      "a height of %g: it must be above 0 and at most %.0f",
                      static_cast<double>(scale), static_cast<double>(SURFACE_MAX_COORDINATE));
    }
    SurfaceList made = {};
    made.surfaces = new (std::nothrow) Surface[1]();
    if (made.surfaces == nullptr) {
        return refuseNamed(reason, reasonSize, name, "no memory for a surface");
    }
    made.count = 1;
    Surface& surface = made.surfaces[0];
    surface.width = width;
    surface.height = height;
    surface.points = new (std::nothrow) Point4[static_cast<std::size_t>(points)];
    surface.normals = new (std::nothrow) Point4[static_cast<std::size_t>(points)];
    const std::size_t patches = static_cast<std::size_t>(width - 3) * (height - 3);
    surface.patchSlots = new (std::nothrow) std::int32_t[patches]();
    if (!surface.points || !surface.normals || !surface.patchSlots) {
        releaseSurfaces(made);
        return refuseNamed(reason, reasonSize, name, "no memory for %d x %d points", width, height);
    }
    // Half units are exact in a float and in the file's two decimals.
    const float left = -0.5f * static_cast<float>(width - 1);
    const std::uint32_t largest = static_cast<std::uint32_t>(maxValue);
    for (int r = 0; r < height; ++r) {
        // Mesh row r is the image's row height - 1 - r: the bottom row nearest, at +y ahead.
        const std::uint16_t* row = samples + static_cast<std::size_t>(height - 1 - r) * width;
        Point4* out = surface.points + static_cast<std::size_t>(r) * width;
        const float y = HEIGHTMAP_NEAR_Y + static_cast<float>(r);
        for (int c = 0; c < width; ++c) {
            const float z = heightmapHeight(row[c], largest, scale);
            out[c] = Point4{left + static_cast<float>(c), y, z, 1.0f};
        }
    }
    computeControlNormals(surface);
    // Without memory for the boxes the surface is still drawn, culled patch by patch.
    buildSurfaceBounds(surface);
    releaseSurfaces(list);
    list = made;
    return true;
}
