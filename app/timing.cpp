// The timing overlay's history: each frame's stage ticks and the rasterizer's share summed,
// averaged once a second, the frame times kept for the graph, and the overlay's lines and
// graph. Entry points: resetTiming, toggleTimingOverlay and the three frame hooks.
#include "app/timing.h"

#include "app/program.h"
#include "display/console.h"
#include "display/display.h"
#include "display/overlay.h"
#include "platform/win32.h"
#include "render/detail.h"
#include "render/options.h"
#include "render/surfacepass.h"
#include "vexa/vexa.h"

namespace {

constexpr std::uint32_t GRAPH_COLOUR = 0xFF00FFFFu;        // yellow
constexpr std::uint32_t GRAPH_FRAME_COLOUR = 0xFF606060u;  // grey: box and the 60 Hz line
constexpr float GRAPH_FULL_SCALE_MS = 100.0f / 3.0f;       // two 60 Hz frames
constexpr float SIXTY_HZ_MS = 1000.0f / 60.0f;

std::int64_t counterNow() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

double ticksToMs(std::int64_t ticks) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart > 0 ? static_cast<double>(ticks) * 1000.0 /
                                        static_cast<double>(frequency.QuadPart)
                                  : 0.0;
}

void clearTimingSums() {
    TimingHistory& t = program.timing;
    for (double& ms : t.sumStageMs) ms = 0.0;
    t.sumBusyMs = t.sumWaitMs = 0.0;
    t.sumFrames = 0;
}

// Every second: the sums become the averages shown, and start again.
void showAverages(std::int64_t now) {
    TimingHistory& t = program.timing;
    const double frames = static_cast<double>(t.sumFrames);
    double total = 0.0;
    for (int s = 0; s < TIMED_STAGE_COUNT; ++s) {
        t.shownStageMs[s] = t.sumStageMs[s] / frames;
        total += t.shownStageMs[s];
    }
    t.shownFrameMs = total;
    t.shownBusyMs = t.sumBusyMs / frames;
    t.shownWaitMs = t.sumWaitMs / frames;
    clearTimingSums();
    t.windowStart = now;
}

// Closes the previous frame's timing: its stages, the rasterizer's share, the graph, and
// every second the averages shown.
void closeFrameTiming() {
    TimingHistory& t = program.timing;
    std::int64_t ticks[TIMED_STAGE_COUNT];
    stageClockTake(ticks);
    double frameMs = 0.0;
    for (int s = 0; s < TIMED_STAGE_COUNT; ++s) {
        const double ms = ticksToMs(ticks[s]);
        t.sumStageMs[s] += ms;
        frameMs += ms;
    }
    VxTimings raster{};
    vxTakeTimings(&raster);
    t.sumBusyMs += raster.workerBusyMs;
    t.sumWaitMs += raster.programWaitMs;
    t.shownWorkers = raster.workers;
    ++t.sumFrames;
    t.graphMs[t.graphNext] = static_cast<float>(frameMs);
    t.graphNext = (t.graphNext + 1) % TIMING_GRAPH_SAMPLES;
    if (t.graphCount < TIMING_GRAPH_SAMPLES) ++t.graphCount;

    const std::int64_t now = counterNow();
    if (ticksToMs(now - t.windowStart) >= 1000.0) showAverages(now);
}

}  // namespace

void resetTiming() {
    inspection.timing = false;
    vxSetTiming(false);
    program.timing = TimingHistory{};
}

void toggleTimingOverlay() {
    inspection.timing = !inspection.timing;
    vxSetTiming(inspection.timing);
    TimingHistory& t = program.timing;
    t = TimingHistory{};
    t.windowStart = counterNow();
}

void timingFrameStart() {
    if (!inspection.timing) return;
    if (program.timing.clockRunning) closeFrameTiming();
    stageClockStart(TIMED_OTHER);
    program.timing.clockRunning = true;
}

void timingPrintLines() {
    if (!inspection.timing) return;
    const TimingHistory& t = program.timing;
    const double* s = t.shownStageMs;
    consolePrintf("\nms: waves %.2f detail %.2f tess %.2f emit %.2f console %.2f other %.2f\n",
                  s[TIMED_WAVES], s[TIMED_DETAIL], s[TIMED_TESSELLATE], s[TIMED_EMIT],
                  s[TIMED_CONSOLE], s[TIMED_OTHER]);
    consolePrintf("frame %.2f ms  raster busy %.2f ms x %d  waited %.2f ms\n", t.shownFrameMs,
                  t.shownWorkers > 0 ? t.shownBusyMs / t.shownWorkers : 0.0, t.shownWorkers,
                  t.shownWaitMs);
    consolePrintf("patches visited %d drawn %d  boxes tested %d\n",
                  static_cast<int>(surfacePass.patchesVisited),
                  static_cast<int>(surfacePass.patchesDrawn),
                  static_cast<int>(surfacePass.boxesTested));
    // The distance rule's overlay stays as it always was.
    const RenderOptions& o = renderOptions;
    if (screenRuleOn(o)) {
        consolePrintf("detail: screen, tolerance %.3g px (+ finer, - coarser)\n",
                      static_cast<double>(o.screenTolerance));
    } else if (o.dynamicDetail && o.detailRule != DETAIL_DISTANCE) {
        consolePrintf("detail: %s\n", detailRuleName(o.detailRule));
    }
}

void timingDrawMarks() {
    if (!inspection.timing) return;
    const TimingHistory& t = program.timing;
    const float width = static_cast<float>(display.output.width);
    const float height = static_cast<float>(display.output.height);
    const float x1 = width - width * 0.02f;
    const float x0 = x1 - width * 0.3f;
    const float y1 = height - height * 0.03f;
    const float y0 = y1 - height * 0.12f;
    const float scale = (y1 - y0) / GRAPH_FULL_SCALE_MS;
    overlayDrawBox(x0, y0, x1, y1, GRAPH_FRAME_COLOUR);
    const float sixty = y1 - SIXTY_HZ_MS * scale;
    const OverlayLine reference = {x0, sixty, x1, sixty};
    overlayDrawLines(&reference, 1, GRAPH_FRAME_COLOUR);
    if (t.graphCount < 2) return;
    OverlayLine lines[TIMING_GRAPH_SAMPLES];
    const float step = (x1 - x0) / static_cast<float>(TIMING_GRAPH_SAMPLES - 1);
    const int first = t.graphCount < TIMING_GRAPH_SAMPLES ? 0 : t.graphNext;
    auto at = [&](int k, float& x, float& y) {
        float ms = t.graphMs[(first + k) % TIMING_GRAPH_SAMPLES];
        if (ms > GRAPH_FULL_SCALE_MS) ms = GRAPH_FULL_SCALE_MS;
        // The newest sample sits at the right edge; the graph scrolls left.
        x = x1 - static_cast<float>(t.graphCount - 1 - k) * step;
        y = y1 - ms * scale;
    };
    for (int k = 0; k + 1 < t.graphCount; ++k) {
        at(k, lines[k].x0, lines[k].y0);
        at(k + 1, lines[k].x1, lines[k].y1);
    }
    overlayDrawLines(lines, t.graphCount - 1, GRAPH_COLOUR);
}
