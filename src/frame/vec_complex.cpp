// Complex vectors: split into real and imaginary arrays, join, and the element-wise product.
// Complex values are stored re, im; a 128-bit register holds two of them, a 256-bit one four.
#include <cstddef>

#include "common/checks.h"
#include "common/simd.h"
#include "frame/vec_kernels.h"

namespace zuf {
namespace {

inline const float* flt(const Zuf32fc* p) { return reinterpret_cast<const float*>(p); }
inline float* flt(Zuf32fc* p) { return reinterpret_cast<float*>(p); }

// (a + ib)(c + id) = (ac - bd) + i(ad + bc). Each product is rounded on its own and the two are
// then added (no contraction), which is exactly what the SSE3 addsub form computes.
inline Zuf32fc cmul(Zuf32fc x, Zuf32fc y) { return Zuf32fc{x.re * y.re - x.im * y.im, x.re * y.im + x.im * y.re}; }

// Two complex products: [a, b] * [c, d] lane-wise as [ac, ad] -+ [bd, bc].
inline __m128 cmul2(__m128 x, __m128 y) {
    const __m128 re = _mm_moveldup_ps(x);                       // a a
    const __m128 im = _mm_movehdup_ps(x);                       // b b
    const __m128 ys = permute_f32<_MM_SHUFFLE(2, 3, 0, 1)>(y);  // d c
    return _mm_addsub_ps(_mm_mul_ps(re, y), _mm_mul_ps(im, ys));
}

#if defined(__AVX2__)
// Four complex products, the same lane operations within each 128-bit half.
inline __m256 cmul2(__m256 x, __m256 y) {
    const __m256 re = _mm256_moveldup_ps(x);
    const __m256 im = _mm256_movehdup_ps(x);
    const __m256 ys = _mm256_shuffle_ps(y, y, _MM_SHUFFLE(2, 3, 0, 1));
    return _mm256_addsub_ps(_mm256_mul_ps(re, y), _mm256_mul_ps(im, ys));
}
#endif

}  // namespace

void ownsCplxToReal_32fc_ref(const Zuf32fc* pSrc, Zuf32f* pDstRe, Zuf32f* pDstIm, int len) {
    for (int i = 0; i < len; ++i) {
        pDstRe[i] = pSrc[i].re;
        pDstIm[i] = pSrc[i].im;
    }
}

void ownsRealToCplx_32f_ref(const Zuf32f* pSrcRe, const Zuf32f* pSrcIm, Zuf32fc* pDst, int len) {
    for (int i = 0; i < len; ++i) pDst[i] = Zuf32fc{pSrcRe ? pSrcRe[i] : 0.0f, pSrcIm ? pSrcIm[i] : 0.0f};
}

void ownsRealToCplx_32f_sse2(const Zuf32f* pSrcRe, const Zuf32f* pSrcIm, Zuf32fc* pDst, int len) {
    float* d = flt(pDst);
    const __m128 zero = _mm_setzero_ps();
    std::ptrdiff_t i = 0;  // 2 * i may pass INT_MAX
    for (; i + 4 <= len; i += 4) {
        const __m128 re = pSrcRe ? loadu_f128(pSrcRe + i) : zero;
        const __m128 im = pSrcIm ? loadu_f128(pSrcIm + i) : zero;
        storeu_f128(d + 2 * i, zip_lo_f32(re, im));
        storeu_f128(d + 2 * i + 4, zip_hi_f32(re, im));
    }
    for (; i < len; ++i) pDst[i] = Zuf32fc{pSrcRe ? pSrcRe[i] : 0.0f, pSrcIm ? pSrcIm[i] : 0.0f};
}

void ownsMul_32fc_ref(const Zuf32fc* pSrc1, const Zuf32fc* pSrc2, Zuf32fc* pDst, int len) {
    for (int i = 0; i < len; ++i) pDst[i] = cmul(pSrc1[i], pSrc2[i]);
}

// Each element is read before it is written, so pDst == pSrc2 (the in-place form) is safe.
void ownsMul_32fc_sse2(const Zuf32fc* pSrc1, const Zuf32fc* pSrc2, Zuf32fc* pDst, int len) {
    const float* a = flt(pSrc1);
    const float* b = flt(pSrc2);
    float* d = flt(pDst);
    constexpr int L = kLanesF;  // floats per register: L / 2 complex values
    std::ptrdiff_t i = 0;       // 2 * i may pass INT_MAX
    for (; i + L <= len; i += L) {
        const LaneF p0 = cmul2(lane_load<LaneF>(a + 2 * i), lane_load<LaneF>(b + 2 * i));
        const LaneF p1 = cmul2(lane_load<LaneF>(a + 2 * i + L), lane_load<LaneF>(b + 2 * i + L));
        lane_store(d + 2 * i, p0);
        lane_store(d + 2 * i + L, p1);
    }
    for (; i < len; ++i) pDst[i] = cmul(pSrc1[i], pSrc2[i]);
}

}  // namespace zuf

extern "C" ZUF_API zufResult zufsCplxToReal_32fc(const Zuf32fc* pSrc, Zuf32f* pDstRe, Zuf32f* pDstIm, int len) {
    ZUF_REQUIRE(zuf::nonnull(pSrc, pDstRe, pDstIm), zufErrNullPtr);
    ZUF_REQUIRE(len >= 1, zufErrSize);
    zuf::ownsCplxToReal_32fc_ref(pSrc, pDstRe, pDstIm, len);
    return zufOk;
}

// One of the two sources may be null: that part of every output element is +0.
extern "C" ZUF_API zufResult zufsRealToCplx_32f(const Zuf32f* pSrcRe, const Zuf32f* pSrcIm, Zuf32fc* pDst, int len) {
    ZUF_REQUIRE(zuf::nonnull(pDst), zufErrNullPtr);
    ZUF_REQUIRE(pSrcRe || pSrcIm, zufErrNullPtr);
    ZUF_REQUIRE(len >= 1, zufErrSize);
    zuf::ownsRealToCplx_32f_sse2(pSrcRe, pSrcIm, pDst, len);
    return zufOk;
}

extern "C" ZUF_API zufResult zufsMul_32fc(const Zuf32fc* pSrc1, const Zuf32fc* pSrc2, Zuf32fc* pDst, int len) {
    ZUF_REQUIRE(zuf::nonnull(pSrc1, pSrc2, pDst), zufErrNullPtr);
    ZUF_REQUIRE(len >= 1, zufErrSize);
    zuf::ownsMul_32fc_sse2(pSrc1, pSrc2, pDst, len);
    return zufOk;
}

// pSrcDst[i] = pSrc[i] * pSrcDst[i].
extern "C" ZUF_API zufResult zufsMul_32fc_I(const Zuf32fc* pSrc, Zuf32fc* pSrcDst, int len) {
    ZUF_REQUIRE(zuf::nonnull(pSrc, pSrcDst), zufErrNullPtr);
    ZUF_REQUIRE(len >= 1, zufErrSize);
    zuf::ownsMul_32fc_sse2(pSrc, pSrcDst, pSrcDst, len);
    return zufOk;
}
