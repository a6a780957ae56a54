// The vertex pipeline: the current transform (plain and packed loads) and the batch
// beginVertices / transformVertex / endVertices with its deferred clip codes (clipCode and the
// scalar transform's body are inline in the header for the tessellators' loops).
// Owns transformState, clipBounds (and its setter) and the TransformPath table; knows nothing
// of the rasterizer beyond the ScreenVertex layout.
#include "geometry/transform.h"

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

ClipBounds clipBounds;
TransformState transformState;
TransformPath transformPath = {loadTransformPlain, transformVertexScalar};

void setClipBounds(float x0, float x1, float y0, float y1, float nearW, float farW) {
    ClipBounds& b = clipBounds;
    b.xMin = x0;
    b.xMax = x1;
    b.yMin = y0;
    b.yMax = y1;
    b.wNear = nearW;
    b.wFar = farW;
    b.invNear = 1.0f / nearW;
    b.invFar = 1.0f / farW;
    for (int i = 0; i < 4; ++i) {
        b.xMin4[i] = x0;
        b.xMax4[i] = x1;
        b.yMin4[i] = y0;
        b.yMax4[i] = y1;
        b.wNear4[i] = nearW;
        b.wFar4[i] = farW;
    }
}

void loadTransformPlain(const Matrix4& m) {
    transformState.matrix = m;
}

void loadTransformPacked(const Matrix4& m) {
    transformState.matrix = m;
    float* rows = transformState.rows;
#if defined(__SSE__)
    for (int r = 0; r < 4; ++r) {
        _mm_store_ps(rows + 4 * r, _mm_loadu_ps(m.m + 4 * r));
    }
    for (int i = 0; i < 16; ++i) {
        _mm_store_ps(transformState.splat[i], _mm_set1_ps(m.m[i]));
    }
#else
    for (int i = 0; i < 16; ++i) {
        rows[i] = m.m[i];
        for (int k = 0; k < 4; ++k) {
            transformState.splat[i][k] = m.m[i];
        }
    }
#endif
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

void transformVertexScalar(ScreenVertex& out, const Point3& p) {
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
