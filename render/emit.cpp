// Primitive emission and clipping: accepts, drops or clips triangles on their clip codes,
// draws patch grids and zig-zag polygons, and clips triangles and lines plane by plane into a
// fixed pool. Entries: drawPatchGrid, emitTriangle, drawPolygon, clipTriangle,
// drawClippedLine. Draws through the rasterizer's drawing calls; reads the transform stage's
// clip bounds, the tessellators' grid and renderOptions.
#include "render/emit.h"

#include <bit>
#include <cassert>

#include "render/options.h"
#include "render/surfacepass.h"
#include "render/tessellate.h"
#include "vexa/vexa.h"


namespace {

inline std::uint32_t floatBits(float f) { return std::bit_cast<std::uint32_t>(f); }

inline bool isNanBits(std::uint32_t bits) { return (bits & 0x7FFFFFFFu) > 0x7F800000u; }
inline bool isFiniteBits(std::uint32_t bits) {
    return (bits & 0x7F800000u) != 0x7F800000u;
}

// A vertex leaving the clipper must have finite x, y and q: a NaN that slipped through the
// sign-bit tests, or an infinite x of a vertex at w = 0 whose perspective divide was undone
// (inf * 0), would otherwise reach the rasterizer.
inline bool vertexDrawable(const ScreenVertex& v) {
    return isFiniteBits(floatBits(v.x)) && isFiniteBits(floatBits(v.y)) &&
           isFiniteBits(floatBits(v.q));
}

// Signed inside distance of v from plane k of the bounds in use; inside when the sign bit is
// clear.
inline float planeDistance(int k, const ScreenVertex& v) {
    const ClipBounds& b = transformState.clip;
    switch (k) {
        case PLANE_X_MIN: return v.x - b.xMin;
        case PLANE_X_MAX: return b.xMax - v.x;
        case PLANE_Y_MIN: return v.y - b.yMin;
        case PLANE_Y_MAX: return b.yMax - v.y;
        case PLANE_NEAR: return v.w - b.wNear;
        default: return b.wFar - v.w;
    }
}

// The coordinate difference r - p along the axis of plane k, signed so that
// t = -d(p) / difference, the fraction of the way from p to r where d reaches 0.
inline float planeDifference(int k, const ScreenVertex& p, const ScreenVertex& r) {
    switch (k) {
        case PLANE_X_MIN: return r.x - p.x;
        case PLANE_X_MAX: return p.x - r.x;
        case PLANE_Y_MIN: return r.y - p.y;
        case PLANE_Y_MAX: return p.y - r.y;
        case PLANE_NEAR: return r.w - p.w;
        default: return p.w - r.w;
    }
}

// A fresh pool vertex, or null (and the overflow mark) when the pool is used up.
inline ScreenVertex* takePoolVertex() {
    if (surfacePass.clipScratch.cursor >= CLIP_POOL_SIZE) {
        surfacePass.clipScratch.overflow = true;
        return nullptr;
    }
    return &surfacePass.clipScratch.vertex[surfacePass.clipScratch.cursor++];
}

// Undoes the perspective divide of the fields that are interpolated in eye space.
inline void undoDivide(ScreenVertex& v) {
    const float w = v.w;
    v.x *= w;
    v.y *= w;
    v.s0 *= w;
    v.t0 *= w;
    v.s1 *= w;
    v.t1 *= w;
}

// The crossing of edge p(outside)-r(inside) with plane k, interpolated from the outside
// vertex so that a shared edge clips to the same point from either triangle.
const ScreenVertex* makeIntersection(int k, const ScreenVertex& p, const ScreenVertex& r,
                                     float distanceP) {
    ScreenVertex* out = takePoolVertex();
    if (out == nullptr) return nullptr;
    const float t = -distanceP * (1.0f / planeDifference(k, p, r));
    if (k < PLANE_NEAR) {
        lerpVertex(*out, t, p, r);
        out->w = 0.0f;
        out->flags = 0;
        return out;
    }
    ScreenVertex pe = p;
    ScreenVertex re = r;
    undoDivide(pe);
    undoDivide(re);
    lerpVertex(*out, t, pe, re);
    const ClipBounds& b = transformState.clip;
    const float planeW = (k == PLANE_NEAR) ? b.wNear : b.wFar;
    const float planeQ = (k == PLANE_NEAR) ? b.invNear : b.invFar;
    out->x *= planeQ;
    out->y *= planeQ;
    out->s0 *= planeQ;
    out->t0 *= planeQ;
    out->s1 *= planeQ;
    out->t1 *= planeQ;
    out->w = planeW;
    out->q = planeQ;
    out->flags = 0;
    return out;
}

// The two triangles of a cell that is not wholly inside, wireframe: edges drawn directly when
// inside, through the line clipper when partly outside; counts 1 unless dropped.
int drawWireTriangle(const ScreenVertex* a, const ScreenVertex* b, const ScreenVertex* c) {
    const std::uint32_t all = a->flags & b->flags & c->flags;
    if (all != 0) return 0;
    if ((a->flags | b->flags | c->flags) == 0) {
        vxDrawLine(a, b);
        vxDrawLine(b, c);
        vxDrawLine(c, a);
    } else {
        drawClippedLine(*a, *b);
        drawClippedLine(*b, *c);
        drawClippedLine(*c, *a);
    }
    return 1;
}

// Walks the n x n cells of the tessellators' grid: a wholly inside cell goes to `inside` (counting 2),
// any other cell is split along V0-V3 and each half goes to `split`.
template <typename Inside, typename Split>
int forEachCell(int n, Inside inside, Split split) {
    const int side = n + 1;
    int triangles = 0;
    for (int i = 0; i < n; ++i) {
        const ScreenVertex* row = &surfacePass.tessellation.grid[i * side];
        const ScreenVertex* next = row + side;
        for (int j = 0; j < n; ++j) {
            const ScreenVertex* v0 = row + j;
            const ScreenVertex* v1 = row + j + 1;
            const ScreenVertex* v2 = next + j;
            const ScreenVertex* v3 = next + j + 1;
            if ((v0->flags | v1->flags | v2->flags | v3->flags) == 0) {
                inside(v0, v1, v2, v3);
                triangles += 2;
            } else {
                triangles += split(v0, v1, v3);
                triangles += split(v0, v3, v2);
            }
        }
    }
    return triangles;
}

int drawGridFilled(int n) {
    return forEachCell(
        n,
        [](const ScreenVertex* v0, const ScreenVertex* v1, const ScreenVertex* v2,
           const ScreenVertex* v3) {
            // One strip per cell; its diagonal runs from V1 to V2.
            const void* strip[4] = {v0, v1, v2, v3};
            vxDrawVertexArray(VX_TRIANGLE_STRIP, 4, strip);
        },
        emitTriangle);
}

int drawGridWire(int n) {
    return forEachCell(
        n,
        [](const ScreenVertex* v0, const ScreenVertex* v1, const ScreenVertex* v2,
           const ScreenVertex* v3) {
            vxDrawLine(v0, v1);
            vxDrawLine(v1, v3);
            vxDrawLine(v3, v0);
            vxDrawLine(v3, v2);
            vxDrawLine(v2, v0);
        },
        drawWireTriangle);
}

}  // namespace

bool vertexHasNan(const ScreenVertex& v) {
    return isNanBits(floatBits(v.x)) || isNanBits(floatBits(v.y)) || isNanBits(floatBits(v.w));
}

int drawPatchGrid(const PatchRecord& patch) {
    const int n = patch.steps;
    assert(n >= 1 && n <= GRID_MAX_STEPS);
    return renderOptions.wireframe ? drawGridWire(n) : drawGridFilled(n);
}

int emitTriangle(const ScreenVertex* a, const ScreenVertex* b, const ScreenVertex* c) {
    if ((a->flags | b->flags | c->flags) == 0) {
        vxDrawTriangle(a, b, c);
        return 1;
    }
    if ((a->flags & b->flags & c->flags) != 0) return 0;
    return clipTriangle(a, b, c);
}

int drawPolygon(int m, const ScreenVertex* const* p) {
    assert(m >= 3);
    int triangles = 0;
    if ((m & 1) == 0) triangles += emitTriangle(p[m / 2], p[m / 2 - 1], p[m / 2 + 1]);
    triangles += emitTriangle(p[0], p[1], p[m - 1]);
    const ScreenVertex* a = p[1];
    const ScreenVertex* b = p[m - 1];
    int front = 2;
    int back = m - 2;
    for (int pass = (m + 1) / 2 - 2; pass > 0; --pass) {
        triangles += emitTriangle(a, b, p[front]);
        a = p[front];
        triangles += emitTriangle(b, a, p[back]);
        b = p[back];
        ++front;
        --back;
    }
    return triangles;
}

int clipTriangle(const ScreenVertex* a, const ScreenVertex* b, const ScreenVertex* c) {
    if (vertexHasNan(*a) || vertexHasNan(*b) || vertexHasNan(*c)) return 0;
    surfacePass.clipScratch.cursor = 0;
    surfacePass.clipScratch.overflow = false;
    const ScreenVertex** in = surfacePass.clipScratch.list[0];
    const ScreenVertex** out = surfacePass.clipScratch.list[1];
    in[0] = a;
    in[1] = b;
    in[2] = c;
    int m = 3;
    for (int k = PLANE_FAR; k >= PLANE_X_MIN; --k) {
        int count = 0;
        for (int i = 0; i + 1 < m; ++i) {
            if (count + 2 > CLIP_LIST_SIZE) return 0;
            count += clipEdge(k, &out[count], &out[count + 1], in[i], in[i + 1]);
        }
        if (count == 0) return 0;
        if (count + 2 > CLIP_LIST_SIZE) return 0;
        count += clipEdge(k, &out[count], &out[count + 1], in[m - 1], in[0]);
        if (surfacePass.clipScratch.overflow) return 0;
        m = count;
        const ScreenVertex** swap = in;
        in = out;
        out = swap;
    }
    if (m < 3) return 0;
    const void* polygon[CLIP_LIST_SIZE];
    for (int i = 0; i < m; ++i) {
        if (!vertexDrawable(*in[i])) return 0;
        polygon[i] = in[i];
    }
    vxDrawVertexArray(VX_POLYGON, m, polygon);
    return m - 2;
}

int clipEdge(int k, const ScreenVertex** out0, const ScreenVertex** out1, const ScreenVertex* a,
             const ScreenVertex* b) {
    const float da = planeDistance(k, *a);
    const float db = planeDistance(k, *b);
    const bool aInside = (floatBits(da) >> 31) == 0;
    const bool bInside = (floatBits(db) >> 31) == 0;
    if (aInside && bInside) {
        *out0 = a;
        return 1;
    }
    if (!aInside && !bInside) return 0;
    if (bInside) {
        const ScreenVertex* made = makeIntersection(k, *a, *b, da);
        if (made == nullptr) return 0;
        *out0 = made;
        return 1;
    }
    const ScreenVertex* made = makeIntersection(k, *b, *a, db);
    *out0 = a;
    if (made == nullptr) return 1;
    *out1 = made;
    return 2;
}

void lerpVertex(ScreenVertex& out, float t, const ScreenVertex& p, const ScreenVertex& r) {
    out.x = p.x + t * (r.x - p.x);
    out.y = p.y + t * (r.y - p.y);
    out.q = p.q + t * (r.q - p.q);
    out.s0 = p.s0 + t * (r.s0 - p.s0);
    out.t0 = p.t0 + t * (r.t0 - p.t0);
    out.s1 = p.s1 + t * (r.s1 - p.s1);
    out.t1 = p.t1 + t * (r.t1 - p.t1);
    float channel[4];
    for (int byte = 0; byte < 4; ++byte) {
        const int shift = 24 - 8 * byte;
        const float from = static_cast<float>((p.colour >> shift) & 0xFFu);
        const float to = static_cast<float>((r.colour >> shift) & 0xFFu);
        channel[byte] = (from + t * (to - from)) * (1.0f / 256.0f);
    }
    out.colour = packColor(channel[0], channel[1], channel[2], channel[3]);
}

int drawClippedLine(const ScreenVertex& a, const ScreenVertex& b) {
    if (vertexHasNan(a) || vertexHasNan(b)) return 0;
    surfacePass.clipScratch.cursor = 0;
    surfacePass.clipScratch.overflow = false;
    // The list (a, b) is rewritten in place by each plane: a crossing replaces whichever end
    // was outside.
    const ScreenVertex* list[2] = {&a, &b};
    for (int k = PLANE_FAR; k >= PLANE_X_MIN; --k) {
        if (clipEdge(k, &list[0], &list[1], list[0], list[1]) == 0) return 0;
    }
    const ScreenVertex* first = list[0];
    const ScreenVertex* second = list[1];
    if (surfacePass.clipScratch.overflow || !vertexDrawable(*first) || !vertexDrawable(*second)) {
        return 0;
    }
    vxDrawLine(first, second);
    return 1;
}
