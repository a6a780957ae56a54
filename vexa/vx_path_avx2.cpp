// The AVX2 processor path of Vexa (x86 only): the path source (vx_path_body.h) compiled for
// AVX2, and the samplers only this path has: the program's surface textures (RGB 5-6-5, one
// filter for magnification and minification) and its font (8-bit alpha, point sampled), eight
// pixels at a time with gathers, computing exactly what vxSampleGeneric computes. vxInit fills
// the path table with it, over the portable path, where the processor has AVX2 and VEXA_PATH
// allows it; the tests compare every path with the portable one. Gathers read 4 bytes at a 1- or
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

// The channels of eight texels, one texel in each 32-bit lane.
struct Texels8 {
    __m256i r, g, b;
};

// Eight 5-6-5 texels at texel indices `index` of the unit's memory, one in each 32-bit lane.
inline __m256i gather565(const int* base, __m256i index) {
    return _mm256_and_si256(_mm256_i32gather_epi32(base, index, 2), _mm256_set1_epi32(0xFFFF));
}

// Eight texels, one in each 32-bit lane, to their channels.
inline Texels8 decode565(__m256i p) {
    U8 r, g, b;
    vxUnpack565(U8(p), &r, &g, &b);
    return {__m256i(r), __m256i(g), __m256i(b)};
}

// The four texels around each of eight bilinear sample points: their columns x0 and x1 (the
// next, wrapped or clamped), the indices of their rows' first texels, and the weights of the
// right column and the lower row (0..255).
struct Taps8 {
    __m256i x0, x1, row0, row1, fx, fy;
};

template <bool SCLAMP, bool TCLAMP>
inline Taps8 bilinearTaps(const Level8& level) {
    const __m256i one = _mm256_set1_epi32(1), half = _mm256_set1_epi32(128);
    const __m256i m255 = _mm256_set1_epi32(255);
    const __m256i u = _mm256_sub_epi32(level.u, half), v = _mm256_sub_epi32(level.v, half);
    const __m256i xi = _mm256_srai_epi32(u, 8), yi = _mm256_srai_epi32(v, 8);
    const auto row = [&](__m256i y) __attribute__((always_inline)) {
        const __m256i folded = fold(y, level.hmask, TCLAMP);
        return _mm256_add_epi32(level.off, _mm256_sllv_epi32(folded, level.wl));
    };
    Taps8 taps;
    taps.x0 = fold(xi, level.wmask, SCLAMP);
    taps.x1 = fold(_mm256_add_epi32(xi, one), level.wmask, SCLAMP);
    taps.row0 = row(yi);
    taps.row1 = row(_mm256_add_epi32(yi, one));
    taps.fx = _mm256_and_si256(u, m255);
    taps.fy = _mm256_and_si256(v, m255);
    return taps;
}

// Bilinear groups whose texel pairs come from two gathers are filtered in a second pass: the
// first pass then issues the gathers of every group back to back, so their waits overlap
// instead of each stalling its own group's arithmetic. What the second pass needs, per pixel.
struct PairedTexels {
    alignas(32) std::int32_t top[VX_BATCH_MAX], bottom[VX_BATCH_MAX];  // a row's two texels
    alignas(32) std::int32_t weightX[VX_BATCH_MAX], weightY[VX_BATCH_MAX];
};

// Where each sample's right column follows its left one (x1 = x0 + 1), one 4-byte gather brings
// both texels of a row: the pairs of group i are gathered into `pairs` for the second pass.
// False, with nothing gathered, when a column wraps or clamps.
inline bool gatherPairs(const int* base, const Taps8& taps, int i, PairedTexels* pairs) {
    const __m256i next = _mm256_add_epi32(taps.x0, _mm256_set1_epi32(1));
    if (_mm256_movemask_epi8(_mm256_cmpeq_epi32(next, taps.x1)) != -1) return false;
    const auto store = [](std::int32_t* to, __m256i v) __attribute__((always_inline)) {
        _mm256_store_si256(reinterpret_cast<__m256i*>(to), v);
    };
    store(pairs->top + i, _mm256_i32gather_epi32(base, _mm256_add_epi32(taps.row0, taps.x0), 2));
    store(pairs->bottom + i, _mm256_i32gather_epi32(base, _mm256_add_epi32(taps.row1, taps.x0), 2));
    store(pairs->weightX + i, taps.fx);
    store(pairs->weightY + i, taps.fy);
    return true;
}

// Bilinear filtering from four separate gathers, as the portable sampler filters:
// c00 (256 - fx) + c10 fx == 256 c00 + (c10 - c00) fx, and likewise in y.
inline Texels8 filterFour(const int* base, const Taps8& taps) {
    const __m256i c256 = _mm256_set1_epi32(256), round = _mm256_set1_epi32(32768);
    const Texels8 c00 = decode565(gather565(base, _mm256_add_epi32(taps.row0, taps.x0)));
    const Texels8 c10 = decode565(gather565(base, _mm256_add_epi32(taps.row0, taps.x1)));
    const Texels8 c01 = decode565(gather565(base, _mm256_add_epi32(taps.row1, taps.x0)));
    const Texels8 c11 = decode565(gather565(base, _mm256_add_epi32(taps.row1, taps.x1)));
    const auto lerp = [&](__m256i p00, __m256i p10, __m256i p01, __m256i p11)
                          __attribute__((always_inline)) {
        const __m256i top = _mm256_add_epi32(
            _mm256_slli_epi32(p00, 8), _mm256_mullo_epi32(_mm256_sub_epi32(p10, p00), taps.fx));
        const __m256i bottom = _mm256_add_epi32(
            _mm256_slli_epi32(p01, 8), _mm256_mullo_epi32(_mm256_sub_epi32(p11, p01), taps.fx));
        const __m256i sum = _mm256_add_epi32(
            _mm256_mullo_epi32(top, c256),
            _mm256_mullo_epi32(_mm256_sub_epi32(bottom, top), taps.fy));
        return _mm256_srai_epi32(_mm256_add_epi32(sum, round), 16);
    };
    return {lerp(c00.r, c10.r, c01.r, c11.r), lerp(c00.g, c10.g, c01.g, c11.g),
            lerp(c00.b, c10.b, c01.b, c11.b)};
}

// The second pass over group i's gathered pairs. Each 32-bit lane holds a row's two texels,
// left in the low half, so the channels decode in 16-bit lanes already paired for a
// multiply-add: top = c00 (256 - fx) + c10 fx exactly as the portable sampler has it.
inline Texels8 filterPairs(const PairedTexels& pairs, int i) {
    const __m256i c256 = _mm256_set1_epi32(256), round = _mm256_set1_epi32(32768);
    const __m256i fx = _mm256_load_si256(reinterpret_cast<const __m256i*>(pairs.weightX + i));
    const __m256i fy = _mm256_load_si256(reinterpret_cast<const __m256i*>(pairs.weightY + i));
    const __m256i wx = _mm256_or_si256(_mm256_sub_epi32(c256, fx), _mm256_slli_epi32(fx, 16));
    const auto row = [&](const std::int32_t* from) __attribute__((always_inline)) {
        U16 r, g, b;
        vxUnpack565(U16(_mm256_load_si256(reinterpret_cast<const __m256i*>(from))), &r, &g, &b);
        return Texels8{_mm256_madd_epi16(__m256i(r), wx), _mm256_madd_epi16(__m256i(g), wx),
                       _mm256_madd_epi16(__m256i(b), wx)};
    };
    const Texels8 top = row(pairs.top + i), bottom = row(pairs.bottom + i);
    // (top (256 - fy) + bottom fy + 32768) >> 16, with top (256 - fy) + bottom fy
    // = 256 top + (bottom - top) fy.
    const auto vertical = [&](__m256i t, __m256i u) __attribute__((always_inline)) {
        const __m256i sum = _mm256_add_epi32(_mm256_slli_epi32(t, 8),
                                             _mm256_mullo_epi32(_mm256_sub_epi32(u, t), fy));
        return _mm256_srai_epi32(_mm256_add_epi32(sum, round), 16);
    };
    return {vertical(top.r, bottom.r), vertical(top.g, bottom.g), vertical(top.b, bottom.b)};
}

// Stores group i's texels as unit k's sampled channels, alpha 255.
inline void storeTexels(VxBatch& b, int k, int i, const Texels8& c) {
    _mm256_store_si256(reinterpret_cast<__m256i*>(b.tex[k][0] + i), c.r);
    _mm256_store_si256(reinterpret_cast<__m256i*>(b.tex[k][1] + i), c.g);
    _mm256_store_si256(reinterpret_cast<__m256i*>(b.tex[k][2] + i), c.b);
    _mm256_store_si256(reinterpret_cast<__m256i*>(b.tex[k][3] + i), _mm256_set1_epi32(255));
}

// RGB 5-6-5 textures, point sampled or bilinear, eight pixels at a time: the level of each
// group, then its texels.
template <bool BILINEAR, bool SCLAMP, bool TCLAMP>
void sample565(const VxTexUnit& t, VxBatch& b, int k) {
    // At most VX_BATCH_MAX pixels: saying so lets the compiler unroll the loops.
    const int n = b.n;
    if (n > VX_BATCH_MAX) __builtin_unreachable();
    const auto* base = reinterpret_cast<const int*>(t.base);
    PairedTexels pairs;
    bool paired[VX_BATCH_MAX / 8] = {};  // the groups left for the second pass
    for (int i = 0; i < n; i += 8) {
        const Level8 level = levelOf(t, b, k, i);
        if constexpr (!BILINEAR) {
            const __m256i x = fold(_mm256_srai_epi32(level.u, 8), level.wmask, SCLAMP);
            const __m256i y = fold(_mm256_srai_epi32(level.v, 8), level.hmask, TCLAMP);
            const __m256i at = _mm256_add_epi32(_mm256_sllv_epi32(y, level.wl), x);
            storeTexels(b, k, i, decode565(gather565(base, _mm256_add_epi32(level.off, at))));
        } else {
            const Taps8 taps = bilinearTaps<SCLAMP, TCLAMP>(level);
            if (gatherPairs(base, taps, i, &pairs)) {
                paired[i / 8] = true;
            } else {
                storeTexels(b, k, i, filterFour(base, taps));
            }
        }
    }
    if constexpr (BILINEAR) {
        for (int i = 0; i < n; i += 8) {
            if (paired[i / 8]) storeTexels(b, k, i, filterPairs(pairs, i));
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

}  // namespace

#include "vexa/vx_path_samplers.h"

}  // namespace vxAvx2

#undef VX_PATH_AVX2
#include "vexa/vx_avx2_end.h"

void vxAvx2Path(VxPath* path) { vxAvx2::fillPath(path); }

#endif
