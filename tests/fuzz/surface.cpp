// Fuzz target of the surface file reader and writer (surface/surface.h); the input is a file.
// What loads is inside the reader's limits with unit normals; it saves, the save loads back
// within the two-decimal rounding of each point, and saving that again gives the same bytes
// (the first save may differ from the input; the second and third may not differ).
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "surface/surface.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// The list the tests load into and save from.
SurfaceList surfaceList;

std::string inputPath, firstPath, secondPath, thirdPath;

struct Shape {
    std::int32_t width, height;
};

// A loaded list as the reader promises it: sides and counts inside the limits, points finite
// and within SURFACE_MAX_COORDINATE with w = 1, unit normals, patch records exactly for
// meshes of four or more points a side, all pointing at their own surface.
void checkList(const char* which) {
    FUZZ_CHECK(surfaceList.count >= 0 && surfaceList.count <= SURFACE_MAX_COUNT,
               "%s: %d surfaces", which, int(surfaceList.count));
    FUZZ_CHECK((surfaceList.count == 0) == (surfaceList.surfaces == nullptr),
               "%s: %d surfaces in a %s array", which, int(surfaceList.count),
               surfaceList.surfaces ? "non-null" : "null");
    for (std::int32_t i = 0; i < surfaceList.count; ++i) {
        const Surface& s = surfaceList.surfaces[i];
        const long long points = static_cast<long long>(s.width) * s.height;
        FUZZ_CHECK(s.width >= SURFACE_MIN_SIDE && s.height >= SURFACE_MIN_SIDE &&
                       points <= SURFACE_MAX_POINTS,
                   "%s: surface %d is %dx%d", which, int(i), int(s.width), int(s.height));
        FUZZ_CHECK(s.points && s.normals, "%s: surface %d has no points or normals", which, int(i));
        for (long long k = 0; k < points; ++k) {
            const Point4& p = s.points[k];
            FUZZ_CHECK(std::fabs(p.x) <= SURFACE_MAX_COORDINATE &&
                           std::fabs(p.y) <= SURFACE_MAX_COORDINATE &&
                           std::fabs(p.z) <= SURFACE_MAX_COORDINATE && p.w == 1.0f,
                       "%s: surface %d point %lld is (%g %g %g %g)", which, int(i), k,
                       double(p.x), double(p.y), double(p.z), double(p.w));
            const Point4& n = s.normals[k];
            const double length = std::sqrt(double(n.x) * n.x + double(n.y) * n.y +
                                             double(n.z) * n.z);
            FUZZ_CHECK(std::fabs(length - 1.0) < 1e-3 && n.w == 0.0f,
                       "%s: surface %d normal %lld is (%g %g %g %g)", which, int(i), k,
                       double(n.x), double(n.y), double(n.z), double(n.w));
        }
        const bool patched = s.width >= 4 && s.height >= 4;
        FUZZ_CHECK(patched == (s.patchSlots != nullptr), "%s: surface %d (%dx%d) %s patches",
                   which, int(i), int(s.width), int(s.height), s.patchSlots ? "has" : "lacks");
        if (!patched) continue;
        const long long patches = static_cast<long long>(s.width - 3) * (s.height - 3);
        for (long long k = 0; k < patches; ++k) {
            FUZZ_CHECK(s.patchSlots[k] == 0, "%s: surface %d patch %lld has a slot", which,
                       int(i), k);
        }
    }
}

std::vector<Shape> shapes() {
    std::vector<Shape> out;
    for (std::int32_t i = 0; i < surfaceList.count; ++i) {
        out.push_back({surfaceList.surfaces[i].width, surfaceList.surfaces[i].height});
    }
    return out;
}

std::vector<Point4> allPoints() {
    std::vector<Point4> out;
    for (std::int32_t i = 0; i < surfaceList.count; ++i) {
        const Surface& s = surfaceList.surfaces[i];
        out.insert(out.end(), s.points, s.points + static_cast<std::size_t>(s.width) * s.height);
    }
    return out;
}

// "%.2f" is within 0.005 of the value, and reading it back as a float adds at most half a
// float step at that size.
bool withinRounding(float saved, float original) {
    const double step = std::fabs(double(original)) * 0x1p-23 + 1e-30;
    return std::fabs(double(saved) - double(original)) <= 0.005 + step;
}

void save(const std::string& path, const char* which) {
    char reason[256] = "";
    FUZZ_CHECK(saveSurfaceFile(surfaceList, path.c_str(), reason, sizeof reason), "%s save failed: %s", which,
               reason);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzKeepLog();
    const std::string folder = fuzzScratchFolder("surface");
    inputPath = folder + "/input.txt";
    firstPath = folder + "/first.txt";
    secondPath = folder + "/second.txt";
    thirdPath = folder + "/third.txt";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    releaseSurfaces(surfaceList);
    if (!fuzzWriteFile(inputPath, data, size)) return 0;
    char reason[SURFACE_REASON_MAX] = "";
    if (!loadSurfaceFile(surfaceList, inputPath.c_str(), reason, sizeof reason)) {
        // Refused: the list stays as it was (empty), and the reason names the file.
        FUZZ_CHECK(surfaceList.count == 0 && surfaceList.surfaces == nullptr,
                   "a refused file left %d surfaces", int(surfaceList.count));
        FUZZ_CHECK(std::strncmp(reason, inputPath.c_str(), inputPath.size()) == 0 &&
                       std::strlen(reason) > inputPath.size() + 2,
                   "a refusal without its reason: \"%s\"", reason);
        return 0;
    }
    checkList("input");
    const std::vector<Shape> inputShapes = shapes();
    const std::vector<Point4> inputPoints = allPoints();

    save(firstPath, "first");
    releaseSurfaces(surfaceList);
    FUZZ_CHECK(loadSurfaceFile(surfaceList, firstPath.c_str()), "the first save does not load");
    checkList("first save");
    const std::vector<Shape> firstShapes = shapes();
    FUZZ_CHECK(firstShapes.size() == inputShapes.size(), "%zu surfaces saved, %zu loaded back",
               inputShapes.size(), firstShapes.size());
    for (std::size_t i = 0; i < inputShapes.size(); ++i) {
        FUZZ_CHECK(firstShapes[i].width == inputShapes[i].width &&
                       firstShapes[i].height == inputShapes[i].height,
                   "surface %zu: %dx%d saved, %dx%d loaded back", i, int(inputShapes[i].width),
                   int(inputShapes[i].height), int(firstShapes[i].width),
                   int(firstShapes[i].height));
    }
    const std::vector<Point4> firstPoints = allPoints();
    for (std::size_t k = 0; k < inputPoints.size(); ++k) {
        const Point4& a = inputPoints[k];
        const Point4& b = firstPoints[k];
        FUZZ_CHECK(withinRounding(b.x, a.x) && withinRounding(b.y, a.y) &&
                       withinRounding(b.z, a.z),
                   "point %zu: (%.9g %.9g %.9g) saved, (%.9g %.9g %.9g) loaded back", k,
                   double(a.x), double(a.y), double(a.z), double(b.x), double(b.y), double(b.z));
    }

    save(secondPath, "second");
    releaseSurfaces(surfaceList);
    FUZZ_CHECK(loadSurfaceFile(surfaceList, secondPath.c_str()), "the second save does not load");
    save(thirdPath, "third");
    releaseSurfaces(surfaceList);

    std::string second, third;
    FUZZ_CHECK(fuzzReadFile(secondPath, &second) && fuzzReadFile(thirdPath, &third),
               "the saves cannot be read");
    FUZZ_CHECK(second == third, "the second save (%zu bytes) and the third (%zu bytes) differ",
               second.size(), third.size());
    return 0;
}
