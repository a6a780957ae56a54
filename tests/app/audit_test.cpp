// The crack audit's count and blame on synthetic frames.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "app/audit.h"

namespace {

constexpr std::uint16_t SURFACE = 0x1234;   // any colour but the audit's
constexpr std::uint16_t CLEAR = AUDIT_CLEAR_PIXEL;

struct Frame {
    int width, height;
    std::vector<std::uint16_t> pixels;
    Frame(int w, int h, std::uint16_t fill) : width(w), height(h), pixels(w * h, fill) {}
    void set(int x, int y, std::uint16_t p) { pixels[y * width + x] = p; }
    void rectangle(int x0, int y0, int x1, int y1, std::uint16_t p) {
        for (int y = y0; y < y1; ++y) {
            for (int x = x0; x < x1; ++x) set(x, y, p);
        }
    }
};

}  // namespace

TEST(CrackAudit, CountsSlitsBetweenSurfacePixelsOnly) {
    Frame f(40, 30, CLEAR);
    // Two neighbouring patches side by side with a one-pixel slit between them, closed at the
    // top by a third surface, a three-pixel slit further down, and a hole drawn on purpose
    // inside the left patch.
    f.rectangle(5, 5, 20, 25, SURFACE);
    f.rectangle(21, 5, 35, 25, SURFACE);
    f.rectangle(5, 3, 35, 5, SURFACE);
    f.rectangle(19, 20, 24, 25, SURFACE);
    f.rectangle(19, 22, 22, 23, CLEAR);   // three wide, surface left and right
    f.set(10, 10, CLEAR);
    const std::vector<PatchBounds> bounds = {
        {0, 3, 7, 5.0f, 5.0f, 20.0f, 25.0f},
        {0, 4, 7, 21.0f, 5.0f, 35.0f, 25.0f},
    };
    const AuditResult r = auditFrame(f.pixels.data(), f.width, f.height, bounds);
    // Column 20, rows 5..19 (15), the slit (3), the hole (1).
    EXPECT_EQ(r.gapPixels, 15 + 3 + 1);
    EXPECT_EQ(r.worst.surface, 0);
    EXPECT_EQ(r.worst.columnA, 3);
    EXPECT_EQ(r.worst.columnB, 4);
    EXPECT_EQ(r.worst.rowA, 7);
    // Blamed: the gap pixels where both patches' bounds (a pixel's slack) hold them, column 20.
    EXPECT_EQ(r.worst.pixels, 16);
    EXPECT_NEAR(r.worst.x0, 19.5f, 1.0f);
    EXPECT_NEAR(r.worst.y1, 22.5f, 0.01f);

    // Background: wider than a slit, a notch open to the sky, or along the frame's edge, is
    // no gap.
    Frame sky(40, 30, CLEAR);
    sky.rectangle(0, 20, 40, 30, SURFACE);
    sky.rectangle(10, 10, 14, 20, SURFACE);
    sky.rectangle(18, 10, 22, 20, SURFACE);   // four pixels apart
    sky.rectangle(25, 15, 30, 20, SURFACE);
    sky.rectangle(31, 15, 36, 20, SURFACE);   // a one-pixel notch open upwards
    sky.set(0, 25, CLEAR);                    // on the frame's edge
    // One patch without a border over the whole frame: judged by its bounds alone.
    const std::vector<PatchBounds> whole = {{0, 0, 0, 0.0f, 0.0f, 40.0f, 30.0f}};
    EXPECT_EQ(auditFrame(sky.pixels.data(), 40, 30, whole).gapPixels, 0);
    sky.rectangle(25, 14, 36, 15, SURFACE);   // the notch closed: now a gap
    EXPECT_EQ(auditFrame(sky.pixels.data(), 40, 30, whole).gapPixels, 5);
    // Where no drawn patch lies, nothing is a gap in a surface.
    EXPECT_EQ(auditFrame(sky.pixels.data(), 40, 30, {}).gapPixels, 0);
    // The same hole held by one patch with no neighbour is counted but blamed on no seam.
    const AuditResult unblamed = auditFrame(f.pixels.data(), f.width, f.height, whole);
    EXPECT_EQ(unblamed.gapPixels, 19);
    EXPECT_EQ(unblamed.worst.surface, -1);
    // Patches that are not neighbours share no seam.
    const std::vector<PatchBounds> apart = {
        {0, 3, 7, 5.0f, 5.0f, 20.0f, 25.0f},
        {0, 5, 7, 21.0f, 5.0f, 35.0f, 25.0f},
    };
    EXPECT_EQ(auditFrame(f.pixels.data(), f.width, f.height, apart).worst.surface, -1);
}

namespace {

// A patch of one step whose border is the rectangle x0..x1, y0..y1 (w 10), appended to
// `outline` in the order the program keeps it: (0,0) (0,1) (1,1) (1,0) of its grid, where
// grid i runs along x.
PatchBounds outlinedPatch(int surface, int column, int row, float x0, float y0, float x1,
                          float y1, std::vector<OutlinePoint>& outline) {
    PatchBounds b = {surface, column, row, x0, y0, x1, y1};
    b.outlineStart = static_cast<int>(outline.size());
    b.outlineSteps = 1;
    b.clipX0 = 0.0f;
    b.clipY0 = 0.0f;
    b.clipX1 = 40.0f;
    b.clipY1 = 30.0f;
    b.wNear = 1.0f;
    b.wFar = 1000.0f;
    outline.push_back({x0, y0, 10.0f});
    outline.push_back({x0, y1, 10.0f});
    outline.push_back({x1, y1, 10.0f});
    outline.push_back({x1, y0, 10.0f});
    return b;
}

}  // namespace

// With borders, the audit counts only background that the drawn patches should have covered:
// a sliver between the borders two neighbours share, however thin (here 1/128 pixel, and
// one that only the rasterizer's vertex rounding opens), and a hole inside a patch; not a
// slit between a surface's outer border and another surface, however closed in.
TEST(CrackAudit, BordersTellGapsFromBackgroundBetweenSurfaces) {
    Frame f(40, 30, CLEAR);
    f.rectangle(0, 3, 40, 5, SURFACE);    // closed in above and below
    f.rectangle(0, 25, 40, 27, SURFACE);
    f.rectangle(5, 5, 20, 25, SURFACE);   // patch (3, 7)
    f.rectangle(21, 5, 35, 25, SURFACE);  // patch (4, 7): column 20 is a slit
    f.rectangle(37, 5, 40, 25, SURFACE);  // another surface: column 36 is a slit
    f.set(10, 10, CLEAR);                 // a hole inside patch (3, 7)
    std::vector<OutlinePoint> outline;
    std::vector<PatchBounds> bounds = {
        outlinedPatch(0, 3, 7, 5.0f, 5.0f, 20.5f - 1.0f / 256, 25.0f, outline),
        outlinedPatch(0, 4, 7, 20.5f + 1.0f / 256, 5.0f, 35.0f, 25.0f, outline),
        outlinedPatch(1, 0, 0, 37.0f, 3.0f, 40.0f, 27.0f, outline),
    };
    AuditResult r = auditFrame(f.pixels.data(), f.width, f.height, bounds, outline);
    EXPECT_EQ(r.gapPixels, 20 + 1) << "the slit between the neighbours and the hole";
    EXPECT_EQ(r.worst.surface, 0);
    EXPECT_EQ(r.worst.columnA, 3);
    EXPECT_EQ(r.worst.columnB, 4);
    EXPECT_EQ(r.worst.pixels, 20);

    // Borders a two-thousandth of a pixel apart, both right of the pixel centres (x 20.5):
    // in exact numbers the left patch holds the centres. Rounded to 1/256 pixel, as the
    // rasterizer rounds vertices, the left border runs through the centres, which the
    // rasterizer leaves to the right patch, whose border lies beyond them: a gap.
    outline.clear();
    bounds = {
        outlinedPatch(0, 3, 7, 5.0f, 5.0f, 20.5f + 0.0005f, 25.0f, outline),
        outlinedPatch(0, 4, 7, 20.5f + 0.0025f, 5.0f, 35.0f, 25.0f, outline),
        outlinedPatch(1, 0, 0, 37.0f, 3.0f, 40.0f, 27.0f, outline),
    };
    r = auditFrame(f.pixels.data(), f.width, f.height, bounds, outline);
    EXPECT_EQ(r.gapPixels, 20 + 1);

    // Neighbours whose shared borders are the same numbers leave no sliver; a centre on the
    // border itself is the rasterizer's to give to one side (its own tests hold it to that).
    outline.clear();
    bounds = {
        outlinedPatch(0, 3, 7, 5.0f, 5.0f, 20.5f, 25.0f, outline),
        outlinedPatch(0, 4, 7, 20.5f, 5.0f, 35.0f, 25.0f, outline),
    };
    EXPECT_EQ(auditFrame(f.pixels.data(), f.width, f.height, bounds, outline).gapPixels, 1);
    outline.clear();
    bounds = {
        outlinedPatch(0, 3, 7, 5.0f, 5.0f, 20.0f, 25.0f, outline),
        outlinedPatch(0, 4, 7, 21.0f, 5.0f, 35.0f, 25.0f, outline),
    };
    EXPECT_EQ(auditFrame(f.pixels.data(), f.width, f.height, bounds, outline).gapPixels, 21)
        << "a wide sliver between the borders";
    outline.clear();
    bounds = {outlinedPatch(0, 3, 7, 5.0f, 5.0f, 20.0f, 25.0f, outline),
              outlinedPatch(0, 5, 7, 21.0f, 5.0f, 35.0f, 25.0f, outline)};
    EXPECT_EQ(auditFrame(f.pixels.data(), f.width, f.height, bounds, outline).gapPixels, 1)
        << "patches that are not neighbours share no border: only the hole counts";
}
