// The tessellators' grid loops eight vertices at a time on AVX2: render/grid_lanes.h over the
// AVX2 lanes, in a region compiled for AVX2 (without FMA, so the bytes are the scalar ones).
// Reached only through surfacePass.gridPath, which start-up points here when the processor has
// AVX2.
#include <cstdint>
#include <cstring>
#include <utility>

#include "geometry/cpu.h"
#include "geometry/transform.h"
#include "render/grid.h"

#if defined(VORL_BUILD_AVX2)
#define VORL_LANES_AVX2 1
#include "geometry/lanes.h"
#include "geometry/transform_lanes.h"
#include "render/grid_lanes.h"
#include "geometry/lanes_end.h"

const GridRoutines gridRoutinesAvx2 = GRID_LANE_ROUTINES;
#endif
