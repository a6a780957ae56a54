// RenderOptions: every setting a key changes, with its default and limits. The key routine
// (app/input.cpp) writes it; the surface pass and the frame read it.
#pragma once

#include <cstdint>

#include "surface/surface.h"

enum GapFillMode : std::int32_t { GAP_NO_FILL = 0, GAP_FILL = 1, GAP_FILL_GREEN = 2,
                                  GAP_FILL_MODE_COUNT };

constexpr int SUBDIVISIONS_MIN = 1;
constexpr int SUBDIVISIONS_MAX = 20;
constexpr float DEPTH_LIMIT_MIN = 1.0f;
constexpr float DEPTH_LIMIT_MAX = 65535.0f;
constexpr float MOVE_SPEED_MIN = 0.001f;
constexpr float MOVE_SPEED_MAX = 1000.0f;

struct RenderOptions {
    std::int32_t subdivisions;   // static subdivisions, 1..20
    bool multiView;
    bool controlNormals;         // true: control-mesh normals; false: "poly normals"
    bool showControlPoints;
    bool environmentMapping;
    std::int32_t gapFill;        // GapFillMode
    bool fog;
    bool forwardDifferencing;
    bool drawNormals;
    bool wavesPaused;
    SurfaceType surfaceType;
    bool verticalSync;
    bool wireframe;
    bool dynamicDetail;
    bool specular;
    bool showHelp;
    float nearW;                 // 1..65535
    float farW;                  // 1..65535
    float modelScale[3];
    float moveSpeed;             // 0.001..1000
};
extern RenderOptions renderOptions;

// Every option to its default (surface type b-spline).
void resetRenderOptions();
