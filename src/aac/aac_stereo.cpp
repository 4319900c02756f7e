// Joint stereo of the AAC decoder (ISO/IEC 13818-7 12.1 M/S, 12.2 intensity) on Q3 spectra in
// the grouped, interleaved order, and the reordering of a short-window frame into eight
// consecutive windows.
#include <cstdint>
#include <cstring>

#include "aac/aac_spectral.h"
#include "aac/aac_stereo_tables.h"
#include "common/checks.h"
#include "common/fixed_point.h"

namespace zuf {
namespace {

void ms_matrix(Zuf32s* l, Zuf32s* r, int n) {
    for (int i = 0; i < n; ++i) {
        const int32_t a = l[i], b = r[i];
        l[i] = wrap_add(a, b);
        r[i] = wrap_sub(a, b);
    }
}

void ms_stereo(Zuf32s* pL, Zuf32s* pR, int msMaskPresent, const Zuf8u* pMsUsed, Zuf8u* pSfbCb, int numWinGrp,
               const int* pWinGrpLen, int maxSfb, const aac::Bands& b, int winLen) {
    aac::GroupWalk walk(winLen);
    int groupStart = 0;
    for (int g = 0; g < numWinGrp; ++g, pSfbCb += maxSfb, pMsUsed += aac::kMsUsedStride) {
        const int l = walk.take(pWinGrpLen[g]);
        int p = groupStart;
        for (int sfb = 0; sfb < maxSfb; ++sfb) {
            const int run = (b.offset[sfb + 1] - b.offset[sfb]) * l;
            const int cb = pSfbCb[sfb];
            if (aac::is_intensity(cb)) {
                // ms_used on an intensity band inverts the intensity sign (ISO/IEC 13818-7 12.2.3).
                if (msMaskPresent == 1 && pMsUsed[sfb]) pSfbCb[sfb] = static_cast<Zuf8u>(cb ^ 1);
            } else if (cb != aac::kNoiseHcb && (msMaskPresent == 2 || pMsUsed[sfb])) {
                ms_matrix(pL + p, pR + p, run);
            }
            p += run;
        }
        groupStart += l * winLen;
    }
}

// R = L 2^(-p/4) by the path that keeps the most bits. T[i] = 2^(-(i+1)/4), Q31, so T[p + 3]
// is 2^(-p/4) / 2 for p = -3..7, and hi(4 L T[p + 3]) = L 2^(-p/4); the two outer paths split
// 2^(-p/4) into a power of two and the factor 2^(-1 - (p & 3)/4) (or 2^(r/4 - 1)).
inline int32_t intensity_scale(int32_t l, int p) {
    const int32_t* t = _pAacIsSqrt14_32s;
    if (p >= -3 && p <= 7) return static_cast<int32_t>((int64_t{t[p + 3]} * l) >> 30);  // hi(T 4L)
    if (p >= 8) return mulhi(l, t[3 + (p & 3)]) >> std::min((p >> 2) - 2, 31);
    const int q = (-p) >> 2, r = (-p) & 3;
    // hi((L << (q + 2)) T): the shifted value is the 32-bit one, as the left shift itself
    // leaves no headroom for values that do not fit.
    const int32_t shifted = q + 2 > 31 ? 0 : static_cast<int32_t>(static_cast<uint32_t>(l) << (q + 2));
    return mulhi(shifted, t[3 - r]);
}

void is_stereo(const Zuf32s* pL, Zuf32s* pR, const Zuf16s* pPos, const Zuf8u* pSfbCb, int numWinGrp,
               const int* pWinGrpLen, int maxSfb, const aac::Bands& b, int winLen) {
    aac::GroupWalk walk(winLen);
    int groupStart = 0;
    for (int g = 0; g < numWinGrp; ++g, pSfbCb += maxSfb, pPos += maxSfb) {
        const int l = walk.take(pWinGrpLen[g]);
        int p = groupStart;
        for (int sfb = 0; sfb < maxSfb; ++sfb) {
            const int run = (b.offset[sfb + 1] - b.offset[sfb]) * l;
            const int cb = pSfbCb[sfb];
            if (aac::is_intensity(cb)) {
                const int pos = pPos[sfb];
                for (int i = p; i < p + run; ++i) {
                    const int32_t v = intensity_scale(pL[i], pos);
                    pR[i] = cb == aac::kIntensityHcb ? v : wrap_sub(0, v);
                }
            }
            p += run;
        }
        groupStart += l * winLen;
    }
}

void deinterleave(const Zuf32s* pSrc, Zuf32s* pDst, int numWinGrp, const int* pWinGrpLen, int maxSfb,
                  const aac::Bands& b) {
    aac::GroupWalk walk(128);
    int firstWin = 0;
    const int top = b.offset[maxSfb];
    for (int g = 0; g < numWinGrp; ++g) {
        const int l = walk.take(pWinGrpLen[g]);
        const Zuf32s* src = pSrc + firstWin * 128;
        for (int sfb = 0; sfb < maxSfb; ++sfb) {
            const int w = b.offset[sfb + 1] - b.offset[sfb];
            for (int k = 0; k < l; ++k, src += w)
                std::memcpy(pDst + (firstWin + k) * 128 + b.offset[sfb], src, sizeof(Zuf32s) * w);
        }
        for (int k = 0; k < l; ++k) std::memset(pDst + (firstWin + k) * 128 + top, 0, sizeof(Zuf32s) * (128 - top));
        firstWin += l;
    }
}

}  // namespace
}  // namespace zuf

extern "C" ZUF_API zufResult zufsDecodeMsStereo_AAC_32s_I(Zuf32s* pSrcDstL, Zuf32s* pSrcDstR, int msMaskPresent,
                                                          const Zuf8u* pMsUsed, Zuf8u* pSfbCb, int numWinGrp,
                                                          const int* pWinGrpLen, int maxSfb, int samplingRateIndex,
                                                          int winLen) {
    ZUF_REQUIRE(zuf::nonnull(pSrcDstL, pSrcDstR, pMsUsed, pSfbCb, pWinGrpLen), zufErrNullPtr);
    const zufResult grouping = zuf::aac::check_win_groups(winLen, numWinGrp);
    ZUF_REQUIRE(grouping == zufOk, grouping);
    ZUF_REQUIRE(zuf::in_range(maxSfb, 0, 51), zufErrAacMaxSfb);
    ZUF_REQUIRE(zuf::in_range(samplingRateIndex, 0, 11), zufErrAacSmplRateIdx);
    ZUF_REQUIRE(zuf::in_range(msMaskPresent, 1, 2), zufErrAacMsMask);
    const zuf::aac::Bands b = zuf::aac::bands(samplingRateIndex, winLen);
    ZUF_REQUIRE(maxSfb <= b.count, zufErrAacMaxSfb);
    zuf::ms_stereo(pSrcDstL, pSrcDstR, msMaskPresent, pMsUsed, pSfbCb, numWinGrp, pWinGrpLen, maxSfb, b, winLen);
    return zufOk;
}

extern "C" ZUF_API zufResult zufsDecodeIsStereo_AAC_32s(const Zuf32s* pSrcL, Zuf32s* pDstR, const Zuf16s* pScaleFactor,
                                                        const Zuf8u* pSfbCb, int numWinGrp, const int* pWinGrpLen,
                                                        int maxSfb, int samplingRateIndex, int winLen) {
    ZUF_REQUIRE(zuf::nonnull(pSrcL, pDstR, pScaleFactor, pSfbCb, pWinGrpLen), zufErrNullPtr);
    const zufResult grouping = zuf::aac::check_win_groups(winLen, numWinGrp);
    ZUF_REQUIRE(grouping == zufOk, grouping);
    ZUF_REQUIRE(zuf::in_range(maxSfb, 0, 51), zufErrAacMaxSfb);
    ZUF_REQUIRE(zuf::in_range(samplingRateIndex, 0, 11), zufErrAacSmplRateIdx);
    const zuf::aac::Bands b = zuf::aac::bands(samplingRateIndex, winLen);
    ZUF_REQUIRE(maxSfb <= b.count, zufErrAacMaxSfb);
    zuf::is_stereo(pSrcL, pDstR, pScaleFactor, pSfbCb, numWinGrp, pWinGrpLen, maxSfb, b, winLen);
    return zufOk;
}

extern "C" ZUF_API zufResult zufsDeinterleaveSpectrum_AAC_32s(const Zuf32s* pSrc, Zuf32s* pDst, int numWinGrp,
                                                              const int* pWinGrpLen, int maxSfb, int samplingRateIndex,
                                                              int winLen) {
    ZUF_REQUIRE(zuf::nonnull(pSrc, pDst, pWinGrpLen), zufErrNullPtr);
    ZUF_REQUIRE(winLen == 128, zufErrAacWinLen);
    ZUF_REQUIRE(zuf::in_range(numWinGrp, 1, 8), zufErrAacWinGrp);
    ZUF_REQUIRE(zuf::in_range(maxSfb, 0, 51), zufErrAacMaxSfb);
    ZUF_REQUIRE(zuf::in_range(samplingRateIndex, 0, 11), zufErrAacSmplRateIdx);
    const zuf::aac::Bands b = zuf::aac::bands(samplingRateIndex, 128);
    ZUF_REQUIRE(maxSfb <= b.count, zufErrAacMaxSfb);
    zuf::deinterleave(pSrc, pDst, numWinGrp, pWinGrpLen, maxSfb, b);
    return zufOk;
}
