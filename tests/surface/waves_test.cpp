// Waves: the sine table and cosine lookup, the generator's sequence, source placement, the
// reach of a source, the envelope at birth, the normals option, and clock values that wrap
// or grow past the 32-bit index range. The clock is the platform's fixed clock.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <numbers>
#include <vector>

#include "surface/surface.h"
#include "surface/waves.h"

namespace {

// The animation's record and the surfaces it moves.
WaveState waveState;
SurfaceList surfaceList;

class Waves : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(buildSineTable(waveState));
        for (WaveSource& source : waveState.sources) source = WaveSource{};
        seedRandom(waveState, 1);
    }
    void TearDown() override {
        releaseSurfaces(surfaceList);
        freeSineTable(waveState);
        clearWaveLifts(waveState);
    }
    // One animation step at the clock reading `clock`.
    void animate() {
        animateWaves(waveState, surfaceList, static_cast<std::int32_t>(clock), controlNormals);
    }
    std::uint32_t clock = 0;
    bool controlNormals = true;
    // Makes the surface list one flat width x height mesh on the unit grid at height z.
    void makeMesh(int width, int height, float z = 0.0f) {
        releaseSurfaces(surfaceList);
        surfaceList.surfaces = new Surface[1]();
        surfaceList.count = 1;
        Surface& s = surfaceList.surfaces[0];
        s.width = width;
        s.height = height;
        s.points = new Point4[width * height];
        s.normals = new Point4[width * height];
        for (int r = 0; r < height; ++r)
            for (int c = 0; c < width; ++c) s.points[r * width + c] = Point4{float(c), float(r), z, 1};
        computeControlNormals(s);
    }
    static const Point4& point(int column, int row) {
        const Surface& s = surfaceList.surfaces[0];
        return s.points[row * s.width + column];
    }
    // A live source at (x, y) at the peak of its life (envelope 1) at clock `now`.
    static void setSource(int k, float x, float y, float amplitude, std::uint32_t now) {
        waveState.sources[k] = WaveSource{x, y, amplitude, static_cast<std::int32_t>(now - 5000), 10000, 1.0f / 5000.0f};
    }
    // The ripple of a peak-life source computed independently with std::cos in double.
    static double ripple(double dx, double dy, double reachSquared, double amplitude, std::uint32_t now) {
        const double d2 = dx * dx + dy * dy;
        if (d2 > reachSquared) return 0.0;
        const double s = std::sqrt(d2 / reachSquared);
        const double phase = (static_cast<std::int32_t>(now) >> 3) * 0.0174533;
        return -std::cos(s * 31.41594 - phase) * (1 - s) * (1 - s) * amplitude;
    }
};

TEST_F(Waves, SineTableHoldsOneTurn) {
    for (int i = 0; i < SINE_TABLE_SIZE; ++i) {
        // The single-precision step and argument stray by up to about 3e-6 near the end.
        EXPECT_NEAR(waveState.sineTable[i], std::sin(i * 2.0 * std::numbers::pi / SINE_TABLE_SIZE), 4e-6) << i;
    }
    EXPECT_EQ(waveState.sineTable[0], 0.0f);
    EXPECT_NEAR(waveState.sineTable[1024], 1.0f, 1e-7f);
}

TEST_F(Waves, CosineLookupWrapsEveryIndex) {
    EXPECT_EQ(cosineLookup(waveState, -1), waveState.sineTable[1023]);
    EXPECT_NEAR(cosineLookup(waveState, -1), std::cos(-2.0 * std::numbers::pi / 4096), 2e-6);
    EXPECT_EQ(cosineLookup(waveState, 0), waveState.sineTable[1024]);
    EXPECT_EQ(cosineLookup(waveState, 3072), waveState.sineTable[0]);
    EXPECT_EQ(cosineLookup(waveState, 4096 * 1000 + 7), cosineLookup(waveState, 7));
    EXPECT_EQ(cosineLookup(waveState, -4096 * 1000 + 7), cosineLookup(waveState, 7));
    EXPECT_EQ(cosineLookup(waveState, INT_MAX), waveState.sineTable[1023]);
    EXPECT_EQ(cosineLookup(waveState, INT_MIN), waveState.sineTable[1024]);
}

TEST_F(Waves, GeneratorSequenceForSeedOne) {
    seedRandom(waveState, 1);
    const int expected[] = {41, 18467, 6334, 26500, 19169};
    for (int value : expected) EXPECT_EQ(nextRandom(waveState), value);
    seedRandom(waveState, 0xFFFFFFFFu);
    for (int i = 0; i < 1000; ++i) {
        const int r = nextRandom(waveState);
        ASSERT_GE(r, 0);
        ASSERT_LE(r, 32767);
    }
}

TEST_F(Waves, FirstCallPlacesEverySource) {
    makeMesh(32, 20);
    clock = 1234;
    seedRandom(waveState, 77);
    const int r1 = nextRandom(waveState), r2 = nextRandom(waveState);
    seedRandom(waveState, 77);
    animate();
    for (const WaveSource& source : waveState.sources) {
        EXPECT_EQ(source.start, 1234);
        EXPECT_GE(source.duration, 5000);
        EXPECT_LE(source.duration, 15000);
        EXPECT_FLOAT_EQ(source.inverseHalfDuration, 1.0f / (source.duration * 0.5f));
        EXPECT_GE(source.amplitude, 0.5f);
        EXPECT_LE(source.amplitude, 1.5f);
        EXPECT_GE(source.x, 0.0f);
        EXPECT_LE(source.x, 32.0f);
        EXPECT_GE(source.y, 0.0f);
        EXPECT_LE(source.y, 20.0f);
    }
    // The first two draws place the first source's x (across the width) and y.
    EXPECT_NEAR(waveState.sources[0].x, r1 * 32 / 32767.0, 1e-4);
    EXPECT_NEAR(waveState.sources[0].y, r2 * 20 / 32767.0, 1e-4);
    // Newly placed sources have almost no height yet (envelope at most 1 / duration): the
    // ripples fade in.
    for (int r = 0; r < 20; ++r)
        for (int c = 0; c < 32; ++c) EXPECT_LT(std::fabs(point(c, r).z), 2e-3f);
}

TEST_F(Waves, LiveSourcesStayAndExpiredOnesMove) {
    makeMesh(16, 16);
    clock = 20000;
    setSource(0, 3, 3, 1, 20000);
    waveState.sources[1] = WaveSource{5, 5, 1, 20000 - 10001, 10000, 1.0f / 5000.0f};   // expired
    waveState.sources[2] = WaveSource{6, 6, 1, 20000 - 10000, 10000, 1.0f / 5000.0f};   // last instant
    waveState.sources[3] = WaveSource{7, 7, 1, 20000 + 500, 10000, 1.0f / 5000.0f};     // in the future
    animate();
    EXPECT_EQ(waveState.sources[0].start, 15000);
    EXPECT_EQ(waveState.sources[1].start, 20000);
    EXPECT_EQ(waveState.sources[2].start, 10000);
    EXPECT_EQ(waveState.sources[3].start, 20000);
}

TEST_F(Waves, SourceAtTheCentreReachesEveryPointOfANineByNine) {
    makeMesh(9, 9);
    const std::uint32_t now = 123456;
    clock = now;
    setSource(0, 4, 4, 1.25f, now);
    for (int k = 1; k < WAVE_SOURCE_COUNT; ++k) setSource(k, 4, 4, 0.0f, now);
    animate();
    // reach^2 = 4^2 + 4^2 = 32: the corners lie exactly on the reach and get nothing.
    EXPECT_EQ(point(0, 0).z, 0.0f);
    EXPECT_EQ(point(8, 0).z, 0.0f);
    EXPECT_EQ(point(0, 8).z, 0.0f);
    EXPECT_EQ(point(8, 8).z, 0.0f);
    int moved = 0;
    for (int r = 0; r < 9; ++r) {
        for (int c = 0; c < 9; ++c) {
            const double expected = ripple(c - 4, r - 4, 32, 1.25, now);
            // The table steps by 2 pi / 4096 and the index truncates: about 0.0025 at most.
            EXPECT_NEAR(point(c, r).z, expected, 4e-3) << c << "," << r;
            if (std::fabs(point(c, r).z) > 1e-3f) ++moved;
            EXPECT_EQ(point(c, r).x, float(c));
            EXPECT_EQ(point(c, r).w, 1.0f);
        }
    }
    EXPECT_GT(moved, 60);
}

TEST_F(Waves, ColumnsAndRowsAreNotSwapped) {
    makeMesh(12, 6);
    const std::uint32_t now = 777;
    clock = now;
    setSource(0, 2.5f, 1.0f, 1.0f, now);
    setSource(1, 9.0f, 4.5f, 0.7f, now);
    for (int k = 2; k < WAVE_SOURCE_COUNT; ++k) setSource(k, 0, 0, 0.0f, now);
    animate();
    const double reachSquared = 3 * 3 + 6 * 6;
    for (int r = 0; r < 6; ++r) {
        for (int c = 0; c < 12; ++c) {
            const double expected = ripple(c - 2.5, r - 1.0, reachSquared, 1.0, now) +
                                    ripple(c - 9.0, r - 4.5, reachSquared, 0.7, now);
            EXPECT_NEAR(point(c, r).z, expected, 6e-3) << c << "," << r;
        }
    }
}

TEST_F(Waves, PointsBeyondEveryReachAreFlat) {
    makeMesh(9, 9, 5.0f);
    clock = 50000;
    for (int k = 0; k < WAVE_SOURCE_COUNT; ++k) setSource(k, 100.0f + k, -50.0f, 1.5f, 50000);
    animate();
    for (int r = 0; r < 9; ++r)
        for (int c = 0; c < 9; ++c) EXPECT_EQ(point(c, r).z, 0.0f);
}

TEST_F(Waves, NormalsFollowOnlyWithControlNormals) {
    makeMesh(9, 9);
    clock = 40000;
    for (int k = 0; k < WAVE_SOURCE_COUNT; ++k) setSource(k, 2.0f + k, 3.0f, 1.0f, 40000);
    Surface& s = surfaceList.surfaces[0];
    controlNormals = false;
    animate();
    for (int i = 0; i < 81; ++i) EXPECT_EQ(s.normals[i].z, 1.0f) << "kept from the flat mesh";

    controlNormals = true;
    animate();
    Surface copy{9, 9, s.points, new Point4[81], nullptr};
    computeControlNormals(copy);
    int tilted = 0;
    for (int i = 0; i < 81; ++i) {
        EXPECT_EQ(s.normals[i].x, copy.normals[i].x);
        EXPECT_EQ(s.normals[i].z, copy.normals[i].z);
        if (s.normals[i].z < 0.999f) ++tilted;
    }
    EXPECT_GT(tilted, 0);
    delete[] copy.normals;
}

TEST_F(Waves, ClockWrapKeepsSourcesAndHugeClocksStayFinite) {
    makeMesh(9, 9);
    // Across the wrap of the clock, unsigned (to 0) or signed (to INT_MIN), a source placed
    // just before it lives on.
    for (std::uint32_t before : {0xFFFFFF00u, 0x7FFFFF00u}) {
        setSource(0, 4, 4, 1, before);
        for (int k = 1; k < WAVE_SOURCE_COUNT; ++k) setSource(k, 1, 1, 1, before);
        clock = before + 0x200u;
        animate();
        EXPECT_EQ(waveState.sources[0].start, static_cast<std::int32_t>(before - 5000));
    }

    // Clocks whose phase index leaves the 32-bit range still give bounded, finite heights.
    for (std::uint32_t now : {0x7FFFFFF0u, 0x80000010u, 0xC0000000u, 0xFFFFFFF0u}) {
        clock = now;
        for (int k = 0; k < WAVE_SOURCE_COUNT; ++k) setSource(k, 1.0f + 2 * k, 4, 1.5f, now);
        animate();
        for (int i = 0; i < 81; ++i) {
            const float z = surfaceList.surfaces[0].points[i].z;
            ASSERT_TRUE(std::isfinite(z));
            ASSERT_LE(std::fabs(z), 6.0f);
        }
    }
}

TEST_F(Waves, NothingToAnimateIsHarmless) {
    animate();   // no surface
    EXPECT_EQ(surfaceList.count, 0);
    makeMesh(4, 4, 2.0f);
    freeSineTable(waveState);
    clock = 9000;
    animate();   // no table: heights stay as they are
    EXPECT_EQ(point(1, 1).z, 2.0f);
}

}  // namespace

// The editor's lifts: each raises its own point above the ripples by its height, whatever
// order they were given in and however many; a lift of 0 is taken away; one naming a point
// the surface does not have (a smaller mesh since) is ignored.
TEST_F(Waves, LiftsRaiseTheirOwnPointsAboveTheRipples) {
    makeMesh(9, 9);
    clock = 40000;
    setSource(0, 4.0f, 4.0f, 1.0f, 40000);
    animate();
    std::vector<float> ripples;
    for (int i = 0; i < 81; ++i) ripples.push_back(surfaceList.surfaces[0].points[i].z);

    // Forty lifts given from the last point down (the list grows past its first size).
    for (int i = 80; i > 0; i -= 2) ASSERT_TRUE(setWaveLift(waveState, i, 0.25f * i));
    ASSERT_TRUE(setWaveLift(waveState, 500, 9.0f));
    ASSERT_TRUE(setWaveLift(waveState, 40, 0.0f));
    EXPECT_EQ(waveLift(waveState, 40), 0.0f);
    EXPECT_EQ(waveLift(waveState, 42), 10.5f);
    EXPECT_EQ(waveLift(waveState, 41), 0.0f);
    animate();
    for (int i = 0; i < 81; ++i) {
        const float lift = (i % 2 == 0 && i != 0 && i != 40) ? 0.25f * i : 0.0f;
        EXPECT_EQ(surfaceList.surfaces[0].points[i].z, ripples[i] + lift) << i;
    }
    clearWaveLifts(waveState);
    EXPECT_EQ(waveState.liftCount, 0);
    animate();
    for (int i = 0; i < 81; ++i) EXPECT_EQ(surfaceList.surfaces[0].points[i].z, ripples[i]) << i;
}
