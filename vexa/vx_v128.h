// The 128-bit vector layer under Vexa's 128-bit processor path (vx_path_v128.cpp): four 32-bit
// or eight 16-bit lanes, written once for two instruction sets, SSE4.1 on x86 (inside the
// region vx_v128_begin.h opens) and WebAssembly SIMD (-msimd128). The types are the compilers'
// generic vectors, so arithmetic, comparisons, selections and shifts by one count are written
// as operators and compile to either set; the few operations without an operator form are
// here, each giving the same lanes on both. Included once, inside the path's namespace, after
// vx_v128_begin.h. Deliberately without an include guard.

using I32x4 = std::int32_t __attribute__((vector_size(16)));
using U32x4 = std::uint32_t __attribute__((vector_size(16)));
using F32x4 = float __attribute__((vector_size(16)));
using I16x8 = std::int16_t __attribute__((vector_size(16)));
using U16x8 = std::uint16_t __attribute__((vector_size(16)));
using U8x16 = std::uint8_t __attribute__((vector_size(16)));
constexpr I32x4 V128_IOTA = {0, 1, 2, 3};

// A vector of V from memory at p, any alignment.
template <class V>
__attribute__((always_inline)) inline V v128Load(const void* p) {
    V v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
// Stores v at p, any alignment.
template <class V>
__attribute__((always_inline)) inline void v128Store(void* p, V v) {
    std::memcpy(p, &v, sizeof v);
}

#if defined(__wasm_simd128__)

// Bit i set for each lane i whose top bit is set (lanes are mostly all ones or zero).
__attribute__((always_inline)) inline unsigned v128Bits(I32x4 v) {
    return wasm_i32x4_bitmask(v128_t(v));
}
// a > b ? a : b and a < b ? a : b lane by lane, NaN in either giving b (as the scalar forms
// do): WebAssembly's pseudo-maximum and -minimum, with their operands swapped.
__attribute__((always_inline)) inline F32x4 v128Max(F32x4 a, F32x4 b) {
    return F32x4(wasm_f32x4_pmax(v128_t(b), v128_t(a)));
}
__attribute__((always_inline)) inline F32x4 v128Min(F32x4 a, F32x4 b) {
    return F32x4(wasm_f32x4_pmin(v128_t(b), v128_t(a)));
}
__attribute__((always_inline)) inline I32x4 v128Max(I32x4 a, I32x4 b) {
    return I32x4(wasm_i32x4_max(v128_t(a), v128_t(b)));
}
__attribute__((always_inline)) inline I32x4 v128Min(I32x4 a, I32x4 b) {
    return I32x4(wasm_i32x4_min(v128_t(a), v128_t(b)));
}
__attribute__((always_inline)) inline U16x8 v128Min(U16x8 a, U16x8 b) {
    return U16x8(wasm_u16x8_min(v128_t(a), v128_t(b)));
}
// Eight 32-bit lanes (lo, then hi) to 16 bits, each held within 0..65535.
__attribute__((always_inline)) inline U16x8 v128Narrow(I32x4 lo, I32x4 hi) {
    return U16x8(wasm_u16x8_narrow_i32x4(v128_t(lo), v128_t(hi)));
}
// The low and the high four 16-bit lanes to 32 bits, unsigned.
__attribute__((always_inline)) inline I32x4 v128WidenLow(U16x8 v) {
    return I32x4(wasm_u32x4_extend_low_u16x8(v128_t(v)));
}
__attribute__((always_inline)) inline I32x4 v128WidenHigh(U16x8 v) {
    return I32x4(wasm_u32x4_extend_high_u16x8(v128_t(v)));
}
// a[2i] b[2i] + a[2i+1] b[2i+1] in 32-bit lane i, the 16-bit lanes signed.
__attribute__((always_inline)) inline I32x4 v128MulAddPairs(I16x8 a, I16x8 b) {
    return I32x4(wasm_i32x4_dot_i16x8(v128_t(a), v128_t(b)));
}
// Byte i: table's byte pick[i] where pick[i] < 16, 0 where pick[i] >= 128.
__attribute__((always_inline)) inline U8x16 v128Swizzle(U8x16 table, U8x16 pick) {
    return U8x16(wasm_i8x16_swizzle(v128_t(table), v128_t(pick)));
}
// The lanes of v rounded down to whole numbers.
__attribute__((always_inline)) inline F32x4 v128Floor(F32x4 v) {
    return F32x4(wasm_f32x4_floor(v128_t(v)));
}
// v >> count and v << count, the count one number for every lane. The compiler moves a count
// that does not change out of a loop as a vector, and then shifts lane by lane; the empty
// statement keeps the count a number where the shift is.
__attribute__((always_inline)) inline I32x4 v128ShiftRight(I32x4 v, int count) {
    __asm__ volatile("" : "+r"(count));
    return I32x4(wasm_i32x4_shr(v128_t(v), unsigned(count)));
}
__attribute__((always_inline)) inline I32x4 v128ShiftLeft(I32x4 v, int count) {
    __asm__ volatile("" : "+r"(count));
    return I32x4(wasm_i32x4_shl(v128_t(v), unsigned(count)));
}
// The lanes of v, each within 0 .. 2^23, truncated to integers. WebAssembly's conversion also
// saturates and turns NaN into 0, several instructions on x86; here the floor is moved into
// the low bits of the significand by adding 2^23 (exact), and read from there.
__attribute__((always_inline)) inline I32x4 v128TruncSmall(F32x4 v) {
    const F32x4 shifted = v128Floor(v) + 8388608.0f;
    return __builtin_bit_cast(I32x4, shifted) - 0x4B000000;
}
// v as a value the browser's compiler cannot take for a constant. That compiler builds a
// vector constant anew at every use inside a loop, three instructions each time; a value read
// from memory is made once and kept in a register, or reloaded in one instruction. The
// sampler's loop makes its constants through this before it starts.
template <class V>
__attribute__((always_inline)) inline V v128Kept(V v) {
    volatile V slot = v;
    return slot;
}

#else  // SSE4.1

// The native compilers keep loop constants in registers themselves.
template <class V>
__attribute__((always_inline)) inline V v128Kept(V v) {
    return v;
}

__attribute__((always_inline)) inline unsigned v128Bits(I32x4 v) {
    return unsigned(_mm_movemask_ps(_mm_castsi128_ps(__m128i(v))));
}
// maxps and minps return their second operand when either is NaN.
__attribute__((always_inline)) inline F32x4 v128Max(F32x4 a, F32x4 b) {
    return F32x4(_mm_max_ps(__m128(a), __m128(b)));
}
__attribute__((always_inline)) inline F32x4 v128Min(F32x4 a, F32x4 b) {
    return F32x4(_mm_min_ps(__m128(a), __m128(b)));
}
__attribute__((always_inline)) inline I32x4 v128Max(I32x4 a, I32x4 b) {
    return I32x4(_mm_max_epi32(__m128i(a), __m128i(b)));
}
__attribute__((always_inline)) inline I32x4 v128Min(I32x4 a, I32x4 b) {
    return I32x4(_mm_min_epi32(__m128i(a), __m128i(b)));
}
__attribute__((always_inline)) inline U16x8 v128Min(U16x8 a, U16x8 b) {
    return U16x8(_mm_min_epu16(__m128i(a), __m128i(b)));
}
__attribute__((always_inline)) inline U16x8 v128Narrow(I32x4 lo, I32x4 hi) {
    return U16x8(_mm_packus_epi32(__m128i(lo), __m128i(hi)));
}
__attribute__((always_inline)) inline I32x4 v128WidenLow(U16x8 v) {
    return I32x4(_mm_cvtepu16_epi32(__m128i(v)));
}
__attribute__((always_inline)) inline I32x4 v128WidenHigh(U16x8 v) {
    return I32x4(_mm_unpackhi_epi16(__m128i(v), _mm_setzero_si128()));
}
__attribute__((always_inline)) inline I32x4 v128MulAddPairs(I16x8 a, I16x8 b) {
    return I32x4(_mm_madd_epi16(__m128i(a), __m128i(b)));
}
__attribute__((always_inline)) inline U8x16 v128Swizzle(U8x16 table, U8x16 pick) {
    return U8x16(_mm_shuffle_epi8(__m128i(table), __m128i(pick)));
}
__attribute__((always_inline)) inline F32x4 v128Floor(F32x4 v) { return F32x4(_mm_floor_ps(__m128(v))); }
__attribute__((always_inline)) inline I32x4 v128ShiftRight(I32x4 v, int count) { return v >> count; }
__attribute__((always_inline)) inline I32x4 v128ShiftLeft(I32x4 v, int count) { return v << count; }
// One instruction here.
__attribute__((always_inline)) inline I32x4 v128TruncSmall(F32x4 v) {
    return __builtin_convertvector(v, I32x4);
}

#endif

// v in all four lanes, as it is (adding it to zeros would turn -0 into +0).
__attribute__((always_inline)) inline F32x4 v128Splat(float v) { return F32x4{v, v, v, v}; }
__attribute__((always_inline)) inline I32x4 v128Splat(std::int32_t v) { return I32x4{v, v, v, v}; }
// v (0..65535) in all eight 16-bit lanes.
__attribute__((always_inline)) inline U16x8 v128Splat16(int v) {
    const auto h = std::uint16_t(v);
    return U16x8{h, h, h, h, h, h, h, h};
}
// True when all four lanes hold lane 0's value.
__attribute__((always_inline)) inline bool v128Uniform(I32x4 v) {
    return v128Bits(v == v128Splat(v[0])) == 15u;
}

// Neither instruction set gathers: four loads, one a lane, of what lies at `base` + 2 * index
// (a 16-bit texel, or the 32 bits of two texels side by side) or `base` + index (a byte).
__attribute__((always_inline)) inline I32x4 v128Gather16(const std::uint8_t* base, I32x4 index) {
    const auto at = [&](int lane) __attribute__((always_inline)) {
        std::uint16_t t;
        std::memcpy(&t, base + 2 * std::ptrdiff_t(index[lane]), sizeof t);
        return std::int32_t(t);
    };
    return I32x4{at(0), at(1), at(2), at(3)};
}
__attribute__((always_inline)) inline I32x4 v128Gather32(const std::uint8_t* base, I32x4 index) {
    const auto at = [&](int lane) __attribute__((always_inline)) {
        std::int32_t t;
        std::memcpy(&t, base + 2 * std::ptrdiff_t(index[lane]), sizeof t);
        return t;
    };
    return I32x4{at(0), at(1), at(2), at(3)};
}
__attribute__((always_inline)) inline I32x4 v128Gather8(const std::uint8_t* base, I32x4 index) {
    return I32x4{base[index[0]], base[index[1]], base[index[2]], base[index[3]]};
}
