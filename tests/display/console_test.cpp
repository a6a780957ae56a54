// Text console tests: printing into the grid (upper case, wrapping, scrolling, cut prints),
// the glyph table and the font bitmap, and drawing through the rasterizer on a small output:
// pixels of each glyph, codes outside the set, the text colour and an unchanged render state.
// Set VORL_CONSOLE_DUMP to a directory to get the drawn character set as TGA pictures.
#include "display/console.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "display/device.h"
#include "tests/display/console_output.h"
#include "display/display.h"
#include "tests/environment.h"

namespace {

constexpr int COLUMNS = 80;
constexpr int ROWS = 40;

std::string rowText(int row) {
    const std::uint8_t* line = display.console.grid + row * display.console.columns;
    std::string text;
    for (int c = 0; c < display.console.columns && line[c]; ++c) text.push_back(static_cast<char>(line[c]));
    return text;
}

int setIndex(char c) { return static_cast<int>(std::strchr(CONSOLE_CHARACTER_SET, c) - CONSOLE_CHARACTER_SET); }

// Grid-only tests: no device, the console as the shell sets it up on a 640 x 480 screen.
class ConsoleGrid : public ::testing::Test {
protected:
    void SetUp() override {
        unsetenv("KR_VEXA_NO_FONT");
        ASSERT_EQ(consoleInit(0, 0, 1, 1, 640, 480, COLUMNS, ROWS, 0xFF00007Fu), 1);
        consoleClear();
    }
    void TearDown() override {
        consoleFree();
        unsetenv("KR_VEXA_NO_FONT");
    }
};

// Device tests: the rasterizer open on a 640 x 480 output with the device's caches.
class ConsoleDraw : public ConsoleOutput {
protected:
    void SetUp() override { open(VX_RES_640x480); }
    void open(int resolution) {
        openOutput(resolution);
        if (HasFatalFailure()) return;
        consoleInit(0, 0, 1, 1, float(width), float(height), COLUMNS, ROWS, 0xFFFFFFFFu);
        consoleClear();
    }
    // Prints the text at the top left over black and returns the frame's pixels.
    std::vector<std::uint16_t> drawn(const char* text) {
        consoleClear();
        consolePrintf("%s", text);
        vxClearBuffers(0, 0, 0xFFFF);
        consoleDraw();
        std::vector<std::uint16_t> pixels(std::size_t(width) * height);
        EXPECT_TRUE(vxReadFrameRegion(VX_BUFFER_BACK, 0, 0, width, height, width * 2, pixels.data()));
        return pixels;
    }
    // The pixels of one console cell.
    std::vector<std::uint16_t> cell(const std::vector<std::uint16_t>& frame, int column, int row) {
        int cw = width / COLUMNS, ch = height / ROWS;
        std::vector<std::uint16_t> out;
        for (int y = row * ch; y < (row + 1) * ch; ++y)
            for (int x = column * cw; x < (column + 1) * cw; ++x) out.push_back(frame[std::size_t(y) * width + x]);
        return out;
    }
    static int lit(const std::vector<std::uint16_t>& pixels) {
        int n = 0;
        for (std::uint16_t p : pixels) n += p != 0;
        return n;
    }
    void dump(const std::vector<std::uint16_t>& frame, const char* name) {
        const char* dir = std::getenv("VORL_CONSOLE_DUMP");
        if (!dir) return;
        std::string path = std::string(dir) + "/" + name;
        std::FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::uint8_t header[18] = {0, 0, 2};
        header[12] = std::uint8_t(width), header[13] = std::uint8_t(width >> 8);
        header[14] = std::uint8_t(height), header[15] = std::uint8_t(height >> 8);
        header[16] = 24;
        header[17] = 0x20;   // top row first
        std::fwrite(header, 1, 18, f);
        for (std::uint16_t p : frame) {
            std::uint8_t bgr[3] = {std::uint8_t((p & 0x1F) << 3), std::uint8_t(((p >> 5) & 0x3F) << 2),
                                   std::uint8_t((p >> 11) << 3)};
            std::fwrite(bgr, 1, 3, f);
        }
        std::fclose(f);
    }
};

}  // namespace

TEST(ConsoleFont, BitmapIsCleanAlphaInNineByTwelveCells) {
    std::vector<std::vector<std::uint8_t>> cells;
    for (int k = 0; CONSOLE_CHARACTER_SET[k]; ++k) {
        int x0 = (k % FONT_CELLS_PER_ROW) * FONT_CELL_WIDTH, y0 = (k / FONT_CELLS_PER_ROW) * FONT_CELL_HEIGHT;
        std::vector<std::uint8_t> texels;
        for (int y = 0; y < FONT_CELL_HEIGHT; ++y)
            for (int x = 0; x < FONT_CELL_WIDTH; ++x) {
                std::uint8_t t = fontBitmap[(y0 + y) * FONT_WIDTH + x0 + x];
                texels.push_back(t);
                // One empty texel all round keeps neighbouring glyphs apart.
                if (x == 0 || x == FONT_CELL_WIDTH - 1 || y == 0 || y == FONT_CELL_HEIGHT - 1) {
                    EXPECT_EQ(t, 0) << "margin of '" << CONSOLE_CHARACTER_SET[k] << "'";
                }
            }
        int opaque = 0;
        for (std::uint8_t t : texels) opaque += t == 255;
        if (CONSOLE_CHARACTER_SET[k] == ' ') {
            EXPECT_EQ(opaque, 0);
        } else {
            EXPECT_GT(opaque, 3) << "glyph '" << CONSOLE_CHARACTER_SET[k] << "' is drawn";
        }
        for (std::size_t j = 0; j < cells.size(); ++j)
            EXPECT_NE(cells[j], texels) << "'" << CONSOLE_CHARACTER_SET[j] << "' and '"
                                        << CONSOLE_CHARACTER_SET[k] << "' look the same";
        cells.push_back(texels);
    }
    for (int i = 0; i < FONT_WIDTH * FONT_HEIGHT; ++i)
        ASSERT_TRUE(fontBitmap[i] == 0 || fontBitmap[i] == 255) << i;
    for (int y = 0; y < FONT_HEIGHT; ++y)
        for (int x = FONT_CELLS_PER_ROW * FONT_CELL_WIDTH; x < FONT_WIDTH; ++x)
            EXPECT_EQ(fontBitmap[y * FONT_WIDTH + x], 0) << "outside the cells";
}

TEST_F(ConsoleGrid, GlyphTableAndFontTexture) {
    EXPECT_EQ(display.console.glyph[std::uint8_t('A')][0], 0);
    EXPECT_EQ(display.console.glyph[std::uint8_t('A')][1], 0);
    EXPECT_EQ(display.console.glyph[std::uint8_t('B')][0], 18);
    EXPECT_EQ(display.console.glyph[std::uint8_t('O')][0], 0);
    EXPECT_EQ(display.console.glyph[std::uint8_t('O')][1], 24);
    EXPECT_EQ(display.console.glyph[std::uint8_t('0')][0], (setIndex('0') % 14) * 18);
    EXPECT_EQ(display.console.glyph[std::uint8_t('0')][1], (setIndex('0') / 14) * 24);
    EXPECT_EQ(display.console.glyph[std::uint8_t(' ')][0], 13 * 18) << "space is the 56th character";
    EXPECT_EQ(display.console.glyph[std::uint8_t(' ')][1], 3 * 24);
    EXPECT_EQ(display.console.glyph[std::uint8_t('\\')][0], 2 * 18);
    EXPECT_EQ(display.console.glyph[std::uint8_t('\\')][1], 4 * 24);
    EXPECT_EQ(display.console.glyph[std::uint8_t('\'')][0], 3 * 18) << "the apostrophe follows the backslash";
    EXPECT_EQ(display.console.glyph[std::uint8_t('\'')][1], 4 * 24);
    for (char outside : {'?', 'a', '@', '\t', '~'}) {
        EXPECT_EQ(display.console.glyph[int(outside)][0], 0) << outside;
        EXPECT_EQ(display.console.glyph[int(outside)][1], 0) << outside;
    }
    const TextureInfo& font = display.console.font.info;
    EXPECT_EQ(font.smallLod, 7);
    EXPECT_EQ(font.largeLod, 7);
    EXPECT_EQ(font.aspect, 1);
    EXPECT_EQ(font.format, VX_TEXFMT_ALPHA_8);
    EXPECT_EQ(font.data, fontBitmap);
    EXPECT_EQ(vxTexMemRequired(VX_LEVELS_BOTH, &font), 128u * 64u);
    EXPECT_FLOAT_EQ(display.console.cellWidth, 8.0f);
    EXPECT_FLOAT_EQ(display.console.cellHeight, 12.0f);
}

TEST_F(ConsoleGrid, PrintsUpperCaseWithNewlineAndReturn) {
    EXPECT_EQ(consolePrintf("fps: %d\nab\rc", 60), 12);
    EXPECT_EQ(rowText(0), "FPS: 60");
    EXPECT_EQ(rowText(1), "CB");
    EXPECT_EQ(display.console.cursorRow, 1);
    EXPECT_EQ(display.console.cursorColumn, 1);
    consoleClear();
    EXPECT_EQ(rowText(0), "");
    EXPECT_EQ(display.console.cursorRow, 0);
}

TEST_F(ConsoleGrid, EightyCharactersThenOneWraps) {
    std::string full(COLUMNS, 'q');
    consolePrintf("%s", full.c_str());
    EXPECT_EQ(display.console.cursorRow, 0);
    EXPECT_EQ(display.console.cursorColumn, COLUMNS);
    consolePrintf("x");
    EXPECT_EQ(rowText(0), std::string(COLUMNS, 'Q'));
    EXPECT_EQ(rowText(1), "X");
    EXPECT_EQ(display.console.cursorColumn, 1);
}

TEST_F(ConsoleGrid, ScrollsPastLastRow) {
    for (int i = 0; i < ROWS; ++i) consolePrintf("line %d\n", i);
    // 40 newlines: the cursor stays on the last row and "LINE 0" has scrolled away.
    EXPECT_EQ(display.console.cursorRow, ROWS - 1);
    EXPECT_EQ(rowText(0), "LINE 1");
    EXPECT_EQ(rowText(ROWS - 2), "LINE 39");
    EXPECT_EQ(rowText(ROWS - 1), "");
    consolePrintf("tail");
    EXPECT_EQ(rowText(ROWS - 1), "TAIL");
}

TEST_F(ConsoleGrid, EmptyPrintChangesNothing) {
    consolePrintf("abc");
    std::vector<std::uint8_t> before(display.console.grid, display.console.grid + COLUMNS * ROWS);
    EXPECT_EQ(consolePrintf("%s", ""), 0);
    EXPECT_EQ(std::vector<std::uint8_t>(display.console.grid, display.console.grid + COLUMNS * ROWS), before);
    EXPECT_EQ(display.console.cursorColumn, 3);
}

TEST_F(ConsoleGrid, LongPrintIsCutAtTheLineBuffer) {
    std::string text(5000, 'y');
    EXPECT_EQ(consolePrintf("%s", text.c_str()), 5000) << "the length the formatting asked for";
    // 4095 characters kept: 51 full rows and 15 more, scrolled onto the 40 rows.
    EXPECT_EQ(display.console.lineBuffer[CONSOLE_LINE_BUFFER - 1], '\0');
    EXPECT_EQ(display.console.cursorRow, ROWS - 1);
    EXPECT_EQ(display.console.cursorColumn, 4095 - 51 * COLUMNS);
    EXPECT_EQ(rowText(ROWS - 1), std::string(15, 'Y'));
    EXPECT_EQ(rowText(ROWS - 2), std::string(COLUMNS, 'Y'));
}

TEST_F(ConsoleGrid, HighCodesAreStoredAsBytes) {
    consolePrintf("%c%c", char(0xC8), char(0xFF));
    EXPECT_EQ(display.console.grid[0], 0xC8);
    EXPECT_EQ(display.console.grid[1], 0xFF);
    consolePrintf("%c!", 0);
    EXPECT_EQ(rowText(0), "\xC8\xFF!") << "an embedded 0 would hide the rest of the row";
}

TEST(ConsoleDisabled, NoFontTurnsPrintsAndDrawsOff) {
    setenv("KR_VEXA_NO_FONT", "1", 1);   // present is what counts, whatever the value
    ASSERT_TRUE(deviceStart());
    VxContext output = vxOpenWindow(nullptr, VX_RES_640x480, VX_REFRESH_DEFAULT, VX_COLORFORMAT_ABGR,
                                    VX_ORIGIN_UPPER_LEFT, 2, 1);
    ASSERT_NE(output, 0u);
    ASSERT_TRUE(deviceSetup());
    EXPECT_EQ(consoleInit(0, 0, 1, 1, 640, 480, COLUMNS, ROWS, 0xFFFFFFFFu), 1);
    EXPECT_EQ(display.console.enabled, 0);
    EXPECT_EQ(consolePrintf("hello %d", 1), 0);
    vxClearBuffers(0, 0, 0xFFFF);
    consoleDraw();
    std::vector<std::uint16_t> pixels(640 * 480);
    ASSERT_TRUE(vxReadFrameRegion(VX_BUFFER_BACK, 0, 0, 640, 480, 1280, pixels.data()));
    for (std::uint16_t p : pixels) ASSERT_EQ(p, 0);
    EXPECT_EQ(display.device.textureCaches[0]->first, nullptr) << "the font was never loaded";
    consoleFree();
    vxCloseWindow(output);
    deviceStop();
    unsetenv("KR_VEXA_NO_FONT");
}

TEST_F(ConsoleDraw, EachCharacterDrawsItsGlyph) {
    std::vector<std::uint16_t> frame = drawn("AB ?");
    std::vector<std::uint16_t> a = cell(frame, 0, 0);
    EXPECT_GT(lit(a), 10);
    EXPECT_GT(lit(cell(frame, 1, 0)), 10);
    EXPECT_NE(a, cell(frame, 1, 0));
    EXPECT_EQ(lit(cell(frame, 2, 0)), 0) << "space";
    EXPECT_EQ(cell(frame, 3, 0), a) << "a character outside the set draws the A cell";
    EXPECT_EQ(lit(cell(frame, 4, 0)), 0) << "the row ends at its first empty cell";
    EXPECT_EQ(lit(cell(frame, 0, 1)), 0);
    EXPECT_EQ(display.device.textureCaches[0]->first, &display.console.font);
}

// Messages and the key help print apostrophes ("couldn't save", "normals' source"): each
// draws the apostrophe's own glyph, high in its cell, not the A cell of codes outside the set.
TEST_F(ConsoleDraw, ApostropheDrawsItsOwnGlyph) {
    const std::vector<std::uint16_t> a = cell(drawn("A"), 0, 0);
    const std::vector<std::uint16_t> comma = cell(drawn(","), 0, 0);
    const std::vector<std::uint16_t> apostrophe = cell(drawn("'"), 0, 0);
    EXPECT_NE(apostrophe, a);
    EXPECT_NE(apostrophe, comma);
    const int cellWidth = width / COLUMNS;
    int high = 0, low = 0;
    for (std::size_t i = 0; i < apostrophe.size(); ++i) {
        bool upper = int(i) / cellWidth < (height / ROWS) / 2;
        (upper ? high : low) += apostrophe[i] != 0;
    }
    EXPECT_GT(high, 4);
    EXPECT_EQ(low, 0) << "an apostrophe, not a comma";
    std::vector<std::uint16_t> frame = drawn("couldn't save");
    EXPECT_EQ(cell(frame, 6, 0), apostrophe);
    EXPECT_EQ(cell(frame, 5, 0), cell(drawn("N"), 0, 0));
    EXPECT_EQ(cell(frame, 7, 0), cell(drawn("T"), 0, 0));
}

TEST_F(ConsoleDraw, HighCodesDrawTheACell) {
    std::vector<std::uint16_t> a = cell(drawn("A"), 0, 0);
    std::string high = "\x80\xC8\xFF";
    std::vector<std::uint16_t> frame = drawn(high.c_str());
    for (int column = 0; column < 3; ++column) EXPECT_EQ(cell(frame, column, 0), a) << column;
}

TEST_F(ConsoleDraw, TextTakesTheConsoleColour) {
    consoleSetColour(0xFF00FF00u);   // ABGR: green
    std::vector<std::uint16_t> glyph = cell(drawn("#"), 0, 0);
    EXPECT_GT(lit(glyph), 10);
    for (std::uint16_t p : glyph) ASSERT_TRUE(p == 0 || p == 0x07E0) << std::hex << p;
}

TEST_F(ConsoleDraw, RenderStateIsTheSameAfterADraw) {
    std::int32_t size = 0;
    ASSERT_EQ(vxQuery(VX_QUERY_STATE_SIZE, 4, &size), 4);
    // A state unlike the console's: fog, culling, a clip window, another constant colour.
    vxSetFogMode(VX_FOG_WTABLE);
    vxSetCullMode(VX_CULL_NEGATIVE);
    vxSetClipWindow(10, 10, 100, 100);
    vxSetConstantColor(0x12345678u);
    vxSetTexFilter(0, VX_FILTER_BILINEAR, VX_FILTER_BILINEAR);
    vxSetAlphaBlend(VX_BLEND_ONE, VX_BLEND_ZERO, VX_BLEND_ZERO, VX_BLEND_ZERO);
    vxSetDepthFunction(VX_CMP_LEQUAL);
    std::vector<std::uint8_t> before(static_cast<std::size_t>(size));
    std::vector<std::uint8_t> after(static_cast<std::size_t>(size));
    vxSaveState(before.data());
    consolePrintf("state %d", 1);
    consoleDraw();
    vxSaveState(after.data());
    EXPECT_EQ(before, after);
}

TEST_F(ConsoleDraw, FreeUnlinksFontAndKeepsBitmap) {
    drawn("X");
    TextureCache& cache = *display.device.textureCaches[0];
    ASSERT_EQ(cache.first, &display.console.font);
    std::uint8_t corner = fontBitmap[13 * FONT_WIDTH + 1];
    consoleFree();
    EXPECT_EQ(cache.first, nullptr);
    EXPECT_EQ(cache.last, nullptr);
    EXPECT_FALSE(display.console.font.slot[0].resident);
    EXPECT_EQ(display.console.font.info.data, fontBitmap) << "the program's bitmap is not freed";
    EXPECT_EQ(fontBitmap[13 * FONT_WIDTH + 1], corner);
    EXPECT_EQ(display.console.grid, nullptr);
    EXPECT_EQ(consolePrintf("gone"), 0);
    // Set up again (as after a resolution switch) and draw: the font loads again.
    consoleInit(0, 0, 1, 1, float(width), float(height), COLUMNS, ROWS, 0xFFFFFFFFu);
    EXPECT_GT(lit(cell(drawn("X"), 0, 0)), 10);
}

// Texture memory smaller than the font's 8192 bytes: the font is refused and no text is drawn
// (without a texture bound every character would be an opaque block); the state is kept.
TEST_F(ConsoleDraw, RefusedFontDrawsNoText) {
    close();
    setenv("VEXA_TEXMEM", "4000", 1);
    open(VX_RES_640x480);
    unsetenv("VEXA_TEXMEM");
    ASSERT_FALSE(HasFatalFailure());
    std::int32_t size = 0;
    ASSERT_EQ(vxQuery(VX_QUERY_STATE_SIZE, 4, &size), 4);
    std::vector<std::uint8_t> before(static_cast<std::size_t>(size));
    std::vector<std::uint8_t> after(static_cast<std::size_t>(size));
    vxSaveState(before.data());
    for (int frame = 0; frame < 2; ++frame) {
        std::vector<std::uint16_t> frameDrawn = drawn("AB #\nSTATISTICS 123");
        EXPECT_EQ(lit(frameDrawn), 0) << "frame " << frame;
    }
    vxSaveState(after.data());
    EXPECT_EQ(before, after);
    EXPECT_FALSE(display.console.font.slot[0].resident);
    EXPECT_EQ(display.console.font.slot[0].refused, 1) << "the refusal is the cache's to report";
    EXPECT_EQ(display.device.textureCaches[0]->first, nullptr);
}

// The whole character set at both ends of the supported resolutions: every glyph but the
// space lights its cell, and nothing spills into the neighbouring cells.
TEST_F(ConsoleDraw, CharacterSetIsLegibleAtSmallAndLargeScreens) {
    for (int resolution : {VX_RES_640x480, VX_RES_1600x1200}) {
        close();
        open(resolution);
        std::string set = CONSOLE_CHARACTER_SET;
        std::string text;
        for (std::size_t k = 0; k < set.size(); ++k) text += set.substr(k, 1) + " ";
        std::vector<std::uint16_t> frame = drawn(text.c_str());
        dump(frame, resolution == VX_RES_640x480 ? "console_640.tga" : "console_1600.tga");
        for (std::size_t k = 0; k < set.size(); ++k) {
            int column = int(2 * k) % COLUMNS, row = int(2 * k) / COLUMNS;
            if (set[k] != ' ') {
                EXPECT_GT(lit(cell(frame, column, row)), 2) << set[k];
            }
            EXPECT_EQ(lit(cell(frame, column + 1, row)), 0) << "after " << set[k];
        }
    }
}
