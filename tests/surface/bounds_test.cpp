// The bounds pyramid: every range of points lies in the box boundsOfPoints gives for it, the
// whole mesh's box is tight after a build, and a refit follows a moved point both ways.
#include "surface/bounds.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "surface/surface.h"

namespace {

bool inside(const Box3& box, const Point4& p) {
    return p.x >= box.lo.x && p.x <= box.hi.x && p.y >= box.lo.y && p.y <= box.hi.y &&
           p.z >= box.lo.z && p.z <= box.hi.z;
}

struct Mesh {
    int width, height;
    std::vector<Point4> points;
    Surface surface = {};
    Mesh(int w, int h, std::mt19937& random) : width(w), height(h), points(w * h) {
        std::uniform_real_distribution<float> any(-50.0f, 50.0f);
        for (Point4& p : points) p = {any(random), any(random), any(random), 1.0f};
        surface = Surface{w, h, points.data(), points.data(), nullptr};
        EXPECT_TRUE(buildSurfaceBounds(surface));
    }
    ~Mesh() { freeSurfaceBounds(surface); }
    Mesh(const Mesh&) = delete;
    Mesh& operator=(const Mesh&) = delete;
};

// Every point of c0..c1 x r0..r1 is in the range's box.
void expectRangeInside(const Mesh& m, int c0, int r0, int c1, int r1) {
    const Box3 box = boundsOfPoints(*m.surface.bounds, c0, r0, c1, r1);
    for (int r = r0; r <= r1; ++r) {
        for (int c = c0; c <= c1; ++c) {
            ASSERT_TRUE(inside(box, m.points[r * m.width + c]))
                << c << "," << r << " in " << c0 << ".." << c1 << " x " << r0 << ".." << r1;
        }
    }
}

TEST(SurfaceBounds, EveryRangeLiesInItsBox) {
    std::mt19937 random(12);
    const int sides[][2] = {{2, 2}, {4, 4}, {8, 9}, {17, 3}, {64, 64}, {65, 130}, {300, 7}};
    for (const auto& side : sides) {
        Mesh m(side[0], side[1], random);
        for (int k = 0; k < 200; ++k) {
            int c0 = static_cast<int>(random() % m.width), c1 = static_cast<int>(random() % m.width);
            int r0 = static_cast<int>(random() % m.height), r1 = static_cast<int>(random() % m.height);
            if (c0 > c1) std::swap(c0, c1);
            if (r0 > r1) std::swap(r0, r1);
            expectRangeInside(m, c0, r0, c1, r1);
        }
        expectRangeInside(m, 0, 0, m.width - 1, m.height - 1);
    }
}

TEST(SurfaceBounds, WholeMeshBoxIsTightAndTheTopHasOneBox) {
    std::mt19937 random(3);
    Mesh m(100, 37, random);
    const SurfaceBounds& b = *m.surface.bounds;
    EXPECT_EQ(b.columns[0], 13);
    EXPECT_EQ(b.rows[0], 5);
    EXPECT_EQ(b.columns[b.levels - 1], 1);
    EXPECT_EQ(b.rows[b.levels - 1], 1);
    const Box3 top = b.level[b.levels - 1][0];
    float lowest = 1e9f, highest = -1e9f;
    for (const Point4& p : m.points) {
        lowest = std::fmin(lowest, p.z);
        highest = std::fmax(highest, p.z);
    }
    EXPECT_EQ(top.lo.z, lowest);
    EXPECT_EQ(top.hi.z, highest);
}

TEST(SurfaceBounds, RefitFollowsAMovedPointOutAndBack) {
    std::mt19937 random(8);
    Mesh m(70, 50, random);
    const SurfaceBounds& b = *m.surface.bounds;
    Point4& p = m.points[33 * 70 + 41];
    const Point4 before = p;
    p.z = 1000.0f;
    refitSurfaceBounds(m.surface, 41, 33);
    expectRangeInside(m, 40, 30, 45, 35);
    EXPECT_EQ(b.level[b.levels - 1][0].hi.z, 1000.0f);
    // Back where it was: the boxes shrink again, down to the whole mesh's.
    p = before;
    refitSurfaceBounds(m.surface, 41, 33);
    EXPECT_LT(b.level[b.levels - 1][0].hi.z, 51.0f);
    expectRangeInside(m, 0, 0, 69, 49);
}

}  // namespace
