// The AAC vocabulary shared by the parsers and the spectral tools: window sequences, special
// codebooks, the limits of the records, the band tables of a sampling rate, and the walk over
// window groups that every tool on the grouped, interleaved spectrum uses.
#pragma once

#include <algorithm>

#include "aac/aac_band_tables.h"
#include "zufack9/zuf_core.h"

namespace zuf::aac {

// window_sequence (ISO/IEC 13818-7 Table 8.4).
enum WindowSequence : int { kOnlyLong = 0, kLongStart = 1, kEightShort = 2, kLongStop = 3 };

// Section codebooks with a meaning of their own (ISO/IEC 13818-7 Table 8.2, 14496-3 4.6.13);
// 1..11 are the spectral Huffman books, 12 is reserved.
enum Codebook : int { kZeroHcb = 0, kNoiseHcb = 13, kIntensityHcb2 = 14, kIntensityHcb = 15 };

// Scale-factor bands of a window: at most 51 long (the largest long table) and 15 short.
constexpr int kMaxSfbLong = 51;
constexpr int kMaxSfbShort = 15;

// ms_used holds one flag per band in rows of 60 per window group (AacChanPairElt layout).
constexpr int kMsUsedStride = 60;

constexpr bool is_intensity(int cb) { return cb == kIntensityHcb || cb == kIntensityHcb2; }

// swb_offset list and band count of one sampling rate and window length (128 or 1024).
struct Bands {
    const Zuf16s* offset;
    int count;
};
inline Bands bands(int samplingRateIndex, int winLen) {
    return winLen == 128 ? Bands{_pAACSwbOffsetTableShort[samplingRateIndex], _pAACNumSwbTableShort[samplingRateIndex]}
                         : Bands{_pAACSwbOffsetTableLong[samplingRateIndex], _pAACNumSwbTableLong[samplingRateIndex]};
}

// The group-count check shared by the stereo tools and the inverse quantiser: the status for a
// (winLen, numWinGrp) pair, or zufOk.
constexpr zufResult check_win_groups(int winLen, int numWinGrp) {
    if (winLen == 128) return (numWinGrp >= 1 && numWinGrp <= 8) ? zufOk : zufErrAacWinGrp;
    if (winLen == 1024) return numWinGrp == 1 ? zufOk : zufErrAacWinGrp;
    return zufErrAacWinLen;
}

// Windows of group g as the walk uses them. A group can never reach past the frame: lengths
// are clamped to the windows still left (8 short windows or 1 long one), which leaves every
// well-formed grouping unchanged and keeps a malformed one inside the caller's 1024 values.
struct GroupWalk {
    int windowsLeft;
    explicit GroupWalk(int winLen) : windowsLeft(winLen == 128 ? 8 : 1) {}
    int take(int requested) {
        const int l = std::clamp(requested, 0, windowsLeft);
        windowsLeft -= l;
        return l;
    }
};

}  // namespace zuf::aac
