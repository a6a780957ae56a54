// The output record's verbs on the headless rasterizer: opening the asked-for mode or the
// fallbacks, refusing a mode that does not exist, and switching to the alternate mode and back
// with the size, the frame buffers and a drawn frame following each switch.
#include "display/output.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "display/device.h"
#include "display/display.h"
#include "vexa/vexa.h"

namespace {

constexpr std::uint32_t RED = 0xFF0000FFu;   // ABGR
constexpr std::uint16_t RED_565 = 0xF800;

class Output : public ::testing::Test {
protected:
    void SetUp() override {
        display.output = OutputState{};
        ASSERT_TRUE(deviceStart());
    }
    void TearDown() override {
        outputClose();
        deviceStop();
        display.output = OutputState{};
    }
    // Clears a frame in the fixed state and reads its bottom-right pixel back; false when the
    // buffer does not hold the output's size.
    bool drawFrame(std::uint16_t* corner) {
        const OutputState& out = display.output;
        outputSetFixedState();
        vxClearBuffers(RED, 0, 0xFFFF);
        std::uint16_t pixel = 0;
        const bool read = vxReadFrameRegion(VX_BUFFER_BACK, out.width - 1, out.height - 1, 1, 1,
                                            2, &pixel);
        vxSwapBuffers(0);
        *corner = pixel;
        return read;
    }
    // A pixel just outside the output cannot be read: the buffers are no larger than the mode.
    bool readsPastTheCorner() {
        std::uint16_t pixel = 0;
        return vxReadFrameRegion(VX_BUFFER_BACK, display.output.width, 0, 1, 1, 2, &pixel);
    }
};

TEST_F(Output, OpensTheAskedForModeWithItsSize) {
    display.output.modeGiven = true;
    display.output.requestedMode = VX_RES_800x600;
    ASSERT_TRUE(outputOpen());
    const OutputState& out = display.output;
    EXPECT_NE(out.context, 0u);
    EXPECT_EQ(out.mode, VX_RES_800x600);
    EXPECT_EQ(out.width, 800);
    EXPECT_EQ(out.height, 600);
    EXPECT_EQ(out.startupMode, VX_RES_800x600);
    EXPECT_EQ(out.alternateMode, OUTPUT_ALTERNATE_MODE);
}

TEST_F(Output, WithoutAModeTheFirstFallbackThatOpensIsTaken) {
    ASSERT_TRUE(outputOpen());
    const int first = textureUnitCount() == 1 ? 1 : 0;
    int width = 0, height = 0;
    ASSERT_TRUE(vxResolutionSize(OUTPUT_FALLBACK_MODES[first], &width, &height));
    EXPECT_EQ(display.output.mode, OUTPUT_FALLBACK_MODES[first]);
    EXPECT_EQ(display.output.startupMode, OUTPUT_FALLBACK_MODES[first]);
    EXPECT_EQ(display.output.width, width);
    EXPECT_EQ(display.output.height, height);
}

TEST_F(Output, AModeThatDoesNotExistOpensNothingAndChangesNothing) {
    display.output.modeGiven = true;
    display.output.requestedMode = VX_RES_COUNT;
    EXPECT_FALSE(outputOpen());
    EXPECT_EQ(display.output.context, 0u);
    EXPECT_EQ(display.output.width, 0);
    EXPECT_EQ(display.output.height, 0);
    EXPECT_FALSE(outputOpenMode(-1));
    EXPECT_EQ(display.output.context, 0u);
}

TEST_F(Output, SwitchesToTheAlternateModeAndBackWithSizeBuffersAndFrame) {
    display.output.modeGiven = true;
    display.output.requestedMode = VX_RES_800x600;
    ASSERT_TRUE(outputOpen());
    ASSERT_TRUE(deviceSetup());
    std::uint16_t corner = 0;
    ASSERT_TRUE(drawFrame(&corner));
    EXPECT_EQ(corner, RED_565);
    EXPECT_FALSE(readsPastTheCorner());

    // There and back twice: each switch lands on the other mode with that mode's size, and a
    // frame fills the whole of it (the clip window follows the size).
    const int expectedModes[] = {VX_RES_640x480, VX_RES_800x600, VX_RES_640x480, VX_RES_800x600};
    for (const int mode : expectedModes) {
        int width = 0, height = 0;
        ASSERT_TRUE(vxResolutionSize(mode, &width, &height));
        EXPECT_EQ(outputSwitchTarget(), mode);
        ASSERT_TRUE(outputSwitch()) << mode;
        const OutputState& out = display.output;
        EXPECT_NE(out.context, 0u);
        EXPECT_EQ(out.mode, mode);
        EXPECT_EQ(out.width, width);
        EXPECT_EQ(out.height, height);
        EXPECT_EQ(out.startupMode, VX_RES_800x600);   // the switch never moves its ends
        EXPECT_EQ(out.alternateMode, VX_RES_640x480);
        corner = 0;
        ASSERT_TRUE(drawFrame(&corner)) << mode;
        EXPECT_EQ(corner, RED_565) << mode;
        EXPECT_FALSE(readsPastTheCorner()) << mode;
    }
}

TEST_F(Output, CloseLeavesNothingOpenAndMayRunTwice) {
    ASSERT_TRUE(outputOpenMode(VX_RES_640x480));
    outputClose();
    EXPECT_EQ(display.output.context, 0u);
    outputClose();
    EXPECT_EQ(display.output.context, 0u);
    // Reopening after a close works as the first open did.
    ASSERT_TRUE(outputOpenMode(VX_RES_512x384));
    EXPECT_EQ(display.output.width, 512);
    EXPECT_EQ(display.output.height, 384);
}

}  // namespace
