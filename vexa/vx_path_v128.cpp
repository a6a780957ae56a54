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
#define VX_PATH_V128 1

namespace vxV128 {
#include "vexa/vx_v128.h"
#include "vexa/vx_path_body.h"

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

#undef VX_PATH_V128
#include "vexa/vx_v128_end.h"

void vxV128Path(VxPath* path) { vxV128::fillPath(path); }

#endif
