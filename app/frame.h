// One frame of the main loop: clear, camera motion, one or two views of the surfaces, capture,
// statistics and help text, swap, and the frame-rate bookkeeping.
#pragma once

#include <cstdint>

struct FrameStats {
    std::int32_t frames;
    std::int32_t busyMilliseconds;
    float framesPerSecond;
    std::int32_t polygons;      // ppf of the last frame
};

void runFrame();
// The statistics line of the last frame ("fps: ..., ppf: ..., pps: ... [W x H vsynch: ..]").
int formatStatisticsLine(char* out, int size);
