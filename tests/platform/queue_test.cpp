// The shared message queue: order and PeekMessage semantics, WM_QUIT, dispatch, frame
// counting with a script, the --frames limit and the fixed clock.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/platform.h"

namespace {

struct Seen {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};
std::vector<Seen> seen;

LRESULT recordingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    seen.push_back({hwnd, message, wParam, lParam});
    if (message == WM_DESTROY) PostQuitMessage(5);
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

class QueueTest : public ::testing::Test {
protected:
    void SetUp() override {
        platformReset();
        seen.clear();
    }
    void TearDown() override { platformReset(); }

    HWND makeWindow() {
        WNDCLASSEXA wc = {};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = recordingProc;
        wc.lpszClassName = "QueueTestClass";
        EXPECT_NE(RegisterClassExA(&wc), 0);
        HWND hwnd = CreateWindowExA(0, "QueueTestClass", "t", WS_POPUP, 0, 0, 640, 480, nullptr,
                                    nullptr, nullptr, nullptr);
        EXPECT_NE(hwnd, nullptr);
        seen.clear();
        return hwnd;
    }

    void useScript(const char* text) {
        std::vector<PlatformScriptEvent> events;
        std::string error;
        ASSERT_TRUE(scriptParse(text, "test.txt", &events, &error)) << error;
        scriptSet(events);
    }

    // Runs the program's loop shape for `frames` frames: every message is taken and
    // dispatched; each "empty" answer is one frame. Returns the messages as
    // "frame:message" in arrival order; stops early at WM_QUIT.
    std::vector<std::string> runFrames(int frames, bool* quit = nullptr) {
        std::vector<std::string> arrivals;
        int frame = 0;
        if (quit) *quit = false;
        while (frame < frames) {
            MSG msg;
            if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                arrivals.push_back(std::to_string(frame) + ":" + std::to_string(msg.message));
                if (msg.message == WM_QUIT) {
                    if (quit) *quit = true;
                    break;
                }
                DispatchMessageA(&msg);
            } else {
                ++frame;
            }
        }
        return arrivals;
    }
};

TEST_F(QueueTest, MessagesArriveInPostingOrder) {
    HWND hwnd = makeWindow();
    for (UINT i = 0; i < 5; ++i) ASSERT_TRUE(PostMessageA(hwnd, WM_KEYDOWN, 'A' + i, i));
    MSG msg;
    for (UINT i = 0; i < 5; ++i) {
        ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
        EXPECT_EQ(msg.hwnd, hwnd);
        EXPECT_EQ(msg.message, WM_KEYDOWN);
        EXPECT_EQ(msg.wParam, 'A' + i);
        EXPECT_EQ(msg.lParam, static_cast<LPARAM>(i));
    }
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(QueueTest, NoRemoveLeavesTheMessageAtTheFront) {
    HWND hwnd = makeWindow();
    PostMessageA(hwnd, WM_KEYDOWN, 1, 0);
    PostMessageA(hwnd, WM_KEYUP, 2, 0);
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(msg.message, WM_KEYDOWN);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_KEYDOWN);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_KEYUP);
}

TEST_F(QueueTest, RangeFilterTakesFromTheMiddleAndKeepsTheRestInOrder) {
    HWND hwnd = makeWindow();
    PostMessageA(hwnd, WM_KEYDOWN, 1, 0);
    PostMessageA(hwnd, WM_MOUSEMOVE, 2, 0);
    PostMessageA(hwnd, WM_KEYUP, 3, 0);
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_MOUSEMOVE, WM_RBUTTONUP, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 2u);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, WM_MOUSEMOVE, WM_RBUTTONUP, PM_REMOVE));
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 1u);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 3u);
    // A filtered look at an empty queue is no frame.
    EXPECT_EQ(platformQueue.framesCounted, 0);
}

TEST_F(QueueTest, QuitComesAfterEverythingElseWithItsCode) {
    HWND hwnd = makeWindow();
    PostQuitMessage(42);
    PostMessageA(hwnd, WM_KEYDOWN, 1, 0);
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_KEYDOWN);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_QUIT);
    EXPECT_EQ(msg.wParam, 42u);
    EXPECT_EQ(msg.hwnd, nullptr);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(QueueTest, DispatchCallsTheClassProcedureAndDropsWindowlessMessages) {
    HWND hwnd = makeWindow();
    MSG msg = {};
    msg.hwnd = hwnd;
    msg.message = WM_KEYDOWN;
    msg.wParam = 'Q';
    DispatchMessageA(&msg);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].hwnd, hwnd);
    EXPECT_EQ(seen[0].wParam, static_cast<WPARAM>('Q'));
    msg.hwnd = nullptr;
    EXPECT_EQ(DispatchMessageA(&msg), 0);
    EXPECT_EQ(seen.size(), 1u);
    EXPECT_FALSE(TranslateMessage(&msg));
}

TEST_F(QueueTest, PostingToAWindowThatIsGoneFails) {
    HWND hwnd = makeWindow();
    PostMessageA(hwnd, WM_KEYDOWN, 1, 0);
    ASSERT_TRUE(DestroyWindow(hwnd));
    EXPECT_FALSE(PostMessageA(hwnd, WM_KEYDOWN, 2, 0));
    // What was queued for it went with it; only the quit from WM_DESTROY is left.
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_QUIT);
}

TEST_F(QueueTest, FullQueueRefusesInsteadOfOverwriting) {
    HWND hwnd = makeWindow();
    for (int i = 0; i < PLATFORM_QUEUE_CAPACITY; ++i) {
        ASSERT_TRUE(PostMessageA(hwnd, WM_KEYDOWN, static_cast<WPARAM>(i), 0));
    }
    EXPECT_FALSE(PostMessageA(hwnd, WM_KEYDOWN, 99999, 0));
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 0u);
    // Room again after one is taken, and the ring wraps in order.
    ASSERT_TRUE(PostMessageA(hwnd, WM_KEYUP, 7, 0));
    for (int i = 1; i < PLATFORM_QUEUE_CAPACITY; ++i) {
        ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
        ASSERT_EQ(msg.wParam, static_cast<WPARAM>(i));
    }
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_KEYUP);
}

TEST_F(QueueTest, ScriptMessagesArriveBeforeTheirFrameIsDrawn) {
    makeWindow();
    useScript("2 keydown UP\n0 keydown LEFT\n0 keyup LEFT\n2 keyup UP\n");
    const std::vector<std::string> arrivals = runFrames(4);
    const std::vector<std::string> expected = {
        "0:" + std::to_string(WM_KEYDOWN), "0:" + std::to_string(WM_KEYUP),
        "2:" + std::to_string(WM_KEYDOWN), "2:" + std::to_string(WM_KEYUP)};
    EXPECT_EQ(arrivals, expected);
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[0].wParam, static_cast<WPARAM>(VK_LEFT));
    EXPECT_EQ(seen[2].wParam, static_cast<WPARAM>(VK_UP));
    EXPECT_EQ(platformQueue.framesCounted, 4);
}

TEST_F(QueueTest, FindingThatQueuesScriptMessagesIsNotAFrame) {
    makeWindow();
    useScript("0 key A\n");
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(platformQueue.framesCounted, 0);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(platformQueue.framesCounted, 1);
}

TEST_F(QueueTest, ScriptedMouseMovesTheCursorAsItIsTaken) {
    makeWindow();
    useScript("1 move 10 20\n1 lbutton down 300 -4\n");
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));   // frame 0
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    POINT p;
    GetCursorPos(&p);
    EXPECT_EQ(msg.message, WM_MOUSEMOVE);
    EXPECT_EQ(p.x, 10);
    EXPECT_EQ(p.y, 20);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    GetCursorPos(&p);
    EXPECT_EQ(msg.message, WM_LBUTTONDOWN);
    EXPECT_EQ(static_cast<short>(LOWORD(msg.lParam)), 300);
    EXPECT_EQ(static_cast<short>(HIWORD(msg.lParam)), -4);
    EXPECT_EQ(p.x, 300);
    EXPECT_EQ(p.y, -4);
}

TEST_F(QueueTest, FrameLimitClosesTheWindowAfterThatManyFrames) {
    makeWindow();
    queueConfigure(3, false, 0);
    bool quit = false;
    const std::vector<std::string> arrivals = runFrames(100, &quit);
    EXPECT_TRUE(quit);
    EXPECT_EQ(platformQueue.framesCounted, 3);
    ASSERT_GE(arrivals.size(), 2u);
    EXPECT_EQ(arrivals[0], "3:" + std::to_string(WM_CLOSE));
    ASSERT_GE(seen.size(), 2u);
    EXPECT_EQ(seen[0].message, WM_CLOSE);
    EXPECT_EQ(seen[1].message, WM_DESTROY);   // DefWindowProc destroyed it
    EXPECT_EQ(GetFocus(), nullptr);
}

TEST_F(QueueTest, FrameLimitWithoutAWindowStillEndsTheRun) {
    queueConfigure(0, false, 0);
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_QUIT);
}

TEST_F(QueueTest, FixedClockStepsOncePerFrame) {
    makeWindow();
    queueConfigure(-1, true, 16);
    useScript("1 key A\n");
    EXPECT_EQ(timeGetTime(), 0u);
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(timeGetTime(), 16u);
    // Taking scripted messages, and the finding that queued them, do not move the clock.
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(timeGetTime(), 16u);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(timeGetTime(), 32u);
    EXPECT_EQ(timeGetTime(), 32u);
}

}  // namespace
