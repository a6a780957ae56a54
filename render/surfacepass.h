// The per-view surface pass: waves, texture binding, and every surface of the scene drawn
// patch by patch with culling, detail, tessellation, crack filling and control-point markers,
// for the view it is handed.
#pragma once

#include <cstdint>

#include "geometry/vector.h"
#include "render/drawn.h"
#include "render/emit.h"
#include "render/lighting.h"
#include "render/tessellate.h"
#include "render/view.h"
#include "surface/surface.h"

constexpr float TEXTURE_SPAN = 1024.0f;
constexpr float MARKER_SIZE = 500.0f;
constexpr unsigned MARKER_RED = 0xFF0000FFu;
constexpr unsigned MARKER_YELLOW = 0xFF00FFFFu;

// Patches per side of the tiles the culling hierarchy hands to the corner test.
constexpr int CULL_TILE_PATCHES = 8;

// The surface pass's record: the routines its stages use, chosen once at start-up (the lighting
// pair, chooseLightingRoutines; the tessellators' grid loops, chooseGridRoutines), the
// tessellators' and the clipper's scratch, its own scratch (grown only when a pass needs more
// than ever before) and its counts, which add up over the passes until the frame driver clears
// them.
struct SurfacePass {
    LightingPath lightingPath;
    GridPath gridPath;
    TessellationScratch tessellation;
    ClipScratch clipScratch;
    DrawnPatches drawn;           // the records of the patches this pass drew
    std::int32_t* tiles;          // the tiles visited by the pass, row-major indices, sorted
    std::int32_t tileCount;
    std::int32_t tileCapacity;
    float* columnS;               // s at the start of each patch column
    std::int32_t columnCapacity;
    std::int32_t boxesTested;     // boxes of the hierarchy tested against the view
    std::int32_t patchesVisited;  // patches given the corner test
    std::int32_t patchesDrawn;    // patches that passed it and were drawn
};
extern SurfacePass surfacePass;
// Frees the pass's own scratch and clears its counts (at exit); the chosen routines stay.
void releaseSurfacePass();
// Starts the counts afresh (the frame driver, before a frame's views are drawn).
void clearSurfacePassCounts();

// Moves the waves to the view's time and draws every surface of the scene for the view;
// returns the triangles drawn.
int drawSurfaces(const View& view);
// Sets the option-dependent render state and draws one surface for the view over the texture
// rectangle sLo..sHi, tLo..tHi (texels); the patches it draws have records in
// surfacePass.drawn until the next pass; returns the triangles drawn (markers not counted).
int drawSurface(Surface& surface, const View& view, float sLo, float tLo, float sHi, float tHi);
// True when all four corner vectors are on the negative side of one of the planes.
bool patchOutsideView(const Point3 corners[4], const Point3 planes[4]);
// Draws every control point as two clipped diagonal lines of half-size 500 q in constant
// colour: yellow for `picked` while bit 2 of the view's time is set, red otherwise.
void drawControlPoints(const Surface& surface, const View& view, const Point4* picked);
