// Starts a region of code compiled for AVX2 (x86 only; ended by vx_avx2_end.h), for a second
// build of a source beside its portable one; with the bit instructions every AVX2 processor
// has (population count, BMI1), which the start-up check asks for too. Clang ignores GCC's
// target pragma: it marks every function of the region (lambdas and template instances too)
// instead. The intrinsics header comes first there, so that its own functions keep the
// per-intrinsic targets it gives them. No contraction into FMA is possible: the target has no
// FMA, so float results match the portable build's. Deliberately without an include guard.
#if defined(__clang__)
#include <immintrin.h>
#pragma clang attribute push(__attribute__((target("avx2,popcnt,bmi"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2,popcnt,bmi")
#include <immintrin.h>
#endif
