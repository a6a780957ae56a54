// Image reader tests: every type and depth from crafted files, run-length packets, the
// malformed files the reader must refuse or bound, and the mipmapped 16-bit textures.
#include "texture/image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "tests/texture/tga_files.h"

namespace {

struct Image {
    bool ok = false;
    int width = -1, height = -1;
    std::unique_ptr<std::uint32_t[]> texels;
    std::string reason;   // what a refusal said, after the file name
};

Image readBytes(const ScratchDir& dir, const Bytes& file) {
    Image image;
    std::uint32_t* texels = nullptr;
    char reason[IMAGE_REASON_MAX] = "";
    const std::string path = dir.write("image.tga", file);
    image.ok = readImageFile(path.c_str(), &image.width, &image.height, &texels, reason,
                             sizeof reason);
    image.texels.reset(texels);
    // Every refusal names the file first.
    if (!image.ok) {
        EXPECT_EQ(std::string(reason).rfind(path + ": ", 0), 0u) << reason;
        image.reason = std::string(reason).substr(std::min(path.size() + 2, std::strlen(reason)));
    }
    return image;
}

TgaLayout layout(int type, int bits, int width, int height) {
    TgaLayout s;
    s.imageType = type;
    s.bitsPerPixel = bits;
    s.width = width;
    s.height = height;
    return s;
}

// A colour-mapped 8-bit header with a map of `entries` 24-bit entries.
TgaLayout mappedSpec(int type, int width, int height, int entries) {
    TgaLayout s = layout(type, 8, width, height);
    s.mapType = 1;
    s.mapLength = entries;
    s.mapEntryBits = 24;
    return s;
}

// Map entry i: blue = i, green = 255 - i, red = 7.
Bytes colourMap(int entries) {
    Bytes map;
    for (int i = 0; i < entries; ++i) {
        map.push_back(static_cast<std::uint8_t>(i));
        map.push_back(static_cast<std::uint8_t>(255 - i));
        map.push_back(7);
    }
    return map;
}

std::uint32_t mapTexel(int i) { return 0xFF070000u | (std::uint32_t(255 - i) << 8) | std::uint32_t(i); }

}  // namespace

TEST(ImageReader, TrueColourDepths) {
    ScratchDir dir;
    Image i24 = readBytes(dir, tgaFile(layout(2, 24, 2, 1), {1, 2, 3, 4, 5, 6}));
    ASSERT_TRUE(i24.ok);
    EXPECT_EQ(i24.width, 2);
    EXPECT_EQ(i24.height, 1);
    EXPECT_EQ(i24.texels[0], 0xFF030201u);
    EXPECT_EQ(i24.texels[1], 0xFF060504u);

    Image i32 = readBytes(dir, tgaFile(layout(2, 32, 1, 2), {1, 2, 3, 4, 5, 6, 7, 8}));
    ASSERT_TRUE(i32.ok);
    EXPECT_EQ(i32.texels[0], 0x04030201u);
    EXPECT_EQ(i32.texels[1], 0x08070605u);

    // 0x7FFF: every 5-bit channel full -> 248; the top bit is ignored.
    Image i16 = readBytes(dir, tgaFile(layout(2, 16, 3, 1), {0xFF, 0x7F, 0xFF, 0xFF, 0x1F, 0x7C}));
    ASSERT_TRUE(i16.ok);
    EXPECT_EQ(i16.texels[0], 0xFFF8F8F8u);
    EXPECT_EQ(i16.texels[1], 0xFFF8F8F8u);
    EXPECT_EQ(i16.texels[2], 0xFFF800F8u);   // 0x7C1F: red and blue, no green

    Image grey = readBytes(dir, tgaFile(layout(3, 8, 2, 1), {0x00, 0x9A}));
    ASSERT_TRUE(grey.ok);
    EXPECT_EQ(grey.texels[0], 0xFF000000u);
    EXPECT_EQ(grey.texels[1], 0xFF9A9A9Au);
}

TEST(ImageReader, ColourMappedUsesPalette) {
    ScratchDir dir;
    Bytes payload = colourMap(4);
    append(payload, {3, 0, 2, 1});
    Image image = readBytes(dir, tgaFile(mappedSpec(1, 2, 2, 4), payload));
    ASSERT_TRUE(image.ok);
    EXPECT_EQ(image.texels[0], mapTexel(3));
    EXPECT_EQ(image.texels[1], mapTexel(0));
    EXPECT_EQ(image.texels[2], mapTexel(2));
    EXPECT_EQ(image.texels[3], mapTexel(1));
}

TEST(ImageReader, IdentificationFieldIsSkipped) {
    ScratchDir dir;
    TgaLayout s = layout(2, 24, 1, 1);
    s.idLength = 9;
    Image image = readBytes(dir, tgaFile(s, {0x10, 0x20, 0x30}));
    ASSERT_TRUE(image.ok);
    EXPECT_EQ(image.texels[0], 0xFF302010u);
}

TEST(ImageReader, RunLengthPackets) {
    ScratchDir dir;
    // 0x83: four copies of the next pixel; 0x03: the next four pixels as stored.
    Bytes payload = {0x83, 9, 8, 7, 0x03, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4};
    Image image = readBytes(dir, tgaFile(layout(10, 24, 4, 2), payload));
    ASSERT_TRUE(image.ok);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(image.texels[i], 0xFF070809u) << i;
    for (int i = 0; i < 4; ++i) EXPECT_EQ(image.texels[4 + i], 0xFF000000u | 0x010101u * (i + 1)) << i;

    Image grey = readBytes(dir, tgaFile(layout(11, 8, 3, 1), {0x82, 0x40}));
    ASSERT_TRUE(grey.ok);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(grey.texels[i], 0xFF404040u);

    Bytes mapped = colourMap(3);
    append(mapped, {0x01, 2, 1, 0x81, 0});
    Image m = readBytes(dir, tgaFile(mappedSpec(9, 4, 1, 3), mapped));
    ASSERT_TRUE(m.ok);
    EXPECT_EQ(m.texels[0], mapTexel(2));
    EXPECT_EQ(m.texels[1], mapTexel(1));
    EXPECT_EQ(m.texels[2], mapTexel(0));
    EXPECT_EQ(m.texels[3], mapTexel(0));

    Image deep = readBytes(dir, tgaFile(layout(10, 32, 2, 1), {0x81, 1, 2, 3, 4}));
    ASSERT_TRUE(deep.ok);
    EXPECT_EQ(deep.texels[1], 0x04030201u);
    Image shallow = readBytes(dir, tgaFile(layout(10, 16, 2, 1), {0x81, 0xFF, 0x7F}));
    ASSERT_TRUE(shallow.ok);
    EXPECT_EQ(shallow.texels[1], 0xFFF8F8F8u);
}

// A packet that promises more pixels than remain is cut at the last pixel (the sanitizer
// build would catch a write past the buffer).
TEST(ImageReader, RunLengthPacketPastLastPixelStops) {
    ScratchDir dir;
    Image repeat = readBytes(dir, tgaFile(layout(10, 24, 2, 1), {0x83, 5, 6, 7}));
    ASSERT_TRUE(repeat.ok);
    EXPECT_EQ(repeat.texels[0], 0xFF070605u);
    EXPECT_EQ(repeat.texels[1], 0xFF070605u);

    Bytes raw = {0x01, 1, 1, 1, 0x7F};
    for (int i = 0; i < 128; ++i) append(raw, {9, 9, 9});
    Image literal = readBytes(dir, tgaFile(layout(10, 24, 3, 1), raw));
    ASSERT_TRUE(literal.ok);
    EXPECT_EQ(literal.texels[2], 0xFF090909u);
}

TEST(ImageReader, LongColourMapKeepsFirst256) {
    ScratchDir dir;
    // 300 entries: the first 256 are the palette, the rest skipped, so pixels still line up.
    Bytes payload = colourMap(300);
    append(payload, {255, 0, 17});
    Image image = readBytes(dir, tgaFile(mappedSpec(1, 3, 1, 300), payload));
    ASSERT_TRUE(image.ok);
    EXPECT_EQ(image.texels[0], mapTexel(255));
    EXPECT_EQ(image.texels[1], mapTexel(0));
    EXPECT_EQ(image.texels[2], mapTexel(17));
}

TEST(ImageReader, IndexBeyondColourMapIsBlack) {
    ScratchDir dir;
    Bytes payload = colourMap(2);
    append(payload, {1, 2, 255});
    Image image = readBytes(dir, tgaFile(mappedSpec(1, 3, 1, 2), payload));
    ASSERT_TRUE(image.ok);
    EXPECT_EQ(image.texels[0], mapTexel(1));
    EXPECT_EQ(image.texels[1], 0xFF000000u);
    EXPECT_EQ(image.texels[2], 0xFF000000u);
}

TEST(ImageReader, ColourMapOfTrueColourImageIsSkipped) {
    ScratchDir dir;
    TgaLayout s = layout(2, 24, 1, 1);
    s.mapType = 1;
    s.mapLength = 5;
    s.mapEntryBits = 16;   // 10 bytes of map before the pixel
    Bytes payload(10, 0xEE);
    append(payload, {0x11, 0x22, 0x33});
    Image image = readBytes(dir, tgaFile(s, payload));
    ASSERT_TRUE(image.ok);
    EXPECT_EQ(image.texels[0], 0xFF332211u);

    TgaLayout g = layout(3, 8, 2, 1);
    g.mapType = 1;
    g.mapLength = 2;
    g.mapEntryBits = 24;
    Bytes greyPayload(6, 0xEE);
    append(greyPayload, {0x01, 0x02});
    Image grey = readBytes(dir, tgaFile(g, greyPayload));
    ASSERT_TRUE(grey.ok);
    EXPECT_EQ(grey.texels[0], 0xFF010101u);
    EXPECT_EQ(grey.texels[1], 0xFF020202u);
}

// Each refusal says why, in words a person can act on.
TEST(ImageReader, RefusesMalformedHeaders) {
    ScratchDir dir;
    Bytes pixels(64, 0x55);
    struct Case {
        TgaLayout layout;
        const char* reason;
    };
    TgaLayout mapped16 = mappedSpec(1, 2, 2, 4);
    mapped16.mapEntryBits = 16;
    TgaLayout mapped32 = mappedSpec(1, 2, 2, 4);
    mapped32.mapEntryBits = 32;
    TgaLayout noMap = mappedSpec(1, 2, 2, 4);
    noMap.mapType = 0;
    TgaLayout wideIndex = mappedSpec(1, 2, 2, 4);
    wideIndex.bitsPerPixel = 16;
    const Case cases[] = {
        {layout(2, 24, 0, 4), "the image is 0 x 4 pixels: a side of 0"},
        {layout(2, 24, 4, 0), "the image is 4 x 0 pixels: a side of 0"},
        {layout(2, 15, 2, 2), "15-bit pixels are not supported (8, 16, 24 or 32)"},
        {layout(2, 0, 2, 2), "0-bit pixels are not supported (8, 16, 24 or 32)"},
        {layout(0, 24, 2, 2), "TGA image type 0 is not supported (only colour-mapped, "
                              "true-colour and grey images, raw or run-length)"},
        {layout(32, 24, 2, 2), "TGA image type 32 is not supported (only colour-mapped, "
                               "true-colour and grey images, raw or run-length)"},
        {mapped16, "colour maps of 16-bit entries are not supported (24)"},
        {mapped32, "colour maps of 32-bit entries are not supported (24)"},
        {noMap, "a colour-mapped image without a colour map"},
        {wideIndex, "16-bit colour-mapped images are not supported"},
    };
    for (const Case& c : cases) {
        const Image image = readBytes(dir, tgaFile(c.layout, pixels));
        EXPECT_FALSE(image.ok) << c.reason;
        EXPECT_EQ(image.reason, c.reason);
    }
}

TEST(ImageReader, RefusesShortFiles) {
    ScratchDir dir;
    EXPECT_EQ(readBytes(dir, {}).reason, "shorter than a TGA header (18 bytes)");
    EXPECT_EQ(readBytes(dir, Bytes(17, 0)).reason, "shorter than a TGA header (18 bytes)");
    EXPECT_EQ(readBytes(dir, tgaFile(layout(2, 24, 2, 2), Bytes(11, 1))).reason,
              "cut short: 11 bytes of pixel data for 2 x 2 pixels");
    EXPECT_EQ(readBytes(dir, tgaFile(layout(10, 24, 4, 1), {0x81, 1, 2, 3})).reason,
              "cut short in its run-length pixel data");
    EXPECT_EQ(readBytes(dir, tgaFile(layout(10, 24, 4, 1), {0x83, 1, 2})).reason,
              "cut short: 3 bytes of pixel data for 4 x 1 pixels");
    EXPECT_EQ(readBytes(dir, tgaFile(mappedSpec(1, 1, 1, 4), colourMap(3))).reason,
              "cut short in its colour map");
    TgaLayout id = layout(2, 24, 1, 1);
    id.idLength = 200;
    Bytes cut = tgaHeader(id);
    append(cut, Bytes(50, 0));
    EXPECT_EQ(readBytes(dir, cut).reason, "cut short in its image identification field");

    int w = 7, h = 7;
    std::uint32_t* texels = reinterpret_cast<std::uint32_t*>(0x1);
    char reason[IMAGE_REASON_MAX];
    const std::string missing = dir.path("missing.tga");
    EXPECT_FALSE(readImageFile(missing.c_str(), &w, &h, &texels, reason, sizeof reason));
    EXPECT_EQ(w, 7);
    EXPECT_EQ(texels, reinterpret_cast<std::uint32_t*>(0x1)) << "outputs untouched on failure";
    EXPECT_EQ(std::string(reason), missing + ": cannot open it (No such file or directory)");
    // A folder in the file's place is named as such, not as a file too short for its header.
    const std::string folder = dir.path("folder.tga");
    std::filesystem::create_directory(folder);
    EXPECT_FALSE(readImageFile(folder.c_str(), &w, &h, &texels, reason, sizeof reason));
    EXPECT_EQ(std::string(reason), folder + ": it is a folder, not a file");
    // A reason that does not fit is cut, never written past its buffer.
    char small[12];
    EXPECT_FALSE(readImageFile(missing.c_str(), &w, &h, &texels, small, sizeof small));
    EXPECT_EQ(std::strlen(small), sizeof small - 1);
}

// 65535 x 65535 x 4 bytes would be 17 GB: refused from the header and the file size alone.
TEST(ImageReader, RefusesHugeSizesBeforeAllocating) {
    ScratchDir dir;
    EXPECT_EQ(readBytes(dir, tgaFile(layout(2, 32, 65535, 65535), Bytes(64, 0))).reason,
              "the image is 65535 x 65535 pixels, more than the reader takes (16777216)");
    EXPECT_FALSE(readBytes(dir, tgaFile(layout(10, 32, 65535, 65535), Bytes(64, 0))).ok);
    // Within the cap but far longer than the file: refused before the buffers are made.
    EXPECT_FALSE(readBytes(dir, tgaFile(layout(2, 24, 4096, 4096), Bytes(64, 0))).ok);
    EXPECT_FALSE(readBytes(dir, tgaFile(layout(10, 24, 4096, 4096), Bytes(64, 0))).ok);
}

// ---- Textures --------------------------------------------------------------------------

namespace {

struct LoadedTexture {
    bool ok = false;
    TextureInfo info{};
    std::uint16_t* texels() const { return static_cast<std::uint16_t*>(info.data); }
    ~LoadedTexture() { delete[] static_cast<std::uint16_t*>(info.data); }
};

void load(LoadedTexture& out, const std::string& path, int format, int alpha, bool mipmaps) {
    out.info = TextureInfo{-1, -1, -1, -1, nullptr};
    out.ok = loadTextureImage(path.c_str(), out.info, format, alpha, mipmaps);
}

class TextureBuild : public ::testing::Test {
protected:
    ScratchDir dir;
    TextureMessageRecorder messages;
};

}  // namespace

TEST_F(TextureBuild, FullChainAndBaseOnly) {
    std::string path = dir.write("g.tga", gradientImage(256, 256));
    LoadedTexture chain;
    load(chain, path, TEXEL_RGB_565, -1, true);
    ASSERT_TRUE(chain.ok);
    EXPECT_EQ(chain.info.largeLod, 8);
    EXPECT_EQ(chain.info.smallLod, 0);
    EXPECT_EQ(chain.info.aspect, 0);
    EXPECT_EQ(chain.info.format, VX_TEXFMT_RGB_565);
    EXPECT_EQ(vxTexMemRequired(VX_LEVELS_BOTH, &chain.info), 2u * 87381 + 6) << "9 levels, 8-aligned";

    LoadedTexture base;
    load(base, path, TEXEL_RGB_565, -1, false);
    ASSERT_TRUE(base.ok);
    EXPECT_EQ(base.info.smallLod, 8);
    EXPECT_EQ(base.info.largeLod, 8);
    // Texel (x, y): blue = x, green = y, red = x ^ y, cut to 5-6-5.
    std::uint16_t t = base.texels()[3 * 256 + 200];
    EXPECT_EQ(t, ((200 ^ 3) >> 3) << 11 | (3 >> 2) << 5 | (200 >> 3));
}

TEST_F(TextureBuild, NonSquareAspectAndBlockAverages) {
    // 256 x 64, grey via alpha-intensity so averages are exact: the left half is 200, the
    // right half alternates 0 and 255 by column (average 127.5, truncated to 127).
    TgaLayout s = layout(3, 8, 256, 64);
    Bytes pixels;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 256; ++x) pixels.push_back(x < 128 ? 200 : (x & 1 ? 255 : 0));
    LoadedTexture tex;
    load(tex, dir.write("wide.tga", tgaFile(s, pixels)), TEXEL_ALPHA_INTENSITY_88, -1, true);
    ASSERT_TRUE(tex.ok);
    EXPECT_EQ(tex.info.aspect, 2);
    EXPECT_EQ(tex.info.largeLod, 8);
    EXPECT_EQ(tex.info.smallLod, 0);
    // Levels 0..6: 256x64, 128x32, 64x16, 32x8, 16x4, 8x2, 4x1; level 7 is 2 x 1.
    std::size_t offset = 0;
    for (int h = 0; h < 7; ++h) offset += std::size_t(256 >> h) * std::max(1, 64 >> h);
    EXPECT_EQ(tex.texels()[offset], 0xFF00 | 200);
    EXPECT_EQ(tex.texels()[offset + 1], 0xFF00 | 127);
    // Level 8 (1 x 1) averages the whole image: (200 + 127.5) / 2 -> 163.
    EXPECT_EQ(tex.texels()[offset + 2], 0xFF00 | 163);
    // Level 1 at column 64 (base columns 128-129): (0 + 255) / 2 -> 127.
    EXPECT_EQ(tex.texels()[256 * 64 + 64], 0xFF00 | 127);
}

TEST_F(TextureBuild, FormatsAndAlphaOverride) {
    TgaLayout s = layout(2, 32, 2, 1);
    // Texel 0: blue 0x12, green 0x34, red 0x56, alpha 0x78; texel 1: all 0xFF.
    std::string path = dir.write("c.tga", tgaFile(s, {0x12, 0x34, 0x56, 0x78, 255, 255, 255, 255}));
    LoadedTexture argb;
    load(argb, path, TEXEL_ARGB_4444, -1, false);
    ASSERT_TRUE(argb.ok);
    EXPECT_EQ(argb.info.format, VX_TEXFMT_ARGB_4444);
    EXPECT_EQ(argb.texels()[0], 0x7531);
    EXPECT_EQ(argb.texels()[1], 0xFFFF);

    LoadedTexture over;
    load(over, path, TEXEL_ARGB_4444, 127, true);
    ASSERT_TRUE(over.ok);
    EXPECT_EQ(over.texels()[0], 0x7531);
    EXPECT_EQ(over.texels()[1] >> 12, 7) << "alpha 127 replaces 255";
    EXPECT_EQ(over.texels()[2] >> 12, 7) << "the mipmap averages the overridden alpha";

    LoadedTexture ai;
    load(ai, path, TEXEL_ALPHA_INTENSITY_88, 0, false);
    ASSERT_TRUE(ai.ok);
    EXPECT_EQ(ai.texels()[0], 0x0056);

    LoadedTexture other;
    load(other, path, VX_TEXFMT_ALPHA_8, -1, false);
    ASSERT_TRUE(other.ok);
    EXPECT_EQ(other.info.format, VX_TEXFMT_RGB_565) << "unknown formats become 5-6-5";
    EXPECT_EQ(other.texels()[0], (0x56 >> 3) << 11 | (0x34 >> 2) << 5 | (0x12 >> 3));
}

TEST_F(TextureBuild, RefusedSizesAreReported) {
    struct Case {
        int width, height;
        const char* message;
    } cases[] = {
        {512, 512, "can't handle this texture (512x512)\n"},
        {100, 100, "can't handle this texture (100x100)\n"},
        {256, 16, "can't handle this texture (256x16)\n"},   // 16:1 is past 8:1
        {8, 128, "can't handle this texture (8x128)\n"},
    };
    for (const Case& c : cases) {
        textureMessages().clear();
        LoadedTexture tex;
        const std::string path = dir.write("big.tga", gradientImage(c.width, c.height));
        tex.info = TextureInfo{-1, -1, -1, -1, nullptr};
        char reason[IMAGE_REASON_MAX] = "";
        tex.ok = loadTextureImage(path.c_str(), tex.info, TEXEL_RGB_565, -1, true, reason,
                                  sizeof reason);
        EXPECT_FALSE(tex.ok);
        EXPECT_EQ(std::string(reason),
                  path + ": a texture of " + std::to_string(c.width) + " x " +
                      std::to_string(c.height) +
                      ": sides must be powers of two up to 256, neither more than 8 times the "
                      "other");
        EXPECT_EQ(tex.info.largeLod, -1) << "info untouched";
        EXPECT_EQ(tex.info.data, nullptr);
        EXPECT_EQ(textureMessages(), c.message);
    }
    LoadedTexture edge;
    textureMessages().clear();
    load(edge, dir.write("edge.tga", gradientImage(256, 32)), TEXEL_RGB_565, -1, true);
    EXPECT_TRUE(edge.ok) << "8:1 is the widest accepted";
    EXPECT_EQ(edge.info.aspect, 3);
    EXPECT_EQ(textureMessages(), "");
}

TEST_F(TextureBuild, UnreadableFileFailsSilently) {
    LoadedTexture tex;
    load(tex, dir.path("absent.tga"), TEXEL_RGB_565, -1, true);
    EXPECT_FALSE(tex.ok);
    EXPECT_EQ(tex.info.data, nullptr);
    EXPECT_EQ(textureMessages(), "");
}
