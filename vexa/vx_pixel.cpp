// Processor paths of the Vexa pixel pipeline and the choice of routines per draw state.
// The pipeline source (vx_pixel_body.h) is compiled twice: portable (SSE2 baseline) and
// with AVX2 enabled; the AVX2 build is chosen at start-up when the processor has it and
// VEXA_PORTABLE is not set. Samplers are chosen per unit from its format and filters.
#include "vexa/vx_local.h"

#include <bit>
#include <type_traits>

// Floating-point exceptions are never looked at; saying so lets the compiler vectorise the
// clamping loops. Results are unchanged: every value is clamped before it is converted.
#pragma GCC optimize("no-trapping-math")

namespace vxPortable {
#include "vexa/vx_pixel_body.h"
}

#if defined(__x86_64__) || defined(__i386__)
#define VX_HAVE_AVX2_PATH 1
#pragma GCC push_options
#pragma GCC target("avx2")
namespace vxAvx2 {
#include "vexa/vx_pixel_body.h"
}
#pragma GCC pop_options
#endif

std::uint16_t vxPack565(int r, int g, int b) {
    using vxPortable::div255r;
    return std::uint16_t((div255r(r * 31) << 11) | (div255r(g * 63) << 5) | div255r(b * 31));
}

void vxChooseRoutines(VxDrawState* s) {
    s->interpolate = vxPortable::interpolate;
    s->finish = vxPortable::finish;
#ifdef VX_HAVE_AVX2_PATH
    if (vexaDevice.avx2) {
        s->interpolate = vxAvx2::interpolate;
        s->finish = vxAvx2::finish;
    }
#endif
    for (VxTexUnit& t : s->tex) {
        t.sample = t.base ? vxSampleGeneric : vxSampleWhite;
        if (t.base && vexaDevice.avx2) {
            if (VxSampleRoutine fast = vxPickFastSampler(t)) t.sample = fast;
        }
    }
}
