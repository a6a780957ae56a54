// Surface file speed: builds a terrain of gentle hills (one B-spline surface, one unit between
// control points) for each side given (default 128 512 1024), saves it into a temporary folder
// with saveSurfaceFile and loads it back with loadSurfaceFile, best of a few runs, and prints
// MB/s of file text for both. A second line times the same points as a strip 3 points wide,
// which has no patch records: the reader's and writer's own speed, without the cost of
// allocating and clearing the records of a large mesh. --folder DIR keeps the files there
// instead (for a 4096 side the file is about 400 MB: give a folder with room, outside the
// repository).
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "bench/scale_run.h"
#include "surface/surface.h"

namespace {

// The scale benchmark's hills (bench/scale_run.h) over a side x side mesh in the x-y plane,
// one unit between control points, centred on the origin.
bool buildTerrain(SurfaceList& list, int side) {
    list.surfaces = new Surface[1]();
    list.count = 1;
    Surface& s = list.surfaces[0];
    s.width = side;
    s.height = side;
    const std::size_t points = static_cast<std::size_t>(side) * side;
    s.points = new Point4[points];
    s.normals = new Point4[points];
    for (int r = 0; r < side; ++r) {
        for (int c = 0; c < side; ++c) {
            const int x = scale::meshCoordinate(c, side), y = scale::meshCoordinate(r, side);
            const float z = static_cast<float>(scale::hillHeight(x, y));
            s.points[static_cast<std::size_t>(r) * side + c] =
                Point4{static_cast<float>(x), static_cast<float>(y), z, 1.0f};
        }
    }
    return true;
}

double seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Saves and loads the terrain `runs` times; prints the best MB/s of each. As a strip, the
// points are rows of 3 (the last few dropped).
bool measure(int side, bool strip, const std::filesystem::path& folder, int runs) {
    SurfaceList terrain = {};
    buildTerrain(terrain, side);
    if (strip) {
        terrain.surfaces[0].width = 3;
        terrain.surfaces[0].height = side * side / 3;
    }
    const std::string path = (folder / ("terrain-" + std::to_string(side) +
                                        (strip ? "-strip.txt" : ".txt"))).string();
    double bestSave = 1e30, bestLoad = 1e30;
    char reason[SURFACE_REASON_MAX];
    for (int run = 0; run < runs; ++run) {
        auto start = std::chrono::steady_clock::now();
        if (!saveSurfaceFile(terrain, path.c_str(), reason, sizeof reason)) {
            std::fprintf(stderr, "save failed: %s\n", reason);
            return false;
        }
        bestSave = std::fmin(bestSave, seconds(start));
        SurfaceList loaded = {};
        start = std::chrono::steady_clock::now();
        if (!loadSurfaceFile(loaded, path.c_str(), reason, sizeof reason)) {
            std::printf("%5d x %-5d %-6s save %7.3f s %7.1f MB/s   load failed: %s\n", side, side,
                        strip ? "strip" : "", bestSave,
                        static_cast<double>(std::filesystem::file_size(path)) / 1e6 / bestSave,
                        reason);
            releaseSurfaces(terrain);
            return false;
        }
        bestLoad = std::fmin(bestLoad, seconds(start));
        releaseSurfaces(loaded);
    }
    const double megabytes = static_cast<double>(std::filesystem::file_size(path)) / 1e6;
    std::printf("%5d x %-5d %-6s %8.1f MB   save %7.3f s %7.1f MB/s   load %7.3f s %7.1f MB/s\n",
                side, side, strip ? "strip" : "", megabytes, bestSave, megabytes / bestSave,
                bestLoad, megabytes / bestLoad);
    releaseSurfaces(terrain);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<int> sides;
    std::filesystem::path folder;
    bool keep = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--folder") == 0 && i + 1 < argc) {
            folder = argv[++i];
            keep = true;
        } else {
            const int side = std::atoi(argv[i]);
            if (side < 2 || static_cast<long long>(side) * side > SURFACE_MAX_POINTS) {
                std::fprintf(stderr, "usage: %s [--folder DIR] [side ...] (2 .. 4096)\n", argv[0]);
                return 2;
            }
            sides.push_back(side);
        }
    }
    if (sides.empty()) sides = {128, 512, 1024};
    if (!keep) {
        std::random_device random;
        folder = std::filesystem::temp_directory_path() /
                 ("vorl-surface-bench-" + std::to_string(random()));
    }
    std::filesystem::create_directories(folder);
    bool ok = true;
    for (const int side : sides) {
        // Small files are timed over more runs, so that each figure covers enough work.
        const int runs = side <= 128 ? 20 : side <= 1024 ? 3 : 1;
        ok = measure(side, false, folder, runs) && ok;
        ok = measure(side, true, folder, runs) && ok;
    }
    if (!keep) std::filesystem::remove_all(folder);
    return ok ? 0 : 1;
}
