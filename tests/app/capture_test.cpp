// Capture files: header, size, bottom-up rows and the 5-6-5 expansion, read from a real
// output of the rasterizer.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "app/capture.h"
#include "app/program.h"
#include "vexa/vexa.h"

namespace {

struct FlatVertex {
    float x, y, w, q, s0, t0, s1, t1;
    std::uint32_t colour, flags;
};

class CaptureTest : public ::testing::Test {
protected:
    void SetUp() override {
        vxInit();
        vxSelectDevice(0);
        context_ = vxOpenWindow(nullptr, VX_RES_640x480, VX_REFRESH_DEFAULT, VX_COLORFORMAT_ABGR,
                                VX_ORIGIN_UPPER_LEFT, 2, 1);
        ASSERT_NE(context_, 0u);
        resetCaptureState();
        path_ = std::filesystem::temp_directory_path() /
                (std::string("vorl-capture-") +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".tga");
    }
    void TearDown() override {
        freeCaptureBuffers();
        vxCloseWindow(context_);
        vxShutdown();
        std::filesystem::remove(path_);
    }
    std::string file() const {
        std::ifstream in(path_, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    // Fills rows [0, rows) with the constant colour (ABGR).
    void paintTopRows(int rows, std::uint32_t colour) {
        vxSetVertexLayout(VX_PARAM_XY, 0, VX_PARAM_ENABLE);
        vxSetVertexLayout(VX_PARAM_Q, 12, VX_PARAM_ENABLE);
        vxSetCullMode(VX_CULL_NONE);
        vxSetDepthMode(VX_DEPTH_DISABLE);
        vxSetFogMode(VX_FOG_DISABLE);
        vxSetClipWindow(0, 0, 640, 480);
        vxSetAlphaBlend(VX_BLEND_ONE, VX_BLEND_ZERO, VX_BLEND_ZERO, VX_BLEND_ZERO);
        vxSetColorCombine(VX_COMBINE_LOCAL, VX_FACTOR_ZERO, VX_LOCAL_CONSTANT, VX_OTHER_CONSTANT,
                          false);
        vxSetConstantColor(colour);
        const float h = static_cast<float>(rows);
        FlatVertex a{0, 0, 1, 1, 0, 0, 0, 0, 0, 0}, b{640, 0, 1, 1, 0, 0, 0, 0, 0, 0},
            c{640, h, 1, 1, 0, 0, 0, 0, 0, 0}, d{0, h, 1, 1, 0, 0, 0, 0, 0, 0};
        vxDrawTriangle(&a, &b, &c);
        vxDrawTriangle(&a, &c, &d);
    }
    VxContext context_ = 0;
    std::filesystem::path path_;
};

std::string bgr(int b, int g, int r) {
    return std::string{static_cast<char>(b), static_cast<char>(g), static_cast<char>(r)};
}

}  // namespace

TEST_F(CaptureTest, WholeScreenFileHasHeaderAndExpandedPixels) {
    vxClearBuffers(0xFFFFFFFF, 0, 0xFFFF);
    ASSERT_TRUE(setCaptureRect(0, 0, 640, 480));
    ASSERT_TRUE(writeCapture(path_.string().c_str()));
    const std::string bytes = file();
    ASSERT_EQ(bytes.size(), 921618u);
    const std::string header("\0\0\2\0\0\0\0\0\0\0\0\0\x80\x02\xE0\x01\x18\0", 18);
    EXPECT_EQ(bytes.substr(0, 18), header);
    EXPECT_EQ(bytes.substr(18, 3), bgr(0xF8, 0xFC, 0xF8));
    EXPECT_EQ(bytes.substr(bytes.size() - 3), bgr(0xF8, 0xFC, 0xF8));

    vxClearBuffers(0xFF0000FF, 0, 0xFFFF);  // pure red in ABGR
    ASSERT_TRUE(writeCapture(path_.string().c_str()));
    EXPECT_EQ(file().substr(18, 3), bgr(0, 0, 0xF8));
}

TEST_F(CaptureTest, RowsAreStoredBottomUpAndAnOddMiddleRowStays) {
    vxClearBuffers(0xFFFFFFFF, 0, 0xFFFF);
    paintTopRows(1, 0xFF0000FF);
    ASSERT_TRUE(setCaptureRect(0, 0, 2, 3));
    ASSERT_TRUE(writeCapture(path_.string().c_str()));
    const std::string bytes = file();
    ASSERT_EQ(bytes.size(), 18u + 2 * 3 * 3);
    const std::string white = bgr(0xF8, 0xFC, 0xF8);
    const std::string red = bgr(0, 0, 0xF8);
    EXPECT_EQ(bytes.substr(18), white + white + white + white + red + red);
}

TEST_F(CaptureTest, BurstNumbersFilesAndFailureReusesTheName) {
    vxClearBuffers(0, 0, 0xFFFF);
    program.capture.captureCount = 2;
    EXPECT_FALSE(writeCapture(path_.string().c_str())) << "no buffers yet";
    ASSERT_TRUE(setCaptureRect(0, 0, 8, 8));
    const auto cwd = std::filesystem::current_path();
    const auto scratch = std::filesystem::temp_directory_path() / "vorl-burst-test";
    std::filesystem::remove_all(scratch);
    std::filesystem::create_directories(scratch);
    std::filesystem::current_path(scratch);
    program.capture.remaining = program.capture.captureCount;
    captureBurstFrame();
    captureBurstFrame();
    captureBurstFrame();  // burst over: nothing
    EXPECT_TRUE(std::filesystem::exists("scrn0000.tga"));
    EXPECT_TRUE(std::filesystem::exists("scrn0001.tga"));
    EXPECT_FALSE(std::filesystem::exists("scrn0002.tga"));
    EXPECT_EQ(program.capture.nextIndex, 2);
    // A rectangle outside the output fails the read; the frame is used, the name is kept.
    program.capture.x = 700;
    program.capture.remaining = 1;
    captureBurstFrame();
    EXPECT_EQ(program.capture.remaining, 0);
    EXPECT_EQ(program.capture.nextIndex, 2);
    std::filesystem::current_path(cwd);
    std::filesystem::remove_all(scratch);
}
