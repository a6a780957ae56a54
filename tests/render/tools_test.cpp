// The inspection record's own parts: heat-map colours and the stage clock.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <thread>

#include "platform/win32.h"
#include "render/tools.h"
#include "render/view.h"

namespace {

int red(std::uint32_t abgr) { return abgr & 0xFF; }
int green(std::uint32_t abgr) { return (abgr >> 8) & 0xFF; }
int blue(std::uint32_t abgr) { return (abgr >> 16) & 0xFF; }

}  // namespace

TEST(HeatMap, RampRunsFromBlueThroughGreenToRed) {
    EXPECT_EQ(heatColour(1), 0xFFFF0000u) << "one step: blue";
    EXPECT_EQ(heatColour(20), 0xFF0000FFu) << "twenty steps: red";
    EXPECT_EQ(heatColour(0), heatColour(1)) << "out of range clamps";
    EXPECT_EQ(heatColour(99), heatColour(20));
    // Every step has its own colour, and red grows (or blue falls) from each to the next.
    for (int s = 1; s < 20; ++s) {
        const std::uint32_t a = heatColour(s), b = heatColour(s + 1);
        EXPECT_NE(a, b) << s;
        EXPECT_TRUE(red(b) > red(a) || blue(b) < blue(a) || green(b) != green(a)) << s;
        EXPECT_NE(a, HEAT_CRACK_COLOUR);
    }
    EXPECT_GT(green(heatColour(10)), 200) << "the middle is green";
}

TEST(StageClock, ChargesEachStageItsOwnTime) {
    resetInspection();
    inspection.timing = true;
    stageClockStart(TIMED_OTHER);
    stageMark(TIMED_TESSELLATE);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    stageMark(TIMED_EMIT);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::int64_t ticks[TIMED_STAGE_COUNT];
    stageClockTake(ticks);
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    const double tessellateMs = ticks[TIMED_TESSELLATE] * 1000.0 / frequency.QuadPart;
    const double emitMs = ticks[TIMED_EMIT] * 1000.0 / frequency.QuadPart;
    EXPECT_GE(tessellateMs, 29.0);
    EXPECT_GE(emitMs, 9.0);
    EXPECT_LT(emitMs, tessellateMs);
    EXPECT_EQ(ticks[TIMED_WAVES], 0);
    // Taken means zeroed; with timing off marks charge nothing.
    inspection.timing = false;
    stageMark(TIMED_WAVES);
    stageClockTake(ticks);
    EXPECT_LT(ticks[TIMED_EMIT] * 1000.0 / frequency.QuadPart, 5.0);
    EXPECT_EQ(ticks[TIMED_TESSELLATE], 0);
    resetInspection();
}
