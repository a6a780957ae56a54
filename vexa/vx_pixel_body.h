// Pixel pipeline of Vexa for one processor path: included by vx_pixel.cpp once per path
// (portable SSE2 and AVX2) inside that path's namespace, so both are the same source and
// give the same bits. Stages run over a batch of up to 64 covered pixels, each a plain loop
// the compiler vectorises: interpolate, depth code and test, iterated colour, texture
// coordinates and level, sampling, texture combine, colour/alpha combine, alpha test, fog,
// blending, 5-6-5 packing, store. No floating-point contraction is allowed (no FMA target),
// so float results are identical on every path. Deliberately without an include guard.

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

// Float to byte: NaN and negatives give 0, above 255 gives 255, otherwise rounded.
inline int floatToByte(float v) {
    v = v >= 0.0f ? v : 0.0f;
    v = v <= 255.0f ? v : 255.0f;
    return int(v + 0.5f);
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
            uu = uu >= -LIMIT ? uu : -LIMIT;
            uu = uu <= LIMIT ? uu : LIMIT;
            vv = vv >= -LIMIT ? vv : -LIMIT;
            vv = vv <= LIMIT ? vv : LIMIT;
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

// Everything after interpolation for the whole batch: depth test, sampling, combines, alpha
// test, fog, blending, packing and the stores.
void finish(const VxDrawState& s, VxBatch& b) {
    const int n = b.n;
    const std::uint32_t flags = s.flags;
    for (int i = 0; i < n; ++i) b.mask[i] = -1;
    if (flags & VX_DRAW_DEPTH_TEST) {
        alignas(64) std::int32_t stored[VX_BATCH_MAX];
        for (int i = 0; i < n; ++i) stored[i] = b.depth[b.index[i]];
        compareMask(s.depthFunc, b.z, stored, b.mask, n);
        int live = 0;
        for (int i = 0; i < n; ++i) live |= b.mask[i];
        if (!live) return;
    }
    const std::int32_t* texOut[4] = {zeros, zeros, zeros, full255.v};
    if (flags & VX_DRAW_TEX0) {
        const std::int32_t* next[4] = {zeros, zeros, zeros, zeros};
        for (int k = (flags & VX_DRAW_TEX1) ? 1 : 0; k >= 0; --k) {
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
    // Colour and alpha combine.
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
    if (flags & VX_DRAW_ALPHA_TEST) {
        compareMask(s.alphaTest, b.out[3], int(s.alphaRef), b.mask, n);
    }
    if (flags & VX_DRAW_FOG) {
        alignas(64) std::int32_t f[VX_BATCH_MAX];
        for (int i = 0; i < n; ++i) f[i] = b.fogFine[b.z[i] >> VX_FOG_FINE_SHIFT];
        for (int c = 0; c < 3; ++c) {
            const int fc = s.fogColor[c];
            std::int32_t* o = b.out[c];
            for (int i = 0; i < n; ++i) o[i] = o[i] + div255s((fc - o[i]) * f[i]);
        }
    }
    alignas(64) std::int32_t pix[VX_BATCH_MAX];
    if (flags & VX_DRAW_BLEND) {
        alignas(64) std::int32_t dst[3][VX_BATCH_MAX];
        for (int i = 0; i < n; ++i) {
            const int d = b.color[b.index[i]];
            const int r = (d >> 11) & 31, g = (d >> 5) & 63, bl = d & 31;
            dst[0][i] = (r << 3) | (r >> 2);
            dst[1][i] = (g << 2) | (g >> 4);
            dst[2][i] = (bl << 3) | (bl >> 2);
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
    for (int i = 0; i < n; ++i) {
        pix[i] = (div255r(b.out[0][i] * 31) << 11) | (div255r(b.out[1][i] * 63) << 5) |
                 div255r(b.out[2][i] * 31);
    }
    std::uint16_t* color = b.color;
    if (flags & VX_DRAW_DEPTH_WRITE) {
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
