// Starts a region of code compiled for the 128-bit path (ended by vx_v128_end.h): on x86 for
// SSE4.1 and the population count instruction (which every SSE4.1 processor but the earliest
// has; without it each count of covered pixels is a library call), for a build of a source
// beside its portable one; in the browser build the whole program is compiled for WebAssembly
// SIMD (-msimd128) already and only the intrinsics are needed. Clang ignores GCC's target
// pragma: it marks every function of the region (lambdas and template instances too) instead.
// The intrinsics header comes first there, so that its own functions keep the per-intrinsic
// targets it gives them. Neither set has a fused multiply-add, so float results match the
// portable build's. Deliberately without an include guard.
#if defined(__wasm_simd128__)
#include <wasm_simd128.h>
#elif defined(__clang__)
#include <smmintrin.h>
#pragma clang attribute push(__attribute__((target("sse4.1,popcnt"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("sse4.1,popcnt")
#include <smmintrin.h>
#endif
