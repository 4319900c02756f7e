// Power functions of the encoders' quantisers: |x|^(3/4) (the quantiser's compression law,
// ISO/IEC 11172-3 Annex C.1.5.4 and ISO/IEC 13818-7 Annex C) in float and 16-bit forms, the
// inverse x^(4/3) from a table, and an in-place float scaling.
//
// |x|^(3/4) is sqrt(|x|) sqrt(sqrt(|x|)): two square roots and a product, each correctly rounded
// by IEEE 754, so the SSE kernel (sqrtps, mulps) and the scalar loop agree bit for bit on every
// input (NaN, infinity and subnormals included) without any polynomial; taking the roots first
// keeps every intermediate inside the float range.
#include <cmath>
#include <cstdint>

#include "common/checks.h"
#include "common/simd.h"
#include "frame/pow_tables.h"
#include "frame/vec_pow.h"

namespace zuf {
namespace {

inline float pow34(float x) {
    const float r = std::sqrt(std::fabs(x));
    return r * std::sqrt(r);
}

// Nearest integer (ties to even), saturated to 32767; a NaN gives 32767 like the SSE min.
inline Zuf16s pow34_16s(float x) {
    const float r = pow34(x);
    return static_cast<Zuf16s>(std::nearbyint(r < 32767.0f ? r : 32767.0f));
}

inline __m128 pow34_ps(__m128 x) {
    const __m128 r = _mm_sqrt_ps(_mm_andnot_ps(_mm_set1_ps(-0.0f), x));
    return _mm_mul_ps(r, _mm_sqrt_ps(r));
}

}  // namespace

void ownsPow34_32f_ref(const Zuf32f* pSrc, Zuf32f* pDst, int len) {
    for (int i = 0; i < len; ++i) pDst[i] = pow34(pSrc[i]);
}

void ownsPow34_32f_sse2(const Zuf32f* pSrc, Zuf32f* pDst, int len) {
    int i = 0;
    for (; i + 4 <= len; i += 4) storeu_f128(pDst + i, pow34_ps(loadu_f128(pSrc + i)));
    for (; i < len; ++i) pDst[i] = pow34(pSrc[i]);
}

void ownsPow34_32f16s_ref(const Zuf32f* pSrc, Zuf16s* pDst, int len) {
    for (int i = 0; i < len; ++i) pDst[i] = pow34_16s(pSrc[i]);
}

// The minimum keeps the conversion in range (and maps NaN to 32767: minps returns its second
// operand when either is NaN); values are non-negative, so the pack never saturates below.
void ownsPow34_32f16s_sse2(const Zuf32f* pSrc, Zuf16s* pDst, int len) {
    int i = 0;
    const __m128 top = _mm_set1_ps(32767.0f);
    for (; i + 8 <= len; i += 8) {
        const __m128i lo = _mm_cvtps_epi32(_mm_min_ps(pow34_ps(loadu_f128(pSrc + i)), top));
        const __m128i hi = _mm_cvtps_epi32(_mm_min_ps(pow34_ps(loadu_f128(pSrc + i + 4)), top));
        storeu_i128(pDst + i, _mm_packs_epi32(lo, hi));
    }
    for (; i < len; ++i) pDst[i] = pow34_16s(pSrc[i]);
}

// In double: (|x| 2^-in)^(3/4) 2^-out = |x|^(3/4) 2^(-(3 in / 4 + out)), evaluated as
// sqrt(v) sqrt(sqrt(v)) on the exactly scaled v. Scales beyond +-1000 give the limits' results.
void ownsPow34_16s_Sfs(const Zuf16s* pSrc, int inScale, Zuf16s* pDst, int outScale, int len) {
    const int in = inScale < -1000 ? -1000 : (inScale > 1000 ? 1000 : inScale);
    const int out = outScale < -1000 ? -1000 : (outScale > 1000 ? 1000 : outScale);
    for (int i = 0; i < len; ++i) {
        const double v = std::ldexp(std::fabs(static_cast<double>(pSrc[i])), -in);
        const double s = std::sqrt(v), r = std::floor(std::ldexp(s * std::sqrt(s), -out) + 0.5);
        pDst[i] = static_cast<Zuf16s>(r < 32767.0 ? r : 32767.0);
    }
}

void ownsPow43_16s32f(const Zuf16s* pSrc, Zuf32f* pDst, int len) {
    for (int i = 0; i < len; ++i) {
        const int x = pSrc[i], m = x < 0 ? -x : x;
        const float v = pTablePow43[m < 8206 ? m : 8206];
        pDst[i] = x < 0 ? -v : v;
    }
}

}  // namespace zuf

using namespace zuf;

extern "C" {

ZUF_API zufResult zufsPow34_32f(const Zuf32f* pSrc, Zuf32f* pDst, int len) {
    ZUF_REQUIRE(nonnull(pSrc, pDst), zufErrNullPtr);
    ZUF_REQUIRE(len >= 1, zufErrSize);
    ownsPow34_32f_sse2(pSrc, pDst, len);
    return all_aligned16(pSrc, pDst) ? zufOk : zufWarnMisaligned;
}

ZUF_API zufResult zufsPow34_32f16s(const Zuf32f* pSrc, Zuf16s* pDst, int len) {
    ZUF_REQUIRE(nonnull(pSrc, pDst), zufErrNullPtr);
    ZUF_REQUIRE(len >= 1, zufErrSize);
    ownsPow34_32f16s_sse2(pSrc, pDst, len);
    return all_aligned16(pSrc, pDst) ? zufOk : zufWarnMisaligned;
}

ZUF_API zufResult zufsPow34_16s_Sfs(const Zuf16s* pSrc, int inScaleFactor, Zuf16s* pDst, int outScaleFactor, int len) {
    ZUF_REQUIRE(len >= 1, zufErrSize);
    ZUF_REQUIRE(nonnull(pSrc, pDst), zufErrNullPtr);
    ownsPow34_16s_Sfs(pSrc, inScaleFactor, pDst, outScaleFactor, len);
    return zufOk;
}

ZUF_API zufResult zufsPow43_16s32f(const Zuf16s* pSrc, Zuf32f* pDst, int len) {
    ZUF_REQUIRE(nonnull(pSrc, pDst), zufErrNullPtr);
    ZUF_REQUIRE(len >= 0, zufErrSize);
    ownsPow43_16s32f(pSrc, pDst, len);
    return zufOk;
}

// One product per element with the gain formed once: GCC vectorises the loop.
ZUF_API zufResult zufsScale_32f_I(Zuf32f* pSrcDst, Zuf32f val, int scaleFactor, int len) {
    ZUF_REQUIRE(nonnull(pSrcDst), zufErrNullPtr);
    ZUF_REQUIRE(len >= 1, zufErrSize);
    const int sf = scaleFactor < -300 ? -300 : (scaleFactor > 300 ? 300 : scaleFactor);
    const float g = std::ldexp(val, sf);
    for (int i = 0; i < len; ++i) pSrcDst[i] *= g;
    return zufOk;
}

}  // extern "C"
