// The surface list and its text file: loadSurfaceFile replaces the whole list from a file,
// saveSurfaceFile writes it back, releaseSurfaces frees it; patch counts per surface type.
// Owns every surface array (points, normals, patch records); the render pass only fills the
// per-frame fields of the patch records. Prints nothing: callers decide what to say.
#include "surface/surface.h"

#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/win32.h"

SurfaceList surfaceList;
Point4* pickedControlPoint;

// fgets reads at most LINE_BUFFER_SIZE - 1 characters: a longer line arrives in pieces, and
// each piece is judged on its own like a separate line.
static constexpr int LINE_BUFFER_SIZE = 256;
static const char SURFACE_HEADER[] = "B-Spline Surface";
static constexpr std::size_t SURFACE_HEADER_LENGTH = 16;
static_assert(sizeof(SURFACE_HEADER) - 1 == SURFACE_HEADER_LENGTH);

// Frees one surface's arrays and clears its pointers.
static void releaseSurface(Surface& surface) {
    delete[] surface.points;
    delete[] surface.normals;
    delete[] surface.patches;
    surface.points = nullptr;
    surface.normals = nullptr;
    surface.patches = nullptr;
    surface.width = 0;
    surface.height = 0;
}

void releaseSurfaces() {
    pickedControlPoint = nullptr;
    if (surfaceList.surfaces) {
        for (std::int32_t i = 0; i < surfaceList.count; ++i) releaseSurface(surfaceList.surfaces[i]);
        delete[] surfaceList.surfaces;
    }
    surfaceList.surfaces = nullptr;
    surfaceList.count = 0;
}

// Scans one or two integers from the start of a line with the "%d" / "%d %d" grammar (white
// space first, optional sign, digits; trailing text ignored). The values are read 64 bits
// wide so that a number outside the 32-bit range is seen as such and refused by the caller
// instead of being silently cut down to some other, harmless-looking value.
static bool scanIntegers(const char* line, int wanted, long long* values) {
    if (wanted == 1) return std::sscanf(line, "%lld", &values[0]) == 1;
    return std::sscanf(line, "%lld %lld", &values[0], &values[1]) == 2;
}

// The file being read, the line the last piece came from (counted for the reasons given to
// the user) and where a refusal's reason goes.
struct SurfaceReader {
    std::FILE* file;
    const char* path;
    int lineNumber;          // 1-based line of the piece in `line`; 0 before the first
    bool pieceEndedLine;     // the previous piece ended its line
    char line[LINE_BUFFER_SIZE];
    char* reason;            // may be null
    std::size_t reasonSize;
};

// Writes the reason for a refusal, "PATH: ..." or "PATH line N: ..." when `atLine`; false,
// for the caller to return.
__attribute__((format(printf, 3, 4)))
static bool refuse(SurfaceReader& r, bool atLine, const char* format, ...) {
    if (r.reason == nullptr || r.reasonSize == 0) return false;
    int used = atLine ? std::snprintf(r.reason, r.reasonSize, "%s line %d: ", r.path, r.lineNumber)
                      : std::snprintf(r.reason, r.reasonSize, "%s: ", r.path);
    if (used < 0 || static_cast<std::size_t>(used) >= r.reasonSize) return false;
    va_list args;
    va_start(args, format);
    std::vsnprintf(r.reason + used, r.reasonSize - static_cast<std::size_t>(used), format, args);
    va_end(args);
    return false;
}

// Reads the next line piece; false at end of file.
static bool readLine(SurfaceReader& r) {
    if (std::fgets(r.line, LINE_BUFFER_SIZE, r.file) == nullptr) return false;
    if (r.pieceEndedLine || r.lineNumber == 0) ++r.lineNumber;
    const std::size_t length = std::strlen(r.line);
    r.pieceEndedLine = length > 0 && r.line[length - 1] == '\n';
    return true;
}

// Skips lines until one yields `wanted` integers; false at end of file.
static bool readIntegerLine(SurfaceReader& r, int wanted, long long* values) {
    while (readLine(r)) {
        if (scanIntegers(r.line, wanted, values)) return true;
    }
    return false;
}

// Reads width x height point lines into surface.points (w = 1). Lines that do not yield
// three numbers are skipped. False at end of file before the last point, or for a point
// that is not finite or beyond SURFACE_MAX_COORDINATE: "nan" and "inf" scan as numbers, but a
// mesh holding them (or coordinates whose products overflow) would feed NaN into every later
// stage (normals, tessellation, lighting, clip codes, integer colours and coordinates).
static bool readPoints(SurfaceReader& r, Surface& surface, int index) {
    const std::int64_t total = static_cast<std::int64_t>(surface.width) * surface.height;
    std::int64_t read = 0;
    while (read < total) {
        if (!readLine(r)) {
            return refuse(r, false, "the file ends after %lld of the %lld points of surface %d",
                          static_cast<long long>(read), static_cast<long long>(total), index);
        }
        float x, y, z;
        if (std::sscanf(r.line, "%f %f %f", &x, &y, &z) != 3) continue;
        // The negated compare refuses NaN as well as anything too large.
        if (!(std::fabs(x) <= SURFACE_MAX_COORDINATE) || !(std::fabs(y) <= SURFACE_MAX_COORDINATE) ||
            !(std::fabs(z) <= SURFACE_MAX_COORDINATE)) {
            return refuse(r, true,
                          "point %lld of surface %d: coordinates must be numbers from -%g to %g",
                          static_cast<long long>(read + 1), index,
                          static_cast<double>(SURFACE_MAX_COORDINATE),
                          static_cast<double>(SURFACE_MAX_COORDINATE));
        }
        surface.points[read] = Point4{x, y, z, 1.0f};
        ++read;
    }
    return true;
}

// Reads surface `index` (1-based: dimensions, points) and builds its normals and patch
// records. False for a truncated surface, dimensions outside 2 .. SURFACE_MAX_POINTS points,
// or no memory; whatever was allocated stays in the surface for the caller to release.
static bool readSurface(SurfaceReader& r, Surface& surface, int index) {
    long long dims[2];
    if (!readIntegerLine(r, 2, dims)) {
        return refuse(r, false, "the file ends before the width and height of surface %d",
                      index);
    }
    const long long width = dims[0];
    const long long height = dims[1];
    // Both factors are at most SURFACE_MAX_POINTS here, so the 64-bit product cannot wrap.
    if (width < SURFACE_MIN_SIDE || height < SURFACE_MIN_SIDE || width > SURFACE_MAX_POINTS ||
        height > SURFACE_MAX_POINTS || width * height > SURFACE_MAX_POINTS) {
        return refuse(r, true,
                      "surface %d is %lld x %lld points; a side takes %d or more, and a "
                      "surface at most %lld points",
                      index, width, height, SURFACE_MIN_SIDE, SURFACE_MAX_POINTS);
    }

    surface.width = static_cast<std::int32_t>(width);
    surface.height = static_cast<std::int32_t>(height);
    const std::size_t count = static_cast<std::size_t>(width * height);
    surface.points = new (std::nothrow) Point4[count];
    surface.normals = new (std::nothrow) Point4[count];
    if (!surface.points || !surface.normals) {
        return refuse(r, false, "not enough memory for surface %d", index);
    }
    if (!readPoints(r, surface, index)) return false;
    computeControlNormals(surface);

    // A mesh of 2 or 3 points along a side keeps its points and normals but has no patch.
    if (width < 4 || height < 4) return true;
    const std::size_t patchCount = static_cast<std::size_t>((width - 3) * (height - 3));
    surface.patches = new (std::nothrow) PatchRecord[patchCount]();
    if (!surface.patches) return refuse(r, false, "not enough memory for surface %d", index);
    for (std::size_t i = 0; i < patchCount; ++i) {
        surface.patches[i].controlPoints = surface.points;
        surface.patches[i].controlNormals = surface.normals;
        surface.patches[i].width = surface.width;
    }
    return true;
}

// The list from the reader's open file; see loadSurfaceFile.
static bool readSurfaceList(SurfaceReader& r) {
    if (!readLine(r) || std::strncmp(r.line, SURFACE_HEADER, SURFACE_HEADER_LENGTH) != 0) {
        return refuse(r, r.lineNumber > 0, "expected the first line to be \"%s\"",
                      SURFACE_HEADER);
    }
    long long announced;
    if (!readIntegerLine(r, 1, &announced)) {
        return refuse(r, false, "no line after the first gives the number of surfaces");
    }

    // From here on the old list is gone whatever happens. A negative or absurd count is
    // refused before anything is allocated, like a list that cannot be allocated.
    releaseSurfaces();
    if (announced < 0 || announced > SURFACE_MAX_COUNT) {
        return refuse(r, true, "%lld surfaces; a file holds 0 to %lld", announced,
                      SURFACE_MAX_COUNT);
    }
    if (announced == 0) return true;
    const std::int32_t count = static_cast<std::int32_t>(announced);
    surfaceList.surfaces = new (std::nothrow) Surface[count]();
    if (!surfaceList.surfaces) return refuse(r, false, "not enough memory for %d surfaces", count);
    surfaceList.count = count;
    for (std::int32_t i = 0; i < count; ++i) {
        if (!readSurface(r, surfaceList.surfaces[i], i + 1)) {
            releaseSurfaces();
            return false;
        }
    }
    return true;
}

bool loadSurfaceFile(const char* path, char* reason, std::size_t reasonSize) {
    SurfaceReader r{};
    r.path = path;
    r.reason = reason;
    r.reasonSize = reasonSize;
    if (reason != nullptr && reasonSize > 0) reason[0] = '\0';
    r.file = std::fopen(path, "r");
    if (!r.file) return refuse(r, false, "%s", std::strerror(errno));
    const bool loaded = readSurfaceList(r);
    std::fclose(r.file);
    return loaded;
}

bool saveSurfaceFile(const char* path, char* reason, std::size_t reasonSize) {
    SaveFile save;
    if (saveFileBegin(save, path)) {
        saveFilePrintf(save, "B-Spline Surface\n\n");
        saveFilePrintf(save, "%d\n\n", static_cast<int>(surfaceList.count));
        for (std::int32_t i = 0; i < surfaceList.count && !save.failed; ++i) {
            const Surface& surface = surfaceList.surfaces[i];
            saveFilePrintf(save, "%d %d\n\n", static_cast<int>(surface.width),
                           static_cast<int>(surface.height));
            for (std::int32_t r = 0; r < surface.height && !save.failed; ++r) {
                for (std::int32_t c = 0; c < surface.width; ++c) {
                    const Point4& p =
                        surface.points[static_cast<std::size_t>(r) * surface.width + c];
                    saveFilePrintf(save, "%.2f %.2f %.2f\n", static_cast<double>(p.x),
                                   static_cast<double>(p.y), static_cast<double>(p.z));
                }
                saveFilePrintf(save, "\n");
            }
        }
        if (saveFileCommit(save)) return true;
    }
    if (reason != nullptr && reasonSize > 0) std::snprintf(reason, reasonSize, "%s", save.reason);
    return false;
}

// Patches along one side of `points` control points: b-spline windows slide by one point,
// bezier patches share one border point; no patch below 4 points.
static int patchesAlong(std::int32_t points, int surfaceType) {
    if (points < 4) return 0;
    return surfaceType == SURFACE_BEZIER ? (points - 1) / 3 : points - 3;
}

int patchColumns(const Surface& surface, int surfaceType) {
    return patchesAlong(surface.width, surfaceType);
}

int patchRows(const Surface& surface, int surfaceType) {
    return patchesAlong(surface.height, surfaceType);
}
