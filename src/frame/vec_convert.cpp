// Conversions between 16-bit, 32-bit and float samples, with the integer scale factor of the
// _Sfs variants: the result is x * 2^-scaleFactor, rounded to nearest (ties to even) and
// saturated to 16 bits.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

#include "common/checks.h"
#include "common/fixed_point.h"
#include "common/simd.h"
#include "frame/vec_kernels.h"

namespace zuf {
namespace {

// ---------------------------------------------------------------- per-element rules

// s in -15..31. For s > 0, (x + 2^(s-1) - 1 + ((x >> s) & 1)) >> s rounds to nearest with ties
// to even; the sum may exceed 32 bits for large x, so it is formed in 64 bits (the same value
// as shifting the 32-bit sum as unsigned). For s < 0 the left shift saturates.
inline Zuf16s cvt32s16s(Zuf32s x, int s) {
    if (s > 0) return sat16(rshift_round_even(x, s));
    return sat16(static_cast<int64_t>(x) * (int64_t{1} << -s));
}

// 2^-s as a double, formed from its exponent field; |s| <= kF2SScaleLimit keeps it normal.
inline double pow2_neg(int s) { return std::bit_cast<double>(static_cast<uint64_t>(1023 - s) << 52); }

// x * 2^-s, rounded toward zero or to nearest-even, saturated. The product is formed in double,
// where it is exact for every float x and |s| <= 200, so the only rounding is the final one,
// and it is done explicitly rather than through the FPU's rounding mode, which a caller may
// have changed. NaN converts to 0; +-inf saturate.
template <bool kNearest>
inline Zuf16s cvt32f16s(Zuf32f x, double factor) {
    double d = static_cast<double>(x) * factor;
    if (d != d) return 0;
    d = d < -32768.0 ? -32768.0 : (d > 32767.0 ? 32767.0 : d);
    int32_t t = static_cast<int32_t>(d);  // truncates
    if (kNearest) {
        const double f = d - t;  // exact: |d| < 2^15
        const double a = std::fabs(f);
        if (a > 0.5 || (a == 0.5 && (t & 1))) t += f < 0 ? -1 : 1;
    }
    return static_cast<Zuf16s>(t);
}

template <bool kNearest>
void scalar_32f16s(const Zuf32f* pSrc, Zuf16s* pDst, int len, double factor) {
    for (int i = 0; i < len; ++i) pDst[i] = cvt32f16s<kNearest>(pSrc[i], factor);
}

// ---------------------------------------------------------------- SSE2 building blocks

// x * 2^-s, s in 1..31, rounded to nearest-even, in 32-bit lanes without overflow: with
// q = x >> s and r = x mod 2^s, the carry (r + 2^(s-1) - 1 + (q & 1)) >> s is 0 or 1, and the
// sum before that shift stays below 2^32, so a logical shift gives it.
struct RoundShift {
    __m128i count, mask, half_m1, one;
    explicit RoundShift(int s)
        : count(_mm_cvtsi32_si128(s)),
          mask(_mm_set1_epi32(static_cast<int32_t>((uint32_t{1} << s) - 1u))),
          half_m1(_mm_set1_epi32(static_cast<int32_t>((uint32_t{1} << (s - 1)) - 1u))),
          one(_mm_set1_epi32(1)) {}
    __m128i operator()(__m128i x) const {
        const __m128i q = _mm_sra_epi32(x, count);
        const __m128i r = _mm_and_si128(x, mask);
        const __m128i sum = _mm_add_epi32(_mm_add_epi32(r, half_m1), _mm_and_si128(q, one));
        return _mm_add_epi32(q, _mm_srl_epi32(sum, count));
    }
};

template <bool kNearest>
void sse2_32f16s(const Zuf32f* pSrc, Zuf16s* pDst, int len, double factor) {
    const __m128d vf = _mm_set1_pd(factor);
    const __m128d lo = _mm_set1_pd(-32768.0), hi = _mm_set1_pd(32767.0);
    const __m128d half = _mm_set1_pd(0.5);
    const __m128d abs_mask = _mm_castsi128_pd(_mm_set1_epi64x(INT64_MAX));
    const __m128i one = _mm_set1_epi32(1);
    // Both halves of four lanes: scale, NaN to +0 (an ordered-compare mask), clamp, truncate.
    auto half_lanes = [&](__m128 v, __m128d& d, __m128i& t) {
        d = _mm_mul_pd(_mm_cvtps_pd(v), vf);
        d = _mm_and_pd(d, _mm_cmpord_pd(d, d));
        d = _mm_min_pd(_mm_max_pd(d, lo), hi);
        t = _mm_cvttpd_epi32(d);
    };
    // Two 64-bit lane masks of each half to four 32-bit lane masks.
    auto narrow = [](__m128d m0, __m128d m1) {
        return _mm_castps_si128(_mm_shuffle_ps(_mm_castpd_ps(m0), _mm_castpd_ps(m1), _MM_SHUFFLE(2, 0, 2, 0)));
    };
    int i = 0;
    for (; i + 4 <= len; i += 4) {
        const __m128 v = loadu_f128(pSrc + i);
        __m128d d0, d1;
        __m128i t0, t1;
        half_lanes(v, d0, t0);
        half_lanes(_mm_movehl_ps(v, v), d1, t1);
        __m128i t = _mm_unpacklo_epi64(t0, t1);
        if (kNearest) {
            const __m128d f0 = _mm_sub_pd(d0, _mm_cvtepi32_pd(t0));
            const __m128d f1 = _mm_sub_pd(d1, _mm_cvtepi32_pd(t1));
            const __m128d a0 = _mm_and_pd(f0, abs_mask), a1 = _mm_and_pd(f1, abs_mask);
            const __m128i gt = narrow(_mm_cmpgt_pd(a0, half), _mm_cmpgt_pd(a1, half));
            const __m128i eq = narrow(_mm_cmpeq_pd(a0, half), _mm_cmpeq_pd(a1, half));
            const __m128i neg = narrow(_mm_cmplt_pd(f0, _mm_setzero_pd()), _mm_cmplt_pd(f1, _mm_setzero_pd()));
            const __m128i odd = _mm_sub_epi32(_mm_setzero_si128(), _mm_and_si128(t, one));
            const __m128i inc = _mm_or_si128(gt, _mm_and_si128(eq, odd));
            t = _mm_add_epi32(t, _mm_and_si128(inc, _mm_or_si128(neg, one)));  // +1, or -1 below 0
        }
        store_i64(pDst + i, _mm_packs_epi32(t, t));
    }
    for (; i < len; ++i) pDst[i] = cvt32f16s<kNearest>(pSrc[i], factor);
}

}  // namespace

// ---------------------------------------------------------------- kernels

void ownsConvert_16s32f_ref(const Zuf16s* pSrc, Zuf32f* pDst, int len) {
    for (int i = 0; i < len; ++i) pDst[i] = static_cast<Zuf32f>(pSrc[i]);
}

void ownsConvert_32s16s_Sfs_ref(const Zuf32s* pSrc, Zuf16s* pDst, int len, int scaleFactor) {
    for (int i = 0; i < len; ++i) pDst[i] = cvt32s16s(pSrc[i], scaleFactor);
}

// Eight values per step: two groups of four 32-bit lanes, narrowed with the saturating pack.
void ownsConvert_32s16s_Sfs_sse2(const Zuf32s* pSrc, Zuf16s* pDst, int len, int scaleFactor) {
    auto load = [pSrc](int i) { return loadu_i128(pSrc + i); };
    auto store = [pDst](int i, __m128i v) { storeu_i128(pDst + i, v); };
    int i = 0;
    if (scaleFactor == 0) {
        for (; i + 8 <= len; i += 8) store(i, _mm_packs_epi32(load(i), load(i + 4)));
    } else if (scaleFactor > 0) {
        const RoundShift rs(scaleFactor);
        for (; i + 8 <= len; i += 8) store(i, _mm_packs_epi32(rs(load(i)), rs(load(i + 4))));
    } else {
        // Saturating to 16 bits first changes nothing (a value beyond 16 bits saturates after
        // the shift too) and lets the shift by at most 15 run in 32-bit lanes without overflow.
        const __m128i count = _mm_cvtsi32_si128(-scaleFactor);
        for (; i + 8 <= len; i += 8) {
            const __m128i a = _mm_packs_epi32(load(i), load(i + 4));
            const __m128i lo = _mm_sll_epi32(widen_lo_epi16(a), count);
            const __m128i hi = _mm_sll_epi32(widen_hi_epi16(a), count);
            store(i, _mm_packs_epi32(lo, hi));
        }
    }
    for (; i < len; ++i) pDst[i] = cvt32s16s(pSrc[i], scaleFactor);
}

void ownsConvert_32f16s_Sfs_ref(const Zuf32f* pSrc, Zuf16s* pDst, int len, int rndMode, int scaleFactor) {
    const double factor = pow2_neg(scaleFactor);
    if (rndMode == 0)
        scalar_32f16s<false>(pSrc, pDst, len, factor);
    else
        scalar_32f16s<true>(pSrc, pDst, len, factor);
}

void ownsConvert_32f16s_Sfs_sse2(const Zuf32f* pSrc, Zuf16s* pDst, int len, int rndMode, int scaleFactor) {
    const double factor = pow2_neg(scaleFactor);
    if (rndMode == 0)
        sse2_32f16s<false>(pSrc, pDst, len, factor);
    else
        sse2_32f16s<true>(pSrc, pDst, len, factor);
}

}  // namespace zuf

// ---------------------------------------------------------------- exported shells

extern "C" ZUF_API zufResult zufsConvert_16s32f(const Zuf16s* pSrc, Zuf32f* pDst, int len) {
    ZUF_REQUIRE(zuf::nonnull(pSrc, pDst), zufErrNullPtr);
    ZUF_REQUIRE(len >= 1, zufErrSize);
    zuf::ownsConvert_16s32f_ref(pSrc, pDst, len);
    return zufOk;
}

// The scale factor is clamped to -15..31, the shifts that a 32-to-16-bit conversion can use.
extern "C" ZUF_API zufResult zufsConvert_32s16s_Sfs(const Zuf32s* pSrc, Zuf16s* pDst, int len, int scaleFactor) {
    ZUF_REQUIRE(zuf::nonnull(pSrc, pDst), zufErrNullPtr);
    ZUF_REQUIRE(len >= 1, zufErrSize);
    zuf::ownsConvert_32s16s_Sfs_sse2(pSrc, pDst, len, std::clamp(scaleFactor, -15, 31));
    return zufOk;
}

// Beyond +-200 every finite nonzero input already saturates (s < -200) or rounds to zero
// (s > 200), so clamping there changes no result and keeps 2^-s a normal double.
extern "C" ZUF_API zufResult zufsConvert_32f16s_Sfs(const Zuf32f* pSrc, Zuf16s* pDst, int len, int rndMode,
                                                    int scaleFactor) {
    ZUF_REQUIRE(zuf::nonnull(pSrc, pDst), zufErrNullPtr);
    ZUF_REQUIRE(len >= 1, zufErrSize);
    zuf::ownsConvert_32f16s_Sfs_sse2(pSrc, pDst, len, rndMode,
                                     std::clamp(scaleFactor, -zuf::kF2SScaleLimit, zuf::kF2SScaleLimit));
    return zufOk;
}
