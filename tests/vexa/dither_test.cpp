// Ordered dithering into 5-6-5: a flat colour keeps its true average over every 4 x 4 block and
// takes only the two nearest 5-6-5 values; the pattern belongs to the screen position (two
// ways of covering the same pixels give the same bytes); switched off, by state or with
// VEXA_DITHER=0, each pixel is the rounded colour; the fused surface routine and the general
// one dither alike.
#include "tests/vexa/vexa_fixture.h"

#include <cstdlib>
#include <vector>

#include "tests/environment.h"

namespace {

class Dither : public VexaTest {
protected:
    // A flat constant colour over the whole output as two triangles split along one diagonal
    // or the other.
    static void fill(std::uint32_t abgr, bool otherDiagonal) {
        flatColor(abgr);
        const TestVertex a = vtx(0, 0), b = vtx(float(W), 0), c = vtx(0, float(H)),
                         d = vtx(float(W), float(H));
        if (otherDiagonal) {
            tri(a, b, d);
            tri(a, d, c);
        } else {
            tri(a, b, c);
            tri(b, d, c);
        }
    }
    static int channel(std::uint16_t p, int c) {
        return c == 0 ? (p >> 11) & 31 : (c == 1 ? (p >> 5) & 63 : p & 31);
    }
};

TEST_F(Dither, FlatColourAveragesToItselfWithTheTwoNearestValues) {
    vxSetDitherMode(VX_DITHER_4X4);
    const int rgb[3] = {0x7F, 0x41, 0xC3};
    fill(0xFF000000u | std::uint32_t(rgb[2]) << 16 | std::uint32_t(rgb[1]) << 8 | rgb[0], false);
    const auto f = frame();
    const int top[3] = {31, 63, 31};
    for (int by = 0; by < H; by += 4) {
        for (int bx = 0; bx < W; bx += 4) {
            for (int c = 0; c < 3; ++c) {
                const double exact = rgb[c] * top[c] / 255.0;
                int sum = 0;
                for (int y = by; y < by + 4; ++y) {
                    for (int x = bx; x < bx + 4; ++x) {
                        const int v = channel(f[std::size_t(y) * W + x], c);
                        ASSERT_TRUE(v == int(exact) || v == int(exact) + 1) << x << "," << y;
                        sum += v;
                    }
                }
                ASSERT_NEAR(sum / 16.0, exact, 0.04) << "block " << bx << "," << by;
            }
        }
    }
}

TEST_F(Dither, PatternBelongsToTheScreenPosition) {
    vxSetDitherMode(VX_DITHER_4X4);
    fill(0xFF3377AAu, false);
    const auto first = frame();
    vxClearBuffers(0, 0, 0xFFFF);
    fill(0xFF3377AAu, true);
    EXPECT_EQ(frame(), first);
}

TEST_F(Dither, OffByStateOrBoardGivesTheRoundedColour) {
    const std::uint16_t rounded = rgb565(0x7F, 0x41, 0xC3);
    fill(0xFFC3417Fu, false);   // the fixture switched dithering off
    EXPECT_EQ(countOf(frame(), rounded), W * H);
    vxShutdown();
    setenv("VEXA_DITHER", "0", 1);
    start();
    vxSetDitherMode(VX_DITHER_4X4);   // asked for, but the board has none
    fill(0xFFC3417Fu, false);
    unsetenv("VEXA_DITHER");
    EXPECT_EQ(countOf(frame(), rounded), W * H);
}

// The program's surface state (texture times iterated colour, depth, fog) takes the fused
// routine; a blend of one and zero takes the general one. Both must dither the same bytes.
TEST_F(Dither, FusedSurfaceRoutineDithersLikeTheGeneralOne) {
    std::vector<std::uint16_t> texels(64 * 64);
    for (std::size_t i = 0; i < texels.size(); ++i) texels[i] = std::uint16_t(i * 2654435761u >> 16);
    VxTexInfo info{6, 6, 0, VX_TEXFMT_RGB_565, texels.data()};
    ASSERT_TRUE(vxTexDownload(0, 0, VX_LEVELS_BOTH, &info));
    ASSERT_TRUE(vxTexBind(0, 0, VX_LEVELS_BOTH, &info));
    vxSetDitherMode(VX_DITHER_4X4);
    vxSetDepthMode(VX_DEPTH_WBUFFER);
    vxSetDepthFunction(VX_CMP_ALWAYS);
    vxSetColorCombine(VX_COMBINE_SCALE_OTHER, VX_FACTOR_LOCAL, VX_LOCAL_ITERATED,
                      VX_OTHER_TEXTURE, false);
    std::uint8_t fog[VX_FOG_TABLE_ENTRIES];
    vxMakeFogTableExp2(fog, 0.3f);
    vxSetFogTable(fog);
    vxSetFogMode(VX_FOG_WTABLE);
    const auto draw = [] {
        const TestVertex a = vtx(10, 10, 0xFF80C0A0u, 0.9f, 0, 0);
        const TestVertex b = vtx(500, 30, 0xFF4060FFu, 0.2f, 700, 0);
        const TestVertex c = vtx(40, 370, 0xFFFFFFFFu, 0.5f, 0, 500);
        tri(a, b, c);
    };
    draw();
    const auto fused = frame();
    vxClearBuffers(0, 0, 0xFFFF);
    // Blending "one, zero" in alpha only is still no blend for colour: the general routine
    // takes this state because the alpha test is on (and always passes).
    vxSetAlphaTest(VX_CMP_ALWAYS);
    vxSetAlphaTestReference(0);
    vxSetAlphaTest(VX_CMP_GEQUAL);
    draw();
    EXPECT_EQ(frame(), fused);
    EXPECT_GT(W * H - countOf(fused, 0), 50000);
}

}  // namespace
