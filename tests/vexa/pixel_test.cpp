// Pixel pipeline tests of Vexa: depth order and codes, every combine the program sets,
// alpha test, fog table and fogging, blending, 5-6-5 rounding, and state save/restore.
#include "tests/vexa/vexa_fixture.h"
#include "tests/environment.h"

#include <cmath>
#include <vector>

namespace {

class Pixels : public VexaTest {
protected:
    // A 2x2 texture (RGB 5-6-5 or another format) bound to `unit` at `address`, point
    // sampled, so each quadrant of a 0..256 square shows one texel.
    static void bindTexels(int unit, std::uint32_t address, int format, const void* texels,
                           int lod = 1) {
        VxTexInfo info{lod, lod, 0, format, const_cast<void*>(texels)};
        ASSERT_TRUE(vxTexDownload(unit, address, VX_LEVELS_BOTH, &info));
        ASSERT_TRUE(vxTexBind(unit, address, VX_LEVELS_BOTH, &info));
        vxSetTexFilter(unit, VX_FILTER_POINT, VX_FILTER_POINT);
        vxSetTexMipMapMode(unit, VX_MIPMAP_DISABLE, false);
    }
    // A square 0..64 pixels mapped to texel space 0..256.
    static void texturedSquare(std::uint32_t argb, float q = 1.0f) {
        TestVertex v[4] = {vtx(0, 0, argb, q, 0, 0), vtx(64, 0, argb, q, 256, 0),
                           vtx(0, 64, argb, q, 0, 256), vtx(64, 64, argb, q, 256, 256)};
        const void* p[4] = {&v[0], &v[1], &v[2], &v[3]};
        vxDrawVertexArray(VX_TRIANGLE_STRIP, 4, p);
    }
    // The four-texel square's texture and combine, fogged towards white by `fog` everywhere;
    // returns room for a saved state.
    static std::vector<std::uint8_t> foggedSquareState(std::uint8_t fog) {
        std::int32_t size = 0;
        EXPECT_EQ(vxQuery(VX_QUERY_STATE_SIZE, 4, &size), 4);
        static const std::uint16_t texels[4] = {rgb565(255, 0, 0), rgb565(0, 255, 0),
                                                rgb565(0, 0, 255), rgb565(255, 255, 255)};
        bindTexels(0, 0, VX_TEXFMT_RGB_565, texels);
        surfaceCombine(false);
        setFogTable(fog);
        vxSetFogColor(0xFFFFFFFFu);
        vxSetFogMode(VX_FOG_WTABLE);
        return std::vector<std::uint8_t>(static_cast<std::size_t>(size));
    }
    static void setFogTable(std::uint8_t fog) {
        std::uint8_t table[VX_FOG_TABLE_ENTRIES];
        for (auto& f : table) f = fog;
        vxSetFogTable(table);
    }
    static void surfaceCombine(bool specular) {
        vxSetTextureCombine(0, VX_COMBINE_LOCAL, VX_FACTOR_ZERO, VX_COMBINE_LOCAL,
                            VX_FACTOR_ZERO, false, false);
        vxSetColorCombine(specular ? VX_COMBINE_SCALE_OTHER_ADD_LOCAL_ALPHA
                                   : VX_COMBINE_SCALE_OTHER,
                          VX_FACTOR_LOCAL, VX_LOCAL_ITERATED, VX_OTHER_TEXTURE, false);
        vxSetAlphaCombine(VX_COMBINE_LOCAL, VX_FACTOR_ZERO, VX_LOCAL_ITERATED,
                          VX_OTHER_ITERATED, false);
    }
};

int mul255(int a, int b) { return int(std::floor(a * b / 255.0 + 0.5)); }

TEST_F(Pixels, DepthKeepsNearerSurface) {
    vxSetDepthMode(VX_DEPTH_WBUFFER);
    vxSetDepthFunction(VX_CMP_LEQUAL);
    vxSetColorCombine(VX_COMBINE_LOCAL, VX_FACTOR_ZERO, VX_LOCAL_ITERATED, VX_OTHER_ITERATED,
                      false);
    // Far red (w = 100), then near green (w = 2), then far blue again: green stays.
    const auto square = [](std::uint32_t argb, float w) {
        TestVertex v[4] = {vtx(0, 0, argb, 1 / w), vtx(32, 0, argb, 1 / w),
                           vtx(0, 32, argb, 1 / w), vtx(32, 32, argb, 1 / w)};
        const void* p[4] = {&v[0], &v[1], &v[2], &v[3]};
        vxDrawVertexArray(VX_TRIANGLE_STRIP, 4, p);
    };
    square(0xFFFF0000u, 100.0f);
    EXPECT_EQ(pixel(5, 5), rgb565(255, 0, 0));
    square(0xFF00FF00u, 2.0f);
    EXPECT_EQ(pixel(5, 5), rgb565(0, 255, 0));
    square(0xFF0000FFu, 100.0f);
    EXPECT_EQ(pixel(5, 5), rgb565(0, 255, 0));
    square(0xFF0000FFu, 2.0f);  // equal depth passes LEQUAL
    EXPECT_EQ(pixel(5, 5), rgb565(0, 0, 255));
    // A mask of false tests but does not write.
    vxSetDepthMask(false);
    square(0xFFFF0000u, 1.5f);
    square(0xFF00FF00u, 1.8f);
    EXPECT_EQ(pixel(5, 5), rgb565(0, 255, 0));
    vxSetDepthMask(true);
    vxSetDepthFunction(VX_CMP_ALWAYS);
    square(0xFFFFFFFFu, 1000.0f);
    EXPECT_EQ(pixel(5, 5), 0xFFFF);
    vxSetDepthFunction(VX_CMP_GREATER);
    square(0xFF000000u, 500.0f);
    EXPECT_EQ(pixel(5, 5), 0xFFFF);
    square(0xFF000000u, 2000.0f);
    EXPECT_EQ(pixel(5, 5), 0);
}

TEST_F(Pixels, DepthCodesAreMonotonicAndBelowClear) {
    vxSetDepthMode(VX_DEPTH_WBUFFER);
    vxSetDepthFunction(VX_CMP_LESS);
    flatColor(0xFFFFFFFFu);
    // Draw ever-nearer squares; each must pass LESS against the previous, down from 65535,
    // with 2^-10 relative steps (well above the code's 2^-12 resolution).
    int drawn = 0;
    for (float w = 65535.0f; w >= 1.0f; w *= 0.999f) {
        vxClearBuffers(0, 0, 0xFFFF);
        TestVertex v[4] = {vtx(0, 0, 0xFFFFFFFFu, 1 / w), vtx(4, 0, 0xFFFFFFFFu, 1 / w),
                           vtx(0, 4, 0xFFFFFFFFu, 1 / w), vtx(4, 4, 0xFFFFFFFFu, 1 / w)};
        const float wn = w * 0.999f;
        TestVertex n[4] = {vtx(0, 0, 0xFF000000u, 1 / wn), vtx(4, 0, 0xFF000000u, 1 / wn),
                           vtx(0, 4, 0xFF000000u, 1 / wn), vtx(4, 4, 0xFF000000u, 1 / wn)};
        vxDrawVertexList(VX_TRIANGLE_STRIP, 4, v, sizeof(TestVertex));
        ASSERT_EQ(pixel(1, 1), 0xFFFF) << "w " << w << " not nearer than the clear value";
        vxSetConstantColor(0xFF000000u);
        vxDrawVertexList(VX_TRIANGLE_STRIP, 4, n, sizeof(TestVertex));
        ASSERT_EQ(pixel(1, 1), 0) << "w " << wn << " not nearer than " << w;
        vxSetConstantColor(0xFFFFFFFFu);
        w *= 0.9f;  // sample the range sparsely to keep the test short
        ++drawn;
    }
    EXPECT_GT(drawn, 50);
}

TEST_F(Pixels, SurfaceCombineIsTextureTimesVertexColour) {
    const std::uint16_t texels[4] = {rgb565(200, 100, 50), rgb565(255, 255, 255), 0, 0};
    bindTexels(0, 0, VX_TEXFMT_RGB_565, texels);
    surfaceCombine(false);
    texturedSquare(0x80FF8040u);  // a=128 r=255 g=128 b=64
    // Texel (200,100,50) decodes from 5-6-5 as (198,101,49).
    EXPECT_EQ(pixel(10, 10), rgb565(mul255(198, 255), mul255(101, 128), mul255(49, 64)));
    EXPECT_EQ(pixel(40, 10), rgb565(255, 128, 64));
}

TEST_F(Pixels, SpecularAddsVertexAlpha) {
    const std::uint16_t texels[4] = {rgb565(200, 100, 50), rgb565(255, 255, 255), 0, 0};
    bindTexels(0, 0, VX_TEXFMT_RGB_565, texels);
    surfaceCombine(true);
    texturedSquare(0x80808080u);
    const int a = 128;
    EXPECT_EQ(pixel(10, 10), rgb565(mul255(198, 128) + a, mul255(101, 128) + a,
                                    mul255(49, 128) + a));
    EXPECT_EQ(pixel(40, 10), rgb565(255, 255, 255));  // 128 + 128 clamps
}

TEST_F(Pixels, EnvironmentBlendsUnitZeroTowardsUnitOne) {
    const std::uint16_t base[4] = {rgb565(255, 0, 0), rgb565(255, 0, 0), rgb565(255, 0, 0),
                                   rgb565(255, 0, 0)};
    // ARGB 4-4-4-4: alpha 0x8 -> 136, colour blue.
    const std::uint16_t env[4] = {0x800F, 0x800F, 0xF00F, 0x000F};
    bindTexels(0, 0, VX_TEXFMT_RGB_565, base);
    bindTexels(1, 0, VX_TEXFMT_ARGB_4444, env);
    vxSetTextureCombine(1, VX_COMBINE_LOCAL, VX_FACTOR_ZERO, VX_COMBINE_LOCAL, VX_FACTOR_ZERO,
                        false, false);
    vxSetTextureCombine(0, VX_COMBINE_BLEND_OTHER_LOCAL, VX_FACTOR_OTHER_ALPHA,
                        VX_COMBINE_LOCAL, VX_FACTOR_ZERO, false, false);
    vxSetColorCombine(VX_COMBINE_SCALE_OTHER, VX_FACTOR_ONE, VX_LOCAL_ITERATED,
                      VX_OTHER_TEXTURE, false);
    vxSetAlphaCombine(VX_COMBINE_LOCAL, VX_FACTOR_ZERO, VX_LOCAL_ITERATED, VX_OTHER_ITERATED,
                      false);
    texturedSquare(0xFFFFFFFFu);
    // own + (unit1 - own) * a1: red 255 -> 255 - 255*136/255 = 119, blue 0 -> 136.
    EXPECT_EQ(pixel(10, 10), rgb565(255 - mul255(255, 136), 0, mul255(255, 136)));
    EXPECT_EQ(pixel(10, 40), rgb565(0, 0, 255));   // alpha 255: all unit 1
    EXPECT_EQ(pixel(40, 40), rgb565(255, 0, 0));   // alpha 0: all unit 0
}

TEST_F(Pixels, FlatConstantColour) {
    flatColor(0xFF3060C0u);  // ABGR: r=0xC0 g=0x60 b=0x30
    rect(0, 0, 8, 8, 0xFF123456u);
    EXPECT_EQ(pixel(3, 3), rgb565(0xC0, 0x60, 0x30));
}

TEST_F(Pixels, TextBlendsFontAlphaOverBackground) {
    // Background: mid grey, which reads back from 5-6-5 as (132, 130, 132).
    flatColor(0xFF808080u);
    rect(0, 0, 128, 64);
    // Font texture: ALPHA_8 128x64; here texels 0, 255 and 100 side by side.
    std::vector<std::uint8_t> font(128 * 64, 0);
    for (int y = 0; y < 64; ++y) {
        for (int x = 0; x < 128; ++x) font[std::size_t(y) * 128 + x] = x < 43 ? 0 : (x < 86 ? 255 : 100);
    }
    VxTexInfo info{7, 7, 1, VX_TEXFMT_ALPHA_8, font.data()};
    ASSERT_TRUE(vxTexDownload(0, 4096, VX_LEVELS_BOTH, &info));
    ASSERT_TRUE(vxTexBind(0, 4096, VX_LEVELS_BOTH, &info));
    vxSetTexFilter(0, VX_FILTER_POINT, VX_FILTER_POINT);
    vxSetTexMipMapMode(0, VX_MIPMAP_DISABLE, false);
    vxSetTextureCombine(0, VX_COMBINE_LOCAL, VX_FACTOR_ZERO, VX_COMBINE_LOCAL, VX_FACTOR_ZERO,
                        false, false);
    vxSetColorCombine(VX_COMBINE_SCALE_OTHER, VX_FACTOR_LOCAL, VX_LOCAL_CONSTANT,
                      VX_OTHER_TEXTURE, false);
    vxSetAlphaCombine(VX_COMBINE_SCALE_OTHER, VX_FACTOR_ONE, VX_LOCAL_CONSTANT,
                      VX_OTHER_TEXTURE, false);
    vxSetConstantColor(0xFF00FFFFu);  // yellow
    vxSetAlphaBlend(VX_BLEND_SRC_ALPHA, VX_BLEND_ONE_MINUS_SRC_ALPHA, VX_BLEND_ONE,
                    VX_BLEND_ZERO);
    vxSetDepthMode(VX_DEPTH_WBUFFER);
    vxSetDepthFunction(VX_CMP_ALWAYS);
    vxSetVertexLayout(VX_PARAM_ST1, 0, VX_PARAM_DISABLE);
    // Text quad: 0..64 pixels across s 0..256 (128 texels), t 0..128 (64 rows) over 32 rows.
    TestVertex v[4] = {vtx(0, 0, 0xFFFFFFFFu, 1, 0, 0), vtx(128, 0, 0xFFFFFFFFu, 1, 256, 0),
                       vtx(0, 64, 0xFFFFFFFFu, 1, 0, 128), vtx(128, 64, 0xFFFFFFFFu, 1, 256, 128)};
    const void* p[4] = {&v[0], &v[1], &v[2], &v[3]};
    vxDrawVertexArray(VX_TRIANGLE_STRIP, 4, p);
    const std::uint16_t bg = rgb565(0x80, 0x80, 0x80);
    EXPECT_EQ(pixel(10, 10), bg);                           // alpha 0: background kept
    EXPECT_EQ(pixel(60, 10), rgb565(255, 255, 0));          // alpha 255: yellow
    // alpha 100: src = yellow * 100 (rgb = 255*100/255 = 100), blended with the stored grey.
    const int r = mul255(100, 100) + mul255(132, 155);
    const int g = mul255(100, 100) + mul255(130, 155);
    const int b = mul255(0, 100) + mul255(132, 155);
    EXPECT_EQ(pixel(100, 10), rgb565(r, g, b));
}

TEST_F(Pixels, AlphaTestDropsPixelsAndDepthWrites) {
    vxSetColorCombine(VX_COMBINE_LOCAL, VX_FACTOR_ZERO, VX_LOCAL_ITERATED, VX_OTHER_ITERATED,
                      false);
    vxSetAlphaTest(VX_CMP_GREATER);
    vxSetAlphaTestReference(100);
    vxSetDepthMode(VX_DEPTH_WBUFFER);
    vxSetDepthFunction(VX_CMP_LESS);
    rect(0, 0, 8, 8, 0x64FF0000u);  // alpha 100: fails, and must not write depth
    EXPECT_EQ(pixel(2, 2), 0);
    rect(0, 0, 8, 8, 0x65FF0000u);  // alpha 101 passes
    EXPECT_EQ(pixel(2, 2), rgb565(255, 0, 0));
}

TEST_F(Pixels, FogTableFollowsExp2) {
    std::uint8_t table[VX_FOG_TABLE_ENTRIES];
    vxMakeFogTableExp2(table, 0.002f);
    EXPECT_FLOAT_EQ(vxFogTableIndexToW(0), 1.0f);
    EXPECT_NEAR(vxFogTableIndexToW(63), 55109.0f, 1.0f);
    for (int i = 0; i < VX_FOG_TABLE_ENTRIES; ++i) {
        const double dw = 0.002 * std::pow(2.0, i / 4.0);
        EXPECT_NEAR(table[i], 255.0 * (1.0 - std::exp(-dw * dw)), 0.5001) << i;
        if (i) {
            EXPECT_GE(table[i], table[i - 1]);
        }
    }
    EXPECT_EQ(table[0], 0);
    EXPECT_EQ(table[63], 255);
}

TEST_F(Pixels, FogMixesTowardsFogColourByTable) {
    std::uint8_t table[VX_FOG_TABLE_ENTRIES];
    for (int i = 0; i < VX_FOG_TABLE_ENTRIES; ++i) table[i] = std::uint8_t(i * 4);
    vxSetFogTable(table);
    vxSetFogColor(0xFF0000FFu);  // ABGR red
    vxSetFogMode(VX_FOG_WTABLE);
    vxSetColorCombine(VX_COMBINE_LOCAL, VX_FACTOR_ZERO, VX_LOCAL_ITERATED, VX_OTHER_ITERATED,
                      false);
    // w = 2^(i/4) sits on entry i: f = 4i.
    for (int i : {0, 8, 20, 40, 63}) {
        const float w = vxFogTableIndexToW(i);
        rect(0, 0, 8, 8, 0xFF00FF00u);  // green, w = 1 -> no fog
        EXPECT_EQ(pixel(1, 1), rgb565(0, 255, 0));
        TestVertex v[4] = {vtx(0, 0, 0xFF00FF00u, 1 / w), vtx(8, 0, 0xFF00FF00u, 1 / w),
                           vtx(0, 8, 0xFF00FF00u, 1 / w), vtx(8, 8, 0xFF00FF00u, 1 / w)};
        vxDrawVertexList(VX_TRIANGLE_STRIP, 4, v, sizeof(TestVertex));
        const int f = 4 * i;
        EXPECT_EQ(pixel(1, 1), rgb565(mul255(255, f), 255 - mul255(255, f), 0)) << i;
    }
    // Halfway (in entry position) between entries 20 and 21: f between 80 and 84.
    const float w = std::exp2(20.5f / 4.0f);
    TestVertex v[4] = {vtx(0, 0, 0xFF00FF00u, 1 / w), vtx(8, 0, 0xFF00FF00u, 1 / w),
                       vtx(0, 8, 0xFF00FF00u, 1 / w), vtx(8, 8, 0xFF00FF00u, 1 / w)};
    vxDrawVertexList(VX_TRIANGLE_STRIP, 4, v, sizeof(TestVertex));
    EXPECT_EQ(pixel(1, 1), rgb565(mul255(255, 82), 255 - mul255(255, 82), 0));
}

TEST_F(Pixels, NoBlendingIgnoresDestination) {
    vxSetAlphaBlend(VX_BLEND_ONE, VX_BLEND_ZERO, VX_BLEND_ZERO, VX_BLEND_ZERO);
    flatColor(0xFFFFFFFFu);
    rect(0, 0, 8, 8);
    flatColor(0x00102030u);  // alpha 0 does not matter
    rect(0, 0, 8, 8);
    EXPECT_EQ(pixel(1, 1), rgb565(0x30, 0x20, 0x10));
}

TEST_F(Pixels, InvertAndOtherCombineFunctions) {
    vxSetConstantColor(0xC0406080u);  // r=0x80 g=0x60 b=0x40 a=0xC0
    // 255 - (constant): inverted LOCAL.
    vxSetColorCombine(VX_COMBINE_LOCAL, VX_FACTOR_ZERO, VX_LOCAL_CONSTANT, VX_OTHER_ITERATED,
                      true);
    rect(0, 0, 8, 8, 0xFF000000u);
    EXPECT_EQ(pixel(1, 1), rgb565(0x7F, 0x9F, 0xBF));
    // Blend constant towards the iterated colour by the constant's alpha.
    vxSetColorCombine(VX_COMBINE_BLEND_OTHER_LOCAL, VX_FACTOR_LOCAL_ALPHA, VX_LOCAL_CONSTANT,
                      VX_OTHER_ITERATED, false);
    rect(0, 0, 8, 8, 0xFFFFFFFFu);
    EXPECT_EQ(pixel(1, 1), rgb565(0x80 + mul255(0xC0, 0x7F), 0x60 + mul255(0xC0, 0x9F),
                                  0x40 + mul255(0xC0, 0xBF)));
    // local - factor * local with factor ONE is zero.
    vxSetColorCombine(VX_COMBINE_SCALE_MINUS_LOCAL_ADD_LOCAL, VX_FACTOR_ONE, VX_LOCAL_CONSTANT,
                      VX_OTHER_ITERATED, false);
    rect(0, 0, 8, 8, 0xFFFFFFFFu);
    EXPECT_EQ(pixel(1, 1), 0);
}

TEST_F(Pixels, SaveRestoreBringsBackEverything) {
    std::vector<std::uint8_t> block = foggedSquareState(128);
    vxSetClipWindow(0, 0, 100, 100);
    texturedSquare(0xFFFFFFFFu);
    const auto expected = frame();
    vxSaveState(block.data());
    // Change everything, draw something else, then restore and redraw.
    const std::uint16_t other[4] = {0, 0, 0, 0};
    bindTexels(0, 64, VX_TEXFMT_RGB_565, other);
    flatColor(0xFF00FF00u);
    vxSetFogMode(VX_FOG_DISABLE);
    setFogTable(0);
    vxSetClipWindow(0, 0, 10, 10);
    vxSetTexFilter(0, VX_FILTER_BILINEAR, VX_FILTER_BILINEAR);
    vxSetCullMode(VX_CULL_POSITIVE);
    vxClearBuffers(0, 0, 0xFFFF);
    vxSetClipWindow(0, 0, W, H);
    vxClearBuffers(0, 0, 0xFFFF);
    vxRestoreState(block.data());
    texturedSquare(0xFFFFFFFFu);
    EXPECT_EQ(frame(), expected);
}

// Restoring a state whose fog table differs from the one the workers draw with sends the
// table again; restoring the state in force changes nothing.
TEST_F(Pixels, RestoredFogTableReachesTheWorkers) {
    std::vector<std::uint8_t> block = foggedSquareState(128);
    texturedSquare(0xFFFFFFFFu);
    const auto halfFogged = frame();
    vxSaveState(block.data());
    vxRestoreState(block.data());  // the state in force: nothing to send
    vxClearBuffers(0, 0, 0xFFFF);
    texturedSquare(0xFFFFFFFFu);
    EXPECT_EQ(frame(), halfFogged);
    setFogTable(0);
    vxClearBuffers(0, 0, 0xFFFF);
    texturedSquare(0xFFFFFFFFu);
    EXPECT_NE(frame(), halfFogged) << "the unfogged table is drawn with";
    vxRestoreState(block.data());
    vxClearBuffers(0, 0, 0xFFFF);
    texturedSquare(0xFFFFFFFFu);
    EXPECT_EQ(frame(), halfFogged);
}

// Reproducible scene values: next(lo, hi) is a float in [lo, hi) from a linear
// congruential sequence.
struct SceneRandom {
    std::uint32_t seed;
    float operator()(float lo, float hi) {
        seed = seed * 1664525u + 1013904223u;
        return lo + (hi - lo) * float(seed >> 8) / 16777216.0f;
    }
};

// The fused routines of the program's surface state, compared with the general pipeline.
class SurfacePixels : public Pixels {
protected:
    // A textured, mipmapped chain for the surface-state comparisons below.
    static std::vector<std::uint16_t> surfaceChain() {
        std::vector<std::uint16_t> chain;
        for (int lod = 8; lod >= 0; --lod) {
            for (int i = 0; i < (1 << lod) * (1 << lod); ++i) {
                chain.push_back(std::uint16_t((std::uint32_t(i) * 2654435761u) >> 16 ^ (lod * 0x0841)));
            }
        }
        return chain;
    }

    // Sets the program's surface state; `general` adds an alpha test that passes every pixel
    // (alpha >= 0), which sends the same drawing through the general pipeline instead.
    static void surfaceState(const std::vector<std::uint16_t>& chain, bool general,
                             bool fogged, bool mipmapped) {
        std::uint8_t fog[VX_FOG_TABLE_ENTRIES];
        vxMakeFogTableExp2(fog, 0.08f);
        VxTexInfo info{0, 8, 0, VX_TEXFMT_RGB_565, const_cast<std::uint16_t*>(chain.data())};
        EXPECT_TRUE(vxTexDownload(0, 0, VX_LEVELS_BOTH, &info));
        EXPECT_TRUE(vxTexBind(0, 0, VX_LEVELS_BOTH, &info));
        vxSetTexFilter(0, VX_FILTER_BILINEAR, VX_FILTER_BILINEAR);
        vxSetTexMipMapMode(0, mipmapped ? VX_MIPMAP_NEAREST : VX_MIPMAP_DISABLE, false);
        vxSetTexLodBias(0, 0.5f);
        surfaceCombine(false);
        vxSetDepthMode(VX_DEPTH_WBUFFER);
        vxSetDepthFunction(VX_CMP_LEQUAL);
        vxSetFogTable(fog);
        vxSetFogColor(0xFF806040u);
        vxSetFogMode(fogged ? VX_FOG_WTABLE : VX_FOG_DISABLE);
        vxSetAlphaTest(general ? VX_CMP_GEQUAL : VX_CMP_ALWAYS);
        vxSetAlphaTestReference(0);
        vxClearBuffers(0, 0, 0xFFFF);
    }

    // Draws `scene` in the surface state through the fused routines and through the general
    // pipeline, on every processor path, with fog and mipmaps on or off: the pictures must be
    // the same bits, and at least `minDrawn` pixels must be drawn.
    template <class Scene>
    void expectFusedMatchesGeneral(Scene scene, int minDrawn) {
        const auto chain = surfaceChain();
        for (const char* path : VEXA_PATHS) {
            if (!restartOnPath(path)) continue;
            for (int mode = 0; mode < 4; ++mode) {
                const bool fogged = mode & 1, mipmapped = mode & 2;
                surfaceState(chain, false, fogged, mipmapped);
                scene();
                const auto fused = frame();
                surfaceState(chain, true, fogged, mipmapped);
                scene();
                const auto general = frame();
                int drawn = 0;
                for (std::uint16_t p : fused) drawn += p != 0;
                EXPECT_GT(drawn, minDrawn);
                ASSERT_EQ(fused, general) << "path " << path << " fog " << fogged
                                          << " mipmaps " << mipmapped;
            }
        }
    }
};

// The program's surface state (texture x iterated colour, depth LEQUAL with writes, fog,
// bilinear mipmaps) is drawn by routines made for it; they must give the bits of the general
// pipeline for large triangles (whole rows of eight), small ones and pixels that fail the
// depth test.
TEST_F(SurfacePixels, MatchTheGeneralPipeline) {
    expectFusedMatchesGeneral([] {
        SceneRandom next{5};
        for (int i = 0; i < 120; ++i) {
            // Large and small triangles at random depths, so later ones are partly hidden.
            const float size = i % 3 == 0 ? 300.0f : 12.0f;
            const float x = next(-20.0f, 500.0f), y = next(-20.0f, 370.0f);
            TestVertex v[3];
            for (auto& p : v) {
                p = vtx(x + next(0.0f, size), y + next(0.0f, size), next.seed | 0xFF000000u,
                        next(0.02f, 1.0f), next(-500.0f, 500.0f), next(-500.0f, 500.0f));
            }
            tri(v[0], v[1], v[2]);
        }
    }, W * H / 3);
}

// The fused routines' depth test takes each comparison function as the set of outcomes it
// passes (less, equal, greater). Over a layer drawn first, each function must pass the
// pixels the general pipeline passes: the same triangles again in another colour (equal
// depths), and others in front and behind, large and small.
TEST_F(SurfacePixels, EveryDepthFunctionMatchesTheGeneralPipeline) {
    const auto chain = surfaceChain();
    const auto scene = [](std::uint32_t seed, std::uint32_t tint) {
        SceneRandom next{seed};
        for (int i = 0; i < 80; ++i) {
            const float size = i % 3 == 0 ? 200.0f : 10.0f;
            const float x = next(-20.0f, 500.0f), y = next(-20.0f, 370.0f);
            TestVertex v[3];
            for (auto& p : v) {
                p = vtx(x + next(0.0f, size), y + next(0.0f, size), (next.seed ^ tint) | 0xFF000000u,
                        next(0.02f, 1.0f), next(-500.0f, 500.0f), next(-500.0f, 500.0f));
            }
            tri(v[0], v[1], v[2]);
        }
    };
    for (const char* path : VEXA_PATHS) {
        if (!restartOnPath(path)) continue;
        for (int fn = VX_CMP_NEVER; fn <= VX_CMP_ALWAYS; ++fn) {
            std::vector<std::uint16_t> pictures[2];
            for (int general = 0; general < 2; ++general) {
                surfaceState(chain, general != 0, false, true);
                scene(5, 0);
                vxSetDepthFunction(fn);
                scene(5, 0x00FF00FFu);
                scene(9, 0);
                pictures[general] = frame();
            }
            ASSERT_EQ(pictures[0], pictures[1]) << "path " << path << " function " << fn;
        }
    }
}

// Triangles of a few pixels are shaded many to a batch, each pixel with its own triangle's
// planes; now and then a larger one (interpolated at once) and ones larger than a batch
// fall between them. Every pixel must still get the values of its own triangle: the same
// bits as the general pipeline, which shades each triangle's pixels on their own.
TEST_F(SurfacePixels, TinyTrianglesMatchTheGeneralPipeline) {
    expectFusedMatchesGeneral([] {
        SceneRandom next{11};
        // Strips of 3x3-pixel cells, one per call, as the program draws a fine grid, with
        // colour, depth and texture coordinates varying from vertex to vertex.
        std::vector<TestVertex> grid(21 * 21);
        for (int g = 0; g < 12; ++g) {
            const float ox = next(-30.0f, 480.0f), oy = next(-30.0f, 350.0f);
            const float cell = g % 3 == 0 ? 1.3f : 3.0f;
            for (int j = 0; j <= 20; ++j) {
                for (int i = 0; i <= 20; ++i) {
                    grid[std::size_t(j * 21 + i)] =
                        vtx(ox + float(i) * cell + next(0.0f, 0.4f),
                            oy + float(j) * cell + next(0.0f, 0.4f),
                            0xFF000000u | std::uint32_t(i * 12) << 16 | std::uint32_t(j * 12) << 8,
                            next(0.05f, 1.0f), float(i * 13), float(j * 13));
                }
            }
            for (int j = 0; j < 20; ++j) {
                for (int i = 0; i < 20; ++i) {
                    const TestVertex* a = &grid[std::size_t(j * 21 + i)];
                    const void* p[4] = {a, a + 21, a + 1, a + 22};
                    vxDrawVertexArray(VX_TRIANGLE_STRIP, 4, p);
                }
                // Between rows: a triangle of some tens of pixels, and now and then one
                // larger than a whole batch.
                const float x = next(0.0f, 500.0f), y = next(0.0f, 370.0f);
                const float size = j % 7 == 0 ? 40.0f : 9.0f;
                tri(vtx(x, y, 0xFF40C0E0u, next(0.05f, 1.0f), 0.0f, 0.0f),
                    vtx(x + size, y + 1.0f, 0xFFE0C040u, next(0.05f, 1.0f), 300.0f, 20.0f),
                    vtx(x + 2.0f, y + size, 0xFF80FF80u, next(0.05f, 1.0f), 10.0f, 300.0f));
            }
        }
    }, 20000);
}

// Values at the edges of what the fused routines clamp: texture coordinates far beyond the
// 2^22 texels they are held within, vertices with q at 0 (w infinite, coordinates NaN where
// 0 meets infinity) or nearly so, and colours that extrapolate past 0 and 255 across long
// thin triangles. The fused routines clamp eight pixels at a time with vector max and min;
// they must give the general pipeline's bits for every such value.
TEST_F(SurfacePixels, ExtremeValuesMatchTheGeneralPipeline) {
    expectFusedMatchesGeneral([] {
        SceneRandom next{23};
        const float qs[4] = {0.0f, 1e-30f, 1e-6f, 1.0f};
        for (int i = 0; i < 60; ++i) {
            const float x = next(-20.0f, 480.0f), y = next(-20.0f, 340.0f);
            const float reach = i % 2 ? 1e9f : 4.5e6f;
            TestVertex v[3];
            for (int k = 0; k < 3; ++k) {
                v[k] = vtx(x + next(0.0f, 60.0f), y + next(0.0f, 60.0f),
                           k == 0 ? 0xFFFFFFFFu : 0xFF000000u, qs[(i + k) % 4] + next(0.0f, 1e-3f) * (i % 3),
                           next(-reach, reach), next(-reach, reach));
            }
            tri(v[0], v[1], v[2]);
            // A sliver whose colour planes are steep enough to pass 0 and 255 at its far centres.
            tri(vtx(x, y, 0xFFFF0000u), vtx(x + 40.0f, y + 0.6f, 0xFF00FF00u),
                vtx(x + 40.0f, y + 1.4f, 0xFF0000FFu));
        }
    }, 2000);
}

// The samplers a processor path has of its own (RGB 5-6-5, point or bilinear, each coordinate
// wrapped or clamped, one level or a chain) must give the portable path's texels, here on a
// 128 x 32 chain (so that a mix-up of width and height shows) with coordinates far past its
// edges on both sides, magnified and minified, in the fused surface routines and the general
// pipeline.
TEST_F(SurfacePixels, EverySamplerMatchesThePortablePath) {
    std::vector<std::uint16_t> chain;
    for (int lod = 7; lod >= 0; --lod) {
        const int texels = (1 << lod) * (lod >= 2 ? 1 << (lod - 2) : 1);
        for (int i = 0; i < texels; ++i) {
            chain.push_back(std::uint16_t((std::uint32_t(i) * 2654435761u) >> 16 ^ (lod * 0x0841)));
        }
    }
    VxTexInfo info{0, 7, 2, VX_TEXFMT_RGB_565, chain.data()};
    const auto scene = [] {
        SceneRandom next{11};
        for (int i = 0; i < 60; ++i) {
            const float size = i % 3 == 0 ? 250.0f : 16.0f;
            const float x = next(-20.0f, 500.0f), y = next(-20.0f, 370.0f);
            // Texture coordinates spread over a few texels (magnified) or thousands.
            const float spread = i % 2 ? 4.0f : 3000.0f;
            TestVertex v[3];
            for (auto& p : v) {
                p = vtx(x + next(0.0f, size), y + next(0.0f, size), next.seed | 0xFF000000u,
                        next(0.05f, 1.0f), next(-spread, spread), next(-spread, spread));
            }
            tri(v[0], v[1], v[2]);
        }
    };
    std::vector<std::vector<std::uint16_t>> reference;
    for (const char* path : VEXA_PATHS) {
        if (!restartOnPath(path)) continue;
        ASSERT_TRUE(vxTexDownload(0, 0, VX_LEVELS_BOTH, &info));
        ASSERT_TRUE(vxTexBind(0, 0, VX_LEVELS_BOTH, &info));
        surfaceCombine(false);
        for (std::size_t config = 0; config < 32; ++config) {
            const int filter = config & 1 ? VX_FILTER_BILINEAR : VX_FILTER_POINT;
            vxSetTexFilter(0, filter, filter);
            vxSetTexClamp(0, config & 2 ? VX_TEXCLAMP_CLAMP : VX_TEXCLAMP_WRAP,
                          config & 4 ? VX_TEXCLAMP_CLAMP : VX_TEXCLAMP_WRAP);
            vxSetTexMipMapMode(0, config & 8 ? VX_MIPMAP_NEAREST : VX_MIPMAP_DISABLE, false);
            // An alpha test that passes every pixel sends the drawing through the general
            // pipeline.
            vxSetAlphaTest(config & 16 ? VX_CMP_GEQUAL : VX_CMP_ALWAYS);
            vxSetAlphaTestReference(0);
            vxClearBuffers(0, 0, 0xFFFF);
            scene();
            const auto f = frame();
            if (reference.size() <= config) {
                EXPECT_GT(W * H - countOf(f, 0), W * H / 8) << "config " << config;
                reference.push_back(f);
            } else {
                ASSERT_EQ(f, reference[config]) << "path " << path << " config " << config;
            }
        }
    }
}

// The text state (constant colour x texture, blended over the picture by the texture's
// alpha, depth never tested) is drawn by routines made for it. Over a background of many
// colours they must give the general pipeline's bits, on every processor path, for 8-bit
// alpha and 4-4-4-4 textures, point and bilinear filters, wrapped and clamped coordinates,
// one level or a chain, with depth written, kept or not in use. A flat layer drawn over the
// lower half after the text, at a fixed depth, shows where the text wrote depth.
TEST_F(Pixels, TextStateMatchesTheGeneralPipeline) {
    struct Config {
        int format, filter, clamp;
        bool mipmapped;
        int depth;  // 0: depth off, 1: tested always and written, 2: tested always, kept
    };
    const Config configs[] = {
        {VX_TEXFMT_ALPHA_8, VX_FILTER_POINT, VX_TEXCLAMP_WRAP, false, 1},
        {VX_TEXFMT_ALPHA_8, VX_FILTER_POINT, VX_TEXCLAMP_CLAMP, true, 2},
        {VX_TEXFMT_ALPHA_8, VX_FILTER_POINT, VX_TEXCLAMP_WRAP, true, 0},
        {VX_TEXFMT_ALPHA_8, VX_FILTER_BILINEAR, VX_TEXCLAMP_CLAMP, false, 1},
        {VX_TEXFMT_ARGB_4444, VX_FILTER_BILINEAR, VX_TEXCLAMP_WRAP, true, 1},
        {VX_TEXFMT_ARGB_4444, VX_FILTER_POINT, VX_TEXCLAMP_CLAMP, false, 0},
    };
    const auto draw = [](const Config& c, bool general) {
        SceneRandom next{31};
        vxClearBuffers(0, 0, 0xFFFF);
        vxSetDepthMode(VX_DEPTH_DISABLE);
        for (int i = 0; i < 40; ++i) {
            flatColor(i % 5 ? next.seed | 0xFF000000u : 0xFFFFFFFFu);
            const float x = next(-10.0f, 480.0f), y = next(-10.0f, 350.0f);
            tri(vtx(x, y), vtx(x + next(20.0f, 200.0f), y + next(0.0f, 40.0f)),
                vtx(x + next(0.0f, 40.0f), y + next(20.0f, 200.0f)));
        }
        // A 128 x 64 texture (or its chain) of random texels, a third of them clear and a
        // third solid, as a font's are.
        const int smallLod = c.mipmapped ? 0 : 7;
        const std::uint32_t bytes =
            vxTexLevelsMemRequired(VX_LEVELS_BOTH, smallLod, 7, 1, c.format);
        std::vector<std::uint8_t> texels(bytes);
        for (std::uint8_t& t : texels) {
            const float pick = next(0.0f, 3.0f);
            t = pick < 1.0f ? 0 : (pick < 2.0f ? 255 : std::uint8_t(next.seed >> 24));
        }
        VxTexInfo info{smallLod, 7, 1, c.format, texels.data()};
        EXPECT_TRUE(vxTexDownload(0, 0, VX_LEVELS_BOTH, &info));
        EXPECT_TRUE(vxTexBind(0, 0, VX_LEVELS_BOTH, &info));
        vxSetTexFilter(0, c.filter, c.filter);
        vxSetTexMipMapMode(0, c.mipmapped ? VX_MIPMAP_NEAREST : VX_MIPMAP_DISABLE, false);
        vxSetTexClamp(0, c.clamp, c.clamp);
        vxSetTextureCombine(0, VX_COMBINE_LOCAL, VX_FACTOR_ZERO, VX_COMBINE_LOCAL,
                            VX_FACTOR_ZERO, false, false);
        vxSetColorCombine(VX_COMBINE_SCALE_OTHER, VX_FACTOR_LOCAL, VX_LOCAL_CONSTANT,
                          VX_OTHER_TEXTURE, false);
        vxSetAlphaCombine(VX_COMBINE_SCALE_OTHER, VX_FACTOR_ONE, VX_LOCAL_CONSTANT,
                          VX_OTHER_TEXTURE, false);
        vxSetAlphaBlend(VX_BLEND_SRC_ALPHA, VX_BLEND_ONE_MINUS_SRC_ALPHA, VX_BLEND_ONE,
                        VX_BLEND_ZERO);
        // An alpha test every pixel passes sends the same drawing through the general pipeline.
        vxSetAlphaTest(general ? VX_CMP_GEQUAL : VX_CMP_ALWAYS);
        vxSetAlphaTestReference(0);
        vxSetDepthMode(c.depth ? VX_DEPTH_WBUFFER : VX_DEPTH_DISABLE);
        vxSetDepthFunction(VX_CMP_ALWAYS);
        vxSetDepthMask(c.depth == 1);
        for (int i = 0; i < 60; ++i) {
            // White (the program's usual text colour) or any other.
            vxSetConstantColor(i % 3 ? next.seed | 0xFF000000u : 0xFFFFFFFFu);
            // Cells from a few pixels to larger than a batch, at depths on both sides of the
            // layer below, with coordinates past the texture's edges.
            const float x = next(-10.0f, 480.0f), y = next(-10.0f, 350.0f);
            const float w = i % 4 == 0 ? next(20.0f, 90.0f) : next(2.0f, 14.0f);
            const float h = i % 4 == 0 ? next(20.0f, 90.0f) : next(3.0f, 18.0f);
            const float q0 = next(0.2f, 1.0f), q1 = next(0.2f, 1.0f);
            const float s0 = next(-300.0f, 300.0f), t0 = next(-200.0f, 200.0f);
            const float ds = next(-200.0f, 200.0f), dt = next(-200.0f, 200.0f);
            TestVertex v[4] = {vtx(x, y, 0xFFFFFFFFu, q0, s0, t0),
                               vtx(x + w, y, 0xFFFFFFFFu, q1, s0 + ds, t0),
                               vtx(x, y + h, 0xFFFFFFFFu, q0, s0, t0 + dt),
                               vtx(x + w, y + h, 0xFFFFFFFFu, q1, s0 + ds, t0 + dt)};
            const void* p[4] = {&v[0], &v[1], &v[2], &v[3]};
            vxDrawVertexArray(VX_TRIANGLE_STRIP, 4, p);
        }
        vxSetAlphaTest(VX_CMP_ALWAYS);
        vxSetAlphaBlend(VX_BLEND_ONE, VX_BLEND_ZERO, VX_BLEND_ONE, VX_BLEND_ZERO);
        flatColor(0xFF10E010u);
        vxSetDepthMode(VX_DEPTH_WBUFFER);
        vxSetDepthFunction(VX_CMP_LESS);
        vxSetDepthMask(false);
        TestVertex v[4] = {vtx(0, H / 2, 0xFFFFFFFFu, 0.5f), vtx(W, H / 2, 0xFFFFFFFFu, 0.5f),
                           vtx(0, H, 0xFFFFFFFFu, 0.5f), vtx(W, H, 0xFFFFFFFFu, 0.5f)};
        const void* p[4] = {&v[0], &v[1], &v[2], &v[3]};
        vxDrawVertexArray(VX_TRIANGLE_STRIP, 4, p);
        return frame();
    };
    // The portable path's general pipeline (and general sampler) is the reference for all.
    std::vector<std::vector<std::uint16_t>> reference;
    for (const char* path : VEXA_PATHS) {
        if (!restartOnPath(path)) continue;
        for (std::size_t k = 0; k < std::size(configs); ++k) {
            const Config& c = configs[k];
            const auto fused = draw(c, false);
            if (reference.size() <= k) reference.push_back(draw(c, true));
            // The layer covers the lower half but where text wrote depth in front of it.
            const int layer = countOf(fused, rgb565(0x10, 0xE0, 0x10));
            EXPECT_GT(layer, W * H / 4);
            if (c.depth == 1) {
                EXPECT_LT(layer, W * H / 2 * 95 / 100);
            } else {
                EXPECT_GE(layer, W * H / 2);
            }
            ASSERT_EQ(fused, reference[k]) << "path " << path << " format " << c.format
                                           << " filter " << c.filter << " clamp " << c.clamp
                                           << " mipmaps " << c.mipmapped << " depth " << c.depth;
        }
    }
}

}  // namespace
