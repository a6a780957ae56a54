// The AVX2 processor path of Vexa (x86 only): the path source (vx_path_body.h) compiled for
// AVX2, and the samplers only this path has: the program's surface textures (RGB 5-6-5, one
// filter for magnification and minification) and its font (8-bit alpha, point sampled), eight
// pixels at a time with gathers, computing exactly what vxSampleGeneric computes. vxInit fills
// the path table with it, over the portable path, where the processor has AVX2 and
// VEXA_PORTABLE is not set; the tests compare the two paths. Gathers read 4 bytes at a 1- or
// 2-byte texel; texture memory has padding past its end for that.
#include "vexa/vx_local.h"

#if defined(__x86_64__) || defined(__i386__)
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>

#include "vexa/vx_avx2_begin.h"
#define VX_PATH_AVX2 1

namespace vxAvx2 {
#include "vexa/vx_path_body.h"

namespace {

// Per-step tables have up to 9 entries: a permute handles steps 0-7 and a blend step 8.
inline __m256i stepLookup(const std::int32_t* table, __m256i m, bool nine) {
    __m256i r = _mm256_permutevar8x32_epi32(
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(table)), m);
    if (nine) {
        r = _mm256_blendv_epi8(r, _mm256_set1_epi32(table[8]),
                               _mm256_cmpeq_epi32(m, _mm256_set1_epi32(8)));
    }
    return r;
}

// The level of eight pixels, from their mip steps (b.mip[k] + i): texel coordinates already
// shifted to the level (u, v, 8.8 fixed), its row and column masks, its width's log and its
// first texel's index.
struct Level8 {
    __m256i u, v, wmask, hmask, wl, off;
};
inline Level8 levelOf(const VxTexUnit& t, const VxBatch& b, int k, int i) {
    const __m256i zero = _mm256_setzero_si256(), one = _mm256_set1_epi32(1);
    __m256i m = _mm256_load_si256(reinterpret_cast<const __m256i*>(b.mip[k] + i));
    m = _mm256_min_epi32(_mm256_max_epi32(m, zero), _mm256_set1_epi32(t.maxMip));
    __m256i sh, wl, hl, off;
    // Neighbouring pixels mostly share a level: then the tables are read once.
    const __m256i first = _mm256_permutevar8x32_epi32(m, zero);
    if (_mm256_movemask_epi8(_mm256_cmpeq_epi32(m, first)) == -1) {
        const int step = _mm256_cvtsi256_si32(m);
        sh = _mm256_set1_epi32(t.stepShift[step]);
        wl = _mm256_set1_epi32(t.stepWLog[step]);
        hl = _mm256_set1_epi32(t.stepHLog[step]);
        off = _mm256_set1_epi32(t.stepOffset[step]);
    } else {
        const bool nine = t.maxMip >= 8;
        sh = stepLookup(t.stepShift, m, nine);
        wl = stepLookup(t.stepWLog, m, nine);
        hl = stepLookup(t.stepHLog, m, nine);
        off = stepLookup(t.stepOffset, m, nine);
    }
    Level8 l;
    l.u = _mm256_srav_epi32(_mm256_load_si256(reinterpret_cast<const __m256i*>(b.ufix[k] + i)), sh);
    l.v = _mm256_srav_epi32(_mm256_load_si256(reinterpret_cast<const __m256i*>(b.vfix[k] + i)), sh);
    l.wmask = _mm256_sub_epi32(_mm256_sllv_epi32(one, wl), one);
    l.hmask = _mm256_sub_epi32(_mm256_sllv_epi32(one, hl), one);
    l.wl = wl;
    l.off = off;
    return l;
}

// Wrap: index & mask; clamp: between 0 and mask (= size - 1).
inline __m256i fold(__m256i i, __m256i mask, bool clamp) {
    return clamp ? _mm256_min_epi32(_mm256_max_epi32(i, _mm256_setzero_si256()), mask)
                 : _mm256_and_si256(i, mask);
}

template <bool BILINEAR, bool SCLAMP, bool TCLAMP>
void sample565(const VxTexUnit& t, VxBatch& b, int k) {
    const int n = b.n;
    const __m256i one = _mm256_set1_epi32(1);
    const __m256i lo16 = _mm256_set1_epi32(0xFFFF);
    const auto* base = reinterpret_cast<const int*>(t.base);
    std::int32_t* outR = b.tex[k][0];
    std::int32_t* outG = b.tex[k][1];
    std::int32_t* outB = b.tex[k][2];
    std::int32_t* outA = b.tex[k][3];
    // Eight texels, one in each 32-bit lane, to their channels.
    const auto decode = [&](__m256i p, __m256i& r, __m256i& g, __m256i& bl) {
        U8 wr, wg, wb;
        vxUnpack565(U8(p), &wr, &wg, &wb);
        r = __m256i(wr);
        g = __m256i(wg);
        bl = __m256i(wb);
    };
    const auto fetch = [&](__m256i index) {
        return _mm256_and_si256(_mm256_i32gather_epi32(base, index, 2), lo16);
    };
    // Bilinear groups whose texel pairs come from two gathers are filtered in a second pass:
    // the first pass then issues the gathers of every group back to back, so their waits
    // overlap instead of each stalling its own group's arithmetic.
    alignas(32) std::int32_t pairs0[VX_BATCH_MAX], pairs1[VX_BATCH_MAX];
    alignas(32) std::int32_t weightX[VX_BATCH_MAX], weightY[VX_BATCH_MAX];
    bool deferred[VX_BATCH_MAX / 8] = {};
    const auto store = [&](std::int32_t* to, __m256i v) {
        _mm256_store_si256(reinterpret_cast<__m256i*>(to), v);
    };
    for (int i = 0; i < n; i += 8) {
        const Level8 level = levelOf(t, b, k, i);
        const __m256i wmask = level.wmask, hmask = level.hmask, wl = level.wl, off = level.off;
        __m256i u = level.u, v = level.v;
        __m256i r, g, bl;
        if constexpr (!BILINEAR) {
            const __m256i x = fold(_mm256_srai_epi32(u, 8), wmask, SCLAMP);
            const __m256i y = fold(_mm256_srai_epi32(v, 8), hmask, TCLAMP);
            decode(fetch(_mm256_add_epi32(off, _mm256_add_epi32(_mm256_sllv_epi32(y, wl), x))),
                   r, g, bl);
        } else {
            const __m256i half = _mm256_set1_epi32(128), c256 = _mm256_set1_epi32(256);
            const __m256i round = _mm256_set1_epi32(32768), m255 = _mm256_set1_epi32(255);
            u = _mm256_sub_epi32(u, half);
            v = _mm256_sub_epi32(v, half);
            const __m256i fx = _mm256_and_si256(u, m255), fy = _mm256_and_si256(v, m255);
            const __m256i xi = _mm256_srai_epi32(u, 8), yi = _mm256_srai_epi32(v, 8);
            const __m256i x0 = fold(xi, wmask, SCLAMP);
            const __m256i x1 = fold(_mm256_add_epi32(xi, one), wmask, SCLAMP);
            const __m256i row0 = _mm256_add_epi32(off, _mm256_sllv_epi32(fold(yi, hmask, TCLAMP), wl));
            const __m256i row1 = _mm256_add_epi32(
                off, _mm256_sllv_epi32(fold(_mm256_add_epi32(yi, one), hmask, TCLAMP), wl));
            // Where x1 is x0 + 1 one 4-byte gather brings both texels of a row.
            const __m256i split = _mm256_cmpeq_epi32(_mm256_add_epi32(x0, one), x1);
            if (_mm256_movemask_epi8(split) == -1) {
                store(pairs0 + i, _mm256_i32gather_epi32(base, _mm256_add_epi32(row0, x0), 2));
                store(pairs1 + i, _mm256_i32gather_epi32(base, _mm256_add_epi32(row1, x0), 2));
                store(weightX + i, fx);
                store(weightY + i, fy);
                deferred[i / 8] = true;
                continue;
            } else {
                __m256i r00, g00, b00, r10, g10, b10, r01, g01, b01, r11, g11, b11;
                decode(fetch(_mm256_add_epi32(row0, x0)), r00, g00, b00);
                decode(fetch(_mm256_add_epi32(row0, x1)), r10, g10, b10);
                decode(fetch(_mm256_add_epi32(row1, x0)), r01, g01, b01);
                decode(fetch(_mm256_add_epi32(row1, x1)), r11, g11, b11);
                // c00 (256 - fx) + c10 fx == 256 c00 + (c10 - c00) fx, and likewise in y.
                const auto lerp = [&](__m256i c00, __m256i c10, __m256i c01, __m256i c11) {
                    const __m256i top = _mm256_add_epi32(
                        _mm256_slli_epi32(c00, 8), _mm256_mullo_epi32(_mm256_sub_epi32(c10, c00), fx));
                    const __m256i bottom = _mm256_add_epi32(
                        _mm256_slli_epi32(c01, 8), _mm256_mullo_epi32(_mm256_sub_epi32(c11, c01), fx));
                    const __m256i sum = _mm256_add_epi32(
                        _mm256_mullo_epi32(top, c256),
                        _mm256_mullo_epi32(_mm256_sub_epi32(bottom, top), fy));
                    return _mm256_srai_epi32(_mm256_add_epi32(sum, round), 16);
                };
                r = lerp(r00, r10, r01, r11);
                g = lerp(g00, g10, g01, g11);
                bl = lerp(b00, b10, b01, b11);
            }
        }
        _mm256_store_si256(reinterpret_cast<__m256i*>(outR + i), r);
        _mm256_store_si256(reinterpret_cast<__m256i*>(outG + i), g);
        _mm256_store_si256(reinterpret_cast<__m256i*>(outB + i), bl);
        _mm256_store_si256(reinterpret_cast<__m256i*>(outA + i), _mm256_set1_epi32(255));
    }
    if constexpr (BILINEAR) {
        const __m256i c256 = _mm256_set1_epi32(256), round = _mm256_set1_epi32(32768);
        for (int i = 0; i < n; i += 8) {
            if (!deferred[i / 8]) continue;
            // Each 32-bit gather lane holds a row's two texels, left in the low half, so the
            // channels decode in 16-bit lanes already paired for a multiply-add:
            // top = c00 (256 - fx) + c10 fx exactly as the portable sampler has it.
            const __m256i fx = _mm256_load_si256(reinterpret_cast<const __m256i*>(weightX + i));
            const __m256i fy = _mm256_load_si256(reinterpret_cast<const __m256i*>(weightY + i));
            const __m256i wx = _mm256_or_si256(_mm256_sub_epi32(c256, fx), _mm256_slli_epi32(fx, 16));
            const auto channels = [&](const std::int32_t* from, __m256i& cr, __m256i& cg,
                                      __m256i& cb) {
                U16 wr, wg, wb;
                vxUnpack565(U16(_mm256_load_si256(reinterpret_cast<const __m256i*>(from))),
                            &wr, &wg, &wb);
                cr = _mm256_madd_epi16(__m256i(wr), wx);
                cg = _mm256_madd_epi16(__m256i(wg), wx);
                cb = _mm256_madd_epi16(__m256i(wb), wx);
            };
            __m256i tr, tg, tb, br, bg, bb;
            channels(pairs0 + i, tr, tg, tb);
            channels(pairs1 + i, br, bg, bb);
            // (top (256 - fy) + bottom fy + 32768) >> 16, with top (256 - fy) + bottom fy
            // = 256 top + (bottom - top) fy.
            const auto vertical = [&](__m256i top, __m256i bottom) {
                const __m256i sum = _mm256_add_epi32(
                    _mm256_slli_epi32(top, 8), _mm256_mullo_epi32(_mm256_sub_epi32(bottom, top), fy));
                return _mm256_srai_epi32(_mm256_add_epi32(sum, round), 16);
            };
            store(outR + i, vertical(tr, br));
            store(outG + i, vertical(tg, bg));
            store(outB + i, vertical(tb, bb));
            store(outA + i, _mm256_set1_epi32(255));
        }
    }
}

// Point sampling of 8-bit alpha textures (the font's): every channel is the texel. Gathers
// read 4 bytes at a 1-byte texel.
template <bool SCLAMP, bool TCLAMP>
void samplePointAlpha8(const VxTexUnit& t, VxBatch& b, int k) {
    const auto* base = reinterpret_cast<const int*>(t.base);
    const __m256i low = _mm256_set1_epi32(0xFF);
    for (int i = 0; i < b.n; i += 8) {
        const Level8 l = levelOf(t, b, k, i);
        const __m256i x = fold(_mm256_srai_epi32(l.u, 8), l.wmask, SCLAMP);
        const __m256i y = fold(_mm256_srai_epi32(l.v, 8), l.hmask, TCLAMP);
        const __m256i at = _mm256_add_epi32(l.off, _mm256_add_epi32(_mm256_sllv_epi32(y, l.wl), x));
        const __m256i texel = _mm256_and_si256(_mm256_i32gather_epi32(base, at, 1), low);
        for (int c = 0; c < 4; ++c) {
            _mm256_store_si256(reinterpret_cast<__m256i*>(b.tex[k][c] + i), texel);
        }
    }
}

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

}  // namespace vxAvx2

#undef VX_PATH_AVX2
#include "vexa/vx_avx2_end.h"

void vxAvx2Path(VxPath* path) { vxAvx2::fillPath(path); }

#endif
