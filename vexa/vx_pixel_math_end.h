// Ends the region begun by vx_pixel_math_begin.h. Deliberately without an include guard.
#if !defined(__clang__)
#pragma GCC pop_options
#endif
