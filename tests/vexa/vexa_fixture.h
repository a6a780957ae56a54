// Shared set-up for the Vexa tests: a fixture that starts the board from a clean
// environment and opens a 512x384 output, the program's 40-byte vertex record, and helpers
// to draw and read back pixels.
#pragma once

#include "vexa/vexa.h"
#include "tests/environment.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

struct TestVertex {
    float x, y, w, q;
    float s0, t0, s1, t1;
    std::uint32_t argb;
    std::uint32_t pad;
};
static_assert(sizeof(TestVertex) == 40);

inline TestVertex vtx(float x, float y, std::uint32_t argb = 0xFFFFFFFFu, float q = 1.0f,
                      float s = 0.0f, float t = 0.0f) {
    return TestVertex{x, y, q != 0.0f ? 1.0f / q : 0.0f, q, s * q, t * q, s * q, t * q, argb, 0};
}

inline void clearVexaEnvironment() {
    for (const char* name : {"VEXA_TMUS", "VEXA_HARDWARE", "VEXA_MAX_RES", "VEXA_TEXMEM",
                             "VEXA_FAIL", "VEXA_THREADS", "VEXA_PATH"}) {
        unsetenv(name);
    }
}

// The processor paths as VEXA_PATH names them, least capable first: the portable one, which
// every other must match, then the 128-bit and the AVX2 one.
constexpr const char* VEXA_PATHS[] = {"portable", "v128", "avx2"};

// Whether this processor runs `path`, by the features the board asks for (the portable path
// runs everywhere). Asked here apart from the board, so that a board that took a lesser path
// than the processor allows is caught.
inline bool processorRunsPath(const char* path) {
    if (std::strcmp(path, "portable") == 0) return true;
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    if (std::strcmp(path, "v128") == 0) {
        return __builtin_cpu_supports("sse4.1") && __builtin_cpu_supports("popcnt");
    }
    if (std::strcmp(path, "avx2") == 0) {
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt") &&
               __builtin_cpu_supports("bmi");
    }
#elif defined(__wasm_simd128__)
    if (std::strcmp(path, "v128") == 0) return true;
#endif
    return false;
}

// The program's layout: x,y at 0, q at 12, s0,t0 at 16, s1,t1 at 24, colour at 32.
inline void useProgramLayout(bool secondUnit = false) {
    vxSetVertexLayout(VX_PARAM_XY, 0, VX_PARAM_ENABLE);
    vxSetVertexLayout(VX_PARAM_Q, 12, VX_PARAM_ENABLE);
    vxSetVertexLayout(VX_PARAM_ST0, 16, VX_PARAM_ENABLE);
    vxSetVertexLayout(VX_PARAM_ST1, 24, secondUnit ? VX_PARAM_ENABLE : VX_PARAM_DISABLE);
    vxSetVertexLayout(VX_PARAM_ARGB, 32, VX_PARAM_ENABLE);
}

// How many pixels of a frame hold exactly `value`.
inline int countOf(const std::vector<std::uint16_t>& f, std::uint16_t value) {
    int n = 0;
    for (std::uint16_t p : f) n += p == value;
    return n;
}

constexpr std::uint16_t rgb565(int r, int g, int b) {
    return std::uint16_t(((r * 31 + 127) / 255) << 11 | ((g * 63 + 127) / 255) << 5 |
                         ((b * 31 + 127) / 255));
}

class VexaTest : public ::testing::Test {
protected:
    static constexpr int W = 512, H = 384;
    VxContext context = 0;

    void SetUp() override {
        clearVexaEnvironment();
        start();
    }
    void TearDown() override {
        vxShutdown();
        clearVexaEnvironment();
    }
    // Starts the board (after any setenv the test made) and opens 512x384.
    void start() {
        vxInit();
        ASSERT_TRUE(vxSelectDevice(0));
        context = vxOpenWindow(nullptr, VX_RES_512x384, VX_REFRESH_DEFAULT, VX_COLORFORMAT_ABGR,
                               VX_ORIGIN_UPPER_LEFT, 2, 1);
        ASSERT_NE(context, 0u);
        useProgramLayout();
        // The arithmetic is checked against exact rounding; dithering has tests of its own.
        vxSetDitherMode(VX_DITHER_DISABLE);
        vxClearBuffers(0, 0, 0xFFFF);
    }
    void restart() {
        vxShutdown();
        start();
    }
    // Restarts the board on processor path `path` (VEXA_PATH), keeping the rest of the
    // environment. False when this processor lacks the path (the caller skips it); otherwise
    // the board must say it draws with that very path.
    bool restartOnPath(const char* path) {
        if (!processorRunsPath(path)) return false;
        setenv("VEXA_PATH", path, 1);
        restart();
        EXPECT_STREQ(vxQueryString(VX_STRING_PATH), path);
        return true;
    }
    static std::vector<std::uint16_t> frame(int buffer = VX_BUFFER_BACK) {
        std::vector<std::uint16_t> pixels(std::size_t(W) * H);
        EXPECT_TRUE(vxReadFrameRegion(buffer, 0, 0, W, H, W * 2, pixels.data()));
        return pixels;
    }
    static std::uint16_t pixel(int x, int y) {
        std::uint16_t p = 0;
        EXPECT_TRUE(vxReadFrameRegion(VX_BUFFER_BACK, x, y, 1, 1, 2, &p));
        return p;
    }
    static void tri(const TestVertex& a, const TestVertex& b, const TestVertex& c) {
        vxDrawTriangle(&a, &b, &c);
    }
    static void rect(float x0, float y0, float x1, float y1, std::uint32_t argb = 0xFFFFFFFFu) {
        TestVertex v[4] = {vtx(x0, y0, argb), vtx(x1, y0, argb), vtx(x0, y1, argb),
                           vtx(x1, y1, argb)};
        const void* p[4] = {&v[0], &v[1], &v[2], &v[3]};
        vxDrawVertexArray(VX_TRIANGLE_STRIP, 4, p);
    }
    // Flat constant colour, no texture, depth, fog or blending.
    static void flatColor(std::uint32_t abgr) {
        vxSetColorCombine(VX_COMBINE_LOCAL, VX_FACTOR_ZERO, VX_LOCAL_CONSTANT, VX_OTHER_CONSTANT,
                          false);
        vxSetConstantColor(abgr);
    }
    // Additive blending of a small constant: overlapping coverage shows up as a larger value.
    static void additive(std::uint32_t abgr) {
        flatColor(abgr);
        vxSetAlphaBlend(VX_BLEND_ONE, VX_BLEND_ONE, VX_BLEND_ZERO, VX_BLEND_ZERO);
    }
};
