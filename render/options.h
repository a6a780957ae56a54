// RenderOptions: every setting a key changes, with its default and limits. The key routine
// (app/input.cpp) writes it; the surface pass and the frame read it.
#pragma once

#include <cstdint>

#include "surface/surface.h"

enum GapFillMode : std::int32_t { GAP_NO_FILL = 0, GAP_FILL = 1, GAP_FILL_GREEN = 2,
                                  GAP_FILL_MODE_COUNT };

// How dynamic detail picks a patch's step count: by distance (whole counts, as the default),
// by distance with the count's fraction morphed in, or the least fractional count whose
// flattening error on the screen stays within screenTolerance pixels, morphed likewise.
enum DetailRule : std::int32_t { DETAIL_DISTANCE = 0, DETAIL_SMOOTH, DETAIL_SCREEN,
                                 DETAIL_RULE_COUNT };
// The screen rule's tolerance in pixels, and the factor + and - change it by.
constexpr float SCREEN_TOLERANCE_MIN = 0.125f;
constexpr float SCREEN_TOLERANCE_MAX = 64.0f;
constexpr float SCREEN_TOLERANCE_DEFAULT = 1.0f;
constexpr float SCREEN_TOLERANCE_FACTOR = 1.41421356f;

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
    std::int32_t detailRule;     // DetailRule, used while dynamicDetail is on
    float screenTolerance;       // pixels, SCREEN_TOLERANCE_MIN..MAX
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
// The next detail rule: distance, smooth, screen, then distance again.
void cycleDetailRule(RenderOptions& o);
// Dynamic detail is on and the screen rule picks it.
inline bool screenRuleOn(const RenderOptions& o) {
    return o.dynamicDetail && o.detailRule == DETAIL_SCREEN;
}
// The screen tolerance one SCREEN_TOLERANCE_FACTOR coarser (direction 1) or finer (-1),
// kept within SCREEN_TOLERANCE_MIN..MAX.
void stepScreenTolerance(RenderOptions& o, int direction);
// The rule's name as --lod takes it ("distance", "smooth", "screen").
const char* detailRuleName(int rule);
