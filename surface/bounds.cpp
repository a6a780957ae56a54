// The bounds pyramid of a control mesh: built from the points, refitted above a moved point,
// freed with the surface. Reads only the surface's points; writes only surface.bounds.
#include "surface/bounds.h"

#include <cassert>
#include <new>

#include "surface/surface.h"

namespace {

Box3 emptyBox() {
    return Box3{{1e30f, 1e30f, 1e30f}, {-1e30f, -1e30f, -1e30f}};
}

void include(Box3& box, const Box3& other) {
    if (other.lo.x < box.lo.x) box.lo.x = other.lo.x;
    if (other.lo.y < box.lo.y) box.lo.y = other.lo.y;
    if (other.lo.z < box.lo.z) box.lo.z = other.lo.z;
    if (other.hi.x > box.hi.x) box.hi.x = other.hi.x;
    if (other.hi.y > box.hi.y) box.hi.y = other.hi.y;
    if (other.hi.z > box.hi.z) box.hi.z = other.hi.z;
}

void includePoint(Box3& box, const Point4& p) {
    if (p.x < box.lo.x) box.lo.x = p.x;
    if (p.y < box.lo.y) box.lo.y = p.y;
    if (p.z < box.lo.z) box.lo.z = p.z;
    if (p.x > box.hi.x) box.hi.x = p.x;
    if (p.y > box.hi.y) box.hi.y = p.y;
    if (p.z > box.hi.z) box.hi.z = p.z;
}

// The box of the points of finest tile (c, r).
Box3 tileOfPoints(const Surface& surface, int c, int r) {
    Box3 box = emptyBox();
    const int c1 = (c + 1) * BOUNDS_TILE < surface.width ? (c + 1) * BOUNDS_TILE : surface.width;
    const int r1 = (r + 1) * BOUNDS_TILE < surface.height ? (r + 1) * BOUNDS_TILE : surface.height;
    for (int row = r * BOUNDS_TILE; row < r1; ++row) {
        const Point4* p = surface.points + static_cast<std::int64_t>(row) * surface.width;
        for (int column = c * BOUNDS_TILE; column < c1; ++column) includePoint(box, p[column]);
    }
    return box;
}

// The box of tile (c, r) at level L > 0 from its up to four children.
Box3 tileOfChildren(const SurfaceBounds& b, int L, int c, int r) {
    Box3 box = emptyBox();
    const int below = L - 1;
    for (int y = 2 * r; y <= 2 * r + 1 && y < b.rows[below]; ++y) {
        for (int x = 2 * c; x <= 2 * c + 1 && x < b.columns[below]; ++x) {
            include(box, b.level[below][static_cast<std::int64_t>(y) * b.columns[below] + x]);
        }
    }
    return box;
}

}  // namespace

bool buildSurfaceBounds(Surface& surface) {
    freeSurfaceBounds(surface);
    SurfaceBounds* b = new (std::nothrow) SurfaceBounds{};
    if (!b) return false;
    std::int64_t total = 0;
    int columns = (surface.width + BOUNDS_TILE - 1) / BOUNDS_TILE;
    int rows = (surface.height + BOUNDS_TILE - 1) / BOUNDS_TILE;
    for (;;) {
        assert(b->levels < BOUNDS_LEVELS_MAX);
        b->columns[b->levels] = columns;
        b->rows[b->levels] = rows;
        total += static_cast<std::int64_t>(columns) * rows;
        ++b->levels;
        if (columns == 1 && rows == 1) break;
        columns = (columns + 1) / 2;
        rows = (rows + 1) / 2;
    }
    b->boxes = new (std::nothrow) Box3[static_cast<std::size_t>(total)];
    if (!b->boxes) {
        delete b;
        return false;
    }
    Box3* at = b->boxes;
    for (int L = 0; L < b->levels; ++L) {
        b->level[L] = at;
        at += static_cast<std::int64_t>(b->columns[L]) * b->rows[L];
    }
    for (int r = 0; r < b->rows[0]; ++r) {
        for (int c = 0; c < b->columns[0]; ++c) {
            b->level[0][static_cast<std::int64_t>(r) * b->columns[0] + c] = tileOfPoints(surface, c, r);
        }
    }
    for (int L = 1; L < b->levels; ++L) {
        for (int r = 0; r < b->rows[L]; ++r) {
            for (int c = 0; c < b->columns[L]; ++c) {
                b->level[L][static_cast<std::int64_t>(r) * b->columns[L] + c] = tileOfChildren(*b, L, c, r);
            }
        }
    }
    surface.bounds = b;
    return true;
}

void refitSurfaceBounds(Surface& surface, int column, int row) {
    SurfaceBounds* b = surface.bounds;
    if (b == nullptr) return;
    assert(column >= 0 && column < surface.width && row >= 0 && row < surface.height);
    int c = column / BOUNDS_TILE;
    int r = row / BOUNDS_TILE;
    b->level[0][static_cast<std::int64_t>(r) * b->columns[0] + c] = tileOfPoints(surface, c, r);
    for (int L = 1; L < b->levels; ++L) {
        c /= 2;
        r /= 2;
        b->level[L][static_cast<std::int64_t>(r) * b->columns[L] + c] = tileOfChildren(*b, L, c, r);
    }
}

void freeSurfaceBounds(Surface& surface) {
    if (surface.bounds != nullptr) delete[] surface.bounds->boxes;
    delete surface.bounds;
    surface.bounds = nullptr;
}

Box3 boundsOfPoints(const SurfaceBounds& b, int c0, int r0, int c1, int r1) {
    assert(c0 <= c1 && r0 <= r1);
    // The lowest level at which the range touches at most three tiles along each side: at
    // most nine boxes, and none much larger than the range.
    int L = 0;
    int size = BOUNDS_TILE;
    while (L + 1 < b.levels && (c1 / size - c0 / size >= 3 || r1 / size - r0 / size >= 3)) {
        ++L;
        size <<= 1;
    }
    Box3 box = emptyBox();
    const int x1 = c1 / size < b.columns[L] ? c1 / size : b.columns[L] - 1;
    const int y1 = r1 / size < b.rows[L] ? r1 / size : b.rows[L] - 1;
    for (int y = r0 / size; y <= y1; ++y) {
        for (int x = c0 / size; x <= x1; ++x) {
            include(box, b.level[L][static_cast<std::int64_t>(y) * b.columns[L] + x]);
        }
    }
    return box;
}
