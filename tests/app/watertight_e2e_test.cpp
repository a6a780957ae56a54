// The surfaces are closed in every mode: seeded low flights over the shipped scene in every
// combination of surface type, tessellator and detail (dynamic, and static at 1, 6 and 20
// subdivisions), at two resolutions, leave no background pixel enclosed by the surface in the
// ordinary frames and no gap in the crack audit. Also the audit's own false alarm: a sheet
// seen edge-on from under the sea is no gap.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/app/run_program.h"
#include "tests/platform/picture_read.h"

namespace {

constexpr int FLIGHT_FRAMES = 40;
constexpr int CAPTURED_FRAMES = 12;   // the last frames of the flight, lowest over the sea
// The sanitizer build draws ten times slower: there one flight at one resolution in dynamic
// detail and at the finest static detail (the pictures are the ordinary build's; what it adds
// is the memory checks of the drawing and the audit).
#if defined(__SANITIZE_ADDRESS__)
constexpr int FLIGHTS_PER_CASE = 1;
constexpr int SIZES = 1;
constexpr bool EVERY_DETAIL = false;
#else
constexpr int FLIGHTS_PER_CASE = 2;
constexpr int SIZES = 2;
constexpr bool EVERY_DETAIL = true;
#endif

// A small deterministic generator, so the flights are the same on every library.
struct Flight {
    std::uint32_t state;
    int below(int n) {
        state = state * 1664525u + 1013904223u;
        return static_cast<int>((state >> 8) % static_cast<std::uint32_t>(n));
    }
};

// A low flight: fog off, down towards the sea for a few frames, the view tipped, then
// forward with small turns of the mouse. `keys` are pressed on frame 0 first.
std::string lowFlight(std::uint32_t seed, const std::string& keys, int width, int height) {
    Flight f{seed * 2654435761u + 12345u};
    std::string script = keysOnFirstFrame(keys + " H");
    const int descent = 3 + f.below(6);
    const int cx = width / 2;
    const int cy = height / 2;
    script += "0 keydown SHIFT\n0 keydown DOWN\n";
    script += "1 move " + std::to_string(cx - width / 6 + f.below(width / 3)) + " " +
              std::to_string(cy - height / 12 + f.below(height / 8)) + "\n";
    script += std::to_string(descent) + " keyup DOWN\n" + std::to_string(descent) +
              " keyup SHIFT\n" + std::to_string(descent + 1) + " keydown UP\n";
    for (int frame = descent + 2; frame < FLIGHT_FRAMES; frame += 2 + f.below(4)) {
        script += std::to_string(frame) + " move " + std::to_string(cx - 10 + f.below(21)) +
                  " " + std::to_string(cy - 3 + f.below(7)) + "\n";
    }
    // The capture burst starts when Enter is released; the audit run ignores it.
    script += std::to_string(FLIGHT_FRAMES - CAPTURED_FRAMES) + " keyup RETURN\n";
    return script;
}

// Background pixels (exactly black: fog is off and dithering too, so no surface pixel is)
// closed in by the surface: 4-connected black areas of at most a few pixels that do not reach
// the frame's edge.
int enclosedBackground(const RgbPicture& p) {
    constexpr int SMALL = 16;
    const int w = p.width;
    const int h = p.height;
    auto black = [&](int i) {
        return p.rgb[3 * i] == 0 && p.rgb[3 * i + 1] == 0 && p.rgb[3 * i + 2] == 0;
    };
    std::vector<std::uint8_t> seen(static_cast<std::size_t>(w) * h, 0);
    std::vector<int> stack;
    int enclosed = 0;
    for (int start = 0; start < w * h; ++start) {
        if (seen[start] || !black(start)) continue;
        seen[start] = 1;
        stack.assign(1, start);
        int size = 0;
        bool edge = false;
        while (!stack.empty()) {
            const int i = stack.back();
            stack.pop_back();
            ++size;
            const int x = i % w;
            const int y = i / w;
            edge = edge || x == 0 || y == 0 || x == w - 1 || y == h - 1;
            const int next[4] = {x > 0 ? i - 1 : -1, x + 1 < w ? i + 1 : -1,
                                 y > 0 ? i - w : -1, y + 1 < h ? i + w : -1};
            for (int n : next) {
                if (n >= 0 && !seen[n] && black(n)) {
                    seen[n] = 1;
                    stack.push_back(n);
                }
            }
        }
        if (!edge && size <= SMALL) enclosed += size;
    }
    return enclosed;
}

struct Sweep {
    int runs = 0;
    int frames = 0;
    int holePixels = 0;
    int auditGaps = 0;
};

// Flies every detail mode with `keys` (surface type and tessellator) at two resolutions.
Sweep flyEveryDetail(const std::string& keys) {
    Sweep sweep;
    // Dynamic detail, then static at 1, 6 and 20 subdivisions (X; MINUS and PLUS from 6).
    std::string details[4] = {"", "X MINUS MINUS MINUS MINUS MINUS", "X", "X"};
    for (int k = 0; k < 14; ++k) details[3] += " PLUS";
    const int sizes[2][2] = {{512, 384}, {800, 600}};
    std::uint32_t seed = 1;
    for (const std::string& detail : details) {
        if (!EVERY_DETAIL && &detail != &details[0] && &detail != &details[3]) continue;
        for (int s = 0; s < SIZES; ++s) {
            const auto& size = sizes[s];
            for (int flight = 0; flight < FLIGHTS_PER_CASE; ++flight, ++seed) {
                const std::string res = std::to_string(size[0]) + "x" + std::to_string(size[1]);
                const std::string what = "keys '" + keys + " " + detail + "' at " + res +
                                         ", flight " + std::to_string(seed);
                ScratchDir dir;
                dir.write("flight.txt", lowFlight(seed, keys + " " + detail, size[0], size[1]));
                const std::string common = "--headless --fixed-clock 16 --frames " +
                                           std::to_string(FLIGHT_FRAMES) +
                                           " --input flight.txt -res " + res;
                // The ordinary frames, captured without dithering.
                const ProgramRun shown = dir.run(
                    common + " -screencapture " + std::to_string(CAPTURED_FRAMES), "VEXA_DITHER=0");
                EXPECT_EQ(shown.status, 0) << what << ": " << shown.err;
                for (int c = 0; c < CAPTURED_FRAMES; ++c) {
                    char name[32];
                    std::snprintf(name, sizeof name, "scrn%04d.tga", c);
                    const RgbPicture picture = readTgaPicture(dir.file(name).string());
                    EXPECT_EQ(picture.width, size[0]) << what << ": " << name;
                    const int holes = enclosedBackground(picture);
                    EXPECT_EQ(holes, 0) << what << ": " << name;
                    sweep.holePixels += holes;
                    ++sweep.frames;
                }
                // The same flight audited.
                const ProgramRun audited = dir.run(common + " --audit-cracks");
                EXPECT_EQ(audited.status, 0) << what << ": " << audited.err;
                const std::string expected = "crack audit: frames=" +
                                             std::to_string(FLIGHT_FRAMES) + " gaps=0 largest=0";
                EXPECT_NE(audited.out.find(expected), std::string::npos)
                    << what << ": " << audited.out;
                if (audited.out.find(expected) == std::string::npos) ++sweep.auditGaps;
                sweep.frames += FLIGHT_FRAMES;
                ++sweep.runs;
            }
        }
    }
    std::printf("sweep '%s': %d flights, %d frames, %d hole pixels, %d audits with gaps\n",
                keys.c_str(), sweep.runs, sweep.frames, sweep.holePixels, sweep.auditGaps);
    return sweep;
}

}  // namespace

TEST(Watertight, BsplineBasisTables) { flyEveryDetail(""); }
TEST(Watertight, BsplineForwardDifferences) { flyEveryDetail("I"); }
TEST(Watertight, BezierBasisTables) { flyEveryDetail("T"); }
TEST(Watertight, BezierForwardDifferences) { flyEveryDetail("T I"); }

// From under the sea at static detail, where no crack can exist, the sheet seen edge-on past
// a fold, or beside the island's outer border, is background, not a gap.
TEST(Watertight, AuditCountsNoBackgroundSeenFromUnderTheSea) {
    ScratchDir dir;
    dir.write("under.txt",
              "1 move 320 420\n1 key X\n2 keydown SHIFT\n2 keydown DOWN\n12 keyup DOWN\n"
              "12 keyup SHIFT\n14 keydown UP\n");
    const ProgramRun run = dir.run(
        "--headless -res 640x480 --frames 80 --fixed-clock 16 --input under.txt --audit-cracks");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("crack audit: frames=80 gaps=0 largest=0"), std::string::npos)
        << run.out;
}
