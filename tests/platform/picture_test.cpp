// Pictures as saved files: the TGA's exact layout, a PNG with the same pixels, the --png
// option, and saves that fail without leaving anything behind.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/platform/picture_read.h"

namespace {

class PictureTest : public ::testing::Test {
protected:
    void SetUp() override {
        platformOptions = PlatformOptions{};
        folder_ = std::filesystem::temp_directory_path() /
                  (std::string("vorl-picture-") +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override {
        platformOptions = PlatformOptions{};
        std::filesystem::remove_all(folder_);
    }
    std::string path(const char* name) const { return (folder_ / name).string(); }
    std::vector<std::string> files() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(folder_)) {
            names.push_back(e.path().filename().string());
        }
        return names;
    }

    std::filesystem::path folder_;
};

// 3 x 2 pixels, blue green red, bottom row first: every byte different.
const std::vector<std::uint8_t> PIXELS = {
    1, 2, 3,    4, 5, 6,    7, 8, 9,      // bottom row
    10, 20, 30, 40, 50, 60, 70, 80, 90,   // top row
};

std::string readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

TEST_F(PictureTest, TgaHoldsTheHeaderAndTheBytesAsGiven) {
    EXPECT_STREQ(pictureExtension(), "tga");
    char reason[SAVE_REASON_MAX] = "";
    ASSERT_TRUE(savePicture(path("a.tga").c_str(), PIXELS.data(), 3, 2, reason, sizeof reason))
        << reason;
    const std::string bytes = readBytes(path("a.tga"));
    const std::string header("\0\0\2\0\0\0\0\0\0\0\0\0\3\0\2\0\30\0", 18);
    EXPECT_EQ(bytes.substr(0, 18), header);
    EXPECT_EQ(bytes.substr(18), std::string(PIXELS.begin(), PIXELS.end()));
    const RgbPicture read = readTgaPicture(path("a.tga"));
    ASSERT_EQ(read.width, 3);
    // Top-left pixel, red first.
    EXPECT_EQ(read.rgb[0], 30);
    EXPECT_EQ(read.rgb[2], 10);
}

#if VORL_HAVE_PNG
TEST_F(PictureTest, PngUnderTheOptionHasTheTgasPixels) {
    char reason[SAVE_REASON_MAX] = "";
    ASSERT_TRUE(savePicture(path("a.tga").c_str(), PIXELS.data(), 3, 2, reason, sizeof reason));
    platformOptions.png = true;
    EXPECT_STREQ(pictureExtension(), "png");
    ASSERT_TRUE(savePicture(path("a.png").c_str(), PIXELS.data(), 3, 2, reason, sizeof reason))
        << reason;
    EXPECT_EQ(readBytes(path("a.png")).substr(0, 8), "\x89PNG\r\n\x1a\n");
    const RgbPicture png = readPngPicture(path("a.png"));
    EXPECT_EQ(png.width, 3);
    EXPECT_EQ(png.height, 2);
    EXPECT_EQ(png, readTgaPicture(path("a.tga")));

    // A frame-sized picture with every pixel different goes through libpng's row filters.
    const int width = 640, height = 480;
    std::vector<std::uint8_t> noise(static_cast<std::size_t>(width) * height * 3);
    std::uint32_t state = 12345;
    for (std::uint8_t& b : noise) {
        state = state * 1664525u + 1013904223u;
        b = static_cast<std::uint8_t>(state >> 24);
    }
    ASSERT_TRUE(savePicture(path("b.png").c_str(), noise.data(), width, height, reason,
                            sizeof reason));
    platformOptions.png = false;
    ASSERT_TRUE(savePicture(path("b.tga").c_str(), noise.data(), width, height, reason,
                            sizeof reason));
    EXPECT_EQ(readPngPicture(path("b.png")), readTgaPicture(path("b.tga")));
}
#endif

TEST_F(PictureTest, FailedSavesSayWhyAndLeaveNothing) {
    for (const bool png : {false, true}) {
#if !VORL_HAVE_PNG
        if (png) continue;
#endif
        platformOptions.png = png;
        char reason[SAVE_REASON_MAX] = "";
        const std::string missing = path("no-such-folder/x");
        EXPECT_FALSE(savePicture(missing.c_str(), PIXELS.data(), 3, 2, reason, sizeof reason));
        EXPECT_NE(std::string(reason).find("cannot create a file there"), std::string::npos)
            << reason;
        reason[0] = '\0';
        EXPECT_FALSE(savePicture(path("empty").c_str(), nullptr, 3, 2, reason, sizeof reason));
        EXPECT_STREQ(reason, "there is no picture");
        EXPECT_FALSE(savePicture(path("wide").c_str(), PIXELS.data(), 70000, 1, reason,
                                 sizeof reason));
        EXPECT_STREQ(reason, "the picture is too large");
        EXPECT_TRUE(files().empty());
    }
}

TEST_F(PictureTest, PngOptionIsTakenOrRefusedByTheBuild) {
    std::string first = "vorl", option = "--png", res = "-res";
    char* argv[] = {first.data(), option.data(), res.data()};
    PlatformOptions options;
    std::vector<char*> rest;
    std::string error;
    const int result = platformParseOptions(3, argv, &options, &rest, &error);
#if VORL_HAVE_PNG
    ASSERT_EQ(result, PLATFORM_PARSE_OK) << error;
    EXPECT_TRUE(options.png);
    EXPECT_EQ(rest.size(), 2u) << "the program's own options pass through";
#else
    EXPECT_EQ(result, PLATFORM_PARSE_ERROR);
    EXPECT_NE(error.find("TGA only"), std::string::npos) << error;
#endif
    EXPECT_NE(platformHelpText(nullptr).find("--png"), std::string::npos);
}

// A refusal names what was refused, is cut to the room it has and always ended, and writes
// nothing where no reason was asked for.
TEST(Reasons, ARefusalNamesItsFileAndFitsItsRoom) {
    char reason[32];
    EXPECT_FALSE(refuseNamed(reason, sizeof reason, "hills.png", "%d x %d", 3, 2));
    EXPECT_STREQ(reason, "hills.png: 3 x 2");
    EXPECT_FALSE(refuseNamed(reason, 12, "a-long-file-name.txt", "why"));
    EXPECT_EQ(std::strlen(reason), 11u);
    char small[8] = "kept";
    EXPECT_FALSE(refuseNamed(small, 0, "x", "y"));
    EXPECT_STREQ(small, "kept");
    EXPECT_FALSE(refuseNamed(nullptr, 10, "x", "y"));
}
