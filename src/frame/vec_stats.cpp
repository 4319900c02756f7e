// Statistics: the extremes of a 16-bit vector and the sample standard deviation of a float one.
#include <cmath>

#include "common/checks.h"
#include "common/simd.h"
#include "frame/vec_kernels.h"

namespace zuf {
namespace {

// Sample variance from the sums S = sum x and Q = sum x^2 (extended precision, x87 long double
// on every x86 target): (n Q - S^2) / (n (n - 1)), rounded to double; cancellation can make it
// slightly negative for near-constant data, which reads as 0. The root is taken in double and
// rounded to single precision.
Zuf32f std_dev_from_sums(long double s, long double q, int len) {
    const long double n = len;
    const double var = static_cast<double>((n * q - s * s) / (n * (n - 1.0L)));
    if (var < 0.0) return 0.0f;
    return static_cast<Zuf32f>(std::sqrt(var));
}

// The four lane sums are combined in a fixed order, lane 0 first.
Zuf32f combine_lanes(const float s[4], const float q[4], int len) {
    const long double sum = ((static_cast<long double>(s[0]) + s[1]) + s[2]) + s[3];
    const long double sq = ((static_cast<long double>(q[0]) + q[1]) + q[2]) + q[3];
    return std_dev_from_sums(sum, sq, len);
}

}  // namespace

void ownsMinMax_16s_ref(const Zuf16s* pSrc, int len, Zuf16s* pMin, Zuf16s* pMax) {
    Zuf16s lo = pSrc[0], hi = pSrc[0];
    for (int i = 1; i < len; ++i) {
        lo = pSrc[i] < lo ? pSrc[i] : lo;
        hi = pSrc[i] > hi ? pSrc[i] : hi;
    }
    *pMin = lo;
    *pMax = hi;
}

// Element i goes to lane i % 4; each lane adds x and the single-precision square x * x.
Zuf32f ownsStdDevFast_32f_ref(const Zuf32f* pSrc, int len) {
    float s[4] = {0.0f, 0.0f, 0.0f, 0.0f}, q[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    for (int i = 0; i < len; ++i) {
        const float x = pSrc[i];
        s[i & 3] += x;
        q[i & 3] += x * x;
    }
    return combine_lanes(s, q, len);
}

// The same lanes as the scalar loop: a 128-bit register of sums holds lanes 0..3, and the
// elements past the last full group of four go to their own lanes.
Zuf32f ownsStdDevFast_32f_sse2(const Zuf32f* pSrc, int len) {
    __m128 vs = _mm_setzero_ps(), vq = _mm_setzero_ps();
    int i = 0;
    for (; i + 4 <= len; i += 4) {
        const __m128 x = loadu_f128(pSrc + i);
        vs = _mm_add_ps(vs, x);
        vq = _mm_add_ps(vq, _mm_mul_ps(x, x));
    }
    alignas(16) float s[4], q[4];
    store_f128(s, vs);
    store_f128(q, vq);
    for (; i < len; ++i) {
        const float x = pSrc[i];
        s[i & 3] += x;
        q[i & 3] += x * x;
    }
    return combine_lanes(s, q, len);
}

// Squares of floats are exact in long double (48 significant bits of 64).
Zuf32f ownsStdDevAccurate_32f(const Zuf32f* pSrc, int len) {
    long double s = 0.0L, q = 0.0L;
    for (int i = 0; i < len; ++i) {
        const long double x = pSrc[i];
        s += x;
        q += x * x;
    }
    return std_dev_from_sums(s, q, len);
}

}  // namespace zuf

extern "C" ZUF_API zufResult zufsMinMax_16s(const Zuf16s* pSrc, int len, Zuf16s* pMin, Zuf16s* pMax) {
    ZUF_REQUIRE(zuf::nonnull(pSrc, pMin, pMax), zufErrNullPtr);
    ZUF_REQUIRE(len >= 1, zufErrSize);
    zuf::ownsMinMax_16s_ref(pSrc, len, pMin, pMax);
    return zufOk;
}

// hint 1: the fast path; any other value: the accurate one. A sample deviation needs len >= 2.
extern "C" ZUF_API zufResult zufsStdDev_32f(const Zuf32f* pSrc, int len, Zuf32f* pStdDev, int hint) {
    ZUF_REQUIRE(zuf::nonnull(pSrc, pStdDev), zufErrNullPtr);
    ZUF_REQUIRE(len >= 2, zufErrSize);
    *pStdDev = hint == 1 ? zuf::ownsStdDevFast_32f_sse2(pSrc, len) : zuf::ownsStdDevAccurate_32f(pSrc, len);
    return zufOk;
}
