// Worker side of Vexa drawing for one processor path: included by vx_path_body.h once per
// path (portable, 128-bit and AVX2) inside that path's namespace, so all are the same source. It
// covers triangle setup (snapping, culling, edge functions, attribute planes), span
// traversal of the rows a worker owns, lines, and clears. Coverage is exact integer
// arithmetic on vertices snapped to 1/256 pixel with a top-left rule, so triangles sharing an
// edge cover each pixel on it once; the attribute planes are made in double with the same
// operations on both paths, so both give the same bits. Covered pixels go to the pixel
// pipeline in batches. Writes only inside the clip window, itself inside the output.
// Deliberately without an include guard.

// Draws what a worker has batched (the path's flushBatch in VxPath).
void flushBatch(VxWorker& w);

namespace {

// Small fixed vectors (SSE2 registers on x86, the same arithmetic elsewhere).
using Int4 = std::int32_t __attribute__((vector_size(16)));
using Int8 = std::int32_t __attribute__((vector_size(32)));
using Float4 = float __attribute__((vector_size(16)));
using Float8 = float __attribute__((vector_size(32)));
constexpr Int4 IOTA4 = {0, 1, 2, 3};
constexpr Int8 IOTA8 = {0, 1, 2, 3, 4, 5, 6, 7};

// Bit i set for each lane i that is all ones (lanes are all ones or zero), of four lanes and
// of eight: pieces of the path, each path's file defines them after this source (one
// instruction on the vector paths); portableLaneBits() is the plain arithmetic.
inline unsigned laneBits(Int4 v);
inline unsigned laneBits(Int8 v);
inline unsigned portableLaneBits(Int4 v) {
    const Int4 bits = v & Int4{1, 2, 4, 8};
    return unsigned(bits[0] | bits[1] | bits[2] | bits[3]);
}
inline unsigned portableLaneBits(Int8 v) {
    return laneBits(Int4(__builtin_shufflevector(v, v, 0, 1, 2, 3))) |
           laneBits(Int4(__builtin_shufflevector(v, v, 4, 5, 6, 7))) << 4;
}

inline bool ownsRow(const VxWorker& w, int y) {
    return ((y >> VX_BAND_SHIFT) % vexaDevice.threadCount) == w.index;
}

// First row >= y (y >= 0) that this worker owns.
inline int nextOwnedRow(const VxWorker& w, int y) {
    const int band = y >> VX_BAND_SHIFT;
    if (band < VX_BAND_TABLE) {
        const int next = w.nextBand[band];
        return next == band ? y : next << VX_BAND_SHIFT;
    }
    const int n = vexaDevice.threadCount;
    const int owner = band % n;
    if (owner == w.index) return y;
    const int skip = (w.index - owner + n) % n;
    return (band + skip) << VX_BAND_SHIFT;
}

inline std::int64_t floorDiv(std::int64_t a, std::int64_t b) {  // b > 0
    std::int64_t q = a / b;
    if ((a % b != 0) && (a < 0)) --q;
    return q;
}

// Records that the batch holds columns x0..x1 (inclusive) of a row (y mod 64).
inline void holdRow(VxWorker& w, int row, int x0, int x1) {
    if (w.rowEpoch[row] != w.epoch) {
        w.rowEpoch[row] = w.epoch;
        w.rowLo[row] = x0;
        w.rowHi[row] = x1;
    } else {
        w.rowLo[row] = x0 < w.rowLo[row] ? x0 : w.rowLo[row];
        w.rowHi[row] = x1 > w.rowHi[row] ? x1 : w.rowHi[row];
    }
}

// The rest of addSpan(): columns x0..x1 (inclusive) of row y, a long span or one that does
// not fit, added in whole groups of eight as room allows, the batch finished when full.
inline void addSpanInParts(VxWorker& w, int y, int x0, int x1) {
    VxBatch& b = w.batch;
    const int row = y & 63;
    while (x0 <= x1) {
        if (b.n == VX_BATCH_MAX) {
            // The batch restarts with this span's remainder on the row.
            flushBatch(w);
            w.rowEpoch[row] = w.epoch;
            w.rowLo[row] = x0;
            w.rowHi[row] = x1;
        }
        const int room = VX_BATCH_MAX - b.n;
        const int count = x1 - x0 + 1 < room ? x1 - x0 + 1 : room;
        // Whole groups of eight, as in addSpan(): at most seven past the batch's end.
        const Int8 ys = Int8{} + y;
        for (int i = 0; i < count; i += 8) {
            const Int8 xs = x0 + i + IOTA8;
            std::memcpy(b.x + b.n + i, &xs, sizeof xs);
            std::memcpy(b.y + b.n + i, &ys, sizeof ys);
        }
        b.n += count;
        x0 += count;
    }
}

// Adds columns x0..x1 (inclusive) of row y to the batch. Always inlined: the short spans of
// small triangles (most) take a few instructions here, and WebAssembly's compiler would
// otherwise leave it a call, with its frame set up for the long spans' loop each time.
__attribute__((always_inline)) inline void addSpan(VxWorker& w, int y, int x0, int x1) {
    VxBatch& b = w.batch;
    // A span overlapping one already in the batch on this row (mod 64) finishes the batch.
    const int row = y & 63;
    if (w.rowEpoch[row] == w.epoch) {
        if (x1 >= w.rowLo[row] && x0 <= w.rowHi[row]) flushBatch(w);
    }
    holdRow(w, row, x0, x1);
    if (x1 - x0 < 8 && b.n + (x1 - x0) < VX_BATCH_MAX) {
        // Small triangles' spans hop from row to row, which the processor's own prefetching
        // does not follow: the depth and colour they will read and write are asked for now,
        // a batch ahead of the finish.
        __builtin_prefetch(b.depth + std::size_t(y) * std::size_t(b.pitch) + x0, 1);
        __builtin_prefetch(b.color + std::size_t(y) * std::size_t(b.pitch) + x0, 1);
        // A short span that fits (most spans of small triangles): eight columns and rows
        // stored whole, the excess past the span overwritten by later pixels or never read
        // (the arrays have room for it).
        const Int8 xs = x0 + IOTA8;
        const Int8 ys = Int8{} + y;
        std::memcpy(b.x + b.n, &xs, sizeof xs);
        std::memcpy(b.y + b.n, &ys, sizeof ys);
        b.n += x1 - x0 + 1;
        return;
    }
    addSpanInParts(w, y, x0, x1);
}

// Copies the current setup's planes onto batch pixels [from, to), fewer than
// VX_LANE_STAMP_MAX of them, as one whole group of eight (the lane arrays have room past the
// batch; later pixels overwrite the excess, and the interpolation of the stamped pixels
// never uses it). Each value is copied as it is, -0 included, as the uniform planes use it.
static_assert(VX_LANE_STAMP_MAX <= 8 && VX_BATCH_MAX + 8 <= VX_BATCH_PAD);
inline void stampPlanes(const VxSetup& s, VxBatch& b, int from, int to) {
    if (from == to) return;
    const auto put = [&](int lane, float value) __attribute__((always_inline)) {
        const Float8 v = {value, value, value, value, value, value, value, value};
        std::memcpy(b.lane[lane] + from, &v, sizeof v);
    };
    put(VX_LANE_OFFX, s.offX);
    put(VX_LANE_OFFY, s.offY);
    constexpr int PLANES[6] = {VX_PL_Q, VX_PL_U0, VX_PL_V0, VX_PL_R, VX_PL_G, VX_PL_B};
    for (int k = 0; k < 6; ++k) {
        put(VX_LANE_Q + 3 * k, s.base[PLANES[k]]);
        put(VX_LANE_Q + 3 * k + 1, s.dx[PLANES[k]]);
        put(VX_LANE_Q + 3 * k + 2, s.dy[PLANES[k]]);
    }
}

// Interpolates every pixel of the batch not yet interpolated: the stamped ones with their
// own planes, then those past `stamped` (the primitive being set up) with its uniform
// planes. The stamped pass writes whole groups past `stamped`; the uniform pass overwrites
// them.
inline void interpolatePending(VxWorker& w) {
    VxBatch& b = w.batch;
    const VxDrawState& st = w.state;
    if (st.interpolateLanes && b.pending < b.stamped) {
        st.interpolateLanes(st, b, b.pending, b.stamped);
        b.pending = b.stamped;
    }
    if (b.pending < b.n) st.interpolate(st, w.setup, b, b.pending);
    b.pending = b.stamped = b.n;
}

// The pixels added since the last call belong to the current setup. Where the state has a
// per-pixel-plane routine, a small primitive only stamps its planes: interpolating its four
// or five pixels alone would pay for a whole vector pass and the routine's set-up. A larger
// one is interpolated now with uniform planes, after the stamped pixels before it.
inline void endPrimitive(VxWorker& w) {
    VxBatch& b = w.batch;
    if (w.state.interpolateLanes && b.n - b.stamped < VX_LANE_STAMP_MAX) {
        stampPlanes(w.setup, b, b.stamped, b.n);
        b.stamped = b.n;
        return;
    }
    interpolatePending(w);
}

inline bool finiteVertex(const VxVertex& v) {
    return std::fabs(v.x) <= VX_COORD_LIMIT && std::fabs(v.y) <= VX_COORD_LIMIT &&
           std::isfinite(v.q);
}

// vxSnap() of four coordinates, each within VX_COORD_LIMIT, in float: c * 256 is exact,
// and so are its truncation t and the remainder c * 256 - t (|c * 256| <= 2^28: beyond 2^24
// the value is already whole), so rounding half up from the remainder gives the same
// integer as the double form.
inline Int4 snapFour(Float4 c) {
    const Float4 f = c * float(1 << VX_SUBPIXEL_BITS);
    const Int4 t = __builtin_convertvector(f, Int4);
    const Float4 frac = f - __builtin_convertvector(t, Float4);
    // Comparisons give -1 where true.
    return t - (frac >= 0.5f) + (frac < -0.5f);
}

// Checks and snaps the vertices of a primitive command four at a time: snapped x and y,
// and whether each is drawable (finiteVertex; a vertex that is not snaps to 0). The arrays
// are written in whole groups of four (VX_PRIM_CHUNK is a multiple of four); the last group
// repeats the final vertex rather than read past the command.
static_assert(VX_PRIM_CHUNK % 4 == 0);
inline void snapVertices(const VxVertex* v, int n, std::int32_t* sx, std::int32_t* sy,
                         std::int32_t* ok) {
    const Float4 limit = Float4{} + VX_COORD_LIMIT;
    const Float4 largest = Float4{} + std::numeric_limits<float>::max();
    for (int i = 0; i < n; i += 4) {
        const bool whole = i + 3 < n;
        const VxVertex& v0 = v[i];
        const VxVertex& v1 = v[whole || i + 1 < n ? i + 1 : n - 1];
        const VxVertex& v2 = v[whole || i + 2 < n ? i + 2 : n - 1];
        const VxVertex& v3 = v[whole ? i + 3 : n - 1];
        const Float4 x = {v0.x, v1.x, v2.x, v3.x}, y = {v0.y, v1.y, v2.y, v3.y};
        const Float4 q = {v0.q, v1.q, v2.q, v3.q};
        const auto magnitude = [](Float4 f) {
            return __builtin_bit_cast(Float4, __builtin_bit_cast(Int4, f) & 0x7FFFFFFF);
        };
        // NaN fails every comparison, so a NaN coordinate or q is refused too.
        const Int4 good = (magnitude(x) <= limit) & (magnitude(y) <= limit) &
                          (magnitude(q) <= largest);
        // A refused vertex's coordinates become 0 before snapping.
        const auto kept = [&](Float4 f) {
            return __builtin_bit_cast(Float4, __builtin_bit_cast(Int4, f) & good);
        };
        const Int4 snappedX = snapFour(kept(x));
        const Int4 snappedY = snapFour(kept(y));
        std::memcpy(sx + i, &snappedX, sizeof snappedX);
        std::memcpy(sy + i, &snappedY, sizeof snappedY);
        const Int4 drawable = good & 1;
        std::memcpy(ok + i, &drawable, sizeof drawable);
    }
}

struct Edge {
    std::int64_t a, b;  // dE/dx, dE/dy in fixed units
    std::int64_t px, py;
    std::int64_t bias;  // 0 on top-left edges, 1 otherwise
};

inline Edge makeEdge(std::int64_t px, std::int64_t py, std::int64_t qx, std::int64_t qy) {
    Edge e;
    e.a = -(qy - py);
    e.b = qx - px;
    e.px = px;
    e.py = py;
    e.bias = (e.a > 0 || (e.a == 0 && e.b > 0)) ? 0 : 1;
    return e;
}

// Attribute k (VX_PL_ order) of a vertex: q, a texture coordinate, or a colour channel of its
// colour word as a float (exactly the byte's value).
inline float attribute(const VxVertex& v, int k) {
    if (k < VX_PL_R) return (&v.q)[k];
    constexpr int SHIFT[4] = {16, 8, 0, 24};  // r g b a
    return float((v.argb >> SHIFT[k - VX_PL_R]) & 0xFFu);
}

// Four doubles side by side: the planes are made four at a time, each lane with exactly the
// operations (and rounding) of the one-at-a-time form.
using Double4 = double __attribute__((vector_size(32)));
using Byte4 = std::uint8_t __attribute__((vector_size(4)));
static_assert(std::endian::native == std::endian::little);

// Planes q u0 v0 u1 of a vertex (consecutive in VxVertex) and its colour channels r g b a.
inline Double4 texturePlanes(const VxVertex& v) {
    Float4 f;
    std::memcpy(&f, &v.q, sizeof f);
    return __builtin_convertvector(f, Double4);
}
// A piece of the path (one shuffle on the AVX2 path); portableColourPlanes() reorders the
// word's bytes.
inline Double4 colourPlanes(const VxVertex& v);
inline Double4 portableColourPlanes(const VxVertex& v) {
    const Byte4 bgra = __builtin_bit_cast(Byte4, v.argb);  // the word's bytes, lowest first
    return __builtin_convertvector(__builtin_shufflevector(bgra, bgra, 2, 1, 0, 3), Double4);
}

// Interpolation planes of the attributes from the (float) snapped positions, given their
// doubled area `det` = x1 * y2 - x2 * y1 (below); unit 1's v coordinate only when unit 1 is
// sampled (its planes are not read otherwise).
void makePlanes(VxSetup& s, const VxVertex& va, const VxVertex& vb, const VxVertex& vc,
                double ax, double ay, double bx, double by, double cx, double cy, double det,
                bool unit1) {
    const double x1 = bx - ax, y1 = by - ay, x2 = cx - ax, y2 = cy - ay;
    const double inv = 1.0 / det;
    // Planes k..k+3 from the values at the three vertices.
    const auto four = [&](int k, Double4 v0, Double4 v1, Double4 v2) __attribute__((always_inline)) {
        const Double4 d1 = v1 - v0, d2 = v2 - v0;
        const Double4 dx = (d1 * y2 - d2 * y1) * inv;
        const Double4 dy = (d2 * x1 - d1 * x2) * inv;
        const Float4 base = __builtin_convertvector(v0, Float4);
        const Float4 fx = __builtin_convertvector(dx, Float4);
        const Float4 fy = __builtin_convertvector(dy, Float4);
        std::memcpy(s.base + k, &base, sizeof base);
        std::memcpy(s.dx + k, &fx, sizeof fx);
        std::memcpy(s.dy + k, &fy, sizeof fy);
    };
    static_assert(VX_PL_U0 == VX_PL_Q + 1 && VX_PL_V0 == VX_PL_Q + 2 && VX_PL_U1 == VX_PL_Q + 3 &&
                  VX_PL_G == VX_PL_R + 1 && VX_PL_B == VX_PL_R + 2 && VX_PL_A == VX_PL_R + 3);
    four(VX_PL_Q, texturePlanes(va), texturePlanes(vb), texturePlanes(vc));
    four(VX_PL_R, colourPlanes(va), colourPlanes(vb), colourPlanes(vc));
    if (unit1) {
        const double v0 = va.v1, d1 = vb.v1 - v0, d2 = vc.v1 - v0;
        s.base[VX_PL_V1] = float(v0);
        s.dx[VX_PL_V1] = float((d1 * y2 - d2 * y1) * inv);
        s.dy[VX_PL_V1] = float((d2 * x1 - d1 * x2) * inv);
    }
    s.offX = float(0.5 - ax);
    s.offY = float(0.5 - ay);
}

// Sample positions inside a bounding box narrower and shorter than this (in 1/256 pixel)
// keep every edge function value, stepped one column past the box, below 2^30: such
// triangles step their edges in 32 bits, the others in 64.
constexpr std::int64_t VX_EDGE32_EXTENT = std::int64_t(1) << 14;

// Rows and columns of the clip window whose pixel centres lie in a box of snapped
// positions, rows from the first this worker owns; empty (first > last) when there are none.
struct CentreBox {
    int rowFirst, rowLast, colFirst, colLast;
};

inline bool centresIn(const VxWorker& w, std::int32_t minX, std::int32_t maxX,
                      std::int32_t minY, std::int32_t maxY, CentreBox* box) {
    const VxDrawState& st = w.state;
    int rowFirst = int(vxFirstCentre(minY));
    int rowLast = int(vxLastCentre(maxY));
    rowFirst = rowFirst < st.clipMinY ? st.clipMinY : rowFirst;
    rowLast = rowLast > st.clipMaxY - 1 ? st.clipMaxY - 1 : rowLast;
    if (rowFirst > rowLast) return false;
    rowFirst = nextOwnedRow(w, rowFirst);
    if (rowFirst > rowLast) return false;
    int colFirst = int(vxFirstCentre(minX));
    int colLast = int(vxLastCentre(maxX));
    colFirst = colFirst < st.clipMinX ? st.clipMinX : colFirst;
    colLast = colLast > st.clipMaxX - 1 ? st.clipMaxX - 1 : colLast;
    if (colFirst > colLast) return false;
    *box = {rowFirst, rowLast, colFirst, colLast};
    return true;
}

// At most four candidate columns and four candidate rows: tinyCoverage() looks at them all.
inline bool tinyBox(const CentreBox& box) {
    return box.colLast - box.colFirst < 4 && box.rowLast - box.rowFirst < 4;
}

// The row after y that this worker draws: the next one, or past a band of another worker.
inline int nextRowOf(const VxWorker& w, int y) {
    ++y;
    return (y & ((1 << VX_BAND_SHIFT) - 1)) == 0 ? nextOwnedRow(w, y) : y;
}

inline std::int32_t min3(std::int32_t a, std::int32_t b, std::int32_t c) {
    const std::int32_t m = a < b ? a : b;
    return m < c ? m : c;
}
inline std::int32_t max3(std::int32_t a, std::int32_t b, std::int32_t c) {
    const std::int32_t m = a > b ? a : b;
    return m > c ? m : c;
}

// ---- Orientation and culling ------------------------------------------------------------------

// A triangle that survived culling, ready for coverage: its snapped vertices and its vertex
// records in the order that makes its interior the positive side of every edge (b and c
// swapped where its signed area is negative), and its doubled area, made positive.
struct Facing {
    std::int32_t ax, ay, bx, by, cx, cy;
    const VxVertex *a, *b, *c;
    std::int64_t area;
};

// The orientation and culling step of every triangle, drawn alone or as half of a cell:
// false when the triangle of drawable command vertices ia, ib, ic has no area or the cull mode
// drops its signed area (VX_CULL_NEGATIVE the triangles below 0, VX_CULL_POSITIVE those above);
// otherwise `t` is the triangle as Facing says. Drawable vertices snap within 2^28, so the
// differences fit 32 bits and the area 64.
inline bool orientTriangle(const VxWorker& w, const VxVertex* v, int ia, int ib, int ic,
                           Facing* t) {
    const std::int32_t ax = w.snapX[ia], ay = w.snapY[ia], bx = w.snapX[ib], by = w.snapY[ib];
    const std::int32_t cx = w.snapX[ic], cy = w.snapY[ic];
    const std::int64_t area =
        std::int64_t(bx - ax) * (cy - ay) - std::int64_t(cx - ax) * (by - ay);
    const std::int32_t cull = w.state.cullMode;
    if (area == 0 || (cull == VX_CULL_NEGATIVE && area < 0) ||
        (cull == VX_CULL_POSITIVE && area > 0)) {
        return false;
    }
    *t = {ax, ay, bx, by, cx, cy, &v[ia], &v[ib], &v[ic], area};
    if (area < 0) {
        std::swap(t->bx, t->cx);
        std::swap(t->by, t->cy);
        std::swap(t->b, t->c);
        t->area = -area;
    }
    return true;
}

// The attribute planes of a triangle into the worker's setup. `small`: its box of snapped
// positions is within VX_EDGE32_EXTENT, where the differences and their products are exact in
// double (below 2^28 * 2^-16), so the doubled area is the integer one scaled: no rounding
// either way, and the division starts sooner.
inline void facingPlanes(VxWorker& w, const Facing& t, bool small) {
    constexpr double SCALE = 1.0 / (1 << VX_SUBPIXEL_BITS);
    const double ax = double(t.ax) * SCALE, ay = double(t.ay) * SCALE;
    const double bx = double(t.bx) * SCALE, by = double(t.by) * SCALE;
    const double cx = double(t.cx) * SCALE, cy = double(t.cy) * SCALE;
    const double det = small ? double(t.area) * (SCALE * SCALE)
                             : (bx - ax) * (cy - ay) - (cx - ax) * (by - ay);
    makePlanes(w.setup, *t.a, *t.b, *t.c, ax, ay, bx, by, cx, cy, det,
               (w.state.flags & VX_DRAW_TEX1) != 0);
}

// ---- Coverage strategies ----------------------------------------------------------------------

// Where a triangle's covered pixels go, row by row. Its planes are made when its first pixel is
// found (most sub-pixel triangles cover none), before that pixel enters the batch, which may be
// shaded (with this setup) as soon as it is full.
struct TriangleSpans {
    VxWorker& w;
    const Facing& t;
    bool small;  // as facingPlanes() takes it
    bool planesMade;
    // Adds columns x0..x1 (inclusive) of row y.
    __attribute__((always_inline)) void add(int y, int x0, int x1) {
        if (!planesMade) {
            planesMade = true;
            facingPlanes(w, t, small);
        }
        addSpan(w, y, x0, x1);
    }
    // Adds the covered columns of row y, bit i for column first + i (one run).
    __attribute__((always_inline)) void addBits(int y, int first, unsigned bits) {
        if (bits) add(y, first + std::countr_zero(bits), first + std::bit_width(bits) - 1);
    }
};

// The edge functions of a triangle in a small box (VX_EDGE32_EXTENT), taken relative to each
// edge's first vertex so they fit 32 bits: at the centres of four columns from x0 (snapped
// units) side by side, their step over four columns, and what a row adds.
struct ColumnEdges {
    Int4 first[3], step4[3], down[3];
    std::int32_t eb[3], py[3];
    // The functions of the four columns on the row whose centre is at pcy.
    void atRow(std::int32_t pcy, Int4* e) const {
        for (int k = 0; k < 3; ++k) e[k] = first[k] + eb[k] * (pcy - py[k]);
    }
    // From one row's functions to the next row's.
    void nextRow(Int4* e) const {
        for (int k = 0; k < 3; ++k) e[k] += down[k];
    }
};

// In a small box every product and sum below stays within 32 bits.
inline ColumnEdges columnEdges(const Edge* edges, std::int32_t x0) {
    ColumnEdges c;
    for (int k = 0; k < 3; ++k) {
        const Edge& e = edges[k];
        const std::int32_t a = std::int32_t(e.a), b = std::int32_t(e.b);
        const std::int32_t step = a * std::int32_t(1 << VX_SUBPIXEL_BITS);
        c.first[k] = (a * (x0 - std::int32_t(e.px)) - std::int32_t(e.bias)) + IOTA4 * step;
        c.step4[k] = Int4{} + 4 * step;
        c.down[k] = Int4{} + b * std::int32_t(1 << VX_SUBPIXEL_BITS);
        c.eb[k] = b;
        c.py[k] = std::int32_t(e.py);
    }
    return c;
}

// A tiny box's candidates covered by a triangle in it (small, oriented): the edge functions at
// all sixteen candidate centres, two rows of four columns per vector, and the covered ones as a
// bit mask, bit 4 r + c for row r and column c from (colFirst, rowFirst). Relative to each
// edge's first vertex the values fit 32 bits, as in coverColumns() (the candidates lie within
// three columns and rows of the box).
inline unsigned tinyCoverage(const Facing& t, const CentreBox& box) {
    constexpr std::int32_t ONE = 1 << VX_SUBPIXEL_BITS, HALF = ONE / 2;
    // The three edges (a to b, b to c, c to a) side by side, as makeEdge() has them:
    // a = py - qy, b = qx - px, bias 0 on top-left edges; lane 3 repeats the first.
    const Int4 px = {t.ax, t.bx, t.cx, t.ax};
    const Int4 py = {t.ay, t.by, t.cy, t.ay};
    const Int4 ea = py - __builtin_shufflevector(py, py, 1, 2, 0, 1);
    const Int4 eb = __builtin_shufflevector(px, px, 1, 2, 0, 1) - px;
    const Int4 bias = 1 + ((ea > 0) | ((ea == 0) & (eb > 0)));  // comparisons give -1
    // Each edge's function at the first candidate centre, and its steps to the next column
    // and row.
    const std::int32_t x0 = box.colFirst * ONE + HALF;
    const std::int32_t y0 = box.rowFirst * ONE + HALF;
    const Int4 at = ea * (x0 - px) + eb * (y0 - py) - bias;
    const Int4 right = ea * ONE, down = eb * ONE;
    constexpr Int8 COLUMN = {0, 1, 2, 3, 0, 1, 2, 3}, ROW = {0, 0, 0, 0, 1, 1, 1, 1};
    Int8 top = {}, bottom = {};  // rows 0 and 1, rows 2 and 3: OR of the three edges
    const auto edge = [&]<int K>() __attribute__((always_inline)) {
        const Int8 step = __builtin_shufflevector(down, down, K, K, K, K, K, K, K, K);
        const Int8 value = __builtin_shufflevector(at, at, K, K, K, K, K, K, K, K) +
                           COLUMN * __builtin_shufflevector(right, right, K, K, K, K, K, K, K, K) +
                           ROW * step;
        top |= value;
        bottom |= value + (step + step);
    };
    edge.template operator()<0>();
    edge.template operator()<1>();
    edge.template operator()<2>();
    // Inside where no edge function is negative.
    return laneBits(top >= 0) | laneBits(bottom >= 0) << 8;
}

// The candidates of a tiny box this worker draws, as tinyCoverage() numbers them: the box's
// columns on each of its rows, up to a band of another worker (a band starting within the
// four rows belongs to another worker, and so do the rows after it).
inline unsigned tinyCandidates(const VxWorker& w, const CentreBox& box) {
    const unsigned columns = (1u << (box.colLast - box.colFirst + 1)) - 1;
    if (((box.rowFirst ^ box.rowLast) >> VX_BAND_SHIFT) == 0) {  // rows of one band (most)
        return (columns * 0x1111u) & ((2u << (4 * (box.rowLast - box.rowFirst) + 3)) - 1);
    }
    unsigned candidates = 0;
    for (int r = 0, y = box.rowFirst; y <= box.rowLast; ++r, ++y) {
        if (r > 0 && (y & ((1 << VX_BAND_SHIFT) - 1)) == 0 && nextOwnedRow(w, y) != y) break;
        candidates |= columns << (4 * r);
    }
    return candidates;
}

// Tiny triangles (most of a fine grid's): all sixteen candidate centres at once.
inline void coverTiny(TriangleSpans& spans, const CentreBox& box) {
    const unsigned inside = tinyCoverage(spans.t, box) & tinyCandidates(spans.w, box);
    for (int r = 0, y = box.rowFirst; y <= box.rowLast; ++r, ++y) {
        spans.addBits(y, box.colFirst, (inside >> (4 * r)) & 15u);
    }
}

// Small triangles up to 24 columns wide (most of a fine grid's that are not tiny): each row's
// edge functions at the candidate centres four side by side, the covered columns as a bit mask
// (a triangle's pixels on a row are one run). The samples stay within three columns of the
// box, so the values, relative to each edge's first vertex, fit 32 bits: the same integers as
// the 64-bit forms of the other strategies.
inline void coverColumns(TriangleSpans& spans, const Edge* edges, const CentreBox& box) {
    constexpr std::int32_t ONE = 1 << VX_SUBPIXEL_BITS, HALF = ONE / 2;
    const int columns = box.colLast - box.colFirst + 1;
    const int groups = (columns + 3) >> 2;
    const ColumnEdges c = columnEdges(edges, box.colFirst * ONE + HALF);
    // Columns of the last group past the box are not candidates.
    const unsigned live = (1u << columns) - 1;
    // The functions at the first columns of the row; the next row's differ by a sum.
    Int4 row[3];
    c.atRow(box.rowFirst * ONE + HALF, row);
    for (int y = box.rowFirst; y <= box.rowLast;) {
        unsigned bits = laneBits((row[0] | row[1] | row[2]) >= 0);
        if (groups > 1) {
            Int4 e[3] = {row[0], row[1], row[2]};
            for (int g = 1; g < groups; ++g) {
                for (int k = 0; k < 3; ++k) e[k] += c.step4[k];
                bits |= laneBits((e[0] | e[1] | e[2]) >= 0) << (4 * g);
            }
        }
        spans.addBits(y, box.colFirst, bits & live);
        const int next = nextRowOf(spans.w, y);
        if (next != y + 1) {
            if (next <= box.rowLast) c.atRow(next * ONE + HALF, row);
        } else {
            c.nextRow(row);
        }
        y = next;
    }
}

// Narrow triangles beyond the small extent (a vertex far away): each row's span ends found by
// stepping the 64-bit edge functions across the candidate columns.
inline void coverStepped(TriangleSpans& spans, const Edge* edges, const CentreBox& box) {
    constexpr std::int64_t ONE = 1 << VX_SUBPIXEL_BITS, HALF = ONE / 2;
    const std::int64_t colFirst = box.colFirst, colLast = box.colLast;
    for (int y = box.rowFirst; y <= box.rowLast; y = nextRowOf(spans.w, y)) {
        const std::int64_t pcy = std::int64_t(y) * ONE + HALF;
        std::int64_t r[3];
        for (int k = 0; k < 3; ++k) {
            const Edge& e = edges[k];
            // E(x) = a * (x * ONE + HALF - px) + b * (pcy - py) - bias = a * ONE * x + r
            r[k] = e.a * (HALF - e.px) + e.b * (pcy - e.py) - e.bias;
        }
        const std::int64_t s0 = edges[0].a * ONE, s1 = edges[1].a * ONE, s2 = edges[2].a * ONE;
        std::int64_t e0 = s0 * colFirst + r[0], e1 = s1 * colFirst + r[1];
        std::int64_t e2 = s2 * colFirst + r[2];
        std::int64_t xl = colLast + 1, xr = colFirst - 1;
        for (std::int64_t x = colFirst; x <= colLast; ++x) {
            const bool inside = (e0 | e1 | e2) >= 0;
            xl = inside && x < xl ? x : xl;
            xr = inside ? x : xr;
            e0 += s0;
            e1 += s1;
            e2 += s2;
        }
        if (xl <= xr) spans.add(y, int(xl), int(xr));
    }
}

// Wide triangles: a row's span ends where each edge function, a * ONE * x + r, crosses
// zero. With D = |a| * ONE and r = q * D + m (0 <= m < D), the first column inside a
// left edge (a > 0) is -q and the last inside a right edge (a < 0) is q. From one row to
// the next r grows by b * ONE, so q and m are stepped exactly; they are divided out
// afresh only where a run of rows this worker owns begins.
inline void coverWide(TriangleSpans& spans, const Edge* edges, const CentreBox& box) {
    constexpr std::int64_t ONE = 1 << VX_SUBPIXEL_BITS, HALF = ONE / 2;
    std::int64_t r[3] = {}, q[3] = {}, m[3] = {}, d[3], stepQ[3] = {}, stepM[3] = {};
    for (int k = 0; k < 3; ++k) {
        const Edge& e = edges[k];
        d[k] = (e.a < 0 ? -e.a : e.a) * ONE;
        if (e.a != 0) {
            stepQ[k] = floorDiv(e.b * ONE, d[k]);
            stepM[k] = e.b * ONE - stepQ[k] * d[k];
        }
    }
    bool fresh = true;
    for (int y = box.rowFirst; y <= box.rowLast;) {
        if (fresh) {
            const std::int64_t pcy = std::int64_t(y) * ONE + HALF;
            for (int k = 0; k < 3; ++k) {
                const Edge& e = edges[k];
                // E(x) = a * (x * ONE + HALF - px) + b * (pcy - py) - bias = a * ONE * x + r
                r[k] = e.a * (HALF - e.px) + e.b * (pcy - e.py) - e.bias;
                if (e.a != 0) {
                    q[k] = floorDiv(r[k], d[k]);
                    m[k] = r[k] - q[k] * d[k];
                }
            }
            fresh = false;
        }
        std::int64_t xl = box.colFirst, xr = box.colLast;
        for (int k = 0; k < 3; ++k) {
            const Edge& e = edges[k];
            if (e.a > 0) {
                xl = -q[k] > xl ? -q[k] : xl;
            } else if (e.a < 0) {
                xr = q[k] < xr ? q[k] : xr;
            } else if (r[k] < 0) {
                xr = xl - 1;
            }
        }
        if (xl <= xr) spans.add(y, int(xl), int(xr));
        for (int k = 0; k < 3; ++k) {
            const Edge& e = edges[k];
            if (e.a != 0) {
                // The carry without a branch: it comes irregularly along most edges.
                m[k] += stepM[k];
                const std::int64_t carry = m[k] >= d[k];
                m[k] -= d[k] & -carry;
                q[k] += stepQ[k] + carry;
            } else {
                r[k] += e.b * ONE;
            }
        }
        const int next = nextRowOf(spans.w, y);
        fresh = next != y + 1;
        y = next;
    }
}

// ---- Triangles --------------------------------------------------------------------------------

// Draws the triangle of drawable command vertices ia, ib, ic whose covered centres lie in
// `box` (rows from the first this worker owns), which may be larger than the triangle's own;
// `small`: the box of snapped positions around it is within VX_EDGE32_EXTENT. Set-up in
// stages: orientation and culling, then one of four coverage strategies by the box's size.
void triangleIn(VxWorker& w, const VxVertex* v, int ia, int ib, int ic, const CentreBox& box,
                bool small) {
    Facing t;
    if (!orientTriangle(w, v, ia, ib, ic, &t)) return;
    TriangleSpans spans{w, t, small, false};
    if (small && tinyBox(box)) {
        coverTiny(spans, box);
    } else {
        const Edge edges[3] = {makeEdge(t.ax, t.ay, t.bx, t.by), makeEdge(t.bx, t.by, t.cx, t.cy),
                               makeEdge(t.cx, t.cy, t.ax, t.ay)};
        // Narrow boxes test their columns (four at a time when small), wider ones find each
        // row's span ends by exact division.
        const bool narrow = box.colLast - box.colFirst < 24;
        if (narrow && small) {
            coverColumns(spans, edges, box);
        } else if (narrow) {
            coverStepped(spans, edges, box);
        } else {
            coverWide(spans, edges, box);
        }
    }
    endPrimitive(w);
}

// Draws the triangle of command vertices ia, ib, ic (snapped by runPrims).
void triangle(VxWorker& w, const VxVertex* v, int ia, int ib, int ic) {
    // Drawable vertices snap within 2^28 (VX_COORD_LIMIT in 1/256 pixel), so their boxes and
    // differences fit 32 bits; one that is not drawable snaps to 0 and is refused below.
    const std::int32_t sax = w.snapX[ia], say = w.snapY[ia], sbx = w.snapX[ib];
    const std::int32_t sby = w.snapY[ib], scx = w.snapX[ic], scy = w.snapY[ic];
    // Only pixels whose centres lie in the snapped bounding box can be covered: rows with
    // minY <= y * ONE + HALF <= maxY, columns likewise. Most sub-pixel triangles have none
    // and end here, before any set-up.
    const std::int32_t minY = min3(say, sby, scy), maxY = max3(say, sby, scy);
    const std::int32_t minX = min3(sax, sbx, scx), maxX = max3(sax, sbx, scx);
    CentreBox box;
    if (!centresIn(w, minX, maxX, minY, maxY, &box)) return;
    if (!(w.snapOk[ia] & w.snapOk[ib] & w.snapOk[ic])) return;
    const bool small = maxX - minX < VX_EDGE32_EXTENT && maxY - minY < VX_EDGE32_EXTENT;
    triangleIn(w, v, ia, ib, ic, box, small);
}

}  // namespace

void flushBatch(VxWorker& w) {
    VxBatch& b = w.batch;
    interpolatePending(w);
    if (b.n) w.state.finish(w.state, b);
    b.n = 0;
    b.pending = 0;
    b.stamped = 0;
    if (++w.epoch == 0) {  // after 2^32 batches: forget every row
        std::memset(w.rowEpoch, 0, sizeof w.rowEpoch);
        w.epoch = 1;
    }
}

namespace {

// ---- Cells ------------------------------------------------------------------------------------

// One triangle of a tiny cell: set up, and the candidates it covers (as tinyCoverage()
// numbers them); none when culled.
struct CellTriangle {
    Facing t;
    unsigned inside;
};

// The run of covered columns x0..x1 on row r of a tiny box's candidate bits; false when the
// row has none.
inline bool cellRun(const CentreBox& box, unsigned bits, int r, int* x0, int* x1) {
    const unsigned row = (bits >> (4 * r)) & 15u;
    *x0 = box.colFirst + std::countr_zero(row);
    *x1 = box.colFirst + std::bit_width(row) - 1;
    return row != 0;
}

// Makes room in the batch for a cell's covered pixels (at most 32), which enter one batch: a
// batch without room for them is drawn first, and so is one holding pixels within their rows'
// columns.
inline void makeRoomForCell(VxWorker& w, const CentreBox& box, unsigned covered) {
    if (w.batch.n + std::popcount(covered) > VX_BATCH_MAX) flushBatch(w);
    bool overlaps = false;
    for (int r = 0; r < 4; ++r) {
        int x0, x1;
        const int row = (box.rowFirst + r) & 63;
        if (cellRun(box, covered, r, &x0, &x1) && w.rowEpoch[row] == w.epoch) {
            overlaps |= x1 >= w.rowLo[row] && x0 <= w.rowHi[row];
        }
    }
    if (overlaps) flushBatch(w);
}

// Records the cell's rows as held by the batch and asks for the depth and colour its pixels
// will read and write, a batch ahead.
inline void holdCellRows(VxWorker& w, const CentreBox& box, unsigned covered) {
    // The buffers' addresses in registers: the row stores below cannot change them.
    const std::uint16_t* const depth = w.batch.depth;
    const std::uint16_t* const color = w.batch.color;
    const std::size_t pitch = std::size_t(w.batch.pitch);
    for (int r = 0; r < 4; ++r) {
        int x0, x1;
        if (!cellRun(box, covered, r, &x0, &x1)) continue;
        const int y = box.rowFirst + r;
        holdRow(w, y & 63, x0, x1);
        __builtin_prefetch(depth + std::size_t(y) * pitch + x0, 1);
        __builtin_prefetch(color + std::size_t(y) * pitch + x0, 1);
    }
}

// Adds the covered candidates of one cell triangle to the batch, whose room and rows are
// already made and held.
inline void addCellPixels(VxBatch& b, const CentreBox& box, unsigned inside) {
    // The count in a register while the rows are stored (the stores could alias it).
    int n = b.n;
    for (int r = 0; r < 4; ++r) {
        // A triangle's pixels on a row are one run: its first column and its length.
        const unsigned row = (inside >> (4 * r)) & 15u;
        if (!row) continue;
        // Eight columns and rows stored whole, the excess overwritten by later pixels or
        // never read (the arrays have room for it).
        const Int8 xs = (box.colFirst + std::countr_zero(row)) + IOTA8;
        const Int8 ys = Int8{} + (box.rowFirst + r);
        std::memcpy(b.x + n, &xs, sizeof xs);
        std::memcpy(b.y + n, &ys, sizeof ys);
        n += std::popcount(row);
    }
    b.n = n;
}

// Both triangles of a drawable grid cell, command vertices first..first + 3 drawn as the
// strip's triangles (0 1 2) and (2 1 3), whose candidate centres lie in a tiny `box` (rows
// from the first this worker owns): most cells of a fine grid. Each triangle is oriented,
// culled, covered and set up as triangleIn() does it, but the rows are looked at once for
// the cell: whether they overlap pixels already in the batch, their place in it, prefetching.
// The triangles' pixels then enter the batch one triangle after the other, each with its own
// planes. False, with nothing done, when the two cover a pixel in common (a folded cell): they
// must then be drawn one after the other.
bool tinyCell(VxWorker& w, const VxVertex* v, int first, const CentreBox& box) {
    const unsigned candidates = tinyCandidates(w, box);
    CellTriangle parts[2];
    for (int k = 0; k < 2; ++k) {
        CellTriangle& p = parts[k];
        const int ia = k == 0 ? first : first + 2, ic = k == 0 ? first + 2 : first + 3;
        p.inside = 0;
        if (orientTriangle(w, v, ia, first + 1, ic, &p.t)) {
            p.inside = tinyCoverage(p.t, box) & candidates;
        }
    }
    if (parts[0].inside & parts[1].inside) return false;
    const unsigned covered = parts[0].inside | parts[1].inside;
    if (!covered) return true;
    makeRoomForCell(w, box, covered);
    holdCellRows(w, box, covered);
    for (const CellTriangle& p : parts) {
        if (!p.inside) continue;
        facingPlanes(w, p.t, true);
        addCellPixels(w.batch, box, p.inside);
        endPrimitive(w);
    }
    return true;
}

// ---- Primitive commands -----------------------------------------------------------------------

// Draws strip vertices first..first + count - 1 as their triangles, each odd one with its
// first two vertices swapped so that all keep the strip's winding; `odd`: the first triangle
// counts as odd.
inline void drawStrip(VxWorker& w, const VxVertex* v, int first, int count, int odd) {
    for (int i = first; i + 2 < first + count; ++i) {
        if ((i - first + odd) & 1) {
            triangle(w, v, i + 1, i, i + 2);
        } else {
            triangle(w, v, i, i + 1, i + 2);
        }
    }
}

// A strip of four command vertices from `first`: a cell of a patch grid. True when it is drawn
// here: when the box of its vertices holds no pixel centre this worker draws (neither
// triangle is looked at), or when it is drawable and within the small extent (both
// triangles look for their pixels in the cell's box, found once, and a tiny box's cell is
// drawn whole). False when it is to be drawn as a strip.
inline bool drawCell(VxWorker& w, const VxVertex* v, int first) {
    const std::int32_t* sx = w.snapX + first;
    const std::int32_t* sy = w.snapY + first;
    const std::int32_t minX = std::min(std::min(sx[0], sx[1]), std::min(sx[2], sx[3]));
    const std::int32_t maxX = std::max(std::max(sx[0], sx[1]), std::max(sx[2], sx[3]));
    const std::int32_t minY = std::min(std::min(sy[0], sy[1]), std::min(sy[2], sy[3]));
    const std::int32_t maxY = std::max(std::max(sy[0], sy[1]), std::max(sy[2], sy[3]));
    CentreBox box;
    if (!centresIn(w, minX, maxX, minY, maxY, &box)) return true;
    const std::int32_t* ok = w.snapOk + first;
    if (!(ok[0] & ok[1] & ok[2] & ok[3]) || maxX - minX >= VX_EDGE32_EXTENT ||
        maxY - minY >= VX_EDGE32_EXTENT) {
        return false;
    }
    if (tinyBox(box) && tinyCell(w, v, first, box)) return true;
    triangleIn(w, v, first, first + 1, first + 2, box, true);
    triangleIn(w, v, first + 2, first + 1, first + 3, box, true);
    return true;
}

// Separate strips of `length` vertices each, as consecutive short strip calls pack into one
// command of `n` vertices.
inline void drawStrips(VxWorker& w, const VxVertex* v, int n, int length) {
    if (length < 3) return;
    for (int first = 0; first + length <= n; first += length) {
        if (length == 4 && drawCell(w, v, first)) continue;
        drawStrip(w, v, first, length, 0);
    }
}

// True when the command's rows, clipped, hold one this worker draws.
inline bool ownsRowsOf(const VxWorker& w, const VxPrimCommand* cmd) {
    const VxDrawState& st = w.state;
    const int rowFirst = cmd->rowFirst < st.clipMinY ? st.clipMinY : cmd->rowFirst;
    const int rowLast = cmd->rowLast > st.clipMaxY - 1 ? st.clipMaxY - 1 : cmd->rowLast;
    return rowFirst <= rowLast && nextOwnedRow(w, rowFirst) <= rowLast;
}

}  // namespace

void runPrims(VxWorker& w, const VxPrimCommand* cmd) {
    // Commands whose rows this worker does not own cost a few instructions, not a set-up
    // per triangle (the small triangles of a fine grid mostly lie in one or two bands).
    if (!ownsRowsOf(w, cmd)) return;
    const auto* v = reinterpret_cast<const VxVertex*>(cmd + 1);
    const int n = int(cmd->count) < VX_PRIM_CHUNK ? int(cmd->count) : VX_PRIM_CHUNK;
    // Each vertex is checked and snapped once, not once per triangle that uses it.
    snapVertices(v, n, w.snapX, w.snapY, w.snapOk);
    switch (cmd->mode) {
    case VX_PRIM_TRIANGLES:
        for (int i = 0; i + 2 < n; i += 3) triangle(w, v, i, i + 1, i + 2);
        break;
    case VX_PRIM_STRIP:
        drawStrip(w, v, 0, n, int(cmd->oddStart));
        break;
    case VX_PRIM_FAN:
        for (int i = 1; i + 1 < n; ++i) triangle(w, v, 0, i, i + 1);
        break;
    case VX_PRIM_STRIPS:
        drawStrips(w, v, n, int(cmd->stripLength));
        break;
    default:
        break;
    }
}

// A line covers the pixels of a DDA walk from the pixel holding one end to the pixel holding
// the other, both included; attributes go linearly along the major axis.
void runLine(VxWorker& w, const VxPrimCommand* cmd) {
    const auto* v = reinterpret_cast<const VxVertex*>(cmd + 1);
    const VxVertex& a = v[0];
    const VxVertex& b = v[1];
    if (!finiteVertex(a) || !finiteVertex(b)) return;
    const VxDrawState& st = w.state;
    const std::int64_t x0 = std::int64_t(std::floor(a.x)), y0 = std::int64_t(std::floor(a.y));
    const std::int64_t x1 = std::int64_t(std::floor(b.x)), y1 = std::int64_t(std::floor(b.y));
    const std::int64_t dx = x1 - x0, dy = y1 - y0;
    const std::int64_t adx = dx < 0 ? -dx : dx, ady = dy < 0 ? -dy : dy;
    const std::int64_t steps = adx > ady ? adx : ady;
    const bool xMajor = adx >= ady;
    VxSetup& s = w.setup;
    const double inv = steps > 0 ? 1.0 / double(steps) : 0.0;
    const double sign = xMajor ? (dx < 0 ? -1.0 : 1.0) : (dy < 0 ? -1.0 : 1.0);
    for (int k = 0; k < VX_PL_COUNT; ++k) {
        const double d = (double(attribute(b, k)) - double(attribute(a, k))) * inv * sign;
        s.base[k] = attribute(a, k);
        s.dx[k] = xMajor ? float(d) : 0.0f;
        s.dy[k] = xMajor ? 0.0f : float(d);
    }
    s.offX = xMajor ? -float(x0) : 0.0f;
    s.offY = xMajor ? 0.0f : -float(y0);
    for (std::int64_t i = 0; i <= steps; ++i) {
        // Minor coordinate rounded to nearest: floor((2 * i * d + steps) / (2 * steps)).
        const std::int64_t px = xMajor ? x0 + (dx < 0 ? -i : i)
                                       : x0 + (steps ? floorDiv(2 * i * dx + steps, 2 * steps) : 0);
        const std::int64_t py = xMajor ? y0 + (steps ? floorDiv(2 * i * dy + steps, 2 * steps) : 0)
                                       : y0 + (dy < 0 ? -i : i);
        if (px < st.clipMinX || px >= st.clipMaxX || py < st.clipMinY || py >= st.clipMaxY) {
            continue;
        }
        if (!ownsRow(w, int(py))) continue;
        addSpan(w, int(py), int(px), int(px));
    }
    endPrimitive(w);
}

void runClear(VxWorker& w, const VxClearCommand* cmd) {
    std::uint16_t* color = vexaDevice.colorBuffers[w.target];
    std::uint16_t* depth = vexaDevice.depthBuffer;
    const int pitch = vexaDevice.width;
    for (int y = nextOwnedRow(w, cmd->minY); y < cmd->maxY;) {
        std::uint16_t* c = color + std::size_t(y) * std::size_t(pitch);
        std::uint16_t* d = depth + std::size_t(y) * std::size_t(pitch);
        for (int x = cmd->minX; x < cmd->maxX; ++x) {
            c[x] = cmd->color;
            d[x] = cmd->depth;
        }
        ++y;
        if ((y & ((1 << VX_BAND_SHIFT) - 1)) == 0) y = nextOwnedRow(w, y);
    }
}
