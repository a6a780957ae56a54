// The 128-bit processor path of Vexa: the path source (vx_path_body.h) compiled for SSE4.1 on
// x86 and for WebAssembly SIMD in the browser build, its vector blocks written once over the
// 128-bit layer (vx_v128.h), and the samplers only this path has: the program's surface
// textures (RGB 5-6-5, one filter for magnification and minification) and its font (8-bit
// alpha, point sampled), four pixels at a time, computing exactly what vxSampleGeneric
// computes. vxInit fills the path table with it, over the portable path, where the processor
// has SSE4.1 and population count (always in the browser build) and VEXA_PATH allows it; the
// tests compare it with the portable path. Texel loads read 4 bytes at a 2-byte texel;
// texture memory has padding past its end for that.
#include "vexa/vx_local.h"

#if defined(__x86_64__) || defined(__i386__) || defined(__wasm_simd128__)
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>

#include "vexa/vx_v128_begin.h"

namespace vxV128 {
#include "vexa/vx_v128.h"
#include "vexa/vx_path_body.h"

// The path's pieces (see vx_path_body.h), each giving its portable form's bits.
namespace {
inline unsigned laneBits(Int4 v) { return v128Bits(v); }
inline unsigned laneBits(Int8 v) { return portableLaneBits(v); }
inline Double4 colourPlanes(const VxVertex& v) { return portableColourPlanes(v); }
}  // namespace

#include "vexa/vx_pixel_math_begin.h"
inline void ditherOffsets(const VxBatch& b, std::int32_t* out, int n) {
    // The sixteen offsets (each below 256) as bytes, picked by place (y & 3) * 4 + (x & 3) in
    // each lane's low byte; the lane's other bytes pick 128, which gives 0.
    constexpr U8x16 offsets = {
        std::uint8_t(ditherTable.v[0]),  std::uint8_t(ditherTable.v[1]),
        std::uint8_t(ditherTable.v[2]),  std::uint8_t(ditherTable.v[3]),
        std::uint8_t(ditherTable.v[4]),  std::uint8_t(ditherTable.v[5]),
        std::uint8_t(ditherTable.v[6]),  std::uint8_t(ditherTable.v[7]),
        std::uint8_t(ditherTable.v[8]),  std::uint8_t(ditherTable.v[9]),
        std::uint8_t(ditherTable.v[10]), std::uint8_t(ditherTable.v[11]),
        std::uint8_t(ditherTable.v[12]), std::uint8_t(ditherTable.v[13]),
        std::uint8_t(ditherTable.v[14]), std::uint8_t(ditherTable.v[15])};
    for (int i = 0; i < n; i += 4) {
        const I32x4 place = ((v128Load<I32x4>(b.y + i) & 3) << 2) | (v128Load<I32x4>(b.x + i) & 3);
        v128Store(out + i, I32x4(v128Swizzle(offsets, U8x16(place | std::int32_t(0x80808000)))));
    }
}

inline void lookupBytes(const std::uint8_t* table, const std::int32_t* idx, int shift,
                        std::int32_t* out, int n) {
    // Eight at a time as two halves of four, one load a lane; where all eight share an entry
    // (as on the AVX2 path), one load serves them.
    for (int i = 0; i < n; i += 8) {
        const I32x4 low = (v128Load<I32x4>(idx + i) & (v128Splat(n - i) > V128_IOTA)) >> shift;
        const I32x4 high =
            (v128Load<I32x4>(idx + i + 4) & (v128Splat(n - i - 4) > V128_IOTA)) >> shift;
        const I32x4 first = v128Splat(low[0]);
        if (n - i >= 8 && v128Bits((low == first) & (high == first)) == 15u) {
            const I32x4 v = v128Splat(std::int32_t(table[low[0]]));
            v128Store(out + i, v);
            v128Store(out + i + 4, v);
            continue;
        }
        v128Store(out + i, v128Gather8(table, low));
        v128Store(out + i + 4, v128Gather8(table, high));
    }
}

// Eight lanes are two registers here: interpolateSurfacePixels() works four at a time
// (PixelLanes<4> below), and the eight-lane forms are the portable ones.
inline F8 max8(F8 a, F8 b) { return portableMax8(a, b); }
inline F8 min8(F8 a, F8 b) { return portableMin8(a, b); }
inline I8 clampInt8(I8 v, int lo, int hi) { return portableClampInt8(v, lo, hi); }

template <>
struct PixelLanes<4> {
    static constexpr int WIDTH = 4;
    using F = F32x4;
    using I = I32x4;
    using U = U32x4;
    static F splat(float v) { return v128Splat(v); }
    static F max(F a, F b) { return v128Max(a, b); }
    static F clamp(F v, float lo, float hi) { return v128Min(v128Max(v, splat(lo)), splat(hi)); }
    static I floatToByte(F v) { return v128TruncSmall(clamp(v, 0.0f, 255.0f) + 0.5f); }
    static I floor(F v) { return __builtin_convertvector(v128Floor(v), I32x4); }
    static I clampInt(I v, int lo, int hi) {
        return v128Min(v128Max(v, v128Splat(lo)), v128Splat(hi));
    }
};
void interpolateSurface(const VxDrawState& s, const VxSetup& p, VxBatch& b, int from) {
    interpolateSurfaceIn<PixelLanes<4>>(s, p, b, from);
}
void interpolateSurfaceLanes(const VxDrawState& s, VxBatch& b, int from, int to) {
    interpolateSurfaceLanesIn<PixelLanes<4>>(s, b, from, to);
}

inline bool depthTestGroups(const VxDrawState& s, VxBatch& b, int n, unsigned* runs) {
    // As on the AVX2 path, a group of eight as two halves of four: its form, its stored depths
    // and the depth test, `passes` (stored, z); pixels past the batch fail.
    const auto test = [&](auto passes) __attribute__((always_inline)) {
        I32x4 anyPass = {};
        unsigned whole = 0;
        for (int j = 0; j < n; j += 8) {
            const I32x4 want = v128Splat(b.index[j]) + V128_IOTA;
            const I32x4 same = (v128Load<I32x4>(b.index + j) == want) &
                               (v128Load<I32x4>(b.index + j + 4) == want + 4);
            const bool run = v128Bits(same) == 15u && j + 8 <= n;
            whole |= unsigned(run) << (j / 8);
            I32x4 stored[2];
            if (run) {
                const U16x8 depths = v128Load<U16x8>(b.depth + b.index[j]);
                stored[0] = v128WidenLow(depths);
                stored[1] = v128WidenHigh(depths);
            } else {
                alignas(16) std::int32_t looked[8] = {};
                // A whole group (most) with a fixed count: the compiler unrolls it.
                if (n - j >= 8) {
                    lookupPixels(b.depth, b.index + j, looked, 8);
                } else {
                    lookupPixels(b.depth, b.index + j, looked, n - j);
                }
                stored[0] = v128Load<I32x4>(looked);
                stored[1] = v128Load<I32x4>(looked + 4);
            }
            for (int h = 0; h < 2; ++h) {
                I32x4 pass = passes(stored[h], v128Load<I32x4>(b.z + j + 4 * h));
                const int live = n - j - 4 * h;
                if (live < 4) pass &= v128Splat(live) > V128_IOTA;
                v128Store(b.mask + j + 4 * h, pass);
                anyPass |= pass;
            }
        }
        *runs = whole;
        return v128Bits(anyPass != 0) != 0;
    };
    // The program's functions as one comparison each; the others by the outcomes the function
    // holds, as masks (for WebAssembly the compiler turns each mask's "and" into a bit
    // selection, several instructions on x86).
    switch (s.depthFunc) {
    case VX_CMP_LESS:
        return test([](I32x4 stored, I32x4 z) { return stored > z; });
    case VX_CMP_LEQUAL:
        return test([](I32x4 stored, I32x4 z) { return ~(z > stored); });
    default: {
        const int fn = s.depthFunc;
        const I32x4 takeLess = v128Splat(-(fn & 1));
        const I32x4 takeEqual = v128Splat(-((fn >> 1) & 1));
        const I32x4 takeGreater = v128Splat(-((fn >> 2) & 1));
        return test([=](I32x4 stored, I32x4 z) {
            return ((stored > z) & takeLess) | ((z == stored) & takeEqual) |
                   ((z > stored) & takeGreater);
        });
    }
    }
}

// Eight values of p (each below 65536) in 16-bit lanes, in pixel order.
inline U16x8 load8x16(const std::int32_t* p) {
    return v128Narrow(v128Load<I32x4>(p), v128Load<I32x4>(p + 4));
}
// The 16-bit forms below give the 32-bit results of the scalar ones: every product and sum
// they make stays under 65536 (255 * 255 + 255 at most).
// div255r() in 16-bit lanes.
inline U16x8 div255x8(U16x8 v) {
    const U16x8 x = v + 128;
    return (x + (x >> 8)) >> 8;
}
// div255r(x * y) in 16-bit lanes.
inline U16x8 mul255x8(U16x8 x, U16x8 y) { return div255x8(x * y); }
// floor255() in 16-bit lanes.
inline U16x8 floor255x8(U16x8 v) {
    const U16x8 x = v + 1;
    return (x + (x >> 8)) >> 8;
}
// o + div255s((fc - o) * f) in 16-bit lanes: o moved towards the fog colour fc by f. The
// magnitude of the difference is scaled and given the difference's sign again (s is all ones
// where it is negative: -m = (m ^ s) - s).
inline U16x8 fogTowards8(U16x8 o, U16x8 fc, U16x8 f) {
    const I16x8 d = I16x8(fc - o);
    const U16x8 s = U16x8(d >> 15);
    const U16x8 m = mul255x8((U16x8(d) ^ s) - s, f);
    return o + ((m ^ s) - s);
}
// packRounded() of eight pixels in 16-bit lanes.
inline U16x8 packRounded8(U16x8 r, U16x8 g, U16x8 b) {
    return (mul255x8(r, v128Splat16(31)) << 11) | (mul255x8(g, v128Splat16(63)) << 5) |
           mul255x8(b, v128Splat16(31));
}
// packDithered() of eight pixels in 16-bit lanes, with each pixel's offset.
inline U16x8 packDithered8(U16x8 r, U16x8 g, U16x8 b, U16x8 offset) {
    return (floor255x8(r * 31 + offset) << 11) | (floor255x8(g * 63 + offset) << 5) |
           floor255x8(b * 31 + offset);
}

template <bool FOG, bool DITHER>
inline void shadeSurfacePixels(const VxDrawState& s, const VxBatch& b, int n,
                               const std::int32_t* f, const std::int32_t* offset,
                               std::uint16_t* pix) {
    const int fr = s.fogColor[0], fg = s.fogColor[1], fb = s.fogColor[2];
    const std::int32_t* tr = b.tex[0][0];
    const std::int32_t* tg = b.tex[0][1];
    const std::int32_t* tb = b.tex[0][2];
    // Eight pixels per step in 16-bit lanes, in pixel order.
    for (int i = 0; i < n; i += 8) {
        U16x8 r = mul255x8(load8x16(b.it[0] + i), load8x16(tr + i));
        U16x8 g = mul255x8(load8x16(b.it[1] + i), load8x16(tg + i));
        U16x8 bl = mul255x8(load8x16(b.it[2] + i), load8x16(tb + i));
        if constexpr (FOG) {
            const U16x8 fi = load8x16(f + i);
            r = fogTowards8(r, v128Splat16(fr), fi);
            g = fogTowards8(g, v128Splat16(fg), fi);
            bl = fogTowards8(bl, v128Splat16(fb), fi);
        }
        if constexpr (DITHER) {
            v128Store(pix + i, packDithered8(r, g, bl, load8x16(offset + i)));
        } else {
            v128Store(pix + i, packRounded8(r, g, bl));
        }
    }
}

inline bool storeWholeRun(VxBatch& b, int j, const std::uint16_t* pix) {
    const I32x4 passedLow = v128Load<I32x4>(b.mask + j);
    const I32x4 passedHigh = v128Load<I32x4>(b.mask + j + 4);
    if ((v128Bits(passedLow) & v128Bits(passedHigh)) != 15u) return false;
    // Depth codes are at most 0xFFFE: narrowing keeps them.
    v128Store(b.color + b.index[j], v128Load<U16x8>(pix + j));
    v128Store(b.depth + b.index[j],
              v128Narrow(v128Load<I32x4>(b.z + j), v128Load<I32x4>(b.z + j + 4)));
    return true;
}

inline unsigned passingBits(const VxBatch& b, int j) {
    return v128Bits(v128Load<I32x4>(b.mask + j)) | v128Bits(v128Load<I32x4>(b.mask + j + 4)) << 4;
}

inline void tintedPixels(const VxDrawState& s, const VxBatch& b, int n, const std::int32_t* dst,
                         std::uint16_t* pix) {
    const auto& tex = b.tex[0];
    // Eight pixels per step in 16-bit lanes, as in shadeSurface().
    const U16x8 c255 = v128Splat16(255);
    const U16x8 kr = v128Splat16(s.constant[0]), kg = v128Splat16(s.constant[1]);
    const U16x8 kb = v128Splat16(s.constant[2]);
    for (int i = 0; i < n; i += 8) {
        const U16x8 a = mul255x8(load8x16(tex[3] + i), c255);
        const U16x8 keep = c255 - a;
        U16x8 dr, dg, db;
        vxUnpack565(load8x16(dst + i), &dr, &dg, &db);
        const auto blend = [&](U16x8 k, const std::int32_t* texel, U16x8 under)
                               __attribute__((always_inline)) {
            return v128Min(mul255x8(mul255x8(k, load8x16(texel + i)), a) + mul255x8(under, keep),
                           c255);
        };
        v128Store(pix + i, packRounded8(blend(kr, tex[0], dr), blend(kg, tex[1], dg),
                                        blend(kb, tex[2], db)));
    }
}
#include "vexa/vx_pixel_math_end.h"

namespace {

// What sampling needs of a level besides the coordinates: its column and row masks, its width
// in texels (also as a count to shift by, widthLog, when every lane has the level's; else -1)
// and its first texel's index, in each lane.
struct LevelShape {
    I32x4 wmask, hmask, width, off;
    int widthLog;
};
// A level that groups share, read from the tables once: the shift of its texel coordinates
// and its shape.
struct SharedLevel {
    int shift;
    LevelShape shape;
};
// The level of four pixels, from their mip steps (b.mip[k] + i): texel coordinates already
// shifted to the level (u, v, 8.8 fixed) and its shape. Neighbouring pixels mostly share a
// level: then the tables are read once and the coordinates shifted by one count; otherwise
// lane by lane, as neither instruction set shifts lanes by counts of their own.
struct Level4 {
    I32x4 u, v;
    LevelShape shape;
};
inline SharedLevel sharedLevel(const VxTexUnit& t, int step) {
    SharedLevel l;
    l.shift = t.stepShift[step];
    l.shape.widthLog = t.stepWLog[step];
    l.shape.width = v128Splat(1 << l.shape.widthLog);
    l.shape.wmask = l.shape.width - 1;
    l.shape.hmask = v128Splat((1 << t.stepHLog[step]) - 1);
    l.shape.off = v128Splat(t.stepOffset[step]);
    return l;
}
inline Level4 levelAt(const SharedLevel& s, const VxBatch& b, int k, int i) {
    return {v128ShiftRight(v128Load<I32x4>(b.ufix[k] + i), s.shift),
            v128ShiftRight(v128Load<I32x4>(b.vfix[k] + i), s.shift), s.shape};
}
inline I32x4 clampedSteps(const VxTexUnit& t, const VxBatch& b, int k, int i) {
    return v128Min(v128Max(v128Load<I32x4>(b.mip[k] + i), I32x4{}), v128Splat(t.maxMip));
}
inline Level4 levelOf(const VxTexUnit& t, const VxBatch& b, int k, int i) {
    const I32x4 m = clampedSteps(t, b, k, i);
    if (v128Uniform(m)) return levelAt(sharedLevel(t, m[0]), b, k, i);
    const I32x4 u = v128Load<I32x4>(b.ufix[k] + i), v = v128Load<I32x4>(b.vfix[k] + i);
    Level4 l;
    for (int lane = 0; lane < 4; ++lane) {
        const int step = m[lane];
        l.u[lane] = u[lane] >> t.stepShift[step];
        l.v[lane] = v[lane] >> t.stepShift[step];
        l.shape.width[lane] = 1 << t.stepWLog[step];
        l.shape.hmask[lane] = (1 << t.stepHLog[step]) - 1;
        l.shape.off[lane] = t.stepOffset[step];
    }
    l.shape.wmask = l.shape.width - 1;
    l.shape.widthLog = -1;
    return l;
}
// True when the n pixels' groups of four all have mip step `*step` (clamped as levelOf()
// clamps), which then samples the whole batch at one level.
inline bool batchShares(const VxTexUnit& t, const VxBatch& b, int k, int n, int* step) {
    const I32x4 first = v128Splat(clampedSteps(t, b, k, 0)[0]);
    I32x4 differ = {};
    for (int i = 0; i < n; i += 4) differ |= clampedSteps(t, b, k, i) != first;
    *step = first[0];
    return v128Bits(differ) == 0;
}

// Wrap: index & mask; clamp: between 0 and mask (= size - 1).
inline I32x4 fold(I32x4 i, I32x4 mask, bool clamp) {
    return clamp ? v128Min(v128Max(i, I32x4{}), mask) : i & mask;
}

// The index of texel (x, y) of the level (x, y already folded into it): a shift where the
// lanes share the level's width, a multiplication otherwise.
inline I32x4 texelAt(const LevelShape& l, I32x4 x, I32x4 y) {
    return l.off + (l.widthLog >= 0 ? v128ShiftLeft(y, l.widthLog) : y * l.width) + x;
}

// Stores group i's channels as unit k's sampled texels.
inline void storeTexels(VxBatch& b, int k, int i, I32x4 r, I32x4 g, I32x4 bl, I32x4 a) {
    v128Store(b.tex[k][0] + i, r);
    v128Store(b.tex[k][1] + i, g);
    v128Store(b.tex[k][2] + i, bl);
    v128Store(b.tex[k][3] + i, a);
}

// The constants of the 5-6-5 samplers' groups, made once a batch (see v128Kept).
struct SampleConstants {
    I32x4 one, half, low, whole, round;
    U16x8 green, blue;   // the 5-6-5 fields' masks once shifted down
};
inline SampleConstants sampleConstants() {
    return {v128Kept(v128Splat(1)),    v128Kept(v128Splat(128)),  v128Kept(v128Splat(255)),
            v128Kept(v128Splat(256)),  v128Kept(v128Splat(32768)), v128Kept(v128Splat16(63)),
            v128Kept(v128Splat16(31))};
}

// Bilinear filtering of four sample points from the two texels of each row, side by side in
// a 32-bit lane (left in the low half): the channels decode in 16-bit lanes already paired
// for a multiply-add, top = c00 (256 - fx) + c10 fx exactly as the portable sampler has it,
// then (top (256 - fy) + bottom fy + 32768) >> 16 with top (256 - fy) + bottom fy
// = 256 top + (bottom - top) fy.
inline void filterPairs(const SampleConstants& c, VxBatch& b, int k, int i, U32x4 top,
                        U32x4 bottom, I32x4 fx, I32x4 fy) {
    const I16x8 wx = I16x8((c.whole - fx) | (fx << 16));
    U16x8 tr, tg, tb, br, bg, bb;
    vxUnpack565(U16x8(top), &tr, &tg, &tb, c.green, c.blue);
    vxUnpack565(U16x8(bottom), &br, &bg, &bb, c.green, c.blue);
    const auto vertical = [&](U16x8 upper, U16x8 lower) __attribute__((always_inline)) {
        const I32x4 t = v128MulAddPairs(I16x8(upper), wx);
        const I32x4 u = v128MulAddPairs(I16x8(lower), wx);
        return ((t << 8) + (u - t) * fy + c.round) >> 16;
    };
    storeTexels(b, k, i, vertical(tr, br), vertical(tg, bg), vertical(tb, bb), c.low);
}

// RGB 5-6-5 textures, point sampled or bilinear: the group of four pixels from i at level l.
// Where each sample's right column follows its left one (x1 = x0 + 1, most groups), one
// 4-byte load brings both texels of a row.
template <bool BILINEAR, bool SCLAMP, bool TCLAMP>
__attribute__((always_inline)) inline void sample565Group(const SampleConstants& c,
                                                          const Level4& l,
                                                          const std::uint8_t* base, VxBatch& b,
                                                          int k, int i) {
    if constexpr (!BILINEAR) {
        const I32x4 x = fold(l.u >> 8, l.shape.wmask, SCLAMP);
        const I32x4 y = fold(l.v >> 8, l.shape.hmask, TCLAMP);
        U32x4 r, g, bl;
        vxUnpack565(U32x4(v128Gather16(base, texelAt(l.shape, x, y))), &r, &g, &bl);
        storeTexels(b, k, i, I32x4(r), I32x4(g), I32x4(bl), c.low);
    } else {
        const I32x4 u = l.u - c.half, v = l.v - c.half;
        const I32x4 xi = u >> 8, yi = v >> 8;
        const I32x4 x0 = fold(xi, l.shape.wmask, SCLAMP);
        const I32x4 x1 = fold(xi + c.one, l.shape.wmask, SCLAMP);
        const I32x4 row0 = texelAt(l.shape, x0, fold(yi, l.shape.hmask, TCLAMP));
        const I32x4 row1 = texelAt(l.shape, x0, fold(yi + c.one, l.shape.hmask, TCLAMP));
        U32x4 top, bottom;
        if (v128Bits(x0 + c.one == x1) == 15u) {
            top = U32x4(v128Gather32(base, row0));
            bottom = U32x4(v128Gather32(base, row1));
        } else {
            // A column wraps or clamps: the two texels of a row come one at a time.
            const I32x4 right = x1 - x0;
            top = U32x4(v128Gather16(base, row0)) | U32x4(v128Gather16(base, row0 + right)) << 16;
            bottom = U32x4(v128Gather16(base, row1)) |
                     U32x4(v128Gather16(base, row1 + right)) << 16;
        }
        filterPairs(c, b, k, i, top, bottom, u & c.low, v & c.low);
    }
}

// RGB 5-6-5 textures, point sampled or bilinear, four pixels at a time. A batch whose pixels
// all sample one level (most) reads that level once; otherwise each group finds its own.
template <bool BILINEAR, bool SCLAMP, bool TCLAMP>
void sample565(const VxTexUnit& t, VxBatch& b, int k) {
    // At most VX_BATCH_MAX pixels: saying so lets the compiler unroll the loop.
    const int n = b.n;
    if (n > VX_BATCH_MAX) __builtin_unreachable();
    const std::uint8_t* base = t.base;
    const SampleConstants c = sampleConstants();
    int step;
    if (batchShares(t, b, k, n, &step)) {
        const SharedLevel level = sharedLevel(t, step);
        for (int i = 0; i < n; i += 4) {
            sample565Group<BILINEAR, SCLAMP, TCLAMP>(c, levelAt(level, b, k, i), base, b, k, i);
        }
        return;
    }
    for (int i = 0; i < n; i += 4) {
        sample565Group<BILINEAR, SCLAMP, TCLAMP>(c, levelOf(t, b, k, i), base, b, k, i);
    }
}

// Point sampling of 8-bit alpha textures (the font's): every channel is the texel.
template <bool SCLAMP, bool TCLAMP>
void samplePointAlpha8(const VxTexUnit& t, VxBatch& b, int k) {
    const int n = b.n;
    if (n > VX_BATCH_MAX) __builtin_unreachable();
    for (int i = 0; i < n; i += 4) {
        const Level4 l = levelOf(t, b, k, i);
        const I32x4 x = fold(l.u >> 8, l.shape.wmask, SCLAMP);
        const I32x4 y = fold(l.v >> 8, l.shape.hmask, TCLAMP);
        const I32x4 texel = v128Gather8(t.base, texelAt(l.shape, x, y));
        storeTexels(b, k, i, texel, texel, texel, texel);
    }
}

}  // namespace

#include "vexa/vx_path_samplers.h"

}  // namespace vxV128

#include "vexa/vx_v128_end.h"

void vxV128Path(VxPath* path) { vxV128::fillPath(path); }

#endif
