// The timing overlay's history on the frame's side (F3): the stage clock's figures summed over
// a second and shown as averages, the rasterizer's share, and the frame-time graph. The switch
// and the stage clock itself are the inspection record's (render/tools.h).
#pragma once

#include <cstdint>

#include "render/tools.h"

constexpr int TIMING_GRAPH_SAMPLES = 120;

struct TimingHistory {
    bool clockRunning;      // the stage clock was started by the previous frame
    std::int64_t windowStart;   // counter reading when the current second began
    // The averages shown (milliseconds per frame over the last second) and the sums they are
    // made from.
    double shownStageMs[TIMED_STAGE_COUNT];
    double shownFrameMs, shownBusyMs, shownWaitMs;
    int shownWorkers;
    double sumStageMs[TIMED_STAGE_COUNT];
    double sumBusyMs, sumWaitMs;
    int sumFrames;
    // Frame times for the graph, oldest first once full.
    float graphMs[TIMING_GRAPH_SAMPLES];
    int graphCount, graphNext;
};

// The overlay off, the rasterizer's timing off, the history empty.
void resetTiming();
// F3: the overlay and the stage clock on or off; either way the history starts afresh.
void toggleTimingOverlay();
// Before the clear: closes the last frame's timing (when the clock ran) and starts this one's.
void timingFrameStart();
// The overlay's lines under the statistics line (nothing when it is off).
void timingPrintLines();
// The frame-time graph over the picture (nothing when the overlay is off).
void timingDrawMarks();
