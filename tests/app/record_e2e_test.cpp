// Record and replay end to end: a run on the real clock recorded with --record and replayed
// with --input to the same last frame and captures, byte for byte; recordings that cannot be
// saved, malformed ones, recorded answers, interrupted and crashed runs, and a session in the
// SDL window under a virtual X server replayed headless.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/app/run_program.h"

namespace {

// The text without its clock lines: what a replay would have without the recorded readings.
std::string withoutClock(const std::string& text) {
    std::istringstream in(text);
    std::string out;
    for (std::string line; std::getline(in, line);) {
        if (line.find(" clock ") == std::string::npos) out += line + "\n";
    }
    return out;
}

// Reads a recording back as the program would; fails the test when it is malformed.
PlatformScriptParts readRecording(const std::string& text, const char* name) {
    PlatformScriptParts parts;
    std::string error;
    EXPECT_TRUE(scriptParseParts(text, name, &parts, &error)) << error;
    return parts;
}

bool haveTool(const char* name) {
    return std::system(("command -v " + std::string(name) + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs a shell command line in the scratch directory; its exit status.
int runShell(const ScratchDir& dir, const std::string& line) {
    const std::string command = "cd '" + dir.path().string() + "' && " + line +
                                " >shell-out.txt 2>shell-err.txt </dev/null";
    const int raw = std::system(command.c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

const char* const SESSION =
    "0 keydown UP\n"
    "6 move 600 300\n"
    "7 move 500 220\n"
    "9 key W\n"
    "12 keyup UP\n"
    "13 keyup RETURN\n"
    "15 key F2\n"
    "16 keydown LEFT\n"
    "22 keyup LEFT\n"
    "24 keyup RETURN\n";
const char* const PROGRAM_ARGS = " -res 640x480 -screencapture 2";

TEST(RecordReplay, RealClockSessionReplaysToTheSamePictures) {
    ScratchDir dir;
    dir.write("session.txt", SESSION);
    const ProgramRun live = dir.run("--headless --frames 30 --input session.txt --record rec.txt "
                                    "--save-last-frame live.tga" + std::string(PROGRAM_ARGS));
    ASSERT_EQ(live.status, 0) << live.err;
    const std::string recording = dir.read("rec.txt");
    const PlatformScriptParts parts = readRecording(recording, "rec.txt");
    // The real clock moved during the run, so the pictures depend on the readings.
    ASSERT_GE(parts.clock.size(), 30u);
    EXPECT_NE(parts.clock.front().ms, parts.clock.back().ms);
    EXPECT_NE(recording.find("# program arguments: -res 640x480 -screencapture 2\n"),
              std::string::npos);
    EXPECT_NE(recording.find("15 keydown F2\n"), std::string::npos) << recording;
    EXPECT_NE(recording.find("30 close\n"), std::string::npos) << recording;
    const std::vector<std::string> captures = {"scrn0000.tga", "scrn0001.tga", "scrn0002.tga",
                                               "scrn0003.tga"};
    std::vector<std::string> liveCaptures;
    for (const std::string& name : captures) {
        ASSERT_TRUE(dir.exists(name)) << name;
        liveCaptures.push_back(dir.read(name));
        std::filesystem::remove(dir.file(name));
    }

    // Replayed without --frames (the recording's close ends it) and recorded again.
    const ProgramRun replay = dir.run("--headless --input rec.txt --record again.txt "
                                      "--save-last-frame replay.tga" + std::string(PROGRAM_ARGS));
    ASSERT_EQ(replay.status, 0) << replay.err;
    EXPECT_EQ(replay.out, live.out) << "the statistics line reads the recorded clock";
    EXPECT_NE(replay.err.find("replay: 30 frames in "), std::string::npos) << replay.err;
    const std::string liveFrame = dir.read("live.tga");
    ASSERT_EQ(liveFrame.size(), 18u + 640u * 480u * 3u);
    EXPECT_TRUE(dir.read("replay.tga") == liveFrame) << "the replay's last frame differs";
    for (std::size_t i = 0; i < captures.size(); ++i) {
        ASSERT_TRUE(dir.exists(captures[i])) << captures[i];
        EXPECT_TRUE(dir.read(captures[i]) == liveCaptures[i]) << captures[i] << " differs";
    }
    EXPECT_EQ(dir.read("again.txt"), recording) << "recording the replay writes it again";

    // Without the readings the waves move on the replay's own clock: another picture. That
    // clock is a fixed one of 50 ms a frame, as a real one paced like the live run (16.7 ms a
    // frame with vertical sync) can read the same times and give the same picture.
    dir.write("noclock.txt", withoutClock(recording));
    const ProgramRun unclocked =
        dir.run("--headless --frames 30 --fixed-clock 50 --input noclock.txt "
                "--save-last-frame noclock.tga" + std::string(PROGRAM_ARGS));
    ASSERT_EQ(unclocked.status, 0) << unclocked.err;
    EXPECT_FALSE(dir.read("noclock.tga") == liveFrame);
}

TEST(RecordReplay, RecordingThatCannotBeSavedIsNeverLostSilently) {
    ScratchDir dir;
    // A place that cannot take the file is refused before the run starts.
    ProgramRun run = dir.run("--headless --frames 3 --record missing/rec.txt");
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("missing/rec.txt: cannot record there"), std::string::npos) << run.err;
    EXPECT_TRUE(run.out.empty()) << "the program ran: " << run.out;
    run = dir.run("--headless --frames 3 --record data");
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("it is a folder"), std::string::npos) << run.err;

    // A disk that fills up during the run: reported, exit status 3, the old file kept whole.
    dir.write("rec.txt", "0 key A\n");
    run = dir.runWithFileLimit("--headless --frames 80 -res 512x384 --record rec.txt", 1024);
    EXPECT_EQ(run.status, 3);
    EXPECT_NE(run.err.find("rec.txt: recording not saved: "), std::string::npos) << run.err;
    EXPECT_EQ(dir.read("rec.txt"), "0 key A\n");
    for (const std::string& name : dir.list()) {
        EXPECT_EQ(name.find("rec.txt."), std::string::npos) << "left behind: " << name;
    }
}

TEST(RecordReplay, MalformedRecordingStopsBeforeAnyWindow) {
    ScratchDir dir;
    dir.write("rec.txt", "0 clock 0 15\n0 key A\n1 clock 31 4x\n");
    ProgramRun run = dir.run("--headless --input rec.txt --save-last-frame last.tga");
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("rec.txt:3: bad clock reading '4x'"), std::string::npos) << run.err;
    EXPECT_FALSE(dir.exists("last.tga"));
    dir.write("rec.txt", "0 clock 0\n2 cursor 10 10\n");
    run = dir.run("--headless --input rec.txt");
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("rec.txt:2: a cursor line must follow a message line"),
              std::string::npos)
        << run.err;
}

TEST(RecordReplay, QuestionIsAnsweredAsItWasInTheRecordedRun) {
    ScratchDir dir;
    // "-res" without a value asks whether to go on; the person cancelled.
    const ProgramRun live = dir.run("--headless --answer cancel --record rec.txt -res");
    ASSERT_EQ(live.status, 0) << live.err;
    const PlatformScriptParts parts = readRecording(dir.read("rec.txt"), "rec.txt");
    ASSERT_EQ(parts.answers.size(), 1u);
    EXPECT_EQ(parts.answers[0].answer, IDCANCEL);
    EXPECT_TRUE(live.out.empty()) << "a cancelled run draws nothing";
    // Replayed with nobody to ask (the default answer is ok): cancelled again.
    const ProgramRun replay = dir.run("--headless --input rec.txt -res");
    EXPECT_EQ(replay.status, 0) << replay.err;
    EXPECT_NE(replay.err.find("[Vorl] resolution not specified"), std::string::npos);
    EXPECT_TRUE(replay.out.empty()) << replay.out;
    // The same command line without the recording goes on and draws.
    const ProgramRun plain = dir.run("--headless --frames 2 -res");
    EXPECT_NE(plain.out.find("fps:"), std::string::npos) << plain.err;
}

TEST(RecordReplay, InterruptedRunEndsCleanlyAndReplays) {
    if (!haveTool("timeout")) GTEST_SKIP() << "timeout is not installed";
    ScratchDir dir;
    const ProgramRun live = dir.run("--headless --frames 1000000 -res 512x384 --record rec.txt "
                                    "--save-last-frame live.tga",
                                    "", "timeout --preserve-status -s INT 2");
    EXPECT_EQ(live.status, 0) << live.err;
    const std::string recording = dir.read("rec.txt");
    const PlatformScriptParts parts = readRecording(recording, "rec.txt");
    ASSERT_FALSE(parts.events.empty()) << recording;
    EXPECT_EQ(parts.events.back().message, static_cast<UINT>(WM_CLOSE));
    const ProgramRun replay =
        dir.run("--headless -res 512x384 --input rec.txt --save-last-frame replay.tga");
    ASSERT_EQ(replay.status, 0) << replay.err;
    EXPECT_TRUE(dir.read("replay.tga") == dir.read("live.tga"));
}

// A crash signal mid-run saves the recording so far. timeout sends the signal to the program
// and again to its process group, so it arrives twice, often on two threads: the second must
// wait for the first one's save instead of ending the run under it.
TEST(RecordReplay, CrashedRunKeepsWhatWasRecorded) {
    if (!haveTool("timeout")) GTEST_SKIP() << "timeout is not installed";
    ScratchDir dir;
    dir.write("session.txt", "1 key W\n2 move 300 200\n");
    const ProgramRun crashed =
        dir.run("--headless --frames 1000000 -res 512x384 --input session.txt --record rec.txt",
                "", "timeout -s SEGV 2");
    EXPECT_NE(crashed.status, 0);
    EXPECT_NE(crashed.err.find("the recording so far is in rec.txt"), std::string::npos)
        << crashed.err;
    const std::string recording = dir.read("rec.txt");
    const PlatformScriptParts parts = readRecording(recording, "rec.txt");
    EXPECT_FALSE(parts.clock.empty()) << recording;
    for (const std::string& name : dir.list()) {
        EXPECT_EQ(name.find(".part"), std::string::npos) << "left behind: " << name;
    }
    // The replay of a recording cut short ends after its last frame.
    const ProgramRun replay = dir.run("--headless -res 512x384 --input rec.txt");
    EXPECT_EQ(replay.status, 0) << replay.err;
}

TEST(RecordReplay, SdlWindowSessionReplaysHeadlessToTheSameLastFrame) {
    if (!haveTool("xvfb-run") || !haveTool("xdotool") || !haveTool("timeout")) {
        GTEST_SKIP() << "xvfb-run, xdotool or timeout is not installed";
    }
    ScratchDir dir;
    // The person: keys held and tapped, the mouse moved in quick steps, F2, then Escape.
    dir.write("drive.sh",
              "SDL_RENDER_DRIVER=software SDL_AUDIODRIVER=dummy \"$1\" --windowed -res 640x480 "
              "--record rec.txt --save-last-frame live.tga >live-out.txt 2>live-err.txt &\n"
              "pid=$!\n"
              "window=$(xdotool search --sync --name Vorl | head -n 1)\n"
              "xdotool windowfocus --sync \"$window\" 2>/dev/null\n"
              "sleep 0.5\n"
              "xdotool keydown Up\n"
              "for i in 1 2 3 4 5 6 7 8; do xdotool mousemove_relative 6 2; done\n"
              "sleep 0.5\n"
              "xdotool keyup Up key w key F2\n"
              "for i in 1 2 3 4 5; do xdotool mousemove_relative -- -8 3; done\n"
              "sleep 0.3\n"
              "xdotool key Escape\n"
              "wait $pid\n");
    const int live = runShell(dir, "timeout 120 xvfb-run -a -s '-screen 0 1280x1024x24' "
                                   "sh drive.sh '" + std::string(VORL_BINARY) + "'");
    ASSERT_EQ(live, 0) << dir.read("shell-err.txt") << dir.read("live-err.txt");
    const std::string recording = dir.read("rec.txt");
    const PlatformScriptParts parts = readRecording(recording, "rec.txt");
    EXPECT_NE(recording.find(" keydown F2\n"), std::string::npos) << recording;
    EXPECT_NE(recording.find(" keydown ESCAPE\n"), std::string::npos) << recording;
    EXPECT_NE(recording.find(" move "), std::string::npos) << recording;
    const ProgramRun replay =
        dir.run("--headless -res 640x480 --input rec.txt --save-last-frame replay.tga");
    ASSERT_EQ(replay.status, 0) << replay.err;
    const std::string liveFrame = dir.read("live.tga");
    ASSERT_EQ(liveFrame.size(), 18u + 640u * 480u * 3u);
    EXPECT_TRUE(dir.read("replay.tga") == liveFrame) << "the headless replay drew another frame";
}

}  // namespace
