// Detail selection (a static or distance-based step count per patch) and crack filling
// between neighbouring patches of different step counts.
#pragma once

#include <cstdint>

#include "geometry/transform.h"
#include "geometry/vector.h"
#include "surface/surface.h"

constexpr float DETAIL_K_BSPLINE = 20.0f;
constexpr float DETAIL_K_BEZIER = 60.0f;

// Step count 1..20 for the patch seen from eye (mesh units). The eye at the patch centre
// gets 20; a centre that is not a number gets 1.
int chooseStepCount(const PatchRecord& patch, const Point3& eye);
// What the screen rule needs of a view: the frame matrix's rows (a mesh point's screen x and y
// times w, and its w) and a
// bound on the pixels a mesh-space displacement of one unit moves at w = 1, anywhere in the
// view's rectangle; depths nearer than nearW are clipped, so they count as nearW.
struct DetailScale {
    float xRow[4];
    float yRow[4];
    float wRow[4];
    float pixelsAtUnitDepth;
    float nearW;
};
// Fills scale from the view's frame matrix (mesh to screen pixels and w) and clip bounds.
void buildDetailScale(DetailScale& scale, const Matrix4& frameMatrix, const ClipBounds& clip);
// A bound C (mesh units) on how far the patch strays from its grid of triangles: a grid whose
// longest step is h (parameter units, both directions) is never more than C * h * h away.
// From the control points' second and mixed differences; not a number when they are not.
float patchFlatness(const PatchRecord& patch, int surfaceType);
// The shading's share of the error: the control normals' flatness, a bound (as a fraction
// of full light, like patchFlatness's in mesh units) on how far the normals, and so the light,
// the grid interpolates stray from the patch's at the same h. 0 without control normals.
float patchShadeError(const PatchRecord& patch, int surfaceType);
// The screen area in pixels of the quadrilateral of the patch's corners (depths nearer than
// scale.nearW count as nearW); not a number when a corner is not.
float patchScreenArea(const PatchRecord& patch, const DetailScale& scale);
// The fractional step count 1..20 of the smooth and screen rules (renderOptions.detailRule):
// the distance rule's estimate less one, not cut to a whole number, or, for the screen rule
// at tolerance T (renderOptions.screenTolerance), the larger of the least level whose projected
// flattening error stays within T pixels and the shading level (area * shade / T^2)^(1/4),
// which spends steps on patches large on the screen and curved in their light.
float chooseDetailLevel(const PatchRecord& patch, const Point3& eye, const DetailScale& scale);
// Sets patch.steps to the whole count above level (1..20) and patch.coarseness to what the
// level falls short of it, so the grid slides without a jump as the level moves.
void setDetailLevel(PatchRecord& patch, float level);
// The cull mode of the surfaces for a view's inspection tools (INSPECT_* bits, render/view.h):
// back faces are dropped, except on audited frames, which draw both faces so that background
// seen past a fold of the sheet is not taken for a gap.
int surfaceCullMode(std::uint32_t inspect);
// Closes the slits between neighbours drawn in the current pass (surfacePass.drawn) with
// different step counts from their saved borders (each crack from both sides); culling is off
// meanwhile and surfaceCullMode after. `inspect`: the view's inspection tools (the heat map
// draws the fills white). Returns the triangles drawn.
int fillCracks(Surface& surface, std::uint32_t inspect = 0);
