// The surface file: the reader's line grammar, what a failed load leaves behind, the writer's
// exact bytes, the round trip, patch counts and the limits that refuse malformed meshes.
// Every file lives in a fresh temporary folder; the shipped data is only read.
#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "surface/surface.h"
#include "tests/surface/surface_folder.h"

namespace {

class SurfaceFile : public SurfaceFolderTest {
protected:
    // A well-formed file of one width x height mesh with distinct points.
    static std::string meshText(int width, int height) {
        std::string text = "B-Spline Surface\n\n1\n\n" + std::to_string(width) + " " +
                           std::to_string(height) + "\n\n";
        for (int r = 0; r < height; ++r) {
            for (int c = 0; c < width; ++c) {
                char line[64];
                std::snprintf(line, sizeof line, "%d %d %.2f\n", c, r, 0.25 * ((c + 2 * r) % 3));
                text += line;
            }
            text += "\n";
        }
        return text;
    }
    // Loads a known two-surface list that later failures must either keep or empty.
    void loadPrevious() {
        std::string text = "B-Spline Surface\n2\n4 4\n";
        for (int i = 0; i < 16; ++i) text += "1 2 3\n";
        text += "2 2\n0 0 0\n1 0 0\n0 1 0\n1 1 0\n";
        ASSERT_TRUE(loadSurfaceFile(surfaceList, write("previous.txt", text).c_str()));
        ASSERT_EQ(surfaceList.count, 2);
    }

};

TEST_F(SurfaceFile, HeaderMayCarryTrailingText) {
    std::string text = meshText(4, 4);
    text.replace(0, 16, "B-Spline Surface, written by hand");
    ASSERT_TRUE(loadSurfaceFile(surfaceList, write("a.txt", text).c_str()));
    ASSERT_EQ(surfaceList.count, 1);
    EXPECT_EQ(surfaceList.surfaces[0].width, 4);
    EXPECT_EQ(surfaceList.surfaces[0].height, 4);
}

TEST_F(SurfaceFile, CountOfZeroGivesAnEmptyList) {
    loadPrevious();
    ASSERT_TRUE(loadSurfaceFile(surfaceList, write("a.txt", "B-Spline Surface\n0\n").c_str()));
    EXPECT_EQ(surfaceList.count, 0);
    EXPECT_EQ(surfaceList.surfaces, nullptr);
}

TEST_F(SurfaceFile, CommentsAndBlankLinesBetweenAllNumbersAreSkipped) {
    const std::string text =
        "B-Spline Surface\n\n# a comment\n\ncount follows\n1 surface\n\nsize: 2 by 2\n"
        "  2   3 rows\nfirst row\n0.5 1.5 2.5 extra\n\n1 0\n1 0 0\n\n-- second\n"
        "0 1 0\n1 1 0\nlast\n\n0 2 1\n x\n1 2 1\n";
    ASSERT_TRUE(loadSurfaceFile(surfaceList, write("a.txt", text).c_str()));
    ASSERT_EQ(surfaceList.count, 1);
    const Surface& s = surfaceList.surfaces[0];
    ASSERT_EQ(s.width, 2);
    ASSERT_EQ(s.height, 3);
    EXPECT_FLOAT_EQ(s.points[0].x, 0.5f);
    EXPECT_FLOAT_EQ(s.points[0].z, 2.5f);
    // "1 0" yields only two numbers and is no point; "1 0 0" is the second.
    EXPECT_FLOAT_EQ(s.points[1].x, 1.0f);
    EXPECT_FLOAT_EQ(s.points[1].y, 0.0f);
    EXPECT_FLOAT_EQ(s.points[5].x, 1.0f);
    EXPECT_FLOAT_EQ(s.points[5].y, 2.0f);
    EXPECT_FLOAT_EQ(s.points[5].z, 1.0f);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(s.points[i].w, 1.0f);
}

TEST_F(SurfaceFile, IntegerLinesAreDimensionsOrPointsByPosition) {
    // Where dimensions are expected, "3 2 9" gives 3 x 2; where points are expected, a line
    // of three whole numbers is a point.
    const std::string text = "B-Spline Surface\n1\n3 2 9\n0 0 0\n1 0 0\n2 0 0\n0 1 0\n1 1 0\n2 1 5\n";
    ASSERT_TRUE(loadSurfaceFile(surfaceList, write("a.txt", text).c_str()));
    const Surface& s = surfaceList.surfaces[0];
    EXPECT_EQ(s.width, 3);
    EXPECT_EQ(s.height, 2);
    EXPECT_EQ(s.points[5].x, 2.0f);
    EXPECT_EQ(s.points[5].z, 5.0f);
}

TEST_F(SurfaceFile, LongLinesAreReadAsSeveralLines) {
    // 255 characters fill one read; the rest of the physical line is read as the next line
    // and here yields the fourth point.
    const std::string text = "B-Spline Surface\n1\n2 2\n0 0 0\n1 0 0\n0 1 0\n" +
                             std::string(255, 'x') + "7 8 9\n";
    ASSERT_TRUE(loadSurfaceFile(surfaceList, write("a.txt", text).c_str()));
    const Surface& s = surfaceList.surfaces[0];
    EXPECT_EQ(s.points[3].x, 7.0f);
    EXPECT_EQ(s.points[3].z, 9.0f);
}

// Whatever fails, the list the program has stays as it was, and the reason names the file
// and, where the file says something wrong, its line.
TEST_F(SurfaceFile, FailuresKeepTheListAndSayWhy) {
    std::string twoAnnounced = meshText(4, 4);
    twoAnnounced.replace(twoAnnounced.find("\n1\n"), 3, "\n2\n");
    struct Case {
        std::string text;
        std::string reason;   // after "path"
    };
    const Case cases[] = {
        {"", ": the file is empty"},
        {"Bezier Surface\n1\n2 2\n", " line 1: expected the header \"B-Spline Surface\""},
        {"B-Spline Surfac\n0\n", " line 1: expected the header \"B-Spline Surface\""},
        {"B-Spline Surface\n\nno count here\n",
         " line 4: expected the number of surfaces, found the end of the file"},
        {twoAnnounced, " line 27: expected the size of surface 2 of 2, found the end of the file"},
        {"B-Spline Surface\n1\n2 2\n0 0 0\n1 0 0\n0 1 0\n",
         " line 7: expected 3 numbers (point 4 of 2 x 2 in surface 1 of 1), found the end of "
         "the file"},
        {"B-Spline Surface\n1\n\n", " line 4: expected the size of surface 1 of 1, found the "
                                     "end of the file"},
        {"B-Spline Surface\n-1\n", " line 2: -1 surfaces, outside 0 to 1048576"},
        {"B-Spline Surface\n1\n1 5\n", " line 3: surface 1 is 1 x 5 points; a side needs at least 2"},
        {"B-Spline Surface\n1\n16777217 2\n",
         " line 3: surface 1 is 16777217 x 2 points, more than the limit of 16777216"},
        {"B-Spline Surface\n1\n2 2\n0 0 0\n\n1 0 0\n0 1 2e25\n1 1 0\n",
         " line 7: coordinate 2e+25 beyond the limit of 1000000"},
        {"B-Spline Surface\n1\n2 2\n0 0 0\n1 0 0\n0 1 nan\n1 1 0\n",
         " line 6: coordinate nan beyond the limit of 1000000"},
        // Numbers beyond 64 bits are quoted as the file gives them, not clamped.
        {"B-Spline Surface\n99999999999999999999999\n",
         " line 2: 99999999999999999999999 surfaces, outside 0 to 1048576"},
        {"B-Spline Surface\n1\n-99999999999999999999 +0004\n",
         " line 3: surface 1 is -99999999999999999999 x +0004 points; a side needs at least 2"},
        {"B-Spline Surface\n1\n2 123456789012345678901234567890\n",
         " line 3: surface 1 is 2 x 123456789012345678901234... points, more than the limit of "
         "16777216"},
        // A point written wrongly shifts every later line, so the file seems to end early:
        // the reason names the wrong line (the first that is not blank), not the end.
        {"B-Spline Surface\n2\n2 2\n0 0 0\n\n1 0 oops\n0 1 0\n1 1 0\n# note\n2 2\n0.5 0 0\n"
         "1.5 0 0\n0.5 1 0\n1.5 1 0\n",
         " line 6: expected 3 numbers (point 2 of 2 x 2 in surface 1 of 2), found \"1 0 oops\"; "
         "the file then ends early (expected the size of surface 2 of 2)"},
        {"B-Spline Surface\n2\n2 2\n0 0 0\n1 0 0\n0 1 0\n1 1 0 \n\n2 2\n0 0 0\n1 0 0\n0 1 0\n"
         "1,1,0\n",
         " line 13: expected 3 numbers (point 4 of 2 x 2 in surface 2 of 2), found \"1,1,0\"; the "
         "file then ends early (expected 3 numbers (point 4 of 2 x 2 in surface 2 of 2))"},
    };
    for (const Case& c : cases) {
        loadPrevious();
        const Surface* before = surfaceList.surfaces;
        const std::string path = write("a.txt", c.text);
        char reason[SURFACE_REASON_MAX] = "";
        EXPECT_FALSE(loadSurfaceFile(surfaceList, path.c_str(), reason, sizeof reason)) << c.text;
        EXPECT_EQ(std::string(reason), path + c.reason);
        EXPECT_EQ(surfaceList.count, 2) << c.text;
        EXPECT_EQ(surfaceList.surfaces, before);
        EXPECT_EQ(surfaceList.surfaces[0].points[15].z, 3.0f);
    }
    char reason[SURFACE_REASON_MAX] = "";
    const std::string missing = (dir / "missing.txt").string();
    EXPECT_FALSE(loadSurfaceFile(surfaceList, missing.c_str(), reason, sizeof reason));
    EXPECT_EQ(std::string(reason), missing + ": cannot open it (No such file or directory)");
    EXPECT_EQ(surfaceList.count, 2);
    // A picked point survives a failed reload; a successful one forgets it.
    surfaceList.picked = &surfaceList.surfaces[1].points[2];
    EXPECT_FALSE(loadSurfaceFile(surfaceList, write("a.txt", "B-Spline Surface\n1\n2 2\n").c_str()));
    EXPECT_EQ(surfaceList.picked, &surfaceList.surfaces[1].points[2]);
    EXPECT_TRUE(loadSurfaceFile(surfaceList, write("b.txt", meshText(4, 4)).c_str()));
    EXPECT_EQ(surfaceList.picked, nullptr);
}

TEST_F(SurfaceFile, WriterBytesForAnEmptyList) {
    const std::string path = (dir / "out.txt").string();
    ASSERT_TRUE(saveSurfaceFile(surfaceList, path.c_str()));
    EXPECT_EQ(read(path), "B-Spline Surface\n\n0\n\n");
}

TEST_F(SurfaceFile, WriterBytesForOneSurface) {
    const std::string text = "B-Spline Surface\n1\n2 2\n0 0 0\n1.004 -0.25 2.5\n-3 1 0.126\n1 1 100\n";
    ASSERT_TRUE(loadSurfaceFile(surfaceList, write("a.txt", text).c_str()));
    const std::string path = (dir / "out.txt").string();
    ASSERT_TRUE(saveSurfaceFile(surfaceList, path.c_str()));
    EXPECT_EQ(read(path),
              "B-Spline Surface\n\n1\n\n2 2\n\n"
              "0.00 0.00 0.00\n1.00 -0.25 2.50\n\n"
              "-3.00 1.00 0.13\n1.00 1.00 100.00\n\n");
}

TEST_F(SurfaceFile, WriterFailsOnlyWhenTheFileCannotBeCreated) {
    EXPECT_FALSE(saveSurfaceFile(surfaceList, (dir / "no-such-folder" / "out.txt").string().c_str()));
}

TEST_F(SurfaceFile, SaveThenLoadKeepsTwoDecimals) {
    std::string text = "B-Spline Surface\n2\n5 4\n";
    for (int i = 0; i < 20; ++i) {
        char line[96];
        std::snprintf(line, sizeof line, "%.6f %.6f %.6f\n", i * 1.2345678 - 7.0, std::sin(i * 0.7) * 3.0,
                      std::cos(i * 1.3) * 11.0);
        text += line;
    }
    text += "2 2\n0 0 0\n1 0 0\n0 1 0\n1 1 0.333\n";
    ASSERT_TRUE(loadSurfaceFile(surfaceList, write("a.txt", text).c_str()));
    const int count = 24;
    Point4 original[count];
    for (int i = 0; i < 20; ++i) original[i] = surfaceList.surfaces[0].points[i];
    for (int i = 0; i < 4; ++i) original[20 + i] = surfaceList.surfaces[1].points[i];

    const std::string path = (dir / "saved.txt").string();
    ASSERT_TRUE(saveSurfaceFile(surfaceList, path.c_str()));
    ASSERT_TRUE(loadSurfaceFile(surfaceList, path.c_str()));
    ASSERT_EQ(surfaceList.count, 2);
    ASSERT_EQ(surfaceList.surfaces[0].width, 5);
    ASSERT_EQ(surfaceList.surfaces[0].height, 4);
    ASSERT_EQ(surfaceList.surfaces[1].width, 2);
    for (int i = 0; i < count; ++i) {
        const Point4& p = i < 20 ? surfaceList.surfaces[0].points[i] : surfaceList.surfaces[1].points[i - 20];
        EXPECT_NEAR(p.x, original[i].x, 0.0051f) << i;
        EXPECT_NEAR(p.y, original[i].y, 0.0051f) << i;
        EXPECT_NEAR(p.z, original[i].z, 0.0051f) << i;
        EXPECT_EQ(p.w, 1.0f);
    }
}

TEST_F(SurfaceFile, PatchCountsForBothTypes) {
    struct Case { int width, height, bsplineColumns, bsplineRows, bezierColumns, bezierRows; };
    const Case cases[] = {{4, 4, 1, 1, 1, 1}, {7, 7, 4, 4, 2, 2}, {7, 4, 4, 1, 2, 1},
                          {8, 4, 5, 1, 2, 1}, {3, 9, 0, 6, 0, 2}, {2, 2, 0, 0, 0, 0}};
    for (const Case& c : cases) {
        Surface s{c.width, c.height, nullptr, nullptr, nullptr};
        EXPECT_EQ(patchColumns(s, SURFACE_BSPLINE), c.bsplineColumns) << c.width;
        EXPECT_EQ(patchRows(s, SURFACE_BSPLINE), c.bsplineRows) << c.height;
        EXPECT_EQ(patchColumns(s, SURFACE_BEZIER), c.bezierColumns) << c.width;
        EXPECT_EQ(patchRows(s, SURFACE_BEZIER), c.bezierRows) << c.height;
    }
}

TEST_F(SurfaceFile, EveryPatchHasAnEmptySlot) {
    ASSERT_TRUE(loadSurfaceFile(surfaceList, write("a.txt", meshText(8, 5)).c_str()));
    const Surface& s = surfaceList.surfaces[0];
    ASSERT_NE(s.patchSlots, nullptr);
    for (int i = 0; i < 5 * 2; ++i) EXPECT_EQ(s.patchSlots[i], 0);
    EXPECT_EQ(s.normals[39].w, 0.0f);
}

TEST_F(SurfaceFile, SidesBelowTwoAreRefused) {
    const char* files[] = {"B-Spline Surface\n1\n1 4\n0 0 0\n0 1 0\n0 2 0\n0 3 0\n",
                           "B-Spline Surface\n1\n4 1\n0 0 0\n1 0 0\n2 0 0\n3 0 0\n",
                           "B-Spline Surface\n1\n0 0\n"};
    for (const char* text : files) {
        loadPrevious();
        EXPECT_FALSE(loadSurfaceFile(surfaceList, write("a.txt", text).c_str())) << text;
        EXPECT_EQ(surfaceList.count, 2) << "the list is kept";
    }
}

TEST_F(SurfaceFile, SidesOfTwoOrThreeLoadWithoutPatches) {
    ASSERT_TRUE(loadSurfaceFile(surfaceList, write("a.txt", meshText(3, 2)).c_str()));
    const Surface& s = surfaceList.surfaces[0];
    EXPECT_EQ(s.width, 3);
    EXPECT_EQ(s.height, 2);
    EXPECT_EQ(s.patchSlots, nullptr);
    EXPECT_EQ(patchColumns(s, SURFACE_BSPLINE), 0);
    EXPECT_EQ(patchRows(s, SURFACE_BEZIER), 0);
    for (int i = 0; i < 6; ++i) EXPECT_TRUE(std::isfinite(s.normals[i].z)) << i;

    ASSERT_TRUE(loadSurfaceFile(surfaceList, write("b.txt", meshText(9, 3)).c_str()));
    EXPECT_EQ(surfaceList.surfaces[0].patchSlots, nullptr);
}

// A file that ends without a line end inside its last number may have been cut there: it
// loads, and the reason holds a warning naming the line. A file ending with a line end, or
// with blanks after its last number, loads without one.
TEST_F(SurfaceFile, LastNumberWithoutALineEndLoadsWithAWarning) {
    const std::string whole = meshText(4, 4);
    const std::string cut = whole.substr(0, whole.find_last_not_of('\n'));   // "... 0.2"
    char reason[SURFACE_REASON_MAX] = "stale";
    const std::string path = write("cut.txt", cut);
    ASSERT_TRUE(loadSurfaceFile(surfaceList, path.c_str(), reason, sizeof reason));
    EXPECT_EQ(surfaceList.count, 1);
    EXPECT_EQ(std::string(reason), path + " line 25: the file ends inside a number without a "
                                          "line end; it may be cut short");
    for (const std::string& text : {whole, whole.substr(0, whole.size() - 1),
                                    whole.substr(0, whole.find_last_not_of('\n') + 1) + "  "}) {
        std::snprintf(reason, sizeof reason, "stale");
        ASSERT_TRUE(loadSurfaceFile(surfaceList, write("whole.txt", text).c_str(), reason,
                                    sizeof reason));
        EXPECT_EQ(std::string(reason), "") << text;
    }
}

// Some editors begin UTF-8 text with a byte-order mark; the header after it is found.
TEST_F(SurfaceFile, ByteOrderMarkBeforeTheHeaderIsSkipped) {
    char reason[SURFACE_REASON_MAX] = "";
    std::string marked = "\xEF\xBB\xBF";
    marked += meshText(4, 5);
    ASSERT_TRUE(loadSurfaceFile(surfaceList, write("bom.txt", marked).c_str(), reason,
                                sizeof reason)) << reason;
    EXPECT_EQ(surfaceList.surfaces[0].height, 5);
    // Only the mark is skipped: a stray byte before the header is still refused.
    EXPECT_FALSE(loadSurfaceFile(surfaceList, write("bad.txt", marked.substr(1)).c_str()));
}

// A folder where the file should be is named as a folder, not as an empty file.
TEST_F(SurfaceFile, AFolderIsRefusedAsAFolder) {
    loadPrevious();
    std::filesystem::create_directory(dir / "folder.txt");
    const std::string path = (dir / "folder.txt").string();
    char reason[SURFACE_REASON_MAX] = "";
    EXPECT_FALSE(loadSurfaceFile(surfaceList, path.c_str(), reason, sizeof reason));
    EXPECT_EQ(std::string(reason), path + ": it is a folder, not a file");
    EXPECT_EQ(surfaceList.count, 2);
}

TEST_F(SurfaceFile, NegativeHugeAndOverflowingSizesAreRefused) {
    // None of these may allocate: a product that wraps in 32 bits, sides beyond the 32-bit
    // range, and counts or meshes beyond the reader's limits.
    const char* files[] = {
        "B-Spline Surface\n-1\n",
        "B-Spline Surface\n2000000\n4 4\n",
        "B-Spline Surface\n99999999999999999999999\n",
        "B-Spline Surface\n1\n-4 4\n",
        "B-Spline Surface\n1\n4 -4\n",
        "B-Spline Surface\n1\n-65536 -65536\n",
        "B-Spline Surface\n1\n65536 65536\n",
        "B-Spline Surface\n1\n4294967300 4\n",
        "B-Spline Surface\n1\n100000 100000\n",
        "B-Spline Surface\n1\n16777217 2\n",
    };
    for (const char* text : files) {
        loadPrevious();
        EXPECT_FALSE(loadSurfaceFile(surfaceList, write("a.txt", text).c_str())) << text;
        EXPECT_EQ(surfaceList.count, 2) << text;
    }
}

TEST_F(SurfaceFile, PointsThatAreNotFiniteOrTooLargeAreRefused) {
    const char* files[] = {"B-Spline Surface\n1\n2 2\n0 0 0\n1 0 0\n0 1 nan\n1 1 0\n",
                           "B-Spline Surface\n1\n2 2\n0 0 0\n1 0 0\n0 1 0\n1 1e50 0\n",
                           "B-Spline Surface\n1\n2 2\n0 0 0\n1 0 0\n0 1 0\n1 1 -1e20\n",
                           "B-Spline Surface\n1\n2 2\n0 0 0\n1 0 0\n0 1 0\n1000001 1 0\n"};
    for (const char* text : files) {
        loadPrevious();
        EXPECT_FALSE(loadSurfaceFile(surfaceList, write("a.txt", text).c_str())) << text;
        EXPECT_EQ(surfaceList.count, 2);
    }
    // The limit itself loads.
    EXPECT_TRUE(loadSurfaceFile(surfaceList, 
        write("b.txt", "B-Spline Surface\n1\n2 2\n0 0 0\n1e6 0 0\n0 -1e6 0\n1 1 1e6\n").c_str()));
    EXPECT_EQ(surfaceList.count, 1);
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(_WIN32)
// Caps the address space a little above what the process uses now, loads the file and exits
// with 7 when the load failed cleanly (false, the list loaded before kept, the reason given)
// instead of throwing or crashing.
[[noreturn]] void loadUnderMemoryCap(const std::string& path) {
    long pages = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld", &pages) != 1) pages = 0;
        std::fclose(statm);
    }
    rlimit cap;
    cap.rlim_cur = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (64u << 20);
    cap.rlim_max = cap.rlim_cur;
    setrlimit(RLIMIT_AS, &cap);
    char reason[SURFACE_REASON_MAX] = "";
    const bool loaded = loadSurfaceFile(surfaceList, path.c_str(), reason, sizeof reason);
    const bool said = std::string(reason) == path + ": no memory for surface 1 "
                                                     "(3000 x 3000 points)";
    std::exit(!loaded && surfaceList.count == 2 && said ? 7 : 1);
}

// A 3000 x 3000 mesh's points and normals (288 MB) do not fit under the cap: the reader must
// free what it built, keep what was loaded before and report the failure before it reads a
// point.
TEST_F(SurfaceFile, NoMemoryKeepsTheList) {
    const std::string path = write("big.txt", "B-Spline Surface\n1\n3000 3000\n0 0 0\n");
    loadPrevious();
    EXPECT_EXIT(loadUnderMemoryCap(path), ::testing::ExitedWithCode(7), "");
}
#endif

}  // namespace

// Line numbers count physical lines, also when one is read in pieces; a loaded file leaves no
// reason behind; a reason that does not fit is cut and ended, never written past its buffer.
TEST_F(SurfaceFile, RefusalsCountLinesAndFitTheirBuffer) {
    const std::string longLine = std::string(600, ' ') + "\n";   // read in three pieces
    char reason[SURFACE_REASON_MAX] = "stale";
    std::string path = write("a.txt", "B-Spline Surface\n" + longLine + "-2\n");
    EXPECT_FALSE(loadSurfaceFile(surfaceList, path.c_str(), reason, sizeof reason));
    EXPECT_EQ(std::string(reason), path + " line 3: -2 surfaces, outside 0 to 1048576");
    path = write("b.txt", "B-Spline Surface\n2\n2 2\n0 0 0\n1 0 0\n0 1 0\n1 1 0\n2 2\n"
                          "0 0 0\n# note\n1 nan 0\n");
    EXPECT_FALSE(loadSurfaceFile(surfaceList, path.c_str(), reason, sizeof reason));
    EXPECT_EQ(std::string(reason), path + " line 11: coordinate nan beyond the limit of 1000000");
    ASSERT_TRUE(loadSurfaceFile(surfaceList, write("c.txt", meshText(4, 4)).c_str(), reason,
                                sizeof reason));
    EXPECT_STREQ(reason, "");
    char small[12];
    path = write("d.txt", "nothing");
    EXPECT_FALSE(loadSurfaceFile(surfaceList, path.c_str(), small, sizeof small));
    EXPECT_EQ(std::string(small), path.substr(0, sizeof small - 1));
}
