// One processor path of Vexa: the raster source (vx_raster_body.h) and the pixel pipeline
// (vx_pixel_body.h), and the table of the path's routines (fillPath). Included once per path
// by that path's file (vx_path_portable.cpp, vx_path_v128.cpp, vx_path_avx2.cpp) inside its
// namespace, after the standard headers, with VX_PATH_AVX2 defined in the AVX2 build and
// VX_PATH_V128 (after the vector layer, vx_v128.h) in the 128-bit one; the path file then
// defines pathSampler() (the vector paths through vx_path_samplers.h). Deliberately without an
// include guard.

#include "vexa/vx_raster_body.h"

// Floating-point exceptions are never looked at; saying so lets the compiler vectorise the
// pixel pipeline's clamping loops. Results are unchanged: every value is clamped before it
// is converted. Clang assumes no trapping math already and has no such pragma.
#if !defined(__clang__)
#pragma GCC push_options
#pragma GCC optimize("no-trapping-math")
#endif
#include "vexa/vx_pixel_body.h"
#if !defined(__clang__)
#pragma GCC pop_options
#endif

// The path's routines into the table the workers and the draw state call through.
void fillPath(VxPath* path) {
    path->flushBatch = flushBatch;
    path->runPrims = runPrims;
    path->runLine = runLine;
    path->runClear = runClear;
    path->pickRoutines = pickRoutines;
}
