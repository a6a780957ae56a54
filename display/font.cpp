// The console's font: 59 glyphs drawn as text art, 7 x 10 texels each inside a 9 x 12 cell
// (one empty column left and right, one empty row above and below), 14 cells per row in the
// order of CONSOLE_CHARACTER_SET, expanded at compile time into the 128 x 64 alpha bitmap.
// A 9-texel cell point-sampled onto 8 pixels (640 x 480, 80 columns) loses its middle texel
// column (column 3 of the art): glyphs are drawn so that they still read without it (M and W
// thin, so that they fold into six-column forms); strokes are two texels wide for weight.
#include <cstddef>
#include <string>

#include "display/console.h"

namespace {

constexpr int GLYPH_ROWS = 10;
constexpr int GLYPH_COLUMNS = 7;
constexpr int GLYPH_COUNT = 59;

// Rows top first; 'X' is an opaque texel. Row 10 is the descender, empty for most glyphs.
constexpr const char* GLYPHS[GLYPH_COUNT][GLYPH_ROWS] = {
    {"..XXX..", ".XX.XX.", "XX...XX", "XX...XX", "XXXXXXX", "XX...XX", "XX...XX", "XX...XX", "XX...XX", "......."},  // A
    {"XXXXXX.", "XX...XX", "XX...XX", "XX...XX", "XXXXXX.", "XX...XX", "XX...XX", "XX...XX", "XXXXXX.", "......."},  // B
    {".XXXXX.", "XX...XX", "XX.....", "XX.....", "XX.....", "XX.....", "XX.....", "XX...XX", ".XXXXX.", "......."},  // C
    {"XXXXX..", "XX..XX.", "XX...XX", "XX...XX", "XX...XX", "XX...XX", "XX...XX", "XX..XX.", "XXXXX..", "......."},  // D
    {"XXXXXXX", "XX.....", "XX.....", "XX.....", "XXXXXX.", "XX.....", "XX.....", "XX.....", "XXXXXXX", "......."},  // E
    {"XXXXXXX", "XX.....", "XX.....", "XX.....", "XXXXXX.", "XX.....", "XX.....", "XX.....", "XX.....", "......."},  // F
    {".XXXXX.", "XX...XX", "XX.....", "XX.....", "XX..XXX", "XX...XX", "XX...XX", "XX...XX", ".XXXXX.", "......."},  // G
    {"XX...XX", "XX...XX", "XX...XX", "XX...XX", "XXXXXXX", "XX...XX", "XX...XX", "XX...XX", "XX...XX", "......."},  // H
    {".XXXXX.", "..XXX..", "..XXX..", "..XXX..", "..XXX..", "..XXX..", "..XXX..", "..XXX..", ".XXXXX.", "......."},  // I
    {"...XXXX", ".....XX", ".....XX", ".....XX", ".....XX", ".....XX", "XX...XX", "XX...XX", ".XXXXX.", "......."},  // J
    {"XX...XX", "XX..XX.", "XX.XX..", "XXXX...", "XXX....", "XXXX...", "XX.XX..", "XX..XX.", "XX...XX", "......."},  // K
    {"XX.....", "XX.....", "XX.....", "XX.....", "XX.....", "XX.....", "XX.....", "XX.....", "XXXXXXX", "......."},  // L
    {"X.....X", "XX...XX", "X.X.X.X", "X..X..X", "X.....X", "X.....X", "X.....X", "X.....X", "X.....X", "......."},  // M
    {"XX...XX", "XXX..XX", "XXXX.XX", "XX.XXXX", "XX..XXX", "XX...XX", "XX...XX", "XX...XX", "XX...XX", "......."},  // N
    {".XXXXX.", "XX...XX", "XX...XX", "XX...XX", "XX...XX", "XX...XX", "XX...XX", "XX...XX", ".XXXXX.", "......."},  // O
    {"XXXXXX.", "XX...XX", "XX...XX", "XX...XX", "XXXXXX.", "XX.....", "XX.....", "XX.....", "XX.....", "......."},  // P
    {".XXXXX.", "XX...XX", "XX...XX", "XX...XX", "XX...XX", "XX...XX", "XX.XXXX", "XX..XX.", ".XXX.XX", "......."},  // Q
    {"XXXXXX.", "XX...XX", "XX...XX", "XX...XX", "XXXXXX.", "XXXX...", "XX.XX..", "XX..XX.", "XX...XX", "......."},  // R
    {".XXXXX.", "XX...XX", "XX.....", "XX.....", ".XXXXX.", ".....XX", ".....XX", "XX...XX", ".XXXXX.", "......."},  // S
    {"XXXXXXX", "..XXX..", "..XXX..", "..XXX..", "..XXX..", "..XXX..", "..XXX..", "..XXX..", "..XXX..", "......."},  // T
    {"XX...XX", "XX...XX", "XX...XX", "XX...XX", "XX...XX", "XX...XX", "XX...XX", "XX...XX", ".XXXXX.", "......."},  // U
    {"XX...XX", "XX...XX", "XX...XX", "XX...XX", "XX...XX", ".XX.XX.", ".XX.XX.", "..XXX..", "..XXX..", "......."},  // V
    {"X.....X", "X.....X", "X.....X", "X.....X", "X..X..X", "X.X.X.X", "XX...XX", "X.....X", "X.....X", "......."},  // W
    {"XX...XX", "XX...XX", ".XX.XX.", "..XXX..", "..XXX..", "..XXX..", ".XX.XX.", "XX...XX", "XX...XX", "......."},  // X
    {"XX...XX", "XX...XX", "XX...XX", ".XX.XX.", "..XXX..", "..XXX..", "..XXX..", "..XXX..", "..XXX..", "......."},  // Y
    {"XXXXXXX", ".....XX", "....XX.", "...XX..", "..XX...", ".XX....", "XX.....", "XX.....", "XXXXXXX", "......."},  // Z
    {".XXXXX.", "XX...XX", "XX..XXX", "XX.XXXX", "XXXX.XX", "XXX..XX", "XX...XX", "XX...XX", ".XXXXX.", "......."},  // 0
    {"..XXX..", ".XXXX..", "XXXXX..", "..XXX..", "..XXX..", "..XXX..", "..XXX..", "..XXX..", "XXXXXXX", "......."},  // 1
    {".XXXXX.", "XX...XX", ".....XX", ".....XX", "....XX.", "..XXX..", ".XX....", "XX.....", "XXXXXXX", "......."},  // 2
    {".XXXXX.", "XX...XX", ".....XX", ".....XX", "..XXXX.", ".....XX", ".....XX", "XX...XX", ".XXXXX.", "......."},  // 3
    {"....XX.", "...XXX.", "..XXXX.", ".XX.XX.", "XX..XX.", "XXXXXXX", "....XX.", "....XX.", "....XX.", "......."},  // 4
    {"XXXXXXX", "XX.....", "XX.....", "XXXXXX.", ".....XX", ".....XX", ".....XX", "XX...XX", ".XXXXX.", "......."},  // 5
    {"..XXXX.", ".XX....", "XX.....", "XX.....", "XXXXXX.", "XX...XX", "XX...XX", "XX...XX", ".XXXXX.", "......."},  // 6
    {"XXXXXXX", ".....XX", ".....XX", "....XX.", "...XX..", "..XX...", "..XX...", "..XX...", "..XX...", "......."},  // 7
    {".XXXXX.", "XX...XX", "XX...XX", "XX...XX", ".XXXXX.", "XX...XX", "XX...XX", "XX...XX", ".XXXXX.", "......."},  // 8
    {".XXXXX.", "XX...XX", "XX...XX", "XX...XX", ".XXXXXX", ".....XX", ".....XX", "....XX.", ".XXXX..", "......."},  // 9
    {".......", ".......", ".......", ".......", ".......", ".......", ".......", "..XXX..", "..XXX..", "......."},  // .
    {".......", ".......", ".......", ".......", ".......", ".......", ".......", "..XXX..", "..XXX..", ".XX...."},  // ,
    {".......", ".......", "..XXX..", "..XXX..", ".......", ".......", ".......", "..XXX..", "..XXX..", ".XX...."},  // ;
    {".......", ".......", "..XXX..", "..XXX..", ".......", ".......", ".......", "..XXX..", "..XXX..", "......."},  // :
    {".......", ".......", ".XX.XX.", "..XXX..", "XXXXXXX", "..XXX..", ".XX.XX.", ".......", ".......", "......."},  // *
    {".......", ".......", ".......", ".......", ".XXXXX.", ".......", ".......", ".......", ".......", "......."},  // -
    {".......", ".......", "..XXX..", "..XXX..", "XXXXXXX", "..XXX..", "..XXX..", ".......", ".......", "......."},  // +
    {".....XX", ".....XX", "....XX.", "...XX..", "..XXX..", "..XX...", ".XX....", "XX.....", "XX.....", "......."},  // /
    {".......", ".......", ".......", ".......", ".......", ".......", ".......", ".......", ".......", "XXXXXXX"},  // _
    {"...XX..", "..XX...", ".XX....", ".XX....", ".XX....", ".XX....", ".XX....", "..XX...", "...XX..", "......."},  // (
    {"..XX...", "...XX..", "....XX.", "....XX.", "....XX.", "....XX.", "....XX.", "...XX..", "..XX...", "......."},  // )
    {"....XX.", "...XX..", "..XX...", ".XX....", "XX.....", ".XX....", "..XX...", "...XX..", "....XX.", "......."},  // <
    {".XX....", "..XX...", "...XX..", "....XX.", ".....XX", "....XX.", "...XX..", "..XX...", ".XX....", "......."},  // >
    {"...XX..", "...XX..", "...XX..", "...XX..", "...XX..", "...XX..", "...XX..", "...XX..", "...XX..", "...XX.."},  // |
    {".XXXX..", ".XX....", ".XX....", ".XX....", ".XX....", ".XX....", ".XX....", ".XX....", ".XXXX..", "......."},  // [
    {"..XXXX.", "....XX.", "....XX.", "....XX.", "....XX.", "....XX.", "....XX.", "....XX.", "..XXXX.", "......."},  // ]
    {"...XXX.", "..XX...", "..XX...", "..XX...", "XXX....", "..XX...", "..XX...", "..XX...", "...XXX.", "......."},  // {
    {".XXX...", "...XX..", "...XX..", "...XX..", "....XXX", "...XX..", "...XX..", "...XX..", ".XXX...", "......."},  // }
    {"..XXX..", "..XXX..", "..XXX..", "..XXX..", "..XXX..", "..XXX..", ".......", "..XXX..", "..XXX..", "......."},  // !
    {".......", ".......", ".......", ".......", ".......", ".......", ".......", ".......", ".......", "......."},  // space
    {".......", ".......", ".......", "XXXXXXX", ".......", "XXXXXXX", ".......", ".......", ".......", "......."},  // =
    {".X...X.", ".X...X.", "XXXXXXX", ".X...X.", ".X...X.", ".X...X.", "XXXXXXX", ".X...X.", ".X...X.", "......."},  // #
    {"XX.....", "XX.....", ".XX....", "..XX...", "..XXX..", "...XX..", "....XX.", ".....XX", ".....XX", "......."},  // backslash
};

// Not constexpr on purpose: reaching it while the bitmap is built at compile time stops the
// build, so a glyph row of the wrong length cannot shift the glyphs after it.
void glyphRowHasWrongLength() {}

struct FontImage {
    std::uint8_t texel[FONT_WIDTH * FONT_HEIGHT];
};

constexpr FontImage buildFont() {
    FontImage image{};
    for (int k = 0; k < GLYPH_COUNT; ++k) {
        int cellX = (k % FONT_CELLS_PER_ROW) * FONT_CELL_WIDTH + 1;
        int cellY = (k / FONT_CELLS_PER_ROW) * FONT_CELL_HEIGHT + 1;
        for (int row = 0; row < GLYPH_ROWS; ++row) {
            const char* line = GLYPHS[k][row];
            for (int col = 0; col < GLYPH_COLUMNS; ++col) {
                if (line[col] != 'X' && line[col] != '.') glyphRowHasWrongLength();
                if (line[col] == 'X') image.texel[(cellY + row) * FONT_WIDTH + cellX + col] = 255;
            }
            if (line[GLYPH_COLUMNS] != '\0') glyphRowHasWrongLength();
        }
    }
    return image;
}

constexpr FontImage FONT_IMAGE = buildFont();

static_assert(sizeof(GLYPHS) / sizeof(GLYPHS[0]) == GLYPH_COUNT, "one glyph per character");
static_assert(std::char_traits<char>::length(CONSOLE_CHARACTER_SET) == GLYPH_COUNT,
              "the character set and the glyphs agree");
static_assert((FONT_CELLS_PER_ROW * FONT_CELL_WIDTH) <= FONT_WIDTH &&
                  ((GLYPH_COUNT + FONT_CELLS_PER_ROW - 1) / FONT_CELLS_PER_ROW) * FONT_CELL_HEIGHT <=
                      FONT_HEIGHT,
              "the cells fit the bitmap");

}  // namespace

// The bitmap must be a plain array of bytes (the texture's data), so the constant image is
// spelled out element by element: each macro level repeats the one below it.
#define FONT_T1(i) FONT_IMAGE.texel[(i)]
#define FONT_T4(i) FONT_T1(i), FONT_T1((i) + 1), FONT_T1((i) + 2), FONT_T1((i) + 3)
#define FONT_T16(i) FONT_T4(i), FONT_T4((i) + 4), FONT_T4((i) + 8), FONT_T4((i) + 12)
#define FONT_T64(i) FONT_T16(i), FONT_T16((i) + 16), FONT_T16((i) + 32), FONT_T16((i) + 48)
#define FONT_T256(i) FONT_T64(i), FONT_T64((i) + 64), FONT_T64((i) + 128), FONT_T64((i) + 192)
#define FONT_T1024(i) \
    FONT_T256(i), FONT_T256((i) + 256), FONT_T256((i) + 512), FONT_T256((i) + 768)
#define FONT_T8192(i)                                                                   \
    FONT_T1024(i), FONT_T1024((i) + 1024), FONT_T1024((i) + 2048), FONT_T1024((i) + 3072), \
        FONT_T1024((i) + 4096), FONT_T1024((i) + 5120), FONT_T1024((i) + 6144),            \
        FONT_T1024((i) + 7168)

static_assert(FONT_WIDTH * FONT_HEIGHT == 8192, "the expansion below covers the bitmap");
const std::uint8_t fontBitmap[FONT_WIDTH * FONT_HEIGHT] = {FONT_T8192(0)};
