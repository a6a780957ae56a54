// The inspection record: the tools' switches, heat-map colours, the stage clock on the
// high-resolution counter, and the screen bounds of drawn patches for the crack audit.
#include "render/tools.h"

#include "platform/win32.h"
#include "render/surfacepass.h"
#include "render/tessellate.h"
#include "render/view.h"

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
    inspection.crackAudit = false;
    for (std::int64_t& t : inspection.stageTicks) t = 0;
    inspection.currentStage = TIMED_OTHER;
    inspection.stageStart = 0;
    inspection.currentSurface = 0;
    inspection.bounds.clear();
    inspection.outline.clear();
}

std::uint32_t inspectionViewTools(bool auditing) {
    return (inspection.heatMap ? INSPECT_HEAT_MAP : 0u) | (auditing ? INSPECT_AUDIT_BOUNDS : 0u);
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

std::uint32_t heatColourLevel(float level) {
    if (!(level >= 1.0f)) level = 1.0f;
    if (level > static_cast<float>(GRID_MAX_STEPS)) level = static_cast<float>(GRID_MAX_STEPS);
    const int position = static_cast<int>((level - 1.0f) * 4.0f * 255.0f /
                                          static_cast<float>(GRID_MAX_STEPS - 1));
    const int leg = position / 255 < 4 ? position / 255 : 3;
    const int f = position - leg * 255;
    switch (leg) {
    case 0: return abgr(0, f, 255);
    case 1: return abgr(0, 255, 255 - f);
    case 2: return abgr(f, 255, 0);
    default: return abgr(255, 255 - f, 0);
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

namespace {

// One plane of clipOutlineLoop: keeps the side where sign * (w - plane) >= 0. Points kept
// are copied as they are, so a loop wholly on the kept side comes out bit for bit; a
// crossing is interpolated before the divide (x w, y w and w are linear along an edge).
void clipLoopAtPlane(const std::vector<OutlinePoint>& in, float plane, float sign,
                     std::vector<OutlinePoint>& out) {
    out.clear();
    const std::size_t count = in.size();
    for (std::size_t k = 0; k < count; ++k) {
        const OutlinePoint& a = in[k];
        const OutlinePoint& b = in[(k + 1) % count];
        const double da = sign * (static_cast<double>(a.w) - plane);
        const double db = sign * (static_cast<double>(b.w) - plane);
        if (da >= 0.0) out.push_back(a);
        if ((da >= 0.0) != (db >= 0.0)) {
            const double t = da / (da - db);
            const double ax = static_cast<double>(a.x) * a.w;
            const double ay = static_cast<double>(a.y) * a.w;
            const double bx = static_cast<double>(b.x) * b.w;
            const double by = static_cast<double>(b.y) * b.w;
            out.push_back({static_cast<float>((ax + t * (bx - ax)) / plane),
                           static_cast<float>((ay + t * (by - ay)) / plane), plane});
        }
    }
}

}  // namespace

void clipOutlineLoop(const OutlinePoint* in, int count, float wNear, float wFar,
                     std::vector<OutlinePoint>& out) {
    std::vector<OutlinePoint>& loop = inspection.clipIn;
    std::vector<OutlinePoint>& between = inspection.clipBetween;
    loop.assign(in, in + count);
    clipLoopAtPlane(loop, wNear, 1.0f, between);
    clipLoopAtPlane(between, wFar, -1.0f, out);
}

void recordPatchBounds(int column, int row, int steps) {
    const int side = steps + 1;
    PatchBounds b = {inspection.currentSurface, column, row, 0.0f, 0.0f, -1.0f, -1.0f};
    bool any = false;
    auto widen = [&](float x, float y) {
        if (!any) {
            b.x0 = b.x1 = x;
            b.y0 = b.y1 = y;
            any = true;
            return;
        }
        b.x0 = x < b.x0 ? x : b.x0;
        b.x1 = x > b.x1 ? x : b.x1;
        b.y0 = y < b.y0 ? y : b.y0;
        b.y1 = y > b.y1 ? y : b.y1;
    };
    for (int k = 0; k < side * side; ++k) {
        const ScreenVertex& v = surfacePass.tessellation.grid[k];
        // Only vertices in front of the eye have a meaningful screen position.
        if (!(v.q > 0.0f) || !(v.x == v.x) || !(v.y == v.y)) continue;
        widen(v.x, v.y);
    }
    const ClipBounds& clip = transformState.clip;
    b.clipX0 = clip.xMin;
    b.clipY0 = clip.yMin;
    b.clipX1 = clip.xMax;
    b.clipY1 = clip.yMax;
    b.wNear = clip.wNear;
    b.wFar = clip.wFar;
    // The border, going round; a vertex without a finite position leaves the patch without.
    std::vector<OutlinePoint>& outline = inspection.outline;
    const std::size_t start = outline.size();
    const int sides[4] = {1, side, -1, -side};
    int at = 0;
    for (const int step : sides) {
        for (int k = 0; k < steps; ++k) {
            const ScreenVertex& v = surfacePass.tessellation.grid[at];
            if (!(v.x - v.x == 0.0f && v.y - v.y == 0.0f && v.w - v.w == 0.0f)) {
                outline.resize(start);
                if (any) inspection.bounds.push_back(b);
                return;
            }
            if ((v.flags & (CLIP_NEAR | CLIP_FAR)) != 0) b.crossesDepth = true;
            outline.push_back({v.x, v.y, v.w});
            at += step;
        }
    }
    b.outlineStart = static_cast<std::int32_t>(start);
    b.outlineSteps = steps;
    // Cut by a depth plane, the drawn part reaches where the border meets the plane, which
    // may lie outside the bounds of the vertices in front of the eye.
    if (b.crossesDepth) {
        std::vector<OutlinePoint>& cut = inspection.clipCut;
        clipOutlineLoop(&outline[start], 4 * steps, b.wNear, b.wFar, cut);
        for (const OutlinePoint& p : cut) widen(p.x, p.y);
    }
    if (any) inspection.bounds.push_back(b);
}
