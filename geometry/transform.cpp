// The vertex pipeline: the transform stage's record and the batch beginVertices /
// transformVertex / endVertices with its deferred clip codes (clipCode and the transform's
// body are inline in the header for the tessellators' loops). Knows nothing of the rasterizer
// beyond the ScreenVertex layout.
#include "geometry/transform.h"

TransformState transformState;

void setClipBounds(ClipBounds& b, float x0, float x1, float y0, float y1, float nearW,
                   float farW) {
    b.xMin = x0;
    b.xMax = x1;
    b.yMin = y0;
    b.yMax = y1;
    b.wNear = nearW;
    b.wFar = farW;
    b.invNear = 1.0f / nearW;
    b.invFar = 1.0f / farW;
}

void beginVertices() {
    transformState.pending = nullptr;
    transformState.accumulated = 0;
#if defined(__i386__)
    // x87 arithmetic: save the control word and set precision control (bits 8-9) to single.
    std::uint16_t word;
    __asm__ __volatile__("fnstcw %0" : "=m"(word));
    transformState.savedControlWord = word;
    word = static_cast<std::uint16_t>(word & ~0x0300u);
    __asm__ __volatile__("fldcw %0" : : "m"(word));
#endif
    // Elsewhere float arithmetic already runs in single precision (SSE on x86-64), so the
    // precision switch is a no-op.
}

void transformVertex(ScreenVertex& out, const Point3& p) {
    transformVertexWith(transformState.matrix.m, out, p);
}

std::uint32_t endVertices() {
    completePendingVertex();
    transformState.pending = nullptr;
#if defined(__i386__)
    std::uint16_t word = transformState.savedControlWord;
    __asm__ __volatile__("fldcw %0" : : "m"(word));
#endif
    return transformState.accumulated;
}
