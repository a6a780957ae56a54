// RenderOptions: every setting a key changes, with its default and limits; the held-key set
// and the pointer positions that the key and mouse routine keeps.
#pragma once

#include <cstdint>

enum SurfaceType : std::int32_t { SURFACE_BEZIER = 0, SURFACE_BSPLINE = 1 };

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

// The held-key bits.
constexpr std::uint8_t HELD_SHIFT = 0x01;
constexpr std::uint8_t HELD_LEFT = 0x04;
constexpr std::uint8_t HELD_RIGHT = 0x08;
constexpr std::uint8_t HELD_DOWN = 0x10;
constexpr std::uint8_t HELD_UP = 0x20;
extern std::uint8_t heldKeys;

struct PointerState {
    std::int32_t x, y;           // current cursor position, screen pixels
    std::int32_t previousX, previousY;
};
extern PointerState pointerState;

// Every option to its default (surface type b-spline).
void resetRenderOptions();
