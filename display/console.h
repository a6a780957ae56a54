// Text console overlay: a character grid printed into with printf-style calls and drawn with
// a built-in 9 x 12 font, one textured quad per character, render state saved around it.
#pragma once

#include <cstdint>

#include "texture/cache.h"

constexpr int CONSOLE_LINE_BUFFER = 4096;
constexpr int CONSOLE_GLYPHS = 128;
constexpr int FONT_WIDTH = 128;
constexpr int FONT_HEIGHT = 64;
constexpr int FONT_CELL_WIDTH = 9;
constexpr int FONT_CELL_HEIGHT = 12;
constexpr int FONT_CELLS_PER_ROW = 14;
// The program's console over the whole output: 80 columns, 40 rows, the statistics in dark red
// and the help in dark green.
constexpr int CONSOLE_COLUMNS = 80;
constexpr int CONSOLE_ROWS = 40;
constexpr std::uint32_t STATISTICS_COLOUR = 0xFF00007F;  // dark red
constexpr std::uint32_t HELP_COLOUR = 0xFF007F00;        // dark green
// Behind the help: black that lets an eighth of the picture through, so that the dark green
// stays readable over the bright sea.
constexpr std::uint32_t HELP_BACKING_COLOUR = 0xE0000000;
constexpr const char* CONSOLE_CHARACTER_SET =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.,;:*-+/_()<>|[]{}! =#\\'";

struct ConsoleState {
    int enabled;
    int columns, rows;
    std::uint8_t* grid;                 // columns * rows codes; 0 ends a row's visible part
    int cursorRow, cursorColumn;
    std::uint32_t colour;               // output colour format (ABGR)
    float scaleX, scaleY;
    float originX, originY;
    float cellWidth, cellHeight;
    char lineBuffer[CONSOLE_LINE_BUFFER];
    std::uint8_t glyph[CONSOLE_GLYPHS][2];   // (s, t) of each code's cell, texel units
    Texture font;
};

// The 128 x 64 alpha bitmap (one byte per texel, 0 or 255), cells in character-set order.
extern const std::uint8_t fontBitmap[FONT_WIDTH * FONT_HEIGHT];

// Sets up the console over (x0, y0)-(x1, y1) in units scaled to pixels; disabled (every
// print returns 0) when KR_VEXA_NO_FONT exists. Returns 1.
int consoleInit(float x0, float y0, float x1, float y1, float scaleX, float scaleY, int columns,
                int rows, std::uint32_t colour);
// printf into the grid in upper case, wrapping and scrolling; returns the formatted length.
int consolePrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
void consoleClear();
void consoleSetColour(std::uint32_t colour);
// Draws the grid over the picture; the render state is the same afterwards. Draws nothing
// while texture memory refuses the font.
void consoleDraw();
// Darkens the block behind the grid's text (from its first to its last row with text, as wide
// as its longest row and half a cell more on each side) with `colour` (ABGR; its alpha says how
// much of the picture still shows), so that the text stays readable over a bright picture.
// Nothing when the console is off or the text would not be drawn. The render state is the
// same afterwards.
void consoleDrawBacking(std::uint32_t colour);
// Releases the grid (and the font's place in texture memory).
void consoleFree();
