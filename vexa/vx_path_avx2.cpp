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

namespace vxAvx2 {
#include "vexa/vx_path_body.h"

// The path's pieces (see vx_path_body.h), each giving its portable form's bits.
namespace {
inline unsigned laneBits(Int4 v) { return unsigned(_mm_movemask_ps(_mm_castsi128_ps(__m128i(v)))); }
inline unsigned laneBits(Int8 v) {
    return unsigned(_mm256_movemask_ps(_mm256_castsi256_ps(__m256i(v))));
}
inline Double4 colourPlanes(const VxVertex& v) {
    // The bytes r g b a of the word to four 32-bit lanes with one shuffle, then to doubles.
    const __m128i order = _mm_setr_epi8(2, -1, -1, -1, 1, -1, -1, -1, 0, -1, -1, -1, 3, -1, -1, -1);
    const __m128i rgba = _mm_shuffle_epi8(_mm_cvtsi32_si128(std::int32_t(v.argb)), order);
    return Double4(_mm256_cvtepi32_pd(rgba));
}
}  // namespace

#include "vexa/vx_pixel_math_begin.h"
inline void ditherOffsets(const VxBatch& b, std::int32_t* out, int n) {
    // The sixteen offsets in two vectors, picked by place (y & 3) * 4 + (x & 3): a permute
    // of each picks by the place's low three bits, bit 3 chooses between them.
    const __m256i low = _mm256_load_si256(reinterpret_cast<const __m256i*>(ditherTable.v));
    const __m256i high = _mm256_load_si256(reinterpret_cast<const __m256i*>(ditherTable.v + 8));
    const __m256i three = _mm256_set1_epi32(3), eight = _mm256_set1_epi32(8);
    for (int i = 0; i < n; i += 8) {
        const __m256i x = _mm256_load_si256(reinterpret_cast<const __m256i*>(b.x + i));
        const __m256i y = _mm256_load_si256(reinterpret_cast<const __m256i*>(b.y + i));
        const __m256i place = _mm256_or_si256(_mm256_slli_epi32(_mm256_and_si256(y, three), 2),
                                              _mm256_and_si256(x, three));
        const __m256i upper = _mm256_cmpeq_epi32(_mm256_and_si256(place, eight), eight);
        _mm256_store_si256(reinterpret_cast<__m256i*>(out + i),
                           _mm256_blendv_epi8(_mm256_permutevar8x32_epi32(low, place),
                                              _mm256_permutevar8x32_epi32(high, place), upper));
    }
}

// Gathers eight at a time; lanes at or past n read nothing.
inline void lookupBytes(const std::uint8_t* table, const std::int32_t* idx, int shift,
                        std::int32_t* out, int n) {
    const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    const __m256i low = _mm256_set1_epi32(0xFF);
    const auto* base = reinterpret_cast<const int*>(table);
    for (int i = 0; i < n; i += 8) {
        const __m256i live = _mm256_cmpgt_epi32(_mm256_set1_epi32(n - i), lane);
        const __m256i at = _mm256_srai_epi32(
            _mm256_and_si256(_mm256_load_si256(reinterpret_cast<const __m256i*>(idx + i)), live),
            shift);
        // Neighbouring pixels often share an entry (fog changes slowly with depth): then one
        // load serves all eight.
        const __m256i first = _mm256_permutevar8x32_epi32(at, _mm256_setzero_si256());
        if (n - i >= 8 && _mm256_movemask_epi8(_mm256_cmpeq_epi32(at, first)) == -1) {
            _mm256_store_si256(reinterpret_cast<__m256i*>(out + i),
                               _mm256_set1_epi32(table[_mm256_cvtsi256_si32(at)]));
            continue;
        }
        const __m256i v = _mm256_mask_i32gather_epi32(_mm256_setzero_si256(), base, at, live, 1);
        _mm256_store_si256(reinterpret_cast<__m256i*>(out + i), _mm256_and_si256(v, low));
    }
}

inline F8 max8(F8 a, F8 b) { return F8(_mm256_max_ps(__m256(a), __m256(b))); }
inline F8 min8(F8 a, F8 b) { return F8(_mm256_min_ps(__m256(a), __m256(b))); }
inline I8 clampInt8(I8 v, int lo, int hi) {
    return I8(_mm256_min_epi32(_mm256_max_epi32(__m256i(v), _mm256_set1_epi32(lo)),
                               _mm256_set1_epi32(hi)));
}

void interpolateSurface(const VxDrawState& s, const VxSetup& p, VxBatch& b, int from) {
    interpolateSurfaceIn<PixelLanes<8>>(s, p, b, from);
}
void interpolateSurfaceLanes(const VxDrawState& s, VxBatch& b, int from, int to) {
    interpolateSurfaceLanesIn<PixelLanes<8>>(s, b, from, to);
}

inline bool depthTestGroups(const VxDrawState& s, VxBatch& b, int n, unsigned* runs) {
    // One pass per group: its form, its stored depths and the depth test. The comparison
    // functions are the sets of their outcomes (bit 0 less, bit 1 equal, bit 2 greater), so
    // each group takes the outcomes its function holds. Pixels past the batch fail.
    const int fn = s.depthFunc;
    const __m256i takeLess = _mm256_set1_epi32(-(fn & 1));
    const __m256i takeEqual = _mm256_set1_epi32(-((fn >> 1) & 1));
    const __m256i takeGreater = _mm256_set1_epi32(-((fn >> 2) & 1));
    const __m256i iota = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    __m256i anyPass = _mm256_setzero_si256();
    unsigned whole = 0;
    for (int j = 0; j < n; j += 8) {
        const __m256i at = _mm256_load_si256(reinterpret_cast<const __m256i*>(b.index + j));
        const __m256i want = _mm256_add_epi32(_mm256_set1_epi32(b.index[j]), iota);
        const bool run = _mm256_movemask_epi8(_mm256_cmpeq_epi32(at, want)) == -1 && j + 8 <= n;
        whole |= unsigned(run) << (j / 8);
        __m256i stored;
        if (run) {
            stored = _mm256_cvtepu16_epi32(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(b.depth + b.index[j])));
        } else {
            alignas(32) std::int32_t looked[8];
            // A whole group (most) with a fixed count: the compiler unrolls it.
            if (n - j >= 8) {
                lookupPixels(b.depth, b.index + j, looked, 8);
            } else {
                lookupPixels(b.depth, b.index + j, looked, n - j);
            }
            stored = _mm256_load_si256(reinterpret_cast<const __m256i*>(looked));
        }
        const __m256i z = _mm256_load_si256(reinterpret_cast<const __m256i*>(b.z + j));
        const __m256i pass = _mm256_and_si256(
            _mm256_or_si256(
                _mm256_or_si256(_mm256_and_si256(_mm256_cmpgt_epi32(stored, z), takeLess),
                                _mm256_and_si256(_mm256_cmpeq_epi32(z, stored), takeEqual)),
                _mm256_and_si256(_mm256_cmpgt_epi32(z, stored), takeGreater)),
            _mm256_cmpgt_epi32(_mm256_set1_epi32(n - j), iota));
        _mm256_store_si256(reinterpret_cast<__m256i*>(b.mask + j), pass);
        anyPass = _mm256_or_si256(anyPass, pass);
    }
    *runs = whole;
    return !_mm256_testz_si256(anyPass, anyPass);
}

// Sixteen values of p (each below 65536) in 16-bit lanes: packing pairs the 128-bit halves of
// the two groups of eight, and _mm256_permute4x64_epi64(v, 0xD8) restores pixel order.
inline __m256i load16(const std::int32_t* p) {
    return _mm256_packus_epi32(_mm256_load_si256(reinterpret_cast<const __m256i*>(p)),
                               _mm256_load_si256(reinterpret_cast<const __m256i*>(p + 8)));
}
// The 16-bit forms below give the 32-bit results of the scalar ones: every product and sum
// they make stays under 65536 (255 * 255 + 255 at most).
// div255r() in 16-bit lanes.
inline __m256i div255x16(__m256i v) {
    const __m256i x = _mm256_add_epi16(v, _mm256_set1_epi16(128));
    return _mm256_srli_epi16(_mm256_add_epi16(x, _mm256_srli_epi16(x, 8)), 8);
}
// div255r(x * y) in 16-bit lanes.
inline __m256i mul255x16(__m256i x, __m256i y) { return div255x16(_mm256_mullo_epi16(x, y)); }
// floor255() in 16-bit lanes.
inline __m256i floor255x16(__m256i v) {
    const __m256i x = _mm256_add_epi16(v, _mm256_set1_epi16(1));
    return _mm256_srli_epi16(_mm256_add_epi16(x, _mm256_srli_epi16(x, 8)), 8);
}
// o + div255s((fc - o) * f) in 16-bit lanes: o moved towards the fog colour fc by f.
inline __m256i fogTowards16(__m256i o, __m256i fc, __m256i f) {
    const __m256i d = _mm256_sub_epi16(fc, o);
    return _mm256_add_epi16(o, _mm256_sign_epi16(mul255x16(_mm256_abs_epi16(d), f), d));
}
// packRounded() of sixteen pixels in 16-bit lanes.
inline __m256i packRounded16(__m256i r, __m256i g, __m256i b) {
    const __m256i c31 = _mm256_set1_epi16(31), c63 = _mm256_set1_epi16(63);
    return _mm256_or_si256(_mm256_or_si256(_mm256_slli_epi16(mul255x16(r, c31), 11),
                                           _mm256_slli_epi16(mul255x16(g, c63), 5)),
                           mul255x16(b, c31));
}
// packDithered() of sixteen pixels in 16-bit lanes, with each pixel's offset.
inline __m256i packDithered16(__m256i r, __m256i g, __m256i b, __m256i offset) {
    const __m256i c31 = _mm256_set1_epi16(31), c63 = _mm256_set1_epi16(63);
    const auto channel = [&](__m256i c, __m256i scale) __attribute__((always_inline)) {
        return floor255x16(_mm256_add_epi16(_mm256_mullo_epi16(c, scale), offset));
    };
    return _mm256_or_si256(_mm256_or_si256(_mm256_slli_epi16(channel(r, c31), 11),
                                           _mm256_slli_epi16(channel(g, c63), 5)),
                           channel(b, c31));
}

template <bool FOG, bool DITHER>
inline void shadeSurfacePixels(const VxDrawState& s, const VxBatch& b, int n,
                               const std::int32_t* f, const std::int32_t* offset,
                               std::uint16_t* pix) {
    const int fr = s.fogColor[0], fg = s.fogColor[1], fb = s.fogColor[2];
    const std::int32_t* tr = b.tex[0][0];
    const std::int32_t* tg = b.tex[0][1];
    const std::int32_t* tb = b.tex[0][2];
    // Sixteen pixels per step in 16-bit lanes; the final permute restores the pixel order the
    // packs changed.
    const __m256i fogR = _mm256_set1_epi16(std::int16_t(fr));
    const __m256i fogG = _mm256_set1_epi16(std::int16_t(fg));
    const __m256i fogB = _mm256_set1_epi16(std::int16_t(fb));
    for (int i = 0; i < n; i += 16) {
        __m256i r = mul255x16(load16(b.it[0] + i), load16(tr + i));
        __m256i g = mul255x16(load16(b.it[1] + i), load16(tg + i));
        __m256i bl = mul255x16(load16(b.it[2] + i), load16(tb + i));
        if constexpr (FOG) {
            const __m256i fi = load16(f + i);
            r = fogTowards16(r, fogR, fi);
            g = fogTowards16(g, fogG, fi);
            bl = fogTowards16(bl, fogB, fi);
        }
        __m256i p;
        if constexpr (DITHER) {
            p = packDithered16(r, g, bl, load16(offset + i));
        } else {
            p = packRounded16(r, g, bl);
        }
        _mm256_store_si256(reinterpret_cast<__m256i*>(pix + i), _mm256_permute4x64_epi64(p, 0xD8));
    }
}

inline bool storeWholeRun(VxBatch& b, int j, const std::uint16_t* pix) {
    const __m256i passed = _mm256_load_si256(reinterpret_cast<const __m256i*>(b.mask + j));
    if (_mm256_movemask_epi8(passed) != -1) return false;
    // Depth codes are at most 0xFFFE: the unsigned pack keeps them.
    const __m256i z = _mm256_load_si256(reinterpret_cast<const __m256i*>(b.z + j));
    const __m128i packed = _mm_packus_epi32(_mm256_castsi256_si128(z),
                                            _mm256_extracti128_si256(z, 1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(b.color + b.index[j]),
                     _mm_load_si128(reinterpret_cast<const __m128i*>(pix + j)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(b.depth + b.index[j]), packed);
    return true;
}

inline unsigned passingBits(const VxBatch& b, int j) {
    return unsigned(_mm256_movemask_ps(
        _mm256_castsi256_ps(_mm256_load_si256(reinterpret_cast<const __m256i*>(b.mask + j)))));
}

inline void tintedPixels(const VxDrawState& s, const VxBatch& b, int n, const std::int32_t* dst,
                         std::uint16_t* pix) {
    const auto& tex = b.tex[0];
    // Sixteen pixels per step in 16-bit lanes, as in shadeSurface(): the permute restores the
    // pixel order the packs changed.
    const auto load = load16;
    const auto mul = mul255x16;
    const __m256i c255 = _mm256_set1_epi16(255);
    const __m256i kr = _mm256_set1_epi16(std::int16_t(s.constant[0]));
    const __m256i kg = _mm256_set1_epi16(std::int16_t(s.constant[1]));
    const __m256i kb = _mm256_set1_epi16(std::int16_t(s.constant[2]));
    for (int i = 0; i < n; i += 16) {
        const __m256i a = mul(load(tex[3] + i), c255);
        const __m256i keep = _mm256_sub_epi16(c255, a);
        U16 dr, dg, db;
        vxUnpack565(U16(load(dst + i)), &dr, &dg, &db);
        const auto blend = [&](__m256i k, const std::int32_t* texel, __m256i under) {
            const __m256i v = _mm256_add_epi16(mul(mul(k, load(texel + i)), a), mul(under, keep));
            return _mm256_min_epu16(v, c255);
        };
        const __m256i r = blend(kr, tex[0], __m256i(dr));
        const __m256i g = blend(kg, tex[1], __m256i(dg));
        const __m256i bl = blend(kb, tex[2], __m256i(db));
        _mm256_store_si256(reinterpret_cast<__m256i*>(pix + i),
                           _mm256_permute4x64_epi64(packRounded16(r, g, bl), 0xD8));
    }
}
#include "vexa/vx_pixel_math_end.h"

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

#include "vexa/vx_avx2_end.h"

void vxAvx2Path(VxPath* path) { vxAvx2::fillPath(path); }

#endif
