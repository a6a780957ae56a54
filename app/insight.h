// The inspection tools on the frame's side: the keys F2 (detail heat map), F3 (stage timing
// overlay with a frame-time graph) and F4 (crack audit, also --audit-cracks), their lines in
// the console and their marks over the picture. With every tool off a frame is drawn exactly
// as without them.
#pragma once

#include <cstdint>
#include <vector>

#include "render/insight.h"

// The frame is cleared to this colour on audit frames (output format ABGR; 5-6-5 0xF81F, full
// magenta): the lit, textured and fogged surfaces never produce it.
constexpr std::uint32_t AUDIT_CLEAR_COLOUR = 0xFFFF00FFu;
constexpr std::uint16_t AUDIT_CLEAR_PIXEL = 0xF81F;
// A gap: clear pixels closed in by surface pixels (not joined to the frame's edge through
// clear pixels) in a run of at most this many between surface pixels, across a row or a
// column. A wider run is background seen between surfaces; a notch that opens into the
// background around the surfaces is a dip in a silhouette.
constexpr int AUDIT_GAP_WIDTH = 3;
constexpr int TIMING_GRAPH_SAMPLES = 120;
// The board's vertex rounding when it does not say (1/256 pixel).
constexpr int AUDIT_SNAP_BITS = 8;

// A seam between two neighbouring patches of one surface, and the gap pixels blamed on it.
struct AuditSeam {
    int surface = -1;
    int columnA = 0, rowA = 0, columnB = 0, rowB = 0;
    int pixels = 0;
    float x0 = 0, y0 = 0, x1 = 0, y1 = 0;   // where the two patches' bounds meet
};

struct AuditResult {
    int gapPixels = 0;
    AuditSeam worst;   // surface -1 when no gap could be blamed on a seam
};

// Counts the gap pixels of a frame (5-6-5, rows top first, `width` pixels a row) cleared to
// AUDIT_CLEAR_PIXEL: clear pixels in short closed-in runs that the drawn patches should have
// covered, inside a patch's border or between the borders two neighbours share (judged by
// bounds alone for a patch without a border), each blamed on that seam. Borders are judged
// with their vertices rounded to 1/2^snapBits pixel, as the rasterizer rounds them.
AuditResult auditFrame(const std::uint16_t* pixels, int width, int height,
                       const std::vector<PatchBounds>& bounds,
                       const std::vector<OutlinePoint>& outline = {},
                       int snapBits = AUDIT_SNAP_BITS);

struct InspectionTotals {
    // Crack audit, over the run.
    int auditedFrames;
    int gapFrames;
    int largestGap;
    AuditResult lastAudit;
    // Timing: the averages shown (milliseconds per frame over the last second) and the sums
    // they are made from.
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

// The tools' switches, totals and working memory: the program's record of them.
struct InspectionTools {
    bool timingOverlay;
    bool crackAudit;        // F4
    bool clockRunning;      // the stage clock was started by the previous frame
    std::int64_t windowStart;
    std::vector<std::uint16_t> frame;   // the audited frame as read back
    InspectionTotals totals;
    // The audit's working memory, reused from one audited frame to the next.
    std::vector<std::uint8_t> gap, open;
    std::vector<std::size_t> stack;
    std::vector<OutlinePoint> loop, cut;
};

// Every tool off and every total zero.
void resetInspectionTools();
// F2, F3, F4.
void toggleHeatMap();
void toggleTimingOverlay();
void toggleCrackAudit();
bool timingOverlayOn();
// True when this frame is audited (F4 or --audit-cracks).
bool auditingFrames();

// Frame hooks, in the order the frame calls them.
// Before the clear: closes the last frame's timing; returns the clear colour of this frame.
std::uint32_t inspectionFrameStart();
// After the views are drawn (before the capture): audits the frame when auditing.
void inspectionAfterDrawing();
// The tools' lines under the statistics line.
void inspectionPrintLines();
// Marks over the picture after the console: the timing graph, the worst seam's box.
void inspectionDrawMarks();
// The summary line of the crack audit, as printed at exit.
int formatAuditSummary(char* out, int size);
