// The inspection tools on the frame's side: switching them, the timing averages and graph, the
// crack audit of a drawn frame, and their console lines and marks. Entry points: the toggles,
// the four frame hooks, auditFrame, formatAuditSummary.
#include "app/insight.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <map>
#include <utility>

#include "app/program.h"
#include "app/startup.h"
#include "display/console.h"
#include "display/overlay.h"
#include "platform/win32.h"
#include "render/options.h"
#include "render/surfacepass.h"
#include "vexa/vexa.h"


namespace {

constexpr std::uint32_t GRAPH_COLOUR = 0xFF00FFFFu;        // yellow
constexpr std::uint32_t GRAPH_FRAME_COLOUR = 0xFF606060u;  // grey: box and the 60 Hz line
constexpr std::uint32_t SEAM_BOX_COLOUR = 0xFF00FFFFu;     // yellow
constexpr float GRAPH_FULL_SCALE_MS = 100.0f / 3.0f;       // two 60 Hz frames
constexpr float SIXTY_HZ_MS = 1000.0f / 60.0f;
// Gap pixels blamed on seams per frame at most: past it the count goes on, the blame stops.
constexpr int AUDIT_BLAME_LIMIT = 50000;


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
    InspectionTotals& t = program.tools.totals;
    for (double& ms : t.sumStageMs) ms = 0.0;
    t.sumBusyMs = t.sumWaitMs = 0.0;
    t.sumFrames = 0;
}

// Closes the previous frame's timing: its stages, the rasterizer's share, the graph, and
// every second the averages shown.
void closeFrameTiming() {
    InspectionTotals& t = program.tools.totals;
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
    if (ticksToMs(now - program.tools.windowStart) < 1000.0) return;
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
    program.tools.windowStart = now;
}

void drawTimingGraph() {
    const InspectionTotals& t = program.tools.totals;
    const float width = program.output.width;
    const float height = program.output.height;
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

bool boundsHold(const PatchBounds& b, float x, float y) {
    return x >= b.x0 - 1.0f && x <= b.x1 + 1.0f && y >= b.y0 - 1.0f && y <= b.y1 + 1.0f;
}

bool neighbours(const PatchBounds& a, const PatchBounds& b) {
    const int dc = a.column - b.column;
    const int dr = a.row - b.row;
    return a.surface == b.surface && (dc == 0 ? (dr == 1 || dr == -1) : (dr == 0 && (dc == 1 || dc == -1)));
}

bool insideClip(const PatchBounds& b, float x, float y) {
    return x >= b.clipX0 && x <= b.clipX1 && y >= b.clipY0 && y <= b.clipY1;
}

// How often the closed loop goes round (x, y) (the crossing rule), and the squared distance
// from the point to the loop.
int windingAround(const OutlinePoint* loop, int count, float x, float y, float& nearest2) {
    int winding = 0;
    nearest2 = 1e30f;
    for (int k = 0; k < count; ++k) {
        const OutlinePoint& a = loop[k];
        const OutlinePoint& b = loop[k + 1 < count ? k + 1 : 0];
        const float cross = (b.x - a.x) * (y - a.y) - (x - a.x) * (b.y - a.y);
        if (a.y <= y) {
            if (b.y > y && cross > 0.0f) ++winding;
        } else if (b.y <= y && cross < 0.0f) {
            --winding;
        }
        const float dx = b.x - a.x;
        const float dy = b.y - a.y;
        const float length2 = dx * dx + dy * dy;
        float t = length2 > 0.0f ? ((x - a.x) * dx + (y - a.y) * dy) / length2 : 0.0f;
        t = t < 0.0f ? 0.0f : (t > 1.0f ? 1.0f : t);
        const float ex = a.x + t * dx - x;
        const float ey = a.y + t * dy - y;
        if (ex * ex + ey * ey < nearest2) nearest2 = ex * ex + ey * ey;
    }
    return winding;
}

// The rasterizer's vertex rounding moves an edge by far less than this: a point nearer a
// patch's border may be covered or not, whatever the border says.
constexpr float AUDIT_OUTLINE_MARGIN = 1.0f / 32.0f;

// True when (x, y) lies inside the border of patch a, which lies wholly in the depth range:
// its grid, drawn with both faces, covers every such point.
bool insideOutline(const PatchBounds& a, const std::vector<OutlinePoint>& outline, float x,
                   float y) {
    float nearest2;
    const int winding = windingAround(&outline[a.outlineStart], 4 * a.outlineSteps, x, y,
                                      nearest2);
    return winding != 0 && nearest2 >= AUDIT_OUTLINE_MARGIN * AUDIT_OUTLINE_MARGIN;
}

// The border (0..3 as the outline goes round) that patch a shares with its neighbour b.
int sharedBorder(const PatchBounds& a, const PatchBounds& b) {
    if (b.column == a.column + 1) return 2;   // a's last u border (grid i = steps)
    if (b.column == a.column - 1) return 0;
    if (b.row == a.row + 1) return 1;         // a's last v border (grid j = steps)
    return 3;
}

// How often the closed loop goes round (x, y) with every coordinate rounded as the
// rasterizer rounds vertices (to 1/2^bits pixel, half up), in exact integer arithmetic: the
// sliver between two borders that differ in their last bits is only there after rounding.
int snappedWindingAround(const std::vector<OutlinePoint>& loop, int bits, float x, float y) {
    const double scale = static_cast<double>(std::int64_t{1} << bits);
    auto snap = [scale](float c) { return static_cast<std::int64_t>(std::floor(c * scale + 0.5)); };
    const std::int64_t px = snap(x);
    const std::int64_t py = snap(y);
    int winding = 0;
    const std::size_t count = loop.size();
    for (std::size_t k = 0; k < count; ++k) {
        const OutlinePoint& a = loop[k];
        const OutlinePoint& b = loop[(k + 1) % count];
        const std::int64_t ax = snap(a.x), ay = snap(a.y), bx = snap(b.x), by = snap(b.y);
        const std::int64_t cross = (bx - ax) * (py - ay) - (px - ax) * (by - ay);
        if (ay <= py) {
            if (by > py && cross > 0) ++winding;
        } else if (by <= py && cross < 0) {
            --winding;
        }
    }
    return winding;
}

// True when (x, y) lies between the borders that neighbours a and b share, however thin the
// sliver between them: the loop along a's border and back along b's, cut to the depth range.
// The grids and the crack filling between them should have covered such a point.
bool betweenSharedBorders(const PatchBounds& a, const PatchBounds& b,
                          const std::vector<OutlinePoint>& outline, int snapBits, float x,
                          float y) {
    std::vector<OutlinePoint>& loop = program.tools.loop;
    std::vector<OutlinePoint>& cut = program.tools.cut;
    loop.clear();
    for (const PatchBounds* p : {&a, &b}) {
        const int n = p->outlineSteps;
        const int first = sharedBorder(*p, p == &a ? b : a) * n;
        for (int k = 0; k <= n; ++k) {
            loop.push_back(outline[p->outlineStart + (first + k) % (4 * n)]);
        }
    }
    clipOutlineLoop(loop.data(), static_cast<int>(loop.size()), a.wNear, a.wFar, cut);
    return !cut.empty() && snappedWindingAround(cut, snapBits, x, y) != 0;
}

// Whether a clear pixel at (x, y) is a gap in the surface, and the seam (a, b) it is blamed
// on (a and b the same patch for a hole inside one patch; null when no seam is known).
// Background that no drawn patch should have covered is no gap: a pixel beside a surface's
// outer border, or seen past a fold. A patch without a border (a vertex without a finite
// position) cannot tell: a pixel its bounds hold counts, blamed on the first neighbouring
// pair whose bounds hold it.
bool surfaceShouldCover(const std::vector<PatchBounds>& bounds,
                        const std::vector<OutlinePoint>& outline, int snapBits, float x, float y,
                        const PatchBounds*& a, const PatchBounds*& b) {
    bool unknown = false;
    a = b = nullptr;
    const PatchBounds* firstA = nullptr;
    const PatchBounds* firstB = nullptr;
    for (std::size_t p = 0; p < bounds.size(); ++p) {
        const PatchBounds& first = bounds[p];
        if (!boundsHold(first, x, y)) continue;
        const bool outlined = first.outlineSteps > 0;
        if (!outlined) unknown = true;
        for (std::size_t q = p + 1; q < bounds.size(); ++q) {
            const PatchBounds& second = bounds[q];
            if (!neighbours(first, second) || !boundsHold(second, x, y)) continue;
            if (firstA == nullptr) {
                firstA = &first;
                firstB = &second;
            }
            if (outlined && second.outlineSteps > 0 && insideClip(first, x, y) &&
                betweenSharedBorders(first, second, outline, snapBits, x, y)) {
                a = &first;
                b = &second;
                return true;
            }
        }
        if (outlined && !first.crossesDepth && insideClip(first, x, y) &&
            insideOutline(first, outline, x, y)) {
            a = b = &first;
            return true;
        }
    }
    if (unknown) {
        a = firstA;
        b = firstB;
    }
    return unknown;
}

// Marks the clear pixels of line `line` (count pixels `stride` apart) that lie in a short run
// with surface pixels at both ends.
void markShortRuns(const std::uint16_t* line, int count, int stride, std::uint8_t* gap) {
    int k = 0;
    while (k < count) {
        if (line[static_cast<std::size_t>(k) * stride] != AUDIT_CLEAR_PIXEL) {
            ++k;
            continue;
        }
        const int start = k;
        while (k < count && line[static_cast<std::size_t>(k) * stride] == AUDIT_CLEAR_PIXEL) ++k;
        if (start > 0 && k < count && k - start <= AUDIT_GAP_WIDTH) {
            for (int j = start; j < k; ++j) gap[static_cast<std::size_t>(j) * stride] = 1;
        }
    }
}

// Clears the marks of clear pixels joined (through clear pixels, sideways or up and down) to
// the frame's edge: the background around the surfaces, and the notches that open into it.
void unmarkOpenBackground(const std::uint16_t* pixels, int width, int height, std::uint8_t* gap) {
    const std::size_t count = static_cast<std::size_t>(width) * height;
    std::vector<std::uint8_t>& open = program.tools.open;
    std::vector<std::size_t>& stack = program.tools.stack;
    open.assign(count, 0);
    stack.clear();
    auto visit = [&](std::size_t i) {
        if (!open[i] && pixels[i] == AUDIT_CLEAR_PIXEL) {
            open[i] = 1;
            stack.push_back(i);
        }
    };
    for (int x = 0; x < width; ++x) {
        visit(static_cast<std::size_t>(x));
        visit(static_cast<std::size_t>(height - 1) * width + x);
    }
    for (int y = 0; y < height; ++y) {
        visit(static_cast<std::size_t>(y) * width);
        visit(static_cast<std::size_t>(y) * width + width - 1);
    }
    while (!stack.empty()) {
        const std::size_t i = stack.back();
        stack.pop_back();
        const int x = static_cast<int>(i % width);
        const int y = static_cast<int>(i / width);
        if (x > 0) visit(i - 1);
        if (x + 1 < width) visit(i + 1);
        if (y > 0) visit(i - width);
        if (y + 1 < height) visit(i + width);
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (open[i]) gap[i] = 0;
    }
}

}  // namespace

AuditResult auditFrame(const std::uint16_t* pixels, int width, int height,
                       const std::vector<PatchBounds>& bounds,
                       const std::vector<OutlinePoint>& outline, int snapBits) {
    AuditResult result;
    if (pixels == nullptr || width <= 0 || height <= 0) return result;
    const std::size_t count = static_cast<std::size_t>(width) * height;
    std::vector<std::uint8_t>& gap = program.tools.gap;
    gap.assign(count, 0);
    for (int y = 0; y < height; ++y) {
        const std::size_t row = static_cast<std::size_t>(y) * width;
        markShortRuns(pixels + row, width, 1, gap.data() + row);
    }
    for (int x = 0; x < width; ++x) markShortRuns(pixels + x, height, width, gap.data() + x);
    // A dip in a silhouette is open to the background around the surfaces; a gap is closed in.
    unmarkOpenBackground(pixels, width, height, gap.data());

    std::map<std::array<int, 5>, AuditSeam> seams;
    int blamed = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (!gap[i]) continue;
        const float x = static_cast<float>(i % width) + 0.5f;
        const float y = static_cast<float>(i / width) + 0.5f;
        const PatchBounds* a = nullptr;
        const PatchBounds* b = nullptr;
        if (!surfaceShouldCover(bounds, outline, snapBits, x, y, a, b)) continue;
        ++result.gapPixels;
        if (blamed >= AUDIT_BLAME_LIMIT || a == nullptr) continue;
        ++blamed;
        // The seam's key lists its two patches in a fixed order.
        const bool swap = a->row > b->row || (a->row == b->row && a->column > b->column);
        if (swap) std::swap(a, b);
        const std::array<int, 5> key = {a->surface, a->column, a->row, b->column, b->row};
        AuditSeam& seam = seams[key];
        if (seam.pixels == 0) {
            seam.surface = a->surface;
            seam.columnA = a->column;
            seam.rowA = a->row;
            seam.columnB = b->column;
            seam.rowB = b->row;
            seam.x0 = seam.x1 = x;
            seam.y0 = seam.y1 = y;
        }
        ++seam.pixels;
        seam.x0 = x < seam.x0 ? x : seam.x0;
        seam.x1 = x > seam.x1 ? x : seam.x1;
        seam.y0 = y < seam.y0 ? y : seam.y0;
        seam.y1 = y > seam.y1 ? y : seam.y1;
    }
    for (const auto& entry : seams) {
        if (entry.second.pixels > result.worst.pixels) result.worst = entry.second;
    }
    return result;
}

void resetInspectionTools() {
    resetInspection();
    vxSetTiming(false);
    program.tools.timingOverlay = false;
    program.tools.crackAudit = false;
    program.tools.clockRunning = false;
    program.tools.windowStart = 0;
    program.tools.frame.clear();
    program.tools.frame.shrink_to_fit();
    program.tools.totals = InspectionTotals{};
}

void toggleHeatMap() { inspection.heatMap = !inspection.heatMap; }

void toggleTimingOverlay() {
    program.tools.timingOverlay = !program.tools.timingOverlay;
    inspection.timing = program.tools.timingOverlay;
    program.tools.clockRunning = false;
    vxSetTiming(program.tools.timingOverlay);
    InspectionTotals& t = program.tools.totals;
    clearTimingSums();
    for (double& ms : t.shownStageMs) ms = 0.0;
    t.shownFrameMs = t.shownBusyMs = t.shownWaitMs = 0.0;
    t.graphCount = t.graphNext = 0;
    program.tools.windowStart = counterNow();
}

void toggleCrackAudit() { program.tools.crackAudit = !program.tools.crackAudit; }

bool timingOverlayOn() { return program.tools.timingOverlay; }

bool auditingFrames() { return program.tools.crackAudit || platformRequests().auditCracks; }

std::uint32_t inspectionFrameStart() {
    if (program.tools.timingOverlay) {
        if (program.tools.clockRunning) closeFrameTiming();
        stageClockStart(TIMED_OTHER);
        program.tools.clockRunning = true;
    }
    inspection.auditBounds = auditingFrames();
    inspection.bounds.clear();
    inspection.outline.clear();
    return inspection.auditBounds ? AUDIT_CLEAR_COLOUR : 0u;
}

void inspectionAfterDrawing() {
    if (!inspection.auditBounds) return;
    // Lines leave the background between them by design: nothing to audit.
    if (renderOptions.wireframe) return;
    const int width = static_cast<int>(program.output.width);
    const int height = static_cast<int>(program.output.height);
    if (width <= 0 || height <= 0) return;
    program.tools.frame.resize(static_cast<std::size_t>(width) * height);
    if (!vxReadFrameRegion(VX_BUFFER_BACK, 0, 0, width, height, width * 2, program.tools.frame.data())) {
        return;
    }
    std::int32_t snapBits = AUDIT_SNAP_BITS;
    vxQuery(VX_QUERY_SUBPIXEL_BITS, sizeof snapBits, &snapBits);
    InspectionTotals& t = program.tools.totals;
    t.lastAudit = auditFrame(program.tools.frame.data(), width, height, inspection.bounds,
                                  inspection.outline, snapBits);
    ++t.auditedFrames;
    if (t.lastAudit.gapPixels > 0) ++t.gapFrames;
    if (t.lastAudit.gapPixels > t.largestGap) t.largestGap = t.lastAudit.gapPixels;
    char line[96];
    formatAuditSummary(line, sizeof line);
    platformSetSummaryLine(line);
}

void inspectionPrintLines() {
    const InspectionTotals& t = program.tools.totals;
    if (inspection.heatMap) {
        consolePrintf("\nheat map steps: 1 blue  6 cyan  10 green  15 yellow  20 red  "
                      "crack fill white\n");
    }
    if (program.tools.timingOverlay) {
        const double* s = t.shownStageMs;
        consolePrintf("\nms: waves %.2f detail %.2f tess %.2f emit %.2f console %.2f other %.2f\n",
                      s[TIMED_WAVES], s[TIMED_DETAIL], s[TIMED_TESSELLATE], s[TIMED_EMIT],
                      s[TIMED_CONSOLE], s[TIMED_OTHER]);
        consolePrintf("frame %.2f ms  raster busy %.2f ms x %d  waited %.2f ms\n",
                      t.shownFrameMs, t.shownWorkers > 0 ? t.shownBusyMs / t.shownWorkers : 0.0,
                      t.shownWorkers, t.shownWaitMs);
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
    if (inspection.auditBounds) {
        const AuditResult& a = t.lastAudit;
        if (renderOptions.wireframe) {
            consolePrintf("\ncrack audit: wireframe frames are not audited\n");
        } else if (a.gapPixels == 0) {
            consolePrintf("\ncrack audit: no gaps\n");
        } else if (a.worst.surface < 0) {
            consolePrintf("\ncrack audit: %d gap pixels\n", a.gapPixels);
        } else {
            consolePrintf("\ncrack audit: %d gap pixels; worst seam: surface %d patches "
                          "(%d,%d)-(%d,%d) %d pixels\n",
                          a.gapPixels, a.worst.surface, a.worst.columnA, a.worst.rowA,
                          a.worst.columnB, a.worst.rowB, a.worst.pixels);
        }
    }
}

void inspectionDrawMarks() {
    if (program.tools.timingOverlay) drawTimingGraph();
    const AuditResult& a = program.tools.totals.lastAudit;
    if (inspection.auditBounds && !renderOptions.wireframe && a.gapPixels > 0 &&
        a.worst.surface >= 0) {
        constexpr float MARGIN = 4.0f;
        overlayDrawBox(a.worst.x0 - MARGIN, a.worst.y0 - MARGIN, a.worst.x1 + MARGIN,
                       a.worst.y1 + MARGIN, SEAM_BOX_COLOUR);
    }
}

int formatAuditSummary(char* out, int size) {
    const InspectionTotals& t = program.tools.totals;
    return std::snprintf(out, static_cast<std::size_t>(size),
                         "crack audit: frames=%d gaps=%d largest=%d", t.auditedFrames,
                         t.gapFrames, t.largestGap);
}
