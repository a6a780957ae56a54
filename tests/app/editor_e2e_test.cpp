// Shaping the surface as a user does: with the control points shown and edit mode on, a press
// on a point and a drag move it; S writes the edited mesh (one point differs), U and R take
// the file back and forth byte for byte, the surfaces stay watertight around moved points, and
// a recorded session with edits replays to the same frames.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/app/run_program.h"

namespace {

// The control point under (320, 338) at 640 x 480 in the starting view, with the waves
// paused from the first frame: the press picks it, the moves drag it 40 pixels right and 20
// up (each frame's pointer motion is measured from the centre, where the frame puts it).
const std::string DRAG =
    "0 key D\n0 key P\n0 key F5\n"
    "2 lbutton down 320 338\n3 move 330 240\n4 move 330 240\n5 move 330 240\n"
    "6 move 330 240\n7 move 320 220\n9 lbutton up 320 240\n";

// The surface file S writes after `script` (S on frame 12).
std::string savedAfter(const std::string& script) {
    ScratchDir dir;
    dir.write("script.txt", script + "12 key S\n");
    const ProgramRun run = dir.run("--headless -res 640x480 --fixed-clock 20 --frames 14 "
                                   "--input script.txt");
    EXPECT_EQ(run.status, 0) << run.err;
    return dir.read("data/vorl.txt");
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

}  // namespace

TEST(Editing, OneDragChangesOnePointAndUndoRedoWalkTheFile) {
    const std::string untouched = savedAfter("0 key D\n0 key P\n0 key F5\n");
    const std::string edited = savedAfter(DRAG);
    const std::vector<std::string> a = lines(untouched), b = lines(edited);
    ASSERT_EQ(a.size(), b.size());
    int differing = 0;
    for (std::size_t i = 0; i < a.size(); ++i) differing += a[i] != b[i];
    EXPECT_EQ(differing, 1) << "exactly one control point moved";
    EXPECT_EQ(savedAfter(DRAG + "10 key U\n"), untouched) << "undo gives the original back";
    EXPECT_EQ(savedAfter(DRAG + "10 key U\n11 key R\n"), edited) << "redo the edited file";
}

// Drags at dynamic detail with crack filling: the patches around the moved points and their
// neighbours stay closed.
TEST(Editing, MovedPointsLeaveNoCracks) {
    ScratchDir dir;
    dir.write("script.txt", DRAG +
                                "10 lbutton down 320 338\n11 move 320 280\n12 move 320 280\n"
                                "13 lbutton up 320 240\n14 keydown SHIFT\n"
                                "15 lbutton down 320 338\n16 move 320 200\n17 lbutton up 320 240\n"
                                "18 keyup SHIFT\n");
    const ProgramRun run = dir.run("--headless -res 640x480 --fixed-clock 20 --frames 40 "
                                   "--input script.txt --audit-cracks");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("crack audit: frames=40 gaps=0 largest=0"), std::string::npos)
        << run.out;
}

// A live session with edits, recorded, replays to the same last frame.
TEST(Editing, ARecordedSessionWithEditsReplaysToTheSameFrames) {
    ScratchDir dir;
    dir.write("script.txt", DRAG + "10 key U\n11 key R\n");
    const ProgramRun live = dir.run("--headless -res 640x480 --frames 16 --input script.txt "
                                    "--record session.txt --save-last-frame live.tga");
    ASSERT_EQ(live.status, 0) << live.err;
    const ProgramRun replay = dir.run("--headless -res 640x480 --input session.txt "
                                      "--save-last-frame replay.tga");
    ASSERT_EQ(replay.status, 0) << replay.err;
    EXPECT_EQ(dir.read("live.tga").size(), 18u + 640u * 480u * 3u);
    EXPECT_TRUE(dir.read("live.tga") == dir.read("replay.tga"));
}
