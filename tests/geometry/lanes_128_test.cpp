// The vector layer on 128-bit vectors (SSE4.1, WebAssembly SIMD) against the scalar code: tests/geometry/lanes_cases.h
// over this set's probes. Skipped where the processor does not run the set.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "geometry/cpu.h"
#include "geometry/transform.h"
#include "tests/environment.h"
#include "tests/geometry/lane_sets.h"

#if defined(VORL_BUILD_128)
#if defined(__wasm_simd128__)
#define VORL_LANES_WASM 1
#else
#define VORL_LANES_SSE41 1
#endif
#include "geometry/lanes.h"
#include "geometry/transform_lanes.h"
#include "tests/geometry/lanes_probes.h"
#include "geometry/lanes_end.h"

#define LANES_SUITE Lanes128
#define LANES_RUN_HERE(sets) ((sets).runs128)
#include "tests/geometry/lanes_cases.h"
#endif
