// The program's vector layer: lanes of floats (LaneFloat) and of 32-bit integers and masks
// (LaneInt) with the few operations the vertex work needs, written once for three instruction
// sets. A source defines one of VORL_LANES_AVX2 (8 lanes), VORL_LANES_SSE41 (4 lanes) or
// VORL_LANES_WASM (4 lanes, WebAssembly SIMD) and then includes this header, which opens a
// region compiled for that set (closed by geometry/lanes_end.h) and declares the layer in the
// namespace VORL_LANES_NAMESPACE names. Everything else the source includes comes first: an
// inline function defined inside the region is compiled for the extension and, shared with
// other sources, could be linked in where the processor lacks it. Deliberately without an
// include guard; one instruction set per source.
//
// Every operation is the IEEE operation of the scalar code on each lane: no fused
// multiply-add (the targets named below have none, so nothing can be contracted), true
// division, compares that are false with NaN. The operators group as C++ groups them, so
// an expression written like the scalar one performs the same operations in the same order.
#if defined(VORL_LANES_NAMESPACE)
#error "geometry/lanes.h: one instruction set per source"
#endif

#include <cstdint>
#include <cstring>

#if defined(VORL_LANES_AVX2) || defined(VORL_LANES_SSE41)
#if !defined(__x86_64__) && !defined(__i386__)
#error "geometry/lanes.h: the x86 instruction sets need an x86 target"
#endif
// Clang ignores GCC's target pragma: it marks every function of the region instead, after the
// intrinsics header, whose functions keep their own targets.
#if defined(__clang__)
#include <immintrin.h>
#if defined(VORL_LANES_AVX2)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma clang attribute push(__attribute__((target("sse4.1"))), apply_to = function)
#endif
#else
#pragma GCC push_options
#if defined(VORL_LANES_AVX2)
#pragma GCC target("avx2")
#else
#pragma GCC target("sse4.1")
#endif
#include <immintrin.h>
#endif
#if defined(VORL_LANES_AVX2)
#define VORL_LANES_NAMESPACE lanesAvx2
#else
#define VORL_LANES_NAMESPACE lanesSse41
#endif
#elif defined(VORL_LANES_WASM)
#if !defined(__wasm_simd128__)
#error "geometry/lanes.h: WebAssembly lanes need -msimd128"
#endif
#include <wasm_simd128.h>
#define VORL_LANES_NAMESPACE lanesWasm
#else
#error "geometry/lanes.h: define VORL_LANES_AVX2, VORL_LANES_SSE41 or VORL_LANES_WASM first"
#endif

// The vertex loops are one long routine per variant: their helpers are inlined whatever the
// compiler's size limits say, so that no lane values pass through memory between them.
#define VORL_LANES_INLINE inline __attribute__((always_inline))

namespace VORL_LANES_NAMESPACE {

#if defined(VORL_LANES_AVX2)

constexpr int LANES = 8;
struct LaneFloat {
    __m256 v;
};
struct LaneInt {
    __m256i v;
};

// p[0 .. LANES - 1], any alignment.
VORL_LANES_INLINE LaneFloat load(const float* p) { return {_mm256_loadu_ps(p)}; }
VORL_LANES_INLINE LaneInt loadInts(const std::int32_t* p) {
    return {_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p))};
}
VORL_LANES_INLINE LaneFloat splat(float f) { return {_mm256_set1_ps(f)}; }
VORL_LANES_INLINE LaneInt splatInt(std::int32_t i) { return {_mm256_set1_epi32(i)}; }
// 0, 1, 2, ... across the lanes.
VORL_LANES_INLINE LaneInt laneIndex() { return {_mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7)}; }

VORL_LANES_INLINE LaneFloat operator+(LaneFloat a, LaneFloat b) {
    return {_mm256_add_ps(a.v, b.v)};
}
VORL_LANES_INLINE LaneFloat operator-(LaneFloat a, LaneFloat b) {
    return {_mm256_sub_ps(a.v, b.v)};
}
VORL_LANES_INLINE LaneFloat operator*(LaneFloat a, LaneFloat b) {
    return {_mm256_mul_ps(a.v, b.v)};
}
VORL_LANES_INLINE LaneFloat operator/(LaneFloat a, LaneFloat b) {
    return {_mm256_div_ps(a.v, b.v)};
}

// Masks: all bits set where the compare holds; false where either side is NaN.
VORL_LANES_INLINE LaneInt lessThan(LaneFloat a, LaneFloat b) {
    return {_mm256_castps_si256(_mm256_cmp_ps(a.v, b.v, _CMP_LT_OQ))};
}
VORL_LANES_INLINE LaneInt greaterThan(LaneFloat a, LaneFloat b) {
    return {_mm256_castps_si256(_mm256_cmp_ps(a.v, b.v, _CMP_GT_OQ))};
}
// mask ? a : b, lane by lane; mask lanes are all set or all clear.
VORL_LANES_INLINE LaneFloat select(LaneInt mask, LaneFloat a, LaneFloat b) {
    return {_mm256_blendv_ps(b.v, a.v, _mm256_castsi256_ps(mask.v))};
}
VORL_LANES_INLINE LaneInt select(LaneInt mask, LaneInt a, LaneInt b) {
    return {_mm256_blendv_epi8(b.v, a.v, mask.v)};
}

// The bit patterns of the floats and back.
VORL_LANES_INLINE LaneInt bitsOf(LaneFloat f) { return {_mm256_castps_si256(f.v)}; }
VORL_LANES_INLINE LaneFloat floatsOf(LaneInt i) { return {_mm256_castsi256_ps(i.v)}; }

VORL_LANES_INLINE LaneInt operator+(LaneInt a, LaneInt b) { return {_mm256_add_epi32(a.v, b.v)}; }
VORL_LANES_INLINE LaneInt operator-(LaneInt a, LaneInt b) { return {_mm256_sub_epi32(a.v, b.v)}; }
VORL_LANES_INLINE LaneInt operator&(LaneInt a, LaneInt b) { return {_mm256_and_si256(a.v, b.v)}; }
VORL_LANES_INLINE LaneInt operator|(LaneInt a, LaneInt b) { return {_mm256_or_si256(a.v, b.v)}; }
VORL_LANES_INLINE LaneInt operator^(LaneInt a, LaneInt b) { return {_mm256_xor_si256(a.v, b.v)}; }
// ~a & b.
VORL_LANES_INLINE LaneInt andNot(LaneInt a, LaneInt b) { return {_mm256_andnot_si256(a.v, b.v)}; }
template <int N>
VORL_LANES_INLINE LaneInt shiftLeft(LaneInt a) {
    return {_mm256_slli_epi32(a.v, N)};
}
template <int N>
VORL_LANES_INLINE LaneInt shiftRightLogical(LaneInt a) {
    return {_mm256_srli_epi32(a.v, N)};
}
template <int N>
VORL_LANES_INLINE LaneInt shiftRightArithmetic(LaneInt a) {
    return {_mm256_srai_epi32(a.v, N)};
}
// v >> count lane by lane, v in 0 .. 2^24 - 1; a count of 32 or more, read as unsigned,
// gives 0 (as the scalar code's guarded shifts do).
VORL_LANES_INLINE LaneInt shiftRightSmall(LaneInt v, LaneInt count) {
    return {_mm256_srlv_epi32(v.v, count.v)};
}
// Signed and unsigned a > b.
VORL_LANES_INLINE LaneInt greaterThanSigned(LaneInt a, LaneInt b) {
    return {_mm256_cmpgt_epi32(a.v, b.v)};
}
VORL_LANES_INLINE LaneInt greaterThanUnsigned(LaneInt a, LaneInt b) {
    const __m256i bias = _mm256_set1_epi32(static_cast<std::int32_t>(0x80000000u));
    return {_mm256_cmpgt_epi32(_mm256_xor_si256(a.v, bias), _mm256_xor_si256(b.v, bias))};
}

// The lanes' values in memory, lane k at out[k].
VORL_LANES_INLINE void storeInts(std::int32_t* out, LaneInt a) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), a.v);
}

// Lane k's a, b, c, d as four consecutive floats at first + k * stride bytes, for the lanes
// k < count (1 .. LANES): a field group of records laid out one after another.
VORL_LANES_INLINE void storeRecords4(void* first, int stride, int count, LaneFloat a, LaneFloat b,
                                     LaneFloat c, LaneFloat d) {
    const __m256 ab0 = _mm256_unpacklo_ps(a.v, b.v);  // a0 b0 a1 b1 | a4 b4 a5 b5
    const __m256 ab1 = _mm256_unpackhi_ps(a.v, b.v);  // a2 b2 a3 b3 | a6 b6 a7 b7
    const __m256 cd0 = _mm256_unpacklo_ps(c.v, d.v);
    const __m256 cd1 = _mm256_unpackhi_ps(c.v, d.v);
    const __m256 r0 = _mm256_shuffle_ps(ab0, cd0, _MM_SHUFFLE(1, 0, 1, 0));  // lanes 0, 4
    const __m256 r1 = _mm256_shuffle_ps(ab0, cd0, _MM_SHUFFLE(3, 2, 3, 2));  // 1, 5
    const __m256 r2 = _mm256_shuffle_ps(ab1, cd1, _MM_SHUFFLE(1, 0, 1, 0));  // 2, 6
    const __m256 r3 = _mm256_shuffle_ps(ab1, cd1, _MM_SHUFFLE(3, 2, 3, 2));  // 3, 7
    const __m128 record[LANES] = {
        _mm256_castps256_ps128(r0),   _mm256_castps256_ps128(r1),   _mm256_castps256_ps128(r2),
        _mm256_castps256_ps128(r3),   _mm256_extractf128_ps(r0, 1), _mm256_extractf128_ps(r1, 1),
        _mm256_extractf128_ps(r2, 1), _mm256_extractf128_ps(r3, 1),
    };
    char* out = static_cast<char*>(first);
    if (count == LANES) {  // whole groups: unrolled, without a test per record
        for (int k = 0; k < LANES; ++k) {
            _mm_storeu_ps(reinterpret_cast<float*>(out + k * stride), record[k]);
        }
        return;
    }
    for (int k = 0; k < count; ++k) {
        _mm_storeu_ps(reinterpret_cast<float*>(out + k * stride), record[k]);
    }
}

// Lane k's a and b as two consecutive 32-bit words at first + k * stride bytes, k < count.
VORL_LANES_INLINE void storeRecords2(void* first, int stride, int count, LaneInt a, LaneInt b) {
    const __m256i ab0 = _mm256_unpacklo_epi32(a.v, b.v);  // a0 b0 a1 b1 | a4 b4 a5 b5
    const __m256i ab1 = _mm256_unpackhi_epi32(a.v, b.v);  // a2 b2 a3 b3 | a6 b6 a7 b7
    const __m128i q0 = _mm256_castsi256_si128(ab0);
    const __m128i q1 = _mm256_castsi256_si128(ab1);
    const __m128i q2 = _mm256_extracti128_si256(ab0, 1);
    const __m128i q3 = _mm256_extracti128_si256(ab1, 1);
    const __m128i record[LANES] = {
        q0, _mm_srli_si128(q0, 8), q1, _mm_srli_si128(q1, 8),
        q2, _mm_srli_si128(q2, 8), q3, _mm_srli_si128(q3, 8),
    };
    char* out = static_cast<char*>(first);
    if (count == LANES) {
        for (int k = 0; k < LANES; ++k) {
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out + k * stride), record[k]);
        }
        return;
    }
    for (int k = 0; k < count; ++k) {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + k * stride), record[k]);
    }
}

#elif defined(VORL_LANES_SSE41)

constexpr int LANES = 4;
struct LaneFloat {
    __m128 v;
};
struct LaneInt {
    __m128i v;
};

VORL_LANES_INLINE LaneFloat load(const float* p) { return {_mm_loadu_ps(p)}; }
VORL_LANES_INLINE LaneInt loadInts(const std::int32_t* p) {
    return {_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))};
}
VORL_LANES_INLINE LaneFloat splat(float f) { return {_mm_set1_ps(f)}; }
VORL_LANES_INLINE LaneInt splatInt(std::int32_t i) { return {_mm_set1_epi32(i)}; }
VORL_LANES_INLINE LaneInt laneIndex() { return {_mm_setr_epi32(0, 1, 2, 3)}; }

VORL_LANES_INLINE LaneFloat operator+(LaneFloat a, LaneFloat b) { return {_mm_add_ps(a.v, b.v)}; }
VORL_LANES_INLINE LaneFloat operator-(LaneFloat a, LaneFloat b) { return {_mm_sub_ps(a.v, b.v)}; }
VORL_LANES_INLINE LaneFloat operator*(LaneFloat a, LaneFloat b) { return {_mm_mul_ps(a.v, b.v)}; }
VORL_LANES_INLINE LaneFloat operator/(LaneFloat a, LaneFloat b) { return {_mm_div_ps(a.v, b.v)}; }

VORL_LANES_INLINE LaneInt lessThan(LaneFloat a, LaneFloat b) {
    return {_mm_castps_si128(_mm_cmplt_ps(a.v, b.v))};
}
VORL_LANES_INLINE LaneInt greaterThan(LaneFloat a, LaneFloat b) {
    return {_mm_castps_si128(_mm_cmpgt_ps(a.v, b.v))};
}
VORL_LANES_INLINE LaneFloat select(LaneInt mask, LaneFloat a, LaneFloat b) {
    return {_mm_blendv_ps(b.v, a.v, _mm_castsi128_ps(mask.v))};
}
VORL_LANES_INLINE LaneInt select(LaneInt mask, LaneInt a, LaneInt b) {
    return {_mm_blendv_epi8(b.v, a.v, mask.v)};
}

VORL_LANES_INLINE LaneInt bitsOf(LaneFloat f) { return {_mm_castps_si128(f.v)}; }
VORL_LANES_INLINE LaneFloat floatsOf(LaneInt i) { return {_mm_castsi128_ps(i.v)}; }

VORL_LANES_INLINE LaneInt operator+(LaneInt a, LaneInt b) { return {_mm_add_epi32(a.v, b.v)}; }
VORL_LANES_INLINE LaneInt operator-(LaneInt a, LaneInt b) { return {_mm_sub_epi32(a.v, b.v)}; }
VORL_LANES_INLINE LaneInt operator&(LaneInt a, LaneInt b) { return {_mm_and_si128(a.v, b.v)}; }
VORL_LANES_INLINE LaneInt operator|(LaneInt a, LaneInt b) { return {_mm_or_si128(a.v, b.v)}; }
VORL_LANES_INLINE LaneInt operator^(LaneInt a, LaneInt b) { return {_mm_xor_si128(a.v, b.v)}; }
VORL_LANES_INLINE LaneInt andNot(LaneInt a, LaneInt b) { return {_mm_andnot_si128(a.v, b.v)}; }
template <int N>
VORL_LANES_INLINE LaneInt shiftLeft(LaneInt a) {
    return {_mm_slli_epi32(a.v, N)};
}
template <int N>
VORL_LANES_INLINE LaneInt shiftRightLogical(LaneInt a) {
    return {_mm_srli_epi32(a.v, N)};
}
template <int N>
VORL_LANES_INLINE LaneInt shiftRightArithmetic(LaneInt a) {
    return {_mm_srai_epi32(a.v, N)};
}
VORL_LANES_INLINE LaneInt greaterThanSigned(LaneInt a, LaneInt b) {
    return {_mm_cmpgt_epi32(a.v, b.v)};
}
VORL_LANES_INLINE LaneInt greaterThanUnsigned(LaneInt a, LaneInt b) {
    const __m128i bias = _mm_set1_epi32(static_cast<std::int32_t>(0x80000000u));
    return {_mm_cmpgt_epi32(_mm_xor_si128(a.v, bias), _mm_xor_si128(b.v, bias))};
}
// SSE4.1 has no shift by a count per lane. v below 2^24 converts to float exactly, and
// scaling by 2^-count (exponent 127 - count, for counts 0 .. 31) is exact too, so truncating
// the product back to an integer is exactly v >> count; larger counts are selected to 0.
VORL_LANES_INLINE LaneInt shiftRightSmall(LaneInt v, LaneInt count) {
    const __m128i scale = _mm_slli_epi32(_mm_sub_epi32(_mm_set1_epi32(127), count.v), 23);
    const __m128i shifted =
        _mm_cvttps_epi32(_mm_mul_ps(_mm_cvtepi32_ps(v.v), _mm_castsi128_ps(scale)));
    return andNot(greaterThanUnsigned(count, splatInt(31)), LaneInt{shifted});
}

VORL_LANES_INLINE void storeInts(std::int32_t* out, LaneInt a) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), a.v);
}

VORL_LANES_INLINE void storeRecords4(void* first, int stride, int count, LaneFloat a, LaneFloat b,
                                     LaneFloat c, LaneFloat d) {
    __m128 r0 = a.v, r1 = b.v, r2 = c.v, r3 = d.v;
    _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
    const __m128 record[LANES] = {r0, r1, r2, r3};
    char* out = static_cast<char*>(first);
    if (count == LANES) {  // whole groups: unrolled, without a test per record
        for (int k = 0; k < LANES; ++k) {
            _mm_storeu_ps(reinterpret_cast<float*>(out + k * stride), record[k]);
        }
        return;
    }
    for (int k = 0; k < count; ++k) {
        _mm_storeu_ps(reinterpret_cast<float*>(out + k * stride), record[k]);
    }
}

VORL_LANES_INLINE void storeRecords2(void* first, int stride, int count, LaneInt a, LaneInt b) {
    const __m128i ab0 = _mm_unpacklo_epi32(a.v, b.v);  // a0 b0 a1 b1
    const __m128i ab1 = _mm_unpackhi_epi32(a.v, b.v);  // a2 b2 a3 b3
    const __m128i record[LANES] = {ab0, _mm_srli_si128(ab0, 8), ab1, _mm_srli_si128(ab1, 8)};
    char* out = static_cast<char*>(first);
    if (count == LANES) {
        for (int k = 0; k < LANES; ++k) {
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out + k * stride), record[k]);
        }
        return;
    }
    for (int k = 0; k < count; ++k) {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + k * stride), record[k]);
    }
}

#else  // VORL_LANES_WASM

constexpr int LANES = 4;
struct LaneFloat {
    v128_t v;
};
struct LaneInt {
    v128_t v;
};

VORL_LANES_INLINE LaneFloat load(const float* p) { return {wasm_v128_load(p)}; }
VORL_LANES_INLINE LaneInt loadInts(const std::int32_t* p) { return {wasm_v128_load(p)}; }
VORL_LANES_INLINE LaneFloat splat(float f) { return {wasm_f32x4_splat(f)}; }
VORL_LANES_INLINE LaneInt splatInt(std::int32_t i) { return {wasm_i32x4_splat(i)}; }
VORL_LANES_INLINE LaneInt laneIndex() { return {wasm_i32x4_make(0, 1, 2, 3)}; }

VORL_LANES_INLINE LaneFloat operator+(LaneFloat a, LaneFloat b) {
    return {wasm_f32x4_add(a.v, b.v)};
}
VORL_LANES_INLINE LaneFloat operator-(LaneFloat a, LaneFloat b) {
    return {wasm_f32x4_sub(a.v, b.v)};
}
VORL_LANES_INLINE LaneFloat operator*(LaneFloat a, LaneFloat b) {
    return {wasm_f32x4_mul(a.v, b.v)};
}
VORL_LANES_INLINE LaneFloat operator/(LaneFloat a, LaneFloat b) {
    return {wasm_f32x4_div(a.v, b.v)};
}

VORL_LANES_INLINE LaneInt lessThan(LaneFloat a, LaneFloat b) { return {wasm_f32x4_lt(a.v, b.v)}; }
VORL_LANES_INLINE LaneInt greaterThan(LaneFloat a, LaneFloat b) {
    return {wasm_f32x4_gt(a.v, b.v)};
}
VORL_LANES_INLINE LaneFloat select(LaneInt mask, LaneFloat a, LaneFloat b) {
    return {wasm_v128_bitselect(a.v, b.v, mask.v)};
}
VORL_LANES_INLINE LaneInt select(LaneInt mask, LaneInt a, LaneInt b) {
    return {wasm_v128_bitselect(a.v, b.v, mask.v)};
}

VORL_LANES_INLINE LaneInt bitsOf(LaneFloat f) { return {f.v}; }
VORL_LANES_INLINE LaneFloat floatsOf(LaneInt i) { return {i.v}; }

VORL_LANES_INLINE LaneInt operator+(LaneInt a, LaneInt b) { return {wasm_i32x4_add(a.v, b.v)}; }
VORL_LANES_INLINE LaneInt operator-(LaneInt a, LaneInt b) { return {wasm_i32x4_sub(a.v, b.v)}; }
VORL_LANES_INLINE LaneInt operator&(LaneInt a, LaneInt b) { return {wasm_v128_and(a.v, b.v)}; }
VORL_LANES_INLINE LaneInt operator|(LaneInt a, LaneInt b) { return {wasm_v128_or(a.v, b.v)}; }
VORL_LANES_INLINE LaneInt operator^(LaneInt a, LaneInt b) { return {wasm_v128_xor(a.v, b.v)}; }
VORL_LANES_INLINE LaneInt andNot(LaneInt a, LaneInt b) { return {wasm_v128_andnot(b.v, a.v)}; }
template <int N>
VORL_LANES_INLINE LaneInt shiftLeft(LaneInt a) {
    return {wasm_i32x4_shl(a.v, N)};
}
template <int N>
VORL_LANES_INLINE LaneInt shiftRightLogical(LaneInt a) {
    return {wasm_u32x4_shr(a.v, N)};
}
template <int N>
VORL_LANES_INLINE LaneInt shiftRightArithmetic(LaneInt a) {
    return {wasm_i32x4_shr(a.v, N)};
}
VORL_LANES_INLINE LaneInt greaterThanSigned(LaneInt a, LaneInt b) {
    return {wasm_i32x4_gt(a.v, b.v)};
}
VORL_LANES_INLINE LaneInt greaterThanUnsigned(LaneInt a, LaneInt b) {
    return {wasm_u32x4_gt(a.v, b.v)};
}
// As the SSE4.1 lanes: WebAssembly shifts every lane by one count; the exact float scaling
// does it per lane for v below 2^24.
VORL_LANES_INLINE LaneInt shiftRightSmall(LaneInt v, LaneInt count) {
    const v128_t scale = wasm_i32x4_shl(wasm_i32x4_sub(wasm_i32x4_splat(127), count.v), 23);
    const v128_t shifted =
        wasm_i32x4_trunc_sat_f32x4(wasm_f32x4_mul(wasm_f32x4_convert_i32x4(v.v), scale));
    return andNot(greaterThanUnsigned(count, splatInt(31)), LaneInt{shifted});
}

VORL_LANES_INLINE void storeInts(std::int32_t* out, LaneInt a) { wasm_v128_store(out, a.v); }

VORL_LANES_INLINE void storeRecords4(void* first, int stride, int count, LaneFloat a, LaneFloat b,
                                     LaneFloat c, LaneFloat d) {
    const v128_t ab0 = wasm_i32x4_shuffle(a.v, b.v, 0, 4, 1, 5);  // a0 b0 a1 b1
    const v128_t ab1 = wasm_i32x4_shuffle(a.v, b.v, 2, 6, 3, 7);  // a2 b2 a3 b3
    const v128_t cd0 = wasm_i32x4_shuffle(c.v, d.v, 0, 4, 1, 5);
    const v128_t cd1 = wasm_i32x4_shuffle(c.v, d.v, 2, 6, 3, 7);
    const v128_t record[LANES] = {
        wasm_i32x4_shuffle(ab0, cd0, 0, 1, 4, 5),
        wasm_i32x4_shuffle(ab0, cd0, 2, 3, 6, 7),
        wasm_i32x4_shuffle(ab1, cd1, 0, 1, 4, 5),
        wasm_i32x4_shuffle(ab1, cd1, 2, 3, 6, 7),
    };
    char* out = static_cast<char*>(first);
    if (count == LANES) {
        for (int k = 0; k < LANES; ++k) wasm_v128_store(out + k * stride, record[k]);
        return;
    }
    for (int k = 0; k < count; ++k) wasm_v128_store(out + k * stride, record[k]);
}

VORL_LANES_INLINE void storeRecords2(void* first, int stride, int count, LaneInt a, LaneInt b) {
    const v128_t ab0 = wasm_i32x4_shuffle(a.v, b.v, 0, 4, 1, 5);
    const v128_t ab1 = wasm_i32x4_shuffle(a.v, b.v, 2, 6, 3, 7);
    const std::int64_t record[LANES] = {
        wasm_i64x2_extract_lane(ab0, 0),
        wasm_i64x2_extract_lane(ab0, 1),
        wasm_i64x2_extract_lane(ab1, 0),
        wasm_i64x2_extract_lane(ab1, 1),
    };
    char* out = static_cast<char*>(first);
    if (count == LANES) {
        for (int k = 0; k < LANES; ++k) std::memcpy(out + k * stride, &record[k], 8);
        return;
    }
    for (int k = 0; k < count; ++k) std::memcpy(out + k * stride, &record[k], 8);
}

#endif

// What every instruction set shares, written on the operations above.

// Lanes k < count set, the rest clear (count 0 .. LANES).
VORL_LANES_INLINE LaneInt firstLanes(int count) {
    return greaterThanSigned(splatInt(count), laneIndex());
}

// The OR of every lane.
VORL_LANES_INLINE std::uint32_t orAcross(LaneInt a) {
    std::int32_t lane[LANES];
    storeInts(lane, a);
    std::uint32_t all = 0;
    for (int k = 0; k < LANES; ++k) all |= static_cast<std::uint32_t>(lane[k]);
    return all;
}

// invSqrtFast of geometry/vector.h on every lane: the same bit trick and Newton step.
VORL_LANES_INLINE LaneFloat invSqrtFast(LaneFloat x) {
    const LaneFloat y = floatsOf(splatInt(0x5F3759DF) - shiftRightLogical<1>(bitsOf(x)));
    return splat(1.5f) * y - (splat(0.5f) * x * y) * (y * y);
}

}  // namespace VORL_LANES_NAMESPACE
