// Control-point normals: computeControlNormals fills a surface's normals from its points
// alone, by averaging the four cross products of the edges around each point. Called by the
// loader and by the wave animation; allocates nothing and touches only surface.normals.
#include <cassert>
#include <cmath>

#include "geometry/vector.h"
#include "surface/surface.h"

static Point3 pointAt(const Surface& surface, int column, int row) {
    const Point4& p = surface.points[static_cast<long long>(row) * surface.width + column];
    return Point3{p.x, p.y, p.z};
}

static Point3 difference(const Point3& a, const Point3& b) {
    return Point3{a.x - b.x, a.y - b.y, a.z - b.z};
}

// Edge from `centre` towards the neighbour at (column, row) when it exists (`inside`);
// otherwise the mirrored edge centre - opposite, so a border point still has four edges.
static Point3 edgeTowards(const Surface& surface, const Point3& centre, bool inside, int column,
                          int row, int oppositeColumn, int oppositeRow) {
    if (inside) return difference(pointAt(surface, column, row), centre);
    return difference(centre, pointAt(surface, oppositeColumn, oppositeRow));
}

// The unit normal of point (c, r) from its four edges.
static Point4 normalAt(const Surface& surface, int c, int r) {
    const int width = surface.width;
    const int height = surface.height;
    const Point3 p = pointAt(surface, c, r);
    const Point3 east = edgeTowards(surface, p, c < width - 1, c + 1, r, c - 1, r);
    const Point3 north = edgeTowards(surface, p, r < height - 1, c, r + 1, c, r - 1);
    const Point3 west = edgeTowards(surface, p, c > 0, c - 1, r, c + 1, r);
    const Point3 south = edgeTowards(surface, p, r > 0, c, r - 1, c, r + 1);

    // All four products run column direction x row direction, so they agree in sign.
    Point3 a, b, d, e;
    cross(a, east, north);
    cross(b, north, west);
    cross(d, west, south);
    cross(e, south, east);
    Point3 n{(a.x + b.x + d.x + e.x) * 0.25f, (a.y + b.y + d.y + e.y) * 0.25f,
             (a.z + b.z + d.z + e.z) * 0.25f};

    // Coincident neighbours (or a fold that cancels) leave no direction: dividing by the zero
    // length would give NaN. Such a point gets (0, 0, 1), the normal of the flat mesh; so does
    // a sum that overflowed (an infinite or NaN component: fmax would skip a NaN, so each
    // component is tested). A sum too small or too large to square in single precision is
    // scaled by its largest component first to keep its direction.
    const bool finite = std::isfinite(n.x) && std::isfinite(n.y) && std::isfinite(n.z);
    const float largest = std::fmax(std::fabs(n.x), std::fmax(std::fabs(n.y), std::fabs(n.z)));
    if (!finite || !(largest > 0.0f)) {
        n = Point3{0.0f, 0.0f, 1.0f};
    } else {
        const float lengthSquared = n.x * n.x + n.y * n.y + n.z * n.z;
        if (lengthSquared < 1e-30f || !std::isfinite(lengthSquared)) {
            n = Point3{n.x / largest, n.y / largest, n.z / largest};
        }
        normalize(n);
    }
    return Point4{n.x, n.y, n.z, 0.0f};
}

Point4 controlNormalAt(const Surface& surface, int column, int row) {
    return normalAt(surface, column, row);
}

void computeControlNormals(Surface& surface) {
    // Fewer than two points along a side leaves no neighbour to mirror; the loader refuses
    // such meshes.
    assert(surface.width >= SURFACE_MIN_SIDE && surface.height >= SURFACE_MIN_SIDE);
    for (int r = 0; r < surface.height; ++r) {
        for (int c = 0; c < surface.width; ++c) {
            surface.normals[static_cast<long long>(r) * surface.width + c] = normalAt(surface, c, r);
        }
    }
}

void computeControlNormalsAround(Surface& surface, int column, int row) {
    assert(surface.width >= SURFACE_MIN_SIDE && surface.height >= SURFACE_MIN_SIDE);
    // A normal reads its point's four neighbours only: moving a point changes its own normal
    // and its eight neighbours'.
    for (int r = row - 1; r <= row + 1; ++r) {
        for (int c = column - 1; c <= column + 1; ++c) {
            if (r < 0 || r >= surface.height || c < 0 || c >= surface.width) continue;
            surface.normals[static_cast<long long>(r) * surface.width + c] = normalAt(surface, c, r);
        }
    }
}
