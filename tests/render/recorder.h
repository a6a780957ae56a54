// Test support for the render tests: the rasterizer's recording of drawing calls, keeping
// copies of every vertex handed over, and a test view whose transform is easy to invert.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "geometry/camera.h"
#include "geometry/transform.h"
#include "render/emit.h"
#include "render/lighting.h"
#include "render/options.h"
#include "render/scene.h"
#include "render/view.h"
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

inline void recordCall(void*, int call, int count, const void* const* vertices) {
    static constexpr DrawKind KINDS[VX_CALL_COUNT] = {DRAW_TRIANGLE, DRAW_LINE, DRAW_STRIP,
                                                      DRAW_POLYGON};
    DrawCall record{KINDS[call], {}, {}};
    for (int i = 0; i < count; ++i) {
        record.address.push_back(vertices[i]);
        record.vertex.push_back(*static_cast<const ScreenVertex*>(vertices[i]));
    }
    drawCalls().push_back(record);
}

// Records every drawing call from now on, instead of drawing it.
inline void installRecorder() {
    drawCalls().clear();
    vxSetDrawRecorder(recordCall, nullptr, false);
}
inline void removeRecorder() { vxSetDrawRecorder(nullptr, nullptr, true); }

inline int countCalls(DrawKind kind) {
    int n = 0;
    for (const DrawCall& c : drawCalls()) n += c.kind == kind;
    return n;
}

inline bool vertexFinite(const ScreenVertex& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.q);
}

// The view the render tests draw: bounds 0..1000 in x and y, w from 0.5 to 10; model
// (x, y, z) to screen ((x + 500) / w, (y + 500) / w) with w = 1 + z / 100, so the model point
// can be read back from any transformed vertex; light along +z; the frame's time 0.
inline View& testView() {
    static View view;
    return view;
}

// Gives the test view other bounds and makes them the ones in use.
inline void setTestBounds(float x0, float x1, float y0, float y1, float nearW, float farW) {
    setClipBounds(testView().clip, x0, x1, y0, y1, nearW, farW);
    useClipBounds(testView().clip);
}

inline Point3 modelOf(const ScreenVertex& v) {
    return {v.x * v.w - 500.0f, v.y * v.w - 500.0f, (v.w - 1.0f) * 100.0f};
}

// Every option at its default, the test view (its transform and bounds in use), the recorder
// installed.
inline void resetRenderTestState() {
    resetRenderOptions();
    View& view = testView();
    view.camera = CAMERA_DEFAULT;
    setClipBounds(view.clip, 0.0f, 1000.0f, 0.0f, 1000.0f, 0.5f, 10.0f);
    view.frameMatrix = Matrix4{{1, 0, 0, 500, 0, 1, 0, 500, 0, 0, 1, 0, 0, 0, 0.01f, 1}};
    view.light = {Point3{0, 0, 1}, Point3{0, 0, 1}};
    view.timeMs = 0;
    view.inspect = 0;
    useClipBounds(view.clip);
    loadTransform(view.frameMatrix);
    scene.surfaces.picked = nullptr;
    installRecorder();
}
