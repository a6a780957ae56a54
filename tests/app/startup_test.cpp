// The command line's reading of -res and -ref into the output record: every mode the
// rasterizer knows is named by its size, an unknown name leaves no mode asked for, and the
// command line never touches what belongs to an open output.
#include "app/startup.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "app/program.h"
#include "display/display.h"
#include "vexa/vexa.h"

namespace {

CommandLineResult readWords(const char* first, const char* second) {
    std::string a = first, b = second;
    char program[] = "vorl";
    char* argv[] = {program, a.data(), b.data(), nullptr};
    return readCommandLine(3, argv);
}

class ProgramCommandLine : public ::testing::Test {
protected:
    void SetUp() override { display.output = OutputState{}; }
    void TearDown() override { display.output = OutputState{}; }
};

TEST_F(ProgramCommandLine, EveryModeIsNamedByItsSize) {
    for (int mode = 0; mode < VX_RES_COUNT; ++mode) {
        int width = 0, height = 0;
        ASSERT_TRUE(vxResolutionSize(mode, &width, &height));
        char name[32];
        std::snprintf(name, sizeof name, "%dx%d", width, height);
        display.output = OutputState{};
        ASSERT_EQ(readWords("-res", name), COMMAND_LINE_OK);
        EXPECT_TRUE(display.output.modeGiven) << name;
        EXPECT_EQ(display.output.requestedMode, mode) << name;
        // Only the asked-for mode: nothing is open, no size is set.
        EXPECT_EQ(display.output.width, 0);
        EXPECT_EQ(display.output.context, 0u);
    }
}

TEST_F(ProgramCommandLine, AnUnknownModeLeavesNoneAskedFor) {
    ASSERT_EQ(readWords("-res", "800x600"), COMMAND_LINE_OK);
    ASSERT_TRUE(display.output.modeGiven);
    // The later -res wins, and a name the rasterizer does not know asks for none.
    char program[] = "vorl", res[] = "-res", good[] = "800x600", bad[] = "123x45";
    char* argv[] = {program, res, good, res, bad, nullptr};
    ASSERT_EQ(readCommandLine(5, argv), COMMAND_LINE_OK);
    EXPECT_FALSE(display.output.modeGiven);
    ASSERT_EQ(readWords("-res", "640x4800"), COMMAND_LINE_OK);
    EXPECT_FALSE(display.output.modeGiven);
}

TEST_F(ProgramCommandLine, RefreshRatesByTheirHertz) {
    ASSERT_EQ(readWords("-ref", "85"), COMMAND_LINE_OK);
    EXPECT_EQ(vxRefreshHertz(display.output.refresh), 85);
    ASSERT_EQ(readWords("-ref", "61"), COMMAND_LINE_OK);   // unknown: 60 Hz, as the box says
    EXPECT_EQ(display.output.refresh, VX_REFRESH_60);
}

}  // namespace
