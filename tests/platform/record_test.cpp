// Recording and replaying a run: the lines a recording adds to the input script (clock
// readings, cursor positions, answers) read and refused, the replayed clock, and a session on
// the real queue recorded and replayed to the same messages, cursor readings, clock readings
// and answers.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "platform/platform.h"

namespace {

PlatformScriptParts parseParts(const char* text) {
    PlatformScriptParts parts;
    std::string error;
    EXPECT_TRUE(scriptParseParts(text, "r.txt", &parts, &error)) << error;
    return parts;
}

std::string partsError(const char* text) {
    PlatformScriptParts parts;
    std::string error;
    EXPECT_FALSE(scriptParseParts(text, "r.txt", &parts, &error)) << text;
    EXPECT_TRUE(parts.events.empty() && parts.clock.empty() && parts.answers.empty());
    // The message-only reader refuses the same lines for the same reason.
    std::vector<PlatformScriptEvent> events;
    std::string again;
    EXPECT_FALSE(scriptParse(text, "r.txt", &events, &again));
    EXPECT_EQ(again, error);
    return error;
}

std::string readText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The lines of a text that are not comments.
std::vector<std::string> contentLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line[0] != '#') lines.push_back(line);
    }
    return lines;
}

TEST(RecordedLines, ClockCursorAndAnswerLinesAreRead) {
    const PlatformScriptParts parts = parseParts(
        "0 clock 0 17 4294967295\n"
        "0 key A\n"
        "0 cursor -5 70000   # goes with the key-up of the line before\n"
        "0 clock 18\n"
        "2 move 10 20\n"
        "2 clock 40   # clock lines between a message and its cursor line are fine\n"
        "2 cursor 11 21\n"
        "3 answer cancel\n"
        "5 answer ok\n");
    ASSERT_EQ(parts.clock.size(), 5u);
    const DWORD readings[] = {0, 17, 4294967295u, 18, 40};
    for (std::size_t i = 0; i < 5; ++i) EXPECT_EQ(parts.clock[i].ms, readings[i]) << i;
    EXPECT_EQ(parts.clock[3].frame, 0);
    EXPECT_EQ(parts.clock[4].frame, 2);
    ASSERT_EQ(parts.events.size(), 3u);
    EXPECT_FALSE(parts.events[0].cursorGiven);   // the key-down keeps the cursor where it is
    EXPECT_TRUE(parts.events[1].cursorGiven);
    EXPECT_EQ(parts.events[1].cursorX, -5);
    EXPECT_EQ(parts.events[1].cursorY, 70000);
    // A mouse message keeps its own position; the cursor line only says where the cursor goes.
    EXPECT_EQ(parts.events[2].lParam, MAKELPARAM(10, 20));
    EXPECT_TRUE(parts.events[2].mouse);
    EXPECT_TRUE(parts.events[2].cursorGiven);
    EXPECT_EQ(parts.events[2].cursorX, 11);
    ASSERT_EQ(parts.answers.size(), 2u);
    EXPECT_EQ(parts.answers[0].answer, IDCANCEL);
    EXPECT_EQ(parts.answers[1].answer, IDOK);
    EXPECT_EQ(parts.answers[1].frame, 5);
}

TEST(RecordedLines, MalformedRecordedLinesNameFileLineAndReason) {
    EXPECT_EQ(partsError("0 clock\n"), "r.txt:1: missing arguments: expected MS ...");
    EXPECT_EQ(partsError("0 key A\n1 clock 5 -1\n"),
              "r.txt:2: bad clock reading '-1' (milliseconds from 0 to 4294967295)");
    EXPECT_EQ(partsError("0 clock 4294967296\n"),
              "r.txt:1: bad clock reading '4294967296' (milliseconds from 0 to 4294967295)");
    EXPECT_EQ(partsError("0 clock 12ms\n"),
              "r.txt:1: bad clock reading '12ms' (milliseconds from 0 to 4294967295)");
    EXPECT_EQ(partsError("0 clock +3\n"),
              "r.txt:1: bad clock reading '+3' (milliseconds from 0 to 4294967295)");
    EXPECT_EQ(partsError("0 cursor 1 2\n"),
              "r.txt:1: a cursor line must follow a message line of its frame");
    EXPECT_EQ(partsError("0 key A\n1 cursor 1 2\n"),
              "r.txt:2: a cursor line must follow a message line of its frame");
    EXPECT_EQ(partsError("0 move 1 1\n0 cursor 1\n"), "r.txt:2: missing arguments: expected X Y");
    EXPECT_EQ(partsError("0 move 1 1\n0 cursor 1 2 3\n"),
              "r.txt:2: too many arguments: expected X Y");
    EXPECT_EQ(partsError("0 move 1 1\n0 cursor 1 x\n"), "r.txt:2: bad position '1 x'");
    EXPECT_EQ(partsError("0 answer\n"), "r.txt:1: missing arguments: expected ok or cancel");
    EXPECT_EQ(partsError("0 answer yes\n"), "r.txt:1: expected ok or cancel, not 'yes'");
    EXPECT_EQ(partsError("0 answer ok cancel\n"),
              "r.txt:1: too many arguments: expected ok or cancel");
    EXPECT_EQ(partsError("-2 clock 5\n"), "r.txt:1: negative frame number '-2'");
}

TEST(RecordedLines, EveryKeyCodeIsWrittenAsANameThatReadsBack) {
    char name[SCRIPT_KEY_NAME_MAX];
    for (int code = 1; code <= 255; ++code) {
        scriptKeyName(code, name);
        EXPECT_EQ(scriptKeyCode(name), code) << "code " << code << " written as '" << name << "'";
    }
    scriptKeyName(VK_F3, name);
    EXPECT_STREQ(name, "F3");
    scriptKeyName('Q', name);
    EXPECT_STREQ(name, "Q");
}

class ReplayTest : public ::testing::Test {
protected:
    void SetUp() override { platformReset(); }
    void TearDown() override { platformReset(); }

    void useRecording(const char* text) {
        PlatformScriptParts parts;
        std::string error;
        ASSERT_TRUE(scriptParseParts(text, "r.txt", &parts, &error)) << error;
        scriptSetParts(parts);
    }
};

TEST_F(ReplayTest, ClockGivesEachFramesReadingsInOrderThenHoldsItsLast) {
    useRecording("3 clock 40 41 42\n0 clock 5 7\n1 clock 20 21\n");
    queueConfigure(-1, true, 16);   // the recording's readings stand in for the fixed clock too
    EXPECT_EQ(timeGetTime(), 5u);   // before the first frame: frame 0
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(timeGetTime(), 7u);   // frame 0 is being drawn
    EXPECT_EQ(timeGetTime(), 7u);   // read more often than recorded: the frame's last
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(timeGetTime(), 20u);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    // Frame 1's unread 21 is passed over, frame 2 has no readings: the clock stands.
    EXPECT_EQ(timeGetTime(), 20u);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(timeGetTime(), 40u);
    EXPECT_EQ(timeGetTime(), 41u);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(timeGetTime(), 41u);   // after the recording: the last reading given stands
    // Time stamps on messages do not use up readings the program is owed.
    EXPECT_EQ(queueClockStamp(), 41u);
}

TEST_F(ReplayTest, RecordingEndsAfterItsLastFrameUnlessToldOtherwise) {
    useRecording("0 clock 1\n7 clock 9\n2 key A\n");
    platformOptions.headless = true;
    platformInitBackend();
    EXPECT_TRUE(platformQueue.frameLimited);
    EXPECT_EQ(platformQueue.frameLimit, 8);
    platformOptions.frames = 3;
    platformInitBackend();
    EXPECT_EQ(platformQueue.frameLimit, 3);
    // A plain script keeps the headless default.
    useRecording("2 key A\n");
    platformOptions.frames = PLATFORM_FRAMES_DEFAULT;
    platformInitBackend();
    EXPECT_EQ(platformQueue.frameLimit, PLATFORM_HEADLESS_FRAMES);
    testing::internal::CaptureStderr();
    platformFinish();
    testing::internal::GetCapturedStderr();
}

// ---- A session on the real queue, recorded and replayed --------------------------------------

// What the little program below saw: each message with the cursor it read while handling it.
struct Note {
    int frame;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    int cursorX, cursorY;
    bool operator==(const Note&) const = default;
};
struct Session {
    std::vector<Note> notes;
    std::vector<DWORD> readings;
    std::vector<int> answers;
};
Session session;

LRESULT sessionProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    POINT cursor = {};
    GetCursorPos(&cursor);
    session.notes.push_back(
        {platformQueue.framesCounted, message, wParam, lParam, cursor.x, cursor.y});
    if (message == WM_KEYDOWN && wParam == 'M') SetCursorPos(100, 50);   // as a mode switch does
    if (message == WM_KEYDOWN && wParam == 'Q') {
        session.answers.push_back(MessageBoxA(hwnd, "go on?", "Question", MB_OKCANCEL));
    }
    if (message == WM_DESTROY) PostQuitMessage(0);
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

// The person, as a back end reports them: each frame's events arrive at its first look at
// the queue, several at once where a person is quicker than a frame.
int pumpedFrame = -1;
void personPump() {
    const int frame = platformQueue.framesCounted;
    if (frame == pumpedFrame) return;
    pumpedFrame = frame;
    switch (frame) {
    case 1:
        backendPostKey('A', true, false);
        backendPostKey('A', false, false);
        break;
    case 2:   // two motions before the first is handled: it reads the cursor after both
        backendMoveCursorBy(5, 0);
        backendMoveCursorBy(7, 3);
        break;
    case 3:   // the key's handler moves the cursor while the motion is still queued
        backendPostKey('M', true, false);
        backendMoveCursorBy(4, 4);
        break;
    case 4: backendPostKey('Q', true, false); break;
    case 5:   // the close takes the window, and the key after it goes with it
        backendPostClose();
        backendPostKey('B', true, false);
        break;
    default: break;
    }
}

// The program's shape: a start-up clock reading, then frames that read the clock three times
// and re-centre the cursor, until WM_QUIT.
void runSession() {
    session = Session{};
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = sessionProc;
    wc.lpszClassName = "RecordTestClass";
    ASSERT_NE(RegisterClassExA(&wc), 0);
    ASSERT_NE(CreateWindowExA(0, "RecordTestClass", "t", WS_POPUP, 0, 0, 640, 480, nullptr,
                              nullptr, nullptr, nullptr),
              nullptr);
    const RECT screen = {0, 0, 640, 480};
    ClipCursor(&screen);
    session.readings.push_back(timeGetTime());
    MSG msg;
    for (int frames = 0; frames < 50;) {
        if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            // A little real time passes in every frame, so live readings differ.
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            for (int i = 0; i < 3; ++i) session.readings.push_back(timeGetTime());
            SetCursorPos(320, 240);
            ++frames;
            continue;
        }
        if (msg.message == WM_QUIT) break;
        DispatchMessageA(&msg);
    }
}

class RecordTest : public ::testing::Test {
protected:
    void SetUp() override {
        platformReset();
        pumpedFrame = -1;
        folder = std::filesystem::temp_directory_path() /
                 ("vorl-record-test-" + std::to_string(getpid()));
        std::filesystem::create_directories(folder);
    }
    void TearDown() override {
        platformReset();
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }

    // A live run: the person's events through the headless back end, the real clock.
    Session recordLive(const std::filesystem::path& file) {
        platformOptions.headless = true;
        platformOptions.answer = PLATFORM_ANSWER_CANCEL;
        char program[] = "vorl";
        char option[] = "-res";
        char value[] = "640x480";
        char* argv[] = {program, option, value, nullptr};
        std::string error;
        EXPECT_TRUE(recordBegin(file.string().c_str(), 3, argv, &error)) << error;
        platformInitBackend();
        platformBackend.pumpEvents = personPump;
        testing::internal::CaptureStderr();
        runSession();
        EXPECT_TRUE(platformFinish());
        testing::internal::GetCapturedStderr();
        return session;
    }

    Session replay(const std::filesystem::path& file, const std::filesystem::path& again = {}) {
        platformReset();
        std::string error;
        EXPECT_TRUE(scriptLoad(file.string().c_str(), &error)) << error;
        if (!again.empty()) {
            char program[] = "vorl";
            char* argv[] = {program, nullptr};
            EXPECT_TRUE(recordBegin(again.string().c_str(), 1, argv, &error)) << error;
        }
        platformOptions.headless = true;
        platformInitBackend();
        testing::internal::CaptureStderr();
        runSession();
        EXPECT_TRUE(platformFinish());
        const std::string printed = testing::internal::GetCapturedStderr();
        EXPECT_NE(printed.find("[Question] go on?"), std::string::npos) << printed;
        EXPECT_NE(printed.find("replay: "), std::string::npos) << printed;
        return session;
    }

    std::filesystem::path folder;
};

TEST_F(RecordTest, ReplayGivesTheProgramWhatTheLiveRunGaveIt) {
    const std::filesystem::path file = folder / "session.txt";
    const Session live = recordLive(file);
    const std::string text = readText(file);
    ASSERT_FALSE(text.empty());
    EXPECT_NE(text.find("# program arguments: -res 640x480\n"), std::string::npos) << text;
    const std::vector<std::string> lines = contentLines(text);
    auto has = [&](const std::string& line) {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    };
    // The first motion's message was handled with the cursor already past it.
    EXPECT_TRUE(has("2 move 325 240")) << text;
    EXPECT_TRUE(has("2 cursor 332 243")) << text;
    EXPECT_TRUE(has("2 move 332 243")) << text;
    EXPECT_TRUE(has("3 move 324 244")) << text;
    EXPECT_TRUE(has("3 cursor 100 50")) << text;
    EXPECT_TRUE(has("4 answer cancel")) << text;
    EXPECT_TRUE(has("5 close")) << text;
    EXPECT_FALSE(has("5 keydown B")) << "a message the close swept away is not in the recording";
    ASSERT_EQ(live.answers, std::vector<int>{IDCANCEL});

    // Replayed with nobody there, the default answer ok and another clock: the same run.
    const std::filesystem::path again = folder / "again.txt";
    const Session replayed = replay(file, again);
    EXPECT_EQ(replayed.notes, live.notes);
    EXPECT_EQ(replayed.readings, live.readings);
    EXPECT_EQ(replayed.answers, live.answers);
    // Recording the replay writes the recording again, line for line.
    EXPECT_EQ(contentLines(readText(again)), lines);
}

TEST_F(RecordTest, LongClockLinesAreSplitAndReadBackInOrder) {
    // A replayed frame read twenty times, recorded again: sixteen readings to a line.
    std::ostringstream line;
    line << "0 clock";
    for (int i = 1; i <= 20; ++i) line << ' ' << i * 3;
    line << '\n';
    const std::string text = line.str();
    PlatformScriptParts parts;
    std::string error;
    ASSERT_TRUE(scriptParseParts(text, "r.txt", &parts, &error)) << error;
    scriptSetParts(parts);
    const std::filesystem::path file = folder / "split.txt";
    char program[] = "vorl";
    char* argv[] = {program, nullptr};
    ASSERT_TRUE(recordBegin(file.string().c_str(), 1, argv, &error)) << error;
    for (int i = 1; i <= 20; ++i) ASSERT_EQ(timeGetTime(), static_cast<DWORD>(i * 3));
    ASSERT_TRUE(recordFinish(&error)) << error;
    const std::string written = readText(file);
    EXPECT_EQ(contentLines(written).size(), 2u) << written;
    PlatformScriptParts back;
    ASSERT_TRUE(scriptParseParts(written, "split.txt", &back, &error)) << error;
    ASSERT_EQ(back.clock.size(), 20u);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(back.clock[i].ms, static_cast<DWORD>((i + 1) * 3));
}

#if !defined(_WIN32)   // interrupts as POSIX signals
// An interrupt asks once for a clean end. The same signal a moment later (one sent to the
// program and to its process group arrives twice) is the same request; one that comes later
// ends the run at once, with the recording so far saved.
TEST_F(RecordTest, InterruptTwiceAtOnceIsOneRequestAndLaterEndsTheRun) {
    const std::filesystem::path file = folder / "interrupted.txt";
    char program[] = "vorl";
    char* argv[] = {program, nullptr};
    std::string error;
    ASSERT_TRUE(recordBegin(file.string().c_str(), 1, argv, &error)) << error;
    recordClockReading(0, 40);
    EXPECT_FALSE(recordTakeInterrupt());
    std::raise(SIGINT);
    std::raise(SIGINT);
    EXPECT_TRUE(recordTakeInterrupt());
    EXPECT_FALSE(recordTakeInterrupt());
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_EXIT(
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(400));
            std::raise(SIGINT);
        },
        testing::KilledBySignal(SIGINT), "the recording so far is in");
    EXPECT_NE(readText(file).find("0 clock 40"), std::string::npos) << readText(file);
}
#endif

}  // namespace
