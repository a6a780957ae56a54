// The detail rules run as a user runs them: every rule leaves no gap in the crack audit on
// low flights in either surface type and tessellator; Q cycles the rules and + and - change
// the screen rule's tolerance, both shown on the statistics line; a bad --lod ends the run.
#include <gtest/gtest.h>

#include <string>

#include "tests/app/run_program.h"

namespace {

constexpr int FLIGHT_FRAMES = 40;

// Fog off, down towards the sea, then forward with the view turning a little: patches of
// every count side by side, and counts and slides changing as the camera moves.
std::string lowFlight(const std::string& keys, int turn) {
    std::string script = keysOnFirstFrame(keys + " H");
    script += "0 keydown SHIFT\n0 keydown DOWN\n1 move " + std::to_string(300 + turn) + " 330\n";
    script += "5 keyup DOWN\n5 keyup SHIFT\n6 keydown UP\n";
    for (int frame = 8; frame < FLIGHT_FRAMES; frame += 4) {
        script += std::to_string(frame) + " move " + std::to_string(320 + (frame % 3) * turn) +
                  " 300\n";
    }
    return script;
}

void expectNoGaps(const std::string& lod, const std::string& keys) {
    for (int turn : {-12, 9}) {
        ScratchDir dir;
        dir.write("flight.txt", lowFlight(keys, turn));
        const ProgramRun run = dir.run("--headless --fixed-clock 16 --frames " +
                                       std::to_string(FLIGHT_FRAMES) +
                                       " --input flight.txt -res 640x480 --audit-cracks --lod " +
                                       lod);
        EXPECT_EQ(run.status, 0) << lod << " " << keys << ": " << run.err;
        EXPECT_NE(run.out.find("crack audit: frames=" + std::to_string(FLIGHT_FRAMES) +
                               " gaps=0 largest=0"),
                  std::string::npos)
            << lod << " keys '" << keys << "' turn " << turn << ": " << run.out;
    }
}

TEST(DetailRules, NoGapsInAnyRule) {
    for (const char* lod : {"distance", "smooth", "screen=0.5", "screen=2", "screen=16"}) {
        for (const char* keys : {"", "I", "T", "T I"}) expectNoGaps(lod, keys);
    }
}

std::string statusLine(const std::string& args, const std::string& keys) {
    ScratchDir dir;
    dir.write("keys.txt", keysOnFirstFrame(keys));
    const ProgramRun run = dir.run("--headless --fixed-clock 16 --frames 3 --input keys.txt " +
                                   args);
    EXPECT_EQ(run.status, 0) << run.err;
    return run.out;
}

TEST(DetailRules, KeysCycleTheRuleAndStepTheTolerance) {
    // The distance rule's line is as it always was.
    EXPECT_NE(statusLine("", "").find("vsynch:  on]"), std::string::npos);
    EXPECT_NE(statusLine("", "Q").find("lod: smooth]"), std::string::npos);
    EXPECT_NE(statusLine("", "Q Q").find("lod: screen 1 px]"), std::string::npos);
    EXPECT_NE(statusLine("", "Q Q Q").find("vsynch:  on]"), std::string::npos);
    EXPECT_NE(statusLine("--lod screen=2", "MINUS MINUS").find("lod: screen 4 px]"),
              std::string::npos);
    EXPECT_NE(statusLine("--lod screen=2", "PLUS PLUS").find("lod: screen 1 px]"),
              std::string::npos);
    // Clamped at the finest tolerance.
    EXPECT_NE(statusLine("--lod screen=0.125", "PLUS").find("lod: screen 0.125 px]"),
              std::string::npos);
    // Without dynamic detail + and - are the static subdivisions again, the rule kept.
    const std::string still = statusLine("--lod screen=2", "X PLUS");
    EXPECT_NE(still.find("lod: screen 2 px]"), std::string::npos) << still;
}

TEST(DetailRules, TheScreenRuleDrawsLessForACoarserTolerance) {
    auto triangles = [](const std::string& lod) {
        const std::string line = statusLine("-res 640x480 --lod " + lod, "");
        const std::size_t at = line.find("ppf:");
        return at == std::string::npos ? -1 : std::stoi(line.substr(at + 4));
    };
    const int fine = triangles("screen=0.5");
    const int coarse = triangles("screen=8");
    EXPECT_GT(coarse, 0);
    EXPECT_LT(coarse, fine);
}

TEST(DetailRules, BadRuleEndsTheRun) {
    ScratchDir dir;
    const ProgramRun run = dir.run("--headless --frames 2 --lod screen=0");
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("--lod: expected a tolerance"), std::string::npos) << run.err;
}

}  // namespace
