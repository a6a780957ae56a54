// The scale benchmark's pieces: its terrain as the program's reader and the program itself take
// it, the sides list, the statistics line, the median, and a run under a time limit.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <string>
#include <system_error>
#include <unistd.h>
#include <vector>

#include "bench/scale_run.h"
#include "surface/surface.h"

namespace {

namespace fs = std::filesystem;

// A folder of the test's own under the temporary folder, removed at the end.
struct ScratchFolder {
    fs::path root;
    ScratchFolder() {
        root = fs::temp_directory_path() /
               ("vorl-scale-run-test-" + std::to_string(getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(root / "data");
    }
    ~ScratchFolder() {
        std::error_code error;
        fs::remove_all(root, error);
    }
};

TEST(ScaleTerrain, ReadsBackAsOneMeshCentredOnTheEyeWithGentleHillsBelowIt) {
    ScratchFolder scratch;
    const std::string file = (scratch.root / "terrain.txt").string();
    for (int side : {4, 37, 128}) {
        const long long bytes = scale::writeTerrain(file.c_str(), side);
        ASSERT_GT(bytes, 0);
        EXPECT_EQ(bytes, static_cast<long long>(fs::file_size(file))) << side;
        // The disk check's estimate stays near the real size of a mesh of any size.
        if (side >= 37) {
            EXPECT_NEAR(static_cast<double>(scale::terrainBytesEstimate(side)),
                        static_cast<double>(bytes), 0.1 * static_cast<double>(bytes))
                << side;
        }

        SurfaceList list = {};
        char reason[SURFACE_REASON_MAX] = {};
        ASSERT_TRUE(loadSurfaceFile(list, file.c_str(), reason, sizeof reason)) << reason;
        EXPECT_STREQ(reason, "");
        ASSERT_EQ(list.count, 1);
        const Surface& mesh = list.surfaces[0];
        ASSERT_EQ(mesh.width, side);
        ASSERT_EQ(mesh.height, side);
        float lowest = 1e9f, highest = -1e9f;
        for (int r = 0; r < side; ++r) {
            for (int c = 0; c < side; ++c) {
                const Point4& p = mesh.points[r * side + c];
                // One unit apart, the eye (x = 0, y = 0) over the middle.
                ASSERT_EQ(p.x, static_cast<float>(c - side / 2));
                ASSERT_EQ(p.y, static_cast<float>(r - side / 2));
                ASSERT_NEAR(p.z, scale::hillHeight(p.x, p.y), 1e-5);
                lowest = std::min(lowest, p.z);
                highest = std::max(highest, p.z);
            }
        }
        // Below the eye's model height of 1, and hills rather than a plane.
        EXPECT_LT(highest, 0.5f) << side;
        EXPECT_GT(lowest, -1.3f) << side;
        if (side >= 37) {
            EXPECT_GT(highest - lowest, 0.8f) << side;
        }
        releaseSurfaces(list);
    }
    // Every side shows the same ground: a point has the same height whatever the mesh.
    EXPECT_EQ(scale::meshCoordinate(64, 128), 0);
    EXPECT_EQ(scale::meshCoordinate(2048, 4096), 0);
}

TEST(ScaleTerrain, TheProgramDrawsItUnderTheStartView) {
    ScratchFolder scratch;
    const fs::path data = scratch.root / "data";
    for (const char* texture : {"tex.tga", "env.tga"}) {
        fs::copy_file(fs::path(VORL_SOURCE_DIR) / "data" / texture, data / texture);
    }
    ASSERT_GT(scale::writeTerrain((data / "vorl.txt").c_str(), 128), 0);
    const scale::RunResult run = scale::runLimited(
        {VORL_BINARY, "--headless", "-res", "1024x768", "--frames", "2"},
        scratch.root.c_str(), (scratch.root / "log.txt").c_str(), 120.0, 0, nullptr);
    ASSERT_TRUE(run.started);
    ASSERT_EQ(run.status, 0) << run.output;
    const scale::Statistics stats = scale::lastStatistics(run.output);
    ASSERT_TRUE(stats.found) << run.output;
    // The hills fill the lower part of the view: thousands of triangles, as in the table.
    EXPECT_GT(stats.ppf, 3000) << run.output;
    EXPECT_GT(run.peakKilobytes, 1024) << "the program's own peak, not the test's";
}

TEST(ScaleOptions, SidesListTakesCommaSeparatedSidesWithinTheReadersLimits) {
    std::vector<int> sides;
    EXPECT_TRUE(scale::readSides("128,512,1024", &sides, 16));
    EXPECT_EQ(sides, (std::vector<int>{128, 512, 1024}));
    EXPECT_TRUE(scale::readSides("4096", &sides, 16));
    EXPECT_EQ(sides, (std::vector<int>{4096}));
    for (const char* bad : {"", "128,", ",128", "128,,512", "128x", "3", "4097", "-128", "a"}) {
        EXPECT_FALSE(scale::readSides(bad, &sides, 16)) << bad;
    }
    EXPECT_TRUE(scale::readSides("4,5", &sides, 2));
    EXPECT_FALSE(scale::readSides("4,5,6", &sides, 2));
}

TEST(ScaleOptions, MedianOfOddAndEvenCountsIgnoresOrder) {
    EXPECT_EQ(scale::median({}), 0.0);
    EXPECT_EQ(scale::median({5.0}), 5.0);
    EXPECT_EQ(scale::median({9.0, 1.0, 5.0}), 5.0);
    EXPECT_EQ(scale::median({9.0, 1.0, 3.0, 5.0}), 4.0);
}

TEST(ScaleStatistics, TakesTheLastStatisticsLineAmongOtherOutput) {
    const std::string output =
        "vorl: a note\n"
        "fps: 12.50, ppf:   6000, pps:  75000 [1024 x 768 vsynch: off]\n"
        "some other line with fps: 99\n"
        "fps: 186.23, ppf:   6533, pps: 1216640 [1024 x 768 vsynch: off]\n"
        "crack audit: frames=1 gaps=0 largest=0\n";
    const scale::Statistics stats = scale::lastStatistics(output);
    ASSERT_TRUE(stats.found);
    EXPECT_DOUBLE_EQ(stats.fps, 186.23);
    EXPECT_EQ(stats.ppf, 6533);
    EXPECT_FALSE(scale::lastStatistics("couldn't initialize surface\n").found);
    EXPECT_FALSE(scale::lastStatistics("").found);
    // The line without a line end (a run cut short) still counts.
    EXPECT_EQ(scale::lastStatistics("fps: 0.00, ppf:     12, pps: 0").ppf, 12);
}

TEST(ScaleRun, GivesStatusOutputAndTimeOfAProgramThatEnds) {
    ScratchFolder scratch;
    const std::string log = (scratch.root / "log.txt").string();
    scale::RunResult run = scale::runLimited(
        {"/bin/sh", "-c", "pwd; echo to-stderr >&2; exit 3"}, scratch.root.c_str(), log.c_str(),
        30.0, 0, nullptr);
    ASSERT_TRUE(run.started);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.status, 3);
    // It ran in the folder given, both streams in the log.
    EXPECT_NE(run.output.find(fs::canonical(scratch.root).string()), std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("to-stderr"), std::string::npos);
    EXPECT_GT(run.seconds, 0.0);
    EXPECT_LT(run.seconds, 30.0);

    run = scale::runLimited({"/nonexistent/vorl"}, scratch.root.c_str(), log.c_str(), 30.0, 0,
                            nullptr);
    EXPECT_EQ(run.status, 127);
    EXPECT_NE(run.output.find("cannot execute"), std::string::npos);
}

TEST(ScaleRun, StopsAProgramAtTheTimeLimitOrWhenAskedTo) {
    ScratchFolder scratch;
    const std::string log = (scratch.root / "log.txt").string();
    const auto start = std::chrono::steady_clock::now();
    scale::RunResult run = scale::runLimited({"/bin/sleep", "30"}, scratch.root.c_str(),
                                             log.c_str(), 0.3, 0, nullptr);
    const double waited =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_TRUE(run.timedOut);
    EXPECT_EQ(run.status, -1);
    EXPECT_LT(waited, 5.0);

    volatile std::sig_atomic_t stop = 1;
    run = scale::runLimited({"/bin/sleep", "30"}, scratch.root.c_str(), log.c_str(), 60.0, 0,
                            &stop);
    EXPECT_TRUE(run.interrupted);
    EXPECT_FALSE(run.timedOut);
}

TEST(ScaleRun, AnAddressLimitMakesALargeAllocationFail) {
    ScratchFolder scratch;
    // 600 MB of zeroes asked of a process held to 256 MB of address space.
    const scale::RunResult run = scale::runLimited(
        {"/usr/bin/python3", "-c", "b = bytearray(600 << 20)"}, scratch.root.c_str(),
        (scratch.root / "log.txt").c_str(), 60.0, 256ll << 20, nullptr);
    ASSERT_TRUE(run.started);
    EXPECT_NE(run.status, 0);
    EXPECT_NE(run.output.find("MemoryError"), std::string::npos) << run.output;
}

TEST(ScaleRun, LastLinesKeepsTheEndOfAFailedRunsOutput) {
    EXPECT_EQ(scale::lastLines("a\nb\nc\nd\n", 2), "c\nd\n");
    EXPECT_EQ(scale::lastLines("a\nb\n", 5), "a\nb\n");
    EXPECT_EQ(scale::lastLines("", 3), "");
}

}  // namespace
