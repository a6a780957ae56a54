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

// The level of four pixels, from their mip steps (b.mip[k] + i): texel coordinates already
// shifted to the level (u, v, 8.8 fixed), its column and row masks, its width in texels and
// its first texel's index. Neighbouring pixels mostly share a level: then the tables are read
// once and the coordinates shifted by one count; otherwise lane by lane, as neither
// instruction set shifts lanes by counts of their own.
struct Level4 {
    I32x4 u, v, wmask, hmask, width, off;
};
inline Level4 levelOf(const VxTexUnit& t, const VxBatch& b, int k, int i) {
    I32x4 m = v128Load<I32x4>(b.mip[k] + i);
    m = v128Min(v128Max(m, I32x4{}), v128Splat(t.maxMip));
    const I32x4 u = v128Load<I32x4>(b.ufix[k] + i), v = v128Load<I32x4>(b.vfix[k] + i);
    Level4 l;
    if (v128Uniform(m)) {
        const int step = m[0];
        l.u = u >> t.stepShift[step];
        l.v = v >> t.stepShift[step];
        l.width = v128Splat(1 << t.stepWLog[step]);
        l.hmask = v128Splat((1 << t.stepHLog[step]) - 1);
        l.off = v128Splat(t.stepOffset[step]);
    } else {
        for (int lane = 0; lane < 4; ++lane) {
            const int step = m[lane];
            l.u[lane] = u[lane] >> t.stepShift[step];
            l.v[lane] = v[lane] >> t.stepShift[step];
            l.width[lane] = 1 << t.stepWLog[step];
            l.hmask[lane] = (1 << t.stepHLog[step]) - 1;
            l.off[lane] = t.stepOffset[step];
        }
    }
    l.wmask = l.width - 1;
    return l;
}

// Wrap: index & mask; clamp: between 0 and mask (= size - 1).
inline I32x4 fold(I32x4 i, I32x4 mask, bool clamp) {
    return clamp ? v128Min(v128Max(i, I32x4{}), mask) : i & mask;
}

// The index of texel (x, y) of the level (x, y already folded into it).
inline I32x4 texelAt(const Level4& l, I32x4 x, I32x4 y) { return l.off + y * l.width + x; }

// Stores group i's channels as unit k's sampled texels.
inline void storeTexels(VxBatch& b, int k, int i, I32x4 r, I32x4 g, I32x4 bl, I32x4 a) {
    v128Store(b.tex[k][0] + i, r);
    v128Store(b.tex[k][1] + i, g);
    v128Store(b.tex[k][2] + i, bl);
    v128Store(b.tex[k][3] + i, a);
}

// Bilinear filtering of four sample points from the two texels of each row, side by side in
// a 32-bit lane (left in the low half): the channels decode in 16-bit lanes already paired
// for a multiply-add, top = c00 (256 - fx) + c10 fx exactly as the portable sampler has it,
// then (top (256 - fy) + bottom fy + 32768) >> 16 with top (256 - fy) + bottom fy
// = 256 top + (bottom - top) fy.
inline void filterPairs(VxBatch& b, int k, int i, U32x4 top, U32x4 bottom, I32x4 fx,
                        I32x4 fy) {
    const I16x8 wx = I16x8((v128Splat(256) - fx) | (fx << 16));
    U16x8 tr, tg, tb, br, bg, bb;
    vxUnpack565(U16x8(top), &tr, &tg, &tb);
    vxUnpack565(U16x8(bottom), &br, &bg, &bb);
    const auto vertical = [&](U16x8 upper, U16x8 lower) __attribute__((always_inline)) {
        const I32x4 t = v128MulAddPairs(I16x8(upper), wx);
        const I32x4 u = v128MulAddPairs(I16x8(lower), wx);
        return ((t << 8) + (u - t) * fy + 32768) >> 16;
    };
    storeTexels(b, k, i, vertical(tr, br), vertical(tg, bg), vertical(tb, bb), v128Splat(255));
}

// RGB 5-6-5 textures, point sampled or bilinear, four pixels at a time: the level of each
// group, then its texels. Where each sample's right column follows its left one (x1 = x0 + 1,
// most groups), one 4-byte load brings both texels of a row.
template <bool BILINEAR, bool SCLAMP, bool TCLAMP>
void sample565(const VxTexUnit& t, VxBatch& b, int k) {
    // At most VX_BATCH_MAX pixels: saying so lets the compiler unroll the loop.
    const int n = b.n;
    if (n > VX_BATCH_MAX) __builtin_unreachable();
    const std::uint8_t* base = t.base;
    for (int i = 0; i < n; i += 4) {
        const Level4 l = levelOf(t, b, k, i);
        if constexpr (!BILINEAR) {
            const I32x4 x = fold(l.u >> 8, l.wmask, SCLAMP);
            const I32x4 y = fold(l.v >> 8, l.hmask, TCLAMP);
            U32x4 r, g, bl;
            vxUnpack565(U32x4(v128Gather16(base, texelAt(l, x, y))), &r, &g, &bl);
            storeTexels(b, k, i, I32x4(r), I32x4(g), I32x4(bl), v128Splat(255));
        } else {
            const I32x4 u = l.u - 128, v = l.v - 128;
            const I32x4 xi = u >> 8, yi = v >> 8;
            const I32x4 x0 = fold(xi, l.wmask, SCLAMP), x1 = fold(xi + 1, l.wmask, SCLAMP);
            const I32x4 row0 = texelAt(l, x0, fold(yi, l.hmask, TCLAMP));
            const I32x4 row1 = texelAt(l, x0, fold(yi + 1, l.hmask, TCLAMP));
            U32x4 top, bottom;
            if (v128Bits(x0 + 1 == x1) == 15u) {
                top = U32x4(v128Gather32(base, row0));
                bottom = U32x4(v128Gather32(base, row1));
            } else {
                // A column wraps or clamps: the two texels of a row come one at a time.
                const I32x4 right = x1 - x0;
                top = U32x4(v128Gather16(base, row0)) | U32x4(v128Gather16(base, row0 + right)) << 16;
                bottom = U32x4(v128Gather16(base, row1)) |
                         U32x4(v128Gather16(base, row1 + right)) << 16;
            }
            filterPairs(b, k, i, top, bottom, u & 255, v & 255);
        }
    }
}

// Point sampling of 8-bit alpha textures (the font's): every channel is the texel.
template <bool SCLAMP, bool TCLAMP>
void samplePointAlpha8(const VxTexUnit& t, VxBatch& b, int k) {
    const int n = b.n;
    if (n > VX_BATCH_MAX) __builtin_unreachable();
    for (int i = 0; i < n; i += 4) {
        const Level4 l = levelOf(t, b, k, i);
        const I32x4 x = fold(l.u >> 8, l.wmask, SCLAMP);
        const I32x4 y = fold(l.v >> 8, l.hmask, TCLAMP);
        const I32x4 texel = v128Gather8(t.base, texelAt(l, x, y));
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
