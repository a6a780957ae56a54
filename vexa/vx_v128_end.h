// Ends the region begun by vx_v128_begin.h. Deliberately without an include guard.
#if defined(__wasm_simd128__)
// Nothing to end: the browser build is compiled for WebAssembly SIMD throughout.
#elif defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
