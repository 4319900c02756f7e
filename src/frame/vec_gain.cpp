// Builders of floating-point gains: mantissa/exponent pairs to floats (block-floating-point
// data as the MP3 and AAC decoders produce it), and quarter-power-of-two scale-factor gains.
#include <algorithm>
#include <bit>
#include <cstdint>

#include "common/checks.h"
#include "common/fixed_point.h"
#include "common/simd.h"
#include "frame/csf_tables.h"
#include "frame/vec_kernels.h"

namespace zuf {
namespace {

// MakeFloat: m * 2^-(15 + e), a Q15 mantissa with a power-of-two exponent. For e in -142..111
// the factor is the float whose exponent field is 112 - e, and one product gives the result.
// The kernels use a form that gives the same, correctly rounded value for every 16-bit e: the
// power p = -15 - e is split into two halves p1 + p2, each a normal float factor, and
// m * 2^p1 is exact (16 significant bits, normal range), so the second product is the only
// rounding. Outside -142..111 this yields what m * 2^p rounds to: subnormals, +-0 or +-inf
// (never NaN, even for m = 0). Exponents beyond -188..152 give the same results as those
// limits (0 below 2^-150 in magnitude, inf above the float range), so e is clamped to them.
constexpr int kExpLo = -188, kExpHi = 152;

inline float pow2_field(int field) { return std::bit_cast<float>(static_cast<uint32_t>(field) << 23); }

inline Zuf32f make_float(Zuf16s m, Zuf16s e) {
    const int p = -15 - std::clamp<int>(e, kExpLo, kExpHi);  // -167..173
    const int p1 = p >> 1, p2 = p - p1;                      // each -84..87
    return (static_cast<float>(m) * pow2_field(p1 + 127)) * pow2_field(p2 + 127);
}

}  // namespace

void ownsMakeFloat_16s32f_ref(const Zuf16s* pMant, const Zuf16s* pExp, int len, Zuf32f* pDst) {
    for (int i = 0; i < len; ++i) pDst[i] = make_float(pMant[i], pExp[i]);
}

// Eight values per step; the exponent arithmetic stays in 16-bit lanes (all values fit), and a
// field f becomes the float bits f << 23 by unpacking it into the upper half of a 32-bit lane
// (f << 16) and shifting by 7 more.
void ownsMakeFloat_16s32f_sse2(const Zuf16s* pMant, const Zuf16s* pExp, int len, Zuf32f* pDst) {
    const __m128i lo = _mm_set1_epi16(kExpLo), hi = _mm_set1_epi16(kExpHi);
    const __m128i m15 = _mm_set1_epi16(-15), bias = _mm_set1_epi16(127), zero = _mm_setzero_si128();
    auto factor = [zero](__m128i f16, bool upper) {
        const __m128i w = upper ? _mm_unpackhi_epi16(zero, f16) : _mm_unpacklo_epi16(zero, f16);
        return _mm_castsi128_ps(_mm_slli_epi32(w, 7));
    };
    int i = 0;
    for (; i + 8 <= len; i += 8) {
        const __m128i m = load_i128(pMant + i);
        const __m128i e = _mm_min_epi16(_mm_max_epi16(load_i128(pExp + i), lo), hi);
        const __m128i p = _mm_sub_epi16(m15, e);
        const __m128i p1 = _mm_srai_epi16(p, 1);
        const __m128i f1 = _mm_add_epi16(p1, bias), f2 = _mm_add_epi16(_mm_sub_epi16(p, p1), bias);
        const __m128 m0 = _mm_cvtepi32_ps(widen_lo_epi16(m));
        const __m128 m1 = _mm_cvtepi32_ps(widen_hi_epi16(m));
        store_f128(pDst + i, _mm_mul_ps(_mm_mul_ps(m0, factor(f1, false)), factor(f2, false)));
        store_f128(pDst + i + 4, _mm_mul_ps(_mm_mul_ps(m1, factor(f1, true)), factor(f2, true)));
    }
    for (; i < len; ++i) pDst[i] = make_float(pMant[i], pExp[i]);
}

// index = (x - base) & 1023 with base = offset + 512 saturated to 16 bits; the difference is a
// 16-bit one, and the mask makes it the difference modulo 1024 whatever the wrap.
void ownsCalcSF_16s32f(const Zuf16s* pSrc, int offset, Zuf32f* pDst, int len) {
    const auto base = static_cast<uint16_t>(sat16(int64_t{offset} + 512));
    for (int i = 0; i < len; ++i) pDst[i] = t_csf[(static_cast<uint16_t>(pSrc[i]) - base) & 1023u];
}

}  // namespace zuf

extern "C" ZUF_API zufResult zufsMakeFloat_16s32f(const Zuf16s* pMant, const Zuf16s* pExp, int len, Zuf32f* pDst) {
    ZUF_REQUIRE(zuf::nonnull(pMant, pExp, pDst), zufErrNullPtr);
    ZUF_REQUIRE(len >= 1, zufErrSize);
    if (!zuf::all_aligned16(pMant, pExp, pDst)) {
        zuf::ownsMakeFloat_16s32f_ref(pMant, pExp, len, pDst);
        return zufWarnMisaligned;
    }
    zuf::ownsMakeFloat_16s32f_sse2(pMant, pExp, len, pDst);
    return zufOk;
}

// A table lookup per element: SSE2 has no gather, so there is no vector form to gain from.
extern "C" ZUF_API zufResult zufsCalcSF_16s32f(const Zuf16s* pSrc, int offset, Zuf32f* pDst, int len) {
    ZUF_REQUIRE(zuf::nonnull(pSrc, pDst), zufErrNullPtr);
    ZUF_REQUIRE(len >= 1, zufErrSize);
    zuf::ownsCalcSF_16s32f(pSrc, offset, pDst, len);
    return zufOk;
}
