// The surface list and its text file: loadSurfaceFile replaces the whole list from a file
// read to its end (or keeps it and says why not),
// saveSurfaceFile writes it back, releaseSurfaces frees it; patch counts per surface type.
// Owns every surface array (points, normals, patch slots); the render pass only writes the
// patch slots. Prints nothing: callers decide what to say.
#include "surface/surface.h"

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/services.h"
#include "surface/bounds.h"

// A line is read in pieces of at most LINE_BUFFER_SIZE - 1 characters (as fgets into a buffer
// of LINE_BUFFER_SIZE would): a longer line arrives in pieces, and each piece is judged on its
// own like a separate line.
static constexpr int LINE_BUFFER_SIZE = 256;
// The file is read through one buffer of this many bytes (plus room for one piece that
// crosses its end), so a file of any size is held once and in part only.
static constexpr std::size_t READ_CHUNK = std::size_t{1} << 18;
// The writer formats this many bytes before handing them to the file in one write.
static constexpr std::size_t WRITE_CHUNK = std::size_t{1} << 16;
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
    // Bytes read from the file and not yet taken as pieces are chunk[start .. end); the
    // current piece lies in the chunk just before them, ended by a NUL written over the
    // chunk's byte `pieceEnd`, which keeps the byte it replaced in `pieceEndByte`.
    char* chunk;            // READ_CHUNK + LINE_BUFFER_SIZE bytes
    std::size_t start, end;
    bool fileEnded;         // the file has no bytes left past chunk[end]
    char* pieceEnd;
    char pieceEndByte;
    const char* line;       // the current piece as a C string (up to its first NUL)
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

// Gives the byte under the current piece's NUL back to the chunk.
static void releasePiece(SurfaceReader& reader) {
    if (reader.pieceEnd == nullptr) return;
    *reader.pieceEnd = reader.pieceEndByte;
    reader.pieceEnd = nullptr;
}

// Makes at least one piece's worth of bytes (LINE_BUFFER_SIZE - 1) unread in the chunk, or
// all that is left of the file: moves the few unread bytes to the front and reads behind them.
static void fillChunk(SurfaceReader& reader) {
    if (reader.fileEnded || reader.end - reader.start >= LINE_BUFFER_SIZE - 1) return;
    releasePiece(reader);
    const std::size_t left = reader.end - reader.start;
    std::memmove(reader.chunk, reader.chunk + reader.start, left);
    reader.start = 0;
    reader.end = left;
    const std::size_t wanted = READ_CHUNK + LINE_BUFFER_SIZE - 1 - left;
    const std::size_t got = std::fread(reader.chunk + left, 1, wanted, reader.file);
    reader.end += got;
    if (got < wanted) {
        reader.fileEnded = true;
        if (std::ferror(reader.file) && reader.readError == 0) {
            reader.readError = errno != 0 ? errno : EIO;
        }
    }
}

// Reads the next line piece: up to and including its line end, at most LINE_BUFFER_SIZE - 1
// bytes. False at end of file, where lineNumber is the line after the last one.
static bool readLine(SurfaceReader& reader) {
    if (reader.lineEnded) ++reader.lineNumber;
    releasePiece(reader);
    fillChunk(reader);
    if (reader.start == reader.end) {
        reader.lineEnded = false;
        reader.line = "";
        return false;
    }
    char* piece = reader.chunk + reader.start;
    std::size_t length = reader.end - reader.start;
    if (length > LINE_BUFFER_SIZE - 1) length = LINE_BUFFER_SIZE - 1;
    const void* lineEnd = std::memchr(piece, '\n', length);
    if (lineEnd != nullptr) {
        length = static_cast<std::size_t>(static_cast<const char*>(lineEnd) - piece) + 1;
    }
    reader.start += length;
    // The chunk has a spare byte past its end, so the NUL always has a place.
    reader.pieceEnd = piece + length;
    reader.pieceEndByte = *reader.pieceEnd;
    *reader.pieceEnd = '\0';
    reader.line = piece;
    // A NUL inside the piece ends the line as a C string, as it ended the piece fgets read.
    const std::size_t text = lineEnd != nullptr && std::memchr(piece, '\0', length) == nullptr
                                 ? length
                                 : std::strlen(piece);
    reader.lineEnded = text > 0 && piece[text - 1] == '\n';
    return true;
}

// Whether any byte of the file is left after the current piece.
static bool bytesLeft(SurfaceReader& reader) {
    fillChunk(reader);
    return reader.start < reader.end;
}

// Skips lines until one yields `wanted` integers; false at end of file.
static bool readIntegerLine(SurfaceReader& reader, int wanted, ScannedInteger* values) {
    while (readLine(reader)) {
        if (scanIntegers(reader.line, wanted, values)) return true;
    }
    return false;
}

// Powers of ten that a double holds exactly.
static constexpr double EXACT_POWERS_OF_TEN[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                                 1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                                 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
static constexpr int EXACT_POWER_MAX = 22;
static constexpr std::uint64_t EXACT_MANTISSA_MAX = std::uint64_t{1} << 53;
static_assert(FLT_EVAL_METHOD == 0, "the quick number path needs double arithmetic as written");

static bool isSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Reads one plain decimal number at `at` ("-12.5", ".5", "3.", "1e-3"), which must be
// followed by white space or the end of the piece, and whose value a double works out
// exactly rounded: at most 19 significant digits forming at most 2^53, times or divided by
// a power of ten of at most 10^22 (each exact in a double, so the one operation rounds
// once). The float is then that double rounded again, which gives the float nearest the text
// unless the double fell exactly halfway between two floats; such a number, and every other
// form ("inf", "0x1p3", "1e", "2.5.5", a digit run too long), gives null: the caller then
// reads the line as before, with sscanf, so both readings agree on every text.
static const char* scanPlainNumber(const char* at, float& value) {
    const bool negative = *at == '-';
    if (*at == '-' || *at == '+') ++at;
    std::uint64_t mantissa = 0;
    int significant = 0;
    int exponent = 0;
    bool digits = false;
    for (; *at >= '0' && *at <= '9'; ++at, digits = true) {
        if (mantissa == 0 && *at == '0') continue;
        if (++significant > 19) return nullptr;
        mantissa = mantissa * 10 + static_cast<unsigned>(*at - '0');
    }
    if (*at == '.') {
        for (++at; *at >= '0' && *at <= '9'; ++at, digits = true) {
            --exponent;
            if (mantissa == 0 && *at == '0') continue;
            if (++significant > 19) return nullptr;
            mantissa = mantissa * 10 + static_cast<unsigned>(*at - '0');
        }
    }
    if (!digits) return nullptr;
    if (*at == 'e' || *at == 'E') {
        ++at;
        const bool negativeExponent = *at == '-';
        if (*at == '-' || *at == '+') ++at;
        if (!(*at >= '0' && *at <= '9')) return nullptr;
        int written = 0;
        // A piece is at most 255 characters, yet cap the value: past 9999 no path is quick.
        for (; *at >= '0' && *at <= '9'; ++at) {
            if (written < 10000) written = written * 10 + (*at - '0');
        }
        exponent += negativeExponent ? -written : written;
    }
    if (!(*at == '\0' || isSpace(*at))) return nullptr;
    if (mantissa == 0) {
        value = negative ? -0.0f : 0.0f;
        return at;
    }
    if (mantissa > EXACT_MANTISSA_MAX || exponent < -EXACT_POWER_MAX ||
        exponent > EXACT_POWER_MAX) {
        return nullptr;
    }
    double exact = static_cast<double>(mantissa);
    exact = exponent < 0 ? exact / EXACT_POWERS_OF_TEN[-exponent]
                         : exact * EXACT_POWERS_OF_TEN[exponent];
    // Between 1e-22 and 9.1e37 the double is a normal float's neighbour: halfway between two
    // floats exactly when the 29 bits a float drops read 1000...0.
    std::uint64_t bits;
    std::memcpy(&bits, &exact, sizeof bits);
    if ((bits & 0x1FFFFFFFu) == 0x10000000u) return nullptr;
    const float rounded = static_cast<float>(exact);
    value = negative ? -rounded : rounded;
    return at;
}

// Reads a point line with the "%f %f %f" grammar of sscanf: true with three coordinates.
// Plain decimal numbers take a quick path; any other text goes to sscanf itself.
static bool scanPoint(const char* line, float c[3]) {
    const char* at = line;
    for (int i = 0; i < 3; ++i) {
        while (isSpace(*at)) ++at;
        at = scanPlainNumber(at, c[i]);
        if (at == nullptr) break;
    }
    if (at != nullptr) return true;
    return std::sscanf(line, "%f %f %f", &c[0], &c[1], &c[2]) == 3;
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
        if (!scanPoint(reader.line, c)) {
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
    const std::size_t length = std::strlen(reader.line);
    if (length == 0) return;
    // Taken before the look past the piece, which may read over it.
    const char last = reader.line[length - 1];
    if (bytesLeft(reader)) return;
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
    if (std::strncmp(reader.line, BYTE_ORDER_MARK, 3) == 0) reader.line += 3;
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
    // Text mode, as before: on Windows the reader sees "\n" where the file has "\r\n".
    reader.file = std::fopen(path, "r");
    if (!reader.file) return refuse(reader, false, "cannot open it (%s)", std::strerror(errno));
    reader.chunk = new (std::nothrow) char[READ_CHUNK + LINE_BUFFER_SIZE];
    if (!reader.chunk) {
        std::fclose(reader.file);
        return refuse(reader, false, "no memory to read it");
    }
    SurfaceList list = {};
    bool read = readSurfaceList(reader, list);
    if (reader.readError != 0) {
        read = refuse(reader, true, "cannot read it (%s)", std::strerror(reader.readError));
    }
    std::fclose(reader.file);
    delete[] reader.chunk;
    if (!read) {
        releaseList(list);
        return false;
    }
    // Only a file read to the end replaces what the program has.
    releaseList(target);
    target = list;
    return true;
}

// Longest text formatHundredths writes: "-" and 39 integer digits of FLT_MAX, ".00", with room.
static constexpr int HUNDREDTHS_TEXT_MAX = 48;

// Writes `value` as printf's "%.2f" does, byte for byte (the sign of a negative value that
// rounds to zero included, ties to even on the exact value), without a NUL; returns the end.
// A float has 24 significant bits and 100 has 5 after its trailing zeros, so the value in
// hundredths is exact in a double, and so are its whole part and the fraction left over:
// the rounding is decided on exact numbers. Values past 1e15 and NaN go to snprintf.
static char* formatHundredths(char* out, float value) {
    const double v = static_cast<double>(value);
    if (!(std::fabs(v) < 1e15)) {
        return out + std::snprintf(out, HUNDREDTHS_TEXT_MAX, "%.2f", v);
    }
    if (std::signbit(v)) *out++ = '-';
    const double hundredths = std::fabs(v) * 100.0;
    const double whole = std::floor(hundredths);
    const double fraction = hundredths - whole;
    auto n = static_cast<std::uint64_t>(whole);
    if (fraction > 0.5 || (fraction == 0.5 && (n & 1) != 0)) ++n;
    char digits[24];
    int count = 0;
    std::uint64_t units = n / 100;
    do {
        digits[count++] = static_cast<char>('0' + units % 10);
        units /= 10;
    } while (units != 0);
    while (count > 0) *out++ = digits[--count];
    *out++ = '.';
    *out++ = static_cast<char>('0' + n / 10 % 10);
    *out++ = static_cast<char>('0' + n % 10);
    return out;
}

// Text formatted for the file, handed over WRITE_CHUNK bytes at a time.
struct SurfaceWriter {
    SaveFile save;
    char text[WRITE_CHUNK];
    std::size_t used;
};

// Hands the formatted text to the file; false once a write has failed.
static bool flushText(SurfaceWriter& writer) {
    const bool written = saveFileWrite(writer.save, writer.text, writer.used);
    writer.used = 0;
    return written;
}

// Appends printf-formatted text of at most a line (well under WRITE_CHUNK / 2).
static void appendText(SurfaceWriter& writer, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
static void appendText(SurfaceWriter& writer, const char* format, ...) {
    if (writer.used > WRITE_CHUNK / 2) flushText(writer);
    va_list args;
    va_start(args, format);
    const int written = std::vsnprintf(writer.text + writer.used, WRITE_CHUNK - writer.used,
                                       format, args);
    va_end(args);
    if (written > 0) writer.used += static_cast<std::size_t>(written);
}

// Appends one row of the mesh, a point a line ("%.2f %.2f %.2f"), then the blank line.
static void appendRow(SurfaceWriter& writer, const Point4* points, std::int32_t count) {
    constexpr std::size_t POINT_TEXT_MAX = 3 * HUNDREDTHS_TEXT_MAX;
    for (std::int32_t c = 0; c < count; ++c) {
        if (WRITE_CHUNK - writer.used < POINT_TEXT_MAX + 1) flushText(writer);
        char* out = writer.text + writer.used;
        out = formatHundredths(out, points[c].x);
        *out++ = ' ';
        out = formatHundredths(out, points[c].y);
        *out++ = ' ';
        out = formatHundredths(out, points[c].z);
        *out++ = '\n';
        writer.used = static_cast<std::size_t>(out - writer.text);
    }
    if (writer.used == WRITE_CHUNK) flushText(writer);
    writer.text[writer.used++] = '\n';
}

bool saveSurfaceFile(const SurfaceList& list, const char* path, char* reason,
                     std::size_t reasonSize) {
    SurfaceWriter* writer = new (std::nothrow) SurfaceWriter;
    if (!writer) {
        if (reason != nullptr && reasonSize > 0) {
            std::snprintf(reason, reasonSize, "%s: no memory to save it", path);
        }
        return false;
    }
    SaveFile& save = writer->save;
    writer->used = 0;
    bool saved = false;
    if (saveFileBegin(save, path)) {
        appendText(*writer, "B-Spline Surface\n\n");
        appendText(*writer, "%d\n\n", static_cast<int>(list.count));
        for (std::int32_t i = 0; i < list.count && !save.failed; ++i) {
            const Surface& surface = list.surfaces[i];
            appendText(*writer, "%d %d\n\n", static_cast<int>(surface.width),
                       static_cast<int>(surface.height));
            for (std::int32_t r = 0; r < surface.height && !save.failed; ++r) {
                appendRow(*writer, surface.points + static_cast<std::size_t>(r) * surface.width,
                          surface.width);
            }
        }
        flushText(*writer);
        saved = saveFileCommit(save);
    }
    if (!saved && reason != nullptr && reasonSize > 0) {
        std::snprintf(reason, reasonSize, "%s", save.reason);
    }
    delete writer;
    return saved;
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
