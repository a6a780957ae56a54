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
}

void transformVertex(ScreenVertex& out, const Point3& p) {
    transformVertexWith(transformState.matrix.m, out, p);
}

std::uint32_t endVertices() {
    completePendingVertex();
    transformState.pending = nullptr;
    return transformState.accumulated;
}
