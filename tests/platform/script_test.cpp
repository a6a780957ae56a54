// The input script: what each verb queues, key names, mouse packing, and malformed lines
// refused with "file:line: reason".
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace {

std::vector<PlatformScriptEvent> parseOk(const char* text) {
    std::vector<PlatformScriptEvent> events;
    std::string error;
    EXPECT_TRUE(scriptParse(text, "s.txt", &events, &error)) << error;
    return events;
}

std::string parseError(const char* text) {
    std::vector<PlatformScriptEvent> events;
    std::string error;
    EXPECT_FALSE(scriptParse(text, "s.txt", &events, &error)) << text;
    EXPECT_TRUE(events.empty());
    return error;
}

TEST(ScriptKeys, NamesLettersDigitsAndNumbers) {
    EXPECT_EQ(scriptKeyCode("a"), 'A');
    EXPECT_EQ(scriptKeyCode("Z"), 'Z');
    EXPECT_EQ(scriptKeyCode("7"), '7');
    EXPECT_EQ(scriptKeyCode("SHIFT"), VK_SHIFT);
    EXPECT_EQ(scriptKeyCode("ESCAPE"), VK_ESCAPE);
    EXPECT_EQ(scriptKeyCode("RETURN"), VK_RETURN);
    EXPECT_EQ(scriptKeyCode("HOME"), VK_HOME);
    EXPECT_EQ(scriptKeyCode("END"), VK_END);
    EXPECT_EQ(scriptKeyCode("F1"), VK_F1);
    EXPECT_EQ(scriptKeyCode("F2"), VK_F2);
    EXPECT_EQ(scriptKeyCode("f4"), VK_F4);
    EXPECT_EQ(scriptKeyCode("F12"), 0x7B);
    EXPECT_EQ(scriptKeyCode("LEFT"), VK_LEFT);
    EXPECT_EQ(scriptKeyCode("RIGHT"), VK_RIGHT);
    EXPECT_EQ(scriptKeyCode("UP"), VK_UP);
    EXPECT_EQ(scriptKeyCode("DOWN"), VK_DOWN);
    EXPECT_EQ(scriptKeyCode("PLUS"), 0xBB);
    EXPECT_EQ(scriptKeyCode("MINUS"), 0xBD);
    EXPECT_EQ(scriptKeyCode("13"), VK_RETURN);   // two digits or more: the code itself
    EXPECT_EQ(scriptKeyCode("0x25"), VK_LEFT);
    EXPECT_EQ(scriptKeyCode("256"), 0);
    EXPECT_EQ(scriptKeyCode("00"), 0);
    EXPECT_EQ(scriptKeyCode("F13"), 0);
    EXPECT_EQ(scriptKeyCode("F0"), 0);
    EXPECT_EQ(scriptKeyCode("-"), 0);
    EXPECT_EQ(scriptKeyCode(""), 0);
}

TEST(ScriptParse, VerbsBecomeWindowsMessages) {
    const auto events = parseOk(
        "# a comment line\n"
        "\n"
        "0 key a   # trailing comment\n"
        "1 keydown SHIFT\n"
        "1 keyup SHIFT\n"
        "2 move 5 6\n"
        "3 lbutton down 7 8\n"
        "3 lbutton up 7 8\n"
        "4 rbutton down 1 2\n"
        "4 rbutton up 1 2\n"
        "9 close\n");
    const std::vector<UINT> expected = {WM_KEYDOWN,     WM_KEYUP,       WM_KEYDOWN,
                                        WM_KEYUP,       WM_MOUSEMOVE,   WM_LBUTTONDOWN,
                                        WM_LBUTTONUP,   WM_RBUTTONDOWN, WM_RBUTTONUP,
                                        WM_CLOSE};
    ASSERT_EQ(events.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(events[i].message, expected[i]);
    EXPECT_EQ(events[0].wParam, static_cast<WPARAM>('A'));
    EXPECT_EQ(events[0].frame, 0);
    EXPECT_EQ(events[1].wParam, static_cast<WPARAM>('A'));
    EXPECT_EQ(events[2].wParam, static_cast<WPARAM>(VK_SHIFT));
    EXPECT_EQ(events[3].line, 5);
    EXPECT_EQ(events[9].frame, 9);
    // Key-up carries Windows' transition and previous-state bits; key-down does not.
    EXPECT_EQ(events[1].lParam & 0xC0000000, 0xC0000000);
    EXPECT_EQ(events[0].lParam & 0xC0000000, 0);
}

TEST(ScriptParse, MousePositionsPackLowXHighSignedY) {
    const auto events = parseOk("0 move 1023 -1\n0 lbutton down -2 32767\n");
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(LOWORD(events[0].lParam), 1023);
    EXPECT_EQ(HIWORD(events[0].lParam), 0xFFFF);
    EXPECT_EQ(static_cast<short>(HIWORD(events[0].lParam)), -1);
    EXPECT_EQ(static_cast<short>(LOWORD(events[1].lParam)), -2);
    EXPECT_EQ(static_cast<short>(HIWORD(events[1].lParam)), 32767);
    EXPECT_EQ(events[0].lParam, MAKELPARAM(1023, -1));
    EXPECT_TRUE(events[0].mouse);
    EXPECT_EQ(events[1].x, -2);
}

TEST(ScriptParse, MalformedLinesNameFileLineAndReason) {
    EXPECT_EQ(parseError("0 key A\n\n3 jump 4\n"), "s.txt:3: unknown verb 'jump'");
    EXPECT_EQ(parseError("0 key F13\n"), "s.txt:1: unknown key 'F13'");
    EXPECT_EQ(parseError("-1 key A\n"), "s.txt:1: negative frame number '-1'");
    EXPECT_EQ(parseError("x key A\n"), "s.txt:1: bad frame number 'x'");
    EXPECT_EQ(parseError("5\n"), "s.txt:1: missing verb after the frame number");
    EXPECT_EQ(parseError("# ok\n2 key\n"), "s.txt:2: missing arguments: expected KEY");
    EXPECT_EQ(parseError("2 move 3\n"), "s.txt:1: missing arguments: expected X Y");
    EXPECT_EQ(parseError("2 close now\n"), "s.txt:1: too many arguments: close takes none");
    EXPECT_EQ(parseError("2 lbutton press 1 2\n"),
              "s.txt:1: expected down or up, not 'press'");
    EXPECT_NE(parseError("2 move 3 y\n").find("s.txt:1: bad position"), std::string::npos);
    EXPECT_NE(parseError("2 move 40000 1\n").find("s.txt:1: bad position"), std::string::npos);
    EXPECT_NE(parseError("99999999999 key A\n").find("s.txt:1: bad frame"), std::string::npos);
}

TEST(ScriptLoad, UnreadableFileIsRefusedWithItsName) {
    std::string error;
    EXPECT_FALSE(scriptLoad("no-such-directory/no-such-script.txt", &error));
    EXPECT_EQ(error.rfind("no-such-directory/no-such-script.txt:0: cannot read", 0), 0u) << error;
}

TEST(ScriptLoad, FileEventsAreQueuedInFrameOrderKeepingFileOrder) {
    platformReset();
    const char* path = "script_test_input.txt";
    std::FILE* f = std::fopen(path, "w");
    ASSERT_NE(f, nullptr);
    std::fputs("3 key B\n1 keydown C\n3 move 1 1\n1 keyup C\n", f);
    std::fclose(f);
    std::string error;
    ASSERT_TRUE(scriptLoad(path, &error)) << error;
    std::remove(path);
    const auto& ev = platformScript.events;
    ASSERT_EQ(ev.size(), 5u);
    EXPECT_EQ(ev[0].frame, 1);
    EXPECT_EQ(ev[0].message, WM_KEYDOWN);
    EXPECT_EQ(ev[1].message, WM_KEYUP);
    EXPECT_EQ(ev[2].wParam, static_cast<WPARAM>('B'));
    EXPECT_EQ(ev[4].message, WM_MOUSEMOVE);
    EXPECT_EQ(scriptQueueUpTo(0), 0);
    EXPECT_EQ(scriptQueueUpTo(2), 2);
    EXPECT_EQ(platformQueue.count, 2);
    platformReset();
}

}  // namespace

// A line beyond SCRIPT_LINE_MAX bytes is refused with its number; a file with no line end at
// all (a device that never ends one, --input /dev/zero) is refused at its first line without
// being read any further. A line of exactly the limit is still read.
TEST(ScriptLoad, OverLongLinesAreRefusedWithoutReadingOn) {
    const std::string longest = "1 key A" + std::string(SCRIPT_LINE_MAX - 7, ' ');
    EXPECT_EQ(parseOk((longest + "\n2 key B").c_str()).size(), 4u);
    EXPECT_EQ(parseError(("1 key A\n" + longest + "#\n").c_str()),
              "s.txt:2: line longer than 4096 bytes");
    EXPECT_EQ(parseError(("1 key A\n# " + std::string(100000, 'x')).c_str()),
              "s.txt:2: line longer than 4096 bytes");

    std::FILE* zeros = std::fopen("/dev/zero", "rb");
    if (zeros == nullptr) GTEST_SKIP() << "no /dev/zero";
    std::fclose(zeros);
    std::string error;
    EXPECT_FALSE(scriptLoad("/dev/zero", &error));
    EXPECT_EQ(error, "/dev/zero:1: line longer than 4096 bytes");
}
