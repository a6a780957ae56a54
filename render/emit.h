// Primitive emission and clipping: triangles accepted or rejected on clip codes, patch grids,
// zig-zag polygons, and the clipper against the six bounds of the view in use with a fixed
// pool of 18 vertices.
#pragma once

#include <cstdint>

#include "geometry/transform.h"

struct PatchRecord;

constexpr int CLIP_POOL_SIZE = 18;
constexpr int CLIP_LIST_SIZE = 18;
// A crack fill's polygon: two borders of up to 20 steps each, less their two shared ends; the
// same count on both sides when their grids slide differently.
constexpr int POLYGON_MAX_VERTICES = 40;

enum ClipPlane { PLANE_X_MIN = 0, PLANE_X_MAX, PLANE_Y_MIN, PLANE_Y_MAX, PLANE_NEAR, PLANE_FAR,
                 PLANE_COUNT };

// The clipper's scratch: vertices made by clipping, reset at the start of every clipped
// primitive, and the two vertex lists used alternately as a plane's input and output.
// overflow is set when a degenerate primitive asks for more vertices than the pool or a list
// holds; the primitive is then dropped instead of writing out of range.
struct ClipScratch {
    ScreenVertex vertex[CLIP_POOL_SIZE];
    int cursor;
    bool overflow;
    const ScreenVertex* list[2][CLIP_LIST_SIZE];
};

// True when x, y or w is NaN: such a vertex cannot be clipped (every sign-bit test takes NaN
// as inside) and any primitive using it is dropped.
bool vertexHasNan(const ScreenVertex& v);

// Draws the n x n cells of the tessellators' grid for patch.steps; returns triangles (wireframe counts
// as filled).
int drawPatchGrid(const PatchRecord& patch);
// Triangle acceptance on clip codes: drawn, dropped or clipped; returns triangles drawn.
int emitTriangle(const ScreenVertex* a, const ScreenVertex* b, const ScreenVertex* c);
// Zig-zag triangulation of a closed convex loop of m >= 3 vertices; returns triangles.
int drawPolygon(int m, const ScreenVertex* const* vertices);
// Clips against far, near, y_max, y_min, x_max, x_min and draws one polygon; returns m - 2
// or 0.
int clipTriangle(const ScreenVertex* a, const ScreenVertex* b, const ScreenVertex* c);
// Writes 0, 1 or 2 vertices of edge a-b inside plane k to out0/out1; returns the count.
int clipEdge(int k, const ScreenVertex** out0, const ScreenVertex** out1,
             const ScreenVertex* a, const ScreenVertex* b);
// out = p + t (r - p) for x, y, q, s0, t0, s1, t1; the colour per byte through packColor.
void lerpVertex(ScreenVertex& out, float t, const ScreenVertex& p, const ScreenVertex& r);
// Clips a line against all six planes and draws it; 1 if drawn, 0 if nothing is left.
int drawClippedLine(const ScreenVertex& a, const ScreenVertex& b);
