// End-to-end: a surface file named on the command line (a lone word or --surface) is read in
// place of data/vorl.txt, saved to by S and read again by L; a missing one ends start-up as a
// missing data/vorl.txt does.
#include <gtest/gtest.h>

#include <string>

#include "tests/app/run_program.h"

namespace {

const char* const PICTURE_RUN = "--headless --frames 4 --fixed-clock 20 --save-last-frame ";

// A B-spline mesh of w x h points one unit apart, a bump in its middle, as a surface file.
std::string bumpSurface(int w, int h) {
    std::string text = "B-Spline Surface\n\n1\n\n" + std::to_string(w) + " " + std::to_string(h) +
                       "\n\n";
    for (int r = 0; r < h; ++r) {
        for (int c = 0; c < w; ++c) {
            const int z = (r == h / 2 && c == w / 2) ? 3 : 0;
            text += std::to_string(c * 4 - 2 * w) + " " + std::to_string(r * 4 - 2 * h) + " " +
                    std::to_string(z) + "\n";
        }
        text += "\n";
    }
    return text;
}

}  // namespace

TEST(NamedSurfaceFile, ANamedCopyOfTheShippedFileDrawsTheSamePicture) {
    ScratchDir dir;
    dir.write("mine.txt", dir.read("data/vorl.txt"));
    const ProgramRun shipped = dir.run(std::string(PICTURE_RUN) + "shipped.tga");
    ASSERT_EQ(shipped.status, 0) << shipped.err;
    for (const char* name : {"mine.txt", "--surface mine.txt", "--surface=mine.txt"}) {
        const ProgramRun named = dir.run(std::string(PICTURE_RUN) + "named.tga " + name);
        ASSERT_EQ(named.status, 0) << name << ": " << named.err;
        EXPECT_TRUE(dir.read("named.tga") == dir.read("shipped.tga")) << name;
    }
    // F1's list names the file; the shipped scene's list stays as it was.
    dir.write("help.txt", "0 key F1\n");
    const ProgramRun help = dir.run(std::string(PICTURE_RUN) + "help.tga --input help.txt");
    const ProgramRun namedHelp =
        dir.run(std::string(PICTURE_RUN) + "named-help.tga --input help.txt mine.txt");
    ASSERT_EQ(help.status, 0) << help.err;
    ASSERT_EQ(namedHelp.status, 0) << namedHelp.err;
    EXPECT_TRUE(dir.read("help.tga") != dir.read("shipped.tga"));
    EXPECT_TRUE(dir.read("named-help.tga") != dir.read("help.tga"));
    // Another file draws another picture: the named file is the one read.
    dir.write("bump.txt", bumpSurface(6, 6));
    const ProgramRun bump = dir.run(std::string(PICTURE_RUN) + "bump.tga bump.txt");
    ASSERT_EQ(bump.status, 0) << bump.err;
    EXPECT_TRUE(dir.read("bump.tga") != dir.read("shipped.tga"));
}

TEST(NamedSurfaceFile, SSavesToTheNamedFileAndLReadsIt) {
    ScratchDir dir;
    const std::string shipped = dir.read("data/vorl.txt");
    dir.write("bump.txt", bumpSurface(6, 5));
    dir.write("save.txt", "1 key S\n");
    const ProgramRun saved = dir.run("--headless --frames 3 --input save.txt bump.txt");
    ASSERT_EQ(saved.status, 0) << saved.err;
    const std::string written = dir.read("bump.txt");
    EXPECT_EQ(written.rfind("B-Spline Surface\n\n1\n\n6 5\n\n", 0), 0u) << written;
    EXPECT_NE(written, bumpSurface(6, 5)) << "the writer's own two decimals";
    EXPECT_EQ(dir.read("data/vorl.txt"), shipped) << "the shipped file is not touched";
    EXPECT_EQ(dir.list(""), (std::vector<std::string>{"bump.txt", "data", "save.txt",
                                                     "stderr.txt", "stdout.txt"}))
        << "no temporary stays";

    // L reads the named file again: once it holds the shipped scene, the picture (captured
    // before the notice naming the file is drawn) is the one L gives without a name.
    dir.write("load.txt", "1 key L\n2 keyup RETURN\n");
    const char* const loadRun = "--headless --frames 5 --fixed-clock 20 --input load.txt "
                                "-screencapture 1 ";
    const ProgramRun reference = dir.run(loadRun);
    ASSERT_EQ(reference.status, 0) << reference.err;
    std::filesystem::rename(dir.file("scrn0000.tga"), dir.file("shipped.tga"));
    // The shipped file's place holds another scene now: an L that read it would show it.
    dir.write("bump.txt", shipped);
    dir.write("data/vorl.txt", bumpSurface(6, 5));
    const ProgramRun loaded = dir.run(std::string(loadRun) + "--surface bump.txt");
    ASSERT_EQ(loaded.status, 0) << loaded.err;
    ASSERT_TRUE(dir.exists("scrn0000.tga"));
    EXPECT_TRUE(dir.read("scrn0000.tga") == dir.read("shipped.tga"));
}

TEST(NamedSurfaceFile, AMissingOrBrokenNamedFileEndsStartUpWithItsReason) {
    ScratchDir dir;
    const ProgramRun missing = dir.run("--headless --frames 2 nowhere.txt");
    EXPECT_EQ(missing.status, 255);
    EXPECT_NE(missing.err.find("[Vorl] couldn't initialize surface"), std::string::npos)
        << missing.err;
    EXPECT_EQ(dir.read("error.txt"), "nowhere.txt: cannot open it (No such file or directory)\n");
    EXPECT_FALSE(dir.exists("nowhere.txt")) << "nothing is made in its place";

    dir.write("cut.txt", "B-Spline Surface\n1\n4 4\n0 0 0\n");
    const ProgramRun cut = dir.run("--headless --frames 2 --surface cut.txt");
    EXPECT_EQ(cut.status, 255);
    EXPECT_EQ(dir.read("error.txt"),
              "cut.txt line 5: expected 3 numbers (point 2 of 4 x 4 in surface 1 of 1), found "
              "the end of the file\n");
    EXPECT_EQ(dir.read("cut.txt"), "B-Spline Surface\n1\n4 4\n0 0 0\n") << "left as it was";

    const ProgramRun two = dir.run("--headless --frames 2 cut.txt data/vorl.txt");
    EXPECT_EQ(two.status, 2);
    EXPECT_EQ(two.err, "vorl: 'data/vorl.txt': a second surface file ('cut.txt' is named "
                       "already) (see --help)\n");
}
