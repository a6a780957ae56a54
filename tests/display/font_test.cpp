// Font legibility tests: every run of opaque texels along a row or a column of every glyph is
// at least two texels long (so a point-sampling step of up to 1.43 texels, 512 x 384, always
// lands on it; the middle stroke of M and W is the one named exception), and at every output
// size the program offers, in every sub-pixel phase a cell takes, the glyphs as the console
// samples them stay apart and keep what tells them apart (the 8's waist, the opening and middle
// stroke of M and W). The real console drawn at each size shows each run it samples and lights
// nothing the font leaves clear, so the sampling modelled here is the one on screen.
#include "display/console.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "display/device.h"
#include "tests/display/console_output.h"
#include "display/display.h"
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

// The middle stroke of M and W: the cell's centre column alone (three strokes and two gaps do
// not fit the seven texels of the art at two each). No other glyph has a one-texel stroke.
bool middleStroke(int k, int x) {
    char c = CONSOLE_CHARACTER_SET[k];
    return (c == 'M' || c == 'W') && x == FONT_CELL_WIDTH / 2;
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

// The output sizes the program offers; the console lays 80 x 40 cells over each.
struct OutputSize {
    int resolution, width, height;
};
constexpr OutputSize OUTPUT_SIZES[] = {
    {VX_RES_1600x1200, 1600, 1200}, {VX_RES_1280x1024, 1280, 1024}, {VX_RES_1024x768, 1024, 768},
    {VX_RES_800x600, 800, 600},     {VX_RES_640x480, 640, 480},     {VX_RES_512x384, 512, 384},
};

// The sub-pixel offsets at which cells of `size` pixels start, `count` cells in a row.
std::vector<double> cellPhases(double size, int count) {
    std::vector<double> phases;
    for (int i = 0; i < count; ++i) {
        double phase = i * size - std::floor(i * size);
        bool known = false;
        for (double p : phases) known = known || std::fabs(p - phase) < 1e-6;
        if (!known) phases.push_back(phase);
    }
    return phases;
}

// A glyph as the console samples it: rows of pixels, true where lit.
using Rendering = std::vector<std::vector<bool>>;

Rendering render(int k, const std::vector<Sample>& xs, const std::vector<Sample>& ys) {
    Rendering out;
    for (const Sample& y : ys) {
        out.emplace_back();
        for (const Sample& x : xs) out.back().push_back(opaque(k, x.texel, y.texel));
    }
    return out;
}

std::string picture(const Rendering& r) {
    std::string text;
    for (const auto& row : r) {
        text += "\n    ";
        for (bool lit : row) text += lit ? '#' : '.';
    }
    return text;
}

// Calls check(xs, ys, where) for every cell phase of every output size.
template <typename Check>
void forEverySizeAndPhase(Check check) {
    for (const OutputSize& size : OUTPUT_SIZES) {
        const double cellWidth = double(size.width) / COLUMNS;
        const double cellHeight = double(size.height) / ROWS;
        for (double px : cellPhases(cellWidth, COLUMNS))
            for (double py : cellPhases(cellHeight, ROWS)) {
                std::ostringstream where;
                where << size.width << " x " << size.height << ", cell phase (" << px << ", "
                      << py << ")";
                check(samples(px, cellWidth, FONT_CELL_WIDTH),
                      samples(py, cellHeight, FONT_CELL_HEIGHT), where.str());
            }
    }
}

// The runs of lit pixels along one rendered row, as (first, last) pixel indices.
std::vector<TexelRun> litRuns(const std::vector<bool>& row) {
    std::vector<TexelRun> found;
    for (int i = 0; i < int(row.size()); ++i) {
        if (!row[std::size_t(i)]) continue;
        if (!found.empty() && found.back().last == i - 1) {
            found.back().last = i;
        } else {
            found.push_back({i, i});
        }
    }
    return found;
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
        const ConsoleState& console = display.console;
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
                        bool hit = false, sampled = false;
                        for (const Sample& x : xs) {
                            bool on = x.texel >= run.first && x.texel <= run.last;
                            sampled = sampled || on;
                            hit = hit || (on && lit(x, y));
                        }
                        // The one-texel middle stroke of M and W shows where its column is
                        // sampled; elsewhere the pair test below keeps those letters apart.
                        if (!sampled && run.first == run.last && middleStroke(k, run.first))
                            continue;
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
                if (run.first == run.last && !middleStroke(k, run.first))
                    single << " (" << run.first << ", " << y << ") across";
        for (int x = 0; x < FONT_CELL_WIDTH; ++x)
            for (TexelRun run : runs(k, false, x))
                if (run.first == run.last) single << " (" << x << ", " << run.first << ") down";
        EXPECT_EQ(single.str(), "") << name(k) << " has strokes one texel long";
    }
}

// Point-sampled at every output size, in each sub-pixel phase of a cell, any two glyphs differ
// in at least two pixels: none turns into another (8 into B, E into F, W into V) or into a blank.
TEST(FontGlyphs, StayTwoPixelsApartAtEveryOutputSizeAndPhase) {
    const int count = int(std::char_traits<char>::length(CONSOLE_CHARACTER_SET));
    int compared = 0;
    forEverySizeAndPhase([&](const std::vector<Sample>& xs, const std::vector<Sample>& ys,
                             const std::string& where) {
        std::vector<Rendering> drawn;
        for (int k = 0; k < count; ++k) drawn.push_back(render(k, xs, ys));
        for (int a = 0; a < count; ++a)
            for (int b = 0; b < a; ++b) {
                int differences = 0;
                for (std::size_t y = 0; y < ys.size(); ++y)
                    for (std::size_t x = 0; x < xs.size(); ++x)
                        differences += drawn[std::size_t(a)][y][x] != drawn[std::size_t(b)][y][x];
                ++compared;
                EXPECT_GE(differences, 2) << name(a) << " and " << name(b) << " at " << where
                                          << picture(drawn[std::size_t(a)])
                                          << picture(drawn[std::size_t(b)]);
            }
    });
    // 1 + 1 + 25 + 1 + 1 + 25 phases (1280 x 1024 rows take five).
    EXPECT_EQ(compared, (1 + 5 + 25 + 1 + 1 + 25) * count * (count - 1) / 2);
}

// The 8 pinches in at its waist by a whole stroke on both sides, at every size and phase: its
// waist is no wider than its counters. A waist one texel in from the bowls read as a barred 0
// at 800 x 600 and vanished at 512 x 384.
TEST(FontGlyphs, EightPinchesInByAStrokeAtItsWaist) {
    const int k = setIndex('8');
    forEverySizeAndPhase([&](const std::vector<Sample>& xs, const std::vector<Sample>& ys,
                             const std::string& where) {
        const Rendering r = render(k, xs, ys);
        // Counter rows hold two strokes; they come in two blocks with the waist between.
        std::vector<int> block;   // per rendered row: 1 upper counter, 2 lower, 0 neither
        int blocks = 0;
        int counterLeft = -1, counterRight = 1 << 20;   // the counters' span, pixels
        for (const auto& row : r) {
            std::vector<TexelRun> strokes = litRuns(row);
            bool counter = strokes.size() == 2;
            if (counter && (block.empty() || block.back() == 0)) ++blocks;
            block.push_back(counter ? blocks : 0);
            if (counter) {
                counterLeft = std::max(counterLeft, strokes[0].last + 1);
                counterRight = std::min(counterRight, strokes[1].first - 1);
            }
        }
        ASSERT_EQ(blocks, 2) << "two counters at " << where << picture(r);
        int waistRows = 0;
        for (std::size_t y = 0; y < r.size(); ++y) {
            bool between = false;
            for (std::size_t a = 0; a < y; ++a)
                for (std::size_t b = y + 1; b < r.size(); ++b)
                    between = between || (block[a] == 1 && block[b] == 2);
            if (!between || block[y] != 0) continue;
            ++waistRows;
            std::vector<TexelRun> strokes = litRuns(r[y]);
            ASSERT_EQ(strokes.size(), 1u) << "one waist stroke at " << where << picture(r);
            EXPECT_GE(strokes[0].first, counterLeft)
                << "left of the waist at " << where << picture(r);
            EXPECT_LE(strokes[0].last, counterRight)
                << "right of the waist at " << where << picture(r);
        }
        EXPECT_GT(waistRows, 0) << where << picture(r);
    });
}

namespace {

// M (opening at the top) or W (at the bottom), rows ordered from the open end: the rows past
// the opening show the pixels between the legs dark, then all lit (the bar), then, wherever
// the middle stroke's column is sampled, partly lit (the middle stroke meeting the bar); where
// every texel column is sampled, the middle stroke stands apart from both legs.
void expectOpeningBarAndMiddleStroke(char letter) {
    const int k = setIndex(letter);
    forEverySizeAndPhase([&](const std::vector<Sample>& xs, const std::vector<Sample>& ys,
                             const std::string& where) {
        Rendering r = render(k, xs, ys);
        while (!r.empty() && litRuns(r.back()).empty()) r.pop_back();
        while (!r.empty() && litRuns(r.front()).empty()) r.erase(r.begin());
        if (letter == 'W') std::reverse(r.begin(), r.end());
        ASSERT_GT(r.size(), 4u) << where;
        // The legs, from the far end where they stand alone.
        std::vector<TexelRun> legs = litRuns(r.back());
        ASSERT_EQ(legs.size(), 2u) << where << picture(r);
        auto inside = [&](const std::vector<bool>& row) {   // lit pixels between the legs
            int n = 0;
            for (int x = legs[0].last + 1; x < legs[1].first; ++x) n += row[std::size_t(x)];
            return n;
        };
        const int between = legs[1].first - legs[0].last - 1;
        ASSERT_GT(between, 0) << where << picture(r);
        EXPECT_EQ(inside(r[0]), 0) << letter << " opens at its end at " << where << picture(r);
        std::size_t bar = 0;
        while (bar < r.size() && inside(r[bar]) != between) ++bar;
        ASSERT_LT(bar, r.size()) << letter << " has a bar at " << where << picture(r);

        bool middleSampled = false, everyColumn = true;
        for (int t = 1; t + 1 < FONT_CELL_WIDTH; ++t) {
            bool seen = false;
            for (const Sample& x : xs) seen = seen || x.texel == t;
            everyColumn = everyColumn && seen;
            middleSampled = middleSampled || (seen && middleStroke(k, t));
        }
        if (!middleSampled) return;
        bool partly = false, apart = false;
        for (std::size_t y = bar + 1; y < r.size(); ++y) {
            int lit = inside(r[y]);
            partly = partly || (lit > 0 && lit < between);
            apart = apart || litRuns(r[y]).size() == 3;
        }
        EXPECT_TRUE(partly) << letter << "'s middle stroke at " << where << picture(r);
        if (everyColumn) {
            EXPECT_TRUE(apart) << letter << "'s middle stroke apart at " << where << picture(r);
        }
    });
}

}  // namespace

// A single texel row held M's opening and another its V, so one row phase in five at 512 x 384
// drew M as H with a bar on top (and W as U); the middle stroke never stood apart.
TEST(FontGlyphs, MShowsItsOpeningBarAndMiddleStrokeAtEverySize) {
    expectOpeningBarAndMiddleStroke('M');
}

TEST(FontGlyphs, WShowsItsOpeningBarAndMiddleStrokeAtEverySize) {
    expectOpeningBarAndMiddleStroke('W');
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

// The other sizes, so that the sampling the glyph tests model is the console's at every size
// the program offers (cells 10 x 15, 16 x 25.6 and 20 x 30 pixels).
TEST_F(FontOnScreen, EveryStrokeShowsAt800x600) { expectLegible(VX_RES_800x600); }

TEST_F(FontOnScreen, EveryStrokeShowsAt1280x1024) { expectLegible(VX_RES_1280x1024); }

TEST_F(FontOnScreen, EveryStrokeShowsAt1600x1200) { expectLegible(VX_RES_1600x1200); }
