// Processor feature detection, run once at start-up; the routine tables are chosen from what
// it finds. The drawing code calls through the tables only and never tests features itself.
// Also names the vector paths this build holds (VORL_BUILD_AVX2, VORL_BUILD_128).
#pragma once

#include <cstdint>

// The vector paths compiled into this build: on x86 an AVX2 (8 lanes) and an SSE4.1 (4 lanes)
// path, each in sources of their own that only run when the processor has the extension;
// in a WebAssembly build with SIMD (-msimd128) the 128-bit path on WebAssembly SIMD. A 32-bit
// x86 build whose scalar float arithmetic runs on the x87 unit gets none: its wider exponent
// range rounds differently near overflow and underflow, and the scalar bytes are the
// reference.
#if defined(__x86_64__) || (defined(__i386__) && defined(__SSE_MATH__))
#define VORL_BUILD_AVX2 1
#define VORL_BUILD_128 1
#elif defined(__wasm_simd128__)
#define VORL_BUILD_128 1
#endif

struct CpuFeatures {
    char vendor[16];            // CPUID leaf 0 text (EBX, EDX, ECX) and four zero bytes
    std::uint32_t signature;    // CPUID leaf 1 EAX
    std::uint32_t featureFlags; // CPUID leaf 1 EDX
    std::uint32_t extendedFlags;    // CPUID leaf 1 ECX
    std::uint32_t structuredFlags;  // CPUID leaf 7 sub-leaf 0 EBX (0 below leaf 7)
    int hasConditionalMove;     // bit 15
    int hasMmx;                 // bit 23
    int hasPackedSingle;        // bit 25, cleared when the OS does not run packed instructions
    int hasSse41;               // leaf 1 ECX bit 19, with packed instructions running
    int hasAvx2;                // leaf 7 EBX bit 5, with AVX (ECX bit 28) and the OS saving
                                // the 256-bit registers (OSXSAVE, XCR0 bits 1 and 2)
    int hasSimd128;             // a WebAssembly build with SIMD (known when it is compiled)
};

// Fills out from CPUID (where the processor has it), the operating system's register state
// (XGETBV) and the packed-instruction probe. With VORL_PORTABLE set in the environment every
// feature reads as absent, so the portable routines are chosen.
void detectCpuFeatures(CpuFeatures& out);
// Runs trial under an illegal-instruction guard; false when it raised SIGILL. The previous
// SIGILL disposition is restored either way.
bool runsWithoutIllegalInstruction(void (*trial)());
// True when one packed single-precision instruction runs here (false off x86).
bool probePackedSingle();
