// Test support for the render tests: a recording stand-in for the rasterizer's drawing
// entries (installed through rasterOps) that keeps copies of every vertex handed over, and
// a view set-up whose transform is easy to invert.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "geometry/camera.h"
#include "geometry/transform.h"
#include "render/emit.h"
#include "render/lighting.h"
#include "render/options.h"
#include "surface/surface.h"
#include "vexa/vexa.h"

enum DrawKind { DRAW_TRIANGLE, DRAW_LINE, DRAW_STRIP, DRAW_POLYGON };

struct DrawCall {
    DrawKind kind;
    std::vector<const void*> address;   // the addresses handed over
    std::vector<ScreenVertex> vertex;   // copies at the time of the call
};

inline std::vector<DrawCall>& drawCalls() {
    static std::vector<DrawCall> calls;
    return calls;
}

inline void recordCall(DrawKind kind, int count, const void* const* vertices) {
    DrawCall call{kind, {}, {}};
    for (int i = 0; i < count; ++i) {
        call.address.push_back(vertices[i]);
        call.vertex.push_back(*static_cast<const ScreenVertex*>(vertices[i]));
    }
    drawCalls().push_back(call);
}

inline void recordTriangle(const void* a, const void* b, const void* c) {
    const void* v[3] = {a, b, c};
    recordCall(DRAW_TRIANGLE, 3, v);
}
inline void recordLine(const void* a, const void* b) {
    const void* v[2] = {a, b};
    recordCall(DRAW_LINE, 2, v);
}
inline void recordArray(int mode, int count, const void* const* vertices) {
    recordCall(mode == VX_TRIANGLE_STRIP ? DRAW_STRIP : DRAW_POLYGON, count, vertices);
}

inline void installRecorder() {
    drawCalls().clear();
    rasterOps.drawTriangle = recordTriangle;
    rasterOps.drawLine = recordLine;
    rasterOps.drawVertexArray = recordArray;
}

inline int countCalls(DrawKind kind) {
    int n = 0;
    for (const DrawCall& c : drawCalls()) n += c.kind == kind;
    return n;
}

inline bool vertexFinite(const ScreenVertex& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.q);
}

// Bounds 0..1000 in x and y, w from 0.5 to 10.
inline void setTestBounds() { setClipBounds(0.0f, 1000.0f, 0.0f, 1000.0f, 0.5f, 10.0f); }

// Model (x, y, z) to screen ((x + 500) / w, (y + 500) / w) with w = 1 + z / 100, so the model
// point can be read back from any transformed vertex.
inline void setTestTransform() {
    Matrix4 m = {{1, 0, 0, 500, 0, 1, 0, 500, 0, 0, 1, 0, 0, 0, 0.01f, 1}};
    frameMatrix = m;
    loadTransform(m);
}

inline Point3 modelOf(const ScreenVertex& v) {
    return {v.x * v.w - 500.0f, v.y * v.w - 500.0f, (v.w - 1.0f) * 100.0f};
}

// Every option at its default, the test view, light along +z, the recorder installed.
inline void resetRenderTestState() {
    resetRenderOptions();
    resetCamera();
    setTestBounds();
    setTestTransform();
    setLightVectors(Point3{0, 0, 1}, Point3{0, 0, 1});
    pickedControlPoint = nullptr;
    installRecorder();
}
