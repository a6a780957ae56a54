// Worker side of Vexa drawing (vx_raster_body.h), built twice: portable and, on x86, with
// AVX2 enabled, which lets the compiler set up triangles and stamp planes with wider
// vectors. The AVX2 build is used when the pixel pipeline's is (the processor has AVX2 and
// VEXA_PORTABLE is not set); both give the same pixels.
#include "vexa/vx_local.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vxRasterPortable {
#include "vexa/vx_raster_body.h"
}

#if defined(__x86_64__) || defined(__i386__)
#define VX_HAVE_AVX2_PATH 1
#include "vexa/vx_avx2_begin.h"
#define VX_RASTER_AVX2 1
namespace vxRasterAvx2 {
#include "vexa/vx_raster_body.h"
}
#undef VX_RASTER_AVX2
#include "vexa/vx_avx2_end.h"
#endif

#ifdef VX_HAVE_AVX2_PATH
#define VX_ON_PATH(call) (vexaDevice.avx2 ? vxRasterAvx2::call : vxRasterPortable::call)
#else
#define VX_ON_PATH(call) (vxRasterPortable::call)
#endif

void vxFlushBatch(VxWorker& w) { VX_ON_PATH(flushBatch(w)); }

void vxRunPrims(VxWorker& w, const VxPrimCommand* cmd) { VX_ON_PATH(runPrims(w, cmd)); }

void vxRunLine(VxWorker& w, const VxPrimCommand* cmd) { VX_ON_PATH(runLine(w, cmd)); }

void vxRunClear(VxWorker& w, const VxClearCommand* cmd) { VX_ON_PATH(runClear(w, cmd)); }

void vxBeginCommands(VxWorker& w) {
    VxBatch& b = w.batch;
    b.color = vexaDevice.colorBuffers[w.target];
    b.depth = vexaDevice.depthBuffer;
    b.pitch = vexaDevice.width;
    b.fogFine = w.fogFine;
}
