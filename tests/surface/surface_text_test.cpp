// The surface file's number text: the reader gives every coordinate the float the C library's
// sscanf("%f") gives the same line (its quick path included: plain decimals, halfway cases,
// forms only sscanf reads), lines are cut into the same pieces when they cross the reader's
// buffer, and the writer's bytes equal printf's "%.2f" for every float, edge values included.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "surface/surface.h"
#include "tests/surface/surface_folder.h"

namespace {

class SurfaceText : public SurfaceFolderTest {
protected:
    // Writes `body` (point lines and others) as the file `name` of one surface 2 points wide
    // with as many rows as the library reading finds pairs of points in it; returns its path.
    std::string writeMesh(const std::string& name, const std::string& body) {
        const std::string probe = write("probe-" + name, "B-Spline Surface\n1\n2 2\n" + body);
        std::size_t points = 0;
        std::FILE* file = std::fopen(probe.c_str(), "r");
        char line[256];
        float c[3];
        while (std::fgets(line, sizeof line, file) != nullptr) {
            if (std::sscanf(line, "%f %f %f", &c[0], &c[1], &c[2]) == 3) ++points;
        }
        std::fclose(file);
        return write(name, "B-Spline Surface\n1\n2 " + std::to_string(points / 2) + "\n" + body);
    }
};

bool sameBits(float a, float b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// The points a file's point lines give when each line is read as the C library reads it:
// fgets pieces of at most 255 characters, each piece a point when sscanf("%f %f %f") finds
// three numbers in it. The header, count and size lines have fewer numbers.
std::vector<Point4> pointsAsTheLibraryReadsThem(const std::string& path) {
    std::vector<Point4> points;
    std::FILE* file = std::fopen(path.c_str(), "r");
    char line[256];
    while (std::fgets(line, sizeof line, file) != nullptr) {
        float c[3];
        if (std::sscanf(line, "%f %f %f", &c[0], &c[1], &c[2]) == 3) {
            points.push_back(Point4{c[0], c[1], c[2], 1.0f});
        }
    }
    std::fclose(file);
    return points;
}

// Loads the file and expects its first surface to hold the first points the library reading
// gives, bit for bit.
void expectLibraryValues(const std::string& path, const std::string& what) {
    const std::vector<Point4> expected = pointsAsTheLibraryReadsThem(path);
    char reason[SURFACE_REASON_MAX] = "";
    ASSERT_TRUE(loadSurfaceFile(surfaceList, path.c_str(), reason, sizeof reason)) << reason;
    const Surface& s = surfaceList.surfaces[0];
    const std::size_t count = static_cast<std::size_t>(s.width) * s.height;
    ASSERT_GE(count, 4u) << what;
    ASSERT_GE(expected.size(), count) << what;
    for (std::size_t i = 0; i < count; ++i) {
        const Point4& p = s.points[i];
        ASSERT_TRUE(sameBits(p.x, expected[i].x) && sameBits(p.y, expected[i].y) &&
                    sameBits(p.z, expected[i].z))
            << what << ": point " << i << " is (" << p.x << " " << p.y << " " << p.z
            << "), the library reads (" << expected[i].x << " " << expected[i].y << " "
            << expected[i].z << ")";
    }
}


// Number texts of every shape the quick path takes or must hand on, all within the
// coordinate limit.
std::vector<std::string> trickyNumbers() {
    std::vector<std::string> numbers = {
        "0", "-0", "+0", "-0.00", "0.000", ".5", "-.5", "5.", "-5.", "+1.5",
        "00000000000000000001.5",
        "1e3", "1E3", "1e+3", "1e-3", "-1.5e-22", "1e-23", "1e-45", "1e-46", "7e-39", "1.4e-45",
        "123456789012345678", "1234567890123456789", "12345678901234567890", "0.1", "0.2", "0.3",
        "16777216", "16777217", "16777218", "16777219", "33554435", "8388608.5", "8388609.5",
        "0.000000000000000000000000000001", "1000000", "-1000000", "999999.99", "0.995", "2.675",
        // Halfway between two floats exactly, written in full: the quick path must hand these on.
        "1.00000005960464477539062500", "1.000000059604644775390625", "1.000000059604644775390626",
        "1.000000059604644775390624", "0.500000029802322387695312500001",
        "9007199254740993", "9007199254740992", "9007199254740991e-10",
    };
    std::mt19937_64 random(12345);
    char text[96];
    // Random plain decimals: digit runs of every length, the point anywhere, exponents around
    // the quick path's range.
    for (int i = 0; i < 4000; ++i) {
        std::string digits;
        const int count = 1 + static_cast<int>(random() % 22);
        for (int d = 0; d < count; ++d) digits += static_cast<char>('0' + random() % 10);
        const int point = static_cast<int>(random() % (count + 1));
        std::string number = random() % 2 ? "-" : "";
        number += digits.substr(0, point);
        number += '.';
        number += digits.substr(point);
        if (random() % 3 == 0) {
            std::snprintf(text, sizeof text, "e%d", static_cast<int>(random() % 60) - 40);
            number += text;
        }
        numbers.push_back(number);
    }
    // Floats and the points halfway between neighbours, written with few and many digits, so
    // that a double rounding that lands on a halfway point would show.
    for (int i = 0; i < 4000; ++i) {
        const float f = std::ldexp(static_cast<float>(random() % (1u << 24)),
                                   static_cast<int>(random() % 44) - 44);
        const double halfway = (static_cast<double>(f) +
                                static_cast<double>(std::nextafter(f, 2.0f * f + 1.0f))) / 2.0;
        for (const char* format : {"%.9g", "%.17g", "%.25g", "%.2f", "%.7f", "%.12e"}) {
            std::snprintf(text, sizeof text, format, halfway);
            numbers.push_back(text);
            std::snprintf(text, sizeof text, format, static_cast<double>(f));
            numbers.push_back(text);
        }
    }
    // What the writer writes: two decimals of values across the coordinate range.
    for (int i = 0; i < 4000; ++i) {
        std::snprintf(text, sizeof text, "%.2f",
                      std::ldexp(static_cast<double>(random() % (1u << 30)), -10) *
                          (random() % 2 ? 1 : -1));
        numbers.push_back(text);
    }
    std::vector<std::string> kept;
    for (const std::string& number : numbers) {
        if (std::fabs(std::strtod(number.c_str(), nullptr)) <= SURFACE_MAX_COORDINATE) {
            kept.push_back(number);
        }
    }
    return kept;
}

TEST_F(SurfaceText, PlainNumbersReadAsTheLibraryReadsThem) {
    const std::vector<std::string> numbers = trickyNumbers();
    std::string body;
    std::mt19937 random(7);
    const char* gaps[] = {" ", "  ", "\t", " \t ", "\v", "\f"};
    for (std::size_t i = 0; i + 2 < numbers.size(); i += 3) {
        std::string line = i % 5 == 0 ? "  " : "";
        line += numbers[i] + gaps[random() % 6] + numbers[i + 1] + gaps[random() % 6] +
                numbers[i + 2];
        if (i % 7 == 0) line += "\r";
        if (i % 11 == 0) line += " trailing words";
        body += line + "\n";
    }
    expectLibraryValues(writeMesh("a.txt", body), "tricky numbers");
    // Each number must also be the float strtof gives it (the nearest, ties to even): the
    // library's sscanf reads numbers that way, so this checks the oracle as well.
    const Surface& s = surfaceList.surfaces[0];
    ASSERT_EQ(static_cast<std::size_t>(s.height), numbers.size() / 3 / 2);
    const std::size_t points = 2 * static_cast<std::size_t>(s.height);
    for (std::size_t i = 0; i + 2 < numbers.size() && i / 3 < points; i += 3) {
        EXPECT_TRUE(sameBits(s.points[i / 3].x, std::strtof(numbers[i].c_str(), nullptr)))
            << numbers[i];
    }
}

// Forms the quick path does not take: sscanf's own reading decides, as before (numbers that
// run together, hexadecimal, a dangling exponent, a second point, a sign alone).
TEST_F(SurfaceText, OtherFormsReadAsTheLibraryReadsThem) {
    const std::vector<std::string> lines = {
        "1.5-2.5 3",      "1 2 3x",       "1 2 3e",      "1 2 3e+",      "0x1p3 0X10 -0x.8p1",
        "1.2.3 4",        "1 2 3.5.5",    "+ 1 2 3",     "1e5e5 2 3",    "1,5 2 3",
        "- 1 2",          "1 2 3",        "1 2",         "1",            "   ",
        "1 2 3 4 5 6",    "1e 2 3",       "1.e2 .e2 3",  "1 2 3\x01",     "4 5 6",
        "1.5 2.5 3.5f",   "9 8 7#c",      "3 -.e1 4",    "1 2 ++3",      "7 7 7",
        "1 2 0x10",       "4 0x1p-2 6",   "0X8 1 2",     "1 2 0e",       "5 5 5",
        "1e0000000000000000000000000000000000000000000002 3 4",
        "0.000000000000000000000000000000000000000000000000000000000000000000001 0 0",
    };
    std::string body;
    for (const std::string& line : lines) body += line + "\n";
    expectLibraryValues(writeMesh("a.txt", body), "other forms");
}

// Lines of every length around the 255-character piece, over long lines and NULs, cross the
// reader's buffer at every offset: the pieces, and so the points, are those fgets gives.
TEST_F(SurfaceText, PiecesAcrossTheReadBufferAreThoseOfFgets) {
    std::mt19937 random(99);
    std::string body;
    std::size_t lines = 0;
    while (body.size() < (std::size_t{3} << 20)) {
        char point[64];
        std::snprintf(point, sizeof point, "%u.%02u %d -%u.5",
                      static_cast<unsigned>(random() % 1000), static_cast<unsigned>(random() % 100),
                      static_cast<int>(lines % 100000), static_cast<unsigned>(random() % 10));
        const int shape = static_cast<int>(random() % 16);
        std::string line = point;
        if (shape == 0) line = std::string(250 + random() % 10, ' ') + point;   // cut in two
        if (shape == 1) line = std::string(255, 'x') + point;                   // second piece
        if (shape == 2) line = std::string(253 - line.size(), ' ') + line;      // 254 and "\n"
        if (shape == 3) line = std::string(254 - line.size(), ' ') + line;      // 255 and "\n"
        if (shape == 4) line += std::string("\0 9 9 9", 7);                     // hidden by a NUL
        if (shape == 5) line = "";
        if (shape == 6) line += "\r";
        body += line + "\n";
        ++lines;
    }
    const std::string path = writeMesh("a.txt", body);
    expectLibraryValues(path, "pieces");
    EXPECT_EQ(surfaceList.surfaces[0].height,
              static_cast<std::int32_t>(pointsAsTheLibraryReadsThem(path).size() / 2));
}

// A refusal deep in a large file names its physical line, counted across the read buffer.
TEST_F(SurfaceText, RefusalDeepInALargeFileNamesItsLine) {
    std::string text = "B-Spline Surface\n1\n400 400\n";
    for (int i = 0; i < 100000; ++i) text += "12.25 -3.50 0.75\n";
    text += "1 2 3e7\n";   // line 100004
    for (int i = 0; i < 100000; ++i) text += "1 2 3\n";
    char reason[SURFACE_REASON_MAX] = "";
    const std::string path = write("a.txt", text);
    EXPECT_FALSE(loadSurfaceFile(surfaceList, path.c_str(), reason, sizeof reason));
    EXPECT_EQ(std::string(reason),
              path + " line 100004: coordinate 3e+07 beyond the limit of 1000000");
}

// The text printf's "%.2f" gives a point line, as the writer always wrote it.
std::string printfLine(const Point4& p) {
    char line[200];
    std::snprintf(line, sizeof line, "%.2f %.2f %.2f\n", static_cast<double>(p.x),
                  static_cast<double>(p.y), static_cast<double>(p.z));
    return line;
}

TEST_F(SurfaceText, WriterBytesAreThoseOfPrintf) {
    std::vector<float> values = {
        0.0f, -0.0f, 0.001f, -0.001f, 0.004999f, -0.005f, 0.005f, 0.015f, 0.025f, 0.125f,
        -0.125f, 0.375f, 0.625f, 0.875f, 1.125f, 2.675f, 1.005f, 0.995f, 99.995f, 1e-40f,
        -1e-40f, FLT_MIN, FLT_TRUE_MIN, 1e6f, -1e6f, std::nextafter(1e6f, 0.0f), 999999.94f,
        16777216.0f, 16777218.0f, 1e14f, 9.99999e14f, 1e15f, -1e15f, 3e20f, FLT_MAX, -FLT_MAX,
        HUGE_VALF, -HUGE_VALF, std::nanf(""), -std::nanf(""),
    };
    std::mt19937 random(31);
    for (int i = 0; i < 30000; ++i) {
        std::uint32_t bits = random();
        float f;
        std::memcpy(&f, &bits, sizeof f);
        values.push_back(f);                                                     // any float
        values.push_back(std::ldexp(static_cast<float>(random() % 4096), -3) - 256.0f);  // ties
        values.push_back((static_cast<float>(random() % 200000001) - 1e8f) / 100.0f);
        values.push_back(
            static_cast<float>(static_cast<double>(random()) / 4294967296.0 * 2e6 - 1e6));
    }
    if (values.size() % 3 != 0) values.resize(values.size() / 3 * 3);
    const std::size_t points = values.size() / 3;

    Surface surface = {};
    surface.width = 3;
    surface.height = static_cast<std::int32_t>(points / 3);
    surface.points = new Point4[points];
    for (std::size_t i = 0; i < points; ++i) {
        surface.points[i] = Point4{values[3 * i], values[3 * i + 1], values[3 * i + 2], 1.0f};
    }
    surfaceList.count = 1;
    surfaceList.surfaces = new Surface[1]{surface};

    std::string expected = "B-Spline Surface\n\n1\n\n3 " + std::to_string(surface.height) + "\n\n";
    for (std::int32_t r = 0; r < surface.height; ++r) {
        for (int c = 0; c < 3; ++c) expected += printfLine(surface.points[r * 3 + c]);
        expected += "\n";
    }
    const std::string path = (dir / "out.txt").string();
    ASSERT_TRUE(saveSurfaceFile(surfaceList, path.c_str()));
    const std::string written = read(path);
    ASSERT_EQ(written.size(), expected.size());
    // Name the first line that differs rather than print megabytes.
    std::size_t at = 0;
    while (at < written.size() && written[at] == expected[at]) ++at;
    if (at < written.size()) {
        const std::size_t from = expected.rfind('\n', at) + 1;
        FAIL() << "written \"" << written.substr(from, expected.find('\n', at) - from)
               << "\", printf gives \"" << expected.substr(from, expected.find('\n', at) - from)
               << "\"";
    }
}

// Load, save, load and save: the two loads hold the same floats and the two saves the same
// bytes, for a mesh larger than the writer's buffer.
TEST_F(SurfaceText, RoundTripIsStable) {
    std::mt19937 random(5);
    std::string text = "B-Spline Surface\n2\n300 40\n";
    char line[96];
    for (int i = 0; i < 300 * 40; ++i) {
        std::snprintf(line, sizeof line, "%.6f %.3f %.9g\n",
                      (static_cast<double>(random()) / 4294967296.0 - 0.5) * 2e6,
                      i * 0.125 - 700.0, std::sin(i * 0.37) * 1e-3);
        text += line;
    }
    text += "2 2\n-0 0 0\n1 0.005 0\n0 1 -0.004\n1 1 999999.995\n";
    ASSERT_TRUE(loadSurfaceFile(surfaceList, write("a.txt", text).c_str()));
    const std::string first = (dir / "first.txt").string();
    const std::string second = (dir / "second.txt").string();
    ASSERT_TRUE(saveSurfaceFile(surfaceList, first.c_str()));
    ASSERT_TRUE(loadSurfaceFile(surfaceList, first.c_str()));
    std::vector<Point4> loaded(surfaceList.surfaces[0].points,
                               surfaceList.surfaces[0].points + 300 * 40);
    ASSERT_TRUE(saveSurfaceFile(surfaceList, second.c_str()));
    EXPECT_EQ(read(first), read(second));
    ASSERT_TRUE(loadSurfaceFile(surfaceList, second.c_str()));
    for (std::size_t i = 0; i < loaded.size(); ++i) {
        const Point4& p = surfaceList.surfaces[0].points[i];
        ASSERT_TRUE(sameBits(p.x, loaded[i].x) && sameBits(p.y, loaded[i].y) &&
                    sameBits(p.z, loaded[i].z)) << i;
    }
    // The saved text reads back as the library reads it, and "-0.00" keeps its sign.
    expectLibraryValues(second, "saved text");
    EXPECT_TRUE(std::signbit(surfaceList.surfaces[1].points[0].x));
    EXPECT_TRUE(std::signbit(surfaceList.surfaces[1].points[2].z));
}

}  // namespace
