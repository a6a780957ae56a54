// Vexa: the graphics board the program draws through, built in software.
// Owns device start-up, the output buffers, render state, texture memory and drawing.
// Knows no window system: a finished frame leaves through the present hook only.
// Environment: VEXA_TMUS, VEXA_HARDWARE, VEXA_MAX_RES, VEXA_TEXMEM, VEXA_FAIL, VEXA_THREADS,
// VEXA_DITHER (0: the board never dithers), VEXA_PATH (portable, v128 or avx2: the most capable
// processor path used, by the board and by the program's own paths through vxQueryProcessor).
#pragma once

#include <cstddef>
#include <cstdint>

using VxContext = std::uintptr_t;  // 0 = no context

// ---- Queries ----------------------------------------------------------------------------
enum VxQueryItem {
    VX_QUERY_TEXTURE_UNITS = 0,   // int32: 1 or 2
    VX_QUERY_STATE_SIZE,          // int32: bytes of a saved render state
    VX_QUERY_FOG_TABLE_ENTRIES,   // int32: 64
    VX_QUERY_SUBPIXEL_BITS,       // int32: 8; vertices are rounded to 1/256 pixel, half up
    VX_QUERY_ITEM_COUNT
};
// VX_STRING_PATH: the processor path that draws (portable, v128 or avx2); the picture is the
// same on every one.
enum VxStringItem { VX_STRING_HARDWARE = 0, VX_STRING_VERSION, VX_STRING_PATH,
                    VX_STRING_ITEM_COUNT };

constexpr int VX_FOG_TABLE_ENTRIES = 64;
constexpr int VX_MAX_TEXTURE_UNITS = 2;

// ---- The processor ----------------------------------------------------------------------
// What the processor offers the board's processor paths and the program's own: found once
// (CPUID where the processor has it, the operating system's saved register state, a trial of
// one packed single-precision instruction), then limited by VEXA_PATH at every query:
// "portable" leaves nothing (every portable path, of the program and of the board), "v128"
// leaves no AVX2. The pictures are the same whatever it says.
struct VxProcessor {
    std::uint32_t featureFlags;     // CPUID leaf 1 EDX
    std::uint32_t extendedFlags;    // CPUID leaf 1 ECX
    std::uint32_t structuredFlags;  // CPUID leaf 7 sub-leaf 0 EBX (0 below leaf 7)
    int hasConditionalMove;         // leaf 1 EDX bit 15
    int hasPackedSingle;            // EDX bit 25, cleared when the OS does not run packed code
    int hasSse41;                   // ECX bit 19, with packed instructions running
    int hasPopcount;                // ECX bit 23
    int hasAvx2;                    // leaf 7 EBX bit 5, with SSE4.1, AVX (ECX bit 28) and the
                                    // OS saving the 256-bit registers (OSXSAVE, XCR0 bits 1, 2)
    int hasBmi1;                    // leaf 7 EBX bit 3
    int hasSimd128;                 // a WebAssembly build with SIMD (known when it is compiled)
};
void vxQueryProcessor(VxProcessor* out);

// ---- Output ------------------------------------------------------------------------------
enum VxResolution {
    VX_RES_512x384 = 0, VX_RES_640x480, VX_RES_800x600, VX_RES_1024x768, VX_RES_1280x1024,
    VX_RES_1600x1200, VX_RES_COUNT
};
enum VxRefresh {
    VX_REFRESH_DEFAULT = 0, VX_REFRESH_60, VX_REFRESH_70, VX_REFRESH_72, VX_REFRESH_75,
    VX_REFRESH_80, VX_REFRESH_85, VX_REFRESH_90, VX_REFRESH_100, VX_REFRESH_120,
    VX_REFRESH_COUNT
};
enum VxColorFormat { VX_COLORFORMAT_ARGB = 0, VX_COLORFORMAT_ABGR, VX_COLORFORMAT_RGBA,
                     VX_COLORFORMAT_BGRA };
enum VxOrigin { VX_ORIGIN_UPPER_LEFT = 0, VX_ORIGIN_LOWER_LEFT };
enum VxBuffer { VX_BUFFER_FRONT = 0, VX_BUFFER_BACK };

// Width and height of a resolution code; false for an unknown code.
bool vxResolutionSize(int resolution, int* width, int* height);
// Hertz of a refresh code (0 for VX_REFRESH_DEFAULT or an unknown code).
int vxRefreshHertz(int refresh);

// The platform's receiver of finished frames: the new front buffer, RGB 5-6-5, rows top
// first, `width` pixels per row. Called on the program's thread, each frame once it is
// drawn, in order: from a later vxSwapBuffers, or from vxFinish, vxReadFrameRegion or
// vxCloseWindow. The pixels are valid during the call only.
using VxPresentHook = void (*)(void* user, void* window, const std::uint16_t* pixels,
                               int width, int height, int swapInterval);
void vxSetPresentHook(VxPresentHook hook, void* user);

// ---- Start-up ------------------------------------------------------------------------------
void vxInit();
void vxShutdown();                                // closes any open output, frees texture memory
bool vxSelectDevice(int device);                  // only device 0 exists
// Writes at most `bytes` bytes of the item into *out; returns the bytes written (0 = failure).
int vxQuery(int item, int bytes, std::int32_t* out);
const char* vxQueryString(int item);              // never null
// Opens the output: `colorBuffers` 2 or 3 colour buffers of 16-bit pixels, `auxBuffers` 1
// for the depth buffer. Returns 0 when the resolution exceeds VEXA_MAX_RES, VEXA_FAIL=open,
// or the arguments are out of range.
VxContext vxOpenWindow(void* window, int resolution, int refresh, int colorFormat, int origin,
                       int colorBuffers, int auxBuffers);
void vxCloseWindow(VxContext context);

// ---- Buffers -----------------------------------------------------------------------------
// Colour in the output's colour format (ABGR: 0xAABBGGRR); depth 0xFFFF is the farthest.
void vxClearBuffers(std::uint32_t color, std::uint8_t alpha, std::uint32_t depth);
// Ends the frame in the back buffer and rotates buffers; the frame is shown through the
// present hook once drawn: at the next swap, or with three buffers and swap interval 0 at the
// one after, or sooner when the program waits for the board (vxFinish, a read-back).
void vxSwapBuffers(int swapInterval);
// Copies a rectangle of 16-bit pixels, top row first, into dst with `strideBytes` per row.
// Finishes all drawing first. False when the rectangle is not inside the output.
bool vxReadFrameRegion(int buffer, int x, int y, int width, int height, int strideBytes,
                       void* dst);

// ---- Render state ------------------------------------------------------------------------
// Whole render state (every setter below, the fog table and the texture bindings).
void vxSaveState(void* block);
void vxRestoreState(const void* block);

enum VxVertexParam {
    VX_PARAM_XY = 0,    // two floats, window pixels
    VX_PARAM_Q,         // float 1/w: depth and perspective
    VX_PARAM_ARGB,      // packed colour word: alpha 24-31, red 16-23, green 8-15, blue 0-7
    VX_PARAM_ST0,       // s/w, t/w of unit 0 in texels (256 across the longer side)
    VX_PARAM_ST1,       // the same for unit 1
    VX_PARAM_COUNT
};
enum VxParamMode { VX_PARAM_DISABLE = 0, VX_PARAM_ENABLE };
void vxSetVertexLayout(int param, int offset, int mode);

enum VxCoordinateSpace { VX_WINDOW_COORDS = 0 };
void vxSetCoordinateSpace(int space);
void vxSetOrigin(int origin);
// Pixels with minX <= x < maxX and minY <= y < maxY are drawn.
void vxSetClipWindow(int minX, int minY, int maxX, int maxY);

enum VxCullMode { VX_CULL_NONE = 0, VX_CULL_NEGATIVE, VX_CULL_POSITIVE };
void vxSetCullMode(int mode);

// Combine unit: out = function(factor, local, other), then optionally inverted (1 - out).
enum VxCombineFunction {
    VX_COMBINE_ZERO = 0,
    VX_COMBINE_LOCAL,                            // local
    VX_COMBINE_LOCAL_ALPHA,                      // local alpha
    VX_COMBINE_SCALE_OTHER,                      // factor * other
    VX_COMBINE_SCALE_OTHER_ADD_LOCAL,            // factor * other + local
    VX_COMBINE_SCALE_OTHER_ADD_LOCAL_ALPHA,      // factor * other + local alpha
    VX_COMBINE_SCALE_OTHER_MINUS_LOCAL,          // factor * (other - local)
    VX_COMBINE_BLEND_OTHER_LOCAL,                // factor * (other - local) + local
    VX_COMBINE_BLEND_OTHER_LOCAL_ALPHA,          // factor * (other - local) + local alpha
    VX_COMBINE_SCALE_MINUS_LOCAL_ADD_LOCAL,      // factor * (-local) + local
    VX_COMBINE_FUNCTION_COUNT
};
enum VxCombineFactor {
    VX_FACTOR_ZERO = 0, VX_FACTOR_LOCAL, VX_FACTOR_OTHER_ALPHA, VX_FACTOR_LOCAL_ALPHA,
    VX_FACTOR_TEXTURE_ALPHA, VX_FACTOR_ONE, VX_FACTOR_ONE_MINUS_LOCAL,
    VX_FACTOR_ONE_MINUS_OTHER_ALPHA, VX_FACTOR_ONE_MINUS_LOCAL_ALPHA,
    VX_FACTOR_ONE_MINUS_TEXTURE_ALPHA, VX_COMBINE_FACTOR_COUNT
};
enum VxCombineLocal { VX_LOCAL_ITERATED = 0, VX_LOCAL_CONSTANT, VX_COMBINE_LOCAL_COUNT };
enum VxCombineOther { VX_OTHER_ITERATED = 0, VX_OTHER_TEXTURE, VX_OTHER_CONSTANT,
                      VX_COMBINE_OTHER_COUNT };
// Colour and alpha of a pixel before fog and blending. "Texture" is unit 0's output.
void vxSetColorCombine(int function, int factor, int local, int other, bool invert);
void vxSetAlphaCombine(int function, int factor, int local, int other, bool invert);
// Texture unit combine: local = the unit's own texel, other = the next unit's output
// (unit 1 feeds unit 0; unit 1's other is zero).
void vxSetTextureCombine(int unit, int rgbFunction, int rgbFactor, int alphaFunction,
                         int alphaFactor, bool rgbInvert, bool alphaInvert);
void vxSetConstantColor(std::uint32_t color);     // output colour format (ABGR)

enum VxBlendFactor {
    VX_BLEND_ZERO = 0, VX_BLEND_ONE, VX_BLEND_SRC_ALPHA, VX_BLEND_ONE_MINUS_SRC_ALPHA,
    VX_BLEND_DST_ALPHA, VX_BLEND_ONE_MINUS_DST_ALPHA, VX_BLEND_SRC_COLOR,
    VX_BLEND_ONE_MINUS_SRC_COLOR, VX_BLEND_FACTOR_COUNT
};
// rgb = src * srcFactor + dst * dstFactor; alpha likewise. One/zero (and zero/zero for
// alpha) is "no blending".
void vxSetAlphaBlend(int rgbSrc, int rgbDst, int alphaSrc, int alphaDst);

enum VxCompare {
    VX_CMP_NEVER = 0, VX_CMP_LESS, VX_CMP_EQUAL, VX_CMP_LEQUAL, VX_CMP_GREATER,
    VX_CMP_NOTEQUAL, VX_CMP_GEQUAL, VX_CMP_ALWAYS, VX_CMP_COUNT
};
void vxSetAlphaTest(int compare);                 // pixel alpha compared with the reference
void vxSetAlphaTestReference(std::uint8_t reference);

enum VxDepthMode { VX_DEPTH_DISABLE = 0, VX_DEPTH_WBUFFER };
void vxSetDepthMode(int mode);
void vxSetDepthFunction(int compare);             // new code compared with the stored code
void vxSetDepthMask(bool write);

// Colour written to the 5-6-5 buffer is dithered with a fixed 4 x 4 ordered pattern by screen
// position (the default), or rounded to the nearest 5-6-5 value.
enum VxDitherMode { VX_DITHER_DISABLE = 0, VX_DITHER_4X4 };
void vxSetDitherMode(int mode);

enum VxFogMode { VX_FOG_DISABLE = 0, VX_FOG_WTABLE };
void vxSetFogMode(int mode);
void vxSetFogColor(std::uint32_t color);          // output colour format (ABGR)
// The eye distance w that fog-table entry i stands for: 2^(i/4), so entry 0 is w = 1 and
// entry 63 is w = 55109. Between entries the fog factor is interpolated.
float vxFogTableIndexToW(int index);
// Fills VX_FOG_TABLE_ENTRIES bytes: 255 * (1 - exp(-(density * w)^2)) per entry.
void vxMakeFogTableExp2(std::uint8_t* table, float density);
void vxSetFogTable(const std::uint8_t* table);    // 0 = no fog, 255 = fog colour

// ---- Textures ----------------------------------------------------------------------------
enum VxTexFormat {
    VX_TEXFMT_RGB_565 = 0, VX_TEXFMT_ARGB_4444, VX_TEXFMT_ALPHA_INTENSITY_88, VX_TEXFMT_ALPHA_8,
    VX_TEXFMT_COUNT
};
// A texture as the board takes it. Levels are log2 of the longer side (0 = 1 texel,
// 8 = 256); aspect = log2(width) - log2(height), -3 to 3. Texels: the largest level first,
// then each smaller level, rows top first; 2 bytes per texel (1 for VX_TEXFMT_ALPHA_8).
struct VxTexInfo {
    std::int32_t smallLod;
    std::int32_t largeLod;
    std::int32_t aspect;
    std::int32_t format;
    void* data;
};
enum VxTexLevels { VX_LEVELS_EVEN = 1, VX_LEVELS_ODD = 2, VX_LEVELS_BOTH = 3 };

std::uint32_t vxTexMinAddress(int unit);
// The highest address at which the smallest texture still fits.
std::uint32_t vxTexMaxAddress(int unit);
// Bytes of texture memory a texture occupies (a multiple of 8); 0 for an invalid texture.
std::uint32_t vxTexMemRequired(int levels, const VxTexInfo* info);
std::uint32_t vxTexLevelsMemRequired(int levels, int smallLod, int largeLod, int aspect,
                                     int format);
// Copies the texels into the unit's memory at `address`. Refused (false, nothing written)
// when the texture does not fit between the unit's bounds or is invalid.
bool vxTexDownload(int unit, std::uint32_t address, int levels, const VxTexInfo* info);
// Copies `bytes` bytes of the unit's texture memory from `address` into dst, after all drawing
// handed in so far (for inspection tools and tests). False, nothing copied, when the range is
// not inside the unit's memory.
bool vxTexReadMemory(int unit, std::uint32_t address, std::uint32_t bytes, void* dst);
// Textures the unit from `address` with the shape of `info` (texels are not read).
bool vxTexBind(int unit, std::uint32_t address, int levels, const VxTexInfo* info);

enum VxTexFilter { VX_FILTER_POINT = 0, VX_FILTER_BILINEAR };
void vxSetTexFilter(int unit, int minFilter, int magFilter);
enum VxTexClamp { VX_TEXCLAMP_WRAP = 0, VX_TEXCLAMP_CLAMP };
void vxSetTexClamp(int unit, int sMode, int tMode);
enum VxMipMapMode { VX_MIPMAP_DISABLE = 0, VX_MIPMAP_NEAREST };
void vxSetTexMipMapMode(int unit, int mode, bool blendLevels);
void vxSetTexLodBias(int unit, float bias);

// ---- Drawing -------------------------------------------------------------------------------
// Vertices are read through the declared layout. A primitive with a non-finite coordinate
// is dropped whole.
// Timing for a heads-up display. While on, the workers add up the time they spend drawing and
// the program's thread the time it waits for them; off (the default), the cost is one test per
// batch of commands. vxTakeTimings returns the totals since its previous call (or since timing
// was switched on) and starts new ones.
struct VxTimings {
    double workerBusyMs;    // summed over the workers (the program's thread when drawing inline)
    double programWaitMs;   // the program's thread waiting for ring space or for a finish
    int workers;
};
void vxSetTiming(bool on);
void vxTakeTimings(VxTimings* out);

enum VxPrimitive { VX_TRIANGLE_STRIP = 0, VX_POLYGON };   // polygon: a fan from vertex 0
void vxDrawTriangle(const void* a, const void* b, const void* c);
void vxDrawLine(const void* a, const void* b);           // one pixel wide, both ends drawn
void vxDrawVertexArray(int mode, int count, const void* const* vertices);
void vxDrawVertexList(int mode, int count, const void* first, int strideBytes);
// Waits until every primitive handed in so far is in the buffers.
void vxFinish();

// ---- Recording ---------------------------------------------------------------------------
// The board can hand every drawing call to a recorder as the call is made: what was called
// (VX_CALL_*), the vertex count and the caller's vertex addresses (read them during the call).
// vxDrawVertexList is not recorded. Tests see what a program drew this way; a benchmark
// records without drawing to measure the program alone.
enum VxCall { VX_CALL_TRIANGLE = 0, VX_CALL_LINE, VX_CALL_STRIP, VX_CALL_POLYGON, VX_CALL_COUNT };
using VxDrawRecorder = void (*)(void* user, int call, int count, const void* const* vertices);
// Installs `recorder` (null: none); with `drawToo` false the calls are only recorded. Works
// with or without an open output.
void vxSetDrawRecorder(VxDrawRecorder recorder, void* user, bool drawToo);
