// One view of the scene: everything that differs between the two views of multi-view, the
// frame's time and the inspection tools the frame is drawn for. The program builds one record
// per view it draws (app/viewer.cpp) and hands it down the render pass as an argument; nothing
// below reads a camera, a clock or a tool's switch of its own.
#pragma once

#include <cstdint>

#include "geometry/camera.h"
#include "geometry/transform.h"
#include "render/lighting.h"

// The inspection tools a view is drawn for (View::inspect): the frame's own, the same in both
// views, taken from the inspection record (render/tools.h) once as the frame starts.
constexpr std::uint32_t INSPECT_HEAT_MAP = 0x1;       // patches in flat colours by step count
constexpr std::uint32_t INSPECT_AUDIT_BOUNDS = 0x2;   // drawn patches record their screen bounds,
                                                      // both faces drawn, for the crack audit

struct View {
    Camera camera;            // where the view looks from
    Matrix4 frameMatrix;      // model space to screen pixels and w
    ClipBounds clip;          // the view's rectangle and depth range
    LightState light;         // towards the light and the viewer's axis, for the shading
    std::uint32_t timeMs;     // the frame's clock reading: the waves, the marker's flicker
    std::uint32_t inspect;    // INSPECT_* bits: the inspection tools the pass serves
};
