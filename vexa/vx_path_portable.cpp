// The portable processor path of Vexa: the path source (vx_path_body.h) compiled for the
// baseline processor (SSE2 on x86, plain vector arithmetic elsewhere). vxInit fills the path
// table with it first; it stays where no faster path runs or VEXA_PATH asks for it alone
// (VEXA_PATH=portable, or VEXA_PORTABLE=1), and every other path gives its pixels. Also the board's 5-6-5 rounding for the program thread.
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

// No samplers of its own: vxSampleGeneric samples every bound unit.
VxSampleRoutine pathSampler(const VxTexUnit&) { return nullptr; }
}  // namespace vxPortable

void vxPortablePath(VxPath* path) { vxPortable::fillPath(path); }

std::uint16_t vxPack565(int r, int g, int b) {
    return std::uint16_t(vxPortable::packRounded(r, g, b));
}
