// Texture memory of Vexa: one block per unit, address checks, download and binding, the
// per-unit derived sampling record, and the portable sampling routine.
// Downloads finish all queued drawing first, so a worker never reads texels being replaced.
// Reads stay inside the unit's block by construction: bindings are range-checked and every
// texel index is wrapped or clamped to its level before it is used.
#include "vexa/vx_local.h"

#include <cstring>

namespace {

int bytesPerTexel(int format) { return format == VX_TEXFMT_ALPHA_8 ? 1 : 2; }

bool levelStored(int levels, int lod) {
    return (lod % 2 == 0) ? (levels & VX_LEVELS_EVEN) != 0 : (levels & VX_LEVELS_ODD) != 0;
}

bool validShape(int levels, int smallLod, int largeLod, int aspect, int format) {
    return levels >= VX_LEVELS_EVEN && levels <= VX_LEVELS_BOTH && smallLod >= 0 &&
           smallLod <= largeLod && largeLod <= 8 && aspect >= -3 && aspect <= 3 &&
           format >= 0 && format < VX_TEXFMT_COUNT;
}

std::uint32_t levelBytes(int smallLod, int largeLod, int aspect, int format, int lod) {
    int w = 0, h = 0;
    vxTexShape(smallLod, largeLod, aspect, format, lod, &w, &h);
    return std::uint32_t(w) * std::uint32_t(h) * std::uint32_t(bytesPerTexel(format));
}

// Address range check shared by download and bind: min <= address, address + size <= end.
bool fits(int unit, std::uint32_t address, std::uint32_t size) {
    if (unit < 0 || unit >= vexaDevice.tmus || size == 0) return false;
    const std::uint64_t end = std::uint64_t(vxTexMinAddress(unit)) + vexaDevice.texMem;
    return address >= vxTexMinAddress(unit) && std::uint64_t(address) + size <= end;
}

}  // namespace

bool vxTexShape(int smallLod, int largeLod, int aspect, int format, int lod, int* w, int* h) {
    (void)smallLod;
    (void)largeLod;
    (void)format;
    const int longer = 1 << lod;
    const int shorter = lod - (aspect < 0 ? -aspect : aspect) >= 0
                            ? 1 << (lod - (aspect < 0 ? -aspect : aspect))
                            : 1;
    *w = aspect >= 0 ? longer : shorter;
    *h = aspect >= 0 ? shorter : longer;
    return true;
}

std::uint32_t vxTexMinAddress(int unit) {
    (void)unit;
    return 0;
}

std::uint32_t vxTexMaxAddress(int unit) {
    if (unit < 0 || unit >= vexaDevice.tmus) return 0;
    return vxTexMinAddress(unit) + vexaDevice.texMem - 8;
}

std::uint32_t vxTexLevelsMemRequired(int levels, int smallLod, int largeLod, int aspect,
                                     int format) {
    if (!validShape(levels, smallLod, largeLod, aspect, format)) return 0;
    std::uint32_t total = 0;
    for (int lod = largeLod; lod >= smallLod; --lod) {
        if (levelStored(levels, lod)) total += levelBytes(smallLod, largeLod, aspect, format, lod);
    }
    return (total + 7u) & ~7u;
}

std::uint32_t vxTexMemRequired(int levels, const VxTexInfo* info) {
    if (!info) return 0;
    return vxTexLevelsMemRequired(levels, info->smallLod, info->largeLod, info->aspect,
                                  info->format);
}

bool vxTexDownload(int unit, std::uint32_t address, int levels, const VxTexInfo* info) {
    const std::uint32_t size = vxTexMemRequired(levels, info);
    if (!info || !info->data || !fits(unit, address, size)) return false;
    vxFinish();  // workers may be reading this memory
    std::uint8_t* dst = vexaDevice.texMemory[unit] + (address - vxTexMinAddress(unit));
    const auto* src = static_cast<const std::uint8_t*>(info->data);
    // The source holds the whole chain; only the levels of the requested parity are stored.
    for (int lod = info->largeLod; lod >= info->smallLod; --lod) {
        const std::uint32_t bytes =
            levelBytes(info->smallLod, info->largeLod, info->aspect, info->format, lod);
        if (levelStored(levels, lod)) {
            std::memcpy(dst, src, bytes);
            dst += bytes;
        }
        src += bytes;
    }
    return true;
}

bool vxTexReadMemory(int unit, std::uint32_t address, std::uint32_t bytes, void* dst) {
    if (dst == nullptr || !fits(unit, address, bytes)) return false;
    vxFinish();  // the memory is read as the drawing left it
    std::memcpy(dst, vexaDevice.texMemory[unit] + (address - vxTexMinAddress(unit)), bytes);
    return true;
}

bool vxTexBind(int unit, std::uint32_t address, int levels, const VxTexInfo* info) {
    const std::uint32_t size = vxTexMemRequired(levels, info);
    if (!info || !fits(unit, address, size)) return false;
    VxUnitState& u = vexaDevice.state.unit[unit];
    u.bound = 1;
    u.address = address;
    u.levels = levels;
    u.smallLod = info->smallLod;
    u.largeLod = info->largeLod;
    u.aspect = info->aspect;
    u.format = info->format;
    vexaDevice.stateDirty = true;
    return true;
}

void vxDeriveTexUnit(int unit, VxTexUnit* out) {
    VxTexUnit& t = *out;
    const VxUnitState& u = vexaDevice.state.unit[unit];
    std::memset(&t, 0, sizeof t);
    t.sClamp = u.sClamp;
    t.tClamp = u.tClamp;
    t.minFilter = u.minFilter;
    t.magFilter = u.magFilter;
    t.mipmap = u.mipmap;
    // Any finite bias is accepted, but the level sum it joins spans less than +-65 levels: a
    // bias clamped to +-128 levels picks the same level and keeps the fixed-point value (and
    // the sums made from it) well inside an int.
    const float bias = u.lodBias < -128.0f ? -128.0f : (u.lodBias > 128.0f ? 128.0f : u.lodBias);
    t.biasFixed = int(bias * 512.0f);
    const std::uint32_t size = vxTexLevelsMemRequired(u.levels, u.smallLod, u.largeLod,
                                                      u.aspect, u.format);
    // A saved state may be restored after the memory shrank: re-check the range here.
    if (!u.bound || unit >= vexaDevice.tmus || !fits(unit, u.address, size)) {
        t.base = nullptr;
        t.scale = 1.0f;
        return;
    }
    t.base = vexaDevice.texMemory[unit] + (u.address - vxTexMinAddress(unit));
    t.format = u.format;
    t.bytesPerTexel = bytesPerTexel(u.format);
    t.scale = float(1 << u.largeLod) / 256.0f;
    t.maxMip = u.largeLod - u.smallLod;
    int storedLod[VX_MAX_LEVELS];
    std::uint32_t offset = 0;
    for (int lod = u.largeLod; lod >= u.smallLod; --lod) {
        if (!levelStored(u.levels, lod)) continue;
        const int i = t.levelCount++;
        vxTexShape(u.smallLod, u.largeLod, u.aspect, u.format, lod, &t.width[i], &t.height[i]);
        t.offset[i] = offset;
        t.shift[i] = u.largeLod - lod;
        storedLod[i] = lod;
        offset += levelBytes(u.smallLod, u.largeLod, u.aspect, u.format, lod);
    }
    // Each mip step maps to the nearest stored level, the sharper one on a tie.
    for (int m = 0; m <= t.maxMip; ++m) {
        const int lod = u.largeLod - m;
        int best = 0;
        for (int i = 1; i < t.levelCount; ++i) {
            const int di = storedLod[i] > lod ? storedLod[i] - lod : lod - storedLod[i];
            const int db = storedLod[best] > lod ? storedLod[best] - lod : lod - storedLod[best];
            if (di < db) best = i;
        }
        t.levelOfLod[m] = best;
        t.stepShift[m] = t.shift[best];
        t.stepWLog[m] = __builtin_ctz(unsigned(t.width[best]));
        t.stepHLog[m] = __builtin_ctz(unsigned(t.height[best]));
        t.stepOffset[m] = std::int32_t(t.offset[best] / std::uint32_t(t.bytesPerTexel));
    }
}

// ---- Sampling ------------------------------------------------------------------------------

namespace {

inline void decodeTexel(const std::uint8_t* p, int format, std::int32_t* c) {
    if (format == VX_TEXFMT_ALPHA_8) {
        c[0] = c[1] = c[2] = c[3] = p[0];
        return;
    }
    const std::uint32_t t = std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8);
    switch (format) {
    case VX_TEXFMT_RGB_565: {
        std::uint32_t r, g, b;
        vxUnpack565(t, &r, &g, &b);
        c[0] = std::int32_t(r);
        c[1] = std::int32_t(g);
        c[2] = std::int32_t(b);
        c[3] = 255;
        break;
    }
    case VX_TEXFMT_ARGB_4444:
        c[3] = std::int32_t((t >> 12) & 15) * 17;
        c[0] = std::int32_t((t >> 8) & 15) * 17;
        c[1] = std::int32_t((t >> 4) & 15) * 17;
        c[2] = std::int32_t(t & 15) * 17;
        break;
    default:  // alpha-intensity 8-8: intensity in the low byte
        c[0] = c[1] = c[2] = std::int32_t(t & 0xFF);
        c[3] = std::int32_t(t >> 8);
        break;
    }
}

inline int wrapIndex(int i, int size, int clamp) {
    if (clamp) return i < 0 ? 0 : (i >= size ? size - 1 : i);
    return i & (size - 1);
}

}  // namespace

// Portable sampler: any format, filter, clamp and level; the reference for the fast ones.
void vxSampleGeneric(const VxTexUnit& t, VxBatch& b, int unit) {
    std::int32_t* out[4] = {b.tex[unit][0], b.tex[unit][1], b.tex[unit][2], b.tex[unit][3]};
    for (int i = 0; i < b.n; ++i) {
        if (!b.mask[i]) continue;
        const int m = b.mip[unit][i];
        const int bilinear = m < 0 ? t.magFilter : t.minFilter;
        const int level = t.levelOfLod[m < 0 ? 0 : m];
        const int w = t.width[level], h = t.height[level];
        const std::uint8_t* texels = t.base + t.offset[level];
        const int sh = t.shift[level];
        int us = b.ufix[unit][i] >> sh;
        int vs = b.vfix[unit][i] >> sh;
        std::int32_t c[4];
        if (!bilinear) {
            const int x = wrapIndex(us >> 8, w, t.sClamp), y = wrapIndex(vs >> 8, h, t.tClamp);
            decodeTexel(texels + (y * w + x) * t.bytesPerTexel, t.format, c);
        } else {
            us -= 128;
            vs -= 128;
            const int fx = us & 255, fy = vs & 255;
            const int x0 = wrapIndex(us >> 8, w, t.sClamp), x1 = wrapIndex((us >> 8) + 1, w, t.sClamp);
            const int y0 = wrapIndex(vs >> 8, h, t.tClamp), y1 = wrapIndex((vs >> 8) + 1, h, t.tClamp);
            std::int32_t c00[4], c10[4], c01[4], c11[4];
            const int bpt = t.bytesPerTexel;
            decodeTexel(texels + (y0 * w + x0) * bpt, t.format, c00);
            decodeTexel(texels + (y0 * w + x1) * bpt, t.format, c10);
            decodeTexel(texels + (y1 * w + x0) * bpt, t.format, c01);
            decodeTexel(texels + (y1 * w + x1) * bpt, t.format, c11);
            for (int k = 0; k < 4; ++k) {
                const int top = c00[k] * (256 - fx) + c10[k] * fx;
                const int bottom = c01[k] * (256 - fx) + c11[k] * fx;
                c[k] = (top * (256 - fy) + bottom * fy + 32768) >> 16;
            }
        }
        for (int k = 0; k < 4; ++k) out[k][i] = c[k];
    }
}

// An unbound unit reads as opaque white, so modulating by it leaves the colour unchanged.
void vxSampleWhite(const VxTexUnit&, VxBatch& b, int unit) {
    for (int k = 0; k < 4; ++k) {
        for (int i = 0; i < b.n; ++i) b.tex[unit][k][i] = 255;
    }
}
