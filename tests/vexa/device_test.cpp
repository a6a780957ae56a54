// Device tests of Vexa: the environment variables that describe the board, queries,
// opening the output, clearing, swapping through the present hook and reading back.
#include "tests/vexa/vexa_fixture.h"
#include "tests/environment.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

class Device : public ::testing::Test {
protected:
    void SetUp() override { clearVexaEnvironment(); }
    void TearDown() override {
        vxShutdown();
        clearVexaEnvironment();
    }
    static VxContext open(int res, int buffers = 2, int refresh = VX_REFRESH_60) {
        return vxOpenWindow(nullptr, res, refresh, VX_COLORFORMAT_ABGR, VX_ORIGIN_UPPER_LEFT,
                            buffers, 1);
    }
};

TEST_F(Device, DefaultsDescribeTwoUnitBoard) {
    vxInit();
    EXPECT_TRUE(vxSelectDevice(0));
    EXPECT_FALSE(vxSelectDevice(1));
    std::int32_t v = 0;
    EXPECT_EQ(vxQuery(VX_QUERY_TEXTURE_UNITS, 4, &v), 4);
    EXPECT_EQ(v, 2);
    EXPECT_EQ(vxQuery(VX_QUERY_FOG_TABLE_ENTRIES, 4, &v), 4);
    EXPECT_EQ(v, 64);
    EXPECT_EQ(vxQuery(VX_QUERY_STATE_SIZE, 4, &v), 4);
    EXPECT_GT(v, 64);
    EXPECT_EQ(vxQuery(VX_QUERY_TEXTURE_UNITS, 2, &v), 0);  // too small a destination
    EXPECT_EQ(vxQuery(VX_QUERY_ITEM_COUNT, 4, &v), 0);
    EXPECT_STREQ(vxQueryString(VX_STRING_HARDWARE), "Vexa Software Board");
    EXPECT_NE(vxQueryString(VX_STRING_VERSION), nullptr);
    EXPECT_NE(vxQueryString(99), nullptr);
    EXPECT_EQ(vxTexMaxAddress(1), (4u << 20) - 8u);
}

TEST_F(Device, EnvironmentDescribesTheBoard) {
    setenv("VEXA_TMUS", "1", 1);
    setenv("VEXA_HARDWARE", "Test Board 9", 1);
    setenv("VEXA_TEXMEM", "65536", 1);
    vxInit();
    std::int32_t v = 0;
    EXPECT_EQ(vxQuery(VX_QUERY_TEXTURE_UNITS, 4, &v), 4);
    EXPECT_EQ(v, 1);
    EXPECT_STREQ(vxQueryString(VX_STRING_HARDWARE), "Test Board 9");
    EXPECT_EQ(vxTexMaxAddress(0), 65528u);
    std::uint16_t texel = 0;
    VxTexInfo info{0, 0, 0, VX_TEXFMT_RGB_565, &texel};
    EXPECT_TRUE(vxTexDownload(0, 65528, VX_LEVELS_BOTH, &info));
    EXPECT_FALSE(vxTexDownload(0, 65536, VX_LEVELS_BOTH, &info));
    EXPECT_FALSE(vxTexBind(1, 0, VX_LEVELS_BOTH, &info));  // no second unit
}

// A value a variable cannot take keeps the default and is named on standard error, once per
// run however often the board is opened again (at every resolution switch).
TEST_F(Device, BadEnvironmentValuesAreNamedOnceAndIgnored) {
    setenv("VEXA_TEXMEM", "4M", 1);
    setenv("VEXA_MAX_RES", "800", 1);
    setenv("VEXA_THREADS", "two", 1);
    setenv("VEXA_TMUS", "3", 1);
    ::testing::internal::CaptureStderr();
    for (int round = 0; round < 3; ++round) {
        vxInit();
        EXPECT_EQ(vxTexMaxAddress(0), (4u << 20) - 8u);
        std::int32_t units = 0;
        vxQuery(VX_QUERY_TEXTURE_UNITS, 4, &units);
        EXPECT_EQ(units, 2);
        EXPECT_NE(open(VX_RES_1024x768), 0) << "no limit on the resolution";
        vxShutdown();
    }
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "vexa: VEXA_TMUS=3 ignored: expected 1 or 2\n"
              "vexa: VEXA_MAX_RES=800 ignored: expected WIDTHxHEIGHT, as 800x600\n"
              "vexa: VEXA_TEXMEM=4M ignored: expected bytes per texture unit from 8 to 67108864\n"
              "vexa: VEXA_THREADS=two ignored: expected a count of worker threads (0: none)\n");
}

// The board draws with the most capable processor path that the processor has and VEXA_PATH
// allows; a name the board does not know limits nothing.
TEST_F(Device, PathIsTheMostCapableTheProcessorAndEnvironmentAllow) {
    const char* best = "portable";
    for (const char* path : VEXA_PATHS) {
        if (processorRunsPath(path)) best = path;
    }
    const auto pathWith = [](const char* path) {
        vxShutdown();
        clearVexaEnvironment();
        if (path != nullptr) setenv("VEXA_PATH", path, 1);
        vxInit();
        return std::string(vxQueryString(VX_STRING_PATH));
    };
    EXPECT_EQ(pathWith(nullptr), best);
    EXPECT_EQ(pathWith("no such path"), best);
    EXPECT_EQ(pathWith(""), best);
    for (const char* path : VEXA_PATHS) {
        if (processorRunsPath(path)) {
            EXPECT_EQ(pathWith(path), path);
        }
    }
    vxShutdown();
    EXPECT_STREQ(vxQueryString(VX_STRING_PATH), "") << "no path before the board starts";
}

TEST_F(Device, FailureSwitchesMakeThatStepFail) {
    std::int32_t v = 0;
    setenv("VEXA_FAIL", "query", 1);
    vxInit();
    EXPECT_EQ(vxQuery(VX_QUERY_TEXTURE_UNITS, 4, &v), 0);
    EXPECT_EQ(vxQuery(VX_QUERY_STATE_SIZE, 4, &v), 4);
    EXPECT_NE(open(VX_RES_640x480), 0u);
    vxShutdown();
    setenv("VEXA_FAIL", "state", 1);
    vxInit();
    EXPECT_EQ(vxQuery(VX_QUERY_TEXTURE_UNITS, 4, &v), 4);
    EXPECT_EQ(vxQuery(VX_QUERY_STATE_SIZE, 4, &v), 0);
    vxShutdown();
    setenv("VEXA_FAIL", "open", 1);
    vxInit();
    EXPECT_EQ(open(VX_RES_640x480), 0u);
}

TEST_F(Device, MaxResolutionLimitsWhatOpens) {
    setenv("VEXA_MAX_RES", "800x600", 1);
    vxInit();
    EXPECT_EQ(open(VX_RES_1024x768), 0u);
    EXPECT_EQ(open(VX_RES_1600x1200), 0u);
    const VxContext c = open(VX_RES_800x600);
    EXPECT_NE(c, 0u);
    vxCloseWindow(c);
    EXPECT_NE(open(VX_RES_512x384), 0u);
}

TEST_F(Device, OpenChecksItsArguments) {
    vxInit();
    EXPECT_EQ(open(VX_RES_COUNT), 0u);
    EXPECT_EQ(open(-1), 0u);
    EXPECT_EQ(open(VX_RES_640x480, 1), 0u);
    EXPECT_EQ(open(VX_RES_640x480, 4), 0u);
    EXPECT_EQ(open(VX_RES_640x480, 2, VX_REFRESH_COUNT), 0u);
    for (int r = 0; r < VX_REFRESH_COUNT; ++r) {
        const VxContext c = open(VX_RES_640x480, 3, r);
        ASSERT_NE(c, 0u) << r;
        vxCloseWindow(c);
    }
    int w = 0, h = 0;
    EXPECT_TRUE(vxResolutionSize(VX_RES_1280x1024, &w, &h));
    EXPECT_EQ(w, 1280);
    EXPECT_EQ(h, 1024);
    EXPECT_FALSE(vxResolutionSize(VX_RES_COUNT, &w, &h));
    EXPECT_EQ(vxRefreshHertz(VX_REFRESH_85), 85);
    EXPECT_EQ(vxRefreshHertz(VX_REFRESH_DEFAULT), 0);
}

struct Presented {
    int calls = 0;
    int width = 0, height = 0, interval = -1;
    std::uint16_t first = 0;
    const std::uint16_t* pixels = nullptr;
};

void recordPresent(void* user, void*, const std::uint16_t* pixels, int width, int height,
                   int swapInterval) {
    auto* p = static_cast<Presented*>(user);
    ++p->calls;
    p->width = width;
    p->height = height;
    p->interval = swapInterval;
    p->first = pixels[0];
    p->pixels = pixels;
}

TEST_F(Device, SwapPresentsTheFinishedFrameAndRotates) {
    for (int buffers : {2, 3}) {
        vxInit();
        Presented seen;
        vxSetPresentHook(recordPresent, &seen);
        ASSERT_NE(open(VX_RES_512x384, buffers), 0u);
        const std::uint32_t colors[3] = {0xFF0000FFu, 0xFF00FF00u, 0xFFFF0000u};  // ABGR
        const std::uint16_t expect[3] = {rgb565(255, 0, 0), rgb565(0, 255, 0), rgb565(0, 0, 255)};
        const std::uint16_t* shown[3] = {};
        for (int frame = 0; frame < 3; ++frame) {
            vxClearBuffers(colors[frame], 0, 0xFFFF);
            vxSwapBuffers(1);
            // Reading the front buffer waits for the swapped frame, which is then shown.
            std::uint16_t front = 0;
            ASSERT_TRUE(vxReadFrameRegion(VX_BUFFER_FRONT, 511, 383, 1, 1, 2, &front));
            EXPECT_EQ(front, expect[frame]);
            EXPECT_EQ(seen.calls, frame + 1);
            EXPECT_EQ(seen.first, expect[frame]);
            shown[frame] = seen.pixels;
        }
        EXPECT_EQ(seen.width, 512);
        EXPECT_EQ(seen.height, 384);
        EXPECT_EQ(seen.interval, 1);
        EXPECT_NE(shown[0], shown[1]);
        // With two buffers the third frame reuses the first buffer; with three it does not.
        EXPECT_EQ(shown[2] == shown[0], buffers == 2);
        vxSetPresentHook(nullptr, nullptr);
        vxShutdown();
    }
}

// A swap hands the frame to the workers and returns; the program may build the next frame
// meanwhile. Each frame is shown, in order and whole, at a later swap or when the program
// waits for the board: the next swap, or with three buffers and no vertical sync the one
// after (the frame after next draws into its buffer); drawing on the program's thread shows
// it at once.
TEST_F(Device, SwapReturnsBeforeTheFrameIsShownAndShowsEachFrameInOrder) {
    struct Case {
        const char* threads;
        int buffers, interval, waiting;   // frames a swap leaves unshown
    };
    for (const Case c : {Case{"2", 2, 0, 1}, Case{"2", 3, 0, 2}, Case{"2", 3, 1, 1},
                         Case{"0", 3, 0, 0}}) {
        setenv("VEXA_THREADS", c.threads, 1);
        vxInit();
        struct Shown {
            int calls = 0;
            std::vector<std::uint16_t> corners;
        } shown;
        vxSetPresentHook(
            [](void* user, void*, const std::uint16_t* pixels, int width, int height, int) {
                auto* s = static_cast<Shown*>(user);
                ++s->calls;
                s->corners.push_back(pixels[0]);
                s->corners.push_back(pixels[std::size_t(width) * height - 1]);
            },
            &shown);
        ASSERT_NE(open(VX_RES_640x480, c.buffers), 0u);
        const std::uint32_t colors[4] = {0xFF0000FFu, 0xFF00FF00u, 0xFFFF0000u, 0xFFFFFFFFu};
        const std::uint16_t pixels565[4] = {rgb565(0xFF, 0, 0), rgb565(0, 0xFF, 0),
                                            rgb565(0, 0, 0xFF), 0xFFFF};   // ABGR words
        std::vector<std::uint16_t> expected;
        for (int frame = 0; frame < 4; ++frame) {
            vxClearBuffers(colors[frame], 0, 0xFFFF);
            // Enough drawing that the workers are still busy when the swap returns.
            for (int k = 0; k < 50; ++k) vxClearBuffers(colors[frame], 0, 0xFFFF);
            vxSwapBuffers(c.interval);
            EXPECT_EQ(shown.calls, std::max(frame + 1 - c.waiting, 0))
                << c.threads << " threads, " << c.buffers << " buffers, interval " << c.interval
                << ", frame " << frame;
            expected.push_back(pixels565[frame]);
            expected.push_back(pixels565[frame]);
        }
        vxFinish();
        EXPECT_EQ(shown.calls, 4);
        EXPECT_EQ(shown.corners, expected) << "every frame whole and in order";
        vxFinish();
        EXPECT_EQ(shown.calls, 4) << "a frame is shown once";
        vxSetPresentHook(nullptr, nullptr);
        vxShutdown();
    }
    unsetenv("VEXA_THREADS");
}

// A worker reports a frame drawn as soon as it reaches the frame's end, while the commands of
// the frame after are already handed in; the frame must be whole by then. Each frame here
// ends in triangles covering the output, whose pixels still wait in a worker's batch when
// the frame ends: every pixel of every frame shown must be that frame's colour.
TEST_F(Device, FrameShownWhileTheNextIsDrawnIsWhole) {
    setenv("VEXA_THREADS", "2", 1);
    for (int buffers : {2, 3}) {
        vxInit();
        struct Shown {
            std::vector<std::uint16_t> expected;
            int calls = 0;
            int wrongFrames = 0;
        } shown;
        vxSetPresentHook(
            [](void* user, void*, const std::uint16_t* pixels, int width, int height, int) {
                auto* s = static_cast<Shown*>(user);
                const std::uint16_t want = s->expected[std::size_t(s->calls++)];
                const std::size_t count = std::size_t(width) * std::size_t(height);
                s->wrongFrames +=
                    int(std::count(pixels, pixels + count, want) != std::ptrdiff_t(count));
            },
            &shown);
        ASSERT_NE(open(VX_RES_640x480, buffers), 0u);
        useProgramLayout();
        vxSetColorCombine(VX_COMBINE_LOCAL, VX_FACTOR_ZERO, VX_LOCAL_ITERATED, VX_OTHER_ITERATED,
                          false);
        const std::uint32_t colors[3] = {0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu};   // ARGB vertices
        const std::uint16_t pixels565[3] = {rgb565(0xFF, 0, 0), rgb565(0, 0xFF, 0),
                                            rgb565(0, 0, 0xFF)};
        constexpr int FRAMES = 60;
        for (int frame = 0; frame < FRAMES; ++frame) {
            const std::uint32_t color = colors[frame % 3];
            shown.expected.push_back(pixels565[frame % 3]);
            vxClearBuffers(0, 0, 0xFFFF);
            // Rows two pixels high, each two triangles: many small drawing commands, so the
            // program is frames ahead of the workers.
            for (float y = 0.0f; y < 480.0f; y += 2.0f) {
                const TestVertex a = vtx(0.0f, y, color), b = vtx(640.0f, y, color),
                                 c = vtx(640.0f, y + 2.0f, color), d = vtx(0.0f, y + 2.0f, color);
                vxDrawTriangle(&a, &b, &c);
                vxDrawTriangle(&a, &c, &d);
            }
            vxSwapBuffers(0);
        }
        vxFinish();
        EXPECT_EQ(shown.calls, FRAMES);
        EXPECT_EQ(shown.wrongFrames, 0)
            << buffers << " buffers: frames shown before all their pixels were drawn";
        vxSetPresentHook(nullptr, nullptr);
        vxShutdown();
    }
    unsetenv("VEXA_THREADS");
}

TEST_F(Device, ReadBackIsBoundsChecked) {
    vxInit();
    ASSERT_NE(open(VX_RES_512x384), 0u);
    vxClearBuffers(0xFF0000FFu, 0, 0xFFFF);
    std::vector<std::uint16_t> buf(64 * 64, 0xABCD);
    EXPECT_FALSE(vxReadFrameRegion(VX_BUFFER_BACK, -1, 0, 4, 4, 8, buf.data()));
    EXPECT_FALSE(vxReadFrameRegion(VX_BUFFER_BACK, 509, 0, 4, 4, 8, buf.data()));
    EXPECT_FALSE(vxReadFrameRegion(VX_BUFFER_BACK, 0, 381, 4, 4, 8, buf.data()));
    EXPECT_FALSE(vxReadFrameRegion(VX_BUFFER_BACK, 0, 0, 4, 4, 6, buf.data()));
    EXPECT_FALSE(vxReadFrameRegion(7, 0, 0, 4, 4, 8, buf.data()));
    EXPECT_EQ(buf[0], 0xABCD);
    // A 4x4 region with a wider stride leaves the gap untouched.
    EXPECT_TRUE(vxReadFrameRegion(VX_BUFFER_BACK, 508, 380, 4, 4, 16, buf.data()));
    EXPECT_EQ(buf[0], rgb565(255, 0, 0));
    EXPECT_EQ(buf[3], rgb565(255, 0, 0));
    EXPECT_EQ(buf[4], 0xABCD);
    EXPECT_EQ(buf[3 * 8 + 3], rgb565(255, 0, 0));
}

TEST_F(Device, ClearRespectsClipWindowAndFormat) {
    vxInit();
    ASSERT_NE(open(VX_RES_512x384), 0u);
    vxClearBuffers(0xFF102030u, 0, 0xFFFF);  // ABGR: r=0x30 g=0x20 b=0x10
    vxSetClipWindow(10, 10, 20, 20);
    vxClearBuffers(0xFFFFFFFFu, 0, 0xFFFF);
    std::uint16_t p[2] = {};
    ASSERT_TRUE(vxReadFrameRegion(VX_BUFFER_BACK, 9, 10, 2, 1, 4, p));
    EXPECT_EQ(p[0], rgb565(0x30, 0x20, 0x10));
    EXPECT_EQ(p[1], 0xFFFF);
}

TEST_F(Device, ShutdownAndReinitAreRepeatable) {
    for (int i = 0; i < 5; ++i) {
        vxInit();
        ASSERT_NE(open(VX_RES_640x480), 0u);
        vxClearBuffers(0, 0, 0xFFFF);
        vxSwapBuffers(0);
        vxShutdown();
    }
    vxShutdown();  // a second shutdown is harmless
    vxFinish();
}

}  // namespace
