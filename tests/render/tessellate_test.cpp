// Both tessellators: weight tables, grid corners on the control points, normals, colour
// packing, border copies, normal lines, and the two tessellators agreeing with each other.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "recorder.h"
#include "render/shade.h"
#include "render/surfacepass.h"
#include "render/tessellate.h"
#include "surface/surface.h"

namespace {

// A 4 x 4 mesh with its normals, one patch.
struct TestMesh {
    Point4 points[16];
    Point4 normals[16];
    PatchRecord patch;
    PatchBorderStore borders;
};

// A bumpy but well-behaved patch: x across columns, y across rows, z varied.
void makeBumpyMesh(TestMesh& mesh) {
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            const float z = 0.7f * std::sin(1.3f * c + 0.4f * r) - 0.3f * r;
            mesh.points[r * 4 + c] = {30.0f * c - 40.0f + 2.0f * r, 25.0f * r - 35.0f, z, 1.0f};
            Point3 n = {0.2f * c - 0.3f, 0.1f * r - 0.15f, 1.0f};
            normalize(n);
            mesh.normals[r * 4 + c] = {n.x, n.y, n.z, 0.0f};
        }
    }
    mesh.patch = PatchRecord{};
    mesh.patch.controlPoints = mesh.points;
    mesh.patch.controlNormals = mesh.normals;
    mesh.patch.width = 4;
    mesh.patch.lastColumn = 3;
    mesh.patch.lastRow = 3;
    lendPatchBorders(mesh.patch, mesh.borders);
}

class Tessellate : public ::testing::Test {
protected:
    void SetUp() override {
        resetRenderTestState();
        makeBumpyMesh(mesh);
    }
    void TearDown() override { removeRecorder(); }
    TestMesh mesh;
};

TEST(BasisTable, WeightsAtTheEnds) {
    BasisTable table;
    buildBasisTable(table, 4, SURFACE_BEZIER);
    const float bezierStart[4] = {1, 0, 0, 0}, bezierEnd[4] = {0, 0, 0, 1};
    for (int l = 0; l < 4; ++l) {
        EXPECT_FLOAT_EQ(table.row[0][l], bezierStart[l]);
        EXPECT_NEAR(table.row[4][l], bezierEnd[l], 1e-6f);
    }
    buildBasisTable(table, 3, SURFACE_BSPLINE);
    const float splineStart[4] = {1 / 6.0f, 4 / 6.0f, 1 / 6.0f, 0};
    const float splineEnd[4] = {0, 1 / 6.0f, 4 / 6.0f, 1 / 6.0f};
    for (int l = 0; l < 4; ++l) {
        EXPECT_NEAR(table.row[0][l], splineStart[l], 1e-6f);
        EXPECT_NEAR(table.row[3][l], splineEnd[l], 1e-6f);
    }
    // The last row is the first row moved up by one control value, exactly, at every step
    // count: a patch ends on the numbers its neighbour starts from (for Bezier patches the
    // neighbour's first control value is this one's last).
    DerivativeTable derivative;
    for (int n = 1; n <= GRID_MAX_STEPS; ++n) {
        buildBasisTable(table, n, SURFACE_BSPLINE);
        buildDerivativeTable(derivative, n, SURFACE_BSPLINE);
        EXPECT_EQ(table.row[n][0], 0.0f) << n;
        EXPECT_EQ(derivative.row[n][0], 0.0f) << n;
        for (int l = 0; l < 3; ++l) {
            EXPECT_EQ(table.row[n][l + 1], table.row[0][l]) << n;
            EXPECT_EQ(derivative.row[n][l + 1], derivative.row[0][l]) << n;
        }
        buildBasisTable(table, n, SURFACE_BEZIER);
        for (int l = 0; l < 4; ++l) EXPECT_EQ(table.row[n][l], bezierEnd[l]) << n;
    }
    // Every row of either type is a partition of unity; the derivatives sum to zero.
    for (int type : {SURFACE_BEZIER, SURFACE_BSPLINE}) {
        buildBasisTable(table, 7, type);
        buildDerivativeTable(derivative, 7, type);
        for (int i = 0; i <= 7; ++i) {
            const float* w = table.row[i];
            const float* d = derivative.row[i];
            EXPECT_NEAR(w[0] + w[1] + w[2] + w[3], 1.0f, 1e-6f);
            EXPECT_NEAR(d[0] + d[1] + d[2] + d[3], 0.0f, 1e-5f);
        }
    }
}

TEST(VertexColour, BitPatternPacking) {
    EXPECT_EQ(packVertexColor(0.0f, 1.0f), 0x00FFFFFFu);
    EXPECT_EQ(packVertexColor(1.0f, 0.5f), 0xFF7F7F7Fu);
    EXPECT_EQ(packVertexColor(0.0f, 0.75f), 0x00BFBFBFu);
    EXPECT_EQ(packVertexColor(0.0f, 0.0f), 0u);
    EXPECT_EQ(packVertexColor(0.25f, 0.25f), 0x3F3F3F3Fu);
    // ceiling(256 x) - 1 for every x of a fine sweep over (0, 1], in both bytes.
    for (int i = 1; i <= 4096; ++i) {
        const float x = static_cast<float>(i) / 4096.0f;
        const std::uint32_t byte = static_cast<std::uint32_t>(std::ceil(256.0 * x)) - 1;
        const std::uint32_t packed = packVertexColor(x, x);
        ASSERT_EQ(packed & 0xFFu, byte) << x;
        ASSERT_EQ(packed >> 24, byte) << x;
    }
}

TEST_F(Tessellate, OneStepBezierCornersAreTheControlPoints) {
    renderOptions.surfaceType = SURFACE_BEZIER;
    for (auto tessellate : {tessellateBasis, tessellateForward}) {
        mesh.patch.steps = 1;
        tessellate(mesh.patch, testView(), 0, 0, 256, 256);
        const int corner[4][2] = {{0, 0}, {0, 3}, {3, 0}, {3, 3}};   // (column, row)
        for (int k = 0; k < 4; ++k) {
            const int i = corner[k][0] / 3;   // u runs across columns
            const int j = corner[k][1] / 3;
            const Point3 got = modelOf(surfacePass.tessellation.grid[i * 2 + j]);
            const Point4& want = mesh.points[corner[k][1] * 4 + corner[k][0]];
            EXPECT_NEAR(got.x, want.x, 1e-3f);
            EXPECT_NEAR(got.y, want.y, 1e-3f);
            EXPECT_NEAR(got.z, want.z, 1e-3f);
        }
    }
}

TEST_F(Tessellate, TextureCoordinatesSpanThePatch) {
    mesh.patch.steps = 4;
    tessellateBasis(mesh.patch, testView(), 256, 512, 512, 1024);
    const ScreenVertex& first = surfacePass.tessellation.grid[0];
    const ScreenVertex& last = surfacePass.tessellation.grid[24];
    EXPECT_NEAR(first.s0 / first.q, 256.0f, 1e-2f);
    EXPECT_NEAR(first.t0 / first.q, 512.0f, 1e-2f);
    EXPECT_NEAR(last.s0 / last.q, 512.0f, 1e-2f);
    EXPECT_NEAR(last.t0 / last.q, 1024.0f, 1e-2f);
    const ScreenVertex& oneStep = surfacePass.tessellation.grid[5];   // (1, 0): one u step
    EXPECT_NEAR(oneStep.s0 / oneStep.q, 320.0f, 1e-2f);
}

TEST_F(Tessellate, FlatPatchPolyNormalsFaceTheirSide) {
    for (int k = 0; k < 16; ++k) mesh.points[k].z = 0.0f;
    renderOptions.controlNormals = false;
    renderOptions.environmentMapping = true;
    for (int type : {SURFACE_BEZIER, SURFACE_BSPLINE}) {
        renderOptions.surfaceType = static_cast<SurfaceType>(type);
        mesh.patch.steps = 5;
        tessellateBasis(mesh.patch, testView(), 0, 0, 256, 256);
        for (int v = 0; v < 36; ++v) {
            const ScreenVertex& g = surfacePass.tessellation.grid[v];
            // Light along +z: a normal of +z is fully lit (grey 255), -z would give 63.
            EXPECT_EQ(g.colour, 0x00FFFFFFu) << v;
            EXPECT_NEAR(g.s1 / g.q, 128.0f, 0.5f) << v;   // (N.x + 1) / 2 * 256 with N.x = 0
            EXPECT_NEAR(g.t1 / g.q, 128.0f, 0.5f) << v;
        }
    }
}

TEST_F(Tessellate, EdgesCopiedOnlyWhenGapsAreFilled) {
    mesh.patch.steps = 3;
    for (auto& edge : mesh.borders.slot) {
        for (auto& slot : edge) slot.colour = 0x12345678u;
    }
    renderOptions.gapFill = GAP_NO_FILL;
    tessellateBasis(mesh.patch, testView(), 0, 0, 256, 256);
    EXPECT_EQ(mesh.patch.edges[0].slot[0].colour, 0x12345678u);
    renderOptions.gapFill = GAP_FILL;
    tessellateBasis(mesh.patch, testView(), 0, 0, 256, 256);
    const ScreenVertex* grid = surfacePass.tessellation.grid;
    for (int k = 0; k <= 3; ++k) {
        EXPECT_EQ(mesh.patch.edges[EDGE_FIRST_U].slot[k].x, grid[k].x);
        EXPECT_EQ(mesh.patch.edges[EDGE_LAST_U].slot[k].x, grid[3 * 4 + k].x);
        EXPECT_EQ(mesh.patch.edges[EDGE_FIRST_V].slot[k].y, grid[k * 4].y);
        EXPECT_EQ(mesh.patch.edges[EDGE_LAST_V].slot[k].y, grid[k * 4 + 3].y);
        // Clip codes are final in the copies.
        EXPECT_EQ(mesh.patch.edges[EDGE_LAST_V].slot[k].flags, clipCode(grid[k * 4 + 3]));
    }
}

TEST_F(Tessellate, NormalLinesHaveClearedTextureCoordinates) {
    mesh.patch.steps = 2;
    renderOptions.environmentMapping = true;
    const int plain = tessellateBasis(mesh.patch, testView(), 0, 0, 256, 256);
    installRecorder();
    renderOptions.drawNormals = true;
    EXPECT_EQ(tessellateBasis(mesh.patch, testView(), 0, 0, 256, 256), plain);
    EXPECT_EQ(countCalls(DRAW_LINE), 9);
    for (const DrawCall& call : drawCalls()) {
        if (call.kind != DRAW_LINE) continue;
        for (const ScreenVertex& v : call.vertex) {
            EXPECT_EQ(v.s0, 0.0f);
            EXPECT_EQ(v.t0, 0.0f);
            EXPECT_EQ(v.s1, 0.0f);
            EXPECT_EQ(v.t1, 0.0f);
            EXPECT_EQ(v.colour, 0xFF00FFFFu);
        }
        // The line starts on its grid vertex and is a quarter unit long in model space.
        const Point3 a = modelOf(call.vertex[0]);
        const Point3 b = modelOf(call.vertex[1]);
        const float length = std::sqrt((a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y) +
                                       (a.z - b.z) * (a.z - b.z));
        EXPECT_NEAR(length, 0.25f, 2e-3f);
    }
}

// The two tessellators describe the same grid for every n and both types, up to float
// rounding (forward differencing accumulates its error over the steps).
TEST_F(Tessellate, ForwardDifferencesAgreeWithBasisTables) {
    static ScreenVertex reference[GRID_MAX_SIDE * GRID_MAX_SIDE];
    for (int type : {SURFACE_BEZIER, SURFACE_BSPLINE}) {
        renderOptions.surfaceType = static_cast<SurfaceType>(type);
        for (int n = 1; n <= GRID_MAX_STEPS; ++n) {
            mesh.patch.steps = n;
            const int basisTriangles = tessellateBasis(mesh.patch, testView(), 0, 0, 256, 256);
            const int count = (n + 1) * (n + 1);
            for (int v = 0; v < count; ++v) reference[v] = surfacePass.tessellation.grid[v];
            EXPECT_EQ(tessellateForward(mesh.patch, testView(), 0, 0, 256, 256), basisTriangles);
            for (int v = 0; v < count; ++v) {
                const Point3 a = modelOf(reference[v]);
                const Point3 b = modelOf(surfacePass.tessellation.grid[v]);
                ASSERT_NEAR(a.x, b.x, 2e-3f) << "type " << type << " n " << n << " v " << v;
                ASSERT_NEAR(a.y, b.y, 2e-3f) << "type " << type << " n " << n << " v " << v;
                ASSERT_NEAR(a.z, b.z, 2e-3f) << "type " << type << " n " << n << " v " << v;
                const int greyA = reference[v].colour & 0xFF;
                const int greyB = surfacePass.tessellation.grid[v].colour & 0xFF;
                ASSERT_NEAR(greyA, greyB, 1) << "type " << type << " n " << n << " v " << v;
                const ScreenVertex& drawn = surfacePass.tessellation.grid[v];
                ASSERT_EQ(reference[v].s0 / reference[v].q, drawn.s0 / drawn.q);
            }
        }
    }
}

TEST_F(Tessellate, ShadingOneVertexMatchesTheGridVariants) {
    mesh.patch.steps = 3;
    renderOptions.specular = true;
    renderOptions.environmentMapping = true;
    renderOptions.controlNormals = true;
    tessellateBasis(mesh.patch, testView(), 0, 0, 256, 256);
    const ScreenVertex fromGrid = surfacePass.tessellation.grid[5];
    // Grid vertex (1, 1) recomputed through the shading step alone.
    BasisTable table;
    buildBasisTable(table, 3, renderOptions.surfaceType);
    Point3 point = {0, 0, 0}, normal = {0, 0, 0};
    for (int k = 0; k < 4; ++k) {
        for (int l = 0; l < 4; ++l) {
            const float w = table.row[1][k] * table.row[1][l];
            point.x += w * mesh.points[k * 4 + l].x;
            point.y += w * mesh.points[k * 4 + l].y;
            point.z += w * mesh.points[k * 4 + l].z;
            normal.x += w * mesh.normals[k * 4 + l].x;
            normal.y += w * mesh.normals[k * 4 + l].y;
            normal.z += w * mesh.normals[k * 4 + l].z;
        }
    }
    ScreenVertex slot = {};
    VertexConstants constants;
    loadVertexConstants(constants, testView().light);
    beginVertices();
    constexpr int FLAGS = SHADE_SPECULAR | SHADE_ENVIRONMENT;
    constexpr float AT = 256.0f / 3;
    if (surfacePass.lightingPath.style == LIGHTING_SELECT) {
        shadeVertex<FLAGS, LIGHTING_SELECT>(constants, slot, point, normal, AT, AT);
    } else {
        shadeVertex<FLAGS, LIGHTING_INTEGER>(constants, slot, point, normal, AT, AT);
    }
    endVertices();
    EXPECT_NEAR(slot.x, fromGrid.x, 1e-3f);
    EXPECT_NEAR(slot.s1, fromGrid.s1, 1e-2f);
    EXPECT_NEAR(static_cast<int>(slot.colour >> 24), static_cast<int>(fromGrid.colour >> 24), 1);
    EXPECT_NEAR(static_cast<int>(slot.colour & 0xFF), static_cast<int>(fromGrid.colour & 0xFF), 1);
}

// A 10 x 10 mesh cut into neighbouring patches. Both tessellators give every shared border
// the same vertices, bit for bit, from both sides, for both surface types, both normals
// sources and every step count; at unequal step counts the corners still agree exactly, so
// the crack filling between the borders closes on the very vertices both grids drew.
// Stepping alone ended a forward-differenced patch slightly off, and weight tables whose
// last row was taken at a sum of steps instead of exactly 1 did the same for basis tables.
TEST_F(Tessellate, SharedBordersAreTheSameVerticesFromBothSides) {
    constexpr int SIDE = 10;
    std::vector<Point4> points(SIDE * SIDE), normals(SIDE * SIDE);
    for (int r = 0; r < SIDE; ++r) {
        for (int c = 0; c < SIDE; ++c) {
            const float z = 3.1f * std::sin(0.9f * c + 0.35f * r) * std::cos(0.6f * r - 0.2f * c);
            points[r * SIDE + c] = {31.7f * c - 140.3f + 1.9f * r, 27.1f * r - 133.9f, z, 1.0f};
        }
    }
    Surface surface = {SIDE, SIDE, points.data(), normals.data(), nullptr};
    computeControlNormals(surface);
    renderOptions.gapFill = GAP_FILL;   // the borders are saved
    auto same = [](const ScreenVertex& a, const ScreenVertex& b) {
        return a.x == b.x && a.y == b.y && a.w == b.w && a.q == b.q &&
               (a.flags & CLIP_MASK) == (b.flags & CLIP_MASK);
    };
    using Tessellator = int (*)(PatchRecord&, const View&, float, float, float, float);
    for (const Tessellator tessellate : {tessellateBasis, tessellateForward}) {
        for (const bool controlNormals : {true, false}) {
            renderOptions.controlNormals = controlNormals;
            for (int type : {SURFACE_BSPLINE, SURFACE_BEZIER}) {
                renderOptions.surfaceType = static_cast<SurfaceType>(type);
                const int step = type == SURFACE_BEZIER ? 3 : 1;
                for (int n = 1; n <= GRID_MAX_STEPS; ++n) {
                    // Patch (0, 0) with n steps, its neighbour along u (next column) and
                    // along v (next row) with n steps and with m steps.
                    const int m = n % GRID_MAX_STEPS + 1;
                    PatchRecord patch[5] = {};
                    PatchBorderStore borders[5];
                    const int origin[5][2] = {{0, 0}, {step, 0}, {0, step}, {step, 0}, {0, step}};
                    for (int k = 0; k < 5; ++k) {
                        patch[k].controlPoints = points.data();
                        patch[k].controlNormals = normals.data();
                        patch[k].width = SIDE;
                        patch[k].lastColumn = origin[k][0] + 3;
                        patch[k].lastRow = origin[k][1] + 3;
                        patch[k].steps = k < 3 ? n : m;
                        lendPatchBorders(patch[k], borders[k]);
                        tessellate(patch[k], testView(), 0, 0, 256, 256);
                    }
                    const std::string where = "tessellator " +
                                              std::to_string(tessellate == tessellateForward) +
                                              " control normals " +
                                              std::to_string(controlNormals) + " type " +
                                              std::to_string(type) + " n " + std::to_string(n);
                    for (int k = 0; k <= n; ++k) {
                        ASSERT_TRUE(same(patch[0].edges[EDGE_LAST_U].slot[k],
                                         patch[1].edges[EDGE_FIRST_U].slot[k]))
                            << where << " slot " << k << " along u";
                        ASSERT_TRUE(same(patch[0].edges[EDGE_LAST_V].slot[k],
                                         patch[2].edges[EDGE_FIRST_V].slot[k]))
                            << where << " slot " << k << " along v";
                    }
                    for (int end : {0, 1}) {
                        ASSERT_TRUE(same(patch[0].edges[EDGE_LAST_U].slot[end * n],
                                         patch[3].edges[EDGE_FIRST_U].slot[end * m]))
                            << where << " m " << m << " corner " << end << " along u";
                        ASSERT_TRUE(same(patch[0].edges[EDGE_LAST_V].slot[end * n],
                                         patch[4].edges[EDGE_FIRST_V].slot[end * m]))
                            << where << " m " << m << " corner " << end << " along v";
                    }
                }
            }
        }
    }
}

}  // namespace
