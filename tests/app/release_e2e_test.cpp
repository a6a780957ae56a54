// End-to-end: what a person meets before the demo starts and where an unpacked or installed
// program finds its data: --version, refused options, and the data folder looked for in the
// working folder, beside the program, then in the installed data folder, with saves going to
// the working folder only.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <regex>
#include <string>

#include "tests/app/run_program.h"

namespace {

namespace fs = std::filesystem;

// The project's version as CMakeLists.txt sets it: project(vorl VERSION X.Y.Z ...).
std::string projectVersion() {
    std::ifstream in(fs::path(VORL_SOURCE_DIR) / "CMakeLists.txt");
    std::stringstream text;
    text << in.rdbuf();
    const std::string s = text.str();
    std::smatch m;
    return std::regex_search(s, m, std::regex(R"(project\(vorl VERSION ([0-9.]+))")) ? m[1].str()
                                                                                     : "";
}

// The commit the source tree is at, or "" outside git.
std::string sourceCommit() {
    const std::string command =
        "git -C '" + std::string(VORL_SOURCE_DIR) + "' rev-parse HEAD 2>/dev/null";
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return "";
    char line[128] = {};
    const bool read = std::fgets(line, sizeof line, pipe) != nullptr;
    pclose(pipe);
    std::string commit = read ? line : "";
    while (!commit.empty() && (commit.back() == '\n' || commit.back() == '\r')) commit.pop_back();
    return commit;
}

// Places a copy of the program at `program` inside dir with the shipped data in `dataFolder`
// (both relative to dir), as a package would lay them out.
void layOut(const ScratchDir& dir, const std::string& program, const std::string& dataFolder) {
    fs::create_directories(dir.file(program).parent_path());
    fs::copy_file(VORL_BINARY, dir.file(program));
    fs::create_directories(dir.file(dataFolder));
    for (const char* name : {"vorl.txt", "tex.tga", "env.tga"}) {
        fs::copy_file(fs::path(VORL_SOURCE_DIR) / "data" / name, dir.file(dataFolder) / name);
    }
    fs::create_directories(dir.file("work"));
}

const char* const SCRIPTED = "--frames 12 --fixed-clock 16 --save-last-frame last.tga";

}  // namespace

TEST(CommandLine, VersionPrintsTheProjectVersionAndCommitAndRunsNothing) {
    const std::string version = projectVersion();
    ASSERT_FALSE(version.empty()) << "no project version in CMakeLists.txt";
    ScratchDir dir;
    const ProgramRun run = dir.run("--version");
    EXPECT_EQ(run.status, 0) << run.err;
    std::smatch m;
    ASSERT_TRUE(std::regex_match(run.out, m,
                                 std::regex(R"(vorl ([0-9.]+) \((commit ([0-9a-f]{7,40})(, )"
                                            R"(modified)?|unknown commit)\)\n)")))
        << run.out;
    EXPECT_EQ(m[1].str(), version);
    const std::string commit = sourceCommit();
    if (!commit.empty()) {
        ASSERT_TRUE(m[3].matched) << "the tree is in git, but: " << run.out;
        EXPECT_EQ(commit.compare(0, m[3].length(), m[3].str()), 0)
            << "built from " << m[3] << ", the tree is at " << commit;
    }
    EXPECT_EQ(run.err, "");
    EXPECT_FALSE(dir.exists("error.txt"));
}

TEST(CommandLine, UnknownOptionsEndTheRunWithStatus2NamingThem) {
    struct Case {
        const char* args;
        const char* message;
    };
    const Case cases[] = {
        {"--bogus", "vorl: --bogus: unknown option (see --help)\n"},
        {"-v", "vorl: -v: unknown option (see --help)\n"},
        {"--headless --bogus=1 --frames 3", "vorl: --bogus: unknown option (see --help)\n"},
        {"-res 800x600 --Version", "vorl: --Version: unknown option (see --help)\n"},
    };
    for (const Case& c : cases) {
        ScratchDir dir;
        const ProgramRun run = dir.run(c.args);
        EXPECT_EQ(run.status, 2) << c.args;
        EXPECT_EQ(run.err, c.message) << c.args;
        EXPECT_EQ(run.out, "") << c.args << ": no frame was drawn";
        EXPECT_FALSE(dir.exists("error.txt")) << c.args;
    }
}

TEST(CommandLine, TheProgramsOwnOptionsStillReachIt) {
    ScratchDir dir;
    // A value the program refuses is still the program's to refuse, even one that looks like
    // an option.
    ProgramRun run = dir.run("--headless --frames 2 -res --bogus");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("[Vorl] --bogus is not a cool resolution."), std::string::npos)
        << run.err;
    run = dir.run("--headless --frames 2 -RES 640x480 -screencapture 0 -ref 75");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("[640 x 480 "), std::string::npos) << run.out;
}

TEST(DataFiles, AnUnpackedProgramReadsTheDataBesideItFromAnyFolder) {
    ScratchDir reference;
    const ProgramRun expected = reference.run(std::string("--headless ") + SCRIPTED);
    ASSERT_EQ(expected.status, 0) << expected.err;

    ScratchDir dir;
    layOut(dir, "vorl-1/vorl", "vorl-1/data");
    const ProgramRun run = dir.runCopy("vorl-1/vorl", "work", SCRIPTED);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(dir.read("work/last.tga"), reference.read("last.tga")) << "a different scene";
    EXPECT_FALSE(dir.exists("work/error.txt"));
}

TEST(DataFiles, AnInstalledProgramSavesIntoTheWorkingFolderOnly) {
    ScratchDir dir;
    layOut(dir, "root/bin/vorl", "root/share/vorl/data");
    dir.write("work/keys.txt", "4 key S\n");
    const std::string installed = dir.read("root/share/vorl/data/vorl.txt");
    ProgramRun run = dir.runCopy("root/bin/vorl", "work",
                                 std::string(SCRIPTED) + " --input keys.txt");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(dir.exists("work/data/vorl.txt")) << "S made the working folder's data/";
    EXPECT_NE(dir.read("work/data/vorl.txt").find("B-Spline Surface"), std::string::npos);
    EXPECT_EQ(dir.read("root/share/vorl/data/vorl.txt"), installed);
    EXPECT_EQ(dir.list("root/share/vorl/data"),
              (std::vector<std::string>{"env.tga", "tex.tga", "vorl.txt"}));
    EXPECT_FALSE(dir.exists("work/error.txt"));

    // The working folder comes first: a broken surface file there is read (and refused), not
    // passed over for the installed one.
    dir.write("work/data/vorl.txt", "not a surface file\n");
    run = dir.runCopy("root/bin/vorl", "work", SCRIPTED);
    EXPECT_EQ(run.status, 255);
    EXPECT_NE(run.err.find("couldn't initialize surface"), std::string::npos) << run.err;
}

// A data file in the working folder that exists but cannot be read (a folder in its place,
// no permission) is refused with its reason; the shipped file never stands in for it, so no
// later save can overwrite the user's file with the shipped surface.
TEST(DataFiles, AFolderInTheWorkingFolderIsRefusedNotReplaced) {
    ScratchDir dir;
    layOut(dir, "root/bin/vorl", "root/share/vorl/data");
    for (const char* name : {"vorl.txt", "tex.tga", "env.tga"}) {
        const std::string file = std::string("work/data/") + name;
        fs::create_directories(dir.file(file));
        const ProgramRun run = dir.runCopy("root/bin/vorl", "work", SCRIPTED);
        EXPECT_EQ(run.status, 255) << name;
        EXPECT_NE(run.err.find("couldn't initialize surface"), std::string::npos) << run.err;
        EXPECT_NE(dir.read("work/error.txt").find("data/" + std::string(name) +
                                                  ": it is a folder, not a file"),
                  std::string::npos)
            << dir.read("work/error.txt");
        EXPECT_TRUE(fs::is_directory(dir.file(file)));
        fs::remove(dir.file(file));
    }
}

TEST(DataFiles, AFileInTheWorkingFolderWithoutReadPermissionIsRefusedNotReplaced) {
    // Permissions stop every user but root from reading.
    if (geteuid() == 0) GTEST_SKIP() << "root reads a file without read permission";
    ScratchDir dir;
    layOut(dir, "root/bin/vorl", "root/share/vorl/data");
    fs::create_directories(dir.file("work/data"));
    dir.write("work/data/vorl.txt", "mine\n");
    fs::permissions(dir.file("work/data/vorl.txt"), fs::perms::none);
    dir.write("work/keys.txt", "4 key S\n");
    const ProgramRun run =
        dir.runCopy("root/bin/vorl", "work", std::string(SCRIPTED) + " --input keys.txt");
    EXPECT_EQ(run.status, 255);
    EXPECT_NE(dir.read("work/error.txt").find("data/vorl.txt: cannot open it (Permission denied)"),
              std::string::npos) << dir.read("work/error.txt");
    fs::permissions(dir.file("work/data/vorl.txt"), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(dir.read("work/data/vorl.txt"), "mine\n");
}

// An input that never ends a line is refused at the limit, as a malformed line is, before
// any window exists and without reading on (memory stays bounded; the run ends at once).
TEST(CommandLine, InputWithoutLineEndsIsRefusedAtTheLineLimit) {
    ScratchDir dir;
    dir.write("noise.txt", "0 key A\n" + std::string(1 << 20, '\0'));
    for (const char* input : {"noise.txt", "/dev/zero"}) {
        const ProgramRun run = dir.run(std::string("--headless --frames 2 --input ") + input);
        EXPECT_EQ(run.status, 2) << input;
        EXPECT_EQ(run.err, std::string(input) + (input[0] == '/' ? ":1" : ":2") +
                               ": line longer than 4096 bytes\n");
        EXPECT_EQ(run.out, "");
    }
}
