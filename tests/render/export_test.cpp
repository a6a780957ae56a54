// Mesh export: the welded grid's counts for several meshes, step counts and both surface types
// (the shipped scene among them), no duplicate and no unused vertex, patch borders that are
// the same numbers on both sides, Bezier corners on their control points, triangles turning
// counter-clockwise about their normals, the three formats agreeing, the control meshes, and
// the refusals (unknown extension, nothing to write, a place that cannot be written).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "render/export.h"
#include "render/tessellate.h"
#include "surface/surface.h"

namespace {

struct PlyMesh {
    std::uint64_t vertexCount = 0, faceCount = 0;
    std::vector<float> vertices;            // 8 floats a vertex
    std::vector<std::uint32_t> faces;       // 3 indices a face
};

// Reads back the PLY the exporter writes (its own header layout only).
bool readPly(const std::string& path, PlyMesh& mesh) {
    std::ifstream in(path, std::ios::binary);
    std::string line;
    while (std::getline(in, line) && line != "end_header") {
        unsigned long long n = 0;
        if (std::sscanf(line.c_str(), "element vertex %llu", &n) == 1) mesh.vertexCount = n;
        if (std::sscanf(line.c_str(), "element face %llu", &n) == 1) mesh.faceCount = n;
    }
    mesh.vertices.resize(mesh.vertexCount * 8);
    in.read(reinterpret_cast<char*>(mesh.vertices.data()),
            static_cast<std::streamsize>(mesh.vertices.size() * sizeof(float)));
    for (std::uint64_t f = 0; f < mesh.faceCount && in; ++f) {
        std::uint8_t corners = 0;
        std::uint32_t index[3];
        in.read(reinterpret_cast<char*>(&corners), 1);
        in.read(reinterpret_cast<char*>(index), sizeof index);
        if (corners != 3) return false;
        mesh.faces.insert(mesh.faces.end(), index, index + 3);
    }
    return static_cast<bool>(in) && in.peek() == EOF;
}

class Export : public ::testing::Test {
protected:
    void SetUp() override {
        releaseSurfaces(list);
        dir = std::filesystem::temp_directory_path() /
              ("vorl-export-" + std::to_string(std::random_device{}()));
        std::filesystem::create_directories(dir);
    }
    void TearDown() override {
        releaseSurfaces(list);
        std::filesystem::remove_all(dir);
    }
    std::string file(const std::string& name) const { return (dir / name).string(); }
    // Loads surfaces of the given sizes, bumpy, x rising with the column and y with the row.
    void loadMeshes(const std::vector<std::pair<int, int>>& sizes) {
        std::string text = "B-Spline Surface\n" + std::to_string(sizes.size()) + "\n";
        for (std::size_t k = 0; k < sizes.size(); ++k) {
            const auto [w, h] = sizes[k];
            text += std::to_string(w) + " " + std::to_string(h) + "\n";
            for (int r = 0; r < h; ++r) {
                for (int c = 0; c < w; ++c) {
                    char line[96];
                    std::snprintf(line, sizeof line, "%.2f %.2f %.2f\n", 1.5 * c + 0.1 * r + 40.0 * k,
                                  1.25 * r, std::sin(0.9 * c) * std::cos(0.7 * r) + 0.05 * k);
                    text += line;
                }
            }
        }
        const std::string path = file("mesh.txt");
        std::ofstream(path) << text;
        char reason[SURFACE_REASON_MAX];
        ASSERT_TRUE(loadSurfaceFile(list, path.c_str(), reason, sizeof reason)) << reason;
    }
    PlyMesh exportPly(const ExportSettings& settings, MeshCounts* counts = nullptr) {
        const std::string path = file("mesh.ply");
        char reason[EXPORT_REASON_MAX];
        PlyMesh mesh;
        EXPECT_TRUE(exportSurfaceMeshes(list, settings, EXPORT_PLY, path.c_str(), counts, reason,
                                        sizeof reason)) << reason;
        EXPECT_TRUE(readPly(path, mesh));
        return mesh;
    }
    SurfaceList list = {};
    std::filesystem::path dir;
};

// Welded: each vertex is a distinct point and some face uses it; every index is in range.
void expectWelded(const PlyMesh& mesh, const std::string& what) {
    std::vector<std::tuple<float, float, float>> points;
    for (std::uint64_t v = 0; v < mesh.vertexCount; ++v) {
        const float* p = &mesh.vertices[v * 8];
        points.emplace_back(p[0], p[1], p[2]);
    }
    std::sort(points.begin(), points.end());
    EXPECT_EQ(std::adjacent_find(points.begin(), points.end()), points.end())
        << what << ": a vertex appears twice";
    std::vector<bool> used(mesh.vertexCount, false);
    for (std::uint32_t index : mesh.faces) {
        ASSERT_LT(index, mesh.vertexCount) << what;
        used[index] = true;
    }
    EXPECT_EQ(std::count(used.begin(), used.end(), false), 0) << what << ": an unused vertex";
}

std::uint64_t gridVertices(std::uint64_t nx, std::uint64_t ny, std::uint64_t n) {
    return (nx * n + 1) * (ny * n + 1);
}

}  // namespace

TEST_F(Export, BSplineGridsHaveTheWeldedCountsForEveryStepCount) {
    for (const auto& [w, h] : std::vector<std::pair<int, int>>{{4, 4}, {7, 5}, {10, 13}}) {
        releaseSurfaces(list);
        loadMeshes({{w, h}});
        for (int n : {1, 2, 6, 20}) {
            const std::string what = std::to_string(w) + "x" + std::to_string(h) + " at " +
                                     std::to_string(n);
            MeshCounts counts = {};
            const PlyMesh mesh = exportPly({SURFACE_BSPLINE, n, true}, &counts);
            const std::uint64_t vertices = static_cast<std::uint64_t>((w - 3) * n + 1) * ((h - 3) * n + 1);
            const std::uint64_t triangles = 2ull * (w - 3) * n * (h - 3) * n;
            EXPECT_EQ(mesh.vertexCount, vertices) << what;
            EXPECT_EQ(mesh.faceCount, triangles) << what;
            EXPECT_EQ(counts.vertices, vertices) << what;
            EXPECT_EQ(counts.triangles, triangles) << what;
            expectWelded(mesh, what);
        }
    }
}

TEST_F(Export, BezierGridsCountWholePatchesOnly) {
    // 8 x 11 points: 2 x 3 Bezier patches (column 7 belongs to none), 5 x 8 B-spline patches.
    loadMeshes({{8, 11}});
    for (int n : {1, 3, 20}) {
        const PlyMesh mesh = exportPly({SURFACE_BEZIER, n, false});
        EXPECT_EQ(mesh.vertexCount, gridVertices(2, 3, n)) << n;
        EXPECT_EQ(mesh.faceCount, 2ull * 2 * n * 3 * n) << n;
        expectWelded(mesh, "bezier at " + std::to_string(n));
    }
}

TEST_F(Export, TheShippedSceneExportsBothSurfacesWelded) {
    char reason[SURFACE_REASON_MAX];
    const std::string shipped = std::string(VORL_SOURCE_DIR) + "/data/vorl.txt";
    ASSERT_TRUE(loadSurfaceFile(list, shipped.c_str(), reason, sizeof reason)) << reason;
    ASSERT_EQ(list.count, 2);
    for (int n : {1, 6}) {
        const PlyMesh mesh = exportPly({SURFACE_BSPLINE, n, true});
        // The sea is 31 x 31 points, the island 13 x 13.
        EXPECT_EQ(mesh.vertexCount, gridVertices(28, 28, n) + gridVertices(10, 10, n)) << n;
        EXPECT_EQ(mesh.faceCount, 2ull * (28 * 28 + 10 * 10) * n * n) << n;
        std::vector<bool> used(mesh.vertexCount, false);
        for (std::uint32_t index : mesh.faces) used[index] = true;
        EXPECT_EQ(std::count(used.begin(), used.end(), false), 0);
    }
    const PlyMesh bezier = exportPly({SURFACE_BEZIER, 6, true});
    EXPECT_EQ(bezier.vertexCount, gridVertices(10, 10, 6) + gridVertices(4, 4, 6));
}

TEST_F(Export, PatchBordersAreTheSameNumbersOnBothSides) {
    loadMeshes({{10, 10}});
    const Surface& s = list.surfaces[0];
    static Point3 a[GRID_MAX_SIDE * GRID_MAX_SIDE], an[GRID_MAX_SIDE * GRID_MAX_SIDE];
    static Point3 b[GRID_MAX_SIDE * GRID_MAX_SIDE], bn[GRID_MAX_SIDE * GRID_MAX_SIDE];
    for (int type : {SURFACE_BSPLINE, SURFACE_BEZIER}) {
        for (bool poly : {false, true}) {
            for (int n : {1, 5, 20}) {
                const int step = type == SURFACE_BEZIER ? 3 : 1;
                PatchRecord left = {s.points, s.normals, s.width, 3, 3, n, {}};
                PatchRecord right = left;
                right.lastColumn += step;
                PatchRecord below = left;
                below.lastRow += step;
                evaluatePatchGrid(left, type, poly, a, an);
                evaluatePatchGrid(right, type, poly, b, bn);
                const int side = n + 1;
                for (int k = 0; k <= n; ++k) {
                    // Left's last column (i = n) is right's first (i = 0).
                    const Point3& p = a[n * side + k];
                    const Point3& q = b[k];
                    ASSERT_TRUE(p.x == q.x && p.y == q.y && p.z == q.z) << type << poly << n << " " << k;
                }
                evaluatePatchGrid(below, type, poly, b, bn);
                for (int k = 0; k <= n; ++k) {
                    const Point3& p = a[k * side + n];
                    const Point3& q = b[k * side];
                    ASSERT_TRUE(p.x == q.x && p.y == q.y && p.z == q.z) << type << poly << n << " " << k;
                }
            }
        }
    }
}

TEST_F(Export, BezierPatchCornersLieOnTheirControlPoints) {
    loadMeshes({{10, 7}});   // 3 x 2 Bezier patches
    const Surface& s = list.surfaces[0];
    const int n = 4;
    const PlyMesh mesh = exportPly({SURFACE_BEZIER, n, true});
    const std::uint64_t columns = 3 * n + 1;
    for (int j = 0; j <= 2; ++j) {
        for (int i = 0; i <= 3; ++i) {
            const float* v = &mesh.vertices[((j * n) * columns + i * n) * 8];
            const Point4& p = s.points[(3 * j) * s.width + 3 * i];
            EXPECT_FLOAT_EQ(v[0], p.x) << i << "," << j;
            EXPECT_FLOAT_EQ(v[1], p.y) << i << "," << j;
            EXPECT_FLOAT_EQ(v[2], p.z) << i << "," << j;
        }
    }
}

TEST_F(Export, TrianglesTurnCounterClockwiseAboutTheirNormals) {
    loadMeshes({{9, 8}});
    for (bool controlNormals : {true, false}) {
        const PlyMesh mesh = exportPly({SURFACE_BSPLINE, 3, controlNormals});
        for (std::uint64_t f = 0; f < mesh.faceCount; ++f) {
            const float* p[3];
            for (int c = 0; c < 3; ++c) p[c] = &mesh.vertices[mesh.faces[f * 3 + c] * 8];
            const float u[3] = {p[1][0] - p[0][0], p[1][1] - p[0][1], p[1][2] - p[0][2]};
            const float v[3] = {p[2][0] - p[0][0], p[2][1] - p[0][1], p[2][2] - p[0][2]};
            const float n[3] = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2],
                                u[0] * v[1] - u[1] * v[0]};
            for (int c = 0; c < 3; ++c) {
                const float* vn = p[c] + 3;
                ASSERT_NEAR(vn[0] * vn[0] + vn[1] * vn[1] + vn[2] * vn[2], 1.0f, 1e-5f);
                ASSERT_GT(n[0] * vn[0] + n[1] * vn[1] + n[2] * vn[2], 0.0f)
                    << "face " << f << (controlNormals ? " control" : " poly") << " normals";
            }
        }
    }
}

TEST_F(Export, ObjAndStlHoldTheSameMeshAsPly) {
    loadMeshes({{6, 5}, {3, 3}, {5, 6}});   // the 3 x 3 mesh has no patch and is left out
    const ExportSettings settings = {SURFACE_BSPLINE, 4, true};
    const PlyMesh ply = exportPly(settings);
    char reason[EXPORT_REASON_MAX];
    ASSERT_TRUE(exportSurfaceMeshes(list, settings, EXPORT_OBJ, file("m.obj").c_str(), nullptr,
                                    reason, sizeof reason)) << reason;
    ASSERT_TRUE(exportSurfaceMeshes(list, settings, EXPORT_STL, file("m.stl").c_str(), nullptr,
                                    reason, sizeof reason)) << reason;
    // OBJ: one v, vt and vn a vertex, one f a triangle with the same corners (from 1).
    std::ifstream obj(file("m.obj"));
    std::string line;
    std::vector<float> v, vt;
    std::vector<std::uint64_t> corners;
    int objects = 0;
    while (std::getline(obj, line)) {
        float x, y, z;
        unsigned long long a[9];
        if (std::sscanf(line.c_str(), "v %f %f %f", &x, &y, &z) == 3) v.insert(v.end(), {x, y, z});
        if (std::sscanf(line.c_str(), "vt %f %f", &x, &y) == 2) vt.insert(vt.end(), {x, y});
        if (std::sscanf(line.c_str(), "f %llu/%llu/%llu %llu/%llu/%llu %llu/%llu/%llu", &a[0],
                        &a[1], &a[2], &a[3], &a[4], &a[5], &a[6], &a[7], &a[8]) == 9) {
            for (int k = 0; k < 9; k += 3) {
                ASSERT_TRUE(a[k] == a[k + 1] && a[k] == a[k + 2]) << line;
                corners.push_back(a[k] - 1);
            }
        }
        if (line.rfind("o surface", 0) == 0) ++objects;
    }
    EXPECT_EQ(objects, 2);
    ASSERT_EQ(v.size(), ply.vertexCount * 3);
    ASSERT_EQ(vt.size(), ply.vertexCount * 2);
    ASSERT_EQ(corners.size(), ply.faces.size());
    for (std::size_t k = 0; k < corners.size(); ++k) ASSERT_EQ(corners[k], ply.faces[k]) << k;
    for (std::uint64_t k = 0; k < ply.vertexCount; ++k) {
        ASSERT_EQ(v[k * 3], ply.vertices[k * 8]) << "shortest text reads back the same float";
        ASSERT_EQ(vt[k * 2 + 1], ply.vertices[k * 8 + 7]);
    }
    // The texture spans four repeats across each surface, as drawn.
    EXPECT_EQ(vt[0], 0.0f);
    const std::uint64_t firstSurface = gridVertices(3, 2, 4);
    EXPECT_NEAR(vt[(firstSurface - 1) * 2], 4.0f, 1e-4f);
    // STL: 50 bytes a triangle, its corners the PLY's points in the same order.
    std::ifstream stl(file("m.stl"), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(stl)), std::istreambuf_iterator<char>());
    ASSERT_EQ(bytes.size(), 84 + 50 * ply.faceCount);
    EXPECT_NE(bytes.rfind("solid", 0), 0u) << "a binary STL must not look like a text one";
    std::uint32_t count = 0;
    std::memcpy(&count, bytes.data() + 80, 4);
    EXPECT_EQ(count, ply.faceCount);
    for (std::uint64_t f = 0; f < ply.faceCount; ++f) {
        for (int c = 0; c < 3; ++c) {
            float corner[3];
            std::memcpy(corner, bytes.data() + 84 + 50 * f + 12 + 12 * c, sizeof corner);
            const float* p = &ply.vertices[ply.faces[f * 3 + c] * 8];
            ASSERT_TRUE(corner[0] == p[0] && corner[1] == p[1] && corner[2] == p[2]) << f;
        }
    }
}

TEST_F(Export, ControlMeshesAreQuadsOverEveryPoint) {
    loadMeshes({{5, 4}, {3, 2}});
    char reason[EXPORT_REASON_MAX];
    ASSERT_TRUE(exportControlMeshes(list, file("c.obj").c_str(), reason, sizeof reason)) << reason;
    std::ifstream obj(file("c.obj"));
    std::string line;
    int vertices = 0;
    std::vector<std::vector<unsigned>> quads;
    while (std::getline(obj, line)) {
        unsigned a, b, c, d;
        if (line.rfind("v ", 0) == 0) ++vertices;
        if (std::sscanf(line.c_str(), "f %u %u %u %u", &a, &b, &c, &d) == 4) quads.push_back({a, b, c, d});
    }
    EXPECT_EQ(vertices, 5 * 4 + 3 * 2);
    ASSERT_EQ(quads.size(), 4u * 3 + 2u * 1);
    EXPECT_EQ(quads[0], (std::vector<unsigned>{1, 2, 7, 6}));
    EXPECT_EQ(quads[12], (std::vector<unsigned>{21, 22, 25, 24})) << "the second mesh numbered on";
}

TEST_F(Export, NamesFormatsAndPlacesThatCannotBeWrittenAreRefused) {
    int format = -1;
    char reason[EXPORT_REASON_MAX];
    struct Known {
        const char* name;
        int format;
    };
    for (const Known& k : {Known{"a.obj", EXPORT_OBJ}, Known{"B.OBJ", EXPORT_OBJ},
                           Known{"dir.x/mesh.Stl", EXPORT_STL}, Known{"m.ply", EXPORT_PLY}}) {
        EXPECT_TRUE(exportFormatOf(k.name, &format, reason, sizeof reason)) << k.name;
        EXPECT_EQ(format, k.format) << k.name;
    }
    for (const char* name : {"mesh.txt", "mesh", "mesh.objx", "folder.obj/mesh", "mesh."}) {
        EXPECT_FALSE(exportFormatOf(name, &format, reason, sizeof reason)) << name;
        EXPECT_EQ(std::string(reason), std::string(name) + ": the name must end in .obj (OBJ), "
                                                           ".stl (binary STL) or .ply (binary PLY)");
    }
    // Nothing to write: no surface with a patch.
    loadMeshes({{3, 3}});
    const ExportSettings settings = {SURFACE_BSPLINE, 6, true};
    const std::string empty = file("empty.obj");
    EXPECT_FALSE(exportSurfaceMeshes(list, settings, EXPORT_OBJ, empty.c_str(), nullptr, reason,
                                     sizeof reason));
    EXPECT_EQ(std::string(reason), empty + ": not written: no surface has a patch");
    EXPECT_FALSE(std::filesystem::exists(empty));
    // A folder that is not there: refused, nothing made; a file in the way stays as it was.
    releaseSurfaces(list);
    loadMeshes({{5, 5}});
    const std::string nowhere = file("no-such-folder/mesh.ply");
    EXPECT_FALSE(exportSurfaceMeshes(list, settings, EXPORT_PLY, nowhere.c_str(), nullptr, reason,
                                     sizeof reason));
    EXPECT_EQ(std::string(reason).rfind(nowhere + ": not written: ", 0), 0u) << reason;
    EXPECT_FALSE(exportControlMeshes(list, nowhere.c_str(), reason, sizeof reason));
    std::filesystem::create_directory(dir / "folder.obj");
    EXPECT_FALSE(exportSurfaceMeshes(list, settings, EXPORT_OBJ, file("folder.obj").c_str(), nullptr,
                                     reason, sizeof reason));
    EXPECT_TRUE(std::filesystem::is_directory(dir / "folder.obj"));
    EXPECT_EQ(std::vector<std::string>({"folder.obj", "mesh.txt"}), [&] {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }()) << "no temporary stays";
}
