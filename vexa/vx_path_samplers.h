// The table of a processor path's own samplers and its choice of one (pathSampler), for a path
// file (vx_path_v128.cpp, vx_path_avx2.cpp) that defines the templates
// sample565<BILINEAR, SCLAMP, TCLAMP> (RGB 5-6-5, one filter for magnification and
// minification) and samplePointAlpha8<SCLAMP, TCLAMP> (8-bit alpha, point sampled) in its
// anonymous namespace. Included once inside that path's namespace, after the anonymous one.
// Deliberately without an include guard.

namespace {

// Indexed by bilinear * 4 + sClamp * 2 + tClamp.
const VxSampleRoutine SAMPLERS_565[8] = {
    sample565<false, false, false>, sample565<false, false, true>,
    sample565<false, true, false>,  sample565<false, true, true>,
    sample565<true, false, false>,  sample565<true, false, true>,
    sample565<true, true, false>,   sample565<true, true, true>,
};
// Indexed by sClamp * 2 + tClamp.
const VxSampleRoutine SAMPLERS_ALPHA8[4] = {
    samplePointAlpha8<false, false>, samplePointAlpha8<false, true>,
    samplePointAlpha8<true, false>, samplePointAlpha8<true, true>,
};

}  // namespace

VxSampleRoutine pathSampler(const VxTexUnit& t) {
    if (t.minFilter != t.magFilter) return nullptr;
    const int clamps = (t.sClamp ? 2 : 0) + (t.tClamp ? 1 : 0);
    if (t.format == VX_TEXFMT_RGB_565) return SAMPLERS_565[(t.minFilter ? 4 : 0) + clamps];
    if (t.format == VX_TEXFMT_ALPHA_8 && !t.minFilter) return SAMPLERS_ALPHA8[clamps];
    return nullptr;
}
