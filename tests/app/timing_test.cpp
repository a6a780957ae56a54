// The timing overlay's figures against the wall clock over real frames of the program.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>

#include "app/frame.h"
#include "app/program.h"
#include "app/startup.h"
#include "app/timing.h"
#include "platform/host.h"
#include "platform/win32.h"
#include "render/tools.h"
#include "render/options.h"
#include "render/scene.h"
#include "render/surfacepass.h"
#include "surface/surface.h"

// Real frames of the program at 640 x 480, the timing overlay on: after a second the averages
// it shows account for the frame, and the frame agrees with the wall clock.
TEST(TimingOverlay, AveragesAccountForTheFrameAndAgreeWithTheClock) {
    ASSERT_EQ(chdir(VORL_SOURCE_DIR), 0);
    char name[] = "vorl";
    char option[] = "-res";
    char size[] = "640x480";
    char* argv[] = {name, option, size, nullptr};
    int exitCode = 0;
    ASSERT_TRUE(startProgram(3, argv, &exitCode)) << exitCode;
    platformSetClock(true, 16);
    toggleTimingOverlay();
    ASSERT_TRUE(inspection.timing);
    const TimingHistory& t = program.timing;
    // The averages appear in the frame that closes the second: they cover every frame from
    // the first frame's start to that frame's start.
    std::chrono::steady_clock::time_point first, last;
    int frames = 0;
    while (t.shownFrameMs == 0.0 && frames < 5000) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
        last = std::chrono::steady_clock::now();
        if (frames == 0) first = last;
        runFrame();
        ++frames;
    }
    const double wallMs = std::chrono::duration<double, std::milli>(last - first).count();
    ASSERT_GT(t.shownFrameMs, 0.0) << "no average after " << frames << " frames";
    double stages = 0.0;
    for (int s = 0; s < TIMED_STAGE_COUNT; ++s) {
        EXPECT_GE(t.shownStageMs[s], 0.0) << s;
        stages += t.shownStageMs[s];
    }
    EXPECT_NEAR(stages, t.shownFrameMs, 0.01 * t.shownFrameMs);
    EXPECT_GT(t.shownStageMs[TIMED_TESSELLATE], 0.0);
    EXPECT_GT(t.shownStageMs[TIMED_EMIT], 0.0);
    EXPECT_GT(t.shownStageMs[TIMED_CONSOLE], 0.0);
    const double wallPerFrame = wallMs / (frames - 1);
    EXPECT_NEAR(t.shownFrameMs, wallPerFrame, 0.05 * wallPerFrame + 0.05);
    ASSERT_GE(t.shownWorkers, 1);
    // A worker draws within the frame's time; the program waits within it too.
    EXPECT_LE(t.shownBusyMs / t.shownWorkers, t.shownFrameMs * 1.1);
    EXPECT_GT(t.shownBusyMs, 0.0);
    EXPECT_LE(t.shownWaitMs, t.shownFrameMs);
    // The patch counts the overlay shows are the last frame's (after a second of frames a sum
    // would be far above the scene's patches): some visited, fewer or as many drawn.
    int patches = 0;
    for (int i = 0; i < scene.surfaces.count; ++i) {
        const Surface& s = scene.surfaces.surfaces[i];
        patches += patchColumns(s, renderOptions.surfaceType) * patchRows(s, renderOptions.surfaceType);
    }
    EXPECT_GT(surfacePass.patchesDrawn, 0);
    EXPECT_LE(surfacePass.patchesDrawn, surfacePass.patchesVisited);
    EXPECT_LE(surfacePass.patchesVisited, patches);
    EXPECT_GT(surfacePass.boxesTested, 0);
    toggleTimingOverlay();
    EXPECT_FALSE(inspection.timing);
    stopProgram();   // the window and its class too, so a later test can start again
}
