// End-to-end: a heightmap made into the scene, saved by S and read again by L to the same
// picture; meshes exported at exit (--export, --export-control) and by K, read back by the
// assimp tool where it is installed; and the refusals: images that cannot be used, export
// names and places that cannot be written, a disk that fills during an export.
#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <string>

#include "tests/app/run_program.h"

namespace {

// An 8-bit grey TGA of w x h pixels, rows top first: a ridge and a knoll.
std::string greyTga(int w, int h) {
    std::string file(18, '\0');
    file[2] = 3;
    file[12] = static_cast<char>(w & 0xFF);
    file[13] = static_cast<char>(w >> 8);
    file[14] = static_cast<char>(h & 0xFF);
    file[15] = static_cast<char>(h >> 8);
    file[16] = 8;
    file[17] = 0x20;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const int ridge = 120 - 12 * std::abs(x - w / 3);
            const int knoll = 250 - 9 * (std::abs(x - 2 * w / 3) + std::abs(y - h / 2));
            const int v = std::max(0, std::max(ridge, knoll));
            file += static_cast<char>(v);
        }
    }
    return file;
}

// "Vertices:" and "Faces:" of `assimp info FILE`, as "V/F"; empty when it failed.
std::string assimpCounts(const ScratchDir& dir, const std::string& name) {
    const std::string command = "assimp info '" + dir.file(name).string() + "' 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return "";
    std::string out;
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) out += buffer;
    pclose(pipe);
    std::smatch v, f;
    if (!std::regex_search(out, v, std::regex(R"(Vertices:\s+(\d+))")) ||
        !std::regex_search(out, f, std::regex(R"(Faces:\s+(\d+))"))) {
        return "";
    }
    return v[1].str() + "/" + f[1].str();
}

// The faces of assimpCounts' "V/F"; -1 when there are none.
long facesOf(const std::string& counts) {
    const std::size_t slash = counts.find('/');
    return slash == std::string::npos ? -1 : std::atol(counts.c_str() + slash + 1);
}

bool haveAssimp() { return std::system("command -v assimp >/dev/null 2>&1") == 0; }

// The shipped scene at 6 steps: the sea's 28 x 28 patches and the island's 10 x 10.
constexpr int SHIPPED_VERTICES = 169 * 169 + 61 * 61;
constexpr int SHIPPED_TRIANGLES = 2 * (168 * 168 + 60 * 60);

int countOf(const std::string& text, const std::string& start) {
    int count = 0;
    for (std::size_t at = text.find(start); at != std::string::npos; at = text.find(start, at + 1)) {
        if (at == 0 || text[at - 1] == '\n') ++count;
    }
    return count;
}

}  // namespace

TEST(HeightmapScene, SAndLGiveBackTheSamePicture) {
    ScratchDir dir;
    dir.write("hills.tga", greyTga(24, 20));
    const char* const run = "--headless --frames 5 --fixed-clock 20 -screencapture 1 "
                            "--heightmap hills.tga ";
    dir.write("look.txt", "3 keyup RETURN\n");
    const ProgramRun first = dir.run(std::string(run) + "--input look.txt");
    ASSERT_EQ(first.status, 0) << first.err;
    std::filesystem::rename(dir.file("scrn0000.tga"), dir.file("made.tga"));
    // The picture shows the map: it is not the shipped scene's.
    const ProgramRun shipped = dir.run("--headless --frames 5 --fixed-clock 20 -screencapture 1 "
                                       "--input look.txt");
    ASSERT_EQ(shipped.status, 0) << shipped.err;
    EXPECT_TRUE(dir.read("scrn0000.tga") != dir.read("made.tga"));

    // S into the working folder's data/vorl.txt (no surface file named), L reads it back.
    const std::string before = dir.read("data/vorl.txt");
    dir.write("trip.txt", "1 key S\n2 key L\n3 keyup RETURN\n");
    const ProgramRun trip = dir.run(std::string(run) + "--input trip.txt");
    ASSERT_EQ(trip.status, 0) << trip.err;
    EXPECT_TRUE(dir.read("scrn0000.tga") == dir.read("made.tga"));
    const std::string saved = dir.read("data/vorl.txt");
    EXPECT_NE(saved, before);
    EXPECT_EQ(saved.rfind("B-Spline Surface\n\n1\n\n24 20\n\n-11.50 2.00 ", 0), 0u) << saved.substr(0, 80);

    // With a surface file named, S writes there instead and the shipped place stays.
    const ProgramRun named = dir.run(std::string(run) + "--input trip.txt --surface mine.txt");
    ASSERT_EQ(named.status, 0) << named.err;
    EXPECT_TRUE(dir.read("scrn0000.tga") == dir.read("made.tga"));
    EXPECT_EQ(dir.read("mine.txt"), saved);
    EXPECT_EQ(dir.read("data/vorl.txt"), saved);
}

TEST(HeightmapScene, ImagesThatCannotBeUsedEndStartUpWithTheirReason) {
    ScratchDir dir;
    dir.write("tiny.tga", greyTga(3, 9));
    // A header that says 5000 x 5000 pixels: refused before any pixel is read.
    const char huge[18] = {0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, '\x88', 0x13, '\x88', 0x13, 8, 0x20};
    dir.write("huge.tga", std::string(huge, sizeof huge));
    struct Case {
        const char* image;
        const char* reason;
    };
    const Case cases[] = {
        {"nowhere.png", "nowhere.png: cannot open it (No such file or directory)\n"},
        {"tiny.tga", "tiny.tga: a heightmap of 3 x 9 pixels: a side needs at least 4\n"},
        {"huge.tga", "huge.tga: the image is 5000 x 5000 pixels, more than the reader takes "
                     "(16777216)\n"},
    };
    const std::string shipped = dir.read("data/vorl.txt");
    for (const Case& c : cases) {
        const ProgramRun run = dir.run(std::string("--headless --frames 2 --heightmap ") + c.image);
        EXPECT_EQ(run.status, 255) << c.image;
        EXPECT_NE(run.err.find("[Vorl] couldn't initialize surface"), std::string::npos) << run.err;
        EXPECT_EQ(dir.read("error.txt"), c.reason);
        EXPECT_EQ(dir.read("data/vorl.txt"), shipped);
    }
    for (const char* height : {"0", "-2", "tall", "nan"}) {
        const ProgramRun run =
            dir.run(std::string("--headless --frames 2 --heightmap tiny.tga --height ") + height);
        EXPECT_EQ(run.status, 2) << height;
        EXPECT_EQ(run.err, std::string("vorl: --height: expected a height above 0, not '") +
                               height + "' (see --help)\n");
    }
    const ProgramRun alone = dir.run("--headless --frames 2 --height 3");
    EXPECT_EQ(alone.status, 2);
    EXPECT_EQ(alone.err, "vorl: --height: only with --heightmap (see --help)\n");
}

TEST(MeshExport, EveryFormatAtExitIsReadByAssimp) {
    ScratchDir dir;
    for (const char* name : {"scene.obj", "scene.stl", "scene.ply"}) {
        const ProgramRun run = dir.run(std::string("--headless --frames 3 --export ") + name);
        ASSERT_EQ(run.status, 0) << name << ": " << run.err;
        ASSERT_TRUE(dir.exists(name));
    }
    const ProgramRun control = dir.run("--headless --frames 2 --export-control control.obj");
    ASSERT_EQ(control.status, 0) << control.err;
    const std::string obj = dir.read("scene.obj");
    EXPECT_EQ(countOf(obj, "v "), SHIPPED_VERTICES);
    EXPECT_EQ(countOf(obj, "vn "), SHIPPED_VERTICES);
    EXPECT_EQ(countOf(obj, "f "), SHIPPED_TRIANGLES);
    EXPECT_EQ(dir.read("scene.stl").size(), 84u + 50u * SHIPPED_TRIANGLES);
    const std::string controlText = dir.read("control.obj");
    EXPECT_EQ(countOf(controlText, "v "), 31 * 31 + 13 * 13);
    EXPECT_EQ(countOf(controlText, "f "), 30 * 30 + 12 * 12);
    if (!haveAssimp()) GTEST_SKIP() << "the assimp tool is not installed (apt-get install assimp-utils)";
    const std::string welded = std::to_string(SHIPPED_VERTICES) + "/" + std::to_string(SHIPPED_TRIANGLES);
    EXPECT_EQ(assimpCounts(dir, "scene.obj"), welded);
    EXPECT_EQ(assimpCounts(dir, "scene.ply"), welded);
    // STL keeps no shared corners; the reader joins what it can, the faces are all there.
    const std::string stl = assimpCounts(dir, "scene.stl");
    EXPECT_EQ(facesOf(stl), SHIPPED_TRIANGLES) << stl;
    // The reader splits each quad into two triangles.
    EXPECT_EQ(assimpCounts(dir, "control.obj"),
              std::to_string(31 * 31 + 13 * 13) + "/" + std::to_string(2 * (30 * 30 + 12 * 12)));
}

TEST(MeshExport, KWritesNumberedFilesAtTheStepCountInUse) {
    ScratchDir dir;
    // Five steps fewer: one step a patch, then K twice.
    dir.write("keys.txt", "0 key MINUS\n0 key MINUS\n0 key MINUS\n0 key MINUS\n0 key MINUS\n"
                          "1 key K\n2 key PLUS\n3 key K\n");
    const ProgramRun run = dir.run("--headless --frames 6 --input keys.txt");
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string one = dir.read("export0000.obj");
    const std::string two = dir.read("export0001.obj");
    EXPECT_EQ(countOf(one, "v "), 29 * 29 + 11 * 11);
    EXPECT_EQ(countOf(one, "f "), 2 * (28 * 28 + 10 * 10));
    EXPECT_EQ(countOf(two, "v "), 57 * 57 + 21 * 21);
    EXPECT_FALSE(dir.exists("export0002.obj"));
    EXPECT_FALSE(dir.exists("error.txt")) << "nothing to report";
    // A Bezier run: T, then K.
    dir.write("bezier.txt", "1 key T\n2 key K\n");
    const ProgramRun bezier = dir.run("--headless --frames 4 --input bezier.txt");
    ASSERT_EQ(bezier.status, 0) << bezier.err;
    EXPECT_EQ(countOf(dir.read("export0000.obj"), "v "), 61 * 61 + 25 * 25);
    if (haveAssimp()) {
        // All faces read. The reader's own clean-up (tangents worked out per face) may keep a
        // few corners of one vertex apart where the texture stretches, so its vertex count is
        // no check of the welding here; the file's own count above is.
        const std::string counts = assimpCounts(dir, "export0000.obj");
        EXPECT_EQ(facesOf(counts), 2 * (60 * 60 + 24 * 24)) << counts;
    }
}

TEST(MeshExport, NamesAndPlacesThatCannotBeWrittenAreRefusedBeforeTheRun) {
    ScratchDir dir;
    struct Case {
        const char* args;
        const char* reason;
    };
    const Case cases[] = {
        {"--export mesh.txt", "mesh.txt: the name must end in .obj (OBJ), .stl (binary STL) or "
                              ".ply (binary PLY)\n"},
        {"--export-control mesh.ply", "mesh.ply: control meshes are written as OBJ only (.obj)\n"},
        {"--export no-such-folder/mesh.obj", "no-such-folder/mesh.obj: cannot be written: "},
        {"--export data", "data: the name must end in"},
        {"--export-control data/ --export x.stl", "data/: the name must end in"},
    };
    for (const Case& c : cases) {
        const ProgramRun run = dir.run(std::string("--headless --frames 2 ") + c.args);
        EXPECT_EQ(run.status, 255) << c.args;
        EXPECT_NE(run.err.find("[Vorl] couldn't prepare the export"), std::string::npos) << run.err;
        EXPECT_EQ(dir.read("error.txt").rfind(c.reason, 0), 0u) << dir.read("error.txt");
        EXPECT_EQ(run.out, "") << "no frame was drawn";
    }
    EXPECT_FALSE(dir.exists("x.stl"));
}

TEST(MeshExport, ADiskThatFillsLeavesNoFileAndEndsWithStatusThree) {
    ScratchDir dir;
    dir.write("mesh.obj", "an older file\n");
    const ProgramRun run = dir.runWithFileLimit("--frames 3 --export mesh.obj", 1 << 20);
    EXPECT_EQ(run.status, 3) << run.err;
    EXPECT_EQ(dir.read("mesh.obj"), "an older file\n") << "the old file as it was";
    const std::string reason =
        "couldn't export the surfaces (mesh.obj: not written: write failed: File too large)\n";
    EXPECT_EQ(dir.read("error.txt"), reason);
    EXPECT_NE(run.err.find(reason), std::string::npos) << run.err;
    EXPECT_EQ(dir.list(""), (std::vector<std::string>{"data", "error.txt", "mesh.obj",
                                                     "stderr.txt", "stdout.txt"}))
        << "no temporary stays";
    // K on the same full disk: said, and the number kept for the next try.
    dir.write("k.txt", "1 key K\n");
    const ProgramRun key = dir.runWithFileLimit("--frames 3 --input k.txt", 1 << 20);
    EXPECT_EQ(key.status, 0) << key.err;
    EXPECT_NE(dir.read("error.txt").find("couldn't export the surfaces (export0000.obj: not "
                                         "written: write failed: File too large)"),
              std::string::npos) << dir.read("error.txt");
    EXPECT_FALSE(dir.exists("export0000.obj"));
}

// A run killed while it exported leaves its temporary beside the target; the next run that
// exports there takes it away, and only it (the user's own look-alike stays).
TEST(MeshExport, AKilledExportsTemporaryGoesWithTheNextExportThere) {
    ScratchDir dir;
    const std::string stale = ".vorl-save-2147483646-1.mesh.obj.tmp";
    dir.write(stale, "half a mesh");
    dir.write("mesh.obj.tmp", "the user's own");
    const ProgramRun run = dir.run("--headless --frames 2 --export mesh.obj");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_FALSE(dir.exists(stale));
    EXPECT_EQ(dir.read("mesh.obj.tmp"), "the user's own");
    EXPECT_TRUE(dir.exists("mesh.obj"));
}
