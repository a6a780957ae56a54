// Saves that cannot lose data, run as a user would: the surface file and captures on a full
// disk (every file the program writes limited in size), a last frame that cannot be written,
// the program killed in the middle of saving again and again and what that leaves behind, a
// reload of a damaged file, and diagnostics that cannot be written where they belong.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
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

// Surface files the program wrote, read back with its own reader.
SurfaceList readBack;

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
    EXPECT_EQ(countLines(run.err, "couldn't save surface file (write failed: File too large)"), 2)
        << "a run without a window says it on standard error too: " << run.err;
    EXPECT_NE(run.out.find("fps:"), std::string::npos) << "the run went on to its last frame";

    // With room on the disk the same keys save: the file changes and loads.
    const ProgramRun free = dir.run("--headless --frames 12 --input script.txt");
    EXPECT_EQ(free.status, 0) << free.err;
    EXPECT_NE(dir.read("data/vorl.txt"), before);
    EXPECT_TRUE(loadSurfaceFile(readBack, dir.file("data/vorl.txt").c_str()));
    releaseSurfaces(readBack);
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
        ASSERT_TRUE(loadSurfaceFile(readBack, dir.file("data/vorl.txt").c_str())) << "attempt " << attempt;
        EXPECT_EQ(readBack.count, 2) << "attempt " << attempt;
        releaseSurfaces(readBack);
    }
}

namespace {

// The polygons-per-frame figure of the last statistics line a headless run printed.
int lastPolygonsPerFrame(const std::string& out) {
    const std::size_t at = out.rfind("ppf:");
    return at == std::string::npos ? -1 : std::atoi(out.c_str() + at + 4);
}

}  // namespace

// L on a file damaged after its count line (cut short, or a coordinate beyond the limit)
// keeps the surfaces on screen and says why; the next S writes them, not an empty list. The
// file is swapped in while the program runs, after it has started (its first capture is
// there) and long before L.
TEST(Saves, FailedReloadKeepsTheSurfacesAndTheNextSaveLosesNothing) {
    const std::string good = ScratchDir().read("data/vorl.txt");
    // Cut in the middle of the second surface's points; or a point of line 212 (in the
    // first surface) pushed beyond the coordinate limit.
    const std::string cut = good.substr(0, good.size() * 3 / 4);
    std::string far = good;
    std::size_t line212 = 0;
    for (int line = 1; line < 212; ++line) line212 = far.find('\n', line212) + 1;
    far.replace(line212, far.find('\n', line212) - line212, "0 0 2e25");
    const std::string reasons[2] = {
        "couldn't reload surface file (data/vorl.txt line ",
        "couldn't reload surface file (data/vorl.txt line 212: coordinate 2e+25 beyond the "
        "limit of 1000000)"};
    for (int which = 0; which < 2; ++which) {
        const std::string& damaged = which == 0 ? cut : far;
        const std::string& reason = reasons[which];
        ScratchDir dir;
        dir.write("script.txt", "0 keyup RETURN\n1 key P\n400 key L\n420 key S\n");
        const std::string command = "cd '" + dir.path().string() + "' && exec env -u DISPLAY '" +
                                    VORL_BINARY + "' --headless --fixed-clock 16 --frames 440" +
                                    " --input script.txt -screencapture 1 >stdout.txt 2>stderr.txt";
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        for (int wait = 0; wait < 3000 && !dir.exists("scrn0000.tga"); ++wait) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ASSERT_TRUE(dir.exists("scrn0000.tga")) << "the program never started";
        dir.write("data/vorl.txt.new", damaged);
        std::filesystem::rename(dir.file("data/vorl.txt.new"), dir.file("data/vorl.txt"));
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << dir.read("stderr.txt");

        const std::string out = dir.read("stdout.txt");
        EXPECT_GT(lastPolygonsPerFrame(out), 1000) << "the surfaces are still drawn: " << out;
        const std::string errors = dir.read("error.txt");
        EXPECT_EQ(countLines(errors, reason), 1) << errors;
        EXPECT_EQ(countLines(dir.read("stderr.txt"), reason), 1) << dir.read("stderr.txt");
        // S wrote the surfaces that were on screen: two whole meshes.
        ASSERT_TRUE(loadSurfaceFile(readBack, dir.file("data/vorl.txt").c_str()));
        EXPECT_EQ(readBack.count, 2);
        releaseSurfaces(readBack);
    }
}

namespace {

// The id of a process that has ended (a child that exited at once and was reaped).
pid_t endedProcess() {
    const pid_t child = fork();
    if (child == 0) _exit(0);
    int status = 0;
    waitpid(child, &status, 0);
    return child;
}

// The name a save's temporary file of `target` has when process `pid` writes it.
std::string temporaryName(const std::string& folder, pid_t pid, const std::string& target) {
    return folder + ".vorl-save-" + std::to_string(pid) + "-1." + target + ".tmp";
}

}  // namespace

// A start removes the temporary files that saves of a killed run left beside the program's
// own files (the surface file, captures, --save-last-frame), once the run that wrote them is
// gone, and nothing else: files of the user's named like the saved files with something
// after them (backups, versions) stay, however old.
TEST(Saves, StartRemovesOnlyItsOwnStaleTemporaries) {
    ScratchDir dir;
    const pid_t ended = endedProcess();
    const std::vector<std::string> stale = {
        temporaryName("data/", ended, "vorl.txt"), temporaryName("", ended, "scrn0007.tga"),
        temporaryName("", ended, "scrn0123.png"), temporaryName("", ended, "last.tga")};
    const std::vector<std::string> kept = {
        temporaryName("data/", getpid(), "vorl.txt"),   // a save in progress in a live run
        temporaryName("data/", ended, "tex.tga"),       // a file the program never saves
        temporaryName("", ended, "scrn007.tga"),        // not a capture's name
        "data/vorl.txt.backup", "data/vorl.txt.2024v1", "data/vorl.txt.a1B2c3",
        "scrn0000.tga.before", "scrn0007.tga.Zz9Yy8", "last.tga.QwErTy",
        "data/.vorl-save-x-1.vorl.txt.tmp", "notes.txt.a1B2c3",
        "scrn0001.tga",                                  // a capture itself
    };
    const auto old = std::filesystem::file_time_type::clock::now() - std::chrono::hours(5);
    for (const std::string& name : stale) dir.write(name, "partial");
    for (const std::string& name : kept) dir.write(name, "mine");
    for (const std::string& name : stale) std::filesystem::last_write_time(dir.file(name), old);
    for (const std::string& name : kept) std::filesystem::last_write_time(dir.file(name), old);
    const ProgramRun run = dir.run("--headless --frames 2 --save-last-frame last.tga");
    ASSERT_EQ(run.status, 0) << run.err;
    for (const std::string& name : stale) EXPECT_FALSE(dir.exists(name)) << name;
    for (const std::string& name : kept) EXPECT_EQ(dir.read(name), "mine") << name;
    EXPECT_TRUE(dir.exists("last.tga"));
}

// A save through a symbolic link writes the file the link leads to and keeps the link; a
// file that is not a regular file (a pipe, a folder) is refused with the reason, not replaced.
TEST(Saves, SavesWriteThroughLinksAndRefuseWhatIsNotARegularFile) {
    namespace fs = std::filesystem;
    ScratchDir dir;
    fs::create_directories(dir.file("mine/pictures"));
    const std::string shipped = dir.read("data/vorl.txt");
    fs::rename(dir.file("data/vorl.txt"), dir.file("mine/surface.txt"));
    fs::create_symlink("../mine/surface.txt", dir.file("data/vorl.txt"));
    fs::create_symlink("mine/pictures/frame.tga", dir.file("last.tga"));
    fs::create_symlink("mine/pictures/first.tga", dir.file("scrn0000.tga"));
    dir.write("script.txt", "3 key S\n4 keyup RETURN\n");
    ProgramRun run = dir.run("--headless --frames 8 --input script.txt -screencapture 1 "
                             "--save-last-frame last.tga -res 640x480");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(fs::is_symlink(dir.file("data/vorl.txt")));
    EXPECT_TRUE(fs::is_symlink(dir.file("last.tga")));
    EXPECT_TRUE(fs::is_symlink(dir.file("scrn0000.tga")));
    const std::string saved = dir.read("mine/surface.txt");
    EXPECT_NE(saved, shipped) << "the waves moved, so the saved surface differs";
    EXPECT_EQ(saved.rfind("B-Spline Surface", 0), 0u);
    EXPECT_EQ(dir.read("mine/pictures/frame.tga").size(), 18u + 640u * 480u * 3u);
    EXPECT_EQ(dir.read("mine/pictures/first.tga").size(), 18u + 640u * 480u * 3u);
    EXPECT_TRUE(leftovers(dir, "mine", {"pictures", "surface.txt"}).empty());

    ASSERT_EQ(mkfifo(dir.file("pipe.tga").c_str(), 0600), 0);
    fs::create_directory(dir.file("folder.tga"));
    run = dir.run("--headless --frames 2 --save-last-frame pipe.tga");
    EXPECT_EQ(run.status, 3) << run.err;
    EXPECT_NE(run.err.find("pipe.tga: not written: it is a pipe, not a regular file"),
              std::string::npos) << run.err;
    EXPECT_TRUE(fs::is_fifo(dir.file("pipe.tga")));
    run = dir.run("--headless --frames 2 --save-last-frame folder.tga");
    EXPECT_EQ(run.status, 3) << run.err;
    EXPECT_NE(run.err.find("folder.tga: not written: it is a folder, not a file"),
              std::string::npos) << run.err;
    EXPECT_TRUE(fs::is_directory(dir.file("folder.tga")));

    // A link to a pipe is refused as the pipe is.
    fs::create_symlink("pipe.tga", dir.file("to-pipe.tga"));
    run = dir.run("--headless --frames 2 --save-last-frame to-pipe.tga");
    EXPECT_EQ(run.status, 3) << run.err;
    EXPECT_TRUE(fs::is_symlink(dir.file("to-pipe.tga")));
    EXPECT_TRUE(fs::is_fifo(dir.file("pipe.tga")));
}

// With the waves paused from the first frame, S stores the shipped surface byte for byte. A
// file cut inside its last number ("-0.84" become "-0.8", no line end) still loads, but the
// run says in error.txt and on standard error that it may be cut short, naming the line.
TEST(Saves, ShippedSurfaceSavesUnchangedAndACutLastNumberIsReported) {
    ScratchDir dir;
    const std::string shipped = dir.read("data/vorl.txt");
    dir.write("script.txt", "0 key P\n2 key S\n");
    ProgramRun run = dir.run("--headless --fixed-clock 16 --frames 4 --input script.txt");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(dir.read("data/vorl.txt"), shipped);
    EXPECT_FALSE(dir.exists("error.txt")) << dir.read("error.txt");

    const std::size_t end = shipped.find_last_not_of('\n');
    ASSERT_NE(end, std::string::npos);
    const std::string cut = shipped.substr(0, end);   // the last digit and the line ends gone
    const long long lines = std::count(cut.begin(), cut.end(), '\n') + 1;
    dir.write("data/vorl.txt", cut);
    run = dir.run("--headless --fixed-clock 16 --frames 4");
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string warning = "data/vorl.txt line " + std::to_string(lines) +
                                ": the file ends inside a number without a line end; it may be "
                                "cut short\n";
    EXPECT_EQ(dir.read("error.txt"), warning);
    EXPECT_NE(run.err.find(warning), std::string::npos) << run.err;
}

// A line that cannot be written to error.txt (here a folder of that name stands in its way,
// as a full disk would) reaches standard error even in a window; the run goes on.
TEST(Saves, DiagnosticsThatCannotBeWrittenGoToStandardError) {
    if (std::system("command -v xvfb-run >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "xvfb-run is not installed";
    }
    ScratchDir dir;
    std::filesystem::create_directory(dir.file("error.txt"));
    // S fails on the full disk (every file limited to 8 KB), so there is something to say.
    dir.write("script.txt", "2 key S\n5 key ESCAPE\n");
    const ProgramRun run = dir.run(
        "--windowed --answer ok --input script.txt -res 640x480", "SDL_AUDIODRIVER=dummy",
        "xvfb-run -a -s '-screen 0 1280x1024x24' sh -c "
        "'ulimit -f 16 && trap \"\" XFSZ && exec \"$@\"' limited");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(countLines(run.err, "couldn't save surface file (write failed: File too large)"), 1)
        << run.err;
}

// S says what it saved under the statistics line for a few seconds: only the frames in that
// time differ from a run without S, and the save itself goes to no diagnostics.
TEST(Saves, TheSavedLineShowsOnlyWhileItIsDue) {
    ScratchDir dir;
    dir.write("save.txt", "1 key S\n");
    dir.write("none.txt", "# nothing\n");
    const std::string args = "--headless -res 640x480 --fixed-clock 40 --save-last-frame ";
    auto lastFrame = [&](const std::string& script, int frames) {
        const ProgramRun run = dir.run(args + "last.tga --input " + script + " --frames " +
                                       std::to_string(frames));
        EXPECT_EQ(run.status, 0) << run.err;
        return dir.read("last.tga");
    };
    const std::string shown = lastFrame("save.txt", 5);
    const std::string plain = lastFrame("none.txt", 5);
    ASSERT_EQ(plain.size(), 18u + 640u * 480u * 3u);
    EXPECT_NE(shown, plain) << "the line is on the frames after S";
    // 4 seconds at 40 ms a frame: gone 100 frames after S.
    EXPECT_EQ(lastFrame("save.txt", 110), lastFrame("none.txt", 110)) << "and then gone";
    EXPECT_FALSE(dir.exists("error.txt")) << "a save that worked is not an error";
}
