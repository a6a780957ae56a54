// The console's font: 60 glyphs drawn as text art, 7 x 10 texels each inside a 9 x 12 cell
// (one empty column left and right, one empty row above and below), 14 cells per row in the
// order of CONSOLE_CHARACTER_SET, expanded at compile time into the 128 x 64 alpha bitmap.
// The console point-samples a cell at down to 0.71 x 0.8 of its size (512 x 384), a step of up
// to 1.43 texels, so every run of opaque texels along a row or a column of the art is at least
// two long: some pixel always lands on every stroke. Gaps are two texels where the box allows;
// the one-texel gaps left in diagonals and tight joins (M, N, W, K, R, V, X, Y, Z, A, Q, 0, 3,
// 6, 9) only sharpen glyphs that still read once those gaps close. At 640 x 480 the art's
// column 3 is never sampled, and no glyph is told apart by it alone.
//
// The one exception to the two-texel rule is the middle stroke of M and W: three strokes and two
// gaps do not fit seven texels at two each, so it is the centre column alone, two rows tall
// (so no row phase drops it). Where a column phase skips it (always at 640 x 480, one phase in
// five at 512 x 384) the letter still shows its two-row opening and its bar, which keep it apart
// from H, N, U and V; wherever it is sampled the letter shows its middle stroke.
#include <cstddef>
#include <string>

#include "display/console.h"

namespace {

constexpr int GLYPH_ROWS = 10;
constexpr int GLYPH_COLUMNS = 7;
constexpr int GLYPH_COUNT = 60;

// Rows top first; 'X' is an opaque texel. Letters and digits use all ten rows, so that three
// bars two texels tall (E, B, S, 8) have two-texel gaps between them; there is no descender.
// Glyphs that could be taken for one another (8 and B, S and 5, O, D and 0, M, H and W) differ
// in more than one place, so that whichever columns and rows a sampling phase drops, at least
// two pixels still tell them apart. The 8 pinches in by a whole stroke at its waist, so that it
// reads as two rings rather than a barred 0. The apostrophe is the comma raised to the top.
constexpr const char* GLYPHS[GLYPH_COUNT][GLYPH_ROWS] = {
    {"..XXX..", "..XXX..", ".XX.XX.", "XX...XX", "XX...XX", "XXXXXXX", "XXXXXXX", "XX...XX", "XX...XX", "XX...XX"},  // A
    {"XXXXXX.", "XXXXXXX", "XX...XX", "XX...XX", "XXXXX..", "XXXXX..", "XX...XX", "XX...XX", "XXXXXXX", "XXXXXX."},  // B
    {"..XXXXX", ".XXXXXX", "XX.....", "XX.....", "XX.....", "XX.....", "XX.....", "XX.....", ".XXXXXX", "..XXXXX"},  // C
    {"XXXXX..", "XXXXX..", "XX..XX.", "XX...XX", "XX...XX", "XX...XX", "XX...XX", "XX..XX.", "XXXXX..", "XXXXX.."},  // D
    {"XXXXXXX", "XXXXXXX", "XX.....", "XX.....", "XXXXX..", "XXXXX..", "XX.....", "XX.....", "XXXXXXX", "XXXXXXX"},  // E
    {"XXXXXXX", "XXXXXXX", "XX.....", "XX.....", "XXXXX..", "XXXXX..", "XX.....", "XX.....", "XX.....", "XX....."},  // F
    {"..XXXXX", ".XXXXXX", "XX.....", "XX.....", "XX..XXX", "XX..XXX", "XX...XX", "XX...XX", ".XXXXXX", "..XXXXX"},  // G
    {"XX...XX", "XX...XX", "XX...XX", "XX...XX", "XXXXXXX", "XXXXXXX", "XX...XX", "XX...XX", "XX...XX", "XX...XX"},  // H
    {"XXXXXXX", "XXXXXXX", "..XXX..", "..XXX..", "..XXX..", "..XXX..", "..XXX..", "..XXX..", "XXXXXXX", "XXXXXXX"},  // I
    {"...XXXX", "...XXXX", ".....XX", ".....XX", ".....XX", ".....XX", "XX...XX", "XX...XX", "XXXXXXX", ".XXXXX."},  // J
    {"XX...XX", "XX..XXX", "XX.XXX.", "XXXXX..", "XXXX...", "XXXX...", "XXXXX..", "XX.XXX.", "XX..XXX", "XX...XX"},  // K
    {"XX.....", "XX.....", "XX.....", "XX.....", "XX.....", "XX.....", "XX.....", "XX.....", "XXXXXXX", "XXXXXXX"},  // L
    {"XX...XX", "XX...XX", "XXXXXXX", "XXXXXXX", "XX.X.XX", "XX.X.XX", "XX...XX", "XX...XX", "XX...XX", "XX...XX"},  // M
    {"XX...XX", "XXX..XX", "XXX..XX", "XXXX.XX", "XXXX.XX", "XX.XXXX", "XX.XXXX", "XX..XXX", "XX..XXX", "XX...XX"},  // N
    {"..XXX..", ".XXXXX.", "XX...XX", "XX...XX", "XX...XX", "XX...XX", "XX...XX", "XX...XX", "XXXXXXX", ".XXXXX."},  // O
    {"XXXXXX.", "XXXXXXX", "XX...XX", "XX...XX", "XXXXXXX", "XXXXXX.", "XX.....", "XX.....", "XX.....", "XX....."},  // P
    {"..XXX..", ".XXXXX.", "XX...XX", "XX...XX", "XX...XX", "XX..XXX", "XX.XXXX", "XX.XXXX", ".XXXXXX", "..XXXXX"},  // Q
    {"XXXXXX.", "XXXXXXX", "XX...XX", "XX...XX", "XXXXXXX", "XXXXXX.", "XX.XX..", "XX..XX.", "XX...XX", "XX...XX"},  // R
    {"..XXXXX", ".XXXXXX", "XX.....", "XX.....", "..XXX..", "..XXX..", ".....XX", ".....XX", "XXXXXX.", "XXXXX.."},  // S
    {"XXXXXXX", "XXXXXXX", "..XXX..", "..XXX..", "..XXX..", "..XXX..", "..XXX..", "..XXX..", "..XXX..", "..XXX.."},  // T
    {"XX...XX", "XX...XX", "XX...XX", "XX...XX", "XX...XX", "XX...XX", "XX...XX", "XX...XX", "XXXXXXX", ".XXXXX."},  // U
    {"XX...XX", "XX...XX", "XX...XX", "XX...XX", "XX...XX", "XX...XX", ".XX.XX.", ".XX.XX.", "..XXX..", "..XXX.."},  // V
    {"XX...XX", "XX...XX", "XX...XX", "XX...XX", "XX.X.XX", "XX.X.XX", "XXXXXXX", "XXXXXXX", "XX...XX", "XX...XX"},  // W
    {"XX...XX", "XX...XX", ".XX.XX.", ".XX.XX.", "..XXX..", "..XXX..", ".XX.XX.", ".XX.XX.", "XX...XX", "XX...XX"},  // X
    {"XX...XX", "XX...XX", ".XX.XX.", ".XX.XX.", "..XXX..", "..XXX..", "..XXX..", "..XXX..", "..XXX..", "..XXX.."},  // Y
    {"XXXXXXX", "XXXXXXX", ".....XX", "....XX.", "...XX..", "..XX...", ".XX....", "XX.....", "XXXXXXX", "XXXXXXX"},  // Z
    {"..XXX..", ".XXXXX.", "XX..XXX", "XX..XXX", "XX.XXXX", "XXXX.XX", "XXX..XX", "XXX..XX", "XXXXXXX", ".XXXXX."},  // 0
    {"..XXX..", "XXXXX..", "XXXXX..", "..XXX..", "..XXX..", "..XXX..", "..XXX..", "..XXX..", "XXXXXXX", "XXXXXXX"},  // 1
    {".XXXXX.", "XXXXXXX", "XX...XX", ".....XX", "..XXXX.", ".XXXX..", "XX.....", "XX.....", "XXXXXXX", "XXXXXXX"},  // 2
    {"XXXXXX.", "XXXXXXX", ".....XX", ".....XX", "..XXXX.", "..XXXXX", ".....XX", ".....XX", "XXXXXXX", "XXXXXX."},  // 3
    {"XX..XX.", "XX..XX.", "XX..XX.", "XX..XX.", "XXXXXXX", "XXXXXXX", "....XX.", "....XX.", "....XX.", "....XX."},  // 4
    {"XXXXXXX", "XXXXXXX", "XX.....", "XX.....", "XXXXXX.", "XXXXXXX", ".....XX", ".....XX", "XXXXXXX", "XXXXXX."},  // 5
    {"...XX..", "..XXX..", ".XX....", "XX.....", "XXXXXX.", "XXXXXXX", "XX...XX", "XX...XX", "XXXXXXX", ".XXXXX."},  // 6
    {"XXXXXXX", "XXXXXXX", "....XX.", "....XX.", "...XX..", "...XX..", "..XX...", "..XX...", "..XX...", "..XX..."},  // 7
    {"..XXX..", ".XXXXX.", "XX...XX", "XX...XX", "..XXX..", "..XXX..", "XX...XX", "XX...XX", ".XXXXX.", "..XXX.."},  // 8
    {".XXXXX.", "XXXXXXX", "XX...XX", "XX...XX", "XXXXXXX", ".XXXXXX", ".....XX", "....XX.", "..XXX..", "..XX..."},  // 9
    {".......", ".......", ".......", ".......", ".......", ".......", ".......", ".......", "..XXX..", "..XXX.."},  // .
    {".......", ".......", ".......", ".......", ".......", "..XXX..", "..XXX..", "..XX...", ".XX....", ".XX...."},  // ,
    {".......", "..XXX..", "..XXX..", ".......", ".......", "..XXX..", "..XXX..", "..XX...", ".XX....", ".XX...."},  // ;
    {".......", "..XXX..", "..XXX..", ".......", ".......", ".......", ".......", ".......", "..XXX..", "..XXX.."},  // :
    {".......", ".......", "XX...XX", "XX...XX", "..XXX..", "..XXX..", "XX...XX", "XX...XX", ".......", "......."},  // *
    {".......", ".......", ".......", ".......", ".XXXXX.", ".XXXXX.", ".......", ".......", ".......", "......."},  // -
    {".......", ".......", "..XXX..", "..XXX..", "XXXXXXX", "XXXXXXX", "..XXX..", "..XXX..", ".......", "......."},  // +
    {".....XX", ".....XX", "....XX.", "...XX..", "...XX..", "..XX...", "..XX...", ".XX....", "XX.....", "XX....."},  // /
    {".......", ".......", ".......", ".......", ".......", ".......", ".......", ".......", "XXXXXXX", "XXXXXXX"},  // _
    {"...XX..", "...XX..", "..XX...", ".XX....", ".XX....", ".XX....", ".XX....", "..XX...", "...XX..", "...XX.."},  // (
    {"..XX...", "..XX...", "...XX..", "....XX.", "....XX.", "....XX.", "....XX.", "...XX..", "..XX...", "..XX..."},  // )
    {"....XX.", "....XX.", "...XX..", "..XX...", ".XX....", ".XX....", "..XX...", "...XX..", "....XX.", "....XX."},  // <
    {".XX....", ".XX....", "..XX...", "...XX..", "....XX.", "....XX.", "...XX..", "..XX...", ".XX....", ".XX...."},  // >
    {"...XX..", "...XX..", "...XX..", "...XX..", "...XX..", "...XX..", "...XX..", "...XX..", "...XX..", "...XX.."},  // |
    {".XXXXX.", ".XXXXX.", ".XX....", ".XX....", ".XX....", ".XX....", ".XX....", ".XX....", ".XXXXX.", ".XXXXX."},  // [
    {".XXXXX.", ".XXXXX.", "....XX.", "....XX.", "....XX.", "....XX.", "....XX.", "....XX.", ".XXXXX.", ".XXXXX."},  // ]
    {"..XXXX.", "..XXXX.", "..XX...", "..XX...", "XXXX...", "XXXX...", "..XX...", "..XX...", "..XXXX.", "..XXXX."},  // {
    {".XXXX..", ".XXXX..", "...XX..", "...XX..", "...XXXX", "...XXXX", "...XX..", "...XX..", ".XXXX..", ".XXXX.."},  // }
    {"..XXX..", "..XXX..", "..XXX..", "..XXX..", "..XXX..", "..XXX..", ".......", ".......", "..XXX..", "..XXX.."},  // !
    {".......", ".......", ".......", ".......", ".......", ".......", ".......", ".......", ".......", "......."},  // space
    {".......", ".......", "XXXXXXX", "XXXXXXX", ".......", ".......", "XXXXXXX", "XXXXXXX", ".......", "......."},  // =
    {"XX..XX.", "XX..XX.", "XXXXXXX", "XXXXXXX", "XX..XX.", "XX..XX.", "XXXXXXX", "XXXXXXX", "XX..XX.", "XX..XX."},  // #
    {"XX.....", "XX.....", ".XX....", "..XX...", "..XX...", "...XX..", "...XX..", "....XX.", ".....XX", ".....XX"},  // backslash
    {"..XXX..", "..XXX..", "..XX...", ".XX....", ".XX....", ".......", ".......", ".......", ".......", "......."},  // apostrophe
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
