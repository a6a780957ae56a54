// Processor feature detection: CPUID leaves 0 and 1 where the processor has them, the
// illegal-instruction probe for packed single-precision instructions, the VORL_PORTABLE
// switch, and the choice of the TransformPath table. Runs once at start-up.
#include "geometry/cpu.h"

#include <csetjmp>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "geometry/transform.h"

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#define VORL_HAVE_CPUID 1
#endif

CpuFeatures cpuFeatures;

namespace {

sigjmp_buf probeJump;

void onIllegalInstruction(int) {
    siglongjmp(probeJump, 1);
}

#if defined(VORL_HAVE_CPUID)
constexpr std::uint32_t FEATURE_CMOV = 1u << 15;
constexpr std::uint32_t FEATURE_MMX = 1u << 23;
constexpr std::uint32_t FEATURE_SSE = 1u << 25;

void clearVectorRegister() {
    __asm__ __volatile__("xorps %%xmm0, %%xmm0" : : : "xmm0");
}
#endif

bool portableForced() {
    const char* value = std::getenv("VORL_PORTABLE");
    return value != nullptr && value[0] != '\0' && std::strcmp(value, "0") != 0;
}

}  // namespace

bool runsWithoutIllegalInstruction(void (*trial)()) {
    struct sigaction guard;
    struct sigaction previous;
    std::memset(&guard, 0, sizeof guard);
    guard.sa_handler = onIllegalInstruction;
    sigemptyset(&guard.sa_mask);
    if (sigaction(SIGILL, &guard, &previous) != 0) {
        return false;
    }
    // volatile: the value must survive the jump back out of the handler.
    volatile bool ran = false;
    if (sigsetjmp(probeJump, 1) == 0) {
        trial();
        ran = true;
    }
    sigaction(SIGILL, &previous, nullptr);
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
        }
    }
    out.hasConditionalMove = (out.featureFlags & FEATURE_CMOV) != 0;
    out.hasMmx = (out.featureFlags & FEATURE_MMX) != 0;
    out.hasPackedSingle = (out.featureFlags & FEATURE_SSE) != 0;
    // The operating system may not run packed instructions whatever the processor says.
    if (!probePackedSingle()) {
        out.hasPackedSingle = 0;
    }
#endif
    if (portableForced()) {
        out.featureFlags = 0;
        out.hasConditionalMove = 0;
        out.hasMmx = 0;
        out.hasPackedSingle = 0;
    }
}

void chooseTransformPath(const CpuFeatures& features) {
    transformPath.transformVertex = transformVertexScalar;
    transformPath.loadTransform =
        features.hasPackedSingle ? loadTransformPacked : loadTransformPlain;
}
