// End-to-end sessions: scripted keys and mouse through the headless back end, the resolution
// switch, picking control points, and the SDL back end under a virtual X server.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "tests/app/run_program.h"
#include "tests/platform/picture_read.h"

namespace {

int tgaWidth(const std::string& file) {
    return file.size() < 18 ? -1
                            : (static_cast<std::uint8_t>(file[12]) |
                               static_cast<std::uint8_t>(file[13]) << 8);
}
int tgaHeight(const std::string& file) {
    return file.size() < 18 ? -1
                            : (static_cast<std::uint8_t>(file[14]) |
                               static_cast<std::uint8_t>(file[15]) << 8);
}

// Pixels of the picked control point's marker (yellow, dimmed by the fog) in a capture: red
// and green both lit, blue low. The sea, the island and the red markers have none.
int yellowPixels(const RgbPicture& p) {
    int count = 0;
    for (std::size_t i = 0; i + 2 < p.rgb.size(); i += 3) {
        const int r = p.rgb[i], g = p.rgb[i + 1], b = p.rgb[i + 2];
        if (r > 40 && g * 10 > r * 6 && b * 2 < r) ++count;
    }
    return count;
}

// Yellow marker pixels in four captured frames after `script` (control points shown), at a
// clock whose bit 2 (the marker's flicker) is set every other frame.
int yellowAfter(const std::string& script) {
    ScratchDir dir;
    dir.write("script.txt", "0 key D\n" + script + "12 keyup RETURN\n");
    const ProgramRun run = dir.run("--headless -res 640x480 --fixed-clock 20 --frames 17 "
                                   "--input script.txt -screencapture 4");
    EXPECT_EQ(run.status, 0) << run.err;
    int count = 0;
    for (const char* name : {"scrn0000.tga", "scrn0001.tga", "scrn0002.tga", "scrn0003.tga"}) {
        const RgbPicture picture = readTgaPicture(dir.file(name).string());
        EXPECT_EQ(picture.width, 640) << name;
        count += yellowPixels(picture);
    }
    return count;
}

}  // namespace

TEST(Session, FlyTurnAndSwitchResolution) {
    ScratchDir dir;
    dir.write("script.txt",
              "# hold Up for 30 frames, turn the mouse, then a few keys\n"
              "0 keydown UP\n"
              "30 keyup UP\n"
              "31 move 600 300\n"
              "32 key M\n"
              "33 keyup RETURN\n"
              "34 key V\n"
              "35 key F1\n"
              "36 key PLUS\n"
              "37 key MINUS\n");
    const ProgramRun run =
        dir.run("--headless --frames 40 --input script.txt -screencapture 1", "");
    ASSERT_EQ(run.status, 0) << run.err;
    ASSERT_TRUE(dir.exists("scrn0000.tga"));
    const std::string capture = dir.read("scrn0000.tga");
    EXPECT_EQ(tgaWidth(capture), 640);
    EXPECT_EQ(tgaHeight(capture), 480);
    EXPECT_NE(run.out.find("[640 x 480 vsynch: off]"), std::string::npos) << run.out;
}

TEST(Session, SwitchingTwiceReturnsToTheStartupResolution) {
    ScratchDir dir;
    dir.write("script.txt", "2 key M\n4 key M\n6 keyup RETURN\n");
    const ProgramRun run = dir.run("--headless --frames 9 --input script.txt -screencapture 1",
                                   "VEXA_MAX_RES=800x600");
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string capture = dir.read("scrn0000.tga");
    EXPECT_EQ(tgaWidth(capture), 800);
    EXPECT_EQ(tgaHeight(capture), 600);
}

TEST(Session, SaveThenLoadKeepsTheSurfaceFile) {
    ScratchDir dir;
    dir.write("script.txt", "0 key P\n2 key S\n3 key L\n");
    const ProgramRun run = dir.run("--headless --frames 5 --input script.txt");
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string saved = dir.read("data/vorl.txt");
    EXPECT_EQ(saved.rfind("B-Spline Surface\n\n", 0), 0u);
}

TEST(Session, WindowClosedByTheScriptEndsCleanly) {
    ScratchDir dir;
    dir.write("script.txt", "3 close\n");
    const ProgramRun run = dir.run("--headless --frames 100 --input script.txt");
    EXPECT_EQ(run.status, 0) << run.err;
}

TEST(Session, MalformedScriptStopsBeforeAnyWindow) {
    ScratchDir dir;
    dir.write("script.txt", "0 key M\n1 jump 3\n");
    const ProgramRun run = dir.run("--headless --input script.txt");
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("script.txt:2"), std::string::npos) << run.err;
}

TEST(Session, SdlBackEndUnderVirtualDisplay) {
    if (std::system("command -v xvfb-run >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "xvfb-run is not installed";
    }
    ScratchDir dir;
    dir.write("script.txt", "5 key ESCAPE\n");
    const ProgramRun run = dir.run("--windowed --answer ok --input script.txt --save-last-frame last.tga",
                                   "SDL_AUDIODRIVER=dummy", "xvfb-run -a -s '-screen 0 1280x1024x24'");
    EXPECT_EQ(run.status, 0) << run.err;
    ASSERT_TRUE(dir.exists("last.tga"));
    EXPECT_EQ(tgaWidth(dir.read("last.tga")), 1024);
}

TEST(Session, TheWindowsTitleSaysWhereTheKeysAre) {
    if (std::system("command -v xvfb-run >/dev/null 2>&1 && command -v xdotool >/dev/null 2>&1") !=
        0) {
        GTEST_SKIP() << "xvfb-run or xdotool is not installed";
    }
    ScratchDir dir;
    // Runs the program given as arguments, waits for its window and prints its title.
    dir.write("title.sh",
              "\"$@\" & pid=$!\n"
              "for i in $(seq 600); do\n"
              "  id=$(xdotool search --name '^Vorl' 2>/dev/null | head -n 1)\n"
              "  [ -n \"$id\" ] && break\n"
              "  sleep 0.1\n"
              "done\n"
              "[ -n \"$id\" ] && xdotool getwindowname \"$id\"\n"
              "kill $pid; wait $pid\n"
              "exit 0\n");
    const ProgramRun run =
        dir.run("--windowed --answer ok -res 640x480", "SDL_AUDIODRIVER=dummy",
                "xvfb-run -a -s '-screen 0 1280x1024x24' sh '" + dir.file("title.sh").string() +
                    "'");
    EXPECT_EQ(run.out, "Vorl - F1 lists the keys\n") << run.err;
}

// In a window the pointer is given back on F6 (its motion is no longer the program's) and
// taken again by a click into the window, which is not passed on as a click. The pointer is
// moved by xdotool; SDL's warping relative mode sees such motion on a virtual display.
TEST(Session, AWindowGivesThePointerBackOnF6AndTakesItOnAClick) {
    if (std::system("command -v xvfb-run >/dev/null 2>&1 && command -v xdotool >/dev/null 2>&1") !=
        0) {
        GTEST_SKIP() << "xvfb-run or xdotool is not installed";
    }
    ScratchDir dir;
    dir.write("pointer.sh",
              "\"$@\" & pid=$!\n"
              "for i in $(seq 600); do\n"
              "  id=$(xdotool search --name '^Vorl' 2>/dev/null | head -n 1)\n"
              "  [ -n \"$id\" ] && break\n"
              "  sleep 0.1\n"
              "done\n"
              "xdotool windowfocus --sync \"$id\"; sleep 1\n"
              "xdotool mousemove --window \"$id\" 100 100; sleep 0.5\n"
              "xdotool mousemove --window \"$id\" 200 150; sleep 0.5\n"
              "xdotool key F6; sleep 0.5\n"
              "xdotool mousemove --window \"$id\" 50 50; sleep 0.5\n"
              "xdotool mousemove --window \"$id\" 300 200; sleep 0.5\n"
              "xdotool key 7; sleep 0.3\n"
              "xdotool click 1; sleep 0.5\n"
              "xdotool mousemove --window \"$id\" 100 100; sleep 0.5\n"
              "xdotool mousemove --window \"$id\" 250 250; sleep 0.5\n"
              "xdotool key Escape\n"
              "wait $pid\n");
    const ProgramRun run =
        dir.run("--windowed --answer ok -res 640x480 --record run.txt",
                "SDL_AUDIODRIVER=dummy SDL_MOUSE_RELATIVE_MODE_WARP=1",
                "xvfb-run -a -s '-screen 0 1280x1024x24' sh '" + dir.file("pointer.sh").string() +
                    "'");
    ASSERT_EQ(run.status, 0) << run.err;
    // The recording's messages in order, by verb: "move", "keydown F6", "lbutton", ...
    std::vector<std::string> taken;
    std::istringstream recording(dir.read("run.txt"));
    for (std::string line; std::getline(recording, line);) {
        std::istringstream words(line);
        std::string frame, verb, what;
        words >> frame >> verb >> what;
        if (verb == "move" || verb == "lbutton") taken.push_back(verb);
        if (verb == "keydown") taken.push_back("keydown " + what);
    }
    const auto at = [&](const std::string& what) {
        return std::find(taken.begin(), taken.end(), what) - taken.begin();
    };
    const long f6 = at("keydown F6"), marker = at("keydown 7"), end = at("keydown ESCAPE");
    ASSERT_LT(f6, marker);
    ASSERT_LT(marker, end);
    EXPECT_EQ(at("lbutton"), static_cast<long>(taken.size())) << "the taking click is not passed on";
    EXPECT_LT(at("move"), f6) << "held: the motion turns the view";
    EXPECT_EQ(marker, f6 + 1) << "given back: no motion reaches the program";
    EXPECT_GT(std::count(taken.begin() + marker, taken.end(), std::string("move")), 0)
        << "taken again by the click: the motion turns the view again";
}

TEST(Session, SdlAndHeadlessShowTheSamePicture) {
    if (std::system("command -v xvfb-run >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "xvfb-run is not installed";
    }
    ScratchDir dir;
    dir.write("script.txt", "0 key Y\n3 key W\n8 key ESCAPE\n");
    const std::string args =
        "--fixed-clock 50 --input script.txt --answer ok -res 640x480 --save-last-frame ";
    const ProgramRun headless = dir.run("--headless " + args + "headless.tga");
    ASSERT_EQ(headless.status, 0) << headless.err;
    const ProgramRun sdl = dir.run("--windowed " + args + "sdl.tga", "SDL_AUDIODRIVER=dummy",
                                   "xvfb-run -a -s '-screen 0 1280x1024x24'");
    ASSERT_EQ(sdl.status, 0) << sdl.err;
    const std::string a = dir.read("headless.tga");
    const std::string b = dir.read("sdl.tga");
    ASSERT_EQ(a.size(), 18u + 640u * 480u * 3u);
    EXPECT_TRUE(a == b) << "the two back ends presented different frames";
}

TEST(Session, ResolutionSwitchKeepsTheView) {
    // Switching from 1024 x 768 to 640 x 480 must not read the jump between the two screen
    // centres as mouse motion: the view after M equals a run started at 640 x 480.
    ScratchDir dir;
    dir.write("switch.txt", "1 key M\n6 keyup RETURN\n");
    dir.write("plain.txt", "6 keyup RETURN\n");
    ProgramRun run = dir.run("--headless --fixed-clock 100 --frames 8 --input switch.txt "
                             "-screencapture 1");
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string switched = dir.read("scrn0000.tga");
    run = dir.run("--headless --fixed-clock 100 --frames 8 --input plain.txt -res 640x480 "
                  "-screencapture 1");
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string direct = dir.read("scrn0000.tga");
    ASSERT_EQ(switched.size(), 18u + 640u * 480u * 3u);
    EXPECT_TRUE(switched == direct);
}

// Looking a little above the horizon, a click at the sky finds no point: the sea's points
// behind the camera, mirrored onto the screen by the divide, are not under the cursor. Turned
// round, nothing flickers as picked; a click on a point in front of the eye still picks it.
TEST(Session, ClickOnTheSkyPicksNothingBehindTheEye) {
    std::string turn = "1 move 320 200\n3 lbutton down 320 240\n3 lbutton up 320 240\n";
    for (int frame = 4; frame <= 9; ++frame) turn += std::to_string(frame) + " move 620 240\n";
    turn += "10 move 320 300\n";
    EXPECT_EQ(yellowAfter(turn), 0) << "a point behind the eye was picked";
    EXPECT_GT(yellowAfter(turn + "11 lbutton down 320 327\n11 lbutton up 320 327\n"), 0)
        << "the point under the cursor was not picked";
}
