// Font legibility tests: every run of opaque texels along a row or a column of every glyph is
// at least two texels long (so a point-sampling step of up to 1.43 texels, 512 x 384, always
// lands on it), and the real console drawn at 512 x 384, 640 x 480 and 1024 x 768, in every
// sub-pixel phase its cells take, shows each run it samples and lights nothing the font leaves
// clear.
#include "display/console.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "display/device.h"
#include "tests/display/console_output.h"
#include "tests/environment.h"

namespace {

constexpr int COLUMNS = 80;
constexpr int ROWS = 40;
constexpr std::uint16_t WHITE = 0xFFFF;   // the console colour below, packed 5-6-5
// Cells start 0.4 pixel further on per column at 512 x 384 (6.4 wide) and 0.6 per row (9.6
// high): five phases each way, all met by putting the character set on 25 rows, row r
// starting at column r / 5.
constexpr int PHASES = 5;
constexpr int LINES = PHASES * PHASES;

struct TexelRun {
    int first, last;
};

// Whether texel (x, y) of the cell of character k (its index in the set) is opaque.
bool opaque(int k, int x, int y) {
    int x0 = (k % FONT_CELLS_PER_ROW) * FONT_CELL_WIDTH;
    int y0 = (k / FONT_CELLS_PER_ROW) * FONT_CELL_HEIGHT;
    return fontBitmap[(y0 + y) * FONT_WIDTH + x0 + x] != 0;
}

// The runs of opaque texels along row `index` of a cell (alongRow) or along its column.
std::vector<TexelRun> runs(int k, bool alongRow, int index) {
    int length = alongRow ? FONT_CELL_WIDTH : FONT_CELL_HEIGHT;
    std::vector<TexelRun> found;
    for (int i = 0; i < length; ++i) {
        bool set = alongRow ? opaque(k, i, index) : opaque(k, index, i);
        if (!set) continue;
        if (!found.empty() && found.back().last == i - 1) {
            found.back().last = i;
        } else {
            found.push_back({i, i});
        }
    }
    return found;
}

std::string name(int k) {
    return std::string("'") + CONSOLE_CHARACTER_SET[k] + "'";
}

int setIndex(char c) {
    return int(std::strchr(CONSOLE_CHARACTER_SET, c) - CONSOLE_CHARACTER_SET);
}

// One pixel row or column of a cell and the texel row or column its centre samples.
struct Sample {
    int pixel, texel;
};

// The pixels whose centres lie in [start, start + size) and the texel each samples, for a
// cell of `texels` texels drawn `size` pixels long. At the sizes tested no centre comes
// nearer a texel or cell edge than 0.011 pixel, well above the 1/512 pixel by which the
// rasterizer's vertex snapping (and less, the console's float sums) can move the edges.
std::vector<Sample> samples(double start, double size, int texels) {
    std::vector<Sample> out;
    for (int p = int(std::ceil(start - 0.5)); p + 0.5 < start + size; ++p) {
        int t = int(std::floor((p + 0.5 - start) * texels / size));
        out.push_back({p, t});
    }
    return out;
}

class FontOnScreen : public ConsoleOutput {
protected:
    void open(int resolution) {
        openOutput(resolution);
        if (HasFatalFailure()) return;
        // As the program sets it up: the grid over the whole output.
        ASSERT_EQ(consoleInit(0, 0, 1, 1, float(width), float(height), COLUMNS, ROWS, 0xFFFFFFFFu), 1);
    }
    // Draws the character set on LINES rows over black and returns the problems found in its
    // cells, one line each.
    std::vector<std::string> drawAndCheck() {
        consoleClear();
        for (int line = 0; line < LINES; ++line)
            consolePrintf("%*s%s\n", line / PHASES, "", CONSOLE_CHARACTER_SET);
        vxClearBuffers(0, 0, 0xFFFF);
        consoleDraw();
        std::vector<std::uint16_t> frame(std::size_t(width) * height);
        EXPECT_TRUE(vxReadFrameRegion(VX_BUFFER_BACK, 0, 0, width, height, width * 2, frame.data()));

        std::vector<std::string> problems;
        const ConsoleState& console = consoleState;
        for (int line = 0; line < LINES; ++line) {
            for (int k = 0; CONSOLE_CHARACTER_SET[k]; ++k) {
                int column = line / PHASES + k;
                double x0 = double(console.originX) + column * double(console.cellWidth);
                double y0 = double(console.originY) + line * double(console.cellHeight);
                std::vector<Sample> xs = samples(x0, console.cellWidth, FONT_CELL_WIDTH);
                std::vector<Sample> ys = samples(y0, console.cellHeight, FONT_CELL_HEIGHT);
                std::ostringstream where;
                where << name(k) << " at column " << column << ", row " << line << ": ";
                auto lit = [&](const Sample& x, const Sample& y) {
                    return frame[std::size_t(y.pixel) * width + x.pixel] != 0;
                };
                for (const Sample& y : ys)
                    for (const Sample& x : xs) {
                        std::uint16_t p = frame[std::size_t(y.pixel) * width + x.pixel];
                        if (p != 0 && p != WHITE) {
                            problems.push_back(where.str() + "pixel not the console colour");
                        } else if (lit(x, y) != opaque(k, x.texel, y.texel)) {
                            std::ostringstream what;
                            what << where.str() << "pixel (" << x.pixel << ", " << y.pixel << ") "
                                 << (lit(x, y) ? "lit" : "dark") << " on texel (" << x.texel
                                 << ", " << y.texel << ")";
                            problems.push_back(what.str());
                        }
                    }
                // Every run in a texel row the cell samples is hit by some lit pixel of that
                // pixel row; likewise for the columns. (Rows and columns that no pixel samples
                // are left out: their strokes show through the neighbour the two-texel rule
                // gives them.)
                for (const Sample& y : ys)
                    for (TexelRun run : runs(k, true, y.texel)) {
                        bool hit = false;
                        for (const Sample& x : xs)
                            hit = hit || (x.texel >= run.first && x.texel <= run.last && lit(x, y));
                        if (!hit) {
                            std::ostringstream what;
                            what << where.str() << "texel row " << y.texel << ", columns "
                                 << run.first << "-" << run.last << " not drawn";
                            problems.push_back(what.str());
                        }
                    }
                for (const Sample& x : xs)
                    for (TexelRun run : runs(k, false, x.texel)) {
                        bool hit = false;
                        for (const Sample& y : ys)
                            hit = hit || (y.texel >= run.first && y.texel <= run.last && lit(x, y));
                        if (!hit) {
                            std::ostringstream what;
                            what << where.str() << "texel column " << x.texel << ", rows "
                                 << run.first << "-" << run.last << " not drawn";
                            problems.push_back(what.str());
                        }
                    }
            }
        }
        return problems;
    }
    void expectLegible(int resolution) {
        open(resolution);
        if (HasFatalFailure()) return;
        std::vector<std::string> problems = drawAndCheck();
        std::string listed;
        for (std::size_t i = 0; i < problems.size() && i < 12; ++i) listed += "\n  " + problems[i];
        EXPECT_TRUE(problems.empty()) << problems.size() << " problems at " << width << " x "
                                      << height << ", the first:" << listed;
    }
};

}  // namespace

TEST(FontGlyphs, EveryRunOfTexelsIsAtLeastTwoLong) {
    for (int k = 0; CONSOLE_CHARACTER_SET[k]; ++k) {
        std::ostringstream single;   // the one-texel runs, as (column, row) of the cell
        for (int y = 0; y < FONT_CELL_HEIGHT; ++y)
            for (TexelRun run : runs(k, true, y))
                if (run.first == run.last) single << " (" << run.first << ", " << y << ") across";
        for (int x = 0; x < FONT_CELL_WIDTH; ++x)
            for (TexelRun run : runs(k, false, x))
                if (run.first == run.last) single << " (" << x << ", " << run.first << ") down";
        EXPECT_EQ(single.str(), "") << name(k) << " has strokes one texel long";
    }
}

// Point-sampled at 512 x 384, in each of the 25 sub-pixel phases of a cell, any two glyphs
// differ in at least two pixels: none turns into another (8 into B, E into F) or into a blank.
TEST(FontGlyphs, StayTwoPixelsApartAtEveryPhaseOf512x384) {
    const double cellWidth = 512.0 / COLUMNS, cellHeight = 384.0 / ROWS;
    const int count = int(std::char_traits<char>::length(CONSOLE_CHARACTER_SET));
    for (int phase = 0; phase < LINES; ++phase) {
        std::vector<Sample> xs = samples((phase / PHASES) * cellWidth, cellWidth, FONT_CELL_WIDTH);
        std::vector<Sample> ys = samples((phase % PHASES) * cellHeight, cellHeight, FONT_CELL_HEIGHT);
        std::vector<std::vector<bool>> drawn;
        for (int k = 0; k < count; ++k) {
            drawn.emplace_back();
            for (const Sample& y : ys)
                for (const Sample& x : xs) drawn.back().push_back(opaque(k, x.texel, y.texel));
        }
        for (int a = 0; a < count; ++a)
            for (int b = 0; b < a; ++b) {
                const std::vector<bool>& one = drawn[std::size_t(a)];
                const std::vector<bool>& other = drawn[std::size_t(b)];
                int differences = 0;
                for (std::size_t i = 0; i < one.size(); ++i) differences += one[i] != other[i];
                EXPECT_GE(differences, 2) << name(a) << " and " << name(b) << " in cell phase ("
                                          << phase / PHASES << ", " << phase % PHASES << ")";
            }
    }
}

// The apostrophe sits in the top half of its cell, where the comma sits in the bottom half.
TEST(FontGlyphs, ApostropheIsTheCommaRaised) {
    const int apostrophe = setIndex('\''), comma = setIndex(',');
    int drawn = 0;
    for (int y = 0; y < FONT_CELL_HEIGHT; ++y)
        for (int x = 0; x < FONT_CELL_WIDTH; ++x) {
            bool lit = opaque(apostrophe, x, y);
            drawn += lit;
            if (y >= FONT_CELL_HEIGHT / 2) {
                EXPECT_FALSE(lit) << "(" << x << ", " << y << ")";
            } else {
                EXPECT_EQ(lit, opaque(comma, x, y + 5)) << "(" << x << ", " << y << ")";
            }
        }
    EXPECT_GT(drawn, 8);
}

// The smallest output: 6.4 x 9.6 pixels for the 9 x 12 texels, texel columns and rows dropped.
TEST_F(FontOnScreen, EveryStrokeShowsAt512x384) { expectLegible(VX_RES_512x384); }

// 8 pixels for 9 texels across: one texel column of each cell is never sampled.
TEST_F(FontOnScreen, EveryStrokeShowsAt640x480) { expectLegible(VX_RES_640x480); }

// Magnified (12.8 x 19.2 pixels): every texel is drawn, none lit outside the glyph.
TEST_F(FontOnScreen, EveryStrokeShowsAt1024x768) { expectLegible(VX_RES_1024x768); }
