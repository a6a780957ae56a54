// The crack audit of a drawn frame: gap pixels found in the frame read back, blamed on the
// seams of the patches the surface pass recorded, the totals over the run, the console line
// and the worst seam's box. Entry points: the toggle, the four frame hooks, auditFrame,
// formatAuditSummary.
#include "app/audit.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <map>
#include <utility>

#include "app/program.h"
#include "display/console.h"
#include "display/display.h"
#include "display/overlay.h"
#include "platform/services.h"
#include "platform/win32.h"
#include "render/options.h"
#include "vexa/vexa.h"


namespace {

constexpr std::uint32_t SEAM_BOX_COLOUR = 0xFF00FFFFu;     // yellow
// Gap pixels blamed on seams per frame at most: past it the count goes on, the blame stops.
constexpr int AUDIT_BLAME_LIMIT = 50000;

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
    std::vector<OutlinePoint>& loop = program.audit.loop;
    std::vector<OutlinePoint>& cut = program.audit.cut;
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
    std::vector<std::uint8_t>& open = program.audit.open;
    std::vector<std::size_t>& stack = program.audit.stack;
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
    std::vector<std::uint8_t>& gap = program.audit.gap;
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

void resetAudit() {
    inspection.crackAudit = false;
    program.audit = AuditState{};
}

void toggleCrackAudit() { inspection.crackAudit = !inspection.crackAudit; }

bool auditingFrames() { return inspection.crackAudit || platformRequests().auditCracks; }

std::uint32_t auditFrameStart() {
    inspection.bounds.clear();
    inspection.outline.clear();
    return auditingFrames() ? AUDIT_CLEAR_COLOUR : 0u;
}

void auditAfterDrawing() {
    // Lines leave the background between them by design: nothing to audit.
    if (!auditingFrames() || renderOptions.wireframe) return;
    const int width = display.output.width;
    const int height = display.output.height;
    if (width <= 0 || height <= 0) return;
    AuditState& audit = program.audit;
    audit.frame.resize(static_cast<std::size_t>(width) * height);
    if (!vxReadFrameRegion(VX_BUFFER_BACK, 0, 0, width, height, width * 2, audit.frame.data())) {
        return;
    }
    std::int32_t snapBits = AUDIT_SNAP_BITS;
    vxQuery(VX_QUERY_SUBPIXEL_BITS, sizeof snapBits, &snapBits);
    audit.lastAudit = auditFrame(audit.frame.data(), width, height, inspection.bounds,
                                 inspection.outline, snapBits);
    ++audit.auditedFrames;
    if (audit.lastAudit.gapPixels > 0) ++audit.gapFrames;
    if (audit.lastAudit.gapPixels > audit.largestGap) audit.largestGap = audit.lastAudit.gapPixels;
    char line[96];
    formatAuditSummary(line, sizeof line);
    platformSetSummaryLine(line);
}

void auditPrintLines() {
    if (!auditingFrames()) return;
    const AuditResult& a = program.audit.lastAudit;
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

void auditDrawMarks() {
    const AuditResult& a = program.audit.lastAudit;
    if (auditingFrames() && !renderOptions.wireframe && a.gapPixels > 0 && a.worst.surface >= 0) {
        constexpr float MARGIN = 4.0f;
        overlayDrawBox(a.worst.x0 - MARGIN, a.worst.y0 - MARGIN, a.worst.x1 + MARGIN,
                       a.worst.y1 + MARGIN, SEAM_BOX_COLOUR);
    }
}

int formatAuditSummary(char* out, int size) {
    const AuditState& a = program.audit;
    return std::snprintf(out, static_cast<std::size_t>(size),
                         "crack audit: frames=%d gaps=%d largest=%d", a.auditedFrames,
                         a.gapFrames, a.largestGap);
}
