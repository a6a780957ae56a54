// Window table, classes and focus; the virtual cursor and ClipCursor; frame metrics;
// headless message boxes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/platform.h"

namespace {

std::vector<UINT> messages;
LRESULT createResult = 0;

LRESULT recordingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    messages.push_back(message);
    if (message == WM_CREATE) {
        // The window exists and has the focus while it handles its creation.
        EXPECT_EQ(GetFocus(), hwnd);
        return createResult;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        platformReset();
        messages.clear();
        createResult = 0;
        WNDCLASSEXA wc = {};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = recordingProc;
        wc.lpszClassName = "WindowTestClass";
        ASSERT_NE(RegisterClassExA(&wc), 0);
    }
    void TearDown() override { platformReset(); }

    static HWND create(const char* className = "WindowTestClass") {
        return CreateWindowExA(0, className, "title", WS_POPUP, 0, 0, 800, 600, nullptr,
                               nullptr, nullptr, nullptr);
    }
};

TEST_F(WindowTest, CreateSendsCreateAndDestroySendsDestroy) {
    EXPECT_EQ(GetFocus(), nullptr);
    HWND hwnd = create();
    ASSERT_NE(hwnd, nullptr);
    EXPECT_EQ(messages, std::vector<UINT>{WM_CREATE});
    EXPECT_EQ(GetFocus(), hwnd);
    EXPECT_TRUE(ShowWindow(hwnd, SW_SHOWNORMAL));   // already shown at creation
    ASSERT_TRUE(DestroyWindow(hwnd));
    EXPECT_EQ(messages, (std::vector<UINT>{WM_CREATE, WM_DESTROY}));
    EXPECT_EQ(GetFocus(), nullptr);
    EXPECT_FALSE(DestroyWindow(hwnd));   // a second time: no such window
    EXPECT_EQ(messages.size(), 2u);
}

TEST_F(WindowTest, DefWindowProcDestroysOnClose) {
    HWND hwnd = create();
    ASSERT_NE(hwnd, nullptr);
    PostMessageA(hwnd, WM_CLOSE, 0, 0);
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    DispatchMessageA(&msg);
    EXPECT_EQ(messages, (std::vector<UINT>{WM_CREATE, WM_CLOSE, WM_DESTROY}));
    EXPECT_EQ(windowFromHandle(hwnd), nullptr);
    EXPECT_EQ(DefWindowProcA(nullptr, WM_KEYDOWN, 0, 0), 0);
}

TEST_F(WindowTest, RefusedCreationReturnsNullAndLeavesNoWindow) {
    createResult = -1;
    EXPECT_EQ(create(), nullptr);
    EXPECT_EQ(GetFocus(), nullptr);
    EXPECT_EQ(messages, (std::vector<UINT>{WM_CREATE, WM_DESTROY}));
    createResult = 0;
    EXPECT_NE(create(), nullptr);
}

TEST_F(WindowTest, ClassesAreUniqueAndStayWhileWindowsUseThem) {
    WNDCLASSEXA wc = {};
    wc.lpfnWndProc = recordingProc;
    wc.lpszClassName = "windowtestclass";   // class names ignore case
    EXPECT_EQ(RegisterClassExA(&wc), 0);
    EXPECT_EQ(create("NoSuchClass"), nullptr);
    HWND hwnd = create();
    ASSERT_NE(hwnd, nullptr);
    EXPECT_FALSE(UnregisterClassA("WindowTestClass", nullptr));
    DestroyWindow(hwnd);
    EXPECT_TRUE(UnregisterClassA("WindowTestClass", nullptr));
    EXPECT_EQ(create(), nullptr);
}

TEST_F(WindowTest, StaleAndForeignHandlesAreRejected) {
    HWND hwnd = create();
    PlatformWindow outside = {};
    outside.alive = true;
    EXPECT_EQ(windowFromHandle(&outside), nullptr);
    EXPECT_EQ(windowFromHandle(nullptr), nullptr);
    EXPECT_EQ(windowFromHandle(hwnd), hwnd);
    EXPECT_FALSE(PostMessageA(&outside, WM_KEYDOWN, 0, 0));
}

TEST_F(WindowTest, SetWindowTextChangesTheTitleOfALiveWindowOnly) {
    HWND hwnd = create();
    EXPECT_STREQ(hwnd->title, "title");
    ASSERT_TRUE(SetWindowTextA(hwnd, "Vorl - F1 lists the keys"));
    EXPECT_STREQ(hwnd->title, "Vorl - F1 lists the keys");
    EXPECT_TRUE(SetWindowTextA(hwnd, nullptr));
    EXPECT_STREQ(hwnd->title, "");
    PlatformWindow outside = {};
    outside.alive = true;
    EXPECT_FALSE(SetWindowTextA(&outside, "x"));
    ASSERT_TRUE(DestroyWindow(hwnd));
    EXPECT_FALSE(SetWindowTextA(hwnd, "x"));
}

TEST_F(WindowTest, PaintStateFollowsBeginPaint) {
    HWND hwnd = create();
    RECT r;
    ASSERT_TRUE(GetUpdateRect(hwnd, &r, FALSE));
    EXPECT_EQ(r.right, 800);
    EXPECT_EQ(r.bottom, 600);
    UpdateWindow(hwnd);
    EXPECT_EQ(messages.back(), WM_PAINT);
    PAINTSTRUCT ps;
    EXPECT_NE(BeginPaint(hwnd, &ps), nullptr);
    EndPaint(hwnd, &ps);
    EXPECT_FALSE(GetUpdateRect(hwnd, &r, FALSE));
    messages.clear();
    UpdateWindow(hwnd);
    EXPECT_TRUE(messages.empty());
    EXPECT_FALSE(IsIconic(hwnd));
}

TEST_F(WindowTest, AdjustWindowRectAddsFramesOnlyForDecoratedStyles) {
    RECT popup = {0, 0, 640, 480};
    AdjustWindowRectEx(&popup, WS_POPUP, FALSE, 0);
    EXPECT_EQ(popup.left, 0);
    EXPECT_EQ(popup.top, 0);
    EXPECT_EQ(popup.right, 640);
    EXPECT_EQ(popup.bottom, 480);
    RECT framed = {0, 0, 640, 480};
    AdjustWindowRectEx(&framed, WS_CAPTION | WS_THICKFRAME | WS_SYSMENU, FALSE, 0);
    EXPECT_LT(framed.left, 0);
    EXPECT_GT(framed.right, 640);
    EXPECT_GT(framed.bottom, 480);
    // The caption makes the top border thicker than the others.
    EXPECT_GT(-framed.top, framed.bottom - 480);
}

TEST_F(WindowTest, ClipCursorClampsTheVirtualCursorUntilFreed) {
    SetCursorPos(500, 500);
    RECT box = {100, 100, 200, 150};
    ClipCursor(&box);
    POINT p;
    GetCursorPos(&p);
    EXPECT_EQ(p.x, 199);   // right and bottom are outside the box
    EXPECT_EQ(p.y, 149);
    SetCursorPos(-5, 120);
    GetCursorPos(&p);
    EXPECT_EQ(p.x, 100);
    EXPECT_EQ(p.y, 120);
    ClipCursor(nullptr);
    SetCursorPos(-5, 900);
    GetCursorPos(&p);
    EXPECT_EQ(p.x, -5);
    EXPECT_EQ(p.y, 900);
}

TEST_F(WindowTest, ScreenMetricsFollowTheLastPresentedFrame) {
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 1024);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 768);
    std::vector<std::uint16_t> pixels(320 * 200, 0);
    framePresent(nullptr, nullptr, pixels.data(), 320, 200, 1);
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 320);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 200);
}

TEST_F(WindowTest, HeadlessMessageBoxPrintsOneLineAndAnswersFromTheOptions) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBoxA(nullptr, "first\r\nsecond", "Caption", MB_OKCANCEL), IDOK);
    platformOptions.answer = PLATFORM_ANSWER_CANCEL;
    EXPECT_EQ(MessageBoxA(nullptr, "quit?", "Ask", MB_OKCANCEL | MB_ICONQUESTION), IDCANCEL);
    // A box with only OK answers OK whatever the option says.
    EXPECT_EQ(MessageBoxA(nullptr, "done", "Note", MB_OK | MB_ICONINFORMATION), IDOK);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "[Caption] first second\n[Ask] quit?\n[Note] done\n");
}

}  // namespace
