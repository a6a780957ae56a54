// Submission tests of Vexa: consecutive short strips share one ring command, and must draw
// exactly what their triangles drawn one by one draw, in order, with the state in force at
// each call, across reads that hand the ring to the workers, and across ring wrap-around.
#include "tests/vexa/vexa_fixture.h"
#include "tests/environment.h"

#include <random>
#include <vector>

namespace {

// Draws a strip of `n` vertices either as one call or as its triangles one by one.
void drawStrip(const TestVertex* v, int n, bool asTriangles) {
    if (!asTriangles) {
        std::vector<const void*> p;
        for (int i = 0; i < n; ++i) p.push_back(&v[i]);
        vxDrawVertexArray(VX_TRIANGLE_STRIP, n, p.data());
        return;
    }
    for (int i = 0; i + 2 < n; ++i) {
        if (i & 1) {
            vxDrawTriangle(&v[i + 1], &v[i], &v[i + 2]);
        } else {
            vxDrawTriangle(&v[i], &v[i + 1], &v[i + 2]);
        }
    }
}

class Submission : public VexaTest {
protected:
    static std::vector<std::uint16_t> drawMixedStrips(bool asTriangles);
};

// Overlapping strips of mixed lengths (packed: 4, 6, 8; not: 3, 5, 10) blended over each
// other, with colour, blend and cull changes between calls and reads in the middle: the
// blended result depends on every strip's order, state and winding.
std::vector<std::uint16_t> Submission::drawMixedStrips(bool asTriangles) {
    vxClearBuffers(0, 0, 0xFFFF);
    vxSetColorCombine(VX_COMBINE_LOCAL, VX_FACTOR_ZERO, VX_LOCAL_ITERATED, VX_OTHER_ITERATED,
                      false);
    vxSetAlphaCombine(VX_COMBINE_LOCAL, VX_FACTOR_ZERO, VX_LOCAL_ITERATED, VX_OTHER_ITERATED,
                      false);
    vxSetAlphaBlend(VX_BLEND_SRC_ALPHA, VX_BLEND_ONE_MINUS_SRC_ALPHA, VX_BLEND_ONE,
                    VX_BLEND_ZERO);
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> pos(-20.0f, 530.0f), step(-9.0f, 9.0f);
    const int lengths[] = {4, 4, 4, 6, 4, 8, 3, 4, 5, 4, 10, 6, 6};
    for (int call = 0; call < 3000; ++call) {
        const int n = lengths[call % 13];
        TestVertex v[10];
        float x = pos(rng), y = pos(rng) * 0.75f;
        for (int i = 0; i < n; ++i) {
            x += step(rng);
            y += step(rng);
            v[i] = vtx(x, y, std::uint32_t(rng()) | 0x40000000u);
        }
        if (call % 211 == 0) vxSetCullMode(call % 2 ? VX_CULL_NEGATIVE : VX_CULL_NONE);
        if (call % 97 == 0) {
            vxSetColorCombine(VX_COMBINE_LOCAL, VX_FACTOR_ZERO,
                              call % 2 ? VX_LOCAL_CONSTANT : VX_LOCAL_ITERATED,
                              VX_OTHER_ITERATED, false);
        }
        if (call % 53 == 0) vxSetConstantColor(0xFF000000u | std::uint32_t(call * 7919));
        if (call % 777 == 0) {  // a read hands everything queued to the workers
            std::uint16_t p = 0;
            EXPECT_TRUE(vxReadFrameRegion(VX_BUFFER_BACK, call % W, call % H, 1, 1, 2, &p));
        }
        drawStrip(v, n, asTriangles);
    }
    return frame();
}

TEST_F(Submission, ShortStripsDrawLikeTheirTrianglesAcrossStateChangesAndReads) {
    for (const char* threads : {"1", "3"}) {
        vxShutdown();
        setenv("VEXA_THREADS", threads, 1);
        start();
        const std::vector<std::uint16_t> strips = drawMixedStrips(false);
        const std::vector<std::uint16_t> triangles = drawMixedStrips(true);
        ASSERT_EQ(strips, triangles) << "threads " << threads;
        int drawn = 0;
        for (std::uint16_t p : strips) drawn += p != 0;
        EXPECT_GT(drawn, W * H / 4);
    }
}

// Cells of a few pixels (drawn a cell at a time, both triangles together), each followed at
// once by the same cell nudged by a fraction of a pixel in another colour and blended over
// it: the second's pixels meet the first's while they wait to be drawn, which must finish
// those first, as it does for triangles drawn one by one.
TEST_F(Submission, CellsOverPixelsWaitingToBeDrawnDrawLikeTheirTriangles) {
    const auto draw = [](bool asTriangles) {
        vxClearBuffers(0, 0, 0xFFFF);
        vxSetColorCombine(VX_COMBINE_LOCAL, VX_FACTOR_ZERO, VX_LOCAL_ITERATED, VX_OTHER_ITERATED,
                          false);
        vxSetAlphaBlend(VX_BLEND_SRC_ALPHA, VX_BLEND_ONE_MINUS_SRC_ALPHA, VX_BLEND_ONE,
                        VX_BLEND_ZERO);
        std::mt19937 rng(5);
        std::uniform_real_distribution<float> nudge(-0.6f, 0.6f);
        for (int j = 0; j < 40; ++j) {
            for (int i = 0; i < 60; ++i) {
                for (int pass = 0; pass < 2; ++pass) {
                    const float x = 10.0f + float(i) * 2.7f + (pass ? nudge(rng) : 0.0f);
                    const float y = 10.0f + float(j) * 2.9f + (pass ? nudge(rng) : 0.0f);
                    const std::uint32_t colour = std::uint32_t(rng()) | 0x80000000u;
                    const TestVertex v[4] = {vtx(x, y, colour), vtx(x, y + 2.9f, colour),
                                             vtx(x + 2.7f, y, colour),
                                             vtx(x + 2.7f, y + 2.9f, colour)};
                    drawStrip(v, 4, asTriangles);
                }
            }
        }
        return frame();
    };
    for (const char* threads : {"0", "2"}) {
        vxShutdown();
        setenv("VEXA_THREADS", threads, 1);
        start();
        const std::vector<std::uint16_t> cells = draw(false);
        ASSERT_EQ(cells, draw(true)) << "threads " << threads;
        int drawn = 0;
        for (std::uint16_t p : cells) drawn += p != 0;
        EXPECT_GT(drawn, 150 * 100);
    }
}

// One-pixel cells, one strip each, over the whole output: far more commands than the ring
// holds, so packed commands meet the ring's end and the waits for the workers. Additive
// drawing shows every pixel covered exactly once.
TEST_F(Submission, ShortStripsCoverEachPixelOnceAcrossRingWrap) {
    additive(0xFF000008u);
    std::vector<TestVertex> row0(W + 1), row1(W + 1);
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x <= W; ++x) {
            row0[std::size_t(x)] = vtx(float(x), float(y));
            row1[std::size_t(x)] = vtx(float(x), float(y + 1));
        }
        for (int x = 0; x < W; ++x) {
            const void* p[4] = {&row0[std::size_t(x)], &row1[std::size_t(x)],
                                &row0[std::size_t(x) + 1], &row1[std::size_t(x) + 1]};
            vxDrawVertexArray(VX_TRIANGLE_STRIP, 4, p);
        }
        // The program reuses its vertex arrays at once: what is queued is a copy.
        for (TestVertex& v : row0) v.x = -1000.0f;
    }
    const std::vector<std::uint16_t> f = frame();
    int once = 0;
    for (std::uint16_t p : f) once += p == rgb565(8, 0, 0);
    EXPECT_EQ(once, W * H);
}

}  // namespace
