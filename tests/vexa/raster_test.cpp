// Coverage tests of the Vexa rasterizer: shared edges, the top-left rule, clip window,
// culling signs (strips and grid cells too), lines, degenerate, giant and non-finite input,
// and identical pictures for every worker count and processor path, and exact coverage on
// both sides of the size up to which edges are stepped in 32 bits.
#include "tests/vexa/vexa_fixture.h"
#include "tests/environment.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <random>
#include <vector>

namespace {

constexpr std::uint32_t STEP = 0xFF000008u;  // ABGR: red 8 -> 5-6-5 red 1
constexpr std::uint16_t ONE_HIT = rgb565(8, 0, 0);

class Coverage : public VexaTest {};

// Each pixel's red value counts its hits after additive drawing of STEP.
TEST_F(Coverage, JitteredMeshCoversEachPixelOnce) {
    additive(STEP);
    // A 12x9 grid of cells with jittered interior vertices, split into two triangles each
    // with alternating diagonals; all inside the output so every pixel of the hull is hit.
    constexpr int NX = 12, NY = 9;
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> jitter(-9.7f, 9.7f);
    TestVertex grid[NY + 1][NX + 1];
    for (int j = 0; j <= NY; ++j) {
        for (int i = 0; i <= NX; ++i) {
            float x = 16.0f + i * 40.0f, y = 16.0f + j * 40.0f;
            if (i > 0 && i < NX) x += jitter(rng);
            if (j > 0 && j < NY) y += jitter(rng);
            grid[j][i] = vtx(x, y);
        }
    }
    for (int j = 0; j < NY; ++j) {
        for (int i = 0; i < NX; ++i) {
            const TestVertex &a = grid[j][i], &b = grid[j][i + 1], &c = grid[j + 1][i],
                             &d = grid[j + 1][i + 1];
            if ((i + j) & 1) {
                tri(a, b, d);
                tri(a, d, c);
            } else {
                tri(a, b, c);
                tri(b, d, c);
            }
        }
    }
    const auto f = frame();
    // The hull is the rectangle 16..496 x 16..376: exactly those pixels, each once.
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            const bool inside = x >= 16 && x < 496 && y >= 16 && y < 376;
            ASSERT_EQ(f[std::size_t(y) * W + x], inside ? ONE_HIT : 0) << x << "," << y;
        }
    }
}

TEST_F(Coverage, SubPixelMeshCoversEachPixelOnce) {
    additive(STEP);
    // Cells of 0.37 pixel with jittered interior vertices, drawn as the program draws its
    // finest grids (one 4-vertex strip per cell): most triangles hold no pixel centre, and
    // those that do must still cover each pixel exactly once.
    constexpr int NX = 120, NY = 90;
    constexpr float CELL = 0.37f, X0 = 100.25f, Y0 = 60.75f;
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> jitter(-0.09f, 0.09f);
    std::vector<TestVertex> grid(std::size_t(NX + 1) * (NY + 1));
    for (int j = 0; j <= NY; ++j) {
        for (int i = 0; i <= NX; ++i) {
            float x = X0 + float(i) * CELL, y = Y0 + float(j) * CELL;
            if (i > 0 && i < NX) x += jitter(rng);
            if (j > 0 && j < NY) y += jitter(rng);
            grid[std::size_t(j) * (NX + 1) + std::size_t(i)] = vtx(x, y);
        }
    }
    for (int j = 0; j < NY; ++j) {
        for (int i = 0; i < NX; ++i) {
            const TestVertex* a = &grid[std::size_t(j) * (NX + 1) + std::size_t(i)];
            const void* p[4] = {a, a + 1, a + (NX + 1), a + (NX + 2)};
            vxDrawVertexArray(VX_TRIANGLE_STRIP, 4, p);
        }
    }
    const auto f = frame();
    // Pixel centres inside the hull 100.25..144.65 x 60.75..94.05: x 100..144, y 61..93.
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            const bool inside = x >= 100 && x <= 144 && y >= 61 && y <= 93;
            ASSERT_EQ(f[std::size_t(y) * W + x], inside ? ONE_HIT : 0) << x << "," << y;
        }
    }
}

TEST_F(Coverage, FanAroundSharedCentreCoversOnce) {
    additive(STEP);
    // A polygon fan with many thin slices around a fractional centre.
    constexpr int N = 37;
    TestVertex v[N + 2];
    v[0] = vtx(200.3f, 150.7f);
    for (int i = 0; i <= N; ++i) {
        const float a = float(i) * 6.2831853f / N;
        v[i + 1] = vtx(200.3f + 90.0f * std::cos(a), 150.7f + 90.0f * std::sin(a));
    }
    v[N + 1] = v[1];
    const void* p[N + 2];
    for (int i = 0; i < N + 2; ++i) p[i] = &v[i];
    vxDrawVertexArray(VX_POLYGON, N + 2, p);
    const auto f = frame();
    EXPECT_EQ(countOf(f, rgb565(16, 0, 0)), 0);
    EXPECT_GT(countOf(f, ONE_HIT), 20000);
    EXPECT_EQ(f[150 * W + 200], ONE_HIT);
}

TEST_F(Coverage, TopLeftRuleOnPixelAlignedSquare) {
    flatColor(0xFFFFFFFFu);
    // Edges exactly through pixel centres: left/top edges include them, right/bottom don't.
    rect(10.5f, 20.5f, 14.5f, 23.5f);
    const auto f = frame();
    int count = 0;
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            const bool inside = x >= 10 && x < 14 && y >= 20 && y < 23;
            count += f[std::size_t(y) * W + x] != 0;
            EXPECT_EQ(f[std::size_t(y) * W + x] != 0, inside) << x << "," << y;
        }
    }
    EXPECT_EQ(count, 12);
}

// The drawing calls read y through the origin in force when each is made: a change of
// origin between two draws flips the second alone.
TEST_F(Coverage, OriginChangeBetweenDrawsFlipsTheLaterOnes) {
    flatColor(0xFFFFFFFFu);
    tri(vtx(10, 10), vtx(30, 10), vtx(10, 30));
    vxSetOrigin(VX_ORIGIN_LOWER_LEFT);
    tri(vtx(100, 10), vtx(120, 10), vtx(100, 30));
    const auto f = frame();
    const auto rowsIn = [&](int x) {
        std::vector<int> rows;
        for (int y = 0; y < H; ++y) {
            if (f[std::size_t(y) * W + std::size_t(x)] != 0) rows.push_back(y);
        }
        return rows;
    };
    const std::vector<int> first = rowsIn(12), second = rowsIn(102);
    ASSERT_FALSE(first.empty());
    ASSERT_FALSE(second.empty());
    EXPECT_GT(std::abs(first.front() - second.front()), H / 2);
}

TEST_F(Coverage, ClipWindowCutsEverything) {
    flatColor(0xFFFFFFFFu);
    vxSetClipWindow(100, 50, 200, 90);
    rect(-1000.0f, -1000.0f, 1000.0f, 1000.0f);
    TestVertex a = vtx(0, 70), b = vtx(511, 70);
    vxDrawLine(&a, &b);
    const auto f = frame();
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            const bool inside = x >= 100 && x < 200 && y >= 50 && y < 90;
            ASSERT_EQ(f[std::size_t(y) * W + x] != 0, inside) << x << "," << y;
        }
    }
}

TEST_F(Coverage, ClipWindowOutsideOutputIsClamped) {
    flatColor(0xFFFFFFFFu);
    vxSetClipWindow(-50, -50, 5000, 5000);
    rect(-10000.0f, -10000.0f, 10000.0f, 10000.0f);
    const auto f = frame();
    EXPECT_EQ(countOf(f, 0xFFFF), W * H);
}

TEST_F(Coverage, CullingUsesSignedArea) {
    flatColor(0xFFFFFFFFu);
    // (b-a)x(c-a) with y down: this order has positive area.
    const TestVertex a = vtx(10, 10), b = vtx(60, 10), c = vtx(10, 60);
    vxSetCullMode(VX_CULL_NEGATIVE);
    tri(a, c, b);  // negative: dropped
    EXPECT_EQ(pixel(20, 20), 0);
    tri(a, b, c);  // positive: drawn
    EXPECT_EQ(pixel(20, 20), 0xFFFF);
    vxClearBuffers(0, 0, 0xFFFF);
    vxSetCullMode(VX_CULL_POSITIVE);
    tri(a, b, c);
    EXPECT_EQ(pixel(20, 20), 0);
    tri(a, c, b);
    EXPECT_EQ(pixel(20, 20), 0xFFFF);
}

TEST_F(Coverage, StripHasOneWinding) {
    additive(STEP);
    // A strip of 10 quads whose first triangle has positive area: with negative culling
    // every triangle must be drawn (odd ones are evaluated with their first two swapped).
    TestVertex v[22];
    for (int i = 0; i <= 10; ++i) {
        v[2 * i] = vtx(20.0f + i * 20.0f, 100.0f);
        v[2 * i + 1] = vtx(20.0f + i * 20.0f, 140.0f);
    }
    const void* p[22];
    for (int i = 0; i < 22; ++i) p[i] = &v[i];
    // v0 v1 v2 = (20,100) (20,140) (40,100): area = 0*0 - 20*40 < 0 -> flip the order.
    vxSetCullMode(VX_CULL_POSITIVE);
    vxDrawVertexArray(VX_TRIANGLE_STRIP, 22, p);
    auto f = frame();
    EXPECT_EQ(countOf(f, ONE_HIT), 200 * 40);
    vxClearBuffers(0, 0, 0xFFFF);
    vxSetCullMode(VX_CULL_NEGATIVE);
    vxDrawVertexList(VX_TRIANGLE_STRIP, 22, &v[0], sizeof(TestVertex));
    f = frame();
    EXPECT_EQ(countOf(f, ONE_HIT), 0);
}

TEST_F(Coverage, LongStripsSplitIntoChunksKeepWinding) {
    additive(STEP);
    vxSetCullMode(VX_CULL_POSITIVE);
    // 3001 vertices: longer than one queued command.
    std::vector<TestVertex> v(3002);
    for (int i = 0; i < 1501; ++i) {
        v[2 * i] = vtx(1.0f + i * 0.25f, 10.0f);
        v[2 * i + 1] = vtx(1.0f + i * 0.25f, 50.0f);
    }
    vxDrawVertexList(VX_TRIANGLE_STRIP, 3002, v.data(), sizeof(TestVertex));
    const auto f = frame();
    EXPECT_EQ(countOf(f, ONE_HIT), 375 * 40);
    EXPECT_EQ(countOf(f, rgb565(16, 0, 0)), 0);
}

TEST_F(Coverage, DegenerateAndNonFiniteDrawNothing) {
    flatColor(0xFFFFFFFFu);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    tri(vtx(10, 10), vtx(100, 100), vtx(200, 200));       // collinear
    tri(vtx(10, 10), vtx(10, 10), vtx(10, 10));           // a point
    tri(vtx(nan, 10), vtx(100, 100), vtx(10, 200));
    tri(vtx(10, 10), vtx(inf, 100), vtx(10, 200));
    tri(vtx(10, 10), vtx(100, -inf), vtx(10, 200));
    tri(vtx(10, 10), vtx(1e30f, 100), vtx(10, 200));     // edge setup would overflow
    TestVertex a = vtx(nan, 5), b = vtx(50, 5);
    vxDrawLine(&a, &b);
    const auto f = frame();
    EXPECT_EQ(countOf(f, 0), W * H);
}

TEST_F(Coverage, GiantAndThinTrianglesStayInside) {
    additive(STEP);
    // A giant triangle covering the whole output, far outside the buffer.
    tri(vtx(-300000.0f, -300000.0f), vtx(900000.0f, -300000.0f), vtx(-300000.0f, 900000.0f));
    auto f = frame();
    EXPECT_EQ(countOf(f, ONE_HIT), W * H);
    vxClearBuffers(0, 0, 0xFFFF);
    // A sliver thinner than a pixel, long across the screen: a thin, gap-free line of pixels
    // at most once each.
    tri(vtx(0.0f, 100.2f), vtx(512.0f, 100.9f), vtx(512.0f, 101.1f));
    tri(vtx(0.0f, 100.2f), vtx(512.0f, 101.1f), vtx(0.0f, 100.4f));
    f = frame();
    EXPECT_EQ(countOf(f, rgb565(16, 0, 0)), 0);
    EXPECT_GT(countOf(f, ONE_HIT), 0);
}

TEST_F(Coverage, LineIncludesBothEnds) {
    flatColor(0xFFFFFFFFu);
    TestVertex a = vtx(10.2f, 10.7f), b = vtx(30.9f, 17.1f);
    vxDrawLine(&a, &b);
    const auto f = frame();
    EXPECT_EQ(f[10 * W + 10], 0xFFFF);
    EXPECT_EQ(f[17 * W + 30], 0xFFFF);
    EXPECT_EQ(countOf(f, 0xFFFF), 21);  // one pixel per column, x-major
    // Steep and reversed: one pixel per row.
    vxClearBuffers(0, 0, 0xFFFF);
    TestVertex c = vtx(50.5f, 80.5f), d = vtx(45.5f, 40.5f);
    vxDrawLine(&c, &d);
    const auto g = frame();
    EXPECT_EQ(countOf(g, 0xFFFF), 41);
    EXPECT_EQ(g[80 * W + 50], 0xFFFF);
    EXPECT_EQ(g[40 * W + 45], 0xFFFF);
}

TEST_F(Coverage, LineInterpolatesColour) {
    vxSetColorCombine(VX_COMBINE_LOCAL, VX_FACTOR_ZERO, VX_LOCAL_ITERATED, VX_OTHER_ITERATED,
                      false);
    TestVertex a = vtx(0.5f, 5.5f, 0xFF000000u), b = vtx(255.5f, 5.5f, 0xFFFF0000u);
    vxDrawLine(&a, &b);
    EXPECT_EQ(pixel(0, 5), rgb565(0, 0, 0));
    EXPECT_EQ(pixel(255, 5), rgb565(255, 0, 0));
    EXPECT_EQ(pixel(128, 5), rgb565(128, 0, 0));
}

// A busy scene: textured, fogged, depth-tested, blended strips and triangles.
void drawScene() {
    // 64x64 with its whole chain down to 1x1: 4096 + 1024 + ... + 1 texels.
    std::vector<std::uint16_t> texels(5461);
    for (int i = 0; i < 5461; ++i) texels[std::size_t(i)] = std::uint16_t(i * 2654435761u >> 16);
    VxTexInfo info{0, 6, 0, VX_TEXFMT_RGB_565, texels.data()};
    VxTexInfo env{5, 5, 0, VX_TEXFMT_ARGB_4444, texels.data()};
    vxTexDownload(0, 0, VX_LEVELS_BOTH, &info);
    vxTexBind(0, 0, VX_LEVELS_BOTH, &info);
    vxSetTexFilter(0, VX_FILTER_BILINEAR, VX_FILTER_BILINEAR);
    vxSetTexMipMapMode(0, VX_MIPMAP_NEAREST, false);
    vxSetColorCombine(VX_COMBINE_SCALE_OTHER, VX_FACTOR_LOCAL, VX_LOCAL_ITERATED,
                      VX_OTHER_TEXTURE, false);
    vxSetAlphaCombine(VX_COMBINE_LOCAL, VX_FACTOR_ZERO, VX_LOCAL_ITERATED, VX_OTHER_ITERATED,
                      false);
    vxSetDepthMode(VX_DEPTH_WBUFFER);
    vxSetDepthFunction(VX_CMP_LEQUAL);
    std::uint8_t fog[VX_FOG_TABLE_ENTRIES];
    vxMakeFogTableExp2(fog, 0.05f);
    vxSetFogTable(fog);
    vxSetFogColor(0xFF806040u);
    vxSetFogMode(VX_FOG_WTABLE);
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> pos(-40.0f, 550.0f), qd(0.01f, 1.0f),
        st(-300.0f, 300.0f);
    for (int i = 0; i < 400; ++i) {
        if (i == 200) vxSetAlphaBlend(VX_BLEND_SRC_ALPHA, VX_BLEND_ONE_MINUS_SRC_ALPHA,
                                      VX_BLEND_ONE, VX_BLEND_ZERO);
        if (i == 260) {  // point sampling and clamping take other sampler routines
            vxSetTexFilter(0, VX_FILTER_POINT, VX_FILTER_POINT);
            vxSetTexClamp(0, VX_TEXCLAMP_CLAMP, VX_TEXCLAMP_WRAP);
        }
        if (i == 320) {  // environment map: unit 0 blended towards a 4-4-4-4 unit 1
            vxTexDownload(1, 0, VX_LEVELS_BOTH, &env);
            vxTexBind(1, 0, VX_LEVELS_BOTH, &env);
            vxSetTexFilter(1, VX_FILTER_BILINEAR, VX_FILTER_BILINEAR);
            vxSetTextureCombine(0, VX_COMBINE_BLEND_OTHER_LOCAL, VX_FACTOR_OTHER_ALPHA,
                                VX_COMBINE_LOCAL, VX_FACTOR_ZERO, false, false);
        }
        TestVertex v[4];
        for (auto& x : v) x = vtx(pos(rng), pos(rng), std::uint32_t(rng()), qd(rng), st(rng), st(rng));
        const void* p[4] = {&v[0], &v[1], &v[2], &v[3]};
        vxDrawVertexArray(i % 3 == 0 ? VX_POLYGON : VX_TRIANGLE_STRIP, 4, p);
    }
    for (int i = 0; i < 50; ++i) {
        TestVertex a = vtx(pos(rng), pos(rng), std::uint32_t(rng()), qd(rng), st(rng), st(rng));
        TestVertex b = vtx(pos(rng), pos(rng), std::uint32_t(rng()), qd(rng), st(rng), st(rng));
        vxDrawLine(&a, &b);
    }
}

class Threads : public VexaTest {};

TEST_F(Threads, SamePictureForEveryWorkerCountAndPath) {
    std::vector<std::uint16_t> rounded;
    for (bool dither : {false, true}) {
        std::vector<std::uint16_t> reference;
        for (const char* path : VEXA_PATHS) {
            for (const char* threads : {"0", "1", "2", "4"}) {
                setenv("VEXA_THREADS", threads, 1);
                if (!restartOnPath(path)) break;
                vxSetDitherMode(dither ? VX_DITHER_4X4 : VX_DITHER_DISABLE);
                drawScene();
                const auto f = frame();
                if (reference.empty()) {
                    reference = f;
                    EXPECT_GT(W * H - countOf(f, 0), W * H / 2);
                } else {
                    ASSERT_EQ(f, reference) << "threads " << threads << " path " << path
                                            << " dither " << dither;
                }
            }
        }
        if (!dither) {
            rounded = reference;
        } else {
            EXPECT_NE(reference, rounded) << "the dithered picture is another picture";
        }
    }
}

// Small strips whose rows straddle the 16-row bands the workers share, with vertices on
// pixel centres (the edge of the rows a command may touch), drawn with the origin at the
// bottom so rows are flipped before they are assigned: every worker count draws the same
// picture, and each strip's pixels are drawn exactly once.
TEST_F(Threads, BandEdgesDrawTheSameForEveryWorkerCount) {
    std::vector<std::uint16_t> reference;
    for (const char* threads : {"0", "1", "2", "3", "4"}) {
        vxShutdown();
        setenv("VEXA_THREADS", threads, 1);
        start();
        vxSetOrigin(VX_ORIGIN_LOWER_LEFT);
        additive(STEP);
        int cells = 0;
        for (int band = 1; band < 8; ++band) {
            for (int k = 0; k < 12; ++k) {
                // Bottom-origin y of the band edge: window row band * 16 sits at H - band * 16.
                const float edge = float(H - band * 16);
                const float top = edge - 2.5f + 0.5f * float(k % 5), h = 0.5f + float(k % 4);
                const float x = 8.0f + float(band * 60 + k * 4);
                TestVertex v[4] = {vtx(x, top), vtx(x + 3.0f, top), vtx(x, top + h),
                                   vtx(x + 3.0f, top + h)};
                const void* p[4] = {&v[0], &v[1], &v[2], &v[3]};
                vxDrawVertexArray(VX_TRIANGLE_STRIP, 4, p);
                ++cells;
            }
        }
        // One long strip down the left side crosses every band in one command.
        TestVertex s[2 * 25];
        for (int i = 0; i < 25; ++i) {
            s[2 * i] = vtx(2.0f, 0.5f + float(i) * 15.25f);
            s[2 * i + 1] = vtx(6.0f, 0.5f + float(i) * 15.25f);
        }
        vxDrawVertexList(VX_TRIANGLE_STRIP, 50, s, sizeof(TestVertex));
        const auto f = frame();
        EXPECT_EQ(countOf(f, rgb565(16, 0, 0)), 0) << "threads " << threads;
        EXPECT_GT(countOf(f, ONE_HIT), cells * 3) << "threads " << threads;
        if (reference.empty()) {
            reference = f;
        } else {
            ASSERT_EQ(f, reference) << "threads " << threads;
        }
    }
}

// Exact coverage of one triangle by the rule the rasterizer promises: vertices snapped to
// 1/256 pixel (round half up), pixel centres inside or on a top or left edge.
std::vector<std::uint8_t> referenceCoverage(const TestVertex& va, const TestVertex& vb,
                                            const TestVertex& vc, int w, int h) {
    const auto snap = [](float c) { return std::int64_t(std::floor(double(c) * 256.0 + 0.5)); };
    std::int64_t x[3] = {snap(va.x), snap(vb.x), snap(vc.x)};
    std::int64_t y[3] = {snap(va.y), snap(vb.y), snap(vc.y)};
    std::vector<std::uint8_t> cover(std::size_t(w) * std::size_t(h), 0);
    const std::int64_t area = (x[1] - x[0]) * (y[2] - y[0]) - (x[2] - x[0]) * (y[1] - y[0]);
    if (area == 0) return cover;
    if (area < 0) {
        std::swap(x[1], x[2]);
        std::swap(y[1], y[2]);
    }
    for (int py = 0; py < h; ++py) {
        for (int px = 0; px < w; ++px) {
            const std::int64_t cx = std::int64_t(px) * 256 + 128, cy = std::int64_t(py) * 256 + 128;
            bool inside = true;
            for (int k = 0; k < 3; ++k) {
                const int n = (k + 1) % 3;
                const std::int64_t a = -(y[n] - y[k]), b = x[n] - x[k];
                const bool topLeft = a > 0 || (a == 0 && b > 0);
                const std::int64_t e = a * (cx - x[k]) + b * (cy - y[k]);
                inside = inside && (topLeft ? e >= 0 : e > 0);
            }
            cover[std::size_t(py) * std::size_t(w) + std::size_t(px)] = inside;
        }
    }
    return cover;
}

// Narrow triangles whose boxes lie on both sides of the height and width beyond which the
// edge functions are stepped in 64 bits (64 pixels), either winding, some with a vertex
// far outside the output: every pixel agrees with the exact rule.
TEST_F(Coverage, NarrowTrianglesAroundThe32BitLimitMatchTheExactRule) {
    flatColor(0xFFFFFFFFu);
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    int drawn = 0;
    for (int t = 0; t < 60; ++t) {
        const float height = 56.0f + 16.0f * unit(rng);  // 56..72 pixels
        const float width = 2.0f + 20.0f * unit(rng);
        const float x0 = 40.0f + 400.0f * unit(rng), y0 = 20.0f + 280.0f * unit(rng);
        TestVertex a = vtx(x0 + width * unit(rng), y0);
        TestVertex b = vtx(x0, y0 + height * unit(rng));
        TestVertex c = vtx(x0 + width, y0 + height);
        if (t % 2) std::swap(b, c);
        if (t % 3 == 0) std::swap(a.x, a.y);  // wide and short instead
        if (t % 10 == 9) c.y += 5000.0f;      // tall beyond the output
        if (t % 4 == 1) {                     // edges through pixel centres: top-left rule
            for (TestVertex* p : {&a, &b, &c}) {
                p->x = std::floor(p->x) + 0.5f;
                p->y = std::floor(p->y) + 0.5f;
            }
        }
        vxClearBuffers(0, 0, 0xFFFF);
        tri(a, b, c);
        const std::vector<std::uint16_t> f = frame();
        const std::vector<std::uint8_t> want = referenceCoverage(a, b, c, W, H);
        int wrong = 0, covered = 0;
        for (std::size_t i = 0; i < f.size(); ++i) {
            wrong += (f[i] == 0xFFFF) != (want[i] != 0);
            covered += want[i];
        }
        ASSERT_EQ(wrong, 0) << "triangle " << t;
        drawn += covered > 20;
    }
    EXPECT_GT(drawn, 50);
}

// A strip's vertices are snapped once for all the triangles that share them: a long strip of
// sub-pixel to few-pixel triangles covers exactly what its triangles drawn one by one cover.
TEST_F(Coverage, StripMatchesItsTrianglesDrawnSeparately) {
    additive(STEP);
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> jitter(-0.45f, 0.45f);
    std::vector<TestVertex> v;
    for (int i = 0; i < 300; ++i) {
        const float x = 10.0f + 1.6f * float(i / 2) + jitter(rng);
        const float y = 30.0f + 3.3f * float(i % 2) + 0.01f * float(i) + jitter(rng);
        v.push_back(vtx(x, y));
    }
    std::vector<const void*> p;
    for (const TestVertex& t : v) p.push_back(&t);
    vxDrawVertexArray(VX_TRIANGLE_STRIP, int(p.size()), p.data());
    const std::vector<std::uint16_t> strip = frame();
    vxClearBuffers(0, 0, 0xFFFF);
    for (std::size_t i = 0; i + 2 < v.size(); ++i) {
        if (i & 1) {
            tri(v[i + 1], v[i], v[i + 2]);
        } else {
            tri(v[i], v[i + 1], v[i + 2]);
        }
    }
    const std::vector<std::uint16_t> separate = frame();
    EXPECT_EQ(strip, separate);
    EXPECT_GT(countOf(strip, ONE_HIT), 400);
    EXPECT_EQ(countOf(strip, ONE_HIT) + countOf(strip, 0), W * H);  // none drawn twice
}

// Adds one hit to `hits` (w x h pixels) at every pixel the exact rule covers for triangle
// (a, b, c) under `cull`: vertices snapped to 1/256 pixel, no area or a signed area the cull mode drops (below
// 0 for VX_CULL_NEGATIVE, above 0 for VX_CULL_POSITIVE) covering nothing. Only the pixels
// around the triangle are looked at.
void addCulledCoverage(std::vector<int>& hits, int w, int h, const TestVertex& a,
                       const TestVertex& b, const TestVertex& c, int cull) {
    const auto snap = [](float v) { return std::int64_t(std::floor(double(v) * 256.0 + 0.5)); };
    std::int64_t x[3] = {snap(a.x), snap(b.x), snap(c.x)};
    std::int64_t y[3] = {snap(a.y), snap(b.y), snap(c.y)};
    const std::int64_t area = (x[1] - x[0]) * (y[2] - y[0]) - (x[2] - x[0]) * (y[1] - y[0]);
    if (area == 0 || (cull == VX_CULL_NEGATIVE && area < 0) ||
        (cull == VX_CULL_POSITIVE && area > 0)) {
        return;
    }
    if (area < 0) {
        std::swap(x[1], x[2]);
        std::swap(y[1], y[2]);
    }
    const int x0 = int(std::min({a.x, b.x, c.x})) - 1, x1 = int(std::max({a.x, b.x, c.x})) + 1;
    const int y0 = int(std::min({a.y, b.y, c.y})) - 1, y1 = int(std::max({a.y, b.y, c.y})) + 1;
    for (int py = std::max(y0, 0); py <= std::min(y1, h - 1); ++py) {
        for (int px = std::max(x0, 0); px <= std::min(x1, w - 1); ++px) {
            const std::int64_t cx = std::int64_t(px) * 256 + 128, cy = std::int64_t(py) * 256 + 128;
            bool inside = true;
            for (int k = 0; k < 3; ++k) {
                const int n = (k + 1) % 3;
                const std::int64_t ea = -(y[n] - y[k]), eb = x[n] - x[k];
                const bool topLeft = ea > 0 || (ea == 0 && eb > 0);
                const std::int64_t e = ea * (cx - x[k]) + eb * (cy - y[k]);
                inside = inside && (topLeft ? e >= 0 : e > 0);
            }
            hits[std::size_t(py) * std::size_t(w) + std::size_t(px)] += inside;
        }
    }
}

// The cells of a fine grid (strips of four vertices within a few pixels, drawn two triangles
// at a time) are oriented and culled by the one step that triangles drawn alone take. Under
// each cull mode, cells of either winding, folded cells whose triangles face opposite ways,
// cells with a triangle of no area (three vertices in a line, a vertex repeated, all four at
// one point), cells with vertices on pixel centres and cells across the workers' bands draw
// what their two triangles drawn one by one draw, and that is the exact rule with culling by
// the sign of the snapped area.
TEST_F(Coverage, CellsOrientAndCullLikeTheirTrianglesDrawnAlone) {
    for (const char* threads : {"0", "2"}) {
        vxShutdown();
        setenv("VEXA_THREADS", threads, 1);
        start();
        std::vector<std::array<TestVertex, 4>> cells;
        std::mt19937 rng(29);
        std::uniform_real_distribution<float> unit(0.0f, 1.0f);
        for (int j = 0; j < 20; ++j) {
            for (int i = 0; i < 30; ++i) {
                const float x = 12.0f + 16.0f * float(i) + 4.0f * unit(rng);
                const float y = 12.0f + 17.0f * float(j) + 4.0f * unit(rng);
                const float w = 0.6f + 2.6f * unit(rng), h = 0.6f + 2.6f * unit(rng);
                // A regular cell: triangles (0 1 2) and (2 1 3) both of positive area.
                std::array<TestVertex, 4> c = {vtx(x, y), vtx(x + w, y), vtx(x, y + h),
                                               vtx(x + w, y + h)};
                switch ((i + j) % 8) {
                case 0: break;
                case 1:  // mirrored: both of negative area
                    std::swap(c[0], c[1]);
                    std::swap(c[2], c[3]);
                    break;
                case 2:  // folded: the last vertex across the shared edge, facing the other way
                    c[3] = vtx(x + 0.3f * w, y + 0.3f * h);
                    break;
                case 3:  // the first triangle's vertices in a line
                    c[2] = vtx(x + 2.0f * w, y);
                    break;
                case 4:  // the last vertex repeats one of the shared edge
                    c[3] = c[1];
                    break;
                case 5:  // all four at one point
                    c = {vtx(x, y), vtx(x, y), vtx(x, y), vtx(x, y)};
                    break;
                case 6:  // on pixel centres: the top-left rule decides
                    for (TestVertex& p : c) {
                        p.x = std::floor(p.x) + 0.5f;
                        p.y = std::floor(p.y) + 0.5f;
                    }
                    break;
                default:  // any four points
                    for (TestVertex& p : c) p = vtx(x + 3.4f * unit(rng), y + 3.4f * unit(rng));
                    break;
                }
                cells.push_back(c);
            }
        }
        int drawn[3] = {};
        for (int cull : {VX_CULL_NONE, VX_CULL_NEGATIVE, VX_CULL_POSITIVE}) {
            vxSetCullMode(cull);
            additive(STEP);
            vxClearBuffers(0, 0, 0xFFFF);
            for (const auto& c : cells) {
                const void* p[4] = {&c[0], &c[1], &c[2], &c[3]};
                vxDrawVertexArray(VX_TRIANGLE_STRIP, 4, p);
            }
            const std::vector<std::uint16_t> asCells = frame();
            vxClearBuffers(0, 0, 0xFFFF);
            std::vector<int> hits(std::size_t(W) * H, 0);
            for (const auto& c : cells) {
                tri(c[0], c[1], c[2]);
                tri(c[2], c[1], c[3]);
                addCulledCoverage(hits, W, H, c[0], c[1], c[2], cull);
                addCulledCoverage(hits, W, H, c[2], c[1], c[3], cull);
            }
            const std::vector<std::uint16_t> alone = frame();
            ASSERT_EQ(asCells, alone) << "threads " << threads << " cull " << cull;
            int wrong = 0;
            for (std::size_t k = 0; k < hits.size(); ++k) {
                wrong += alone[k] != rgb565(8 * hits[k], 0, 0);
                drawn[cull] += hits[k] > 0;
            }
            ASSERT_EQ(wrong, 0) << "threads " << threads << " cull " << cull;
        }
        // Each mode draws something, and each culling mode drops some of what the other keeps.
        EXPECT_GT(drawn[VX_CULL_NEGATIVE], 300);
        EXPECT_GT(drawn[VX_CULL_POSITIVE], 300);
        EXPECT_LT(drawn[VX_CULL_NEGATIVE], drawn[VX_CULL_NONE]);
        EXPECT_LT(drawn[VX_CULL_POSITIVE], drawn[VX_CULL_NONE]);
    }
}

}  // namespace

// Triangles and quad cells up to thirty pixels across, where the rasterizer tests the
// candidate columns of a row four at a time (up to 24 columns; wider ones are stepped one by
// one) and refuses a cell whose box holds no pixel centre before looking at its triangles; some vertices sit exactly half a snapping unit off the grid (rounded up), some
// shapes hang over the output's edges: every pixel agrees with the exact rule, with one
// worker and with two.
TEST_F(Coverage, SmallTrianglesAndCellsMatchTheExactRule) {
    for (const char* threads : {"0", "2"}) {
        vxShutdown();
        setenv("VEXA_THREADS", threads, 1);
        start();
        flatColor(0xFFFFFFFFu);
        std::mt19937 rng(23);
        std::uniform_real_distribution<float> unit(0.0f, 1.0f);
        int drawn = 0;
        for (int t = 0; t < 400; ++t) {
            const float span[3] = {1.5f, 10.0f, 30.0f};
            const float size = span[(t / 2) % 3] * unit(rng);
            float x0 = 4.0f + 470.0f * unit(rng), y0 = 4.0f + 340.0f * unit(rng);
            if (t % 11 == 5) x0 = -size * unit(rng);  // over the left edge
            if (t % 13 == 6) y0 = -size * unit(rng);  // over the top edge
            if (t % 7 == 2) x0 = float(W) - size * unit(rng);  // over the right edge
            if (t % 17 == 8) y0 = float(H) - size * unit(rng);  // over the bottom edge
            TestVertex v[4];
            for (TestVertex& p : v) p = vtx(x0 + size * unit(rng), y0 + size * unit(rng));
            if (t % 5 == 1) {  // vertices on pixel centres: the top-left rule decides
                for (TestVertex& p : v) {
                    p.x = std::floor(p.x) + 0.5f;
                    p.y = std::floor(p.y) + 0.5f;
                }
            } else if (t % 5 == 3) {  // half a snapping unit past the grid: rounds up
                for (TestVertex& p : v) {
                    p.x = std::floor(p.x * 256.0f) / 256.0f + 1.0f / 512.0f;
                    p.y = std::floor(p.y * 256.0f) / 256.0f + 1.0f / 512.0f;
                }
            }
            std::vector<std::uint8_t> want = referenceCoverage(v[0], v[1], v[2], W, H);
            vxClearBuffers(0, 0, 0xFFFF);
            if (t % 2 == 0) {
                tri(v[0], v[1], v[2]);
            } else {  // a cell: triangles (0 1 2) and (2 1 3), drawn as a strip of four
                const std::vector<std::uint8_t> second = referenceCoverage(v[2], v[1], v[3], W, H);
                for (std::size_t i = 0; i < want.size(); ++i) want[i] |= second[i];
                const void* p[4] = {&v[0], &v[1], &v[2], &v[3]};
                vxDrawVertexArray(VX_TRIANGLE_STRIP, 4, p);
            }
            const std::vector<std::uint16_t> f = frame();
            int wrong = 0, covered = 0;
            for (std::size_t i = 0; i < f.size(); ++i) {
                wrong += (f[i] == 0xFFFF) != (want[i] != 0);
                covered += want[i];
            }
            ASSERT_EQ(wrong, 0) << "threads " << threads << " shape " << t;
            drawn += covered > 0;
        }
        EXPECT_GT(drawn, 100) << "many shapes cover a pixel";
    }
}
