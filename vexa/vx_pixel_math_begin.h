// Starts a region of pixel-pipeline code (ended by vx_pixel_math_end.h): floating-point
// exceptions are never looked at, and saying so lets the compiler vectorise the pipeline's
// clamping loops. Results are unchanged: every value is clamped before it is converted. The
// pipeline (vx_pixel_body.h) and a path's own pieces of it are compiled alike, so that each
// inlines into the other. Clang assumes no trapping math already and has no such pragma.
// Deliberately without an include guard.
#if !defined(__clang__)
#pragma GCC push_options
#pragma GCC optimize("no-trapping-math")
#endif
