// Layer III encoder, joint stereo (ISO/IEC 11172-3 2.4.3.4.9 run forwards): mid/side below the
// stereo bound, intensity stereo from it upward, on one granule's two spectra (lines with 26
// fractional bits; short blocks in the bit stream's band order).
//
// Mid/side: M = (L + R) / sqrt(2), S = (L - R) / sqrt(2), each hi(2 (L +- R) sqrt(1/2) in Q31),
// formed as ((L +- R) 1518500250) >> 31 in 64 bits (the same value, without the doubling that
// could overflow).
// Intensity: per band the position is the is_pos whose ratio tan(is_pos pi / 12) lies nearest
// to sqrt(El / Er) on the angle scale: the count of thresholds tan^2((2k - 1) pi / 24) that
// El / Er reaches (6 when the right channel is silent). The band then carries the left channel
// as l' = +-(|l| + |r|) with the sign of the larger of l and r (r on a tie), the right as 0.
#include <cstdint>

#include "common/checks.h"
#include "common/fixed_point.h"
#include "mp3/mp3_enc_math.h"
#include "mp3/mp3_enc_tables.h"

namespace zuf {

namespace {

constexpr Zuf32s kSqrtHalfQ31 = 1518500250;  // 2^(-1/2) in Q31

inline Zuf32s mid_side(Zuf32s a, Zuf32s b, bool diff) {
    const int64_t s = diff ? int64_t{a} - b : int64_t{a} + b;
    return static_cast<Zuf32s>((s * kSqrtHalfQ31) >> 31);
}

void ms_lines(Zuf32s* l, Zuf32s* r, int from, int to) {
    for (int i = from; i < to; ++i) {
        const Zuf32s m = mid_side(l[i], r[i], false), s = mid_side(l[i], r[i], true);
        l[i] = m;
        r[i] = s;
    }
}

inline Zuf32u magnitude(Zuf32s v) { return v < 0 ? 0u - static_cast<Zuf32u>(v) : static_cast<Zuf32u>(v); }

// El / Er in Q15, saturated to 2^31 - 1, from the normalised energies: El = ml 2^el,
// Er = mr 2^er, 1 / (mr / 2^31) = rec / 2^30, so El / Er = ml rec 2^(el - er - 61).
Zuf32s energy_ratio_q15(Zuf64u el64, Zuf64u er64) {
    // The sums are non-negative; halving keeps them in the signed range for the normaliser.
    int el, er;
    const Zuf32s ml = ownsNorm64_Audio_64s32s(static_cast<Zuf64s>(el64 >> 1), &el);
    const Zuf32s mr = ownsNorm64_Audio_64s32s(static_cast<Zuf64s>(er64 >> 1), &er);
    if (ml == 0) return 0;
    const Zuf64u prod = static_cast<Zuf64u>(ml) * static_cast<Zuf64u>(ownsReciprocal_Audio_32s(mr));  // < 2^62
    const int shift = el - er - 61 + 15;
    if (shift >= 0) return shift > 0 || prod > INT32_MAX ? INT32_MAX : static_cast<Zuf32s>(prod);
    if (shift <= -64) return 0;
    const Zuf64u q = prod >> -shift;
    return q > INT32_MAX ? INT32_MAX : static_cast<Zuf32s>(q);
}

// One intensity band of n lines (step 1) at l, r; returns the position.
int intensity_band(Zuf32s* l, Zuf32s* r, int n) {
    Zuf64u el = 0, er = 0;  // wrapping sums (the lines of an encoder stay far below 2^27)
    for (int i = 0; i < n; ++i) {
        el += static_cast<Zuf64u>(static_cast<int64_t>(l[i]) * l[i]);
        er += static_cast<Zuf64u>(static_cast<int64_t>(r[i]) * r[i]);
    }
    int pos = 6;
    if (er != 0) {
        const Zuf32s ratio = energy_ratio_q15(el, er);
        pos = 0;
        while (pos < 6 && ratio >= pIsRatioSqrTable[pos + 1]) ++pos;
    }
    for (int i = 0; i < n; ++i) {
        const Zuf32u ml = magnitude(l[i]), mr = magnitude(r[i]);
        const bool negative = (ml > mr) ? l[i] < 0 : r[i] < 0;
        const Zuf32u sum = ml + mr;
        l[i] = static_cast<Zuf32s>(negative ? 0u - sum : sum);
        r[i] = 0;
    }
    return pos;
}

}  // namespace

// The whole granule (arguments checked; with either tool on, the two block types are equal).
void ownsJointStereoEncode_MP3(Zuf32s* l, Zuf32s* r, Zuf8u* sf_r, const Mp3FrameHeader* hdr, const Mp3SideInfo* si,
                               int* bound) {
    const bool joint = hdr->mode == 1;
    const bool ms = joint && (hdr->mode_extension & 2), is = joint && (hdr->mode_extension & 1);
    const bool short_blocks = si[0].block_type == 2;
    if (!is) {
        if (short_blocks)
            bound[0] = bound[1] = bound[2] = 13;
        else
            bound[0] = 22;
    }
    if (!ms && !is) return;
    const int row = (hdr->ID == 1 ? 3 : 0) + (hdr->sampling_frequency == 1 ? 1 : hdr->sampling_frequency == 2 ? 2 : 0);
    if (!short_blocks) {
        const Zuf16s* sfb = _zuf_pMP3SfbTableLong + 23 * row;
        const int b0 = bound[0] < 0 ? 0 : bound[0] > 22 ? 22 : bound[0];
        if (ms) ms_lines(l, r, 0, sfb[b0]);
        if (is)
            for (int b = b0; b < 22; ++b)
                sf_r[b] = static_cast<Zuf8u>(intensity_band(l + sfb[b], r + sfb[b], sfb[b + 1] - sfb[b]));
        return;
    }
    const Zuf16s* sfb = _zuf_pMP3SfbTableShort + 14 * row;
    for (int w = 0; w < 3; ++w) {
        const int bw = bound[w] < 0 ? 0 : bound[w] > 13 ? 13 : bound[w];
        for (int b = 0; b < 13; ++b) {
            const int width = sfb[b + 1] - sfb[b], start = 3 * sfb[b] + w * width;
            if (b < bw) {
                if (ms) ms_lines(l, r, start, start + width);
            } else if (is) {
                sf_r[3 * b + w] = static_cast<Zuf8u>(intensity_band(l + start, r + start, width));
            }
        }
    }
}

}  // namespace zuf

using namespace zuf;

extern "C" ZUF_API zufResult zufsJointStereoEncode_MP3_32s_I(Zuf32s* pSrcDstXrL, Zuf32s* pSrcDstXrR,
                                                             Zuf8u* pDstScaleFactorR,
                                                             const Mp3FrameHeader* pFrameHeader,
                                                             const Mp3SideInfo* pSideInfo, int* pIsSfbBound) {
    ZUF_REQUIRE(nonnull(pSrcDstXrL, pSrcDstXrR, pDstScaleFactorR, pFrameHeader, pSideInfo, pIsSfbBound), zufErrNullPtr);
    const bool joint = pFrameHeader->mode == 1 && (pFrameHeader->mode_extension & 3) != 0;
    ZUF_REQUIRE(!joint || pSideInfo[0].block_type == pSideInfo[1].block_type, zufErrMp3SideInfo);
    ownsJointStereoEncode_MP3(pSrcDstXrL, pSrcDstXrR, pDstScaleFactorR, pFrameHeader, pSideInfo, pIsSfbBound);
    return zufOk;
}
