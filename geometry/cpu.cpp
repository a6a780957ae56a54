// Processor feature detection: CPUID leaves 0, 1 and 7 where the processor has them, the
// operating system's saved register state, the illegal-instruction probe for packed
// single-precision instructions, the VORL_PORTABLE switch. Runs once at start-up.
#include "geometry/cpu.h"

#include <csetjmp>
#include <csignal>
#include <cstdlib>
#include <cstring>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#define VORL_HAVE_CPUID 1
#endif

namespace {

// The illegal-instruction guard, on systems with POSIX signals and on those (Windows) whose C
// library only has signal() and setjmp, and turns the processor's fault into SIGILL.
#if defined(_WIN32)
std::jmp_buf probeJump;

void onIllegalInstruction(int) {
    std::longjmp(probeJump, 1);
}

// Installs the guard; the previous handler goes to *previous. False when it cannot.
bool installGuard(void (**previous)(int)) {
    *previous = std::signal(SIGILL, onIllegalInstruction);
    return *previous != SIG_ERR;
}
void restoreGuard(void (*previous)(int)) { std::signal(SIGILL, previous); }
#define VORL_PROBE_JUMP() setjmp(probeJump)
using PreviousGuard = void (*)(int);
#else
sigjmp_buf probeJump;

void onIllegalInstruction(int) {
    siglongjmp(probeJump, 1);
}

bool installGuard(struct sigaction* previous) {
    struct sigaction guard;
    std::memset(&guard, 0, sizeof guard);
    guard.sa_handler = onIllegalInstruction;
    sigemptyset(&guard.sa_mask);
    return sigaction(SIGILL, &guard, previous) == 0;
}
void restoreGuard(const struct sigaction& previous) { sigaction(SIGILL, &previous, nullptr); }
// sigsetjmp with the mask saved: a second fault after a caught one is caught too.
#define VORL_PROBE_JUMP() sigsetjmp(probeJump, 1)
using PreviousGuard = struct sigaction;
#endif

#if defined(VORL_HAVE_CPUID)
constexpr std::uint32_t FEATURE_CMOV = 1u << 15;
constexpr std::uint32_t FEATURE_MMX = 1u << 23;
constexpr std::uint32_t FEATURE_SSE = 1u << 25;
constexpr std::uint32_t EXTENDED_SSE41 = 1u << 19;
constexpr std::uint32_t EXTENDED_OSXSAVE = 1u << 27;
constexpr std::uint32_t EXTENDED_AVX = 1u << 28;
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

bool portableForced() {
    const char* value = std::getenv("VORL_PORTABLE");
    return value != nullptr && value[0] != '\0' && std::strcmp(value, "0") != 0;
}

}  // namespace

bool runsWithoutIllegalInstruction(void (*trial)()) {
    PreviousGuard previous;
    if (!installGuard(&previous)) return false;
    // volatile: the value must survive the jump back out of the handler.
    volatile bool ran = false;
    if (VORL_PROBE_JUMP() == 0) {
        trial();
        ran = true;
    }
    restoreGuard(previous);
    return ran;
}

bool probePackedSingle() {
#if defined(VORL_HAVE_CPUID)
    return runsWithoutIllegalInstruction(clearVectorRegister);
#else
    return false;
#endif
}

void detectCpuFeatures(CpuFeatures& out) {
    std::memset(&out, 0, sizeof out);
#if defined(VORL_HAVE_CPUID)
    unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
    // __get_cpuid answers 0 when the processor has no CPUID or lacks the leaf asked for.
    if (__get_cpuid(0, &eax, &ebx, &ecx, &edx) != 0) {
        const unsigned int maxLeaf = eax;
        std::memcpy(out.vendor, &ebx, 4);
        std::memcpy(out.vendor + 4, &edx, 4);
        std::memcpy(out.vendor + 8, &ecx, 4);
        if (maxLeaf >= 1 && __get_cpuid(1, &eax, &ebx, &ecx, &edx) != 0) {
            out.signature = eax;
            out.featureFlags = edx;
            out.extendedFlags = ecx;
        }
        if (maxLeaf >= 7) {
            __cpuid_count(7, 0, eax, ebx, ecx, edx);
            out.structuredFlags = ebx;
        }
    }
    out.hasConditionalMove = (out.featureFlags & FEATURE_CMOV) != 0;
    out.hasMmx = (out.featureFlags & FEATURE_MMX) != 0;
    out.hasPackedSingle = (out.featureFlags & FEATURE_SSE) != 0;
    // The operating system may not run packed instructions whatever the processor says.
    if (!probePackedSingle()) {
        out.hasPackedSingle = 0;
    }
    out.hasSse41 = out.hasPackedSingle && (out.extendedFlags & EXTENDED_SSE41) != 0;
    out.hasAvx2 = out.hasSse41 && avx2Usable(out.extendedFlags, out.structuredFlags);
#elif defined(__wasm_simd128__)
    out.hasSimd128 = 1;
#endif
    if (portableForced()) {
        out.featureFlags = 0;
        out.extendedFlags = 0;
        out.structuredFlags = 0;
        out.hasConditionalMove = 0;
        out.hasMmx = 0;
        out.hasPackedSingle = 0;
        out.hasSse41 = 0;
        out.hasAvx2 = 0;
        out.hasSimd128 = 0;
    }
}

