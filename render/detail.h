// Detail selection (a static or distance-based step count per patch) and crack filling
// between neighbouring patches of different step counts.
#pragma once

#include <cstdint>

#include "geometry/vector.h"
#include "surface/surface.h"

constexpr float DETAIL_K_BSPLINE = 20.0f;
constexpr float DETAIL_K_BEZIER = 60.0f;

// Step count 1..20 for the patch seen from eye (mesh units). The eye at the patch centre
// gets 20; a centre that is not a number gets 1.
int chooseStepCount(const PatchRecord& patch, const Point3& eye);
// The cull mode of the surfaces for a view's inspection tools (INSPECT_* bits, render/view.h):
// back faces are dropped, except on audited frames, which draw both faces so that background
// seen past a fold of the sheet is not taken for a gap.
int surfaceCullMode(std::uint32_t inspect);
// Closes the slits between neighbours drawn in the current pass (drawnPatches) with different
// step counts from their saved borders (each crack from both sides); culling is off meanwhile
// and surfaceCullMode after. `inspect`: the view's inspection tools (the heat map draws the
// fills white). Returns the triangles drawn.
int fillCracks(Surface& surface, std::uint32_t inspect = 0);
