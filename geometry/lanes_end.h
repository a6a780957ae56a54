// Closes the region that geometry/lanes.h opened for its instruction set. Deliberately without
// an include guard.
#if defined(VORL_LANES_AVX2) || defined(VORL_LANES_SSE41)
#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
#endif
