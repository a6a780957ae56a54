// Waves moved lazily: points and normals brought to a step only where they are read give, once
// read, exactly what moving the whole mesh every step gives, across paused steps, switches of
// the normals' source, lifts and a replaced mesh; and points nobody read are left alone.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "surface/surface.h"
#include "surface/waves.h"

namespace {

// A hilly mesh with its own arrays and its own wave record.
struct Sea {
    int width, height;
    std::vector<Point4> points, normals;
    Surface surface = {};
    SurfaceList list = {};
    WaveState waves;
    Sea(int w, int h) : width(w), height(h), points(w * h), normals(w * h) {
        for (int r = 0; r < h; ++r) {
            for (int c = 0; c < w; ++c) points[r * w + c] = {float(c), float(r), 0.3f * float((c * r) % 5), 1.0f};
        }
        surface = Surface{w, h, points.data(), normals.data(), nullptr};
        computeControlNormals(surface);
        list = SurfaceList{1, &surface, nullptr};
        EXPECT_TRUE(buildSineTable(waves));
        seedRandom(waves, 21);
    }
    ~Sea() {
        freeSineTable(waves);
        clearWaveLifts(waves);
    }
};

bool sameBits(const std::vector<Point4>& a, const std::vector<Point4>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(Point4)) == 0;
}

TEST(LazyWaves, ReadPartsThenSettledEqualTheWholeMeshEveryStep) {
    std::mt19937 random(5);
    Sea eager(61, 47), lazy(61, 47);
    for (Sea* sea : {&eager, &lazy}) {
        ASSERT_TRUE(setWaveLift(sea->waves, 3 * 61 + 7, 2.5f));
        ASSERT_TRUE(setWaveLift(sea->waves, 46 * 61 + 60, -1.25f));
    }
    bool controlNormals = true;
    for (int frame = 0; frame < 120; ++frame) {
        const std::int32_t now = 700 * frame;
        // Every few steps the normals' source switches; some frames the waves are paused.
        if (frame % 7 == 3) controlNormals = !controlNormals;
        const bool paused = frame % 11 == 5;
        if (!paused) {
            animateWaves(eager.waves, eager.list, now, controlNormals);
            stepWaves(lazy.waves, lazy.list, now, controlNormals);
        }
        // A few parts read, as the surface pass reads its visited tiles.
        for (int k = 0; k < 3; ++k) {
            const int c0 = static_cast<int>(random() % 61) - 3;
            const int r0 = static_cast<int>(random() % 47) - 3;
            moveWaves(lazy.waves, lazy.surface, c0, r0, c0 + static_cast<int>(random() % 12),
                      r0 + static_cast<int>(random() % 12));
        }
        if (frame % 5 == 0) {
            settleWaves(lazy.waves, lazy.list);
            ASSERT_TRUE(sameBits(eager.points, lazy.points)) << "frame " << frame;
            ASSERT_TRUE(sameBits(eager.normals, lazy.normals)) << "frame " << frame;
        }
    }
}

TEST(LazyWaves, PointsNobodyReadStayWhereTheyWere) {
    Sea sea(40, 40);
    stepWaves(sea.waves, sea.list, 3000, true);
    const std::vector<Point4> before = sea.points;
    moveWaves(sea.waves, sea.surface, 10, 10, 12, 12);
    int moved = 0;
    for (int r = 0; r < 40; ++r) {
        for (int c = 0; c < 40; ++c) {
            const bool near = c >= 9 && c <= 13 && r >= 9 && r <= 13;
            const bool same = std::memcmp(&before[r * 40 + c], &sea.points[r * 40 + c], sizeof(Point4)) == 0;
            if (!near) {
                ASSERT_TRUE(same) << c << "," << r;
            }
            if (!same) ++moved;
        }
    }
    EXPECT_GT(moved, 0);
}

// A mesh loaded after the waves stepped keeps its own heights until the next step, even where
// it is read; the step after moves it.
TEST(LazyWaves, AReplacedMeshKeepsItsHeightsUntilTheNextStep) {
    Sea sea(20, 20);
    stepWaves(sea.waves, sea.list, 1000, false);
    settleWaves(sea.waves, sea.list);
    std::vector<Point4> fresh(20 * 20, Point4{0, 0, 7.0f, 1.0f});
    Surface replaced = {20, 20, fresh.data(), sea.normals.data(), nullptr};
    sea.list = SurfaceList{1, &replaced, nullptr};
    forgetWaveStamps(sea.waves);
    moveWaves(sea.waves, replaced, 0, 0, 19, 19);
    settleWaves(sea.waves, sea.list);
    for (const Point4& p : fresh) ASSERT_EQ(p.z, 7.0f);
    stepWaves(sea.waves, sea.list, 1100, false);
    settleWaves(sea.waves, sea.list);
    int changed = 0;
    for (const Point4& p : fresh) changed += p.z != 7.0f;
    EXPECT_GT(changed, 300);
}

}  // namespace
