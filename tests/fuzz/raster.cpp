// Fuzz target of the Vexa rasterizer through vexa/vexa.h: the input picks a clip window and a
// run of render state, textures of random texels and primitives with NaN, infinite and huge
// values among them. Checked: a clear fills exactly the clip window, nothing drawn reaches a
// pixel outside it, a triangle with a non-finite position changes nothing, and a download is
// taken exactly when it fits. Two workers draw (VEXA_THREADS, unless set already).
#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "tests/fuzz/fuzz_support.h"
#include "vexa/vexa.h"

namespace {

constexpr int W = 512, H = 384;
constexpr int VERTEX_BYTES = 64;        // every layout offset stays below VERTEX_BYTES - 8
constexpr int MAX_OPERATIONS = 64;
constexpr int MAX_BATCH_VERTICES = 20;

// The colour the whole frame holds between inputs: each input's drawing stays inside its clip
// window, and the window is cleared back to this colour when the input is done.
constexpr std::uint32_t BACKGROUND_ABGR = 0xFF30A050u;
std::uint16_t background;

std::vector<std::uint8_t> defaultState;
std::vector<std::uint16_t> pixels(std::size_t(W) * H);
std::vector<std::uint16_t> expectedRow(W);

// The declared vertex layout as this side knows it, so vertices are written where it is read.
struct Layout {
    int offset[VX_PARAM_COUNT];
    bool enabled[VX_PARAM_COUNT];
};
constexpr Layout PROGRAM_LAYOUT = {{0, 12, 32, 16, 24}, {true, true, true, true, false}};

struct ClipWindow {
    int minX, minY, maxX, maxY;
    bool inside(int x, int y) const { return x >= minX && x < maxX && y >= minY && y < maxY; }
};

// Compares the frame with `outside` outside the clip window and, unless `anyInside`, with
// `inside` within it; row by row with memcmp, as a pixel loop under the fuzzer's compare
// tracing would cost more than the drawing. The first differing pixel is named.
void checkFrame(const ClipWindow& clip, std::uint16_t outside, bool anyInside,
                std::uint16_t inside, const char* when) {
    const int x0 = std::clamp(clip.minX, 0, W), x1 = std::clamp(clip.maxX, x0, W);
    for (int y = 0; y < H; ++y) {
        const std::uint16_t* row = pixels.data() + std::size_t(y) * W;
        const bool rowInside = y >= clip.minY && y < clip.maxY && x0 < x1;
        std::fill(expectedRow.begin(), expectedRow.end(), outside);
        if (rowInside) std::fill(expectedRow.begin() + x0, expectedRow.begin() + x1, inside);
        // Inside the window anything may be drawn (anyInside): only the two sides count.
        const bool same =
            rowInside && anyInside
                ? std::memcmp(row, expectedRow.data(), std::size_t(x0) * 2) == 0 &&
                      std::memcmp(row + x1, expectedRow.data() + x1, std::size_t(W - x1) * 2) == 0
                : std::memcmp(row, expectedRow.data(), std::size_t(W) * 2) == 0;
        if (same) continue;
        for (int x = 0; x < W; ++x) {
            const bool in = clip.inside(x, y);
            if (in && anyInside) continue;
            FUZZ_CHECK(row[x] == expectedRow[std::size_t(x)],
                       "%s: pixel (%d,%d) %s the clip window (%d,%d)-(%d,%d) is %04x, not %04x",
                       when, x, y, in ? "inside" : "outside", clip.minX, clip.minY, clip.maxX,
                       clip.maxY, unsigned(row[x]), unsigned(expectedRow[std::size_t(x)]));
        }
    }
}

struct Run {
    FuzzReader in;
    Layout layout;
    std::vector<std::uint8_t> savedState;
    Layout savedLayout;
    bool checkedDrop;
};

void readFrame() {
    FUZZ_CHECK(vxReadFrameRegion(VX_BUFFER_BACK, 0, 0, W, H, W * 2, pixels.data()),
               "the frame cannot be read");
}

void applyLayout(const Layout& l) {
    for (int p = 0; p < VX_PARAM_COUNT; ++p) {
        vxSetVertexLayout(p, l.offset[p], l.enabled[p] ? VX_PARAM_ENABLE : VX_PARAM_DISABLE);
    }
}

// One vertex at `out` (VERTEX_BYTES long), the position written last so that it is exactly
// what was chosen even where other fields overlap it. True when x and y are both finite.
bool makeVertex(Run& r, std::uint8_t* out) {
    FuzzReader& in = r.in;
    const Layout& l = r.layout;
    for (int i = 0; i < VERTEX_BYTES; ++i) out[i] = std::uint8_t(i * 37);
    const auto put = [&](int param, const void* value, std::size_t bytes) {
        std::memcpy(out + l.offset[param], value, bytes);
    };
    const float q = in.wild(0.01f, 4.0f);
    put(VX_PARAM_Q, &q, 4);
    const std::uint32_t argb = in.u32();
    put(VX_PARAM_ARGB, &argb, 4);
    const float st0[2] = {in.wild(-300.0f, 300.0f), in.wild(-300.0f, 300.0f)};
    put(VX_PARAM_ST0, st0, 8);
    const float st1[2] = {in.wild(-300.0f, 300.0f), in.wild(-300.0f, 300.0f)};
    put(VX_PARAM_ST1, st1, 8);
    const float xy[2] = {in.wild(-64.0f, W + 64.0f), in.wild(-64.0f, H + 64.0f)};
    put(VX_PARAM_XY, xy, 8);
    return std::isfinite(xy[0]) && std::isfinite(xy[1]);
}

// Full chain of texels for a texture (what vxTexDownload reads), from the input and a pattern.
std::unique_ptr<std::uint8_t[]> makeTexels(FuzzReader& in, std::uint32_t bytes) {
    std::unique_ptr<std::uint8_t[]> texels(new std::uint8_t[bytes]);
    const std::size_t fromInput = std::min<std::size_t>(in.range(0, 32), bytes);
    for (std::size_t i = 0; i < fromInput; ++i) texels[i] = in.byte();
    std::uint32_t x = in.u32() | 1u;
    for (std::size_t i = fromInput; i < bytes; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        texels[i] = std::uint8_t(x >> 24);
    }
    return texels;
}

void downloadTexture(Run& r) {
    FuzzReader& in = r.in;
    VxTexInfo info;
    const int unit = in.range(0, 1);
    info.format = in.range(0, VX_TEXFMT_COUNT - 1);
    info.largeLod = in.range(0, 8);
    info.smallLod = in.range(0, info.largeLod);
    info.aspect = in.range(-3, 3);
    const int levels = in.range(VX_LEVELS_EVEN, VX_LEVELS_BOTH);
    const std::uint32_t chain = vxTexLevelsMemRequired(VX_LEVELS_BOTH, info.smallLod,
                                                       info.largeLod, info.aspect, info.format);
    const std::uint32_t required = vxTexMemRequired(levels, &info);
    FUZZ_CHECK(chain > 0 && chain % 8 == 0 && required <= chain && required % 8 == 0,
               "levels %d of a %d..%d texture need %u of %u bytes", levels, int(info.smallLod),
               int(info.largeLod), unsigned(required), unsigned(chain));
    const std::uint32_t end = vxTexMaxAddress(unit) + 8;
    std::uint32_t address = 0;
    switch (in.range(0, 3)) {
    case 0: address = vxTexMinAddress(unit); break;
    case 1: address = end - required; break;
    case 2: address = (in.u32() % end) & ~7u; break;
    default: address = in.u32(); break;
    }
    std::unique_ptr<std::uint8_t[]> texels = makeTexels(in, chain);
    info.data = texels.get();
    const bool fits = required > 0 && address >= vxTexMinAddress(unit) &&
                      std::uint64_t(address) + required <= end;
    FUZZ_CHECK(vxTexDownload(unit, address, levels, &info) == fits,
               "a texture of %u bytes at %u of %u was %s", unsigned(required), unsigned(address),
               unsigned(end), fits ? "refused" : "taken");
    // Bound as downloaded, or with another shape over whatever the memory holds.
    if (in.flag()) {
        info.format = in.range(0, VX_TEXFMT_COUNT - 1);
        info.largeLod = in.range(0, 8);
        info.smallLod = in.range(0, info.largeLod);
        info.aspect = in.range(-3, 3);
    }
    vxTexBind(unit, address, in.range(VX_LEVELS_EVEN, VX_LEVELS_BOTH), &info);
}

void textureParameters(FuzzReader& in) {
    const int unit = in.range(-1, 2);
    const int which = in.range(0, 3);
    if (which == 3) {
        vxSetTexLodBias(unit, in.wild(-8.0f, 8.0f));
        return;
    }
    const int first = in.range(0, 1);
    const int second = in.range(0, 1);
    if (which == 0) vxSetTexFilter(unit, first, second);
    if (which == 1) vxSetTexClamp(unit, first, second);
    if (which == 2) vxSetTexMipMapMode(unit, first, second != 0);
}

void combine(FuzzReader& in) {
    const int which = in.range(0, 2);
    if (which == 2) {
        const int unit = in.range(-1, 2);
        const int rgbFunction = in.range(-1, VX_COMBINE_FUNCTION_COUNT);
        const int rgbFactor = in.range(-1, VX_COMBINE_FACTOR_COUNT);
        const int alphaFunction = in.range(-1, VX_COMBINE_FUNCTION_COUNT);
        const int alphaFactor = in.range(-1, VX_COMBINE_FACTOR_COUNT);
        const bool rgbInvert = in.flag();
        vxSetTextureCombine(unit, rgbFunction, rgbFactor, alphaFunction, alphaFactor, rgbInvert,
                            in.flag());
        return;
    }
    const int function = in.range(-1, VX_COMBINE_FUNCTION_COUNT);
    const int factor = in.range(-1, VX_COMBINE_FACTOR_COUNT);
    const int local = in.range(-1, VX_COMBINE_LOCAL_COUNT);
    const int other = in.range(-1, VX_COMBINE_OTHER_COUNT);
    const bool invert = in.flag();
    if (which == 0) {
        vxSetColorCombine(function, factor, local, other, invert);
    } else {
        vxSetAlphaCombine(function, factor, local, other, invert);
    }
}

void fog(FuzzReader& in) {
    vxSetFogMode(in.range(0, 2));
    vxSetFogColor(in.u32());
    std::uint8_t table[VX_FOG_TABLE_ENTRIES];
    if (in.flag()) {
        for (std::uint8_t& entry : table) entry = in.byte();
    } else {
        vxMakeFogTableExp2(table, in.wild(0.0f, 0.05f));
    }
    vxSetFogTable(table);
}

void layout(Run& r) {
    FuzzReader& in = r.in;
    const int param = in.range(-1, VX_PARAM_COUNT);
    const bool valid = param >= 0 && param < VX_PARAM_COUNT;
    if (in.range(0, 7) == 0) {
        // Refused offsets must leave the layout as it was.
        vxSetVertexLayout(param, in.flag() ? -4 : 4097, VX_PARAM_ENABLE);
        return;
    }
    const int offset = 4 * in.range(0, (VERTEX_BYTES - 8) / 4);
    const bool enable = in.flag();
    vxSetVertexLayout(param, offset, enable ? VX_PARAM_ENABLE : VX_PARAM_DISABLE);
    if (valid) {
        r.layout.offset[param] = offset;
        r.layout.enabled[param] = enable;
    }
}

void triangle(Run& r) {
    alignas(8) std::uint8_t v[3][VERTEX_BYTES];
    bool finite = true;
    for (auto& vertex : v) finite &= makeVertex(r, vertex);
    // Once per input (reading the frame twice is slow): a non-finite position drops it whole.
    const bool check = !finite && !r.checkedDrop;
    std::vector<std::uint16_t> before;
    if (check) {
        r.checkedDrop = true;
        readFrame();
        before = pixels;
    }
    vxDrawTriangle(v[0], v[1], v[2]);
    if (check) {
        readFrame();
        FUZZ_CHECK(pixels == before, "a triangle with a non-finite position was drawn");
    }
}

void line(Run& r) {
    alignas(8) std::uint8_t v[2][VERTEX_BYTES];
    for (auto& vertex : v) makeVertex(r, vertex);
    vxDrawLine(v[0], v[1]);
}

void vertexArray(Run& r) {
    const int mode = r.in.range(-1, 2);
    const int count = r.in.range(0, MAX_BATCH_VERTICES);
    std::vector<std::unique_ptr<std::uint8_t[]>> vertices;
    std::vector<const void*> pointers;
    for (int i = 0; i < count; ++i) {
        vertices.emplace_back(new std::uint8_t[VERTEX_BYTES]);
        makeVertex(r, vertices.back().get());
        pointers.push_back(vertices.back().get());
    }
    vxDrawVertexArray(mode, count, pointers.data());
}

void vertexList(Run& r) {
    const int mode = r.in.range(-1, 2);
    const int count = r.in.range(1, MAX_BATCH_VERTICES);
    // Strides below a vertex overlap them; the last vertex ends the allocation exactly.
    const int stride = r.in.flag() ? VERTEX_BYTES : 4 * r.in.range(1, 2 * VERTEX_BYTES / 4);
    const std::size_t bytes = std::size_t(count - 1) * std::size_t(stride) + VERTEX_BYTES;
    std::unique_ptr<std::uint8_t[]> list(new std::uint8_t[bytes]);
    std::uint8_t vertex[VERTEX_BYTES];
    for (int i = 0; i < count; ++i) {
        makeVertex(r, vertex);
        std::memcpy(list.get() + std::size_t(i) * std::size_t(stride), vertex, VERTEX_BYTES);
    }
    vxDrawVertexList(mode, count, list.get(), stride);
}

void operation(Run& r) {
    FuzzReader& in = r.in;
    switch (in.range(0, 18)) {
    case 0: combine(in); break;
    case 1: vxSetConstantColor(in.u32()); break;
    case 2: {
        const int rgbSrc = in.range(-1, VX_BLEND_FACTOR_COUNT);
        const int rgbDst = in.range(-1, VX_BLEND_FACTOR_COUNT);
        const int alphaSrc = in.range(-1, VX_BLEND_FACTOR_COUNT);
        vxSetAlphaBlend(rgbSrc, rgbDst, alphaSrc, in.range(-1, VX_BLEND_FACTOR_COUNT));
        break;
    }
    case 3:
        vxSetAlphaTest(in.range(-1, VX_CMP_COUNT));
        vxSetAlphaTestReference(in.byte());
        break;
    case 4:
        vxSetDepthMode(in.range(0, 2));
        vxSetDepthFunction(in.range(-1, VX_CMP_COUNT));
        vxSetDepthMask(in.flag());
        break;
    case 5: fog(in); break;
    case 6: vxSetCullMode(in.range(-1, 3)); break;
    case 7: downloadTexture(r); break;
    case 8: textureParameters(in); break;
    case 9: layout(r); break;
    case 10: vxSetOrigin(in.range(-1, 2)); break;
    case 11: triangle(r); break;
    case 12: line(r); break;
    case 13: vertexArray(r); break;
    case 14: vertexList(r); break;
    case 15:
        // Save, or restore what was saved (the clip window is the same in both).
        if (in.flag() || r.savedState.empty()) {
            r.savedState.resize(defaultState.size());
            vxSaveState(r.savedState.data());
            r.savedLayout = r.layout;
        } else {
            vxRestoreState(r.savedState.data());
            r.layout = r.savedLayout;
        }
        break;
    case 16: {
        const std::uint32_t color = in.u32();
        const std::uint8_t alpha = in.byte();
        vxClearBuffers(color, alpha, in.u16());
        break;
    }
    case 17: vxFinish(); break;
    default: vxSetDitherMode(in.range(-1, 2)); break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzKeepLog();
    setenv("VEXA_THREADS", "2", 0);
    vxInit();
    std::atexit(vxShutdown);   // the workers are joined before the statics go
    std::int32_t stateBytes = 0;
    if (!vxSelectDevice(0) || vxQuery(VX_QUERY_STATE_SIZE, 4, &stateBytes) != 4 ||
        !vxOpenWindow(nullptr, VX_RES_512x384, VX_REFRESH_DEFAULT, VX_COLORFORMAT_ABGR,
                      VX_ORIGIN_UPPER_LEFT, 2, 1)) {
        std::fprintf(stderr, "the rasterizer cannot open a 512x384 output\n");
        std::exit(1);
    }
    applyLayout(PROGRAM_LAYOUT);
    defaultState.resize(std::size_t(stateBytes));
    vxSaveState(defaultState.data());

    // The whole frame cleared to one colour.
    vxClearBuffers(BACKGROUND_ABGR, 0, 0xFFFF);
    readFrame();
    background = pixels[0];
    checkFrame(ClipWindow{0, 0, 0, 0}, background, false, 0, "clear");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Run r{FuzzReader(data, size), PROGRAM_LAYOUT, {}, PROGRAM_LAYOUT, false};
    FuzzReader& in = r.in;
    vxRestoreState(defaultState.data());

    // A clip window anywhere (also empty, inverted or past the output); a clear inside it.
    ClipWindow clip;
    clip.minX = in.range(-16, W + 16);
    clip.minY = in.range(-16, H + 16);
    clip.maxX = in.flag() ? in.range(-16, W + 16) : clip.minX + in.range(0, 64);
    clip.maxY = in.flag() ? in.range(-16, H + 16) : clip.minY + in.range(0, 64);
    vxSetClipWindow(clip.minX, clip.minY, clip.maxX, clip.maxY);
    const std::uint32_t clearColor = in.u32();
    vxClearBuffers(clearColor, 0, in.u16());
    readFrame();
    const int firstX = std::clamp(clip.minX, 0, W - 1), firstY = std::clamp(clip.minY, 0, H - 1);
    checkFrame(clip, background, false, pixels[std::size_t(firstY) * W + firstX], "clip clear");

    for (int n = 0; n < MAX_OPERATIONS && !in.empty(); ++n) operation(r);

    readFrame();
    checkFrame(clip, background, true, 0, "drawing");

    // The next input starts from the background again.
    vxRestoreState(defaultState.data());
    vxSetClipWindow(clip.minX, clip.minY, clip.maxX, clip.maxY);
    vxClearBuffers(BACKGROUND_ABGR, 0, 0xFFFF);
    return 0;
}
