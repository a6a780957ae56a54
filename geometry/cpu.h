// The vector paths this build holds (VORL_BUILD_AVX2, VORL_BUILD_128). Which of them runs is
// chosen at start-up from what the processor offers (vxQueryProcessor); the drawing code calls
// through the routine tables only and never tests features itself.
#pragma once

// On x86-64 an AVX2 (8 lanes) and an SSE4.1 (4 lanes) path, each in sources of their own that
// only run when the processor has the extension; in a WebAssembly build with SIMD (-msimd128)
// the 128-bit path on WebAssembly SIMD.
#if defined(__x86_64__)
#define VORL_BUILD_AVX2 1
#define VORL_BUILD_128 1
#elif defined(__wasm_simd128__)
#define VORL_BUILD_128 1
#endif
