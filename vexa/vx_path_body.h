// One processor path of Vexa: the raster source (vx_raster_body.h) and the pixel pipeline
// (vx_pixel_body.h), and the table of the path's routines (fillPath). Included once per path
// by that path's file (vx_path_portable.cpp, vx_path_v128.cpp, vx_path_avx2.cpp) inside its
// namespace, after the standard headers (and in the 128-bit build the vector layer,
// vx_v128.h). The source here is the same for every path and holds no instruction set of its
// own: where a path works differently it calls the path's pieces, declared beside their
// portable forms (portableX beside X), which the path's file defines after including this
// one: the portable path as those portable forms, the vector paths with their own
// instructions, each giving the portable form's bits. The raster pieces are defined in the
// raster source's unnamed namespace, the pixel pieces between vx_pixel_math_begin.h and
// vx_pixel_math_end.h as the pipeline is compiled. The path file also defines pathSampler()
// (the vector paths through vx_path_samplers.h). Deliberately without an include guard.

#include "vexa/vx_raster_body.h"

#include "vexa/vx_pixel_math_begin.h"
#include "vexa/vx_pixel_body.h"
#include "vexa/vx_pixel_math_end.h"

// The path's routines into the table the workers and the draw state call through.
void fillPath(VxPath* path) {
    path->flushBatch = flushBatch;
    path->runPrims = runPrims;
    path->runLine = runLine;
    path->runClear = runClear;
    path->pickRoutines = pickRoutines;
}
