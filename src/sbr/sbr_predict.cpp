// Covariance-method prediction coefficients of the SBR HF generator (ISO/IEC 14496-3 4.6.18.6.2),
// in float for all bands at once and in 32-bit fixed point for one band, with the fixed-point
// reciprocal zufsInvWrap_32s_Sf.
//
// Float: one algorithm written over its lane type. T = float is the scalar reference (one band);
// T = __m128 (GCC vector arithmetic on four bands side by side) or, in the AVX2 build, __m256
// (eight bands) performs the same IEEE operations in the same order on every lane, contraction
// off, so each band's result is the same bit for bit whichever path computed it. The conditions
// (d = 0, phi(1,1) > 0, the limit 16) are branches in the reference and masks in the vector path;
// a masked-off lane may hold an infinity or a NaN from a division by zero before the mask clears
// it, which changes nothing.
#include <cstdint>
#include <initializer_list>

#include "common/checks.h"
#include "common/fixed_point.h"
#include "common/simd.h"
#include "sbr/sbr_internal.h"
#include "zufack9/zuf_sbr.h"

namespace zuf::sbr {

namespace {

// 1 / (1 + 1e-6) in single precision: the relaxation that keeps d away from 0 for a
// rank-one (pure tone) covariance.
constexpr float kRelax = 0.99999905f;
constexpr float kLimit = 16.0f;  // |alpha|^2 from which the HF generator would be unstable

// ------------------------------------------------------------------ lane operations

// num / den where den != 0, else 0.
inline float div_if_nonzero(float num, float den) { return den != 0.0f ? num / den : 0.0f; }
inline __m128 div_if_nonzero(__m128 num, __m128 den) {
    return _mm_and_ps(_mm_cmpneq_ps(den, _mm_setzero_ps()), _mm_div_ps(num, den));
}
// v where den != 0, else 0.
inline float keep_if_nonzero(float den, float v) { return den != 0.0f ? v : 0.0f; }
inline __m128 keep_if_nonzero(__m128 den, __m128 v) { return _mm_and_ps(_mm_cmpneq_ps(den, _mm_setzero_ps()), v); }
// v where den > 0, else 0.
inline float keep_if_positive(float den, float v) { return den > 0.0f ? v : 0.0f; }
inline __m128 keep_if_positive(__m128 den, __m128 v) { return _mm_and_ps(_mm_cmpgt_ps(den, _mm_setzero_ps()), v); }
// Keeps v unless either squared magnitude reached the limit.
inline float keep_if_stable(float m0, float m1, float v) { return (m0 >= kLimit || m1 >= kLimit) ? 0.0f : v; }
inline __m128 keep_if_stable(__m128 m0, __m128 m1, __m128 v) {
    const __m128 lim = _mm_set1_ps(kLimit);
    return _mm_andnot_ps(_mm_or_ps(_mm_cmpge_ps(m0, lim), _mm_cmpge_ps(m1, lim)), v);
}
#if defined(__AVX2__)
inline __m256 div_if_nonzero(__m256 num, __m256 den) {
    return _mm256_and_ps(_mm256_cmp_ps(den, _mm256_setzero_ps(), _CMP_NEQ_UQ), _mm256_div_ps(num, den));
}
inline __m256 keep_if_nonzero(__m256 den, __m256 v) {
    return _mm256_and_ps(_mm256_cmp_ps(den, _mm256_setzero_ps(), _CMP_NEQ_UQ), v);
}
inline __m256 keep_if_positive(__m256 den, __m256 v) {
    return _mm256_and_ps(_mm256_cmp_ps(den, _mm256_setzero_ps(), _CMP_GT_OS), v);
}
inline __m256 keep_if_stable(__m256 m0, __m256 m1, __m256 v) {
    const __m256 lim = _mm256_set1_ps(kLimit);
    return _mm256_andnot_ps(_mm256_or_ps(_mm256_cmp_ps(m0, lim, _CMP_GE_OS), _mm256_cmp_ps(m1, lim, _CMP_GE_OS)), v);
}
#endif

// ------------------------------------------------------------------ real rows
// Bands k .. k+lanes-1 of real rows.
template <class T>
void ownsPredictCoef_R(const Zuf32f* const* ppSrc, int k, int len, Zuf32f* pAlpha0, Zuf32f* pAlpha1) {
    T p01 = lane_splat<T>(0.0f), p02 = p01, p11 = p01, p12 = p01, p22 = p01;
    T x2 = lane_load<T>(ppSrc[0] + k), x1 = lane_load<T>(ppSrc[1] + k);
    for (int n = 2; n <= len + 1; ++n) {
        const T x0 = lane_load<T>(ppSrc[n] + k);
        p01 = p01 + x0 * x1;
        p02 = p02 + x0 * x2;
        p11 = p11 + x1 * x1;
        p12 = p12 + x1 * x2;
        p22 = p22 + x2 * x2;
        x2 = x1;
        x1 = x0;
    }
    const T d = p22 * p11 - lane_splat<T>(kRelax) * (p12 * p12);
    const T a1 = div_if_nonzero(p01 * p12 - p02 * p11, d);
    const T a0 = keep_if_positive(p11, -(p01 + a1 * p12) / p11);
    const T m0 = a0 * a0, m1 = a1 * a1;
    lane_store(pAlpha0 + k, keep_if_stable(m0, m1, a0));
    lane_store(pAlpha1 + k, keep_if_stable(m0, m1, a1));
}

// ------------------------------------------------------------------ complex rows
// Where the complex bands come from and go to: interleaved (32fc) or split rows.
struct Interleaved {
    const Zuf32fc* const* rows;
    Zuf32fc *a0, *a1;
    static constexpr bool kReciprocal = false;  // divides
    void load(int n, int k, float& re, float& im) const {
        re = rows[n][k].re;
        im = rows[n][k].im;
    }
    void load(int n, int k, __m128& re, __m128& im) const {
        const float* p = &rows[n][k].re;
        const __m128 lo = loadu_f128(p), hi = loadu_f128(p + 4);
        re = _mm_shuffle_ps(lo, hi, _MM_SHUFFLE(2, 0, 2, 0));
        im = _mm_shuffle_ps(lo, hi, _MM_SHUFFLE(3, 1, 3, 1));
    }
#if defined(__AVX2__)
    // Eight bands: the in-lane shuffles leave the 128-bit halves in the order 0, 2, 1, 3.
    void load(int n, int k, __m256& re, __m256& im) const {
        const float* p = &rows[n][k].re;
        const __m256 lo = _mm256_loadu_ps(p), hi = _mm256_loadu_ps(p + 8);
        re = _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(_mm256_shuffle_ps(lo, hi, 0x88)), 0xD8));
        im = _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(_mm256_shuffle_ps(lo, hi, 0xDD)), 0xD8));
    }
#endif
    static void put(Zuf32fc* p, int k, float re, float im) { p[k] = {re, im}; }
    static void put(Zuf32fc* p, int k, __m128 re, __m128 im) {
        storeu_f128(&p[k].re, zip_lo_f32(re, im));
        storeu_f128(&p[k + 2].re, zip_hi_f32(re, im));
    }
#if defined(__AVX2__)
    static void put(Zuf32fc* p, int k, __m256 re, __m256 im) {
        const __m256 lo = zip_lo_f32(re, im), hi = zip_hi_f32(re, im);  // bands 0 1 4 5, 2 3 6 7
        _mm256_storeu_ps(&p[k].re, _mm256_permute2f128_ps(lo, hi, 0x20));
        _mm256_storeu_ps(&p[k + 4].re, _mm256_permute2f128_ps(lo, hi, 0x31));
    }
#endif
    template <class T>
    void store(int k, T a0re, T a0im, T a1re, T a1im) const {
        put(a0, k, a0re, a0im);
        put(a1, k, a1re, a1im);
    }
};

struct Split {
    const Zuf32f* const* rowsRe;
    const Zuf32f* const* rowsIm;
    Zuf32f *a0re, *a0im, *a1re, *a1im;
    static constexpr bool kReciprocal = true;  // multiplies with 1/d and 1/phi(1,1)
    template <class T>
    void load(int n, int k, T& re, T& im) const {
        re = lane_load<T>(rowsRe[n] + k);
        im = lane_load<T>(rowsIm[n] + k);
    }
    template <class T>
    void store(int k, T r0, T i0, T r1, T i1) const {
        lane_store(a0re + k, r0);
        lane_store(a0im + k, i0);
        lane_store(a1re + k, r1);
        lane_store(a1im + k, i1);
    }
};

// phi += a conj(b), as (re, im).
template <class T>
inline void acc_conj(T& re, T& im, T ar, T ai, T br, T bi) {
    re = re + (ar * br + ai * bi);
    im = im + (ai * br - ar * bi);
}

template <class T, class Rows>
void ownsPredictCoef_C(const Rows& rows, int k, int len) {
    const T zero = lane_splat<T>(0.0f);
    T p01r = zero, p01i = zero, p02r = zero, p02i = zero, p12r = zero, p12i = zero, p11 = zero, p22 = zero;
    T x2r, x2i, x1r, x1i;
    rows.load(0, k, x2r, x2i);
    rows.load(1, k, x1r, x1i);
    for (int n = 2; n <= len + 1; ++n) {
        T x0r, x0i;
        rows.load(n, k, x0r, x0i);
        acc_conj(p01r, p01i, x0r, x0i, x1r, x1i);
        acc_conj(p02r, p02i, x0r, x0i, x2r, x2i);
        acc_conj(p12r, p12i, x1r, x1i, x2r, x2i);
        p11 = p11 + (x1r * x1r + x1i * x1i);
        p22 = p22 + (x2r * x2r + x2i * x2i);
        x2r = x1r, x2i = x1i, x1r = x0r, x1i = x0i;
    }
    const T d = p22 * p11 - lane_splat<T>(kRelax) * (p12r * p12r + p12i * p12i);
    // alpha1 = (phi01 phi12 - phi02 phi11) / d
    const T n1r = p01r * p12r - p01i * p12i - p02r * p11;
    const T n1i = p01r * p12i + p01i * p12r - p02i * p11;
    T a1r, a1i;
    if constexpr (Rows::kReciprocal) {
        const T inv = div_if_nonzero(lane_splat<T>(1.0f), d);
        a1r = keep_if_nonzero(d, n1r * inv), a1i = keep_if_nonzero(d, n1i * inv);
    } else {
        a1r = div_if_nonzero(n1r, d), a1i = div_if_nonzero(n1i, d);
    }
    // alpha0 = -(phi01 + alpha1 conj(phi12)) / phi11
    const T n0r = p01r + (a1r * p12r + a1i * p12i);
    const T n0i = p01i + (a1i * p12r - a1r * p12i);
    T a0r, a0i;
    if constexpr (Rows::kReciprocal) {
        const T inv = lane_splat<T>(1.0f) / p11;
        a0r = keep_if_positive(p11, -n0r * inv), a0i = keep_if_positive(p11, -n0i * inv);
    } else {
        a0r = keep_if_positive(p11, -n0r / p11), a0i = keep_if_positive(p11, -n0i / p11);
    }
    const T m0 = a0r * a0r + a0i * a0i, m1 = a1r * a1r + a1i * a1i;
    rows.store(k, keep_if_stable(m0, m1, a0r), keep_if_stable(m0, m1, a0i), keep_if_stable(m0, m1, a1r),
               keep_if_stable(m0, m1, a1i));
}

// The widest lanes first, then four (AVX2 build only), then one band at a time.
template <class Run>
void ownsBands(int nBands, bool vector, Run run) {
    int k = 0;
    if (vector) {
        for (; k + kLanesF <= nBands; k += kLanesF) run(LaneF{}, k);
        for (; k + 4 <= nBands; k += 4) run(__m128{}, k);
    }
    for (; k < nBands; ++k) run(0.0f, k);
}

}  // namespace

void ownsPredictCoef_SBR_R_32f(const Zuf32f* const* ppSrc, Zuf32f* pAlpha0, Zuf32f* pAlpha1, int nBands, int len,
                               bool vector) {
    ownsBands(nBands, vector,
              [&](auto lane, int k) { ownsPredictCoef_R<decltype(lane)>(ppSrc, k, len, pAlpha0, pAlpha1); });
}

void ownsPredictCoef_SBR_C_32fc(const Zuf32fc* const* ppSrc, Zuf32fc* pAlpha0, Zuf32fc* pAlpha1, int nBands, int len,
                                bool vector) {
    const Interleaved rows{ppSrc, pAlpha0, pAlpha1};
    ownsBands(nBands, vector, [&](auto lane, int k) { ownsPredictCoef_C<decltype(lane)>(rows, k, len); });
}

void ownsPredictCoef_SBR_C_32f(const Zuf32f* const* ppSrcRe, const Zuf32f* const* ppSrcIm, Zuf32f* pAlpha0Re,
                               Zuf32f* pAlpha0Im, Zuf32f* pAlpha1Re, Zuf32f* pAlpha1Im, int nBands, int len,
                               bool vector) {
    const Split rows{ppSrcRe, ppSrcIm, pAlpha0Re, pAlpha0Im, pAlpha1Re, pAlpha1Im};
    ownsBands(nBands, vector, [&](auto lane, int k) { ownsPredictCoef_C<decltype(lane)>(rows, k, len); });
}

// ------------------------------------------------------------------ fixed point
namespace {

// Q-format reciprocal: 0x20000000 is 2 in the Q28 of mulhi(x', y), 0x15555555 is 2^32 / 12.
Zuf32s ownsInvWrap(Zuf32s x, int* pScale) {
    const int s = x > 0 ? clz32(static_cast<uint32_t>(x)) - 1 : 0;  // x > 0 by contract; no UB otherwise
    *pScale = s;
    const int32_t xs = static_cast<int32_t>(static_cast<uint32_t>(x) << s);  // x' in [2^30, 2^31)
    constexpr int32_t kTwo = 0x20000000, kTwelfth = 0x15555555;
    auto shl4 = [](int32_t v) { return static_cast<int32_t>(static_cast<uint32_t>(v) << 4); };
    int32_t y = shl4(mulhi(kTwo - mulhi(xs, kTwelfth), kTwelfth));
    for (int i = 0; i < 4; ++i) y = shl4(mulhi(y, kTwo - mulhi(xs, y)));
    return y;
}

// v * 2^s for 0 <= s <= 34. A result beyond 32 bits is a coefficient of magnitude 4 or more in
// Q29, past the stability limit: `over` is set and the caller clears both coefficients.
int32_t shl_checked(int32_t v, int s, bool& over) {
    const int64_t r = s >= 32 ? (v == 0 ? 0 : INT64_MAX) : static_cast<int64_t>(v) * (int64_t{1} << s);
    if (r > INT32_MAX || r < INT32_MIN) {
        over = true;
        return 0;
    }
    return static_cast<int32_t>(r);
}

// Right shift that brings band k's samples to at least two guard bits (|x| <= 2^29): 2 - g with
// g = min(clz(m) - 1, 2), m the largest magnitude; -1 when the band is silent.
template <class Get>
int ownsGuardShift(int len, Get get) {
    int64_t hiV = 0, loV = 0;
    for (int n = 0; n <= len + 1; ++n) get(n, hiV, loV);
    const int64_t m = hiV > -loV ? hiV : -loV;
    if (m == 0) return -1;
    const int g = clz32(static_cast<uint32_t>(m)) - 1;  // sbrCalcGuardBit
    return g < 2 ? 2 - g : 0;
}

// The common shift of the covariance elements: e such that every |phi| >> e (e > 0) or << -e
// keeps 30 significant bits at most; the elements come back as 32-bit values below 2^30.
void ownsNormalizeCov(int64_t* phi, int32_t* out, int count) {
    uint64_t mask = 0;
    for (int i = 0; i < count; ++i) {
        const uint64_t u = static_cast<uint64_t>(phi[i]);
        mask |= phi[i] < 0 ? 0 - u : u;
    }
    const uint32_t high = static_cast<uint32_t>(mask >> 32);
    const int zeros = high ? clz32(high) : 32 + clz32(static_cast<uint32_t>(mask));
    const int e = 34 - zeros;  // significant bits - 30
    for (int i = 0; i < count; ++i)
        out[i] = static_cast<int32_t>(e > 0 ? phi[i] >> e : static_cast<int64_t>(static_cast<uint64_t>(phi[i]) << -e));
}

// Wrapping 64-bit accumulation of a 32x32-bit product (the guard bits keep real sums in range).
inline int64_t mac(int64_t acc, int32_t a, int32_t b) {
    return static_cast<int64_t>(static_cast<uint64_t>(acc) + static_cast<uint64_t>(static_cast<int64_t>(a) * b));
}

}  // namespace

}  // namespace zuf::sbr

using namespace zuf;
using namespace zuf::sbr;

extern "C" {

ZUF_API zufResult zufsPredictCoef_SBR_R_32f_D2L(const Zuf32f** ppSrc, Zuf32f* pAlpha0, Zuf32f* pAlpha1, int nBands,
                                                int len) {
    ZUF_REQUIRE(nonnull(ppSrc, pAlpha0, pAlpha1), zufErrNullPtr);
    if (len < 1) return zufOk;
    ownsPredictCoef_SBR_R_32f(ppSrc, pAlpha0, pAlpha1, nBands, len, true);
    return zufOk;
}

ZUF_API zufResult zufsPredictCoef_SBR_C_32fc_D2L(const Zuf32fc** ppSrc, Zuf32fc* pAlpha0, Zuf32fc* pAlpha1, int nBands,
                                                 int len) {
    ZUF_REQUIRE(nonnull(ppSrc, pAlpha0, pAlpha1), zufErrNullPtr);
    if (len < 1) return zufOk;
    ownsPredictCoef_SBR_C_32fc(ppSrc, pAlpha0, pAlpha1, nBands, len, true);
    return zufOk;
}

ZUF_API zufResult zufsPredictCoef_SBR_C_32f_D2L(const Zuf32f** ppSrcRe, const Zuf32f** ppSrcIm, Zuf32f* pAlpha0Re,
                                                Zuf32f* pAlpha0Im, Zuf32f* pAlpha1Re, Zuf32f* pAlpha1Im, int nBands,
                                                int len) {
    ZUF_REQUIRE(nonnull(ppSrcRe, ppSrcIm, pAlpha0Re, pAlpha0Im, pAlpha1Re, pAlpha1Im), zufErrNullPtr);
    if (len < 1) return zufOk;
    ownsPredictCoef_SBR_C_32f(ppSrcRe, ppSrcIm, pAlpha0Re, pAlpha0Im, pAlpha1Re, pAlpha1Im, nBands, len, true);
    return zufOk;
}

ZUF_API Zuf32s zufsInvWrap_32s_Sf(Zuf32s x, int* pScaleFactor) { return ownsInvWrap(x, pScaleFactor); }

// Element order of the normalised covariance: phi01 (re, im), phi02 (re, im), phi12 (re, im),
// phi11, phi22. Q29 coefficients: with r = 2^60 / (d << s), mulhi(r, num) << (s + 1) is
// 2^29 num / d; alpha0's numerator is formed at 1/8 scale (alpha1 is Q29, so mulhi(alpha1, phi)
// is alpha1 phi / 8) and scaled back by s + 4.
ZUF_API zufResult zufsPredictOneCoef_SBRHQ_32sc_D2L(const Zuf32sc** ppSrc, Zuf32sc* pAlpha0, Zuf32sc* pAlpha1, int k,
                                                    int len) {
    const int shift = ownsGuardShift(len, [&](int n, int64_t& mx, int64_t& mn) {
        for (const int32_t v : {ppSrc[n][k].re, ppSrc[n][k].im}) {
            mx = v > mx ? v : mx;
            mn = v < mn ? v : mn;
        }
    });
    if (shift < 0) {
        *pAlpha0 = {0, 0};
        *pAlpha1 = {0, 0};
        return zufOk;
    }
    int64_t acc[8] = {};
    auto at = [&](int n) { return Zuf32sc{ppSrc[n][k].re >> shift, ppSrc[n][k].im >> shift}; };
    Zuf32sc x2 = at(0), x1 = at(1);
    for (int n = 2; n <= len + 1; ++n) {
        const Zuf32sc x0 = at(n);
        // a conj(b) = (ar br + ai bi) + i (ai br - ar bi)
        acc[0] = mac(mac(acc[0], x0.re, x1.re), x0.im, x1.im);
        acc[1] = mac(mac(acc[1], x0.im, x1.re), -x0.re, x1.im);
        acc[2] = mac(mac(acc[2], x0.re, x2.re), x0.im, x2.im);
        acc[3] = mac(mac(acc[3], x0.im, x2.re), -x0.re, x2.im);
        acc[4] = mac(mac(acc[4], x1.re, x2.re), x1.im, x2.im);
        acc[5] = mac(mac(acc[5], x1.im, x2.re), -x1.re, x2.im);
        acc[6] = mac(mac(acc[6], x1.re, x1.re), x1.im, x1.im);
        acc[7] = mac(mac(acc[7], x2.re, x2.re), x2.im, x2.im);
        x2 = x1, x1 = x0;
    }
    int32_t phi[8];
    ownsNormalizeCov(acc, phi, 8);
    const int32_t p01r = phi[0], p01i = phi[1], p02r = phi[2], p02i = phi[3], p12r = phi[4], p12i = phi[5];
    const int32_t p11 = phi[6], p22 = phi[7];
    int32_t a1r = 0, a1i = 0, a0r = 0, a0i = 0;
    int s = 0;
    bool over = false;
    const int32_t d = mulhi(p11, p22) - (mulhi(p12r, p12r) + mulhi(p12i, p12i));
    if (d > 0) {
        const int32_t r = ownsInvWrap(d, &s);
        a1r = shl_checked(mulhi(r, mulhi(p01r, p12r) - mulhi(p01i, p12i) - mulhi(p02r, p11)), s + 1, over);
        a1i = shl_checked(mulhi(r, mulhi(p01r, p12i) + mulhi(p01i, p12r) - mulhi(p02i, p11)), s + 1, over);
    }
    if (p11 != 0) {
        const int32_t r = ownsInvWrap(p11, &s);
        a0r = shl_checked(-mulhi(r, (p01r >> 3) + mulhi(a1r, p12r) + mulhi(a1i, p12i)), s + 4, over);
        a0i = shl_checked(-mulhi(r, (p01i >> 3) + mulhi(a1i, p12r) - mulhi(a1r, p12i)), s + 4, over);
    }
    auto mag2 = [](int32_t re, int32_t im) { return int64_t{mulhi(re, re)} + mulhi(im, im); };
    if (over || mag2(a0r, a0i) >= 0x40000000 || mag2(a1r, a1i) >= 0x40000000) a0r = a0i = a1r = a1i = 0;
    *pAlpha0 = {a0r, a0i};
    *pAlpha1 = {a1r, a1i};
    return zufOk;
}

// Real elements: phi01, phi02, phi12, phi11, phi22 (sbrNormalizationCovElementsLP).
ZUF_API zufResult zufsPredictOneCoef_SBRLP_32s_D2L(const Zuf32s** ppSrc, Zuf32s* pAlpha0, Zuf32s* pAlpha1, int k,
                                                   int len) {
    const int shift = ownsGuardShift(len, [&](int n, int64_t& mx, int64_t& mn) {
        const int32_t v = ppSrc[n][k];
        mx = v > mx ? v : mx;
        mn = v < mn ? v : mn;
    });
    if (shift < 0) {
        *pAlpha0 = 0;
        *pAlpha1 = 0;
        return zufOk;
    }
    int64_t acc[5] = {};
    int32_t x2 = ppSrc[0][k] >> shift, x1 = ppSrc[1][k] >> shift;
    for (int n = 2; n <= len + 1; ++n) {
        const int32_t x0 = ppSrc[n][k] >> shift;
        acc[0] = mac(acc[0], x0, x1);
        acc[1] = mac(acc[1], x0, x2);
        acc[2] = mac(acc[2], x1, x2);
        acc[3] = mac(acc[3], x1, x1);
        acc[4] = mac(acc[4], x2, x2);
        x2 = x1, x1 = x0;
    }
    int32_t phi[5];
    ownsNormalizeCov(acc, phi, 5);
    const int32_t p01 = phi[0], p02 = phi[1], p12 = phi[2], p11 = phi[3], p22 = phi[4];
    int32_t a1 = 0, a0 = 0;
    int s = 0;
    bool over = false;
    const int32_t d = mulhi(p11, p22) - mulhi(p12, p12);
    if (d > 0) {
        const int32_t r = ownsInvWrap(d, &s);
        a1 = shl_checked(mulhi(r, mulhi(p01, p12) - mulhi(p02, p11)), s + 1, over);
    }
    if (p11 != 0) {
        const int32_t r = ownsInvWrap(p11, &s);
        a0 = shl_checked(-mulhi(r, (p01 >> 3) + mulhi(a1, p12)), s + 4, over);
    }
    if (over || mulhi(a0, a0) >= 0x40000000 || mulhi(a1, a1) >= 0x40000000) a0 = a1 = 0;
    *pAlpha0 = a0;
    *pAlpha1 = a1;
    return zufOk;
}

}  // extern "C"
