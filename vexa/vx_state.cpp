// Render state of Vexa: every vxSet* setter, save and restore of the whole state, the fog
// table helpers, and the derivation of the draw state the workers use, with the form that picks
// its fused routines (done once per state change on the program thread, never per primitive).
// Touches no buffers.
#include "vexa/vx_local.h"

#include <cmath>
#include <cstddef>
#include <cstring>

namespace {

VxRenderState& st() { return vexaDevice.state; }

void touch() { vexaDevice.stateDirty = true; }

bool validCompare(int c) { return c >= VX_CMP_NEVER && c < VX_CMP_COUNT; }

bool validCombine(int function, int factor) {
    return function >= 0 && function < VX_COMBINE_FUNCTION_COUNT && factor >= 0 &&
           factor < VX_COMBINE_FACTOR_COUNT;
}

bool validUnit(int unit) { return unit >= 0 && unit < vexaDevice.tmus; }

// True when the function reads its "other" input.
bool functionUsesOther(int function) {
    return function >= VX_COMBINE_SCALE_OTHER && function <= VX_COMBINE_BLEND_OTHER_LOCAL_ALPHA;
}
// True when the function reads a factor at all.
bool functionUsesFactor(int function) { return function >= VX_COMBINE_SCALE_OTHER; }

bool factorIs(const VxCombineSetting& c, int a, int b) {
    return functionUsesFactor(c.function) && (c.factor == a || c.factor == b);
}

// Does a colour or alpha combine read unit 0's output?
bool usesTexture(const VxCombineSetting& c) {
    return (functionUsesOther(c.function) && c.other == VX_OTHER_TEXTURE) ||
           factorIs(c, VX_FACTOR_TEXTURE_ALPHA, VX_FACTOR_ONE_MINUS_TEXTURE_ALPHA) ||
           (factorIs(c, VX_FACTOR_OTHER_ALPHA, VX_FACTOR_ONE_MINUS_OTHER_ALPHA) &&
            c.other == VX_OTHER_TEXTURE);
}

// Does a texture combine read the next unit's output?
bool usesNextUnit(const VxCombineSetting& c) {
    return functionUsesOther(c.function) ||
           factorIs(c, VX_FACTOR_OTHER_ALPHA, VX_FACTOR_ONE_MINUS_OTHER_ALPHA);
}

int clampInt(int v, int lo, int hi) { return v < lo ? lo : (v > hi ? hi : v); }

}  // namespace

void vxDecodeColor(std::uint32_t color, std::int32_t* rgba) {
    const auto byte = [color](int shift) { return std::int32_t((color >> shift) & 0xFF); };
    switch (vexaDevice.colorFormat) {
    case VX_COLORFORMAT_ARGB:
        rgba[0] = byte(16); rgba[1] = byte(8); rgba[2] = byte(0); rgba[3] = byte(24);
        break;
    case VX_COLORFORMAT_RGBA:
        rgba[0] = byte(24); rgba[1] = byte(16); rgba[2] = byte(8); rgba[3] = byte(0);
        break;
    case VX_COLORFORMAT_BGRA:
        rgba[0] = byte(8); rgba[1] = byte(16); rgba[2] = byte(24); rgba[3] = byte(0);
        break;
    default:  // ABGR: 0xAABBGGRR
        rgba[0] = byte(0); rgba[1] = byte(8); rgba[2] = byte(16); rgba[3] = byte(24);
        break;
    }
}

void vxResetState() {
    VxRenderState& s = st();
    std::memset(&s, 0, sizeof s);
    s.layoutEnabled[VX_PARAM_XY] = 1;
    s.clipMaxX = vexaDevice.open ? vexaDevice.width : 0;
    s.clipMaxY = vexaDevice.open ? vexaDevice.height : 0;
    s.color = {VX_COMBINE_LOCAL, VX_FACTOR_ZERO, VX_LOCAL_ITERATED, VX_OTHER_ITERATED, 0};
    s.alpha = s.color;
    s.blendRgbSrc = VX_BLEND_ONE;
    s.blendRgbDst = VX_BLEND_ZERO;
    s.blendAlphaSrc = VX_BLEND_ZERO;
    s.blendAlphaDst = VX_BLEND_ZERO;
    s.alphaTest = VX_CMP_ALWAYS;
    s.depthFunc = VX_CMP_LESS;
    s.depthMask = 1;
    s.ditherMode = VX_DITHER_4X4;   // as the boards came up
    for (VxUnitState& u : s.unit) {
        u.rgb = {VX_COMBINE_LOCAL, VX_FACTOR_ZERO, 0, 0, 0};
        u.alpha = u.rgb;
    }
    vexaDevice.colorFormat = vexaDevice.open ? vexaDevice.colorFormat : VX_COLORFORMAT_ABGR;
    vexaDevice.stateDirty = true;
    vexaDevice.fogDirty = true;
}

void vxSaveState(void* block) {
    if (block) std::memcpy(block, &st(), sizeof(VxRenderState));
}

// A restore that changes nothing costs nothing, and the fog table (its fine table is built
// on the program thread and copied to every worker) is sent again only when it differs.
void vxRestoreState(const void* block) {
    if (!block) return;
    const auto* bytes = static_cast<const std::uint8_t*>(block);
    if (std::memcmp(&st(), bytes, sizeof(VxRenderState)) == 0) return;
    if (std::memcmp(st().fogTable, bytes + offsetof(VxRenderState, fogTable),
                    VX_FOG_TABLE_ENTRIES) != 0) {
        vexaDevice.fogDirty = true;
    }
    std::memcpy(&st(), block, sizeof(VxRenderState));
    vexaDevice.stateDirty = true;
}

void vxSetVertexLayout(int param, int offset, int mode) {
    if (param < 0 || param >= VX_PARAM_COUNT || offset < 0 || offset > 4096) return;
    st().layoutOffset[param] = offset;
    st().layoutEnabled[param] = mode == VX_PARAM_ENABLE;
    touch();
}

// Window coordinates are the only space the board takes.
void vxSetCoordinateSpace(int space) {
    (void)space;
    st().coordSpace = VX_WINDOW_COORDS;
}

void vxSetOrigin(int origin) {
    if (origin != VX_ORIGIN_UPPER_LEFT && origin != VX_ORIGIN_LOWER_LEFT) return;
    st().origin = origin;
    touch();  // the drawing calls' vertex layout flips y by it
}

void vxSetClipWindow(int minX, int minY, int maxX, int maxY) {
    st().clipMinX = minX;
    st().clipMinY = minY;
    st().clipMaxX = maxX;
    st().clipMaxY = maxY;
    touch();
}

void vxSetCullMode(int mode) {
    if (mode < VX_CULL_NONE || mode > VX_CULL_POSITIVE) return;
    st().cullMode = mode;
    touch();
}

static void setCombine(VxCombineSetting& c, int function, int factor, int local, int other,
                       bool invert) {
    if (!validCombine(function, factor)) return;
    if (local < 0 || local >= VX_COMBINE_LOCAL_COUNT) return;
    if (other < 0 || other >= VX_COMBINE_OTHER_COUNT) return;
    c = {function, factor, local, other, invert ? 1 : 0};
    touch();
}

void vxSetColorCombine(int function, int factor, int local, int other, bool invert) {
    setCombine(st().color, function, factor, local, other, invert);
}

void vxSetAlphaCombine(int function, int factor, int local, int other, bool invert) {
    setCombine(st().alpha, function, factor, local, other, invert);
}

void vxSetTextureCombine(int unit, int rgbFunction, int rgbFactor, int alphaFunction,
                         int alphaFactor, bool rgbInvert, bool alphaInvert) {
    if (!validUnit(unit) || !validCombine(rgbFunction, rgbFactor) ||
        !validCombine(alphaFunction, alphaFactor)) {
        return;
    }
    st().unit[unit].rgb = {rgbFunction, rgbFactor, 0, 0, rgbInvert ? 1 : 0};
    st().unit[unit].alpha = {alphaFunction, alphaFactor, 0, 0, alphaInvert ? 1 : 0};
    touch();
}

void vxSetConstantColor(std::uint32_t color) {
    st().constantColor = color;
    touch();
}

void vxSetAlphaBlend(int rgbSrc, int rgbDst, int alphaSrc, int alphaDst) {
    for (int f : {rgbSrc, rgbDst, alphaSrc, alphaDst}) {
        if (f < 0 || f >= VX_BLEND_FACTOR_COUNT) return;
    }
    st().blendRgbSrc = rgbSrc;
    st().blendRgbDst = rgbDst;
    st().blendAlphaSrc = alphaSrc;
    st().blendAlphaDst = alphaDst;
    touch();
}

void vxSetAlphaTest(int compare) {
    if (!validCompare(compare)) return;
    st().alphaTest = compare;
    touch();
}

void vxSetAlphaTestReference(std::uint8_t reference) {
    st().alphaRef = reference;
    touch();
}

void vxSetDepthMode(int mode) {
    st().depthMode = mode == VX_DEPTH_WBUFFER ? VX_DEPTH_WBUFFER : VX_DEPTH_DISABLE;
    touch();
}

void vxSetDepthFunction(int compare) {
    if (!validCompare(compare)) return;
    st().depthFunc = compare;
    touch();
}

void vxSetDepthMask(bool write) {
    st().depthMask = write ? 1 : 0;
    touch();
}

void vxSetFogMode(int mode) {
    st().fogMode = mode == VX_FOG_WTABLE ? VX_FOG_WTABLE : VX_FOG_DISABLE;
    touch();
}

void vxSetDitherMode(int mode) {
    st().ditherMode = mode == VX_DITHER_4X4 ? VX_DITHER_4X4 : VX_DITHER_DISABLE;
    touch();
}

void vxSetFogColor(std::uint32_t color) {
    st().fogColor = color;
    touch();
}

// The board's own exponential and logarithm, so that its tables hold the same bytes on every
// system (C libraries differ in the last bit of exp and log2).
namespace {

constexpr double LN2 = 6.93147180559945286227e-01;
constexpr double LN2_HIGH = 6.93147180369123816490e-01;   // ln 2 in two pieces: k * LN2_HIGH
constexpr double LN2_LOW = 1.90821492927058770002e-10;    // is exact for the k used here

// e^x in double precision, within about one unit in the last place; 0 far below, infinity
// far above.
double boardExp(double x) {
    if (x != x) return x;
    if (x < -745.2) return 0.0;
    if (x > 709.7) return HUGE_VAL;
    const double k = std::floor(x / LN2 + 0.5);
    const double r = (x - k * LN2_HIGH) - k * LN2_LOW;   // |r| <= ln2 / 2
    // Taylor series of e^r to r^14 / 14!: the terms beyond are below 2^-60 of the sum.
    double term = 1.0;
    double sum = 1.0;
    for (int n = 1; n <= 14; ++n) {
        term *= r / n;
        sum += term;
    }
    return std::ldexp(sum, static_cast<int>(k));
}

// log2(x) for positive finite x, within about one unit in the last place.
double boardLog2(double x) {
    int exponent = 0;
    double m = std::frexp(x, &exponent);   // x = m 2^exponent, m in [0.5, 1)
    if (m < 0.70710678118654752440) {
        m *= 2.0;
        exponent -= 1;
    }
    // ln m = 2 atanh(t) with t = (m - 1) / (m + 1), |t| < 0.172: the series to t^31.
    const double t = (m - 1.0) / (m + 1.0);
    const double t2 = t * t;
    double power = t;
    double sum = 0.0;
    for (int n = 1; n <= 31; n += 2) {
        sum += power / n;
        power *= t2;
    }
    return exponent + (2.0 * sum) / LN2;
}

}  // namespace

// 2^(index / 4): a power of two times one of four constants, each the float nearest to its
// value, so no library function is involved.
float vxFogTableIndexToW(int index) {
    static constexpr float QUARTERS[4] = {1.0f, 1.18920712f, 1.41421356f, 1.68179283f};
    const int whole = index >= 0 ? index / 4 : -((-index + 3) / 4);
    return std::ldexp(QUARTERS[index - 4 * whole], whole);
}

void vxMakeFogTableExp2(std::uint8_t* table, float density) {
    if (!table) return;
    for (int i = 0; i < VX_FOG_TABLE_ENTRIES; ++i) {
        const double dw = double(density) * double(vxFogTableIndexToW(i));
        double f = 255.0 * (1.0 - boardExp(-dw * dw));
        if (!(f >= 0.0)) f = 0.0;  // also catches NaN from a non-finite density
        if (f > 255.0) f = 255.0;
        table[i] = std::uint8_t(std::lround(f));
    }
}

void vxSetFogTable(const std::uint8_t* table) {
    if (!table) return;
    std::memcpy(st().fogTable, table, VX_FOG_TABLE_ENTRIES);
    vexaDevice.fogDirty = true;
}

void vxSetTexFilter(int unit, int minFilter, int magFilter) {
    if (!validUnit(unit)) return;
    st().unit[unit].minFilter = minFilter == VX_FILTER_BILINEAR;
    st().unit[unit].magFilter = magFilter == VX_FILTER_BILINEAR;
    touch();
}

void vxSetTexClamp(int unit, int sMode, int tMode) {
    if (!validUnit(unit)) return;
    st().unit[unit].sClamp = sMode == VX_TEXCLAMP_CLAMP;
    st().unit[unit].tClamp = tMode == VX_TEXCLAMP_CLAMP;
    touch();
}

void vxSetTexMipMapMode(int unit, int mode, bool blendLevels) {
    if (!validUnit(unit)) return;
    st().unit[unit].mipmap = mode == VX_MIPMAP_NEAREST;
    st().unit[unit].blendLevels = blendLevels ? 1 : 0;  // recorded; levels are not blended
    touch();
}

void vxSetTexLodBias(int unit, float bias) {
    if (!validUnit(unit) || !std::isfinite(bias)) return;
    st().unit[unit].lodBias = bias;
    touch();
}

// The fine fog table maps a depth code >> VX_FOG_FINE_SHIFT to a fog factor. The depth code
// is (float bits of w >> 11) - (127 << 12): a pseudo-logarithm of w with 4096 steps per
// octave. Each fine entry takes the w in the middle of its code range and interpolates the
// 64-entry table linearly in the entry position 4 * log2(w), rounding to the nearest byte.
void vxBuildFogFine(const std::uint8_t* table, std::uint8_t* fine) {
    for (int k = 0; k < VX_FOG_FINE_ENTRIES; ++k) {
        const std::uint32_t code = std::uint32_t(k << VX_FOG_FINE_SHIFT) +
                                   (1u << (VX_FOG_FINE_SHIFT - 1)) + (127u << 12);
        const std::uint32_t bits = code << 11;
        float w;
        std::memcpy(&w, &bits, sizeof w);
        const double p = 4.0 * boardLog2(double(w));
        int f;
        if (p <= 0.0) {
            f = table[0];
        } else if (p >= VX_FOG_TABLE_ENTRIES - 1) {
            f = table[VX_FOG_TABLE_ENTRIES - 1];
        } else {
            const int i = int(p);
            const double t = p - i;
            f = int(std::lround(table[i] + (table[i + 1] - table[i]) * t));
        }
        fine[k] = std::uint8_t(clampInt(f, 0, 255));
    }
}

namespace {

// True for the surface state the fused surface routines draw: unit 0 alone, passed through;
// colour = texture x iterated colour; depth test and write; fog or not; no blending or alpha
// test.
bool surfaceStateMatches(const VxDrawState& s) {
    constexpr std::uint32_t RELEVANT = VX_DRAW_TEX0 | VX_DRAW_TEX1 | VX_DRAW_DEPTH_TEST |
                                       VX_DRAW_DEPTH_WRITE | VX_DRAW_BLEND |
                                       VX_DRAW_ALPHA_TEST;
    constexpr std::uint32_t WANTED = VX_DRAW_TEX0 | VX_DRAW_DEPTH_TEST | VX_DRAW_DEPTH_WRITE;
    const auto passes = [](const VxCombineSetting& c) {
        return c.function == VX_COMBINE_LOCAL && !c.invert;
    };
    return (s.flags & RELEVANT) == WANTED && passes(s.texRgb[0]) && passes(s.texAlpha[0]) &&
           s.color.function == VX_COMBINE_SCALE_OTHER && s.color.factor == VX_FACTOR_LOCAL &&
           s.color.local == VX_LOCAL_ITERATED && s.color.other == VX_OTHER_TEXTURE &&
           !s.color.invert;
}

// True for the text state the fused text routine draws: unit 0 alone, passed through;
// colour = constant x texture, alpha = texture alpha; blended by that alpha over the picture;
// depth not tested (or by a test that always passes), written or not; no alpha test, fog or
// dithering.
bool tintedStateMatches(const VxDrawState& s) {
    constexpr std::uint32_t RELEVANT = VX_DRAW_TEX0 | VX_DRAW_TEX1 | VX_DRAW_BLEND |
                                       VX_DRAW_ALPHA_TEST | VX_DRAW_FOG | VX_DRAW_DITHER;
    constexpr std::uint32_t WANTED = VX_DRAW_TEX0 | VX_DRAW_BLEND;
    const auto passes = [](const VxCombineSetting& c) {
        return c.function == VX_COMBINE_LOCAL && !c.invert;
    };
    const bool depthPasses = !(s.flags & VX_DRAW_DEPTH_TEST) || s.depthFunc == VX_CMP_ALWAYS;
    return (s.flags & RELEVANT) == WANTED && depthPasses && passes(s.texRgb[0]) &&
           passes(s.texAlpha[0]) && s.color.function == VX_COMBINE_SCALE_OTHER &&
           s.color.factor == VX_FACTOR_LOCAL && s.color.local == VX_LOCAL_CONSTANT &&
           s.color.other == VX_OTHER_TEXTURE && !s.color.invert &&
           s.alpha.function == VX_COMBINE_SCALE_OTHER && s.alpha.factor == VX_FACTOR_ONE &&
           s.alpha.other == VX_OTHER_TEXTURE && !s.alpha.invert &&
           s.blendSrc == VX_BLEND_SRC_ALPHA && s.blendDst == VX_BLEND_ONE_MINUS_SRC_ALPHA;
}

}  // namespace

// The program's surface and text states get fused routines on every path; which state is
// which is decided here, once, and the path supplies the routines.
void vxChooseRoutines(VxDrawState* s) {
    vexaDevice.path.pickRoutines(s, surfaceStateMatches(*s), tintedStateMatches(*s));
}

void vxDeriveDrawState(VxDrawState* out) {
    const VxRenderState& s = st();
    const VxDevice& d = vexaDevice;
    VxDrawState& o = *out;
    std::memset(&o, 0, sizeof o);
    o.cullMode = s.cullMode;
    o.clipMinX = clampInt(s.clipMinX, 0, d.width);
    o.clipMinY = clampInt(s.clipMinY, 0, d.height);
    o.clipMaxX = clampInt(s.clipMaxX, o.clipMinX, d.width);
    o.clipMaxY = clampInt(s.clipMaxY, o.clipMinY, d.height);
    o.color = s.color;
    o.alpha = s.alpha;
    vxDecodeColor(s.constantColor, o.constant);
    std::int32_t fog[4];
    vxDecodeColor(s.fogColor, fog);
    for (int i = 0; i < 3; ++i) o.fogColor[i] = fog[i];
    o.blendSrc = s.blendRgbSrc;
    o.blendDst = s.blendRgbDst;
    o.alphaTest = s.alphaTest;
    o.alphaRef = s.alphaRef;
    o.depthFunc = s.depthFunc;

    std::uint32_t flags = 0;
    if (usesTexture(s.color) || usesTexture(s.alpha)) flags |= VX_DRAW_TEX0;
    if ((flags & VX_DRAW_TEX0) && d.tmus > 1 &&
        (usesNextUnit(s.unit[0].rgb) || usesNextUnit(s.unit[0].alpha))) {
        flags |= VX_DRAW_TEX1;
    }
    if (s.depthMode == VX_DEPTH_WBUFFER) {
        flags |= VX_DRAW_DEPTH_TEST;
        if (s.depthMask) flags |= VX_DRAW_DEPTH_WRITE;
    }
    if (s.fogMode == VX_FOG_WTABLE) flags |= VX_DRAW_FOG;
    if (!(s.blendRgbSrc == VX_BLEND_ONE && s.blendRgbDst == VX_BLEND_ZERO)) {
        flags |= VX_DRAW_BLEND;
    }
    if (s.alphaTest != VX_CMP_ALWAYS) flags |= VX_DRAW_ALPHA_TEST;
    if (s.ditherMode == VX_DITHER_4X4 && d.ditherAllowed) flags |= VX_DRAW_DITHER;
    if (flags & (VX_DRAW_TEX0 | VX_DRAW_DEPTH_TEST | VX_DRAW_FOG)) flags |= VX_DRAW_NEED_Q;
    o.flags = flags;
    for (int u = 0; u < VX_MAX_TEXTURE_UNITS; ++u) {
        o.texRgb[u] = s.unit[u].rgb;
        o.texAlpha[u] = s.unit[u].alpha;
        vxDeriveTexUnit(u, &o.tex[u]);
    }
    vxChooseRoutines(&o);
}
