// Ends the AVX2 region begun by vx_avx2_begin.h. Deliberately without an include guard.
#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
