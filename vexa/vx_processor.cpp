// The one processor detection of the program and the board: CPUID leaves 1 and 7 where the
// processor has them, the operating system's saved register state, a trial of one packed
// single-precision instruction under the illegal-instruction guard (vx_system.cpp), asked
// once; and VEXA_PATH, the switch to the portable paths, read at every query.
#include <cstdlib>
#include <cstring>

#include "vexa/vx_local.h"
#include "vexa/vx_system.h"

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#define VX_HAVE_CPUID 1
#endif

namespace {

#if defined(VX_HAVE_CPUID)
constexpr std::uint32_t FEATURE_CMOV = 1u << 15;
constexpr std::uint32_t FEATURE_SSE = 1u << 25;
constexpr std::uint32_t EXTENDED_SSE41 = 1u << 19;
constexpr std::uint32_t EXTENDED_POPCNT = 1u << 23;
constexpr std::uint32_t EXTENDED_OSXSAVE = 1u << 27;
constexpr std::uint32_t EXTENDED_AVX = 1u << 28;
constexpr std::uint32_t STRUCTURED_BMI1 = 1u << 3;
constexpr std::uint32_t STRUCTURED_AVX2 = 1u << 5;
// XCR0: the operating system saves the SSE (bit 1) and the upper AVX (bit 2) registers.
constexpr std::uint32_t XCR0_SSE_AVX = 0x6u;

void clearVectorRegister() {
    __asm__ __volatile__("xorps %%xmm0, %%xmm0" : : : "xmm0");
}

// The low word of XCR0; only valid when CPUID says OSXSAVE. Written as the instruction itself
// so that this source needs no extension enabled.
std::uint32_t savedRegisterState() {
    std::uint32_t low = 0, high = 0;
    __asm__ __volatile__("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    (void)high;
    return low;
}

// AVX2 runs when the processor has AVX and AVX2 and the operating system saves the 256-bit
// registers across task switches.
bool avx2Usable(std::uint32_t extended, std::uint32_t structured) {
    if ((extended & (EXTENDED_OSXSAVE | EXTENDED_AVX)) != (EXTENDED_OSXSAVE | EXTENDED_AVX)) {
        return false;
    }
    if ((structured & STRUCTURED_AVX2) == 0) return false;
    return (savedRegisterState() & XCR0_SSE_AVX) == XCR0_SSE_AVX;
}
#endif

// What the processor offers, before the switch.
VxProcessor askProcessor() {
    VxProcessor out;
    std::memset(&out, 0, sizeof out);
#if defined(VX_HAVE_CPUID)
    unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
    // __get_cpuid answers 0 when the processor has no CPUID or lacks the leaf asked for.
    if (__get_cpuid(0, &eax, &ebx, &ecx, &edx) != 0) {
        const unsigned int maxLeaf = eax;
        if (maxLeaf >= 1 && __get_cpuid(1, &eax, &ebx, &ecx, &edx) != 0) {
            out.featureFlags = edx;
            out.extendedFlags = ecx;
        }
        if (maxLeaf >= 7) {
            __cpuid_count(7, 0, eax, ebx, ecx, edx);
            out.structuredFlags = ebx;
        }
    }
    out.hasConditionalMove = (out.featureFlags & FEATURE_CMOV) != 0;
    // The operating system may not run packed instructions whatever the processor says.
    out.hasPackedSingle = (out.featureFlags & FEATURE_SSE) != 0 && vxProbePackedSingle();
    out.hasSse41 = out.hasPackedSingle && (out.extendedFlags & EXTENDED_SSE41) != 0;
    out.hasPopcount = (out.extendedFlags & EXTENDED_POPCNT) != 0;
    out.hasAvx2 = out.hasSse41 && avx2Usable(out.extendedFlags, out.structuredFlags);
    out.hasBmi1 = (out.structuredFlags & STRUCTURED_BMI1) != 0;
#elif defined(__wasm_simd128__)
    out.hasSimd128 = 1;
#endif
    return out;
}

}  // namespace

bool vxProbePackedSingle() {
#if defined(VX_HAVE_CPUID)
    return vxRunsWithoutIllegalInstruction(clearVectorRegister);
#else
    return false;
#endif
}

VxPathKind vxPathLimit() {
    VxPathKind limit = VxPathKind(VX_PATHKIND_COUNT - 1);
    if (const char* s = std::getenv("VEXA_PATH")) {
        for (int k = 0; k < VX_PATHKIND_COUNT; ++k) {
            if (std::strcmp(s, VX_PATH_NAMES[k]) == 0) limit = VxPathKind(k);
        }
    }
    return limit;
}

void vxQueryProcessor(VxProcessor* out) {
    static const VxProcessor found = askProcessor();
    *out = found;
    const VxPathKind limit = vxPathLimit();
    if (limit < VX_PATHKIND_AVX2) out->hasAvx2 = 0;
    if (limit == VX_PATHKIND_PORTABLE) std::memset(out, 0, sizeof *out);
}
