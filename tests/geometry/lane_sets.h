// The lane sets the processor runs, whatever VEXA_PATH says: for tests that run every vector
// path the processor can, whichever the program would choose. Asked with the compiler's own
// run-time check, apart from the program's detection, so that a detection that missed a set
// does not hide that set's faults too.
#pragma once

struct LaneSets {
    bool runs128;   // SSE4.1 on x86, WebAssembly SIMD in the browser build
    bool runsAvx2;
};

inline LaneSets laneSetsHere() {
    LaneSets sets = {false, false};
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    sets.runs128 = __builtin_cpu_supports("sse4.1") != 0;
    sets.runsAvx2 = __builtin_cpu_supports("avx2") != 0;
#elif defined(__wasm_simd128__)
    sets.runs128 = true;
#endif
    return sets;
}
