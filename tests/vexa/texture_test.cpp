// Texture tests of Vexa: memory sizes and range refusal, texel formats, perspective
// correction against a reference, mipmap level selection with bias, bilinear weights,
// wrap and clamp.
#include "tests/vexa/vexa_fixture.h"

#include <algorithm>
#include <cmath>

namespace {

class Textures : public VexaTest {
protected:
    void SetUp() override {
        VexaTest::SetUp();
        // Output = unit 0's texel, unchanged.
        vxSetTextureCombine(0, VX_COMBINE_LOCAL, VX_FACTOR_ZERO, VX_COMBINE_LOCAL,
                            VX_FACTOR_ZERO, false, false);
        vxSetColorCombine(VX_COMBINE_SCALE_OTHER, VX_FACTOR_ONE, VX_LOCAL_ITERATED,
                          VX_OTHER_TEXTURE, false);
        vxSetTexFilter(0, VX_FILTER_POINT, VX_FILTER_POINT);
        vxSetTexMipMapMode(0, VX_MIPMAP_DISABLE, false);
    }
    static void load(VxTexInfo info, std::uint32_t address = 0) {
        ASSERT_TRUE(vxTexDownload(0, address, VX_LEVELS_BOTH, &info));
        ASSERT_TRUE(vxTexBind(0, address, VX_LEVELS_BOTH, &info));
    }
    // A screen-aligned quad from (x0,y0) to (x1,y1) mapped to texel space s0..s1, t0..t1.
    static void quad(float x0, float y0, float x1, float y1, float s0, float t0, float s1,
                     float t1) {
        TestVertex v[4] = {vtx(x0, y0, 0xFFFFFFFFu, 1, s0, t0), vtx(x1, y0, 0xFFFFFFFFu, 1, s1, t0),
                           vtx(x0, y1, 0xFFFFFFFFu, 1, s0, t1), vtx(x1, y1, 0xFFFFFFFFu, 1, s1, t1)};
        vxDrawVertexList(VX_TRIANGLE_STRIP, 4, v, sizeof(TestVertex));
    }
};

TEST_F(Textures, MemoryRequiredSumsTheChain) {
    EXPECT_EQ(vxTexLevelsMemRequired(VX_LEVELS_BOTH, 0, 8, 0, VX_TEXFMT_RGB_565), 174768u);
    EXPECT_EQ(vxTexLevelsMemRequired(VX_LEVELS_EVEN, 0, 8, 0, VX_TEXFMT_RGB_565), 139816u);
    EXPECT_EQ(vxTexLevelsMemRequired(VX_LEVELS_ODD, 0, 8, 0, VX_TEXFMT_RGB_565), 34952u);
    EXPECT_EQ(vxTexLevelsMemRequired(VX_LEVELS_BOTH, 7, 7, 1, VX_TEXFMT_ALPHA_8), 8192u);
    EXPECT_EQ(vxTexLevelsMemRequired(VX_LEVELS_BOTH, 8, 8, -3, VX_TEXFMT_RGB_565), 16384u);
    EXPECT_EQ(vxTexLevelsMemRequired(VX_LEVELS_BOTH, 0, 0, 0, VX_TEXFMT_ALPHA_8), 8u);
    // 8:1 down to 1x1: 8x1 + 4x1 + 2x1 + 1x1 + 1x1 texels of 2 bytes = 32.
    EXPECT_EQ(vxTexLevelsMemRequired(VX_LEVELS_BOTH, 0, 3, 3, VX_TEXFMT_ARGB_4444), 32u);
    EXPECT_EQ(vxTexLevelsMemRequired(VX_LEVELS_BOTH, 0, 9, 0, VX_TEXFMT_RGB_565), 0u);
    EXPECT_EQ(vxTexLevelsMemRequired(VX_LEVELS_BOTH, 0, 8, 4, VX_TEXFMT_RGB_565), 0u);
    EXPECT_EQ(vxTexLevelsMemRequired(VX_LEVELS_BOTH, 5, 4, 0, VX_TEXFMT_RGB_565), 0u);
    EXPECT_EQ(vxTexLevelsMemRequired(VX_LEVELS_BOTH, 0, 8, 0, VX_TEXFMT_COUNT), 0u);
    EXPECT_EQ(vxTexMinAddress(0), 0u);
    EXPECT_EQ(vxTexMaxAddress(0), (4u << 20) - 8u);
}

TEST_F(Textures, DownloadOutsideMemoryIsRefusedAndWritesNothing) {
    const std::uint32_t top = vxTexMaxAddress(0);
    const std::uint16_t red = rgb565(255, 0, 0);
    VxTexInfo one{0, 0, 0, VX_TEXFMT_RGB_565, const_cast<std::uint16_t*>(&red)};
    load(one, top);  // the smallest texture fits at the highest address
    std::uint16_t green[16];
    for (auto& g : green) g = rgb565(0, 255, 0);
    VxTexInfo big{2, 2, 0, VX_TEXFMT_RGB_565, green};
    EXPECT_FALSE(vxTexDownload(0, top, VX_LEVELS_BOTH, &big));
    EXPECT_FALSE(vxTexBind(0, top, VX_LEVELS_BOTH, &big));
    EXPECT_FALSE(vxTexDownload(0, top + 8, VX_LEVELS_BOTH, &one));
    EXPECT_FALSE(vxTexDownload(0, 0xFFFFFFF8u, VX_LEVELS_BOTH, &one));
    EXPECT_FALSE(vxTexDownload(2, 0, VX_LEVELS_BOTH, &one));
    EXPECT_FALSE(vxTexDownload(0, 0, VX_LEVELS_BOTH, nullptr));
    VxTexInfo bad{0, 0, 5, VX_TEXFMT_RGB_565, green};
    EXPECT_FALSE(vxTexDownload(0, 0, VX_LEVELS_BOTH, &bad));
    EXPECT_TRUE(vxTexDownload(0, top - 32, VX_LEVELS_BOTH, &big));  // just below the 1x1 one
    quad(0, 0, 8, 8, 0, 0, 256, 256);
    // The binding of the 1x1 texture at `top` is still in force, and its texel intact.
    EXPECT_EQ(pixel(3, 3), red);
}

TEST_F(Textures, FormatsDecodeToColourAndAlpha) {
    struct Case {
        int format;
        std::uint16_t texel;
        int r, g, b, a;
    };
    const Case cases[] = {
        {VX_TEXFMT_RGB_565, 0xF81F, 255, 0, 255, 255},
        {VX_TEXFMT_ARGB_4444, 0x48C3, 0x88, 0xCC, 0x33, 0x44},
        {VX_TEXFMT_ALPHA_INTENSITY_88, 0x40A0, 0xA0, 0xA0, 0xA0, 0x40},
        {VX_TEXFMT_ALPHA_8, 0x00C8, 0xC8, 0xC8, 0xC8, 0xC8},
    };
    for (const Case& c : cases) {
        VxTexInfo info{0, 0, 0, c.format, const_cast<std::uint16_t*>(&c.texel)};
        load(info);
        vxSetColorCombine(VX_COMBINE_SCALE_OTHER, VX_FACTOR_ONE, VX_LOCAL_ITERATED,
                          VX_OTHER_TEXTURE, false);
        quad(0, 0, 4, 4, 0, 0, 256, 256);
        EXPECT_EQ(pixel(1, 1), rgb565(c.r, c.g, c.b)) << c.format;
        // Alpha shown as grey: the iterated white scaled by the texture alpha.
        vxSetColorCombine(VX_COMBINE_SCALE_OTHER, VX_FACTOR_TEXTURE_ALPHA, VX_LOCAL_ITERATED,
                          VX_OTHER_ITERATED, false);
        quad(0, 0, 4, 4, 0, 0, 256, 256);
        EXPECT_EQ(pixel(1, 1), rgb565(c.a, c.a, c.a)) << c.format;
    }
}

TEST_F(Textures, NonSquareTexelSpaceFollowsLongerSide) {
    // 4x2 texture: s 0..256 spans 4 columns, t 0..128 spans its 2 rows.
    std::uint16_t texels[8];
    for (int i = 0; i < 8; ++i) texels[i] = std::uint16_t(i + 1);
    load(VxTexInfo{2, 2, 1, VX_TEXFMT_RGB_565, texels});
    quad(0, 0, 64, 32, 0, 0, 256, 128);
    for (int row = 0; row < 2; ++row) {
        for (int col = 0; col < 4; ++col) {
            EXPECT_EQ(pixel(col * 16 + 8, row * 16 + 8), texels[row * 4 + col]) << col << row;
        }
    }
}

TEST_F(Textures, PerspectiveMatchesReference) {
    // 8x8 checker of red and green; a triangle receding to the right (q 1 -> 0.2).
    std::uint16_t texels[64];
    for (int i = 0; i < 64; ++i) texels[i] = ((i / 8 + i % 8) & 1) ? 0xF800 : 0x07E0;
    load(VxTexInfo{3, 3, 0, VX_TEXFMT_RGB_565, texels});
    const double ax = 40, ay = 40, bx = 480, by = 60, cx = 40, cy = 340;
    const double qa = 1.0, qb = 0.2, qc = 1.0;
    const double sa = 0, sb = 256, sc = 0, ta = 0, tb = 0, tc = 256;
    tri(vtx(float(ax), float(ay), 0xFFFFFFFFu, float(qa), float(sa), float(ta)),
        vtx(float(bx), float(by), 0xFFFFFFFFu, float(qb), float(sb), float(tb)),
        vtx(float(cx), float(cy), 0xFFFFFFFFu, float(qc), float(sc), float(tc)));
    const auto f = frame();
    int drawn = 0, wrong = 0, affineWrong = 0;
    const double area = (bx - ax) * (cy - ay) - (cx - ax) * (by - ay);
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            const std::uint16_t p = f[std::size_t(y) * W + x];
            if (!p) continue;
            ++drawn;
            const double px = x + 0.5, py = y + 0.5;
            const double l1 = ((px - ax) * (cy - ay) - (cx - ax) * (py - ay)) / area;
            const double l2 = ((bx - ax) * (py - ay) - (px - ax) * (by - ay)) / area;
            const double l0 = 1 - l1 - l2;
            const double q = l0 * qa + l1 * qb + l2 * qc;
            const double s = (l0 * sa * qa + l1 * sb * qb + l2 * sc * qc) / q;
            const double t = (l0 * ta * qa + l1 * tb * qb + l2 * tc * qc) / q;
            const auto texel = [&](double ss, double tt) {
                const int i = std::clamp(int(ss / 32), 0, 7), j = std::clamp(int(tt / 32), 0, 7);
                return texels[j * 8 + i];
            };
            wrong += p != texel(s, t);
            affineWrong += p != texel(l0 * sa + l1 * sb + l2 * sc, l0 * ta + l1 * tb + l2 * tc);
        }
    }
    EXPECT_GT(drawn, 50000);
    EXPECT_LT(wrong, drawn / 200);         // only rounding at checker edges
    EXPECT_GT(affineWrong, drawn / 10);    // the reference tells perspective from affine
}

class Mipmaps : public Textures {
protected:
    // 64x64 chain: level k (64 >> k texels) is one solid colour, distinct per level.
    std::vector<std::uint16_t> chain;
    static std::uint16_t levelColor(int k) { return std::uint16_t(0x0841 * (k + 1) + 3); }
    void SetUp() override {
        Textures::SetUp();
        for (int k = 0; k <= 6; ++k) {
            const int side = 64 >> k;
            chain.insert(chain.end(), std::size_t(side * side), levelColor(k));
        }
        load(VxTexInfo{0, 6, 0, VX_TEXFMT_RGB_565, chain.data()});
        vxSetTexMipMapMode(0, VX_MIPMAP_NEAREST, false);
    }
    // Level seen when `texels` texels of level 0 span 32 pixels.
    static std::uint16_t levelSeen(float texels) {
        quad(0, 0, 32, 32, 0, 0, texels * 4.0f, texels * 4.0f);
        return pixel(16, 16);
    }
};

TEST_F(Mipmaps, NearestLevelFromScreenDerivatives) {
    EXPECT_EQ(levelSeen(16), levelColor(0));    // magnified
    EXPECT_EQ(levelSeen(32), levelColor(0));    // 1 texel per pixel
    EXPECT_EQ(levelSeen(40), levelColor(0));    // lod 0.32
    EXPECT_EQ(levelSeen(64), levelColor(1));    // 2 per pixel
    EXPECT_EQ(levelSeen(80), levelColor(1));    // lod 1.32
    EXPECT_EQ(levelSeen(100), levelColor(2));   // lod 1.64
    EXPECT_EQ(levelSeen(128), levelColor(2));
    EXPECT_EQ(levelSeen(256), levelColor(3));
    EXPECT_EQ(levelSeen(100000), levelColor(6));  // clamped at the smallest level
}

TEST_F(Mipmaps, BiasShiftsAndDisableKeepsLevelZero) {
    vxSetTexLodBias(0, 1.0f);
    EXPECT_EQ(levelSeen(64), levelColor(2));
    vxSetTexLodBias(0, -1.0f);
    EXPECT_EQ(levelSeen(64), levelColor(0));
    vxSetTexLodBias(0, 0.0f);
    vxSetTexMipMapMode(0, VX_MIPMAP_DISABLE, false);
    EXPECT_EQ(levelSeen(256), levelColor(0));
}

TEST_F(Mipmaps, PerspectiveGoesToSmallerLevelsInTheDistance) {
    // Receding floor: near edge at the bottom (q = 1), far edge at the top (q = 1/64).
    const float qn = 1.0f, qf = 1.0f / 64.0f;
    TestVertex v[4] = {vtx(100, 10, 0xFFFFFFFFu, qf, 0, 0), vtx(400, 10, 0xFFFFFFFFu, qf, 256, 0),
                       vtx(100, 300, 0xFFFFFFFFu, qn, 0, 256), vtx(400, 300, 0xFFFFFFFFu, qn, 256, 256)};
    vxDrawVertexList(VX_TRIANGLE_STRIP, 4, v, sizeof(TestVertex));
    int previous = -1;
    for (int y = 295; y >= 15; y -= 20) {
        const std::uint16_t p = pixel(250, y);
        int level = -1;
        for (int k = 0; k <= 6; ++k) level = p == levelColor(k) ? k : level;
        ASSERT_GE(level, 0) << y;
        EXPECT_GE(level, previous) << y;
        previous = level;
    }
    EXPECT_GE(previous, 2);
}

TEST_F(Textures, BilinearWeightsRampBetweenTexelCentres) {
    // 2x2: left column black, right column white; clamped so the edges do not wrap.
    std::uint16_t texels[4] = {0x0000, 0xFFFF, 0x0000, 0xFFFF};
    load(VxTexInfo{1, 1, 0, VX_TEXFMT_RGB_565, texels});
    vxSetTexFilter(0, VX_FILTER_BILINEAR, VX_FILTER_BILINEAR);
    vxSetTexClamp(0, VX_TEXCLAMP_CLAMP, VX_TEXCLAMP_CLAMP);
    quad(0, 0, 256, 8, 0, 0, 256, 256);  // u = (x + 0.5) / 128 texels
    int previous = -1;
    for (int x = 0; x < 256; ++x) {
        const double u = (x + 0.5) / 128.0;
        const double expected = std::clamp(u - 0.5, 0.0, 1.0) * 255.0;
        const int g6 = (pixel(x, 4) >> 5) & 63;
        const double g = g6 * 255.0 / 63.0;
        EXPECT_NEAR(g, expected, 255.0 / 63.0 + 1.0) << x;
        EXPECT_GE(g6, previous) << x;
        previous = g6;
    }
    EXPECT_EQ(pixel(10, 4), 0);
    EXPECT_EQ(pixel(250, 4), 0xFFFF);
    EXPECT_EQ(pixel(127, 4) >> 11, 15);   // u = 0.996: weight 127/256 of white -> 127
}

TEST_F(Textures, WrapRepeatsAndClampHoldsTheEdge) {
    std::uint16_t texels[4] = {1, 2, 3, 4};
    load(VxTexInfo{1, 1, 0, VX_TEXFMT_RGB_565, texels});
    quad(0, 0, 64, 64, -256, 0, 256, 512);  // s -256..256, t 0..512: two repeats each way
    vxSetTexClamp(0, VX_TEXCLAMP_WRAP, VX_TEXCLAMP_WRAP);
    quad(0, 0, 64, 64, -256, 0, 256, 512);
    EXPECT_EQ(pixel(8, 8), 1);
    EXPECT_EQ(pixel(24, 8), 2);
    EXPECT_EQ(pixel(40, 8), 1);
    EXPECT_EQ(pixel(40, 56), 3);
    vxSetTexClamp(0, VX_TEXCLAMP_CLAMP, VX_TEXCLAMP_CLAMP);
    quad(0, 0, 64, 64, -256, 0, 256, 512);
    EXPECT_EQ(pixel(8, 8), 1);
    EXPECT_EQ(pixel(24, 8), 1);   // s < 0 clamps to column 0
    EXPECT_EQ(pixel(56, 56), 4);  // beyond both ends: the last texel
}

TEST_F(Textures, EvenAndOddLevelsSplitAcrossUnits) {
    std::vector<std::uint16_t> chain;
    for (int k = 0; k <= 2; ++k) {
        const int side = 4 >> k;
        chain.insert(chain.end(), std::size_t(side * side), std::uint16_t(100 + k));
    }
    VxTexInfo info{0, 2, 0, VX_TEXFMT_RGB_565, chain.data()};
    // Even levels (4x4 and 1x1) only: 16 + 1 texels = 34 bytes -> 40.
    EXPECT_EQ(vxTexMemRequired(VX_LEVELS_EVEN, &info), 40u);
    ASSERT_TRUE(vxTexDownload(0, 0, VX_LEVELS_EVEN, &info));
    ASSERT_TRUE(vxTexBind(0, 0, VX_LEVELS_EVEN, &info));
    vxSetTexMipMapMode(0, VX_MIPMAP_NEAREST, false);
    quad(0, 0, 32, 32, 0, 0, 256, 256);       // magnified: 4x4 level
    EXPECT_EQ(pixel(16, 16), 100);
    quad(0, 0, 1, 1, 0, 0, 256, 256);         // 4 texels per pixel: the 1x1 level
    EXPECT_EQ(pixel(0, 0), 102);
}

}  // namespace
