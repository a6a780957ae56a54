// The per-view surface pass: waves, texture binding, and every surface drawn patch by patch
// with culling, detail, tessellation, crack filling and control-point markers.
#pragma once

#include "geometry/vector.h"

struct Surface;

constexpr float TEXTURE_SPAN = 1024.0f;
constexpr float MARKER_SIZE = 500.0f;
constexpr unsigned MARKER_RED = 0xFF0000FFu;
constexpr unsigned MARKER_YELLOW = 0xFF00FFFFu;

// Draws every surface for the current view; returns the triangles drawn.
int drawSurfaces();
int drawSurface(Surface& surface, float sLo, float tLo, float sHi, float tHi);
// True when all four corner vectors are on the negative side of one of the planes.
bool patchOutsideView(const Point3 corners[4], const Point3 planes[4]);
void drawControlPoints(const Surface& surface);
