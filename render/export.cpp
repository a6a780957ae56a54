// Mesh export: the surfaces walked band by band (one row of patches at a time, evaluated by
// evaluatePatchGrid into a strip of the welded vertex grid), so that memory stays at one band
// however large the mesh; each format's writer takes the band's new vertex rows (OBJ, PLY) or
// its triangles (STL) and writes them through one large buffer into a SaveFile.
#include "render/export.h"

#include <bit>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <new>

#include "platform/services.h"
#include "platform/win32.h"
#include "render/floattext.h"
#include "render/surfacepass.h"
#include "render/tessellate.h"

static_assert(std::endian::native == std::endian::little,
              "the binary formats are written as the processor holds its numbers");

namespace {

constexpr std::size_t OUT_CHUNK = std::size_t{1} << 20;
// Room one formatted line or record may take at most: eight floats of up to 16 characters.
constexpr std::size_t OUT_LINE_MAX = 256;
constexpr int STL_HEADER_BYTES = 80;

const char* const FORMAT_EXTENSIONS[EXPORT_FORMAT_COUNT] = {"obj", "stl", "ply"};

// A file being written: its SaveFile and the buffer filled before each write.
struct Out {
    SaveFile save;
    char* buffer;
    std::size_t used;
    const char* problem;   // why the writer stopped before the file's end, or null
};

bool flush(Out& out) {
    const bool ok = out.used == 0 || saveFileWrite(out.save, out.buffer, out.used);
    out.used = 0;
    return ok;
}

// Where the next `need` bytes (at most OUT_LINE_MAX) go; the caller then adds what it wrote.
char* room(Out& out) {
    if (out.used + OUT_LINE_MAX > OUT_CHUNK) flush(out);
    return out.buffer + out.used;
}

void putBytes(Out& out, const void* bytes, std::size_t size) {
    char* at = room(out);
    std::memcpy(at, bytes, size);
    out.used += size;
}

void putText(Out& out, const char* text) { putBytes(out, text, std::strlen(text)); }

// The shortest text that reads back as the same float. A library without floating-point
// to_chars (the browser build's) writes it through a stand-in that gives the same text, so
// the file is the same everywhere.
char* putFloat(char* at, float value) {
#if defined(__cpp_lib_to_chars) && __cpp_lib_to_chars >= 201611L
    return std::to_chars(at, at + 24, value).ptr;
#else
    return shortestFloatText(at, value);
#endif
}

char* putNumber(char* at, std::uint64_t value) {
    return std::to_chars(at, at + 24, value).ptr;
}

// One vertex of the welded grid.
struct ExportVertex {
    Point3 point;
    Point3 normal;   // unit length
    float s, t;      // texture coordinates, one texture width to a unit
};

Point3 unitNormal(const Point3& n) {
    const float length = std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z);
    // A patch folded to a point has no direction there: the flat mesh's normal stands in.
    if (!(length > 0.0f) || !std::isfinite(length)) return {0.0f, 0.0f, 1.0f};
    return {n.x / length, n.y / length, n.z / length};
}

// One surface's patches walked a patch row at a time. The band holds the vertex rows
// j * steps .. (j + 1) * steps of the grid: its row 0 is the previous band's last row, the
// same numbers (a patch's border is its neighbour's, bit for bit), so only rows 1 .. steps
// are new after the first band.
struct MeshWalk {
    const Surface* surface;
    ExportSettings settings;
    int nx, ny;              // patches along the columns and the rows
    int origin;              // control columns (rows) from one patch to the next
    std::size_t columns;     // vertices a grid row: nx * steps + 1
    ExportVertex* band;      // (steps + 1) rows of `columns` vertices
    float t;                 // t at the start of the next patch row, summed as drawn
    float ds, dt;            // texture span of one patch
    Point3 points[GRID_MAX_SIDE * GRID_MAX_SIDE];
    Point3 normals[GRID_MAX_SIDE * GRID_MAX_SIDE];
};

bool startWalk(MeshWalk& walk, const Surface& surface, const ExportSettings& settings,
               Out& out) {
    delete[] walk.band;
    walk.surface = &surface;
    walk.settings = settings;
    walk.nx = patchColumns(surface, settings.surfaceType);
    walk.ny = patchRows(surface, settings.surfaceType);
    walk.origin = settings.surfaceType == SURFACE_BEZIER ? 3 : 1;
    walk.columns = static_cast<std::size_t>(walk.nx) * settings.steps + 1;
    walk.t = 0.0f;
    // The surface pass spreads the texture span over the patches the same way.
    walk.ds = TEXTURE_SPAN / static_cast<float>(walk.nx > 0 ? walk.nx : 1);
    walk.dt = TEXTURE_SPAN / static_cast<float>(walk.ny > 0 ? walk.ny : 1);
    walk.band = new (std::nothrow) ExportVertex[walk.columns * (settings.steps + 1)];
    if (walk.band == nullptr) out.problem = "no memory for a row of patches";
    return walk.band != nullptr;
}

void endWalk(MeshWalk& walk) {
    delete[] walk.band;
    walk.band = nullptr;
}

// Evaluates patch row j into the band; patches from left to right, each writing its columns
// (a shared border column is written by both, with the same points).
void fillBand(MeshWalk& walk, int j) {
    const int n = walk.settings.steps;
    const float h = 1.0f / static_cast<float>(n);
    const Surface& surface = *walk.surface;
    PatchRecord patch = {};
    patch.controlPoints = surface.points;
    patch.controlNormals = surface.normals;
    patch.width = surface.width;
    patch.lastRow = walk.origin * j + 3;
    patch.steps = n;
    const float tLo = walk.t;
    const float stepT = ((tLo + walk.dt) - tLo) * h;
    float sLo = 0.0f;
    for (int i = 0; i < walk.nx; ++i) {
        patch.lastColumn = walk.origin * i + 3;
        evaluatePatchGrid(patch, walk.settings.surfaceType, !walk.settings.controlNormals,
                          walk.points, walk.normals);
        const float stepS = ((sLo + walk.ds) - sLo) * h;
        float s = sLo;
        for (int a = 0; a <= n; ++a) {
            float t = tLo;
            ExportVertex* column = walk.band + static_cast<std::size_t>(i) * n + a;
            for (int b = 0; b <= n; ++b) {
                const int k = a * (n + 1) + b;
                ExportVertex& v = column[static_cast<std::size_t>(b) * walk.columns];
                v.point = walk.points[k];
                v.normal = unitNormal(walk.normals[k]);
                v.s = s / EXPORT_TEXELS_PER_REPEAT;
                v.t = t / EXPORT_TEXELS_PER_REPEAT;
                t += stepT;
            }
            s += stepS;
        }
        sLo += walk.ds;
    }
    walk.t += walk.dt;
}

// ---- OBJ ---------------------------------------------------------------------------------

void objVertexRow(Out& out, const ExportVertex* row, std::size_t count) {
    for (std::size_t k = 0; k < count; ++k) {
        const ExportVertex& v = row[k];
        char* at = room(out);
        char* p = at;
        *p++ = 'v';
        for (float c : {v.point.x, v.point.y, v.point.z}) {
            *p++ = ' ';
            p = putFloat(p, c);
        }
        std::memcpy(p, "\nvt", 3);
        p += 3;
        for (float c : {v.s, v.t}) {
            *p++ = ' ';
            p = putFloat(p, c);
        }
        std::memcpy(p, "\nvn", 3);
        p += 3;
        for (float c : {v.normal.x, v.normal.y, v.normal.z}) {
            *p++ = ' ';
            p = putFloat(p, c);
        }
        *p++ = '\n';
        out.used += static_cast<std::size_t>(p - at);
    }
}

char* objCorner(char* p, std::uint64_t index) {
    *p++ = ' ';
    p = putNumber(p, index);
    *p++ = '/';
    p = putNumber(p, index);
    *p++ = '/';
    return putNumber(p, index);
}

void objTriangle(Out& out, std::uint64_t a, std::uint64_t b, std::uint64_t c) {
    char* at = room(out);
    char* p = at;
    *p++ = 'f';
    p = objCorner(p, a);
    p = objCorner(p, b);
    p = objCorner(p, c);
    *p++ = '\n';
    out.used += static_cast<std::size_t>(p - at);
}

// The two triangles of every square of a grid of columns x rows vertices numbered row by row
// from `first`, split along the same diagonal as drawn squares: (I, J) (I + 1, J) (I, J + 1)
// and (I + 1, J) (I + 1, J + 1) (I, J + 1), counter-clockwise seen along the normals.
// A write that failed (a full disk) stops the rest, row by row.
template <typename Triangle>
void gridTriangles(const Out& out, std::uint64_t first, std::uint64_t columns, std::uint64_t rows,
                   Triangle triangle) {
    for (std::uint64_t row = 0; row + 1 < rows && !out.save.failed; ++row) {
        for (std::uint64_t column = 0; column + 1 < columns; ++column) {
            const std::uint64_t v00 = first + row * columns + column;
            const std::uint64_t v10 = v00 + 1;
            const std::uint64_t v01 = v00 + columns;
            const std::uint64_t v11 = v01 + 1;
            triangle(v00, v10, v01);
            triangle(v10, v11, v01);
        }
    }
}

// Walks a surface's bands and hands each new vertex row to `row`.
template <typename Row>
void walkRows(const Out& out, MeshWalk& walk, Row row) {
    const int n = walk.settings.steps;
    for (int j = 0; j < walk.ny && !out.save.failed; ++j) {
        fillBand(walk, j);
        for (int b = j == 0 ? 0 : 1; b <= n; ++b) {
            row(walk.band + static_cast<std::size_t>(b) * walk.columns);
        }
    }
}

bool writeObj(Out& out, const SurfaceList& list, const ExportSettings& settings,
              const MeshCounts& total, MeshWalk& walk) {
    char line[OUT_LINE_MAX];
    std::snprintf(line, sizeof line,
                  "# Vorl mesh: %d surface%s, %d steps a patch (%s), %llu vertices, %llu "
                  "triangles\n# units of the surface file, z up\n",
                  list.count, list.count == 1 ? "" : "s", settings.steps,
                  settings.surfaceType == SURFACE_BEZIER ? "bezier" : "b-spline",
                  static_cast<unsigned long long>(total.vertices),
                  static_cast<unsigned long long>(total.triangles));
    putText(out, line);
    std::uint64_t first = 1;   // OBJ numbers its vertices from 1 across the whole file
    for (int k = 0; k < list.count; ++k) {
        const Surface& surface = list.surfaces[k];
        const MeshCounts counts = surfaceMeshCounts(surface, settings.surfaceType, settings.steps);
        if (counts.vertices == 0) continue;
        std::snprintf(line, sizeof line, "o surface%d\n", k + 1);
        putText(out, line);
        if (!startWalk(walk, surface, settings, out)) return false;
        walkRows(out, walk, [&](const ExportVertex* row) { objVertexRow(out, row, walk.columns); });
        const std::uint64_t rows = counts.vertices / walk.columns;
        gridTriangles(out, first, walk.columns, rows,
                      [&](std::uint64_t a, std::uint64_t b, std::uint64_t c) {
                          objTriangle(out, a, b, c);
                      });
        first += counts.vertices;
    }
    return true;
}

// ---- PLY ---------------------------------------------------------------------------------

bool writePly(Out& out, const SurfaceList& list, const ExportSettings& settings,
              const MeshCounts& total, MeshWalk& walk) {
    char header[512];
    std::snprintf(header, sizeof header,
                  "ply\nformat binary_little_endian 1.0\ncomment Vorl mesh: units of the surface "
                  "file, z up\nelement vertex %llu\nproperty float x\nproperty float y\n"
                  "property float z\nproperty float nx\nproperty float ny\nproperty float nz\n"
                  "property float s\nproperty float t\nelement face %llu\n"
                  "property list uchar uint vertex_indices\nend_header\n",
                  static_cast<unsigned long long>(total.vertices),
                  static_cast<unsigned long long>(total.triangles));
    putText(out, header);
    for (int k = 0; k < list.count; ++k) {
        const Surface& surface = list.surfaces[k];
        if (surfaceMeshCounts(surface, settings.surfaceType, settings.steps).vertices == 0) {
            continue;
        }
        if (!startWalk(walk, surface, settings, out)) return false;
        walkRows(out, walk, [&](const ExportVertex* row) {
            for (std::size_t c = 0; c < walk.columns; ++c) {
                const ExportVertex& v = row[c];
                const float record[8] = {v.point.x,  v.point.y,  v.point.z, v.normal.x,
                                         v.normal.y, v.normal.z, v.s,       v.t};
                putBytes(out, record, sizeof record);
            }
        });
    }
    std::uint64_t first = 0;
    for (int k = 0; k < list.count; ++k) {
        const Surface& surface = list.surfaces[k];
        const MeshCounts counts = surfaceMeshCounts(surface, settings.surfaceType, settings.steps);
        if (counts.vertices == 0) continue;
        const int patches = patchColumns(surface, settings.surfaceType);
        const std::uint64_t nx = static_cast<std::uint64_t>(patches);
        const std::uint64_t columns = nx * static_cast<std::uint64_t>(settings.steps) + 1;
        gridTriangles(out, first, columns, counts.vertices / columns,
                      [&](std::uint64_t a, std::uint64_t b, std::uint64_t c) {
                          std::uint8_t face[13];
                          face[0] = 3;
                          const std::uint32_t corners[3] = {static_cast<std::uint32_t>(a),
                                                            static_cast<std::uint32_t>(b),
                                                            static_cast<std::uint32_t>(c)};
                          std::memcpy(face + 1, corners, sizeof corners);
                          putBytes(out, face, sizeof face);
                      });
        first += counts.vertices;
    }
    return true;
}

// ---- STL ---------------------------------------------------------------------------------

void stlTriangle(Out& out, const Point3& a, const Point3& b, const Point3& c) {
    const Point3 u = {b.x - a.x, b.y - a.y, b.z - a.z};
    const Point3 v = {c.x - a.x, c.y - a.y, c.z - a.z};
    Point3 n = {u.y * v.z - u.z * v.y, u.z * v.x - u.x * v.z, u.x * v.y - u.y * v.x};
    const float length = std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z);
    n = length > 0.0f && std::isfinite(length) ? Point3{n.x / length, n.y / length, n.z / length}
                                               : Point3{0.0f, 0.0f, 0.0f};
    std::uint8_t record[50];
    const float values[12] = {n.x, n.y, n.z, a.x, a.y, a.z, b.x, b.y, b.z, c.x, c.y, c.z};
    std::memcpy(record, values, sizeof values);
    record[48] = 0;
    record[49] = 0;
    putBytes(out, record, sizeof record);
}

bool writeStl(Out& out, const SurfaceList& list, const ExportSettings& settings,
              const MeshCounts& total, MeshWalk& walk) {
    // Not "solid ...", which readers take for the start of a text STL.
    char header[STL_HEADER_BYTES] = {};
    std::snprintf(header, sizeof header, "Vorl mesh: units of the surface file, z up");
    putBytes(out, header, sizeof header);
    const std::uint32_t count = static_cast<std::uint32_t>(total.triangles);
    putBytes(out, &count, sizeof count);
    const int n = settings.steps;
    for (int k = 0; k < list.count; ++k) {
        const Surface& surface = list.surfaces[k];
        if (surfaceMeshCounts(surface, settings.surfaceType, settings.steps).vertices == 0) {
            continue;
        }
        if (!startWalk(walk, surface, settings, out)) return false;
        for (int j = 0; j < walk.ny && !out.save.failed; ++j) {
            fillBand(walk, j);
            gridTriangles(out, 0, walk.columns, static_cast<std::uint64_t>(n) + 1,
                          [&](std::uint64_t a, std::uint64_t b, std::uint64_t c) {
                              stlTriangle(out, walk.band[a].point, walk.band[b].point,
                                          walk.band[c].point);
                          });
        }
    }
    return true;
}

// Starts the file and its buffer; false with the reason.
bool openOut(Out& out, const char* path, char* reason, std::size_t size) {
    out.buffer = new (std::nothrow) char[OUT_CHUNK];
    out.used = 0;
    if (out.buffer == nullptr) return refuseNamed(reason, size, path, "no memory to write it");
    if (!saveFileBegin(out.save, path)) {
        delete[] out.buffer;
        out.buffer = nullptr;
        return refuseNamed(reason, size, path, "not written: %s", out.save.reason);
    }
    return true;
}

// Writes what is left and puts the file in place, or gives it up; false with the reason.
bool closeOut(Out& out, bool ok, const char* path, char* reason, std::size_t size) {
    ok = ok && flush(out);
    delete[] out.buffer;
    out.buffer = nullptr;
    if (ok && saveFileCommit(out.save)) return true;
    saveFileAbandon(out.save);
    return refuseNamed(reason, size, path, "not written: %s",
                  out.problem != nullptr ? out.problem : out.save.reason);
}

}  // namespace

bool exportFormatOf(const char* path, int* format, char* reason, std::size_t reasonSize) {
    const char* dot = std::strrchr(path, '.');
    const char* slash = std::strrchr(path, '/');
    if (dot != nullptr && (slash == nullptr || dot > slash)) {
        for (int f = 0; f < EXPORT_FORMAT_COUNT; ++f) {
            const char* e = FORMAT_EXTENSIONS[f];
            const char* x = dot + 1;
            while (*e && *x && std::tolower(static_cast<unsigned char>(*x)) == *e) {
                ++e;
                ++x;
            }
            if (*e == '\0' && *x == '\0') {
                *format = f;
                return true;
            }
        }
    }
    return refuseNamed(reason, reasonSize, path,
                  "the name must end in .obj (OBJ), .stl (binary STL) or .ply (binary PLY)");
}

MeshCounts surfaceMeshCounts(const Surface& surface, int surfaceType, int steps) {
    const std::uint64_t nx = static_cast<std::uint64_t>(patchColumns(surface, surfaceType));
    const std::uint64_t ny = static_cast<std::uint64_t>(patchRows(surface, surfaceType));
    if (nx == 0 || ny == 0 || surface.points == nullptr) return {0, 0};
    const std::uint64_t n = static_cast<std::uint64_t>(steps);
    return {(nx * n + 1) * (ny * n + 1), 2 * nx * n * ny * n};
}

bool exportSurfaceMeshes(const SurfaceList& list, const ExportSettings& settings, int format,
                         const char* path, MeshCounts* written, char* reason,
                         std::size_t reasonSize) {
    if (reason != nullptr && reasonSize > 0) reason[0] = '\0';
    MeshCounts total = {0, 0};
    for (int k = 0; k < list.count; ++k) {
        const MeshCounts c =
            surfaceMeshCounts(list.surfaces[k], settings.surfaceType, settings.steps);
        total.vertices += c.vertices;
        total.triangles += c.triangles;
    }
    if (total.triangles == 0) {
        return refuseNamed(reason, reasonSize, path, "not written: no surface has a patch");
    }
    if (format == EXPORT_STL && total.triangles > EXPORT_MAX_32) {
        return refuseNamed(reason, reasonSize, path,
                      "not written: %llu triangles, more than binary STL can count (%llu)",
                      static_cast<unsigned long long>(total.triangles),
                      static_cast<unsigned long long>(EXPORT_MAX_32));
    }
    if (format == EXPORT_PLY && total.vertices > EXPORT_MAX_32) {
        return refuseNamed(reason, reasonSize, path,
                      "not written: %llu vertices, more than binary PLY numbers here (%llu)",
                      static_cast<unsigned long long>(total.vertices),
                      static_cast<unsigned long long>(EXPORT_MAX_32));
    }
    MeshWalk* walk = new (std::nothrow) MeshWalk{};
    if (walk == nullptr) return refuseNamed(reason, reasonSize, path, "no memory to write it");
    Out out = {};
    if (!openOut(out, path, reason, reasonSize)) {
        delete walk;
        return false;
    }
    bool ok;
    // Each writer ends every walk it starts; a band that cannot be had is out of memory.
    switch (format) {
    case EXPORT_OBJ: ok = writeObj(out, list, settings, total, *walk); break;
    case EXPORT_STL: ok = writeStl(out, list, settings, total, *walk); break;
    default: ok = writePly(out, list, settings, total, *walk); break;
    }
    endWalk(*walk);
    delete walk;
    if (!closeOut(out, ok, path, reason, reasonSize)) return false;
    if (written != nullptr) *written = total;
    return true;
}

bool exportControlMeshes(const SurfaceList& list, const char* path, char* reason,
                         std::size_t reasonSize) {
    if (reason != nullptr && reasonSize > 0) reason[0] = '\0';
    std::uint64_t quads = 0;
    for (int k = 0; k < list.count; ++k) {
        const Surface& s = list.surfaces[k];
        quads += static_cast<std::uint64_t>(s.width - 1) * static_cast<std::uint64_t>(s.height - 1);
    }
    if (quads == 0) {
        return refuseNamed(reason, reasonSize, path, "not written: there is no control mesh");
    }
    Out out = {};
    if (!openOut(out, path, reason, reasonSize)) return false;
    putText(out, "# Vorl control meshes: units of the surface file, z up\n");
    std::uint64_t first = 1;
    char line[OUT_LINE_MAX];
    for (int k = 0; k < list.count; ++k) {
        const Surface& surface = list.surfaces[k];
        std::snprintf(line, sizeof line, "o control%d\n", k + 1);
        putText(out, line);
        const std::uint64_t width = static_cast<std::uint64_t>(surface.width);
        const std::uint64_t count = width * static_cast<std::uint64_t>(surface.height);
        for (std::uint64_t i = 0; i < count; ++i) {
            const Point4& p = surface.points[i];
            char* at = room(out);
            char* q = at;
            *q++ = 'v';
            for (float c : {p.x, p.y, p.z}) {
                *q++ = ' ';
                q = putFloat(q, c);
            }
            *q++ = '\n';
            out.used += static_cast<std::size_t>(q - at);
        }
        for (std::uint64_t r = 0; r + 1 < static_cast<std::uint64_t>(surface.height); ++r) {
            for (std::uint64_t c = 0; c + 1 < width; ++c) {
                const std::uint64_t a = first + r * width + c;
                char* at = room(out);
                char* q = at;
                *q++ = 'f';
                for (std::uint64_t corner : {a, a + 1, a + width + 1, a + width}) {
                    *q++ = ' ';
                    q = putNumber(q, corner);
                }
                *q++ = '\n';
                out.used += static_cast<std::size_t>(q - at);
            }
        }
        first += count;
    }
    return closeOut(out, true, path, reason, reasonSize);
}
