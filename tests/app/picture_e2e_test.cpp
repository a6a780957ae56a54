// End-to-end pictures: captures of the demo through the headless back end with a fixed
// clock, compared with committed reference images, and checks that need no reference (every
// option changes the picture, crack filling closes slits, runs repeat byte for byte).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/app/run_program.h"

namespace {

constexpr int WIDTH = 512;
constexpr int HEIGHT = 384;
constexpr int CAPTURE_FRAME = 12;

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> bgr;  // rows top first
    bool valid() const { return width > 0 && bgr.size() == std::size_t(width) * height * 3; }
    const std::uint8_t* at(int x, int y) const {
        return &bgr[(std::size_t(y) * width + x) * 3];
    }
};

Picture decodeTga(const std::string& file) {
    Picture p;
    if (file.size() < 18 || file[2] != 2 || file[16] != 24) return p;
    p.width = static_cast<std::uint8_t>(file[12]) | static_cast<std::uint8_t>(file[13]) << 8;
    p.height = static_cast<std::uint8_t>(file[14]) | static_cast<std::uint8_t>(file[15]) << 8;
    const std::size_t row = std::size_t(p.width) * 3;
    if (file.size() != 18 + row * p.height) return Picture{};
    p.bgr.resize(row * p.height);
    for (int y = 0; y < p.height; ++y) {  // the file stores the bottom row first
        std::copy_n(file.data() + 18 + row * (p.height - 1 - y), row, p.bgr.data() + row * y);
    }
    return p;
}

// Runs the demo at 512 x 384 with `keys` (blank-separated) pressed on frame 0 and returns the surface captured on CAPTURE_FRAME (no overlay).
Picture capture(const std::string& keys, const std::string& env = "",
                std::string* raw = nullptr) {
    ScratchDir dir;
    std::string script = keysOnFirstFrame(keys);
    script += std::to_string(CAPTURE_FRAME) + " keyup RETURN\n";
    dir.write("script.txt", script);
    const ProgramRun run = dir.run("--headless --fixed-clock 400 --frames " +
                                       std::to_string(CAPTURE_FRAME + 2) +
                                       " --input script.txt -res 512x384 -screencapture 1",
                                   env);
    EXPECT_EQ(run.status, 0) << run.err;
    const std::string file = dir.read("scrn0000.tga");
    if (raw) *raw = file;
    return decodeTga(file);
}

bool isBlack(const std::uint8_t* p) { return p[0] == 0 && p[1] == 0 && p[2] == 0; }
bool isGreen(const std::uint8_t* p) { return p[1] >= 0xC0 && p[0] < 0x40 && p[2] < 0x40; }

int countPixels(const Picture& p, bool (*test)(const std::uint8_t*), int y0, int y1) {
    int n = 0;
    for (int y = y0; y < y1; ++y) {
        for (int x = 0; x < p.width; ++x) n += test(p.at(x, y)) ? 1 : 0;
    }
    return n;
}

// Share of pixels whose channels differ by more than `tolerance`.
double differingShare(const Picture& a, const Picture& b, int tolerance) {
    if (!a.valid() || !b.valid() || a.width != b.width || a.height != b.height) return 1.0;
    std::size_t differing = 0;
    for (std::size_t i = 0; i < a.bgr.size(); i += 3) {
        for (int c = 0; c < 3; ++c) {
            if (std::abs(int(a.bgr[i + c]) - int(b.bgr[i + c])) > tolerance) {
                ++differing;
                break;
            }
        }
    }
    return double(differing) / double(a.width * a.height);
}

std::string referencePath(const std::string& name) {
    return std::string(VORL_SOURCE_DIR) + "/tests/app/reference/" + name + ".tga";
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Compares a capture with its committed reference; with VORL_UPDATE_REFERENCES=1 in the
// environment the reference is rewritten instead (review the new picture before committing).
void expectMatchesReference(const std::string& name, const std::string& keys) {
    std::string raw;
    const Picture picture = capture(keys, "", &raw);
    ASSERT_TRUE(picture.valid());
    const char* update = std::getenv("VORL_UPDATE_REFERENCES");
    if (update != nullptr && std::string(update) == "1") {
        std::filesystem::create_directories(std::filesystem::path(referencePath(name)).parent_path());
        std::ofstream(referencePath(name), std::ios::binary) << raw;
        return;
    }
    const Picture reference = decodeTga(readFile(referencePath(name)));
    ASSERT_TRUE(reference.valid()) << "missing reference " << referencePath(name);
    EXPECT_LT(differingShare(picture, reference, 24), 0.01) << name;
}

}  // namespace

TEST(Picture, DefaultSceneMatchesItsReference) {
    expectMatchesReference("default", "");
}

TEST(Picture, EnvironmentAndSpecularMatchTheirReference) {
    expectMatchesReference("environment_highlight", "E Y");
}

TEST(Picture, SameRunTwiceGivesTheSameBytes) {
    std::string first, second;
    capture("", "", &first);
    capture("", "", &second);
    ASSERT_FALSE(first.empty());
    EXPECT_TRUE(first == second);
}

TEST(Picture, IdenticalForEveryRasterizerThreadCount) {
    std::string one, four;
    capture("", "VEXA_THREADS=1", &one);
    capture("", "VEXA_THREADS=4", &four);
    ASSERT_FALSE(one.empty());
    EXPECT_TRUE(one == four);
}

TEST(Picture, SeaFillsTheLowerHalfAndTheSkyIsBlack) {
    const Picture p = capture("");
    ASSERT_TRUE(p.valid());
    EXPECT_EQ(countPixels(p, isBlack, HEIGHT * 3 / 4, HEIGHT), 0) << "the near sea is solid";
    EXPECT_GT(countPixels(p, isBlack, 0, HEIGHT / 8), WIDTH * HEIGHT / 8 * 9 / 10)
        << "nothing above the horizon but the black fog colour";
}

TEST(Picture, CrackFillingClosesTheSlitsBetweenDetailLevels) {
    // G cycles fill -> fill green -> no fill.
    const Picture noFill = capture("G G");
    const Picture fill = capture("");
    const Picture green = capture("G");
    ASSERT_TRUE(noFill.valid() && fill.valid() && green.valid());
    const int band0 = HEIGHT * 5 / 8, band1 = HEIGHT;  // well below the horizon: all sea
    EXPECT_GT(countPixels(noFill, isBlack, band0, band1), 0) << "slits show the background";
    EXPECT_EQ(countPixels(fill, isBlack, band0, band1), 0);
    EXPECT_GT(countPixels(green, isGreen, band0, band1), 0);
    EXPECT_EQ(countPixels(fill, isGreen, 0, HEIGHT), 0);
    // With static detail every patch has the same step count: nothing to fill.
    const Picture staticGreen = capture("G X");
    EXPECT_EQ(countPixels(staticGreen, isGreen, 0, HEIGHT), 0);
}

TEST(Picture, EveryOptionChangesThePicture) {
    const Picture base = capture("");
    ASSERT_TRUE(base.valid());
    struct Option {
        const char* keys;
        const char* env;
    };
    const Option options[] = {
        {"W", ""},  // wireframe
        {"N", ""},  // normals
        {"D", ""},  // control points
        {"Y", ""},  // specular
        {"E", ""},  // environment map (two units)
        {"H", ""},  // fog off
        {"2", ""},  // multi-view
        {"T", ""},  // bezier
        {"C", ""},  // poly normals
        {"X", ""},  // static detail
    };
    for (const Option& option : options) {
        const Picture changed = capture(option.keys, option.env);
        EXPECT_GT(differingShare(base, changed, 8), 0.001) << option.keys;
    }
    // Forward differencing evaluates the same surface as the basis tables (to float rounding)
    // but always shades with the control normals: against poly normals it shows.
    const Picture polyNormals = capture("C");
    EXPECT_GT(differingShare(polyNormals, capture("C I"), 8), 0.001) << "forward differencing";
    // With one texture unit the environment key does nothing.
    const Picture oneUnit = capture("", "VEXA_TMUS=1 VEXA_MAX_RES=512x384");
    const Picture oneUnitE = capture("E", "VEXA_TMUS=1 VEXA_MAX_RES=512x384");
    EXPECT_EQ(differingShare(oneUnit, oneUnitE, 0), 0.0);
}

namespace {

bool isDarkRed(const std::uint8_t* p) { return p[2] >= 0x60 && p[1] < 0x20 && p[0] < 0x20; }
bool isDarkGreen(const std::uint8_t* p) { return p[1] >= 0x60 && p[2] < 0x20 && p[0] < 0x20; }

// The last presented frame, overlay included; `errors` receives error.txt.
Picture lastFrame(const std::string& keys, const std::string& env,
                  std::string* errors = nullptr) {
    ScratchDir dir;
    dir.write("script.txt", keys.empty() ? "" : "0 key " + keys + "\n");
    const ProgramRun run = dir.run("--headless --fixed-clock 40 --frames 3 --input script.txt "
                                   "-res 640x480 --save-last-frame last.tga",
                                   env);
    EXPECT_EQ(run.status, 0) << run.err;
    if (errors) *errors = dir.read("error.txt");
    return decodeTga(dir.read("last.tga"));
}

int occurrences(const std::string& text, const std::string& part) {
    int n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

}  // namespace

// Every processor path of the program and the rasterizer (VEXA_PATH; where the processor lacks
// one they take the next one down) draws the portable paths' bytes: the default scene, two texture
// units with highlights, wireframe lines, and the help text over the picture.
TEST(Picture, IdenticalOnEveryRasterizerPath) {
    for (const char* keys : {"", "E Y", "W"}) {
        std::string portable;
        capture(keys, "VEXA_PATH=portable", &portable);
        ASSERT_FALSE(portable.empty());
        for (const char* path : {"v128", "avx2"}) {
            std::string other;
            capture(keys, std::string("VEXA_PATH=") + path, &other);
            EXPECT_TRUE(other == portable) << "keys '" << keys << "' path " << path;
        }
    }
    const Picture portableHelp = lastFrame("F1", "VEXA_PATH=portable");
    ASSERT_TRUE(portableHelp.valid());
    for (const char* path : {"v128", "avx2"}) {
        EXPECT_TRUE(lastFrame("F1", std::string("VEXA_PATH=") + path).bgr == portableHelp.bgr)
            << "help text, path " << path;
    }
}

TEST(Overlay, StatisticsInDarkRedAndHelpInDarkGreenBelowIt) {
    const Picture plain = lastFrame("", "");
    const Picture help = lastFrame("F1", "");
    ASSERT_TRUE(plain.valid() && help.valid());
    const int cell = 480 / 40;  // 40 text rows over the screen
    EXPECT_GT(countPixels(plain, isDarkRed, 0, cell), 200) << "statistics line on row 0";
    EXPECT_EQ(countPixels(plain, isDarkGreen, 0, 480), 0);
    EXPECT_GT(countPixels(help, isDarkRed, 0, cell), 200);
    EXPECT_EQ(countPixels(help, isDarkGreen, 0, 3 * cell), 0) << "help starts three lines down";
    EXPECT_GT(countPixels(help, isDarkGreen, 3 * cell, 22 * cell), 19 * 100)
        << "nineteen lines of help";
}

TEST(Overlay, NoFontEnvironmentVariableHidesAllText) {
    const Picture help = lastFrame("F1", "KR_VEXA_NO_FONT=1");
    ASSERT_TRUE(help.valid());
    EXPECT_EQ(countPixels(help, isDarkRed, 0, 480), 0);
    EXPECT_EQ(countPixels(help, isDarkGreen, 0, 480), 0);
}

// Texture memory too small for the 8192-byte font: the refusal is reported once and the help
// and statistics draw nothing, where they drew a solid block for every character. The frame
// is the one drawn with the console switched off.
TEST(Overlay, RefusedFontDrawsNoBlocks) {
    std::string errors;
    const Picture refused = lastFrame("F1", "VEXA_TEXMEM=4000", &errors);
    const Picture noConsole = lastFrame("F1", "VEXA_TEXMEM=4000 KR_VEXA_NO_FONT=1");
    ASSERT_TRUE(refused.valid() && noConsole.valid());
    EXPECT_EQ(occurrences(errors, "texture too large for texture memory (8192 bytes)"), 1)
        << errors;
    EXPECT_EQ(countPixels(refused, isDarkRed, 0, 480), 0);
    EXPECT_EQ(countPixels(refused, isDarkGreen, 0, 480), 0);
    EXPECT_EQ(differingShare(refused, noConsole, 0), 0.0) << "share of pixels the text changed";
}

namespace {

// Background pixels (the clear black) enclosed by drawn pixels on all four sides: holes where
// the borders of two patches should have met.
int countPinholes(const Picture& p) {
    int holes = 0;
    for (int y = 1; y + 1 < p.height; ++y) {
        for (int x = 1; x + 1 < p.width; ++x) {
            if (isBlack(p.at(x, y)) && !isBlack(p.at(x - 1, y)) && !isBlack(p.at(x + 1, y)) &&
                !isBlack(p.at(x, y - 1)) && !isBlack(p.at(x, y + 1))) {
                ++holes;
            }
        }
    }
    return holes;
}

}  // namespace

// Flying low over the sea, fog off so that only the background is black: 30 frames at
// 1024 x 768 with forward differencing, for both surface types with dynamic and static detail.
// Stepping ended a patch's last row slightly off its neighbour's first row, and snapping to
// the pixel grid opened single-pixel holes along the seams.
TEST(Picture, ForwardDifferencingLeavesNoPinholesFlyingLowOverTheSea) {
    for (const std::string variant : {"", "T", "X", "T X"}) {
        ScratchDir dir;
        std::string script = "0 key I\n0 key H\n";
        if (!variant.empty()) script += "0 key " + variant.substr(0, 1) + "\n";
        if (variant.size() > 1) script += "0 key " + variant.substr(2, 1) + "\n";
        script += "0 keydown SHIFT\n0 keydown DOWN\n8 keyup DOWN\n8 keyup SHIFT\n"
                  "0 keydown UP\n1 move 512 250\n12 keyup RETURN\n";
        dir.write("script.txt", script);
        const ProgramRun run = dir.run("--headless --fixed-clock 16 --frames 45 --input "
                                       "script.txt -res 1024x768 -screencapture 30");
        ASSERT_EQ(run.status, 0) << run.err;
        int holes = 0;
        for (int k = 0; k < 30; ++k) {
            char name[32];
            std::snprintf(name, sizeof name, "scrn%04d.tga", k);
            const Picture frame = decodeTga(dir.read(name));
            ASSERT_TRUE(frame.valid()) << name;
            holes += countPinholes(frame);
        }
        EXPECT_EQ(holes, 0) << "keys I " << variant;
    }
}

TEST(Picture, ForwardDifferencingAndBasisTablesDifferOnlyByRounding) {
    const Picture forward = capture("X I");
    const Picture basis = capture("X");
    ASSERT_TRUE(forward.valid() && basis.valid());
    EXPECT_LT(differingShare(forward, basis, 16), 0.002);
}
