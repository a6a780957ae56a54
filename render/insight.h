// The inspection tools' switches and what the surface pass measures for them: the detail heat
// map (patches in flat colours by step count), the stage clock of the timing overlay, and the
// patch bounds the crack audit blames gaps on. With every tool off the surface pass draws
// exactly as without them; the stage clock costs one test per mark.
#pragma once

#include <cstdint>
#include <vector>

// The program's stages, as the timing overlay names them.
enum TimedStage : std::int32_t {
    TIMED_WAVES = 0,      // moving the sea
    TIMED_DETAIL,         // culling and step counts
    TIMED_TESSELLATE,     // grids, normals, lighting, projection
    TIMED_EMIT,           // clipping, handing primitives to the rasterizer, crack filling
    TIMED_CONSOLE,        // the text and graph overlay
    TIMED_OTHER,          // the rest of the frame: clear, camera, capture, swap
    TIMED_STAGE_COUNT
};

// Heat-map colours (output format ABGR): step 1 blue, through cyan, green and yellow, to step
// 20 red; crack-fill polygons white. Each is exactly representable in 5-6-5.
constexpr std::uint32_t HEAT_CRACK_COLOUR = 0xFFFFFFFFu;
std::uint32_t heatColour(int steps);

// Where a drawn patch landed on the screen in this frame (the bounds of its grid's
// projected vertices), for the crack audit.
struct PatchBounds {
    std::int32_t surface, column, row;
    float x0, y0, x1, y1;
};

struct InspectionState {
    bool heatMap;          // F2
    bool timing;           // F3: the stage clock runs
    bool auditBounds;      // F4 or --audit-cracks: drawn patches record their bounds
    // Stage clock: counter ticks per stage since the last stageClockTake, the stage now
    // running and the counter reading when it began.
    std::int64_t stageTicks[TIMED_STAGE_COUNT];
    std::int32_t currentStage;
    std::int64_t stageStart;
    // Crack audit: the surface being drawn and the bounds of every patch drawn this frame.
    std::int32_t currentSurface;
    std::vector<PatchBounds> bounds;
};
extern InspectionState inspection;

// Every tool off, the clock and the bounds cleared.
void resetInspection();

// Charges the time since the last mark to the stage that was running and starts `next`.
void stageClockSwitch(TimedStage next);
inline void stageMark(TimedStage next) {
    if (inspection.timing) stageClockSwitch(next);
}
// Starts the clock afresh in `stage` (the start of a frame).
void stageClockStart(TimedStage stage);
// Charges the running stage up to now, copies the per-stage ticks out and zeroes them.
void stageClockTake(std::int64_t ticks[TIMED_STAGE_COUNT]);

// Records the bounds of the tessellators' grid for a patch of `steps` steps at (column, row)
// of the current surface.
void recordPatchBounds(int column, int row, int steps);
