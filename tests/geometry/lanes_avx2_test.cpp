// The vector layer on AVX2 (8 lanes) against the scalar code: tests/geometry/lanes_cases.h
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

#if defined(VORL_BUILD_AVX2)
#define VORL_LANES_AVX2 1
#include "geometry/lanes.h"
#include "geometry/transform_lanes.h"
#include "tests/geometry/lanes_probes.h"
#include "geometry/lanes_end.h"

#define LANES_SUITE LanesAvx2
#define LANES_RUN_HERE(sets) ((sets).runsAvx2)
#include "tests/geometry/lanes_cases.h"
#endif
