// The SSE2/SSE3 vocabulary of the vector kernels: typed loads and stores, the pair-of-doubles
// lane type, the saturating rounds and the small lane operations that several kernels repeat.
// Everything here is inline and compiles to the one or two instructions it names.
//
// Naming of kernels (the rule every module follows): the scalar reference of kernel `foo` is
// `foo_ref`, its SSE2/SSE3 version `foo_sse2`, and a name that picks between them (or runs the
// vector kernels of a larger operation) is plain `foo`. Every `foo_sse2` matches its `foo_ref` bit
// for bit on every input and at every alignment, and a test holds them against each other.
#pragma once

#include <emmintrin.h>
#include <pmmintrin.h>
#if defined(__AVX2__)
#include <immintrin.h>
#endif

#include <cstdint>
#include <cstring>

namespace zuf {

inline bool aligned16(const void* p) { return (reinterpret_cast<std::uintptr_t>(p) & 15u) == 0; }

template <class... P>
inline bool all_aligned16(const P*... p) {
    return (aligned16(p) && ...);
}

// ------------------------------------------------------------------ loads and stores
// Integer lanes (any element type: 8, 16 or 32 bits): `u` forms take any address, the others
// need 16-byte alignment. The 64- and 32-bit forms move the low part of a register and take any
// address.
inline __m128i loadu_i128(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }
inline __m128i load_i128(const void* p) { return _mm_load_si128(static_cast<const __m128i*>(p)); }
inline void storeu_i128(void* p, __m128i v) { _mm_storeu_si128(static_cast<__m128i*>(p), v); }
inline void store_i128(void* p, __m128i v) { _mm_store_si128(static_cast<__m128i*>(p), v); }
// Low 64 bits, the upper half of the register zeroed.
inline __m128i load_i64(const void* p) { return _mm_loadl_epi64(static_cast<const __m128i*>(p)); }
inline void store_i64(void* p, __m128i v) { _mm_storel_epi64(static_cast<__m128i*>(p), v); }
inline void store_i32(void* p, __m128i v) {
    const int32_t w = _mm_cvtsi128_si32(v);
    std::memcpy(p, &w, 4);
}

// Float lanes (four singles), the same alignment rules.
inline __m128 loadu_f128(const float* p) { return _mm_loadu_ps(p); }
inline __m128 load_f128(const float* p) { return _mm_load_ps(p); }
inline void storeu_f128(float* p, __m128 v) { _mm_storeu_ps(p, v); }
inline void store_f128(float* p, __m128 v) { _mm_store_ps(p, v); }
// Two singles (the low half of a register), any address.
inline __m128 load_f64(const float* p) { return _mm_castsi128_ps(load_i64(p)); }
inline void store_f64(float* p, __m128 v) { store_i64(p, _mm_castps_si128(v)); }

// Double lanes (two doubles).
inline __m128d loadu_d128(const double* p) { return _mm_loadu_pd(p); }
inline __m128d load_d128(const double* p) { return _mm_load_pd(p); }
inline void storeu_d128(double* p, __m128d v) { _mm_storeu_pd(p, v); }
inline void store_d128(double* p, __m128d v) { _mm_store_pd(p, v); }

// ------------------------------------------------------------------ integer lane operations
// The sign-bit constant, 0x80000000 in every 32-bit lane (flips signed to biased order).
inline __m128i sign_bits_epi32() { return _mm_set1_epi32(static_cast<int32_t>(0x80000000u)); }

// mask ? yes : no, bit by bit (masks are all-ones or all-zeros per lane).
inline __m128i select_i128(__m128i mask, __m128i yes, __m128i no) {
    return _mm_or_si128(_mm_and_si128(mask, yes), _mm_andnot_si128(mask, no));
}

// Lanes 0..3 and 4..7 of eight 16-bit values, sign-extended to 32 bits: each value is unpacked
// into the upper half of a 32-bit lane and shifted down arithmetically.
inline __m128i widen_lo_epi16(__m128i v) { return _mm_srai_epi32(_mm_unpacklo_epi16(v, v), 16); }
inline __m128i widen_hi_epi16(__m128i v) { return _mm_srai_epi32(_mm_unpackhi_epi16(v, v), 16); }

// Both 64-bit halves swapped (lanes 2, 3, 0, 1).
inline __m128i swap_halves_epi32(__m128i v) { return _mm_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2)); }

// Two int32 lanes as doubles: lanes 0, 1 and lanes 2, 3 (exact).
inline __m128d cvt_lo_epi32_pd(__m128i v) { return _mm_cvtepi32_pd(v); }
inline __m128d cvt_hi_epi32_pd(__m128i v) { return _mm_cvtepi32_pd(swap_halves_epi32(v)); }

// ------------------------------------------------------------------ float lanes moved as integers
// Rearranging float lanes with the integer shuffles moves the same bits. On Intel cores from Ice
// Lake on, punpck*, pshufd and shufps (at both widths) issue on two ports, while the float
// unpacks unpcklps/unpckhps, unpcklpd/unpckhpd, movlhps and movddup take only the one that also
// serves half the float adds; in the add-bound FFT passes that port decides the speed.
inline __m128 zip_lo_f32(__m128 a, __m128 b) {  // a0 b0 a1 b1
    return _mm_castsi128_ps(_mm_unpacklo_epi32(_mm_castps_si128(a), _mm_castps_si128(b)));
}
inline __m128 zip_hi_f32(__m128 a, __m128 b) {  // a2 b2 a3 b3
    return _mm_castsi128_ps(_mm_unpackhi_epi32(_mm_castps_si128(a), _mm_castps_si128(b)));
}
inline __m128 zip_lo_f64(__m128 a, __m128 b) {  // a0 a1 b0 b1
    return _mm_castsi128_ps(_mm_unpacklo_epi64(_mm_castps_si128(a), _mm_castps_si128(b)));
}
inline __m128 zip_hi_f64(__m128 a, __m128 b) {  // a2 a3 b2 b3
    return _mm_castsi128_ps(_mm_unpackhi_epi64(_mm_castps_si128(a), _mm_castps_si128(b)));
}
// Lanes of one register in any order (kImm as for _MM_SHUFFLE).
template <int kImm>
inline __m128 permute_f32(__m128 v) {
    return _mm_castsi128_ps(_mm_shuffle_epi32(_mm_castps_si128(v), kImm));
}
#if defined(__AVX2__)
inline __m256 zip_lo_f32(__m256 a, __m256 b) {  // within each 128-bit half
    return _mm256_castsi256_ps(_mm256_unpacklo_epi32(_mm256_castps_si256(a), _mm256_castps_si256(b)));
}
inline __m256 zip_hi_f32(__m256 a, __m256 b) {
    return _mm256_castsi256_ps(_mm256_unpackhi_epi32(_mm256_castps_si256(a), _mm256_castps_si256(b)));
}
#endif

// ------------------------------------------------------------------ saturating rounds
// A double to the nearest 32-bit integer, ties to even (the SSE2 conversion in the default
// rounding mode), saturated to -2^31 .. 2^31 - 1.
inline int32_t round_sat32(double v) {
    if (v >= 2147483647.0) return 0x7FFFFFFF;
    if (v <= -2147483648.0) return static_cast<int32_t>(0x80000000u);
    return _mm_cvtsd_si32(_mm_set_sd(v));
}

// The same for two doubles at once, into the two low 32-bit lanes, equal to round_sat32 lane by
// lane. Only the top needs a clamp: a value that rounds below -2^31 (or a NaN) converts to the
// "integer indefinite" 0x80000000, which is the saturated minimum. minpd returns its second
// operand when either is a NaN, so the NaN goes through to the conversion as in round_sat32.
inline __m128i round_sat32_pd(__m128d v) { return _mm_cvtpd_epi32(_mm_min_pd(_mm_set1_pd(2147483647.0), v)); }

// ------------------------------------------------------------------ pairs of doubles
// Two doubles handled alike: a transform written once over its element type T runs on double
// (the scalar reference) and on F64x2 (two independent inputs, one per lane) with the same
// operations in the same order, so each lane equals the scalar result bit for bit. T{} is zero
// for both.
struct F64x2 {
    __m128d v;
};
inline F64x2 operator+(F64x2 a, F64x2 b) { return {_mm_add_pd(a.v, b.v)}; }
inline F64x2 operator-(F64x2 a, F64x2 b) { return {_mm_sub_pd(a.v, b.v)}; }
// Constants come from tables of doubles: one movddup (SSE3) each.
inline F64x2 operator*(F64x2 a, const double& c) { return {_mm_mul_pd(a.v, _mm_loaddup_pd(&c))}; }

// One float, four or eight: a kernel written once over T = float (the scalar reference), T =
// __m128 (four consecutive elements, unaligned access) or, in the AVX2 build, T = __m256 (eight)
// loads, stores and broadcasts through these, so that every instantiation performs the same IEEE
// operations in the same order on each element. Lanes never meet: a kernel that sums across
// lanes (a reduction) pins its own association order and stays at four lanes.
template <class T>
T lane_load(const float* p);
template <>
inline float lane_load<float>(const float* p) {
    return *p;
}
template <>
inline __m128 lane_load<__m128>(const float* p) {
    return loadu_f128(p);
}
inline void lane_store(float* p, float v) { *p = v; }
inline void lane_store(float* p, __m128 v) { storeu_f128(p, v); }
template <class T>
T lane_splat(float v);
template <>
inline float lane_splat<float>(float v) {
    return v;
}
template <>
inline __m128 lane_splat<__m128>(float v) {
    return _mm_set1_ps(v);
}
#if defined(__AVX2__)
template <>
inline __m256 lane_load<__m256>(const float* p) {
    return _mm256_loadu_ps(p);
}
inline void lane_store(float* p, __m256 v) { _mm256_storeu_ps(p, v); }
template <>
inline __m256 lane_splat<__m256>(float v) {
    return _mm256_set1_ps(v);
}
#endif
template <class T>
constexpr int kLanes = sizeof(T) / sizeof(float);

// The widest float lane type of the build: __m256 with AVX2, else __m128. Kernels whose lanes are
// independent (element-wise arithmetic, bands side by side) run on it; the result per element is
// the same whichever width the build picked.
#if defined(__AVX2__)
using LaneF = __m256;
#else
using LaneF = __m128;
#endif
constexpr int kLanesF = sizeof(LaneF) / sizeof(float);  // kLanes<LaneF>, spelled without a template argument

}  // namespace zuf
