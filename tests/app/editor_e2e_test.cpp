// Shaping the surface as a user does: with the control points shown and edit mode on, a press
// on a point and a drag move it; S writes the edited mesh (one point differs), U and R take
// the file back and forth byte for byte, the surfaces stay watertight around moved points, and
// a recorded session with edits replays to the same frames. Edits leave the lighting as the
// same edit under either normals' source would, the waving sea takes drags, and multi-view
// picks what the view under the press draws.
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

// The last frame (a bottom-up 24-bit TGA) after `script`, 14 frames at 20 ms.
std::string frameAfter(const std::string& script) {
    ScratchDir dir;
    dir.write("script.txt", script);
    const ProgramRun run = dir.run("--headless -res 640x480 --fixed-clock 20 --frames 14 "
                                   "--input script.txt --save-last-frame last.tga");
    EXPECT_EQ(run.status, 0) << run.err;
    return dir.read("last.tga");
}

// The blue, green, red bytes of pixel (x, y) (y down from the top) of a 640 x 480 frame.
std::string pixelAt(const std::string& tga, int x, int y) {
    const std::size_t at = 18 + (static_cast<std::size_t>(479 - y) * 640 + x) * 3;
    return tga.size() >= at + 3 ? tga.substr(at, 3) : std::string();
}

// The indices of the lines where two texts of the same line count differ.
std::vector<std::size_t> differingLines(const std::string& a, const std::string& b);

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

std::vector<std::size_t> differingLines(const std::string& a, const std::string& b) {
    const std::vector<std::string> x = lines(a), y = lines(b);
    EXPECT_EQ(x.size(), y.size());
    std::vector<std::size_t> out;
    for (std::size_t i = 0; i < x.size() && i < y.size(); ++i) {
        if (x[i] != y[i]) out.push_back(i);
    }
    return out;
}

// The x, y, z of a point line of the surface file.
std::vector<double> coordinates(const std::string& line) {
    std::istringstream in(line);
    std::vector<double> out(3, 0.0);
    in >> out[0] >> out[1] >> out[2];
    return out;
}

// DRAG with the waves running (no P): the sea moves under the pointer the whole time.
const std::string SEA_DRAG =
    "0 key D\n0 key F5\n"
    "2 lbutton down 320 338\n3 move 330 240\n4 move 330 240\n5 move 330 240\n"
    "6 move 330 240\n7 move 320 220\n9 lbutton up 320 240\n";

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

// Poly normals (C) leave the control normals to the edits: after a drag, an undo or a redo
// made under them, switching back draws what the same edits under control normals draw, and
// the forward differencer (which reads the control normals under either source) lights the
// moved point as it would have. The point is one on the mound's slope in the starting view,
// raised with Shift.
TEST(EditingLighting, EditsUnderPolyNormalsLeaveTheControlNormalsRight) {
    const std::string start = "0 key D\n0 key P\n0 key F5\n";
    const std::string raise = "2 keydown SHIFT\n2 lbutton down 258 190\n3 move 320 200\n"
                              "4 move 320 200\n5 lbutton up 320 240\n6 keyup SHIFT\n";
    const std::string underControl = frameAfter(start + raise);
    ASSERT_EQ(underControl.size(), 18u + 640u * 480u * 3u);
    EXPECT_FALSE(frameAfter(start) == underControl) << "the drag changed nothing";
    EXPECT_TRUE(frameAfter(start + "1 key C\n" + raise + "10 key C\n") == underControl)
        << "a drag under poly normals, then C back";

    const std::string undone = frameAfter(start + raise + "10 key U\n");
    EXPECT_TRUE(frameAfter(start + raise + "9 key C\n10 key U\n11 key C\n") == undone)
        << "an undo under poly normals, then C back";

    // Forward differencing with poly normals selected: the drag made under either source
    // ends in the same picture.
    EXPECT_TRUE(frameAfter("0 key I\n" + start + "1 key C\n" + raise) ==
                frameAfter("0 key I\n" + start + raise + "10 key C\n"))
        << "forward differencing after a drag under poly normals";
}

// A drag on the waving sea moves its point: the waves go on about the moved rest position, so
// the file S writes differs from the undisturbed one in that point alone, raised by a vertical
// drag (Shift). What moves nothing is no undo step.
TEST(EditingTheSea, ADragMovesTheWavingPointAndOnlyMovesAreSteps) {
    const std::string untouched = savedAfter("0 key D\n0 key F5\n");
    ASSERT_EQ(differingLines(untouched, savedAfter(SEA_DRAG)).size(), 1u) << "one point moved";

    // Up along the vertical: the saved height (the waves' plus the point's rest height) is
    // higher than the undisturbed sea's there.
    const std::string raise = "0 key D\n0 key F5\n2 keydown SHIFT\n2 lbutton down 320 338\n"
                              "3 move 320 200\n4 move 320 200\n5 lbutton up 320 240\n"
                              "6 keyup SHIFT\n";
    const std::string raised = savedAfter(raise);
    const std::vector<std::size_t> lifted = differingLines(untouched, raised);
    EXPECT_EQ(lifted.size(), 1u) << "the vertical drag on the sea moved nothing";
    if (lifted.size() == 1u) {
        const std::vector<double> before = coordinates(lines(untouched)[lifted[0]]);
        const std::vector<double> after = coordinates(lines(raised)[lifted[0]]);
        EXPECT_EQ(after[0], before[0]);
        EXPECT_EQ(after[1], before[1]);
        EXPECT_GT(after[2], before[2] + 0.5);
    }

    // A press and release without motion on a sea point, the waves moving it between them, is
    // no step: U after it takes back the drag.
    EXPECT_EQ(savedAfter(SEA_DRAG + "10 lbutton down 320 338\n11 lbutton up 320 240\n"
                         "12 key U\n"),
              untouched);
}

// Multi-view (2): a press inside the first view picks the point that view draws under it, and
// a press of the resting pointer (the screen centre, in the gap between the views) aims
// through the first view where the edit mark is drawn, at its centre.
TEST(EditingTwoViews, APressPicksWhatTheViewUnderItDraws) {
    const std::string single = savedAfter(DRAG);
    const std::string untouched = savedAfter("0 key D\n0 key P\n0 key F5\n");
    const std::vector<std::size_t> expected = differingLines(untouched, single);
    ASSERT_EQ(expected.size(), 1u);

    // The first view shows the full-screen picture shrunk by 0.4 from (32, 144): the point
    // drawn at (320, 338) full screen is drawn at (160, 279) there.
    const std::string inLeft = "0 key D\n0 key P\n0 key F5\n0 key 2\n"
                               "2 lbutton down 160 279\n3 move 330 240\n4 lbutton up 320 240\n";
    EXPECT_EQ(differingLines(untouched, savedAfter(inLeft)), expected);
    // The same press DRAG makes, at (320, 338) in the gap: the first view at (160, 279.2).
    EXPECT_EQ(differingLines(untouched, savedAfter("0 key 2\n" + DRAG)), expected);

    // The edit mark: white (as 5-6-5 keeps it) at the first view's centre, nothing drawn at
    // the output's centre.
    const std::string white = "\xf8\xfc\xf8";
    const std::string frame = frameAfter("0 key D\n0 key P\n0 key F5\n0 key 2\n");
    EXPECT_EQ(pixelAt(frame, 163, 240), white);
    EXPECT_EQ(pixelAt(frame, 160, 243), white);
    EXPECT_EQ(pixelAt(frame, 323, 240), std::string(3, '\0')) << "the gap stays black";
    // One view: the mark stays at the centre.
    EXPECT_EQ(pixelAt(frameAfter("0 key D\n0 key P\n0 key F5\n"), 323, 240),
              white);
}
