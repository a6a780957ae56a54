// The portable processor path of Vexa: the path source (vx_path_body.h) compiled for the
// baseline processor (SSE2 on x86, plain vector arithmetic elsewhere). vxInit fills the path
// table with it first; it stays where no faster path runs or VEXA_PATH asks for it alone
// (VEXA_PATH=portable), and every other path gives its pixels. Also the board's 5-6-5
// rounding for the program thread.
#include "vexa/vx_local.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vxPortable {
#include "vexa/vx_path_body.h"

// The path's pieces (see vx_path_body.h): the portable forms, but for the lane bits of four,
// one instruction where the baseline has SSE2.
namespace {
inline unsigned laneBits(Int4 v) {
#if defined(__SSE2__)
    return unsigned(_mm_movemask_ps(_mm_castsi128_ps(__m128i(v))));
#else
    return portableLaneBits(v);
#endif
}
inline unsigned laneBits(Int8 v) { return portableLaneBits(v); }
inline Double4 colourPlanes(const VxVertex& v) { return portableColourPlanes(v); }
}  // namespace

#include "vexa/vx_pixel_math_begin.h"
inline void ditherOffsets(const VxBatch& b, std::int32_t* out, int n) {
    portableDitherOffsets(b, out, n);
}
inline void lookupBytes(const std::uint8_t* table, const std::int32_t* idx, int shift,
                        std::int32_t* out, int n) {
    portableLookupBytes(table, idx, shift, out, n);
}
inline F8 max8(F8 a, F8 b) { return portableMax8(a, b); }
inline F8 min8(F8 a, F8 b) { return portableMin8(a, b); }
inline I8 clampInt8(I8 v, int lo, int hi) { return portableClampInt8(v, lo, hi); }
void interpolateSurface(const VxDrawState& s, const VxSetup& p, VxBatch& b, int from) {
    interpolateSurfaceIn<PixelLanes<8>>(s, p, b, from);
}
void interpolateSurfaceLanes(const VxDrawState& s, VxBatch& b, int from, int to) {
    interpolateSurfaceLanesIn<PixelLanes<8>>(s, b, from, to);
}
inline bool depthTestGroups(const VxDrawState& s, VxBatch& b, int n, unsigned* runs) {
    return portableDepthTestGroups(s, b, n, runs);
}
template <bool FOG, bool DITHER>
inline void shadeSurfacePixels(const VxDrawState& s, const VxBatch& b, int n,
                               const std::int32_t* f, const std::int32_t* offset,
                               std::uint16_t* pix) {
    portableShadeSurfacePixels<FOG, DITHER>(s, b, n, f, offset, pix);
}
inline bool storeWholeRun(VxBatch& b, int j, const std::uint16_t* pix) {
    return portableStoreWholeRun(b, j, pix);
}
inline unsigned passingBits(const VxBatch& b, int j) { return portablePassingBits(b, j); }
inline void tintedPixels(const VxDrawState& s, const VxBatch& b, int n, const std::int32_t* dst,
                         std::uint16_t* pix) {
    portableTintedPixels(s, b, n, dst, pix);
}
#include "vexa/vx_pixel_math_end.h"

// No samplers of its own: vxSampleGeneric samples every bound unit.
VxSampleRoutine pathSampler(const VxTexUnit&) { return nullptr; }
}  // namespace vxPortable

void vxPortablePath(VxPath* path) { vxPortable::fillPath(path); }

std::uint16_t vxPack565(int r, int g, int b) {
    return std::uint16_t(vxPortable::packRounded(r, g, b));
}
