// Regression tests for faults the fuzz targets found (tests/fuzz/), each replaying the calls of
// the reproducer kept in tests/fuzz/corpus/ and checking the picture the fault got wrong.
#include "tests/vexa/vexa_fixture.h"

#include <cfloat>
#include <vector>

namespace {

class FuzzRegression : public VexaTest {
protected:
    // 64x64 mipmapped chain, one solid colour per level, shown unchanged.
    static std::uint16_t levelColor(int k) { return std::uint16_t(0x0841 * (k + 1) + 3); }
    std::vector<std::uint16_t> chain;
    void SetUp() override {
        VexaTest::SetUp();
        for (int k = 0; k <= 6; ++k) {
            const int side = 64 >> k;
            chain.insert(chain.end(), std::size_t(side * side), levelColor(k));
        }
        VxTexInfo info{0, 6, 0, VX_TEXFMT_RGB_565, chain.data()};
        ASSERT_TRUE(vxTexDownload(0, 0, VX_LEVELS_BOTH, &info));
        ASSERT_TRUE(vxTexBind(0, 0, VX_LEVELS_BOTH, &info));
        vxSetTextureCombine(0, VX_COMBINE_LOCAL, VX_FACTOR_ZERO, VX_COMBINE_LOCAL,
                            VX_FACTOR_ZERO, false, false);
        vxSetColorCombine(VX_COMBINE_SCALE_OTHER, VX_FACTOR_ONE, VX_LOCAL_ITERATED,
                          VX_OTHER_TEXTURE, false);
        vxSetTexMipMapMode(0, VX_MIPMAP_NEAREST, false);
    }
    // Level seen when 64 texels of level 0 span 32 pixels (level 1 without bias).
    static std::uint16_t levelSeen() {
        constexpr std::uint32_t WHITE = 0xFFFFFFFFu;
        TestVertex v[4] = {vtx(0, 0, WHITE, 1, 0, 0), vtx(32, 0, WHITE, 1, 256, 0),
                           vtx(0, 32, WHITE, 1, 0, 256), vtx(32, 32, WHITE, 1, 256, 256)};
        vxDrawVertexList(VX_TRIANGLE_STRIP, 4, v, sizeof(TestVertex));
        return pixel(16, 16);
    }
};

// regression-huge-lod-bias.bin: a bias of 1e9 levels (finite, so accepted) overflowed the
// conversion to fixed point; the board then chose a level from whatever the conversion gave.
// A bias that large must act like any bias past the last level.
TEST_F(FuzzRegression, HugeLodBiasSaturatesAtTheEndLevels) {
    for (float bias : {1.0e9f, FLT_MAX, 129.0f}) {
        vxSetTexLodBias(0, bias);
        EXPECT_EQ(levelSeen(), levelColor(6)) << bias;
    }
    for (float bias : {-1.0e9f, -FLT_MAX, -129.0f}) {
        vxSetTexLodBias(0, bias);
        EXPECT_EQ(levelSeen(), levelColor(0)) << bias;
    }
}

}  // namespace
