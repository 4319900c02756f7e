// Perceptual noise substitution (ISO/IEC 14496-3 4.6.13): bands coded with NOISE_HCB are
// replaced by pseudo-random noise of the transmitted energy, 2^(n/4) per window, in Q3.
//
// Layout for short windows: the grouped, interleaved order of the other spectral tools. In
// each group the bands follow one another and a band holds the group's windows one after the
// other; every window of a noise band gets its own noise vector, normalised on its own, and
// the windows of a band are generated one after the other. Noise energies are per group
// (maxSfb entries per group), like scale factors. Generating a band's windows together is what
// lets the second channel of a pair regenerate the same noise from one saved seed per band
// and group.
#include "aac/aac_pns.h"

#include <cstdint>

#include "aac/aac_spectral.h"
#include "aac/aac_stereo_tables.h"
#include "common/checks.h"
#include "common/fixed_point.h"

namespace zuf {

void ownsGenerateRandVec_AAC(Zuf32s* pDst, int w, Zuf32u* pSeed) {
    // Raw noise: v = (A seed) >> 30 with A = 2^64 / 10^10 / sqrt(w), the seed read as a signed
    // value; E collects sum(v^2) / 2^33.
    const int64_t a = _Tab_NormEnergy[w - 1];
    uint32_t seed = *pSeed;
    uint32_t energy = 0;
    for (int i = 0; i < w; ++i) {
        seed = seed * 1664525u + 1013904223u;
        const auto v = static_cast<int32_t>((a * static_cast<int32_t>(seed)) >> 30);
        pDst[i] = v;
        energy += static_cast<uint32_t>(mulhi(v, v) >> 1);
    }
    *pSeed = seed;

    // m = E 2^e in [2^30, 2^31) (E = 0, which no real band produces, keeps e = 0).
    int e = 0;
    uint32_t m = energy;
    while (m != 0 && m < 0x40000000u) {
        m <<= 1;
        ++e;
    }
    // r ~ 2^30 / sqrt(m / 2^31): a quadratic in m, the square taken from the unsigned product.
    const auto mm = static_cast<int64_t>((uint64_t{m} * m) >> 32);
    const auto r = static_cast<int32_t>((int64_t{0x239180000000} - 16760 * int64_t{m} + 13563 * mm) >> 14);
    const int half = e / 2;
    for (int i = 0; i < w; ++i) {
        int64_t q = (int64_t{r} * pDst[i]) >> 30;
        q = half - 1 > 0 ? static_cast<int64_t>(static_cast<uint64_t>(q) << (half - 1)) : q >> (1 - half);
        // sqrt(2), Q30. The product is formed modulo 2^64: it fits for every band the generator
        // can meet (E near 2^29, e of 1 or 2) and stays defined for seeds that starve E.
        if (e & 1) q = static_cast<int64_t>(static_cast<uint64_t>(q) * 0x5A827999u) >> 30;
        pDst[i] = static_cast<int32_t>(q);
    }
}

namespace {

// S = 2^(n/4) 2^10 (Q30 quarter power shifted down by 20); hi(v S) >> 6 = v 2^(n/4) / 2^28,
// which takes unit-energy Q31 noise to energy 2^(n/4) in Q3. Sound for n = 0..83.
inline int32_t noise_scale(Zuf16s energy) {
    const auto n = static_cast<uint16_t>(energy);
    return static_cast<int32_t>(((int64_t{1} << ((n >> 2) & 31)) * _TAB_PowQuater[n & 3]) >> 20);
}

void noise_band(Zuf32s* p, int width, int windows, Zuf16s energy, Zuf32u* pSeed) {
    const int32_t s = noise_scale(energy);
    for (int k = 0; k < windows; ++k, p += width) {
        ownsGenerateRandVec_AAC(p, width, pSeed);
        for (int i = 0; i < width; ++i) p[i] = mulhi(p[i], s) >> 6;
    }
}

// channel: -1 for a single channel; 0 or 1 for the channels of a pair (see the header).
void pns(Zuf32s* pSrcDst, int* pLtpFlag, const Zuf8u* pSfbCb, const Zuf16s* pEnergy, int maxSfb, int numWinGrp,
         const int* pWinGrpLen, const aac::Bands& b, int winLen, Zuf32u* pSeed, int channel, const Zuf8u* pMsUsed,
         Zuf32u* pNoiseState) {
    aac::GroupWalk walk(winLen);
    int groupStart = 0;
    for (int g = 0; g < numWinGrp; ++g) {
        const int l = walk.take(pWinGrpLen[g]);
        int p = groupStart;
        for (int sfb = 0; sfb < maxSfb; ++sfb) {
            const int width = b.offset[sfb + 1] - b.offset[sfb];
            const int idx = g * maxSfb + sfb;
            if (pSfbCb[idx] == aac::kNoiseHcb && l > 0) {
                if (numWinGrp == 1) pLtpFlag[sfb + 1] = 0;
                if (channel == 0) {
                    pNoiseState[idx] = *pSeed;
                    noise_band(pSrcDst + p, width, l, pEnergy[idx], pSeed);
                } else if (channel == 1 && pMsUsed[g * aac::kMsUsedStride + sfb] == 1) {
                    Zuf32u shared = pNoiseState[idx];
                    noise_band(pSrcDst + p, width, l, pEnergy[idx], &shared);
                } else {
                    noise_band(pSrcDst + p, width, l, pEnergy[idx], pSeed);
                }
            }
            p += width * l;
        }
        groupStart += l * winLen;
    }
}

// The checks both noise functions share, after their null-pointer checks. Two go beyond the
// classic list: indices 12..16 are refused like everywhere else (there are no band tables for
// them), and maxSfb must not exceed the band count, which the walk needs to stay inside the
// tables.
zufResult check_pns(int maxSfb, int numWinGrp, int samplingRateIndex, int winLen) {
    ZUF_REQUIRE(in_range(maxSfb, 0, 51), zufErrAacMaxSfb);
    ZUF_REQUIRE(in_range(numWinGrp, 1, 8), zufErrAacWinGrp);
    ZUF_REQUIRE(in_range(samplingRateIndex, 0, 11), zufErrAacSmplRateIdx);
    ZUF_REQUIRE(winLen == 128 || winLen == 1024, zufErrAacWinLen);
    ZUF_REQUIRE(winLen == 128 || numWinGrp == 1, zufErrAacWinGrp);
    ZUF_REQUIRE(maxSfb <= aac::bands(samplingRateIndex, winLen).count, zufErrAacMaxSfb);
    return zufOk;
}

}  // namespace
}  // namespace zuf

extern "C" ZUF_API zufResult zufsDecodePNS_AAC_32s(Zuf32s* pSrcDst, int* pLtpFlag, const Zuf8u* pSfbCb,
                                                   const Zuf16s* pScaleFactor, int maxSfb, int numWinGrp,
                                                   const int* pWinGrpLen, int samplingRateIndex, int winLen,
                                                   Zuf32u* pSeed) {
    ZUF_REQUIRE(zuf::nonnull(pSrcDst, pLtpFlag, pSfbCb, pScaleFactor, pWinGrpLen, pSeed), zufErrNullPtr);
    const zufResult st = zuf::check_pns(maxSfb, numWinGrp, samplingRateIndex, winLen);
    ZUF_REQUIRE(st == zufOk, st);
    zuf::pns(pSrcDst, pLtpFlag, pSfbCb, pScaleFactor, maxSfb, numWinGrp, pWinGrpLen,
             zuf::aac::bands(samplingRateIndex, winLen), winLen, pSeed, -1, nullptr, nullptr);
    return zufOk;
}

extern "C" ZUF_API zufResult zufsDecodeMsPNS_AAC_32s(Zuf32s* pSrcDst, int* pLtpFlag, const Zuf8u* pSfbCb,
                                                     const Zuf16s* pScaleFactor, int maxSfb, int numWinGrp,
                                                     const int* pWinGrpLen, int samplingRateIndex, int winLen,
                                                     Zuf32u* pSeed, int channel, const Zuf8u* pMsUsed,
                                                     Zuf32u* pNoiseState) {
    ZUF_REQUIRE(zuf::nonnull(pSrcDst, pLtpFlag, pSfbCb, pScaleFactor, pWinGrpLen, pSeed), zufErrNullPtr);
    // The saved seeds (channels 0 and 1) and the ms_used flags (channel 1) are needed only by the
    // channels that read them.
    ZUF_REQUIRE(channel != 0 || zuf::nonnull(pNoiseState), zufErrNullPtr);
    ZUF_REQUIRE(channel != 1 || zuf::nonnull(pNoiseState, pMsUsed), zufErrNullPtr);
    const zufResult st = zuf::check_pns(maxSfb, numWinGrp, samplingRateIndex, winLen);
    ZUF_REQUIRE(st == zufOk, st);
    zuf::pns(pSrcDst, pLtpFlag, pSfbCb, pScaleFactor, maxSfb, numWinGrp, pWinGrpLen,
             zuf::aac::bands(samplingRateIndex, winLen), winLen, pSeed, channel == 0 || channel == 1 ? channel : -1,
             pMsUsed, pNoiseState);
    return zufOk;
}
