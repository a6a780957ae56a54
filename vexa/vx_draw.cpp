// Drawing calls of Vexa on the program thread: vertices are read through the declared
// layout and copied, with the draw state in force, into the command ring, so the program
// may reuse its vertex arrays at once. Entry points: vxDrawTriangle, vxDrawLine,
// vxDrawVertexArray, vxDrawVertexList. Rasterization happens in the workers (vx_raster.cpp).
#include "vexa/vx_local.h"

#include <cstring>

namespace {

void fetch(const void* src, VxVertex* v) {
    const VxRenderState& s = vexaDevice.state;
    const VxDrawState& d = vexaDevice.drawState;
    const auto* p = static_cast<const std::uint8_t*>(src);
    float f[2];
    std::memcpy(f, p + s.layoutOffset[VX_PARAM_XY], sizeof f);
    v->x = f[0];
    v->y = s.origin == VX_ORIGIN_LOWER_LEFT ? float(vexaDevice.height) - f[1] : f[1];
    v->q = 1.0f;
    if (s.layoutEnabled[VX_PARAM_Q]) std::memcpy(&v->q, p + s.layoutOffset[VX_PARAM_Q], 4);
    std::uint32_t argb = 0xFFFFFFFFu;
    if (s.layoutEnabled[VX_PARAM_ARGB]) std::memcpy(&argb, p + s.layoutOffset[VX_PARAM_ARGB], 4);
    v->a = float(argb >> 24);
    v->r = float((argb >> 16) & 0xFF);
    v->g = float((argb >> 8) & 0xFF);
    v->b = float(argb & 0xFF);
    float st0[2] = {0.0f, 0.0f};
    if (s.layoutEnabled[VX_PARAM_ST0]) std::memcpy(st0, p + s.layoutOffset[VX_PARAM_ST0], 8);
    // Without its own coordinates unit 1 uses unit 0's.
    float st1[2] = {st0[0], st0[1]};
    if (s.layoutEnabled[VX_PARAM_ST1]) std::memcpy(st1, p + s.layoutOffset[VX_PARAM_ST1], 8);
    v->u0 = st0[0] * d.tex[0].scale;
    v->v0 = st0[1] * d.tex[0].scale;
    v->u1 = st1[0] * d.tex[1].scale;
    v->v1 = st1[1] * d.tex[1].scale;
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
    c->pad = 0;
    auto* v = reinterpret_cast<VxVertex*>(c + 1);
    for (std::uint32_t i = 0; i < count; ++i) fetch(vertexAt(i), &v[i]);
    vxQueueCommit(bytes);
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
    if (mode == VX_TRIANGLE_STRIP) {
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

}  // namespace

void vxDrawTriangle(const void* a, const void* b, const void* c) {
    if (!a || !b || !c || !ready()) return;
    const void* v[3] = {a, b, c};
    queuePrims(VX_CMD_PRIMS, VX_PRIM_TRIANGLES, 3, 0, [&](std::uint32_t i) { return v[i]; });
}

void vxDrawLine(const void* a, const void* b) {
    if (!a || !b || !ready()) return;
    const void* v[2] = {a, b};
    queuePrims(VX_CMD_LINE, VX_PRIM_TRIANGLES, 2, 0, [&](std::uint32_t i) { return v[i]; });
}

void vxDrawVertexArray(int mode, int count, const void* const* vertices) {
    if (!vertices) return;
    for (int i = 0; i < count; ++i) {
        if (!vertices[i]) return;
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
