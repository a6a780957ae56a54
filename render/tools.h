// The inspection record: the tools' switches (the detail heat map, F2; the timing overlay and
// its stage clock, F3; the crack audit, F4) and what the surface pass measures for them (the
// stage ticks, the patch bounds the crack audit blames gaps on). The keys set the switches
// here and nowhere else; the frame hands the heat map and the audit down in View::inspect.
// With every tool off the surface pass draws exactly as without them; the stage clock costs
// one test per mark.
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
// The colour of a fractional step count 1..20 between heatColour's: whole levels give
// heatColour's colours (to a unit of rounding).
std::uint32_t heatColourLevel(float level);

// Where a drawn patch landed on the screen in this frame (the bounds of its grid's
// projected vertices, and of its border cut to the depth range), for the crack audit. The
// patch also keeps its border: the 4 x steps border vertices of its grid in
// inspection.outline from outlineStart, going round from grid vertex (0, 0) along j, along i
// at j = steps, back along j at i = steps and back along i at j = 0, so border k (0..3) runs
// from point k x steps to point (k + 1) x steps. outlineSteps 0: no border kept (a border
// vertex has no finite position).
struct PatchBounds {
    std::int32_t surface, column, row;
    float x0, y0, x1, y1;
    std::int32_t outlineStart = 0, outlineSteps = 0;
    bool crossesDepth = false;   // a border vertex lies beyond the near or far plane
    // The view's clip rectangle and depth range: nothing of the patch is drawn outside them.
    float clipX0 = 0.0f, clipY0 = 0.0f, clipX1 = 0.0f, clipY1 = 0.0f;
    float wNear = 0.0f, wFar = 0.0f;
};

// A border vertex: screen position after the divide, and w.
struct OutlinePoint {
    float x, y, w;
};

// Cuts the closed loop `in` (count points) to wNear <= w <= wFar before the perspective
// divide, where the grid's edges are straight, and projects it: `out` receives the loop
// (w of each point kept), cleared first. Winding numbers round the result are those of the
// part of the loop's region in the depth range, away from the cut.
void clipOutlineLoop(const OutlinePoint* in, int count, float wNear, float wFar,
                     std::vector<OutlinePoint>& out);

struct InspectionState {
    bool heatMap;          // F2: the detail heat map
    bool timing;           // F3: the timing overlay is shown and the stage clock runs
    bool crackAudit;       // F4: every frame is audited (--audit-cracks audits them anyway)
    // Stage clock: counter ticks per stage since the last stageClockTake, the stage now
    // running and the counter reading when it began.
    std::int64_t stageTicks[TIMED_STAGE_COUNT];
    std::int32_t currentStage;
    std::int64_t stageStart;
    // Crack audit: the surface being drawn, the bounds of every patch drawn this frame and
    // their outlines.
    std::int32_t currentSurface;
    std::vector<PatchBounds> bounds;
    std::vector<OutlinePoint> outline;
    // clipOutlineLoop's working lists and a patch's border cut to the depth range, kept from
    // one audited frame to the next so that their memory is reused.
    std::vector<OutlinePoint> clipIn, clipBetween, clipCut;
};
extern InspectionState inspection;

// Every tool off, the clock and the bounds cleared.
void resetInspection();
// The frame's tools as View::inspect carries them: INSPECT_HEAT_MAP when the heat map is on,
// INSPECT_AUDIT_BOUNDS when `auditing` (the frame is audited for gaps).
std::uint32_t inspectionViewTools(bool auditing);

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
// of the current surface, and its outline when it has one.
void recordPatchBounds(int column, int row, int steps);
