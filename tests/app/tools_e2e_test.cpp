// The inspection tools run as a user runs them: F2's heat map in every drawing mode, the
// crack audit of --audit-cracks with and without crack filling, audit frames kept out of
// captures, and tools switched off (or timing on) leaving the captured picture as it was.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>

#include "render/tools.h"
#include "tests/app/run_program.h"
#include "tests/platform/picture_read.h"

namespace {

constexpr int CAPTURE_FRAME = 10;

// The surface captured on CAPTURE_FRAME at 512 x 384 with `keys` pressed on frame 0.
RgbPicture capture(const std::string& keys, const std::string& options = "") {
    ScratchDir dir;
    dir.write("script.txt",
              keysOnFirstFrame(keys) + std::to_string(CAPTURE_FRAME) + " keyup RETURN\n");
    const ProgramRun run =
        dir.run("--headless --fixed-clock 400 --frames " + std::to_string(CAPTURE_FRAME + 2) +
                " --input script.txt -res 512x384 -screencapture 1 " + options);
    EXPECT_EQ(run.status, 0) << run.err;
    return readTgaPicture(dir.file("scrn0000.tga"));
}

// The closest heat colour (or the crack colour) to an RGB pixel, by the largest channel
// difference; 0 steps for the crack colour.
int nearestHeatStep(const std::uint8_t* rgb, int* distance) {
    int best = -1;
    *distance = 1 << 20;
    for (int steps = 0; steps <= 20; ++steps) {
        const std::uint32_t c = steps == 0 ? HEAT_CRACK_COLOUR : heatColour(steps);
        const int channel[3] = {int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF)};
        int d = 0;
        for (int k = 0; k < 3; ++k) d = std::max(d, std::abs(channel[k] - rgb[k]));
        if (d < *distance) {
            *distance = d;
            best = steps;
        }
    }
    return best;
}

// The heat steps shown in a picture; fails when a pixel is neither background nor within a
// 5-6-5 rounding of a heat colour (rounded to 5 bits and shifted up: up to 11 off). Adjacent
// heat colours are more than 50 apart in some channel.
std::set<int> heatSteps(const RgbPicture& p, const std::string& keys) {
    std::set<int> steps;
    int stray = 0;
    for (std::size_t i = 0; i + 2 < p.rgb.size(); i += 3) {
        const std::uint8_t* rgb = &p.rgb[i];
        if (rgb[0] == 0 && rgb[1] == 0 && rgb[2] == 0) continue;
        int distance = 0;
        const int step = nearestHeatStep(rgb, &distance);
        if (distance > 16) {
            ++stray;
            continue;
        }
        steps.insert(step);
    }
    EXPECT_EQ(stray, 0) << "pixels in no heat colour with keys '" << keys << "'";
    return steps;
}

std::string auditLine(const std::string& keys) {
    ScratchDir dir;
    dir.write("script.txt", keysOnFirstFrame(keys));
    const ProgramRun run = dir.run(
        "--headless --fixed-clock 40 --frames 24 --input script.txt -res 640x480 --audit-cracks");
    EXPECT_EQ(run.status, 0) << run.err;
    const std::size_t at = run.out.find("crack audit: ");
    if (at == std::string::npos) return "no summary in: " + run.out;
    return run.out.substr(at, run.out.find('\n', at) - at);
}

}  // namespace

TEST(HeatMapRun, StaticDetailIsOneColourAndDynamicDetailARampInEveryMode) {
    // X: static detail, 6 subdivisions; PLUS makes it 7.
    EXPECT_EQ(heatSteps(capture("F2 X"), "F2 X"), std::set<int>{6});
    EXPECT_EQ(heatSteps(capture("F2 X PLUS"), "F2 X PLUS"), std::set<int>{7});
    // Bezier patches at static detail take three times the steps.
    EXPECT_EQ(heatSteps(capture("F2 X T"), "F2 X T"), std::set<int>{18});
    for (const std::string keys : {"F2", "F2 T", "F2 I", "F2 W", "F2 2", "F2 T I 2"}) {
        const std::set<int> steps = heatSteps(capture(keys), keys);
        EXPECT_GE(steps.size(), 3u) << keys << ": near patches finer than far ones";
    }
    // Off again: the ordinary picture, byte for byte.
    EXPECT_EQ(capture("F2 F2"), capture(""));
}

TEST(CrackAuditRun, FillLeavesNoGapsAndNoFillLeavesSome) {
    EXPECT_EQ(auditLine(""), "crack audit: frames=24 gaps=0 largest=0");
    EXPECT_EQ(auditLine("T I"), "crack audit: frames=24 gaps=0 largest=0");
    EXPECT_EQ(auditLine("X G G"), "crack audit: frames=24 gaps=0 largest=0")
        << "static detail has no cracks to fill";
    const std::string noFill = auditLine("G G");
    EXPECT_NE(noFill.find("frames=24 gaps="), std::string::npos) << noFill;
    EXPECT_EQ(noFill.find("gaps=0 "), std::string::npos) << noFill;
    EXPECT_EQ(noFill.find("largest=0"), std::string::npos) << noFill;
}

TEST(CrackAuditRun, AuditFramesAreNeverCapturedAndShowTheAuditColour) {
    ScratchDir dir;
    dir.write("script.txt", "2 keyup RETURN\n4 key F4\n");
    const ProgramRun run =
        dir.run("--headless --fixed-clock 40 --frames 8 --input script.txt -res 512x384 "
                "-screencapture 3 --save-last-frame last.tga");
    ASSERT_EQ(run.status, 0) << run.err;
    // Frames 2 and 3 are captured; from frame 4 on the burst waits for the audit to end.
    EXPECT_TRUE(dir.exists("scrn0000.tga"));
    EXPECT_TRUE(dir.exists("scrn0001.tga"));
    EXPECT_FALSE(dir.exists("scrn0002.tga"));
    // The shown frame is cleared to the audit colour: the sky is full magenta.
    const RgbPicture last = readTgaPicture(dir.file("last.tga"));
    ASSERT_EQ(last.width, 512);
    const std::uint8_t* sky = &last.rgb[(100 * 512 + 400) * 3];
    EXPECT_EQ(sky[0], 248);
    EXPECT_EQ(sky[1], 0);
    EXPECT_EQ(sky[2], 248);
    EXPECT_NE(run.out.find("crack audit: frames=4 gaps=0 largest=0"), std::string::npos)
        << run.out;
}

TEST(InspectionRun, TimingAndToolsSwitchedOffLeaveThePictureAlone) {
    const RgbPicture plain = capture("");
    ASSERT_GT(plain.width, 0);
    EXPECT_EQ(capture("F3"), plain) << "measuring does not change the surface";
    EXPECT_EQ(capture("F3 F3 F4 F4"), plain);
}
