// The inspection tools' state: heat-map colours, the stage clock on the high-resolution
// counter, and the screen bounds of drawn patches for the crack audit.
#include "render/insight.h"

#include "platform/win32.h"
#include "render/tessellate.h"

InspectionState inspection;

namespace {

std::int64_t counterNow() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

std::uint32_t abgr(int r, int g, int b) {
    return 0xFF000000u | static_cast<std::uint32_t>(b) << 16 | static_cast<std::uint32_t>(g) << 8 |
           static_cast<std::uint32_t>(r);
}

}  // namespace

void resetInspection() {
    inspection.heatMap = false;
    inspection.timing = false;
    inspection.auditBounds = false;
    for (std::int64_t& t : inspection.stageTicks) t = 0;
    inspection.currentStage = TIMED_OTHER;
    inspection.stageStart = 0;
    inspection.currentSurface = 0;
    inspection.bounds.clear();
}

std::uint32_t heatColour(int steps) {
    if (steps < 1) steps = 1;
    if (steps > GRID_MAX_STEPS) steps = GRID_MAX_STEPS;
    // Hue from blue (240 degrees) down to red (0) in four legs of 60 degrees, full saturation
    // and value: blue -> cyan -> green -> yellow -> red.
    const int position = (steps - 1) * 4 * 255 / (GRID_MAX_STEPS - 1);   // 0 .. 1020
    const int leg = position / 255 < 4 ? position / 255 : 3;
    const int f = position - leg * 255;
    switch (leg) {
    case 0: return abgr(0, f, 255);          // blue to cyan
    case 1: return abgr(0, 255, 255 - f);    // cyan to green
    case 2: return abgr(f, 255, 0);          // green to yellow
    default: return abgr(255, 255 - f, 0);   // yellow to red
    }
}

void stageClockSwitch(TimedStage next) {
    const std::int64_t now = counterNow();
    inspection.stageTicks[inspection.currentStage] += now - inspection.stageStart;
    inspection.stageStart = now;
    inspection.currentStage = next;
}

void stageClockStart(TimedStage stage) {
    inspection.stageStart = counterNow();
    inspection.currentStage = stage;
}

void stageClockTake(std::int64_t ticks[TIMED_STAGE_COUNT]) {
    stageClockSwitch(static_cast<TimedStage>(inspection.currentStage));
    for (int s = 0; s < TIMED_STAGE_COUNT; ++s) {
        ticks[s] = inspection.stageTicks[s];
        inspection.stageTicks[s] = 0;
    }
}

void recordPatchBounds(int column, int row, int steps) {
    const int side = steps + 1;
    PatchBounds b = {inspection.currentSurface, column, row, 0.0f, 0.0f, -1.0f, -1.0f};
    bool any = false;
    for (int k = 0; k < side * side; ++k) {
        const ScreenVertex& v = tessellation.grid[k];
        // Only vertices in front of the eye have a meaningful screen position.
        if (!(v.q > 0.0f) || !(v.x == v.x) || !(v.y == v.y)) continue;
        if (!any) {
            b.x0 = b.x1 = v.x;
            b.y0 = b.y1 = v.y;
            any = true;
            continue;
        }
        b.x0 = v.x < b.x0 ? v.x : b.x0;
        b.x1 = v.x > b.x1 ? v.x : b.x1;
        b.y0 = v.y < b.y0 ? v.y : b.y0;
        b.y1 = v.y > b.y1 ? v.y : b.y1;
    }
    if (any) inspection.bounds.push_back(b);
}
