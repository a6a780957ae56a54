// End-to-end: the real program run headless in a scratch directory; exit codes, message-box
// texts, the statistics line, error.txt and capture files.
#include <gtest/gtest.h>

#include <cstdint>
#include <regex>
#include <string>

#include "tests/app/run_program.h"

namespace {

const std::regex STATISTICS_LINE(
    R"(fps: \d+\.\d\d, ppf: +\d+, pps: +\d+ \[(\d+) x (\d+) vsynch: ( on|off)\]\n?)");

std::string lastLine(const std::string& text) {
    std::string trimmed = text;
    while (!trimmed.empty() && trimmed.back() == '\n') trimmed.pop_back();
    const std::size_t cut = trimmed.rfind('\n');
    return cut == std::string::npos ? trimmed : trimmed.substr(cut + 1);
}

// The output size the run reported in its statistics line, as "W x H".
std::string reportedSize(const ProgramRun& run) {
    std::smatch m;
    const std::string line = lastLine(run.out);
    if (!std::regex_match(line, m, STATISTICS_LINE)) return "no statistics line: " + run.out;
    return m[1].str() + " x " + m[2].str();
}

std::uint32_t le16(const std::string& bytes, std::size_t at) {
    return static_cast<std::uint8_t>(bytes[at]) | static_cast<std::uint8_t>(bytes[at + 1]) << 8;
}

// A 24-bit uncompressed TGA of the given size filled with grey.
std::string greyTga(int width, int height) {
    std::string file(18, '\0');
    file[2] = 2;
    file[12] = static_cast<char>(width & 0xFF);
    file[13] = static_cast<char>(width >> 8);
    file[14] = static_cast<char>(height & 0xFF);
    file[15] = static_cast<char>(height >> 8);
    file[16] = 24;
    file.append(static_cast<std::size_t>(width) * height * 3, '\x80');
    return file;
}

}  // namespace

TEST(Startup, HeadlessRunPrintsStatisticsLine) {
    ScratchDir dir;
    const ProgramRun run = dir.run("--headless --frames 3");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(std::regex_match(lastLine(run.out), STATISTICS_LINE)) << run.out;
    EXPECT_EQ(reportedSize(run), "1024 x 768");
    EXPECT_FALSE(dir.exists("error.txt")) << "a clean run reports nothing";
    EXPECT_EQ(run.err, "") << "and shows no message";
}

TEST(Startup, EveryStartupFailureShowsItsBoxAndExits255) {
    struct Case {
        const char* env;
        const char* args;
        const char* box;
    };
    const Case cases[] = {
        {"VEXA_FAIL=query", "", "[Murlo] couldn't initialize vexa"},
        {"VEXA_FAIL=open", "", "[Vorl] couldn't open display (640x480)"},
        {"VEXA_FAIL=open", "-res 800x600", "[Vorl] couldn't open display (800x600)"},
        {"VEXA_MAX_RES=640x480", "-res 1600x1200", "[Vorl] couldn't open display (1600x1200)"},
        {"VEXA_FAIL=state", "", "[Dangerous] couldn't setup Vexa"},
    };
    for (const Case& c : cases) {
        ScratchDir dir;
        const ProgramRun run = dir.run(std::string("--headless --frames 2 ") + c.args, c.env);
        EXPECT_EQ(run.status, 255) << c.env << " " << c.args;
        EXPECT_NE(run.err.find(c.box), std::string::npos) << c.env << ": " << run.err;
    }
}

// The box keeps its text; error.txt (and, without a window, standard error) says which file
// and why.
TEST(Startup, MissingOrBrokenDataFailsWithSurfaceBox) {
    for (const char* broken : {"data/vorl.txt", "data/tex.tga", "data/env.tga"}) {
        ScratchDir dir;
        std::filesystem::remove(dir.file(broken));
        const ProgramRun run = dir.run("--headless --frames 2");
        EXPECT_EQ(run.status, 255) << broken;
        EXPECT_NE(run.err.find("[Vorl] couldn't initialize surface"), std::string::npos)
            << broken << ": " << run.err;
        const std::string reason = std::string(broken) + ": cannot open it (No such file or directory)\n";
        EXPECT_EQ(dir.read("error.txt"), reason);
        EXPECT_NE(run.err.find(reason), std::string::npos) << run.err;
    }
    ScratchDir dir;
    dir.write("data/vorl.txt", "B-Spline Surface\n1\n4 4\n0 0 0\n");
    const ProgramRun run = dir.run("--headless --frames 2");
    EXPECT_EQ(run.status, 255);
    EXPECT_NE(run.err.find("couldn't initialize surface"), std::string::npos) << run.err;
    EXPECT_EQ(dir.read("error.txt"),
              "data/vorl.txt line 5: expected 3 numbers (point 2 of 4 x 4 in surface 1 of 1), "
              "found the end of the file\n");
    // Run outside its folder, the program names every file it misses.
    std::filesystem::remove_all(dir.file("data"));
    const ProgramRun elsewhere = dir.run("--headless --frames 2");
    EXPECT_EQ(elsewhere.status, 255);
    EXPECT_EQ(dir.read("error.txt"),
              "data/tex.tga: cannot open it (No such file or directory)\n"
              "data/env.tga: cannot open it (No such file or directory)\n"
              "data/vorl.txt: cannot open it (No such file or directory)\n");
}

TEST(Startup, CommandLineBoxes) {
    ScratchDir dir;
    ProgramRun run = dir.run("--headless --frames 2 -res 800X600");
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.err.find("[Vorl] 800X600 is not a cool resolution.  I'll pick the highest "
                           "resolution!"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(reportedSize(run), "1024 x 768");

    run = dir.run("--headless --frames 2 -RES 800x600 -ref 61");
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.err.find("[Vorl] 61 is not a cool refresh rate.  I'll make it 60Hz!"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(reportedSize(run), "800 x 600");

    // The second -res wins even when it is not in the table.
    run = dir.run("--headless --frames 2 -res 640x480 -res 123x45");
    EXPECT_EQ(reportedSize(run), "1024 x 768");

    run = dir.run("--headless --frames 2 -res", "", "");
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.err.find("[Vorl] resolution not specified"), std::string::npos) << run.err;
    EXPECT_EQ(reportedSize(run), "1024 x 768");

    run = dir.run("--headless --frames 2 --answer cancel -ref");
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.err.find("[Vorl] refresh rate not specified"), std::string::npos);
    EXPECT_EQ(run.out, "") << "cancel ends the program before any frame";

    run = dir.run("--headless --frames 2 --answer cancel -screencapture");
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.err.find("[Vorl] number of screen captures not specified (won't capture any "
                           "screens)"),
              std::string::npos);
}

TEST(Startup, DeviceLimitsChooseTheOutput) {
    ScratchDir dir;
    EXPECT_EQ(reportedSize(dir.run("--headless --frames 2", "VEXA_TMUS=1")), "800 x 600");
    EXPECT_EQ(reportedSize(dir.run("--headless --frames 2", "VEXA_MAX_RES=640x480")),
              "640 x 480");
    EXPECT_EQ(reportedSize(dir.run("--headless --frames 2", "VEXA_TMUS=1 VEXA_MAX_RES=1024x768")),
              "800 x 600");
}

TEST(Capture, BurstsWriteNumberedFilesOfTheOutputSize) {
    ScratchDir dir;
    dir.write("script.txt", "0 keyup RETURN\n5 keyup RETURN\n");
    const ProgramRun run =
        dir.run("--headless --frames 10 --input script.txt -RES 800x600 -screencapture 2");
    ASSERT_EQ(run.status, 0) << run.err;
    for (const char* name : {"scrn0000.tga", "scrn0001.tga", "scrn0002.tga", "scrn0003.tga"}) {
        ASSERT_TRUE(dir.exists(name)) << name;
        const std::string file = dir.read(name);
        ASSERT_EQ(file.size(), 18u + 800u * 600u * 3u) << name;
        EXPECT_EQ(file[2], 2);
        EXPECT_EQ(le16(file, 12), 800u);
        EXPECT_EQ(le16(file, 14), 600u);
        EXPECT_EQ(file[16], 24);
        EXPECT_EQ(file[17], 0);
    }
    EXPECT_FALSE(dir.exists("scrn0004.tga"));
}

TEST(Capture, ACountThatIsNotAWholeNumberIsRefused) {
    ScratchDir dir;
    dir.write("script.txt", "0 keyup RETURN\n");
    for (const char* count : {"-3", "abc"}) {
        const ProgramRun run = dir.run(std::string("--headless --frames 4 --input script.txt "
                                                   "-screencapture ") + count);
        EXPECT_EQ(run.status, 2) << count;
        EXPECT_EQ(run.err, std::string("vorl: -screencapture: expected a whole number of "
                                       "frames, not '") + count + "' (see --help)\n");
        EXPECT_EQ(run.out, "") << "refused before any frame";
        EXPECT_FALSE(dir.exists("scrn0000.tga")) << count;
    }
    const ProgramRun run = dir.run("--headless --frames 2 data/vorl.txt --bogus");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "vorl: --bogus: unknown option (see --help)\n");
}

TEST(Startup, WithoutADisplayTheRunSaysItIsHeadlessOnce) {
    ScratchDir dir;
    ProgramRun run = dir.run("--frames 3");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "vorl: no display found; running headless for 3 frames (--headless to "
                       "silence, --help for options)\n");
    EXPECT_TRUE(std::regex_match(lastLine(run.out), STATISTICS_LINE)) << run.out;
    run = dir.run("", "VEXA_TMUS=1");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "vorl: no display found; running headless for 300 frames (--headless to "
                       "silence, --help for options)\n");
    run = dir.run("--headless --frames 3");
    EXPECT_EQ(run.err, "") << "asked for: nothing to say";
}

TEST(Diagnostics, ErrorFileAcrossRuns) {
    // The texture module's own line, then which file the program could not use and why.
    const std::string refused100 =
        "can't handle this texture (100x100)\n"
        "data/tex.tga: a texture of 100 x 100: sides must be powers of two up to 256, neither "
        "more than 8 times the other\n";
    ScratchDir dir;
    dir.write("data/tex.tga", greyTga(100, 100));
    ProgramRun run = dir.run("--headless --frames 2");
    EXPECT_EQ(run.status, 255);
    EXPECT_NE(run.err.find("couldn't initialize surface"), std::string::npos);
    EXPECT_EQ(dir.read("error.txt"), refused100);

    // A run that reports nothing leaves the file alone.
    ScratchDir good;
    std::filesystem::copy_file(dir.file("error.txt"), good.file("error.txt"));
    run = good.run("--headless --frames 2");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(good.read("error.txt"), refused100);

    // The first message of the next run replaces the old file.
    dir.write("data/tex.tga", greyTga(64, 48));
    run = dir.run("--headless --frames 2");
    EXPECT_EQ(dir.read("error.txt").rfind("can't handle this texture (64x48)\ndata/tex.tga: ", 0),
              0u)
        << dir.read("error.txt");
}

// Texture memory too small for the textures and the font: each refusal names its texture,
// and the font's is said once, not again at every resolution switch. A value of VEXA_TEXMEM
// the board cannot take is named once on standard error and the default memory used.
TEST(Diagnostics, TextureRefusalsNameTheTextureAndAreSaidOnce) {
    ScratchDir dir;
    dir.write("script.txt", "2 key M\n4 key M\n6 key M\n");
    ProgramRun run = dir.run("--headless --frames 8 --input script.txt", "VEXA_TEXMEM=4000");
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string errors = dir.read("error.txt");
    for (const char* line : {"data/tex.tga: texture too large for texture memory (",
                             "data/env.tga: texture too large for texture memory (",
                             "console font: texture too large for texture memory (8192 bytes)"}) {
        std::size_t count = 0;
        for (std::size_t at = errors.find(line); at != std::string::npos;
             at = errors.find(line, at + 1)) {
            ++count;
        }
        EXPECT_EQ(count, 1u) << line << " in:\n" << errors;
    }

    std::filesystem::remove(dir.file("error.txt"));
    run = dir.run("--headless --frames 8 --input script.txt", "VEXA_TEXMEM=lots");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "vexa: VEXA_TEXMEM=lots ignored: expected bytes per texture unit from 8 to "
                       "67108864\n");
    EXPECT_FALSE(dir.exists("error.txt")) << "the default memory holds every texture";
}
