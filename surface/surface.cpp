// The surface list and its text file: loadSurfaceFile replaces the whole list from a file
// read to its end (or keeps it and says why not),
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

static void releaseList(SurfaceList& list);

void releaseSurfaces(SurfaceList& list) {
    releaseList(list);
}

// Scans one or two integers from the start of a line with the "%d" / "%d %d" grammar (white
// space first, optional sign, digits; trailing text ignored). The values are read 64 bits
// wide so that a number outside the 32-bit range is seen as such and refused by the caller
// instead of being silently cut down to some other, harmless-looking value.
static bool scanIntegers(const char* line, int wanted, long long* values) {
    if (wanted == 1) return std::sscanf(line, "%lld", &values[0]) == 1;
    return std::sscanf(line, "%lld %lld", &values[0], &values[1]) == 2;
}

// The reader's place in the file, and where a refusal's reason goes.
struct SurfaceReader {
    std::FILE* file;
    const char* path;
    char line[LINE_BUFFER_SIZE];
    long long lineNumber;   // of the piece in `line`: 1 for the first line of the file
    bool lineEnded;         // the piece in `line` ended its line
    char* reason;
    std::size_t reasonSize;
};

// Writes "path line N: what" (or "path: what" when `withLine` is false) as the reason; false.
static bool refuse(SurfaceReader& reader, bool withLine, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
static bool refuse(SurfaceReader& reader, bool withLine, const char* format, ...) {
    if (reader.reason == nullptr || reader.reasonSize == 0) return false;
    const int used = withLine ? std::snprintf(reader.reason, reader.reasonSize, "%s line %lld: ",
                                              reader.path, reader.lineNumber)
                              : std::snprintf(reader.reason, reader.reasonSize, "%s: ", reader.path);
    if (used < 0 || static_cast<std::size_t>(used) >= reader.reasonSize) return false;
    va_list args;
    va_start(args, format);
    std::vsnprintf(reader.reason + used, reader.reasonSize - static_cast<std::size_t>(used), format,
                   args);
    va_end(args);
    return false;
}

// Reads the next line piece; false at end of file, where lineNumber is the line after the
// last one.
static bool readLine(SurfaceReader& reader) {
    if (reader.lineEnded) ++reader.lineNumber;
    if (std::fgets(reader.line, LINE_BUFFER_SIZE, reader.file) == nullptr) {
        reader.lineEnded = false;
        return false;
    }
    const std::size_t length = std::strlen(reader.line);
    reader.lineEnded = length > 0 && reader.line[length - 1] == '\n';
    return true;
}

// Skips lines until one yields `wanted` integers; false at end of file.
static bool readIntegerLine(SurfaceReader& reader, int wanted, long long* values) {
    while (readLine(reader)) {
        if (scanIntegers(reader.line, wanted, values)) return true;
    }
    return false;
}

// Reads width x height point lines into surface.points (w = 1). Lines that do not yield
// three numbers are skipped. False at end of file before the last point, or for a point
// that is not finite or beyond SURFACE_MAX_COORDINATE: "nan" and "inf" scan as numbers, but a
// mesh holding them (or coordinates whose products overflow) would feed NaN into every later
// stage (normals, tessellation, lighting, clip codes, integer colours and coordinates).
static bool readPoints(SurfaceReader& reader, Surface& surface, int index, int count) {
    const std::int64_t total = static_cast<std::int64_t>(surface.width) * surface.height;
    std::int64_t read = 0;
    while (read < total) {
        if (!readLine(reader)) {
            return refuse(reader, true,
                          "expected 3 numbers (point %lld of %d x %d in surface %d of %d), "
                          "found the end of the file",
                          static_cast<long long>(read + 1), surface.width, surface.height,
                          index + 1, count);
        }
        float c[3];
        if (std::sscanf(reader.line, "%f %f %f", &c[0], &c[1], &c[2]) != 3) continue;
        for (const float v : c) {
            // The negated compare refuses NaN as well as anything too large.
            if (!(std::fabs(v) <= SURFACE_MAX_COORDINATE)) {
                return refuse(reader, true, "coordinate %g beyond the limit of %.0f",
                              static_cast<double>(v), static_cast<double>(SURFACE_MAX_COORDINATE));
            }
        }
        surface.points[read] = Point4{c[0], c[1], c[2], 1.0f};
        ++read;
    }
    return true;
}

// Reads surface `index` of `count` (dimensions, points) and builds its normals and patch
// records. False with the reason for a truncated surface, dimensions outside 2 ..
// SURFACE_MAX_POINTS points, or no memory; whatever was allocated stays in the surface for
// the caller to release.
static bool readSurface(SurfaceReader& reader, Surface& surface, int index, int count) {
    long long dims[2];
    if (!readIntegerLine(reader, 2, dims)) {
        return refuse(reader, true, "expected the size of surface %d of %d, found the end of the file",
                      index + 1, count);
    }
    const long long width = dims[0];
    const long long height = dims[1];
    // Both factors are at most SURFACE_MAX_POINTS here, so the 64-bit product cannot wrap.
    if (width < SURFACE_MIN_SIDE || height < SURFACE_MIN_SIDE) {
        return refuse(reader, true, "surface %d is %lld x %lld points; a side needs at least %d",
                      index + 1, width, height, SURFACE_MIN_SIDE);
    }
    if (width > SURFACE_MAX_POINTS || height > SURFACE_MAX_POINTS ||
        width * height > SURFACE_MAX_POINTS) {
        return refuse(reader, true, "surface %d is %lld x %lld points, more than the limit of %lld",
                      index + 1, width, height, SURFACE_MAX_POINTS);
    }

    surface.width = static_cast<std::int32_t>(width);
    surface.height = static_cast<std::int32_t>(height);
    const std::size_t points = static_cast<std::size_t>(width * height);
    surface.points = new (std::nothrow) Point4[points];
    surface.normals = new (std::nothrow) Point4[points];
    if (!surface.points || !surface.normals) {
        return refuse(reader, false, "no memory for surface %d (%lld x %lld points)", index + 1,
                      width, height);
    }
    if (!readPoints(reader, surface, index, count)) return false;
    computeControlNormals(surface);

    // A mesh of 2 or 3 points along a side keeps its points and normals but has no patch.
    if (width < 4 || height < 4) return true;
    const std::size_t patchCount = static_cast<std::size_t>((width - 3) * (height - 3));
    surface.patches = new (std::nothrow) PatchRecord[patchCount]();
    if (!surface.patches) {
        return refuse(reader, false, "no memory for the patches of surface %d (%lld x %lld points)",
                      index + 1, width, height);
    }
    for (std::size_t i = 0; i < patchCount; ++i) {
        surface.patches[i].controlPoints = surface.points;
        surface.patches[i].controlNormals = surface.normals;
        surface.patches[i].width = surface.width;
    }
    return true;
}

// Frees a list that was being read and never became the program's.
static void releaseList(SurfaceList& list) {
    if (list.surfaces) {
        for (std::int32_t i = 0; i < list.count; ++i) releaseSurface(list.surfaces[i]);
        delete[] list.surfaces;
    }
    list = SurfaceList{};
}

// Reads the whole file into `list`; false with the reason and whatever was built left in the
// list for the caller to free.
static bool readSurfaceList(SurfaceReader& reader, SurfaceList& list) {
    if (!readLine(reader)) return refuse(reader, false, "the file is empty");
    if (std::strncmp(reader.line, SURFACE_HEADER, SURFACE_HEADER_LENGTH) != 0) {
        return refuse(reader, true, "expected the header \"%s\"", SURFACE_HEADER);
    }
    long long announced;
    if (!readIntegerLine(reader, 1, &announced)) {
        return refuse(reader, true, "expected the number of surfaces, found the end of the file");
    }
    // A negative or absurd count is refused before anything is allocated.
    if (announced < 0 || announced > SURFACE_MAX_COUNT) {
        return refuse(reader, true, "%lld surfaces, outside 0 to %lld", announced,
                      SURFACE_MAX_COUNT);
    }
    if (announced == 0) return true;
    const std::int32_t count = static_cast<std::int32_t>(announced);
    list.surfaces = new (std::nothrow) Surface[count]();
    if (!list.surfaces) return refuse(reader, false, "no memory for %d surfaces", count);
    list.count = count;
    for (std::int32_t i = 0; i < count; ++i) {
        if (!readSurface(reader, list.surfaces[i], i, count)) return false;
    }
    return true;
}

bool loadSurfaceFile(SurfaceList& target, const char* path, char* reason, std::size_t reasonSize) {
    SurfaceReader reader = {};
    reader.path = path;
    reader.lineEnded = true;
    reader.reason = reason;
    reader.reasonSize = reasonSize;
    if (reason != nullptr && reasonSize > 0) reason[0] = '\0';
    reader.file = std::fopen(path, "r");
    if (!reader.file) return refuse(reader, false, "cannot open it (%s)", std::strerror(errno));
    SurfaceList list = {};
    const bool read = readSurfaceList(reader, list);
    std::fclose(reader.file);
    if (!read) {
        releaseList(list);
        return false;
    }
    // Only a file read to the end replaces what the program has.
    releaseList(target);
    target = list;
    return true;
}

bool saveSurfaceFile(const SurfaceList& list, const char* path, char* reason,
                     std::size_t reasonSize) {
    SaveFile save;
    if (saveFileBegin(save, path)) {
        saveFilePrintf(save, "B-Spline Surface\n\n");
        saveFilePrintf(save, "%d\n\n", static_cast<int>(list.count));
        for (std::int32_t i = 0; i < list.count && !save.failed; ++i) {
            const Surface& surface = list.surfaces[i];
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
