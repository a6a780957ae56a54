// Saves that cannot lose data, run as a user would: the surface file and captures on a full
// disk (every file the program writes limited in size), a last frame that cannot be written,
// and the program killed in the middle of saving again and again.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "surface/surface.h"
#include "tests/app/run_program.h"
#include "tests/platform/picture_read.h"

namespace {

// Files the program may leave in a folder: anything else (a temporary file) is a leftover.
std::vector<std::string> leftovers(const ScratchDir& dir, const std::string& folder,
                                   const std::vector<std::string>& expected) {
    std::vector<std::string> extra;
    for (const std::string& name : dir.list(folder)) {
        if (std::find(expected.begin(), expected.end(), name) == expected.end()) {
            extra.push_back(name);
        }
    }
    return extra;
}

int countLines(const std::string& text, const std::string& start) {
    int count = 0;
    for (std::size_t at = text.find(start); at != std::string::npos; at = text.find(start, at + 1)) {
        if (at == 0 || text[at - 1] == '\n') ++count;
    }
    return count;
}

const std::vector<std::string> DATA_FILES = {"env.tga", "tex.tga", "vorl.txt"};

}  // namespace

TEST(Saves, FullDiskDuringSaveKeepsTheOldFileReportsAndRunsOn) {
    ScratchDir dir;
    const std::string before = dir.read("data/vorl.txt");
    ASSERT_GT(before.size(), 8192u);
    // The waves move the sea every frame, so a save that went through would change the file.
    dir.write("script.txt", "3 key S\n6 key S\n");
    const ProgramRun run = dir.runWithFileLimit("--frames 12 --input script.txt", 8192);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(dir.read("data/vorl.txt"), before) << "the old file is exactly as it was";
    EXPECT_TRUE(leftovers(dir, "data", DATA_FILES).empty()) << "no temporary file stays";
    const std::string errors = dir.read("error.txt");
    EXPECT_EQ(countLines(errors, "couldn't save surface file (write failed: File too large)"), 2)
        << errors;
    EXPECT_NE(run.out.find("fps:"), std::string::npos) << "the run went on to its last frame";

    // With room on the disk the same keys save: the file changes and loads.
    const ProgramRun free = dir.run("--headless --frames 12 --input script.txt");
    EXPECT_EQ(free.status, 0) << free.err;
    EXPECT_NE(dir.read("data/vorl.txt"), before);
    EXPECT_TRUE(loadSurfaceFile(dir.file("data/vorl.txt").c_str()));
    releaseSurfaces();
}

TEST(Saves, FullDiskDuringCaptureBurstKeepsTheNumberAndReportsEachTry) {
    ScratchDir dir;
    dir.write("script.txt", "2 keyup RETURN\n");
    const ProgramRun run =
        dir.runWithFileLimit("--frames 8 --input script.txt -screencapture 3", 16384);
    EXPECT_EQ(run.status, 0) << run.err;
    const std::vector<std::string> expected = {"error.txt", "script.txt", "stderr.txt",
                                               "stdout.txt"};
    EXPECT_EQ(leftovers(dir, "", expected), std::vector<std::string>{"data"})
        << "no capture, whole or partial, and no temporary file";
    const std::string errors = dir.read("error.txt");
    // Each frame of the burst tries the same number again.
    EXPECT_EQ(countLines(errors, "couldn't write capture scrn0000.tga (write failed:"), 3)
        << errors;
    EXPECT_EQ(errors.find("scrn0001"), std::string::npos) << errors;
}

TEST(Saves, LastFrameThatCannotBeWrittenEndsWithStatusThreeAndNoFile) {
    ScratchDir dir;
    const ProgramRun full =
        dir.runWithFileLimit("--frames 3 --save-last-frame last.tga -res 640x480", 65536);
    EXPECT_EQ(full.status, 3) << full.err;
    EXPECT_NE(full.err.find("last.tga: not written: write failed"), std::string::npos)
        << full.err;
    EXPECT_FALSE(dir.exists("last.tga"));
    const std::vector<std::string> expected = {"stderr.txt", "stdout.txt"};
    EXPECT_EQ(leftovers(dir, "", expected), std::vector<std::string>{"data"});

    const ProgramRun nowhere =
        dir.run("--headless --frames 3 --save-last-frame no/such/folder/last.tga");
    EXPECT_EQ(nowhere.status, 3) << nowhere.err;
    EXPECT_NE(nowhere.err.find("cannot create a file there"), std::string::npos) << nowhere.err;

    const ProgramRun fine = dir.run("--headless --frames 3 --save-last-frame last.tga");
    EXPECT_EQ(fine.status, 0) << fine.err;
    EXPECT_EQ(dir.read("last.tga").size(), 18u + 1024u * 768u * 3u);
}

#if VORL_HAVE_PNG
// --png: the same run writes PNG captures and last frame with the TGA files' pixels, and a
// PNG that cannot be written fails as a TGA does (reported, number kept, nothing left).
TEST(Saves, PngPicturesHoldTheTgaPixelsAndFailAlike) {
    ScratchDir dir;
    dir.write("script.txt", "2 keyup RETURN\n");
    const std::string args = "--headless --fixed-clock 20 --frames 6 --input script.txt "
                             "-res 640x480 -screencapture 2 --save-last-frame ";
    ASSERT_EQ(dir.run(args + "last.tga").status, 0);
    const ProgramRun png = dir.run(args + "last.png --png");
    ASSERT_EQ(png.status, 0) << png.err;
    for (const char* name : {"scrn0000", "scrn0001", "last"}) {
        const RgbPicture tga = readTgaPicture(dir.file(std::string(name) + ".tga"));
        ASSERT_EQ(tga.width, 640) << name;
        EXPECT_EQ(readPngPicture(dir.file(std::string(name) + ".png")), tga) << name;
    }

    ScratchDir full;
    full.write("script.txt", "2 keyup RETURN\n");
    const ProgramRun failed = full.runWithFileLimit(
        "--frames 6 --input script.txt -screencapture 2 --png --save-last-frame last.png",
        16384);
    EXPECT_EQ(failed.status, 3) << failed.err;
    EXPECT_NE(failed.err.find("last.png: not written: write failed"), std::string::npos)
        << failed.err;
    EXPECT_EQ(countLines(full.read("error.txt"), "couldn't write capture scrn0000.png (write"), 2)
        << full.read("error.txt");
    const std::vector<std::string> expected = {"error.txt", "script.txt", "stderr.txt",
                                               "stdout.txt"};
    EXPECT_EQ(leftovers(full, "", expected), std::vector<std::string>{"data"});
}
#endif

// Saving on every frame while the process is killed at random moments: whenever it dies, the
// surface file is a whole file that loads, never an empty or cut one.
TEST(Saves, KillDuringSavesNeverLeavesATruncatedFile) {
    ScratchDir dir;
    std::string script;
    for (int frame = 0; frame < 2000; ++frame) script += std::to_string(frame) + " key S\n";
    dir.write("script.txt", script);
    const std::string command = "cd '" + dir.path().string() + "' && exec env -u DISPLAY '" +
                                VORL_BINARY + "' --headless --frames 2000 --input script.txt" +
                                " -res 512x384 >/dev/null 2>&1";
    std::mt19937 random(4242);
    for (int attempt = 0; attempt < 25; ++attempt) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(150 + random() % 400));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(loadSurfaceFile(dir.file("data/vorl.txt").c_str())) << "attempt " << attempt;
        EXPECT_EQ(surfaceList.count, 2) << "attempt " << attempt;
        releaseSurfaces();
    }
}
