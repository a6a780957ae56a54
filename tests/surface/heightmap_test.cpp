// Heightmap meshes: a point per sample one unit apart, the image's top row farthest, heights
// in proportion to the samples, kept to hundredths so that a save and a reload give the same
// points bit for bit; grids the mesh cannot take are refused and leave the list as it was.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "surface/heightmap.h"
#include "tests/surface/surface_folder.h"

namespace {

class Heightmap : public SurfaceFolderTest {};

const Point4& pointAt(const Surface& s, int column, int row) {
    return s.points[static_cast<std::size_t>(row) * s.width + column];
}

}  // namespace

TEST_F(Heightmap, PointsStandOneUnitApartTheTopRowFarthest) {
    // 5 x 4 samples, top row first: value = 10 * row + column.
    std::vector<std::uint16_t> samples;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 5; ++c) samples.push_back(static_cast<std::uint16_t>(10 * r + c));
    char reason[SURFACE_REASON_MAX];
    ASSERT_TRUE(makeHeightmapSurfaces(surfaceList, samples.data(), 5, 4, 255, 2.55f, "m.png",
                                      reason, sizeof reason)) << reason;
    ASSERT_EQ(surfaceList.count, 1);
    const Surface& s = surfaceList.surfaces[0];
    EXPECT_EQ(s.width, 5);
    EXPECT_EQ(s.height, 4);
    ASSERT_NE(s.patchSlots, nullptr);
    // Mesh row 0 is the image's bottom row, nearest the eye; the centre column at x = 0.
    EXPECT_EQ(pointAt(s, 0, 0).x, -2.0f);
    EXPECT_EQ(pointAt(s, 4, 0).x, 2.0f);
    EXPECT_EQ(pointAt(s, 2, 0).y, HEIGHTMAP_NEAR_Y);
    EXPECT_EQ(pointAt(s, 2, 3).y, HEIGHTMAP_NEAR_Y + 3.0f);
    EXPECT_EQ(pointAt(s, 1, 0).z, heightmapHeight(31, 255, 2.55f));   // image row 3, column 1
    EXPECT_EQ(pointAt(s, 1, 3).z, heightmapHeight(1, 255, 2.55f));    // image row 0
    EXPECT_FLOAT_EQ(pointAt(s, 4, 0).z, 0.34f);   // 34 / 255 * 2.55
    for (int i = 0; i < 20; ++i) EXPECT_EQ(s.points[i].w, 1.0f);
    // The mesh faces up: its normals point to +z.
    EXPECT_GT(s.normals[7].z, 0.0f);
    // An even side is centred on half units.
    std::vector<std::uint16_t> flat(4 * 4, 0);
    ASSERT_TRUE(makeHeightmapSurfaces(surfaceList, flat.data(), 4, 4, 255, 1.0f, "f.png", reason,
                                      sizeof reason));
    EXPECT_EQ(pointAt(surfaceList.surfaces[0], 0, 0).x, -1.5f);
}

TEST_F(Heightmap, HeightsFollowTheSamplesInProportion) {
    EXPECT_EQ(heightmapHeight(0, 255, 7.0f), 0.0f);
    EXPECT_EQ(heightmapHeight(255, 255, 7.0f), 7.0f);
    EXPECT_EQ(heightmapHeight(65535, 65535, 12.5f), 12.5f);
    EXPECT_FLOAT_EQ(heightmapHeight(32768, 65535, 10.0f), 5.0f);
    float previous = -1.0f;
    for (std::uint32_t v = 0; v <= 255; ++v) {
        const float h = heightmapHeight(v, 255, 25.5f);
        EXPECT_FLOAT_EQ(h, 0.1f * static_cast<float>(v)) << v;
        EXPECT_GT(h, previous) << v;
        previous = h;
    }
    EXPECT_EQ(heightmapDefaultHeight(64, 32), 64.0f / HEIGHTMAP_DEFAULT_SIDE_SHARE);
    EXPECT_EQ(heightmapDefaultHeight(10, 500), 500.0f / HEIGHTMAP_DEFAULT_SIDE_SHARE);
}

TEST_F(Heightmap, ASaveAndAReloadGiveTheSamePointsBitForBit) {
    std::vector<std::uint16_t> samples;
    std::uint32_t state = 12345;
    for (int i = 0; i < 37 * 23; ++i) {
        state = state * 1664525u + 1013904223u;
        samples.push_back(static_cast<std::uint16_t>(state >> 16));
    }
    // Heights below and past 2^24 hundredths (the large one through the decimal text).
    for (float scale : {3.7f, 1234.5f, 987654.0f}) {
        char reason[SURFACE_REASON_MAX];
        ASSERT_TRUE(makeHeightmapSurfaces(surfaceList, samples.data(), 37, 23, 65535, scale, "r.png",
                                          reason, sizeof reason));
        const std::string path = (dir / "saved.txt").string();
        ASSERT_TRUE(saveSurfaceFile(surfaceList, path.c_str(), reason, sizeof reason)) << reason;
        SurfaceList reloaded = {};
        ASSERT_TRUE(loadSurfaceFile(reloaded, path.c_str(), reason, sizeof reason)) << reason;
        ASSERT_EQ(reloaded.count, 1);
        const std::size_t bytes = sizeof(Point4) * 37 * 23;
        EXPECT_EQ(std::memcmp(reloaded.surfaces[0].points, surfaceList.surfaces[0].points, bytes), 0)
            << scale;
        releaseSurfaces(reloaded);
    }
}

TEST_F(Heightmap, GridsTheMeshCannotTakeAreRefusedAndTheListKept) {
    std::vector<std::uint16_t> samples(8 * 8, 100);
    char reason[SURFACE_REASON_MAX];
    ASSERT_TRUE(makeHeightmapSurfaces(surfaceList, samples.data(), 8, 8, 255, 1.0f, "ok.png", reason,
                                      sizeof reason));
    const Point4* kept = surfaceList.surfaces[0].points;
    struct Case {
        int width, height;
        float scale;
        const char* reason;
    };
    const Case cases[] = {
        {3, 8, 1.0f, "small.png: a heightmap of 3 x 8 pixels: a side needs at least 4"},
        {8, 2, 1.0f, "small.png: a heightmap of 8 x 2 pixels: a side needs at least 4"},
        {8, 8, 0.0f, "small.png: a height of 0: it must be above 0 and at most 1000000"},
        {8, 8, 2e6f, "small.png: a height of 2e+06: it must be above 0 and at most 1000000"},
        {4097, 4096, 1.0f, "small.png: a heightmap of 4097 x 4096 pixels, more points than the "
                           "limit of 16777216"},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(makeHeightmapSurfaces(surfaceList, samples.data(), c.width, c.height, 255,
                                           c.scale, "small.png", reason, sizeof reason));
        EXPECT_STREQ(reason, c.reason);
        EXPECT_EQ(surfaceList.count, 1);
        EXPECT_EQ(surfaceList.surfaces[0].points, kept) << "the list as it was";
    }
}
