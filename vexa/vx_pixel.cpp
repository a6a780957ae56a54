// Processor paths of the Vexa pixel pipeline and the choice of routines per draw state.
// The pipeline source (vx_pixel_body.h) is compiled twice: portable (SSE2 baseline) and
// with AVX2 enabled; the AVX2 build is chosen at start-up when the processor has it and
// VEXA_PORTABLE is not set. The program's surface and text states get fused routines on
// both paths; samplers are chosen per unit from its format and filters.
#include "vexa/vx_local.h"

#include <bit>
#include <cstring>
#include <type_traits>

// Floating-point exceptions are never looked at; saying so lets the compiler vectorise the
// clamping loops. Results are unchanged: every value is clamped before it is converted.
// Clang assumes no trapping math already and has no such pragma.
#if !defined(__clang__)
#pragma GCC optimize("no-trapping-math")
#endif

namespace vxPortable {
#include "vexa/vx_pixel_body.h"
}

#if defined(__x86_64__) || defined(__i386__)
#define VX_HAVE_AVX2_PATH 1
#include "vexa/vx_avx2_begin.h"
#define VX_PIXEL_AVX2 1
namespace vxAvx2 {
#include "vexa/vx_pixel_body.h"
}
#undef VX_PIXEL_AVX2
#include "vexa/vx_avx2_end.h"
#endif

std::uint16_t vxPack565(int r, int g, int b) {
    using vxPortable::div255r;
    return std::uint16_t((div255r(r * 31) << 11) | (div255r(g * 63) << 5) | div255r(b * 31));
}

namespace {

// True for the surface state finishSurface() draws: unit 0 alone, passed through; colour =
// texture x iterated colour; depth test and write; fog or not; no blending or alpha test.
bool surfaceStateMatches(const VxDrawState& s) {
    constexpr std::uint32_t RELEVANT = VX_DRAW_TEX0 | VX_DRAW_TEX1 | VX_DRAW_DEPTH_TEST |
                                       VX_DRAW_DEPTH_WRITE | VX_DRAW_BLEND |
                                       VX_DRAW_ALPHA_TEST;
    constexpr std::uint32_t WANTED = VX_DRAW_TEX0 | VX_DRAW_DEPTH_TEST | VX_DRAW_DEPTH_WRITE;
    const auto passes = [](const VxCombineSetting& c) {
        return c.function == VX_COMBINE_LOCAL && !c.invert;
    };
    return (s.flags & RELEVANT) == WANTED && passes(s.texRgb[0]) && passes(s.texAlpha[0]) &&
           s.color.function == VX_COMBINE_SCALE_OTHER && s.color.factor == VX_FACTOR_LOCAL &&
           s.color.local == VX_LOCAL_ITERATED && s.color.other == VX_OTHER_TEXTURE &&
           !s.color.invert;
}

// True for the text state finishTinted() draws: unit 0 alone, passed through; colour =
// constant x texture, alpha = texture alpha; blended by that alpha over the picture; depth
// not tested (or by a test that always passes), written or not; no alpha test, fog or
// dithering.
bool tintedStateMatches(const VxDrawState& s) {
    constexpr std::uint32_t RELEVANT = VX_DRAW_TEX0 | VX_DRAW_TEX1 | VX_DRAW_BLEND |
                                       VX_DRAW_ALPHA_TEST | VX_DRAW_FOG | VX_DRAW_DITHER;
    constexpr std::uint32_t WANTED = VX_DRAW_TEX0 | VX_DRAW_BLEND;
    const auto passes = [](const VxCombineSetting& c) {
        return c.function == VX_COMBINE_LOCAL && !c.invert;
    };
    const bool depthPasses = !(s.flags & VX_DRAW_DEPTH_TEST) || s.depthFunc == VX_CMP_ALWAYS;
    return (s.flags & RELEVANT) == WANTED && depthPasses && passes(s.texRgb[0]) &&
           passes(s.texAlpha[0]) && s.color.function == VX_COMBINE_SCALE_OTHER &&
           s.color.factor == VX_FACTOR_LOCAL && s.color.local == VX_LOCAL_CONSTANT &&
           s.color.other == VX_OTHER_TEXTURE && !s.color.invert &&
           s.alpha.function == VX_COMBINE_SCALE_OTHER && s.alpha.factor == VX_FACTOR_ONE &&
           s.alpha.other == VX_OTHER_TEXTURE && !s.alpha.invert &&
           s.blendSrc == VX_BLEND_SRC_ALPHA && s.blendDst == VX_BLEND_ONE_MINUS_SRC_ALPHA;
}

}  // namespace

void vxChooseRoutines(VxDrawState* s) {
    const bool surface = surfaceStateMatches(*s);
    const bool tinted = tintedStateMatches(*s);
    const int fused = ((s->flags & VX_DRAW_FOG) ? 1 : 0) + ((s->flags & VX_DRAW_DITHER) ? 2 : 0);
    vxPortable::pickRoutines(s, surface, fused, tinted);
#ifdef VX_HAVE_AVX2_PATH
    if (vexaDevice.avx2) vxAvx2::pickRoutines(s, surface, fused, tinted);
#endif
    for (VxTexUnit& t : s->tex) {
        t.sample = t.base ? vxSampleGeneric : vxSampleWhite;
        if (t.base && vexaDevice.avx2) {
            if (VxSampleRoutine fast = vxPickFastSampler(t)) t.sample = fast;
        }
    }
}
