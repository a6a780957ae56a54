// Drawing calls of Vexa on the program thread (vxDrawTriangle, vxDrawLine, vxDrawVertexArray,
// vxDrawVertexList): vertices are read through the declared layout and copied, with the draw
// state in force, into the command ring, so the program may reuse its arrays at once. Each
// command carries the rows its vertices span, so a worker skips commands outside its bands;
// consecutive short strips share one command. The workers rasterize (vx_raster_body.h).
#include "vexa/vx_local.h"

#include <cstddef>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

VxFetchLayout vxMakeFetchLayout() {
    const VxRenderState& s = vexaDevice.state;
    const auto offset = [&](int param) {
        return s.layoutEnabled[param] ? s.layoutOffset[param] : -1;
    };
    VxFetchLayout l;
    l.xy = s.layoutOffset[VX_PARAM_XY];
    l.q = offset(VX_PARAM_Q);
    l.argb = offset(VX_PARAM_ARGB);
    l.st0 = offset(VX_PARAM_ST0);
    l.st1 = offset(VX_PARAM_ST1);
    l.flipY = s.origin == VX_ORIGIN_LOWER_LEFT;
    l.usual = l.q >= 0 && l.argb >= 0 && l.st0 >= 0 && l.st1 < 0 && !l.flipY;
    l.height = float(vexaDevice.height);
    l.scale0 = vexaDevice.drawState.tex[0].scale;
    l.scale1 = vexaDevice.drawState.tex[1].scale;
    return l;
}

namespace {

// Reads one vertex through the layout into the workers' form, in two overlapping 16-byte
// stores (x y q, then u0 v0 u1 v1) and the colour word, each value by the same float
// operation as one at a time.
static_assert(offsetof(VxVertex, u0) == 12 && offsetof(VxVertex, argb) == 28);
// USUAL: the layout is the usual one (VxFetchLayout::usual), so its tests are left out.
template <bool USUAL>
__attribute__((always_inline)) inline void fetch(const VxFetchLayout& l, const void* src,
                                                 VxVertex* v) {
    const auto* p = static_cast<const std::uint8_t*>(src);
    std::uint32_t argb = 0xFFFFFFFFu;
    if (USUAL || l.argb >= 0) std::memcpy(&argb, p + l.argb, 4);
#if defined(__SSE2__)
    // Pairs of floats come in as 8-byte loads into the low half of a register.
    const auto pair = [](const std::uint8_t* at) __attribute__((always_inline)) {
        double bits;
        std::memcpy(&bits, at, sizeof bits);
        return _mm_castpd_ps(_mm_set_sd(bits));
    };
    const __m128 q = USUAL || l.q >= 0 ? _mm_load_ss(reinterpret_cast<const float*>(p + l.q))
                                       : _mm_set_ss(1.0f);
    __m128 head = _mm_movelh_ps(pair(p + l.xy), q);  // x y q 0
    if (!USUAL && l.flipY) {
        alignas(16) float lanes[4];
        _mm_store_ps(lanes, head);
        lanes[1] = l.height - lanes[1];
        head = _mm_load_ps(lanes);
    }
    const __m128 st0 = USUAL || l.st0 >= 0 ? pair(p + l.st0) : _mm_setzero_ps();
    // Without its own coordinates unit 1 uses unit 0's.
    const __m128 st1 = !USUAL && l.st1 >= 0 ? pair(p + l.st1) : st0;
    const __m128 tex = _mm_mul_ps(_mm_movelh_ps(st0, st1),
                                  _mm_setr_ps(l.scale0, l.scale0, l.scale1, l.scale1));
#else
    using Float4 = float __attribute__((vector_size(16)));
    float f[2];
    std::memcpy(f, p + l.xy, sizeof f);
    float q = 1.0f;
    if (l.q >= 0) std::memcpy(&q, p + l.q, 4);
    float st[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    if (l.st0 >= 0) std::memcpy(st, p + l.st0, 8);
    // Without its own coordinates unit 1 uses unit 0's.
    if (l.st1 >= 0) {
        std::memcpy(st + 2, p + l.st1, 8);
    } else {
        st[2] = st[0];
        st[3] = st[1];
    }
    const Float4 head = {f[0], l.flipY ? l.height - f[1] : f[1], q, 0.0f};
    const Float4 tex = Float4{st[0], st[1], st[2], st[3]} *
                       Float4{l.scale0, l.scale0, l.scale1, l.scale1};
#endif
    auto* out = reinterpret_cast<std::uint8_t*>(v);
    std::memcpy(out, &head, sizeof head);
    std::memcpy(out + offsetof(VxVertex, u0), &tex, sizeof tex);
    std::memcpy(out + offsetof(VxVertex, argb), &argb, sizeof argb);
}

// Fetches `count` vertices into v, widening [minY, maxY] to take in their y; the usual
// layout without its tests.
template <class VertexAt>
inline void fetchAll(std::uint32_t count, VertexAt vertexAt, VxVertex* v, float& minY,
                     float& maxY) {
    // A copy: the vertex stores below could alias the device's (they are byte stores), which
    // would have every field read again for every vertex.
    const VxFetchLayout layout = vexaDevice.fetchLayout;
    const auto run = [&]<bool USUAL>() __attribute__((always_inline)) {
        for (std::uint32_t i = 0; i < count; ++i) {
            fetch<USUAL>(layout, vertexAt(i), &v[i]);
            minY = v[i].y < minY ? v[i].y : minY;
            maxY = v[i].y > maxY ? v[i].y : maxY;
        }
    };
    if (layout.usual) {
        run.template operator()<true>();
    } else {
        run.template operator()<false>();
    }
}

constexpr std::uint32_t primBytes(std::uint32_t count) {
    return std::uint32_t((sizeof(VxPrimCommand) + count * sizeof(VxVertex) + 7u) & ~std::size_t(7));
}

// Queues `count` vertices (already picked by `vertexAt`) as one primitive command.
template <class VertexAt>
void queuePrims(std::uint32_t type, std::uint32_t mode, std::uint32_t count, std::uint32_t odd,
                VertexAt vertexAt) {
    const std::uint32_t bytes = primBytes(count);
    auto* c = static_cast<VxPrimCommand*>(vxQueueReserve(bytes));
    c->head.type = type;
    c->head.bytes = bytes;
    c->mode = mode;
    c->count = count;
    c->oddStart = odd;
    c->stripLength = 0;
    auto* v = reinterpret_cast<VxVertex*>(c + 1);
    // NaN y never wins a comparison: a triangle with such a vertex is dropped by set-up, and
    // the others lie within the range of the remaining vertices. The limits keep the range
    // conversion in bounds; set-up drops vertices that far out anyway.
    float minY = 2.0f * VX_COORD_LIMIT, maxY = -2.0f * VX_COORD_LIMIT;
    fetchAll(count, vertexAt, v, minY, maxY);
    minY = minY > -2.0f * VX_COORD_LIMIT ? minY : -2.0f * VX_COORD_LIMIT;
    maxY = maxY < 2.0f * VX_COORD_LIMIT ? maxY : 2.0f * VX_COORD_LIMIT;
    c->rowFirst = std::int32_t(vxFirstCentre(vxSnap(minY)));
    c->rowLast = std::int32_t(vxLastCentre(vxSnap(maxY)));
    vxQueueCommit(bytes);
}

// Queues a short strip of `count` vertices (even, so its vertices keep commands 8-byte
// sized), appending it to the packed command before it when that command is the last one
// written, not yet published, holds strips of the same length and has room: one header,
// one ring reservation and one row range for many small draw calls. The workers draw the
// strips in order, as separate commands would be drawn. The vertices must follow the command
// in the ring: a command ending exactly at the ring's end is not extended.
// COUNT: the strip's length when known here (a grid cell's four), else 0 and `runtimeCount`
// holds it.
template <std::uint32_t COUNT, class VertexAt>
void queuePackedStrip(std::uint32_t runtimeCount, VertexAt vertexAt) {
    const std::uint32_t count = COUNT ? COUNT : runtimeCount;
    VxDevice& d = vexaDevice;
    const std::uint32_t extra = count * std::uint32_t(sizeof(VxVertex));
    auto* c = reinterpret_cast<VxPrimCommand*>(d.ring + (d.packPos & (VX_RING_BYTES - 1)));
    const std::uint32_t off = std::uint32_t(d.writePos & (VX_RING_BYTES - 1));
    const bool extend = d.packPos != ~std::uint64_t(0) && d.packPos >= d.published &&
                        d.packPos + c->head.bytes == d.writePos &&
                        c->stripLength == count && c->count + count <= VX_PACK_VERTICES &&
                        (d.packPos & (VX_RING_BYTES - 1)) + c->head.bytes + extra <= VX_RING_BYTES &&
                        d.writePos + extra <= d.writableEnd;
    float minY = 2.0f * VX_COORD_LIMIT, maxY = -2.0f * VX_COORD_LIMIT;
    VxVertex* v;
    if (extend) {
        v = reinterpret_cast<VxVertex*>(d.ring + off);
        minY = d.packMinY;
        maxY = d.packMaxY;
    } else {
        const std::uint32_t bytes = primBytes(count);
        c = static_cast<VxPrimCommand*>(vxQueueReserve(bytes));
        d.packPos = d.writePos;
        c->head.type = VX_CMD_PRIMS;
        c->head.bytes = std::uint32_t(sizeof(VxPrimCommand));
        c->mode = VX_PRIM_STRIPS;
        c->count = 0;
        c->oddStart = 0;
        c->stripLength = count;
        v = reinterpret_cast<VxVertex*>(c + 1);
        d.writePos += sizeof(VxPrimCommand);  // committed below with the vertices
    }
    fetchAll(count, vertexAt, v, minY, maxY);
    c->count += count;
    c->head.bytes += extra;
    if (minY != d.packMinY || !extend) {
        d.packMinY = minY;
        const float lo = minY > -2.0f * VX_COORD_LIMIT ? minY : -2.0f * VX_COORD_LIMIT;
        c->rowFirst = std::int32_t(vxFirstCentre(vxSnap(lo)));
    }
    if (maxY != d.packMaxY || !extend) {
        d.packMaxY = maxY;
        const float hi = maxY < 2.0f * VX_COORD_LIMIT ? maxY : 2.0f * VX_COORD_LIMIT;
        c->rowLast = std::int32_t(vxLastCentre(vxSnap(hi)));
    }
    vxQueueCommit(extra);
}

bool ready() {
    if (!vexaDevice.open) return false;
    vxQueueFlushState();
    return true;
}

// Splits a strip or fan into commands of at most VX_PRIM_CHUNK vertices.
template <class VertexAt>
void queueMode(int mode, int count, VertexAt vertexAt) {
    if (count < 3 || !ready()) return;
    if (mode == VX_TRIANGLE_STRIP && count == 4) {
        queuePackedStrip<4>(4, vertexAt);
    } else if (mode == VX_TRIANGLE_STRIP && count <= VX_PACK_STRIP_MAX && count % 2 == 0) {
        queuePackedStrip<0>(std::uint32_t(count), vertexAt);
    } else if (mode == VX_TRIANGLE_STRIP) {
        // Chunks overlap by two vertices and start on even triangles, keeping the winding.
        for (int first = 0; first + 2 < count; first += VX_PRIM_CHUNK - 2) {
            const int n = count - first < VX_PRIM_CHUNK ? count - first : VX_PRIM_CHUNK;
            queuePrims(VX_CMD_PRIMS, VX_PRIM_STRIP, std::uint32_t(n), 0,
                       [&](std::uint32_t i) { return vertexAt(first + int(i)); });
        }
    } else if (mode == VX_POLYGON) {
        for (int first = 1; first + 1 < count; first += VX_PRIM_CHUNK - 2) {
            const int rest = count - first;
            const int n = rest + 1 < VX_PRIM_CHUNK ? rest + 1 : VX_PRIM_CHUNK;
            queuePrims(VX_CMD_PRIMS, VX_PRIM_FAN, std::uint32_t(n), 0, [&](std::uint32_t i) {
                return i == 0 ? vertexAt(0) : vertexAt(first + int(i) - 1);
            });
        }
    }
}

// Hands a call to the installed recorder (kept out of the drawing calls' own code: they test
// for a recorder and jump here); false when the call is not to be drawn.
[[gnu::noinline]] bool recordCall(int call, int count, const void* const* vertices) {
    const VxDevice& d = vexaDevice;
    d.recorder(d.recorderUser, call, count, vertices);
    return d.recorderDraws;
}

}  // namespace

void vxSetDrawRecorder(VxDrawRecorder recorder, void* user, bool drawToo) {
    vexaDevice.recorder = recorder;
    vexaDevice.recorderUser = user;
    vexaDevice.recorderDraws = drawToo;
}

void vxDrawTriangle(const void* a, const void* b, const void* c) {
    const void* v[3] = {a, b, c};
    if (vexaDevice.recorder != nullptr && !recordCall(VX_CALL_TRIANGLE, 3, v)) [[unlikely]] {
        return;
    }
    if (!a || !b || !c || !ready()) return;
    queuePrims(VX_CMD_PRIMS, VX_PRIM_TRIANGLES, 3, 0, [&](std::uint32_t i) { return v[i]; });
}

void vxDrawLine(const void* a, const void* b) {
    const void* v[2] = {a, b};
    if (vexaDevice.recorder != nullptr && !recordCall(VX_CALL_LINE, 2, v)) [[unlikely]] return;
    if (!a || !b || !ready()) return;
    queuePrims(VX_CMD_LINE, VX_PRIM_TRIANGLES, 2, 0, [&](std::uint32_t i) { return v[i]; });
}

void vxDrawVertexArray(int mode, int count, const void* const* vertices) {
    if (vexaDevice.recorder != nullptr && vertices != nullptr && count > 0 &&
        !recordCall(mode == VX_TRIANGLE_STRIP ? VX_CALL_STRIP : VX_CALL_POLYGON, count,
                    vertices)) [[unlikely]] {
        return;
    }
    if (!vertices) return;
    if (count == 4) {
        // A grid cell's strip (most calls): the four checks at once.
        if (!vertices[0] | !vertices[1] | !vertices[2] | !vertices[3]) return;
    } else {
        for (int i = 0; i < count; ++i) {
            if (!vertices[i]) return;
        }
    }
    queueMode(mode, count, [&](int i) { return vertices[i]; });
}

void vxDrawVertexList(int mode, int count, const void* first, int strideBytes) {
    if (!first || strideBytes <= 0) return;
    const auto* base = static_cast<const std::uint8_t*>(first);
    queueMode(mode, count, [&](int i) {
        return static_cast<const void*>(base + std::size_t(i) * std::size_t(strideBytes));
    });
}
