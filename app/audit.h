// The crack audit on the frame's side (F4, also --audit-cracks): audited frames cleared to a
// colour no surface makes, read back after drawing and searched for gaps between the patches
// the surface pass recorded; the totals over the run, the console line and the worst seam's
// box. With the audit off a frame is drawn exactly as without it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "render/tools.h"

// The frame is cleared to this colour on audit frames (output format ABGR; 5-6-5 0xF81F, full
// magenta): the lit, textured and fogged surfaces never produce it.
constexpr std::uint32_t AUDIT_CLEAR_COLOUR = 0xFFFF00FFu;
constexpr std::uint16_t AUDIT_CLEAR_PIXEL = 0xF81F;
// A gap: clear pixels closed in by surface pixels (not joined to the frame's edge through
// clear pixels) in a run of at most this many between surface pixels, across a row or a
// column. A wider run is background seen between surfaces; a notch that opens into the
// background around the surfaces is a dip in a silhouette.
constexpr int AUDIT_GAP_WIDTH = 3;
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

// The crack audit's totals over the run, the last frame's result, the frame as read back and
// the audit's working memory, reused from one audited frame to the next.
struct AuditState {
    int auditedFrames;
    int gapFrames;
    int largestGap;
    AuditResult lastAudit;
    std::vector<std::uint16_t> frame;
    std::vector<std::uint8_t> gap, open;
    std::vector<std::size_t> stack;
    std::vector<OutlinePoint> loop, cut;
};

// The audit off, every total zero, the memory given back.
void resetAudit();
// F4.
void toggleCrackAudit();
// True when this frame is audited (F4 or --audit-cracks).
bool auditingFrames();

// Frame hooks, in the order the frame calls them.
// Before the clear: starts this frame's bounds afresh; returns the clear colour of this frame
// (AUDIT_CLEAR_COLOUR when audited, else black).
std::uint32_t auditFrameStart();
// After the views are drawn (before the capture): audits the frame when auditing.
void auditAfterDrawing();
// The audit's line under the statistics line, when auditing.
void auditPrintLines();
// The worst seam's box over the picture, when auditing found one.
void auditDrawMarks();
// The summary line of the crack audit, as printed at exit.
int formatAuditSummary(char* out, int size);
