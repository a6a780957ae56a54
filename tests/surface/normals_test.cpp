// Control-point normals: orientation on flat meshes, the mirrored border, unit length on a
// bumpy mesh, and degenerate or badly scaled meshes that must not produce NaN.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "surface/surface.h"

namespace {

// A mesh held in vectors; surface() points a Surface at them.
struct Mesh {
    int width, height;
    std::vector<Point4> points, normals;
    Mesh(int w, int h) : width(w), height(h), points(w * h), normals(w * h, Point4{9, 9, 9, 9}) {}
    Point4& at(int c, int r) { return points[r * width + c]; }
    const Point4& normal(int c, int r) const { return normals[r * width + c]; }
    Surface surface() { return Surface{width, height, points.data(), normals.data(), nullptr}; }
    void compute() {
        Surface s = surface();
        computeControlNormals(s);
    }
};

void expectNormal(const Point4& n, float x, float y, float z, const char* where) {
    EXPECT_NEAR(n.x, x, 1e-5f) << where;
    EXPECT_NEAR(n.y, y, 1e-5f) << where;
    EXPECT_NEAR(n.z, z, 1e-5f) << where;
    EXPECT_EQ(n.w, 0.0f) << where;
}

TEST(ControlNormals, FlatMeshFacesUp) {
    Mesh mesh(4, 4);
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) mesh.at(c, r) = Point4{float(c), float(r), 0, 1};
    mesh.compute();
    for (const Point4& n : mesh.normals) expectNormal(n, 0, 0, 1, "flat");
}

TEST(ControlNormals, SwappedAxesFaceDown) {
    Mesh mesh(4, 4);
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) mesh.at(c, r) = Point4{float(r), float(c), 0, 1};
    mesh.compute();
    for (const Point4& n : mesh.normals) expectNormal(n, 0, 0, -1, "swapped");
}

TEST(ControlNormals, BorderUsesTheMirroredDifference) {
    // The last column bends up by one: the normal there is the one of the plane through the
    // last two columns, (-1, 0, 1) / sqrt 2, on every row including the corners; the column
    // before it averages the flat and the bent side and differs.
    Mesh mesh(4, 3);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 4; ++c) mesh.at(c, r) = Point4{float(c), float(r), c == 3 ? 1.0f : 0.0f, 1};
    mesh.compute();
    const float h = std::sqrt(0.5f);
    for (int r = 0; r < 3; ++r) {
        expectNormal(mesh.normal(3, r), -h, 0, h, "last column");
        expectNormal(mesh.normal(0, r), 0, 0, 1, "first column");
        EXPECT_GT(mesh.normal(2, r).z, h + 0.05f);
        EXPECT_LT(mesh.normal(2, r).x, -0.05f);
    }
}

TEST(ControlNormals, BumpyMeshGivesUnitUpwardNormals) {
    Mesh mesh(9, 7);
    for (int r = 0; r < 7; ++r)
        for (int c = 0; c < 9; ++c)
            mesh.at(c, r) = Point4{float(c), float(r), 0.4f * std::sin(c * 1.1f) * std::cos(r * 0.7f), 1};
    mesh.compute();
    for (const Point4& n : mesh.normals) {
        EXPECT_NEAR(n.x * n.x + n.y * n.y + n.z * n.z, 1.0f, 1e-5f);
        EXPECT_GT(n.z, 0.3f);
        EXPECT_EQ(n.w, 0.0f);
    }
}

TEST(ControlNormals, CoincidentPointsGetUpInsteadOfNaN) {
    Mesh mesh(2, 2);
    for (Point4& p : mesh.points) p = Point4{3, 3, 3, 1};
    mesh.compute();
    for (const Point4& n : mesh.normals) expectNormal(n, 0, 0, 1, "coincident");

    // Two coinciding rows: every edge along the rows is zero, so is every cross product.
    Mesh line(3, 2);
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 3; ++c) line.at(c, r) = Point4{float(c), 0, 0, 1};
    line.compute();
    for (const Point4& n : line.normals) expectNormal(n, 0, 0, 1, "coinciding rows");

    // A middle point whose neighbours fold back onto each other: the edges east and west are
    // equal, so are north and south, and the four products cancel there.
    Mesh fold(3, 3);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) fold.at(c, r) = Point4{float(c % 2), float(r % 2), 0, 1};
    fold.compute();
    expectNormal(fold.normal(1, 1), 0, 0, 1, "fold centre");
    for (const Point4& n : fold.normals) EXPECT_FALSE(std::isnan(n.x) || std::isnan(n.y) || std::isnan(n.z));
}

TEST(ControlNormals, TinyAndHugeMeshesKeepTheirDirection) {
    // Cross products of 1e-12 edges underflow when squared in single precision; 1e18 edges
    // overflow. Both must still give the tilted plane's unit normal.
    for (float scale : {1e-12f, 1e18f}) {
        Mesh mesh(3, 3);
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c) mesh.at(c, r) = Point4{c * scale, r * scale, c * scale, 1};
        mesh.compute();
        const float h = std::sqrt(0.5f);
        for (const Point4& n : mesh.normals) expectNormal(n, -h, 0, h, "scaled");
    }
}

TEST(ControlNormals, OverflowingCrossProductsGetUpInsteadOfNaN) {
    // Edges of 1e19 and more: the cross products overflow to infinity and their sums to
    // inf - inf = NaN in some components, which a maximum over the components would skip.
    for (float scale : {1e19f, 1e30f, 3e38f}) {
        Mesh mesh(3, 3);
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c)
                mesh.at(c, r) = Point4{(c - r) * scale, (c + r) * scale, c * r * scale, 1};
        mesh.compute();
        for (const Point4& n : mesh.normals) {
            ASSERT_TRUE(std::isfinite(n.x) && std::isfinite(n.y) && std::isfinite(n.z)) << scale;
            EXPECT_NEAR(1.0f, n.x * n.x + n.y * n.y + n.z * n.z, 1e-5f) << scale;
        }
    }
}

}  // namespace
