// The per-view surface pass: waves, texture binding, and every surface drawn patch by patch
// with culling, detail, tessellation, crack filling and control-point markers.
#pragma once

#include "geometry/vector.h"
#include "surface/surface.h"
#include "texture/cache.h"

constexpr float TEXTURE_SPAN = 1024.0f;
constexpr float MARKER_SIZE = 500.0f;
constexpr unsigned MARKER_RED = 0xFF0000FFu;
constexpr unsigned MARKER_YELLOW = 0xFF00FFFFu;

// The two textures the surfaces are drawn with: loaded by the scene's start-up, bound by
// drawSurfaces.
extern Texture surfaceTexture;
extern Texture environmentTexture;

// Draws every surface for the current view; returns the triangles drawn.
int drawSurfaces();
// Sets the option-dependent render state and draws one surface over the texture rectangle
// sLo..sHi, tLo..tHi (texels); writes lastColumn, lastRow, steps of its patch records;
// returns the triangles drawn (markers not counted).
int drawSurface(Surface& surface, float sLo, float tLo, float sHi, float tHi);
// True when all four corner vectors are on the negative side of one of the planes.
bool patchOutsideView(const Point3 corners[4], const Point3 planes[4]);
// Draws every control point as two clipped diagonal lines of half-size 500 q in constant
// colour: yellow for the picked point while bit 2 of the clock is set, red otherwise.
void drawControlPoints(const Surface& surface);
