// The tessellators' grid loops four vertices at a time on 128-bit vectors: render/grid_lanes.h
// over the SSE4.1 lanes on x86 (in a region compiled for SSE4.1), over WebAssembly SIMD in a
// browser build made with -msimd128. Reached only through surfacePass.gridPath, which start-up
// points here when the processor has SSE4.1 but not AVX2, or in the browser.
#include <cstdint>
#include <cstring>
#include <utility>

#include "geometry/cpu.h"
#include "geometry/transform.h"
#include "render/grid.h"

#if defined(VORL_BUILD_128)
#if defined(__wasm_simd128__)
#define VORL_LANES_WASM 1
#else
#define VORL_LANES_SSE41 1
#endif
#include "geometry/lanes.h"
#include "geometry/transform_lanes.h"
#include "render/grid_lanes.h"
#include "geometry/lanes_end.h"

const GridRoutines gridRoutines128 = GRID_LANE_ROUTINES;
#endif
