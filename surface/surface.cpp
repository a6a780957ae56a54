// The surface list and its text file: loadSurfaceFile replaces the whole list from a file
// read to its end (or keeps it and says why not),
// saveSurfaceFile writes it back, releaseSurfaces frees it; patch counts per surface type.
// Owns every surface array (points, normals, patch slots); the render pass only writes the
// patch slots. Prints nothing: callers decide what to say.
#include "surface/surface.h"

#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/win32.h"
#include "surface/bounds.h"

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
    delete[] surface.patchSlots;
    freeSurfaceBounds(surface);
    surface.points = nullptr;
    surface.normals = nullptr;
    surface.patchSlots = nullptr;
    surface.width = 0;
    surface.height = 0;
}

static void releaseList(SurfaceList& list);

void releaseSurfaces(SurfaceList& list) {
    releaseList(list);
}

// Longest number text a reason quotes as the file gives it.
static constexpr int NUMBER_TEXT_MAX = 24;
// Longest piece of a skipped line a reason quotes.
static constexpr int QUOTE_MAX = 40;

// One integer as the file writes it: the value, read 64 bits wide so that a number outside
// the 32-bit range is seen as such and refused by the caller instead of being silently cut
// down to some other, harmless-looking value, and its text, so that a refusal quotes what the
// file says rather than a value clamped to the 64-bit range.
struct ScannedInteger {
    long long value;
    char text[NUMBER_TEXT_MAX + 4];   // "..." after NUMBER_TEXT_MAX characters
};

// Scans one or two integers from the start of a line with the "%d" / "%d %d" grammar (white
// space first, optional sign, digits; trailing text ignored). A number beyond the 64-bit
// range scans as the largest value of its sign, which every caller refuses.
static bool scanIntegers(const char* line, int wanted, ScannedInteger* values) {
    const char* at = line;
    for (int i = 0; i < wanted; ++i) {
        while (*at == ' ' || (*at >= '\t' && *at <= '\r')) ++at;
        const char* start = at;
        if (*at == '+' || *at == '-') ++at;
        if (!(*at >= '0' && *at <= '9')) return false;
        char* end = nullptr;
        errno = 0;
        values[i].value = std::strtoll(start, &end, 10);
        const int length = static_cast<int>(end - start);
        if (length > NUMBER_TEXT_MAX) {
            std::snprintf(values[i].text, sizeof values[i].text, "%.*s...", NUMBER_TEXT_MAX, start);
        } else {
            std::snprintf(values[i].text, sizeof values[i].text, "%.*s", length, start);
        }
        at = end;
    }
    return true;
}

// The reader's place in the file, and where a refusal's reason goes.
struct SurfaceReader {
    std::FILE* file;
    const char* path;
    char line[LINE_BUFFER_SIZE];
    long long lineNumber;   // of the piece in `line`: 1 for the first line of the file
    bool lineEnded;         // the piece in `line` ended its line
    int readError;          // errno of a read that failed (not the end of the file), or 0
    // The first line skipped where a point was expected that is not blank, with what was
    // expected there: when the file then ends too early, that line (a point written wrongly,
    // which shifted every later line) is the likelier fault than the file's end.
    long long skippedLine;
    char skippedWhat[96];
    char skippedText[QUOTE_MAX + 4];
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

// A refusal for the end of the file where `what` was expected ("the size of surface 2 of 2"):
// it names the first wrongly written point line when there was one.
static bool refuseAtEnd(SurfaceReader& reader, const char* what) {
    if (reader.skippedLine == 0) {
        return refuse(reader, true, "expected %s, found the end of the file", what);
    }
    reader.lineNumber = reader.skippedLine;
    return refuse(reader, true, "expected 3 numbers (%s), found \"%s\"; the file then ends "
                  "early (expected %s)", reader.skippedWhat, reader.skippedText, what);
}

// Reads the next line piece; false at end of file, where lineNumber is the line after the
// last one.
static bool readLine(SurfaceReader& reader) {
    if (reader.lineEnded) ++reader.lineNumber;
    if (std::fgets(reader.line, LINE_BUFFER_SIZE, reader.file) == nullptr) {
        reader.lineEnded = false;
        if (std::ferror(reader.file) && reader.readError == 0) {
            reader.readError = errno != 0 ? errno : EIO;
        }
        return false;
    }
    const std::size_t length = std::strlen(reader.line);
    reader.lineEnded = length > 0 && reader.line[length - 1] == '\n';
    return true;
}

// Skips lines until one yields `wanted` integers; false at end of file.
static bool readIntegerLine(SurfaceReader& reader, int wanted, ScannedInteger* values) {
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
            char what[96];
            std::snprintf(what, sizeof what, "3 numbers (point %lld of %d x %d in surface %d of %d)",
                          static_cast<long long>(read + 1), surface.width, surface.height,
                          index + 1, count);
            return refuseAtEnd(reader, what);
        }
        float c[3];
        if (std::sscanf(reader.line, "%f %f %f", &c[0], &c[1], &c[2]) != 3) {
            const std::size_t length = std::strcspn(reader.line, "\r\n");
            if (reader.skippedLine == 0 && std::strspn(reader.line, " \t\r\n\f\v") < length) {
                reader.skippedLine = reader.lineNumber;
                std::snprintf(reader.skippedWhat, sizeof reader.skippedWhat,
                              "point %lld of %d x %d in surface %d of %d",
                              static_cast<long long>(read + 1), surface.width, surface.height,
                              index + 1, count);
                if (length > QUOTE_MAX) {
                    std::snprintf(reader.skippedText, sizeof reader.skippedText, "%.*s...",
                                  QUOTE_MAX, reader.line);
                } else {
                    std::snprintf(reader.skippedText, sizeof reader.skippedText, "%.*s",
                                  static_cast<int>(length), reader.line);
                }
            }
            continue;
        }
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
// slots. False with the reason for a truncated surface, dimensions outside 2 ..
// SURFACE_MAX_POINTS points, or no memory; whatever was allocated stays in the surface for
// the caller to release.
static bool readSurface(SurfaceReader& reader, Surface& surface, int index, int count) {
    ScannedInteger dims[2];
    if (!readIntegerLine(reader, 2, dims)) {
        char what[64];
        std::snprintf(what, sizeof what, "the size of surface %d of %d", index + 1, count);
        return refuseAtEnd(reader, what);
    }
    const long long width = dims[0].value;
    const long long height = dims[1].value;
    // Both factors are at most SURFACE_MAX_POINTS here, so the 64-bit product cannot wrap.
    if (width < SURFACE_MIN_SIDE || height < SURFACE_MIN_SIDE) {
        return refuse(reader, true, "surface %d is %s x %s points; a side needs at least %d",
                      index + 1, dims[0].text, dims[1].text, SURFACE_MIN_SIDE);
    }
    if (width > SURFACE_MAX_POINTS || height > SURFACE_MAX_POINTS ||
        width * height > SURFACE_MAX_POINTS) {
        return refuse(reader, true, "surface %d is %s x %s points, more than the limit of %lld",
                      index + 1, dims[0].text, dims[1].text, SURFACE_MAX_POINTS);
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
    // Without memory for the bounds the surface is still drawn, culled patch by patch.
    buildSurfaceBounds(surface);

    // A mesh of 2 or 3 points along a side keeps its points and normals but has no patch.
    if (width < 4 || height < 4) return true;
    const std::size_t patchCount = static_cast<std::size_t>((width - 3) * (height - 3));
    surface.patchSlots = new (std::nothrow) std::int32_t[patchCount]();
    if (!surface.patchSlots) {
        return refuse(reader, false, "no memory for the patches of surface %d (%lld x %lld points)",
                      index + 1, width, height);
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

// The file's last point line ends the file without a line end, on a character of a number:
// an editor may save a file that way, but so does a copy cut short in its last number
// ("-0.84" becoming "-0.8"), which reads as a whole file. The file loads; the reason holds a
// warning for the caller to pass on.
static void warnIfCutInLastNumber(SurfaceReader& reader) {
    if (reader.lineEnded) return;
    const int next = std::fgetc(reader.file);
    if (next != EOF) return;
    const std::size_t length = std::strlen(reader.line);
    if (length == 0) return;
    const char last = reader.line[length - 1];
    if (!((last >= '0' && last <= '9') || last == '.' || last == 'e' || last == 'E' ||
          last == '+' || last == '-')) {
        return;
    }
    refuse(reader, true, "the file ends inside a number without a line end; it may be cut short");
}

// Reads the whole file into `list`; false with the reason and whatever was built left in the
// list for the caller to free.
static bool readSurfaceList(SurfaceReader& reader, SurfaceList& list) {
    if (!readLine(reader)) return refuse(reader, false, "the file is empty");
    // A byte-order mark, which some editors put before UTF-8 text, is not part of the header.
    static const char BYTE_ORDER_MARK[] = "\xEF\xBB\xBF";
    if (std::strncmp(reader.line, BYTE_ORDER_MARK, 3) == 0) {
        std::memmove(reader.line, reader.line + 3, std::strlen(reader.line + 3) + 1);
    }
    if (std::strncmp(reader.line, SURFACE_HEADER, SURFACE_HEADER_LENGTH) != 0) {
        return refuse(reader, true, "expected the header \"%s\"", SURFACE_HEADER);
    }
    ScannedInteger scanned;
    if (!readIntegerLine(reader, 1, &scanned)) {
        return refuse(reader, true, "expected the number of surfaces, found the end of the file");
    }
    const long long announced = scanned.value;
    // A negative or absurd count is refused before anything is allocated.
    if (announced < 0 || announced > SURFACE_MAX_COUNT) {
        return refuse(reader, true, "%s surfaces, outside 0 to %lld", scanned.text,
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
    warnIfCutInLastNumber(reader);
    return true;
}

bool loadSurfaceFile(SurfaceList& target, const char* path, char* reason, std::size_t reasonSize) {
    SurfaceReader reader = {};
    reader.path = path;
    reader.lineEnded = true;
    reader.reason = reason;
    reader.reasonSize = reasonSize;
    if (reason != nullptr && reasonSize > 0) reason[0] = '\0';
    if (pathIsFolder(path)) return refuse(reader, false, "it is a folder, not a file");
    reader.file = std::fopen(path, "r");
    if (!reader.file) return refuse(reader, false, "cannot open it (%s)", std::strerror(errno));
    SurfaceList list = {};
    bool read = readSurfaceList(reader, list);
    if (reader.readError != 0) {
        read = refuse(reader, true, "cannot read it (%s)", std::strerror(reader.readError));
    }
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
