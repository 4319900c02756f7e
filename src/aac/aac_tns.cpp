// Temporal noise shaping (ISO/IEC 13818-7 8.8): the decoder filters ranges of the Q3 spectrum
// with the all-pole filter 1 / A(z), A(z) = 1 + sum a_j z^-j, the encoder with A(z).
#include "aac/aac_tns.h"

#include <algorithm>

#include "aac/aac_spectral.h"
#include "aac/aac_tns_tables.h"
#include "common/checks.h"
#include "common/fixed_point.h"

namespace zuf {

zufResult ownsTnsDecodeCoef(const Zuf8s* pCoef, int order, int coefRes, TnsFilter* pFilt) {
    const Zuf32s* iq = pIQTns[coefRes - 3];
    // Step-up recursion from the reflection coefficients k_m (Q31): the 64-bit values stay in
    // Q31 while the sums grow (at most C(12, 6) = 924 times one); each update multiplies k_m by
    // the partner coefficient rounded to Q21, and shifts the Q52 product back by 21.
    int64_t a[kTnsMaxOrder + 1] = {};
    for (int m = 1; m <= order; ++m) {
        const int t = pCoef[m - 1];
        if (t < -8 || t > 7) return zufErrAacTnsCoef;
        const int64_t k = iq[t + 8];
        a[m] = k;
        for (int i = 1; i <= m / 2; ++i) {
            const int64_t u = a[i], v = a[m - i];
            a[i] = u + ((k * ((v + 512) >> 10)) >> 21);
            a[m - i] = v + ((k * ((u + 512) >> 10)) >> 21);
        }
    }
    // Shared Q format: the fewest fraction bits dropped that bring every |a_i| to 2^26 or less,
    // so that twelve products with 32-bit values and x 2^q fit the 64-bit accumulator.
    int64_t mx = 0;
    for (int i = 1; i <= order; ++i) mx = std::max(mx, a[i] < 0 ? -a[i] : a[i]);
    int q = 31;
    if (mx > 0x4000000) {
        do {
            mx >>= 1;
            --q;
        } while (mx > 0x4000000);
    }
    pFilt->order = order;
    pFilt->q = q;
    pFilt->a[0] = 0;
    for (int i = 1; i <= order; ++i) pFilt->a[i] = static_cast<int32_t>(a[i] >> (31 - q));
    return zufOk;
}

// The previous outputs of the all-pole filter are the values already written in the direction
// of filtering, so the filter needs no state of its own.
void ownsTnsArFilter(Zuf32s* p, int size, int step, const TnsFilter& f) {
    const int q = f.q;
    for (int n = 0; n < size; ++n) {
        int64_t acc = int64_t{p[n * step]} * (int64_t{1} << q);
        const int taps = std::min(n, f.order);
        for (int j = taps; j >= 1; --j) acc -= int64_t{f.a[j]} * p[(n - j) * step];
        p[n * step] = static_cast<int32_t>(acc >> q);
    }
}

void ownsTnsMaFilter(Zuf32s* p, int size, int step, const TnsFilter& f) {
    const int q = f.q;
    // Previous inputs, newest first.
    int32_t hist[kTnsMaxOrder] = {};
    for (int n = 0; n < size; ++n) {
        const int32_t x = p[n * step];
        int64_t acc = int64_t{x} * (int64_t{1} << q);
        for (int j = f.order; j >= 1; --j) acc += int64_t{f.a[j]} * hist[j - 1];
        p[n * step] = static_cast<int32_t>(acc >> q);
        for (int j = f.order - 1; j >= 1; --j) hist[j] = hist[j - 1];
        hist[0] = x;
    }
}

namespace {

template <bool kEncode>
zufResult tns(Zuf32s* pSrcDst, const int* pNumFilt, const int* pFiltLength, const int* pFiltOrder, const int* pCoefRes,
              const Zuf8s* pCoef, const int* pDirection, int maxSfb, int samplingRateIndex, int winLen) {
    const bool isShort = winLen == 128;
    const aac::Bands b = aac::bands(samplingRateIndex, winLen);
    const int windows = isShort ? 8 : 1;
    const int maxFilt = isShort ? 1 : 3, maxOrder = isShort ? 7 : 12;
    const int maxBand = std::min(maxSfb, static_cast<int>(_pAACTnsMaxBandTable[samplingRateIndex][isShort ? 1 : 0]));
    for (int w = 0; w < windows; ++w) {
        Zuf32s* winSpec = pSrcDst + w * 128;
        const int nFilt = pNumFilt[w];
        if (nFilt < 0 || nFilt > maxFilt) return zufErrAacTnsNumFilt;
        int top = b.count;
        for (int f = 0; f < nFilt; ++f) {
            const int length = *pFiltLength++;
            if (length < 0 || length > b.count) return zufErrAacTnsLength;
            const int bottom = std::max(top - length, 0);
            const int order = *pFiltOrder++;
            if (order < 0 || order > maxOrder) return zufErrAacTnsOrder;
            if (order != 0) {
                const int res = pCoefRes[w];
                if (res != 3 && res != 4) return zufErrAacTnsCoefRes;
                TnsFilter filt;
                const zufResult st = ownsTnsDecodeCoef(pCoef, order, res, &filt);
                if (st != zufOk) return st;
                pCoef += order;
                const int start = b.offset[std::min(bottom, maxBand)];
                const int end = b.offset[std::min(top, maxBand)];
                const int direction = *pDirection++;
                if (direction != 0 && direction != 1) return zufErrAacTnsDirect;
                if (end > start) {
                    Zuf32s* first = direction ? winSpec + end - 1 : winSpec + start;
                    const int step = direction ? -1 : 1;
                    if constexpr (kEncode)
                        ownsTnsMaFilter(first, end - start, step, filt);
                    else
                        ownsTnsArFilter(first, end - start, step, filt);
                }
            }
            top = bottom;
        }
    }
    return zufOk;
}

template <bool kEncode>
zufResult tns_checked(Zuf32s* pSrcDst, const int* pNumFilt, const int* pFiltLength, const int* pFiltOrder,
                      const int* pCoefRes, const Zuf8s* pCoef, const int* pDirection, int maxSfb, int profile,
                      int samplingRateIndex, int winLen) {
    ZUF_REQUIRE(nonnull(pSrcDst, pNumFilt, pFiltLength, pFiltOrder, pCoefRes, pCoef, pDirection), zufErrNullPtr);
    ZUF_REQUIRE(winLen == 128 || winLen == 1024, zufErrAacWinLen);
    ZUF_REQUIRE(!kEncode || profile == 1, zufErrAacTnsProfile);
    ZUF_REQUIRE(in_range(samplingRateIndex, 0, 11), zufErrAacSmplRateIdx);
    ZUF_REQUIRE(in_range(maxSfb, 0, 51), zufErrAacMaxSfb);
    ZUF_REQUIRE(maxSfb <= aac::bands(samplingRateIndex, winLen).count, zufErrAacMaxSfb);
    return tns<kEncode>(pSrcDst, pNumFilt, pFiltLength, pFiltOrder, pCoefRes, pCoef, pDirection, maxSfb,
                        samplingRateIndex, winLen);
}

}  // namespace
}  // namespace zuf

extern "C" ZUF_API zufResult zufsDecodeTNS_AAC_32s_I(Zuf32s* pSrcDst, const int* pNumFilt, const int* pFiltLength,
                                                     const int* pFiltOrder, const int* pCoefRes, const Zuf8s* pCoef,
                                                     const int* pDirection, int maxSfb, int profile,
                                                     int samplingRateIndex, int winLen) {
    return zuf::tns_checked<false>(pSrcDst, pNumFilt, pFiltLength, pFiltOrder, pCoefRes, pCoef, pDirection, maxSfb,
                                   profile, samplingRateIndex, winLen);
}

extern "C" ZUF_API zufResult zufsEncodeTNS_AAC_32s_I(Zuf32s* pSrcDst, const int* pNumFilt, const int* pFiltLength,
                                                     const int* pFiltOrder, const int* pCoefRes, const Zuf8s* pCoef,
                                                     const int* pDirection, int maxSfb, int profile,
                                                     int samplingRateIndex, int winLen) {
    return zuf::tns_checked<true>(pSrcDst, pNumFilt, pFiltLength, pFiltOrder, pCoefRes, pCoef, pDirection, maxSfb,
                                  profile, samplingRateIndex, winLen);
}
