// Pixel pipeline of Vexa for one processor path: included by vx_path_body.h once per path
// (portable, 128-bit and AVX2) inside that path's namespace, so all are the same source and
// give the same bits. Stages run over a batch of up to 64 covered pixels, each a plain loop
// the compiler vectorises: interpolate, depth code and test, iterated colour, texture
// coordinates and level, sampling, texture combine, colour/alpha combine, alpha test, fog,
// blending, 5-6-5 packing, store. No floating-point contraction is allowed (no FMA target), so
// float results are identical on every path. Where a path works differently (gathers, 16-bit
// colour arithmetic, its own lane count) the pipeline calls the path's pieces, declared here
// beside their portable forms and defined by each path's file (see vx_path_body.h): exact
// integer equivalents of the plain loops.
// Deliberately without an include guard.

alignas(64) const std::int32_t zeros[VX_BATCH_MAX] = {};
struct Full {
    alignas(64) std::int32_t v[VX_BATCH_MAX];
    constexpr Full() : v() {
        for (int i = 0; i < VX_BATCH_MAX; ++i) v[i] = 255;
    }
};
constexpr Full full255;

// round(t / 255) for 0 <= t <= 65025 (exact: the classic add-and-shift identity).
inline int div255r(int t) {
    const int x = t + 128;
    return (x + (x >> 8)) >> 8;
}
// round(t / 255) for -65025 <= t <= 65025, halves away from zero.
inline int div255s(int t) {
    const int a = t < 0 ? -t : t;
    const int r = div255r(a);
    return t < 0 ? -r : r;
}
inline int clamp255(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }
// floor(t / 255) for 0 <= t < 65535 (exact).
inline int floor255(int t) {
    const int x = t + 1;
    return (x + (x >> 8)) >> 8;
}

// Ordered dithering into 5-6-5: a channel of v (0..255) becomes floor((v * max + offset) / 255)
// with the offset of the pixel's place in a 4 x 4 block, (2k + 1) 255 / 32 rounded for the
// place's rank k in the pattern, so the 16 thresholds sit evenly in (0, 1) and a flat area
// averages to its true colour. Every sum stays below 16 384, as the 16-bit lanes need.
// The pattern's ranks, row by row (index (y & 3) * 4 + (x & 3)).
constexpr std::int32_t DITHER_RANK[16] = {0, 8, 2, 10, 12, 4, 14, 6, 3, 11, 1, 9, 15, 7, 13, 5};
constexpr int ditherOffset(int rank) { return ((2 * rank + 1) * 255 + 16) / 32; }

// The rank of place (x, y) in the 4 x 4 pattern, worked out rather than looked up (a table
// lookup per pixel does not vectorise): with a = x ^ y, the rank's bits from the top are
// bit 0 of a, bit 0 of y, bit 1 of a, bit 1 of y.
constexpr int ditherRank(int x, int y) {
    const int a = x ^ y;
    return ((a & 1) << 3) | ((y & 1) << 2) | (a & 2) | ((y >> 1) & 1);
}
constexpr bool ditherRankMatchesPattern() {
    for (int i = 0; i < 16; ++i) {
        if (ditherRank(i & 3, i >> 2) != DITHER_RANK[i]) return false;
    }
    return true;
}
static_assert(ditherRankMatchesPattern());

// The offsets of the sixteen places, (y & 3) * 4 + (x & 3).
struct DitherTable {
    alignas(32) std::int32_t v[16];
    constexpr DitherTable() : v() {
        for (int p = 0; p < 16; ++p) v[p] = ditherOffset(DITHER_RANK[p]);
    }
};
constexpr DitherTable ditherTable;

// The dither offset of every pixel of the batch, by screen position (whole groups of eight).
// A piece of the path (see the top of this file); portableDitherOffsets() works it out per
// pixel.
inline void ditherOffsets(const VxBatch& b, std::int32_t* out, int n);
inline void portableDitherOffsets(const VxBatch& b, std::int32_t* out, int n) {
    for (int i = 0; i < n; ++i) out[i] = ditherOffset(ditherRank(b.x[i] & 3, b.y[i] & 3));
}

inline int packRounded(int r, int g, int bl) {
    return (div255r(r * 31) << 11) | (div255r(g * 63) << 5) | div255r(bl * 31);
}
inline int packDithered(int r, int g, int bl, int offset) {
    return (floor255(r * 31 + offset) << 11) | (floor255(g * 63 + offset) << 5) |
           floor255(bl * 31 + offset);
}

// v within [lo, hi], NaN giving lo. Written as strict comparisons so that each line is one
// vector max or min (which return their second operand for NaN); at lo and hi themselves
// either form gives the same value.
inline float clampTo(float v, float lo, float hi) {
    v = v > lo ? v : lo;
    return v < hi ? v : hi;
}

// Float to byte: NaN and negatives give 0, above 255 gives 255, otherwise rounded.
inline int floatToByte(float v) { return int(clampTo(v, 0.0f, 255.0f) + 0.5f); }

// out[i] = table[idx[i] >> shift] for i < n (a byte table with 4 bytes of room past its
// end). A piece of the path; portableLookupBytes() reads one entry at a time.
inline void lookupBytes(const std::uint8_t* table, const std::int32_t* idx, int shift,
                        std::int32_t* out, int n);
inline void portableLookupBytes(const std::uint8_t* table, const std::int32_t* idx, int shift,
                                std::int32_t* out, int n) {
    for (int i = 0; i < n; ++i) out[i] = table[idx[i] >> shift];
}

// out[i] = buffer[idx[i]] for i < n. One load at a time on every path: the buffer's lines
// are mostly on their way (prefetched when the pixels entered the batch), and a gather of
// eight waits for the slowest of them where separate loads overlap.
inline void lookupPixels(const std::uint16_t* buffer, const std::int32_t* idx,
                         std::int32_t* out, int n) {
    for (int i = 0; i < n; ++i) out[i] = buffer[idx[i]];
}

template <class B>
inline int at(B b, int i) {
    if constexpr (std::is_pointer_v<B>) {
        return b[i];
    } else {
        (void)i;
        return b;
    }
}

// mask &= (a compare b); b is an array or one value.
template <class B>
void compareMask(int fn, const std::int32_t* a, B b, std::int32_t* mask, int n) {
    switch (fn) {
    case VX_CMP_NEVER: for (int i = 0; i < n; ++i) mask[i] = 0; break;
    case VX_CMP_LESS: for (int i = 0; i < n; ++i) mask[i] &= -(a[i] < at(b, i)); break;
    case VX_CMP_EQUAL: for (int i = 0; i < n; ++i) mask[i] &= -(a[i] == at(b, i)); break;
    case VX_CMP_LEQUAL: for (int i = 0; i < n; ++i) mask[i] &= -(a[i] <= at(b, i)); break;
    case VX_CMP_GREATER: for (int i = 0; i < n; ++i) mask[i] &= -(a[i] > at(b, i)); break;
    case VX_CMP_NOTEQUAL: for (int i = 0; i < n; ++i) mask[i] &= -(a[i] != at(b, i)); break;
    case VX_CMP_GEQUAL: for (int i = 0; i < n; ++i) mask[i] &= -(a[i] >= at(b, i)); break;
    default: break;  // always
    }
}

// Texel coordinates of unit k (level-0 texels, 8 fraction bits) and its mip step per pixel:
// -1 = magnified (mag filter, largest level), else the nearest level step, from the larger
// of the x and y screen derivatives of (u, v). log2 uses the float's bits (piecewise linear
// between powers of two; at most 0.043 levels off), which is deterministic and cheap.
void texCoords(const VxTexUnit& t, const VxSetup& p, int k, VxBatch& b, const float* fx,
               const float* fy, int from, int n) {
    // Whole groups of 8 lanes (the arrays have room past the batch): no scalar remainder.
    const int end = from + ((n - from + 7) & ~7);
    alignas(64) float u[VX_BATCH_PAD], v[VX_BATCH_PAD];
    const int pu = k == 0 ? VX_PL_U0 : VX_PL_U1, pv = pu + 1;
    const float bu = p.base[pu], xu = p.dx[pu], yu = p.dy[pu];
    const float bv = p.base[pv], xv = p.dx[pv], yv = p.dy[pv];
    constexpr float LIMIT = 4194304.0f;  // 2^22 texels: wraps identically, fits 8.8 fixed
    std::int32_t* uf = b.ufix[k];
    std::int32_t* vf = b.vfix[k];
    for (int j = from; j < end; j += 8) {
        for (int i = j; i < j + 8; ++i) {
            float uu = ((bu + xu * fx[i]) + yu * fy[i]) * b.w[i];
            float vv = ((bv + xv * fx[i]) + yv * fy[i]) * b.w[i];
            uu = clampTo(uu, -LIMIT, LIMIT);
            vv = clampTo(vv, -LIMIT, LIMIT);
            u[i] = uu;
            v[i] = vv;
            const float su = uu * 256.0f, sv = vv * 256.0f;
            int iu = int(su), iv = int(sv);
            iu -= float(iu) > su;  // floor
            iv -= float(iv) > sv;
            uf[i] = iu;
            vf[i] = iv;
        }
    }
    std::int32_t* mip = b.mip[k];
    if (!t.mipmap && t.minFilter == t.magFilter) {
        for (int i = from; i < end; ++i) mip[i] = 0;
        return;
    }
    const float qx = p.dx[VX_PL_Q], qy = p.dy[VX_PL_Q];
    const int bias = t.biasFixed, maxMip = t.mipmap ? t.maxMip : 0;
    for (int j = from; j < end; j += 8) {
        for (int i = j; i < j + 8; ++i) {
            const float ax = xu - u[i] * qx, bx = xv - v[i] * qx;
            const float ay = yu - u[i] * qy, by = yv - v[i] * qy;
            const float rx = ax * ax + bx * bx, ry = ay * ay + by * by;
            const float r = (rx > ry ? rx : ry) * (b.w[i] * b.w[i]);
            const int bits = __builtin_bit_cast(std::int32_t, r) & 0x7FFFFFFF;
            const int lod2 = ((bits - 0x3F800000) >> 15) + bias;  // 2 * lod in 1/256 units
            int step = (lod2 + 256) >> 9;
            step = step < 0 ? 0 : (step > maxMip ? maxMip : step);
            mip[i] = lod2 <= 0 ? -1 : step;
        }
    }
}

// One channel of a combine unit: out = function(factor, local, other), clamped, inverted.
void combineChannel(int fn, const std::int32_t* f, const std::int32_t* l,
                    const std::int32_t* la, const std::int32_t* o, int invert,
                    std::int32_t* out, int n) {
    switch (fn) {
    case VX_COMBINE_LOCAL: for (int i = 0; i < n; ++i) out[i] = l[i]; break;
    case VX_COMBINE_LOCAL_ALPHA: for (int i = 0; i < n; ++i) out[i] = la[i]; break;
    case VX_COMBINE_SCALE_OTHER: for (int i = 0; i < n; ++i) out[i] = div255r(f[i] * o[i]); break;
    case VX_COMBINE_SCALE_OTHER_ADD_LOCAL:
        for (int i = 0; i < n; ++i) out[i] = clamp255(div255r(f[i] * o[i]) + l[i]);
        break;
    case VX_COMBINE_SCALE_OTHER_ADD_LOCAL_ALPHA:
        for (int i = 0; i < n; ++i) out[i] = clamp255(div255r(f[i] * o[i]) + la[i]);
        break;
    case VX_COMBINE_SCALE_OTHER_MINUS_LOCAL:
        for (int i = 0; i < n; ++i) out[i] = clamp255(div255s(f[i] * (o[i] - l[i])));
        break;
    case VX_COMBINE_BLEND_OTHER_LOCAL:
        for (int i = 0; i < n; ++i) out[i] = clamp255(div255s(f[i] * (o[i] - l[i])) + l[i]);
        break;
    case VX_COMBINE_BLEND_OTHER_LOCAL_ALPHA:
        for (int i = 0; i < n; ++i) out[i] = clamp255(div255s(f[i] * (o[i] - l[i])) + la[i]);
        break;
    case VX_COMBINE_SCALE_MINUS_LOCAL_ADD_LOCAL:
        for (int i = 0; i < n; ++i) out[i] = clamp255(l[i] - div255r(f[i] * l[i]));
        break;
    default: for (int i = 0; i < n; ++i) out[i] = 0; break;
    }
    if (invert) {
        for (int i = 0; i < n; ++i) out[i] = 255 - out[i];
    }
}

// The factor of a combine unit as an array; ONE_MINUS_* factors are written to scratch.
const std::int32_t* factorArray(int factor, const std::int32_t* local,
                                const std::int32_t* localA, const std::int32_t* otherA,
                                const std::int32_t* texA, std::int32_t* scratch, int n) {
    const std::int32_t* src;
    switch (factor) {
    case VX_FACTOR_LOCAL: return local;
    case VX_FACTOR_OTHER_ALPHA: return otherA;
    case VX_FACTOR_LOCAL_ALPHA: return localA;
    case VX_FACTOR_TEXTURE_ALPHA: return texA;
    case VX_FACTOR_ONE: return full255.v;
    case VX_FACTOR_ONE_MINUS_LOCAL: src = local; break;
    case VX_FACTOR_ONE_MINUS_OTHER_ALPHA: src = otherA; break;
    case VX_FACTOR_ONE_MINUS_LOCAL_ALPHA: src = localA; break;
    case VX_FACTOR_ONE_MINUS_TEXTURE_ALPHA: src = texA; break;
    default: return zeros;
    }
    for (int i = 0; i < n; ++i) scratch[i] = 255 - src[i];
    return scratch;
}

// The rgb half of a combine unit (channels 0-2 of out). local/other are 4-channel sources;
// texA is what "texture alpha" means for this unit.
void combineRgb(const VxCombineSetting& rgb, const std::int32_t* const* local,
                const std::int32_t* const* other, const std::int32_t* texA,
                std::int32_t* const* out, int n) {
    alignas(64) std::int32_t scratch[VX_BATCH_MAX];
    for (int c = 0; c < 3; ++c) {
        const std::int32_t* f =
            factorArray(rgb.factor, local[c], local[3], other[3], texA, scratch, n);
        combineChannel(rgb.function, f, local[c], local[3], other[c], rgb.invert, out[c], n);
    }
}

// The alpha half: every input is an alpha, so LOCAL and LOCAL_ALPHA agree.
void combineAlpha(const VxCombineSetting& alpha, const std::int32_t* const* local,
                  const std::int32_t* const* other, const std::int32_t* texA,
                  std::int32_t* out, int n) {
    alignas(64) std::int32_t scratch[VX_BATCH_MAX];
    const std::int32_t* f =
        factorArray(alpha.factor, local[3], local[3], other[3], texA, scratch, n);
    combineChannel(alpha.function, f, local[3], local[3], other[3], alpha.invert, out, n);
}

bool passThrough(const VxCombineSetting& c) {
    return c.function == VX_COMBINE_LOCAL && !c.invert;
}

// Blend factor of one channel as an array (src: the incoming colour channel, a: its alpha).
const std::int32_t* blendFactor(int factor, const std::int32_t* src, const std::int32_t* a,
                                std::int32_t* scratch, int n) {
    switch (factor) {
    case VX_BLEND_ONE:
    case VX_BLEND_DST_ALPHA:  // no alpha buffer: destination alpha reads as 255
        return full255.v;
    case VX_BLEND_SRC_ALPHA: return a;
    case VX_BLEND_SRC_COLOR: return src;
    case VX_BLEND_ONE_MINUS_SRC_ALPHA:
        for (int i = 0; i < n; ++i) scratch[i] = 255 - a[i];
        return scratch;
    case VX_BLEND_ONE_MINUS_SRC_COLOR:
        for (int i = 0; i < n; ++i) scratch[i] = 255 - src[i];
        return scratch;
    default:  // ZERO, ONE_MINUS_DST_ALPHA
        return zeros;
    }
}

// Plane-dependent values of batch pixels [from, n), all from the current triangle's setup:
// depth code, iterated colour, texel coordinates and mip steps.
void interpolate(const VxDrawState& s, const VxSetup& p, VxBatch& b, int from) {
    const int n = b.n;
    const int end = from + ((n - from + 7) & ~7);
    const std::uint32_t flags = s.flags;
    alignas(64) float fx[VX_BATCH_PAD], fy[VX_BATCH_PAD];
    const float offX = p.offX, offY = p.offY;
    const int pitch = b.pitch;
    const float bq = p.base[VX_PL_Q], xq = p.dx[VX_PL_Q], yq = p.dy[VX_PL_Q];
    const float br = p.base[VX_PL_R], xr = p.dx[VX_PL_R], yr = p.dy[VX_PL_R];
    const float bg = p.base[VX_PL_G], xg = p.dx[VX_PL_G], yg = p.dy[VX_PL_G];
    const float bb = p.base[VX_PL_B], xb = p.dx[VX_PL_B], yb = p.dy[VX_PL_B];
    const float ba = p.base[VX_PL_A], xa = p.dx[VX_PL_A], ya = p.dy[VX_PL_A];
    for (int j = from; j < end; j += 8) {
        for (int i = j; i < j + 8; ++i) {
            const float x = float(b.x[i]) + offX, y = float(b.y[i]) + offY;
            fx[i] = x;
            fy[i] = y;
            b.index[i] = b.y[i] * pitch + b.x[i];
            const float w = 1.0f / ((bq + xq * x) + yq * y);
            b.w[i] = w;
            // Depth code: exponent and 12 mantissa bits of w, w = 1 -> 0; nearer is smaller.
            // Negative, infinite and NaN w land on the far end.
            const std::uint32_t bits = __builtin_bit_cast(std::uint32_t, w);
            int code = int(bits >> 11) - (127 << 12);
            code = code < 0 ? 0 : code;
            b.z[i] = code > 0xFFFE ? 0xFFFE : code;
            b.it[0][i] = floatToByte((br + xr * x) + yr * y);
            b.it[1][i] = floatToByte((bg + xg * x) + yg * y);
            b.it[2][i] = floatToByte((bb + xb * x) + yb * y);
            b.it[3][i] = floatToByte((ba + xa * x) + ya * y);
        }
    }
    if (flags & VX_DRAW_TEX0) {
        if (s.tex[0].base) texCoords(s.tex[0], p, 0, b, fx, fy, from, n);
        if ((flags & VX_DRAW_TEX1) && s.tex[1].base) texCoords(s.tex[1], p, 1, b, fx, fy, from, n);
    }
}

// The general pipeline's depth test of the batch's n pixels into its mask: false when no
// pixel passes.
inline bool depthTest(const VxDrawState& s, VxBatch& b, int n) {
    alignas(64) std::int32_t stored[VX_BATCH_MAX];
    lookupPixels(b.depth, b.index, stored, n);
    compareMask(s.depthFunc, b.z, stored, b.mask, n);
    int live = 0;
    for (int i = 0; i < n; ++i) live |= b.mask[i];
    return live != 0;
}

// Samples the units in use, unit 1 first, and runs each through its texture combine (unit 1's
// output is unit 0's "other" input): `texOut` is then what the colour combine takes as the
// texture, four channels.
inline void textureUnits(const VxDrawState& s, VxBatch& b, int n, const std::int32_t** texOut) {
    const std::int32_t* next[4] = {zeros, zeros, zeros, zeros};
    for (int k = (s.flags & VX_DRAW_TEX1) ? 1 : 0; k >= 0; --k) {
        const VxTexUnit& t = s.tex[k];
        t.sample(t, b, k);
        const std::int32_t* local[4] = {b.tex[k][0], b.tex[k][1], b.tex[k][2], b.tex[k][3]};
        if (passThrough(s.texRgb[k]) && passThrough(s.texAlpha[k])) {
            for (int c = 0; c < 4; ++c) next[c] = local[c];
        } else {
            std::int32_t* out[4] = {b.unitOut[k][0], b.unitOut[k][1], b.unitOut[k][2],
                                    b.unitOut[k][3]};
            combineRgb(s.texRgb[k], local, next, local[3], out, n);
            combineAlpha(s.texAlpha[k], local, next, local[3], out[3], n);
            for (int c = 0; c < 4; ++c) next[c] = out[c];
        }
    }
    for (int c = 0; c < 4; ++c) texOut[c] = next[c];
}

// The colour and alpha combine into the batch's output channels, from the iterated colour,
// the constant colour and the texture (`texOut`).
inline void combineColour(const VxDrawState& s, VxBatch& b, int n,
                          const std::int32_t* const* texOut) {
    alignas(64) std::int32_t constant[4][VX_BATCH_MAX];
    const bool needConst = s.color.local == VX_LOCAL_CONSTANT ||
                           s.color.other == VX_OTHER_CONSTANT ||
                           s.alpha.local == VX_LOCAL_CONSTANT ||
                           s.alpha.other == VX_OTHER_CONSTANT;
    if (needConst) {
        for (int c = 0; c < 4; ++c) {
            const int v = s.constant[c];
            for (int i = 0; i < n; ++i) constant[c][i] = v;
        }
    }
    const std::int32_t* iterated[4] = {b.it[0], b.it[1], b.it[2], b.it[3]};
    const std::int32_t* constants[4] = {constant[0], constant[1], constant[2], constant[3]};
    const auto localOf = [&](int local) {
        return local == VX_LOCAL_CONSTANT ? constants : iterated;
    };
    const auto otherOf = [&](int other) {
        return other == VX_OTHER_CONSTANT ? constants
                                          : (other == VX_OTHER_TEXTURE ? texOut : iterated);
    };
    std::int32_t* rgbOut[3] = {b.out[0], b.out[1], b.out[2]};
    combineRgb(s.color, localOf(s.color.local), otherOf(s.color.other), texOut[3], rgbOut, n);
    combineAlpha(s.alpha, localOf(s.alpha.local), otherOf(s.alpha.other), texOut[3], b.out[3],
                 n);
}

// Moves the output colour towards the fog colour by the fine fog table's factor at each
// pixel's depth code.
inline void fogPixels(const VxDrawState& s, VxBatch& b, int n) {
    alignas(64) std::int32_t f[VX_BATCH_MAX];
    lookupBytes(b.fogFine, b.z, VX_FOG_FINE_SHIFT, f, n);
    for (int c = 0; c < 3; ++c) {
        const int fc = s.fogColor[c];
        std::int32_t* o = b.out[c];
        for (int i = 0; i < n; ++i) o[i] = o[i] + div255s((fc - o[i]) * f[i]);
    }
}

// Blends the output colour with the colour buffer's by the state's blend factors.
inline void blendPixels(const VxDrawState& s, VxBatch& b, int n) {
    alignas(64) std::int32_t dst[3][VX_BATCH_MAX];
    for (int i = 0; i < n; ++i) {
        vxUnpack565(std::int32_t(b.color[b.index[i]]), &dst[0][i], &dst[1][i], &dst[2][i]);
    }
    alignas(64) std::int32_t sScratch[VX_BATCH_MAX], dScratch[VX_BATCH_MAX];
    for (int c = 0; c < 3; ++c) {
        std::int32_t* o = b.out[c];
        const std::int32_t* sf = blendFactor(s.blendSrc, o, b.out[3], sScratch, n);
        const std::int32_t* df = blendFactor(s.blendDst, o, b.out[3], dScratch, n);
        const std::int32_t* d = dst[c];
        for (int i = 0; i < n; ++i) {
            const int v = div255r(o[i] * sf[i]) + div255r(d[i] * df[i]);
            o[i] = v > 255 ? 255 : v;
        }
    }
}

// The output colour packed into 5-6-5, dithered or rounded.
inline void packPixels(const VxBatch& b, int n, bool dither, std::int32_t* pix) {
    if (dither) {
        alignas(64) std::int32_t offset[VX_BATCH_MAX];
        ditherOffsets(b, offset, n);
        for (int i = 0; i < n; ++i) {
            pix[i] = packDithered(b.out[0][i], b.out[1][i], b.out[2][i], offset[i]);
        }
    } else {
        for (int i = 0; i < n; ++i) pix[i] = packRounded(b.out[0][i], b.out[1][i], b.out[2][i]);
    }
}

// Stores the passing pixels, with their depth codes when `depthWrite`.
inline void storePixels(VxBatch& b, int n, bool depthWrite, const std::int32_t* pix) {
    std::uint16_t* color = b.color;
    if (depthWrite) {
        std::uint16_t* depth = b.depth;
        for (int i = 0; i < n; ++i) {
            if (b.mask[i]) {
                color[b.index[i]] = std::uint16_t(pix[i]);
                depth[b.index[i]] = std::uint16_t(b.z[i]);
            }
        }
    } else {
        for (int i = 0; i < n; ++i) {
            if (b.mask[i]) color[b.index[i]] = std::uint16_t(pix[i]);
        }
    }
}

// Everything after interpolation for the whole batch, in stages: depth test, sampling and
// texture combines, colour and alpha combine, alpha test, fog, blending, packing and the
// stores.
void finish(const VxDrawState& s, VxBatch& b) {
    const int n = b.n;
    const std::uint32_t flags = s.flags;
    for (int i = 0; i < VX_BATCH_MAX; ++i) b.mask[i] = -1;  // whole vectors, no memset call
    if ((flags & VX_DRAW_DEPTH_TEST) && !depthTest(s, b, n)) return;
    const std::int32_t* texOut[4] = {zeros, zeros, zeros, full255.v};
    if (flags & VX_DRAW_TEX0) textureUnits(s, b, n, texOut);
    combineColour(s, b, n, texOut);
    if (flags & VX_DRAW_ALPHA_TEST) compareMask(s.alphaTest, b.out[3], int(s.alphaRef), b.mask, n);
    if (flags & VX_DRAW_FOG) fogPixels(s, b, n);
    if (flags & VX_DRAW_BLEND) blendPixels(s, b, n);
    alignas(64) std::int32_t pix[VX_BATCH_MAX];
    packPixels(b, n, (flags & VX_DRAW_DITHER) != 0, pix);
    storePixels(b, n, (flags & VX_DRAW_DEPTH_WRITE) != 0, pix);
}

// Eight lanes of floats or ints (one AVX2 register; two SSE2 registers on the portable path).
using F8 = float __attribute__((vector_size(32)));
using I8 = std::int32_t __attribute__((vector_size(32)));
using U8 = std::uint32_t __attribute__((vector_size(32)));
using U16 = std::uint16_t __attribute__((vector_size(32)));  // sixteen 16-bit lanes
template <class V, class T>
inline V load8(const T* p) {
    V v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
template <class V, class T>
inline void store8(T* p, V v) {
    std::memcpy(p, &v, sizeof v);
}
// a > b ? a : b and a < b ? a : b, lane by lane, and v within lo..hi (lo <= hi): pieces of
// the path, one instruction each on the AVX2 path, where the same comparisons in a plain loop
// become compares and blends. (The 128-bit path works four lanes at a time, its own
// PixelLanes<4>.)
inline F8 max8(F8 a, F8 b);
inline F8 min8(F8 a, F8 b);
inline I8 clampInt8(I8 v, int lo, int hi);
inline F8 portableMax8(F8 a, F8 b) { return a > b ? a : b; }
inline F8 portableMin8(F8 a, F8 b) { return a < b ? a : b; }
inline I8 portableClampInt8(I8 v, int lo, int hi) {
    v = v < lo ? I8{} + lo : v;
    return v > hi ? I8{} + hi : v;
}
// v in all eight lanes, as it is (adding it to zeros would turn -0 into +0).
inline F8 splat8(float v) { return F8{v, v, v, v, v, v, v, v}; }
// clampTo() eight at a time.
inline F8 clamp8(F8 v, float lo, float hi) { return min8(max8(v, splat8(lo)), splat8(hi)); }
inline I8 floatToByte8(F8 v) { return __builtin_convertvector(clamp8(v, 0.0f, 255.0f) + 0.5f, I8); }
// The floor of eight floats within the int range: truncation, less one where it rounded up.
inline I8 floor8(F8 v) {
    const I8 i = __builtin_convertvector(v, I8);
    return i + (__builtin_convertvector(i, F8) > v);
}

// The vectors interpolateSurfacePixels() works in and the operations it needs on them: WIDTH
// lanes, eight here; the 128-bit path has its own PixelLanes<4>, where eight are two
// registers. Each lane sees the same operations either way; four at a time halves the
// registers the loop's values take, and the surface planes held across it (twenty) no longer
// push its working values out of registers there.
template <int WIDTH>
struct PixelLanes;
template <>
struct PixelLanes<8> {
    static constexpr int WIDTH = 8;
    using F = F8;
    using I = I8;
    using U = U8;
    static F splat(float v) { return splat8(v); }
    static F max(F a, F b) { return max8(a, b); }
    static F clamp(F v, float lo, float hi) { return clamp8(v, lo, hi); }
    static I floatToByte(F v) { return floatToByte8(v); }
    static I floor(F v) { return floor8(v); }
    static I clampInt(I v, int lo, int hi) { return clampInt8(v, lo, hi); }
};

// interpolate() and texCoords() for the surface state in one pass over pixels [from, to) in
// whole groups of eight, L::WIDTH at a time, with the same operations per pixel: depth code,
// iterated colour (alpha is never read by finishSurface), unit 0's texel coordinates and,
// when LEVELS, its mip step.
// The planes are the setup's (p) or, when LANES, each pixel's stamped ones; either way each
// pixel sees the same values and operations, so both forms give the same bits. Unit 0 must
// be bound.
template <class L, bool LEVELS, bool LANES>
void interpolateSurfacePixels(const VxDrawState& s, const VxSetup& p, VxBatch& b, int from,
                              int to) {
    using F = typename L::F;
    using I = typename L::I;
    using U = typename L::U;
    const int end = from + ((to - from + 7) & ~7);
    const int pitch = b.pitch;
    const auto& l = b.lane;
    // The setup's planes in lane order, each in every lane (unused with stamped planes).
    F uniform[VX_LANE_COUNT];
    if constexpr (!LANES) {
        uniform[VX_LANE_OFFX] = L::splat(p.offX);
        uniform[VX_LANE_OFFY] = L::splat(p.offY);
        constexpr int PLANES[6] = {VX_PL_Q, VX_PL_U0, VX_PL_V0, VX_PL_R, VX_PL_G, VX_PL_B};
        for (int k = 0; k < 6; ++k) {
            uniform[VX_LANE_Q + 3 * k] = L::splat(p.base[PLANES[k]]);
            uniform[VX_LANE_Q + 3 * k + 1] = L::splat(p.dx[PLANES[k]]);
            uniform[VX_LANE_Q + 3 * k + 2] = L::splat(p.dy[PLANES[k]]);
        }
    }
    // One plane coefficient of the pixels from j: their stamped ones or the setup's.
    const auto coef = [&](int lane, int j) __attribute__((always_inline)) {
        if constexpr (LANES) {
            return load8<F>(l[lane] + j);
        } else {
            (void)j;
            return uniform[lane];
        }
    };
    const VxTexUnit& t = s.tex[0];
    const int bias = t.biasFixed, maxMip = t.mipmap ? t.maxMip : 0;
    constexpr float LIMIT = 4194304.0f;
    for (int j = from; j < end; j += L::WIDTH) {
        const I xi = load8<I>(b.x + j), yi = load8<I>(b.y + j);
        const F x = __builtin_convertvector(xi, F) + coef(VX_LANE_OFFX, j);
        const F y = __builtin_convertvector(yi, F) + coef(VX_LANE_OFFY, j);
        const F pxq = coef(VX_LANE_Q + 1, j), pyq = coef(VX_LANE_Q + 2, j);
        store8(b.index + j, yi * pitch + xi);
        const F w = 1.0f / ((coef(VX_LANE_Q, j) + pxq * x) + pyq * y);
        store8(b.w + j, w);
        // The depth code from w's bits: exponent and the top 11 fraction bits.
        store8(b.z + j, L::clampInt(I(__builtin_bit_cast(U, w) >> 11) - (127 << 12), 0, 0xFFFE));
        const auto plane = [&](int lane) __attribute__((always_inline)) {
            return (coef(lane, j) + coef(lane + 1, j) * x) + coef(lane + 2, j) * y;
        };
        store8(b.it[0] + j, L::floatToByte(plane(VX_LANE_R)));
        store8(b.it[1] + j, L::floatToByte(plane(VX_LANE_G)));
        store8(b.it[2] + j, L::floatToByte(plane(VX_LANE_B)));
        const F pxu = coef(VX_LANE_U0 + 1, j), pyu = coef(VX_LANE_U0 + 2, j);
        const F pxv = coef(VX_LANE_V0 + 1, j), pyv = coef(VX_LANE_V0 + 2, j);
        const F uu = L::clamp(((coef(VX_LANE_U0, j) + pxu * x) + pyu * y) * w, -LIMIT, LIMIT);
        const F vv = L::clamp(((coef(VX_LANE_V0, j) + pxv * x) + pyv * y) * w, -LIMIT, LIMIT);
        // Floor of the 8.8 fixed coordinates.
        store8(b.ufix[0] + j, L::floor(uu * 256.0f));
        store8(b.vfix[0] + j, L::floor(vv * 256.0f));
        if constexpr (LEVELS) {
            const F ax = pxu - uu * pxq, bx = pxv - vv * pxq;
            const F ay = pyu - uu * pyq, by = pyv - vv * pyq;
            const F rx = ax * ax + bx * bx, ry = ay * ay + by * by;
            const F r = L::max(rx, ry) * (w * w);
            const I rbits = __builtin_bit_cast(I, r) & 0x7FFFFFFF;
            const I lod2 = ((rbits - 0x3F800000) >> 15) + bias;
            const I step = L::clampInt((lod2 + 256) >> 9, 0, maxMip);
            // -1 (magnified) where lod2 <= 0: the sign of lod2 - 1 (lod2 is far from the
            // int range's ends), as a shift rather than a comparison for the reason floor8()
            // gives.
            store8(b.mip[0] + j, step | ((lod2 - 1) >> 31));
        } else {
            store8(b.mip[0] + j, I{});
        }
    }
}

// interpolateSurfacePixels() in lanes L for the surface and text states, with the setup's planes
// (interpolateSurfaceIn) or the stamped ones of pixels [from, to) (interpolateSurfaceLanesIn).
template <class L>
void interpolateSurfaceIn(const VxDrawState& s, const VxSetup& p, VxBatch& b, int from) {
    const VxTexUnit& t = s.tex[0];
    if (!t.mipmap && t.minFilter == t.magFilter) {
        interpolateSurfacePixels<L, false, false>(s, p, b, from, b.n);
    } else {
        interpolateSurfacePixels<L, true, false>(s, p, b, from, b.n);
    }
}
template <class L>
void interpolateSurfaceLanesIn(const VxDrawState& s, VxBatch& b, int from, int to) {
    const VxTexUnit& t = s.tex[0];
    constexpr VxSetup unused = {};
    if (!t.mipmap && t.minFilter == t.magFilter) {
        interpolateSurfacePixels<L, false, true>(s, unused, b, from, to);
    } else {
        interpolateSurfacePixels<L, true, true>(s, unused, b, from, to);
    }
}
// Pieces of the path: the two above in the lanes it works in (PixelLanes<8> but on the
// 128-bit path).
void interpolateSurface(const VxDrawState& s, const VxSetup& p, VxBatch& b, int from);
void interpolateSurfaceLanes(const VxDrawState& s, VxBatch& b, int from, int to);

// The depth test of the fused surface routines over the batch's n pixels, a group of eight at
// a time: the batch's mask, and in `runs` bit g for each group g of eight pixels side by side
// on one row (read and written as vectors; the others are gathered and stored pixel by
// pixel). False when no pixel passes. A piece of the path; portableDepthTestGroups() finds
// the runs first, then gathers and tests every pixel.
inline bool depthTestGroups(const VxDrawState& s, VxBatch& b, int n, unsigned* runs);
inline bool portableDepthTestGroups(const VxDrawState& s, VxBatch& b, int n, unsigned* runs) {
    alignas(64) std::int32_t stored[VX_BATCH_MAX];
    unsigned whole = 0;
    for (int j = 0; j < n; j += 8) {
        const int base = b.index[j];
        int off = 0;
        for (int i = 0; i < 8; ++i) off |= b.index[j + i] - base - i;
        whole |= unsigned(off == 0 && j + 8 <= n) << (j / 8);
    }
    *runs = whole;
    for (int i = 0; i < VX_BATCH_MAX; ++i) b.mask[i] = -1;
    for (int j = 0; j < n; j += 8) {
        if ((whole >> (j / 8)) & 1) {
            const std::uint16_t* d = b.depth + b.index[j];
            for (int i = 0; i < 8; ++i) stored[j + i] = d[i];
        } else {
            lookupPixels(b.depth, b.index + j, stored + j, n - j < 8 ? n - j : 8);
        }
    }
    compareMask(s.depthFunc, b.z, stored, b.mask, n);
    int live = 0;
    for (int i = 0; i < n; ++i) live |= b.mask[i];
    return live != 0;
}

// The colour of the surface state for the batch's n pixels, packed into 5-6-5: texture
// (unit 0, sampled) x iterated colour, moved towards the fog colour by the fine fog table
// when FOG, dithered when DITHER, rounded otherwise: shadeSurfacePixels() with the fog factors
// f and the dither offsets, a piece of the path (portableShadeSurfacePixels() one pixel at a
// time).
template <bool FOG, bool DITHER>
inline void shadeSurfacePixels(const VxDrawState& s, const VxBatch& b, int n,
                               const std::int32_t* f, const std::int32_t* offset,
                               std::uint16_t* pix);
template <bool FOG, bool DITHER>
inline void portableShadeSurfacePixels(const VxDrawState& s, const VxBatch& b, int n,
                                       const std::int32_t* f, const std::int32_t* offset,
                                       std::uint16_t* pix) {
    const int fr = s.fogColor[0], fg = s.fogColor[1], fb = s.fogColor[2];
    const std::int32_t* tr = b.tex[0][0];
    const std::int32_t* tg = b.tex[0][1];
    const std::int32_t* tb = b.tex[0][2];
    for (int i = 0; i < n; ++i) {
        int r = div255r(b.it[0][i] * tr[i]);
        int g = div255r(b.it[1][i] * tg[i]);
        int bl = div255r(b.it[2][i] * tb[i]);
        if constexpr (FOG) {
            r = r + div255s((fr - r) * f[i]);
            g = g + div255s((fg - g) * f[i]);
            bl = bl + div255s((fb - bl) * f[i]);
        }
        if constexpr (DITHER) {
            pix[i] = std::uint16_t(packDithered(r, g, bl, offset[i]));
        } else {
            pix[i] = std::uint16_t(packRounded(r, g, bl));
        }
    }
}
template <bool FOG, bool DITHER>
inline void shadeSurface(const VxDrawState& s, const VxBatch& b, int n, std::uint16_t* pix) {
    alignas(64) std::int32_t f[VX_BATCH_PAD];
    if constexpr (FOG) lookupBytes(b.fogFine, b.z, VX_FOG_FINE_SHIFT, f, n);
    alignas(64) std::int32_t offset[VX_BATCH_PAD];
    if constexpr (DITHER) ditherOffsets(b, offset, n);
    // Without fog or dither the table is not made, and it is not handed on either.
    shadeSurfacePixels<FOG, DITHER>(s, b, n, FOG ? f : nullptr, DITHER ? offset : nullptr, pix);
}

// Stores group j of the batch, eight pixels side by side on one row, with their depths.
// Dropped pixels are written back unchanged: only this worker owns these rows. When all eight
// pass, the colour buffer is written without being read: storeWholeRun(), a piece of the
// path, stores such a group and says so (portableStoreWholeRun() pixel by pixel).
inline bool storeWholeRun(VxBatch& b, int j, const std::uint16_t* pix);
inline bool portableStoreWholeRun(VxBatch& b, int j, const std::uint16_t* pix) {
    int all = -1;
    for (int i = 0; i < 8; ++i) all &= b.mask[j + i];
    if (!all) return false;
    std::uint16_t* c = b.color + b.index[j];
    std::uint16_t* d = b.depth + b.index[j];
    for (int i = 0; i < 8; ++i) {
        c[i] = pix[j + i];
        d[i] = std::uint16_t(b.z[j + i]);
    }
    return true;
}
inline void storeRun(VxBatch& b, int j, const std::uint16_t* pix) {
    if (storeWholeRun(b, j, pix)) return;
    std::uint16_t* c = b.color + b.index[j];
    std::uint16_t* d = b.depth + b.index[j];
    for (int i = 0; i < 8; ++i) {
        const bool keep = b.mask[j + i] != 0;
        c[i] = keep ? pix[j + i] : c[i];
        d[i] = keep ? std::uint16_t(b.z[j + i]) : d[i];
    }
}

// Bit i set for each pixel j + i of the eight from j that passed: a piece of the path
// (portablePassingBits() reads the mask one pixel at a time).
inline unsigned passingBits(const VxBatch& b, int j);
inline unsigned portablePassingBits(const VxBatch& b, int j) {
    unsigned passing = 0;
    for (int i = 0; i < 8; ++i) passing |= unsigned(b.mask[j + i] != 0) << i;
    return passing;
}

// Stores the passing pixels of group j of the batch's n (scattered: small triangles) one at a
// time, with their depths, the buffers' addresses held in registers (the stores cannot change
// them). A group whose eight pixels all pass (most) is stored without a test per pixel; the
// others visit their passing pixels by the bits of the mask.
inline void storeScattered(VxBatch& b, int j, int n, const std::uint16_t* pix) {
    std::uint16_t* const color = b.color;
    std::uint16_t* const depth = b.depth;
    const int end = j + 8 < n ? j + 8 : n;
    unsigned passing = passingBits(b, j);
    passing &= (1u << (end - j)) - 1;
    const auto put = [&](int i) __attribute__((always_inline)) {
        const int at = b.index[i];
        color[at] = pix[i];
        depth[at] = std::uint16_t(b.z[i]);
    };
    if (passing == 0xFFu) {
        for (int i = j; i < j + 8; ++i) put(i);
    } else {
        for (; passing; passing &= passing - 1) put(j + std::countr_zero(passing));
    }
}

// The state the program draws its surfaces with, fused into one pass: unit 0 alone and
// passed through, colour = texture x iterated colour, depth test and write, optional fog,
// no alpha test or blending (so the alpha combine is never looked at); dithered or rounded.
// Gives the bits of finish() for that state; vxChooseRoutines picks it only when
// surfaceStateMatches() holds.
template <bool FOG, bool DITHER>
void finishSurface(const VxDrawState& s, VxBatch& b) {
    // The stages' loops over the batch's pixels run at most VX_BATCH_MAX times: saying so
    // lets the compiler unroll them.
    const int n = b.n;
    if (n > VX_BATCH_MAX) __builtin_unreachable();
    unsigned runs;
    if (!depthTestGroups(s, b, n, &runs)) return;
    const VxTexUnit& t = s.tex[0];
    t.sample(t, b, 0);
    alignas(64) std::uint16_t pix[VX_BATCH_PAD];
    shadeSurface<FOG, DITHER>(s, b, n, pix);
    for (int j = 0; j < n; j += 8) {
        if ((runs >> (j / 8)) & 1) {
            storeRun(b, j, pix);
        } else {
            storeScattered(b, j, n, pix);
        }
    }
}

// The text state's colour for the batch's n pixels over the colour buffer's (dst), packed into
// 5-6-5: constant x texture blended over dst by the texture's alpha. A piece of the path
// (portableTintedPixels() one pixel at a time).
inline void tintedPixels(const VxDrawState& s, const VxBatch& b, int n, const std::int32_t* dst,
                         std::uint16_t* pix);
inline void portableTintedPixels(const VxDrawState& s, const VxBatch& b, int n,
                                 const std::int32_t* dst, std::uint16_t* pix) {
    const auto& tex = b.tex[0];
    for (int i = 0; i < n; ++i) {
        const int a = div255r(255 * tex[3][i]);
        int dr, dg, db;
        vxUnpack565(dst[i], &dr, &dg, &db);
        const auto blend = [&](int c, int under) {
            const int v =
                div255r(div255r(s.constant[c] * tex[c][i]) * a) + div255r(under * (255 - a));
            return v > 255 ? 255 : v;
        };
        pix[i] = std::uint16_t(packRounded(blend(0, dr), blend(1, dg), blend(2, db)));
    }
}

// The state the program draws its text with, fused into one pass: unit 0 alone and passed
// through, colour = constant x texture, alpha = texture alpha, blended over the picture by
// that alpha; no depth test or one that always passes, depth written (DEPTH_WRITE) or not;
// no alpha test, fog or dithering. Gives the bits of finish() for that state; vxChooseRoutines
// picks it only when tintedStateMatches() holds.
template <bool DEPTH_WRITE>
void finishTinted(const VxDrawState& s, VxBatch& b) {
    const int n = b.n;
    for (int i = 0; i < VX_BATCH_MAX; ++i) b.mask[i] = -1;
    const VxTexUnit& t = s.tex[0];
    t.sample(t, b, 0);
    alignas(64) std::int32_t dst[VX_BATCH_PAD];
    lookupPixels(b.color, b.index, dst, n);
    alignas(64) std::uint16_t pix[VX_BATCH_PAD];
    tintedPixels(s, b, n, dst, pix);
    std::uint16_t* const color = b.color;
    std::uint16_t* const depth = b.depth;
    for (int i = 0; i < n; ++i) {
        color[b.index[i]] = pix[i];
        if constexpr (DEPTH_WRITE) depth[b.index[i]] = std::uint16_t(b.z[i]);
    }
}

// The path's own sampler for a bound unit's format and filters, or null: vxSampleGeneric
// samples the unit then. Each path's file defines it.
VxSampleRoutine pathSampler(const VxTexUnit& unit);

// Points the draw state at this path's routines: the general ones, the fused surface
// routines when the state is the program's surface state (`surface`) with unit 0 bound, or
// the fused text routine when it is the text state (`tinted`); and each unit at a sampler.
void pickRoutines(VxDrawState* s, bool surface, bool tinted) {
    // Indexed by fog + 2 * dithering.
    static constexpr VxFinishRoutine SURFACE[4] = {
        finishSurface<false, false>, finishSurface<true, false>, finishSurface<false, true>,
        finishSurface<true, true>};
    s->interpolate = interpolate;
    s->interpolateLanes = nullptr;
    s->finish = finish;
    if (surface) {
        const int fog = (s->flags & VX_DRAW_FOG) ? 1 : 0;
        s->finish = SURFACE[fog + ((s->flags & VX_DRAW_DITHER) ? 2 : 0)];
    }
    if (tinted) {
        s->finish = (s->flags & VX_DRAW_DEPTH_WRITE) ? finishTinted<true> : finishTinted<false>;
    }
    // Both read only what the surface interpolation makes (the text state never reads the
    // iterated colour).
    if ((surface || tinted) && s->tex[0].base) {
        s->interpolate = interpolateSurface;
        s->interpolateLanes = interpolateSurfaceLanes;
    }
    for (VxTexUnit& t : s->tex) {
        const VxSampleRoutine own = t.base ? pathSampler(t) : nullptr;
        t.sample = own ? own : (t.base ? vxSampleGeneric : vxSampleWhite);
    }
}
