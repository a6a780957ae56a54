// Grey images read for their values: PNG (8 and 16 bits, grey, colour, palette, interlaced)
// and TGA (grey, colour, both row orders), rows top first, colour weighed into grey, and the
// refusals: a missing file, a file that is no image, an image past the reader's cap.
#include <gtest/gtest.h>

#include <csetjmp>
#include <string>
#include <vector>

#include "tests/texture/tga_files.h"
#include "texture/greyimage.h"

#if VORL_HAVE_PNG
#include <png.h>
#endif

namespace {

struct GreyImageOwner {
    GreyImage image = {};
    ~GreyImageOwner() { freeGreyImage(image); }
};

std::uint16_t sampleAt(const GreyImage& image, int x, int y) {
    return image.samples[static_cast<std::size_t>(y) * image.width + x];
}

#if VORL_HAVE_PNG
// Writes a PNG of `rows` (already in the colour type's layout, 8 or 16 bits big-endian).
bool writePng(const std::string& path, int width, int height, int depth, int colourType,
              const std::vector<Bytes>& rows, int interlace = PNG_INTERLACE_NONE,
              const std::vector<png_color>& palette = {}) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(file);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, width, height, depth, colourType, interlace,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!palette.empty()) png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
    png_write_info(png, info);
    const int passes = png_set_interlace_handling(png);
    for (int pass = 0; pass < passes; ++pass) {
        for (const Bytes& row : rows) png_write_row(png, row.data());
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
    return true;
}
#endif

}  // namespace

TEST(GreyImage, ColourIsWeighedIntoGreyAndGreyStaysAsItIs) {
    EXPECT_EQ(greyOf(0, 0, 0), 0u);
    EXPECT_EQ(greyOf(255, 255, 255), 255u);
    EXPECT_EQ(greyOf(65535, 65535, 65535), 65535u);
    EXPECT_EQ(greyOf(200, 200, 200), 200u);
    // Green weighs most, blue least: pure colours stay in that order.
    EXPECT_GT(greyOf(0, 255, 0), greyOf(255, 0, 0));
    EXPECT_GT(greyOf(255, 0, 0), greyOf(0, 0, 255));
    EXPECT_EQ(greyOf(255, 0, 0), 76u);   // 0.299 of 255, rounded
}

TEST(GreyImage, TgaRowsComeTopFirstWhicheverWayTheFileStoresThem) {
    ScratchDir dir;
    // Three rows of grey 10, 20, 30 as stored in the file.
    TgaLayout layout;
    layout.imageType = 3;
    layout.bitsPerPixel = 8;
    layout.width = 2;
    layout.height = 3;
    const Bytes pixels = {10, 10, 20, 20, 30, 30};
    Bytes bottomUp = tgaFile(layout, pixels);
    Bytes topDown = bottomUp;
    topDown[17] = 0x20;   // the first row stored is the top one
    GreyImageOwner a, b;
    char reason[IMAGE_REASON_MAX];
    ASSERT_TRUE(readGreyImage(dir.write("up.tga", bottomUp).c_str(), a.image, reason, sizeof reason))
        << reason;
    ASSERT_TRUE(readGreyImage(dir.write("down.tga", topDown).c_str(), b.image, reason, sizeof reason))
        << reason;
    EXPECT_EQ(a.image.width, 2);
    EXPECT_EQ(a.image.height, 3);
    EXPECT_EQ(a.image.maxValue, 255);
    EXPECT_EQ(sampleAt(a.image, 0, 0), 30);   // a bottom-up file's last row is the top
    EXPECT_EQ(sampleAt(a.image, 1, 2), 10);
    EXPECT_EQ(sampleAt(b.image, 0, 0), 10);
    EXPECT_EQ(sampleAt(b.image, 1, 2), 30);

    // A colour TGA is weighed into grey.
    TgaLayout colour;
    colour.width = 1;
    colour.height = 1;
    GreyImageOwner c;
    ASSERT_TRUE(readGreyImage(dir.write("c.tga", tgaFile(colour, {0, 0, 255})).c_str(), c.image,
                              reason, sizeof reason));
    EXPECT_EQ(sampleAt(c.image, 0, 0), greyOf(255, 0, 0));
}

#if VORL_HAVE_PNG
TEST(GreyImage, PngSamplesKeepTheirDepthAndComeTopFirst) {
    ScratchDir dir;
    GreyImageOwner grey16, grey8, rgb, indexed, laced, alpha;
    char reason[IMAGE_REASON_MAX];
    // 16-bit grey: every sample keeps all its bits.
    const std::string g16 = dir.path("g16.png");
    ASSERT_TRUE(writePng(g16, 2, 2, 16, PNG_COLOR_TYPE_GRAY, {{0x01, 0x02, 0xFF, 0xFF}, {0, 0, 0x80, 0x01}}));
    ASSERT_TRUE(readGreyImage(g16.c_str(), grey16.image, reason, sizeof reason)) << reason;
    EXPECT_EQ(grey16.image.maxValue, 65535);
    EXPECT_EQ(sampleAt(grey16.image, 0, 0), 0x0102);
    EXPECT_EQ(sampleAt(grey16.image, 1, 0), 0xFFFF);
    EXPECT_EQ(sampleAt(grey16.image, 0, 1), 0);
    EXPECT_EQ(sampleAt(grey16.image, 1, 1), 0x8001);
    // 8-bit grey.
    const std::string g8 = dir.path("g8.png");
    ASSERT_TRUE(writePng(g8, 3, 1, 8, PNG_COLOR_TYPE_GRAY, {{0, 128, 255}}));
    ASSERT_TRUE(readGreyImage(g8.c_str(), grey8.image, reason, sizeof reason)) << reason;
    EXPECT_EQ(grey8.image.maxValue, 255);
    EXPECT_EQ(sampleAt(grey8.image, 1, 0), 128);
    EXPECT_EQ(sampleAt(grey8.image, 2, 0), 255);
    // Colour, 16 bits: weighed like 8-bit colour.
    const std::string c16 = dir.path("c16.png");
    ASSERT_TRUE(writePng(c16, 1, 1, 16, PNG_COLOR_TYPE_RGB, {{0xFF, 0xFF, 0, 0, 0, 0}}));
    ASSERT_TRUE(readGreyImage(c16.c_str(), rgb.image, reason, sizeof reason)) << reason;
    EXPECT_EQ(sampleAt(rgb.image, 0, 0), greyOf(65535, 0, 0));
    // A palette image: the palette's colours, weighed.
    const std::string pal = dir.path("pal.png");
    ASSERT_TRUE(writePng(pal, 2, 1, 8, PNG_COLOR_TYPE_PALETTE, {{1, 0}}, PNG_INTERLACE_NONE,
                         {{0, 0, 0}, {0, 255, 0}}));
    ASSERT_TRUE(readGreyImage(pal.c_str(), indexed.image, reason, sizeof reason)) << reason;
    EXPECT_EQ(sampleAt(indexed.image, 0, 0), greyOf(0, 255, 0));
    EXPECT_EQ(sampleAt(indexed.image, 1, 0), 0);
    // Interlaced: the same samples as written row by row.
    std::vector<Bytes> rows;
    for (int y = 0; y < 9; ++y) {
        Bytes row;
        for (int x = 0; x < 11; ++x) row.push_back(static_cast<std::uint8_t>(x * 20 + y));
        rows.push_back(row);
    }
    const std::string adam = dir.path("adam7.png");
    ASSERT_TRUE(writePng(adam, 11, 9, 8, PNG_COLOR_TYPE_GRAY, rows, PNG_INTERLACE_ADAM7));
    ASSERT_TRUE(readGreyImage(adam.c_str(), laced.image, reason, sizeof reason)) << reason;
    for (int y = 0; y < 9; ++y) {
        for (int x = 0; x < 11; ++x) ASSERT_EQ(sampleAt(laced.image, x, y), x * 20 + y) << x << "," << y;
    }
    // Alpha is ignored.
    const std::string ga = dir.path("ga.png");
    ASSERT_TRUE(writePng(ga, 1, 1, 8, PNG_COLOR_TYPE_GRAY_ALPHA, {{77, 0}}));
    ASSERT_TRUE(readGreyImage(ga.c_str(), alpha.image, reason, sizeof reason)) << reason;
    EXPECT_EQ(sampleAt(alpha.image, 0, 0), 77);
}

TEST(GreyImage, APngPastTheCapIsRefusedBeforeItsRowsAreRead) {
    ScratchDir dir;
    const std::string big = dir.path("big.png");
    const int side = 4097;   // 4097 x 4097 samples: one row and one column past 4096 x 4096
    ASSERT_TRUE(writePng(big, side, side, 8, PNG_COLOR_TYPE_GRAY,
                         std::vector<Bytes>(side, Bytes(side, 7))));
    GreyImageOwner owner;
    char reason[IMAGE_REASON_MAX];
    EXPECT_FALSE(readGreyImage(big.c_str(), owner.image, reason, sizeof reason));
    EXPECT_EQ(std::string(reason), big + ": the image is 4097 x 4097 pixels, more than the reader "
                                         "takes (16777216)");
    EXPECT_EQ(owner.image.samples, nullptr);
    // A PNG cut short is refused with libpng's reason.
    const std::string whole = dir.path("whole.png");
    ASSERT_TRUE(writePng(whole, 64, 64, 8, PNG_COLOR_TYPE_GRAY, std::vector<Bytes>(64, Bytes(64, 9))));
    std::string bytes = dir.read("whole.png");
    dir.write("cut.png", Bytes(bytes.begin(), bytes.begin() + static_cast<long>(bytes.size() / 2)));
    EXPECT_FALSE(readGreyImage(dir.path("cut.png").c_str(), owner.image, reason, sizeof reason));
    EXPECT_EQ(std::string(reason).rfind(dir.path("cut.png") + ": not a readable PNG (", 0), 0u)
        << reason;
    EXPECT_EQ(owner.image.samples, nullptr);
}
#endif

TEST(GreyImage, MissingFilesAndOtherFilesAreRefusedWithTheirReason) {
    ScratchDir dir;
    GreyImageOwner owner;
    char reason[IMAGE_REASON_MAX];
    const std::string missing = dir.path("missing.png");
    EXPECT_FALSE(readGreyImage(missing.c_str(), owner.image, reason, sizeof reason));
    EXPECT_EQ(std::string(reason), missing + ": cannot open it (No such file or directory)");
    // Text is neither a PNG nor a TGA: the TGA reader says what it found.
    const std::string text = dir.write("notes.txt", Bytes{'h', 'e', 'l', 'l', 'o', '\n'});
    EXPECT_FALSE(readGreyImage(text.c_str(), owner.image, reason, sizeof reason));
    EXPECT_EQ(std::string(reason).rfind(text + ": ", 0), 0u) << reason;
    EXPECT_EQ(owner.image.samples, nullptr);
    // A TGA past the cap is refused by its header.
    TgaLayout layout;
    layout.imageType = 3;
    layout.bitsPerPixel = 8;
    layout.width = 5000;
    layout.height = 5000;
    const std::string big = dir.write("big.tga", tgaHeader(layout));
    EXPECT_FALSE(readGreyImage(big.c_str(), owner.image, reason, sizeof reason));
    EXPECT_NE(std::string(reason).find("more than the reader takes"), std::string::npos) << reason;
}
