// Layer III psychoacoustic model two (mp3_psy.cpp): the layout of the caller's work buffer, which
// after a call holds the intermediate values of the last granule analysed (the tests read them).
//
// Energy scale: the FFTs take the Hann-windowed 16-bit samples times 16, so a line energy
// re^2 + im^2 is 256 times that of the unnormalised FFT of 16-bit samples (the scale of the
// threshold-in-quiet tables) and stays below 2^58. Partition energies, spread energies and
// thresholds are signed 64-bit values in that scale.
#pragma once

#include <cstdint>

#include "mp3/mp3_psy_tables.h"
#include "zufack9/zuf_mp3.h"

namespace zuf {

// One analysed channel (left, right, mid, side) of one granule.
struct PsyChannel_MP3 {
    Zuf64s eLong[64];    // partition energy
    Zuf64s wLong[64];    // unpredictability-weighted partition energy
    Zuf64s ecbLong[64];  // spread energy
    Zuf64s nbLong[64];   // threshold before pre-echo control and threshold in quiet
    Zuf64s thrLong[64];  // final threshold (after the mid/side coupling in joint stereo)
    Zuf64s eShort[3][48];
    Zuf64s ecbShort[3][48];
    Zuf64s thrShort[3][48];
    Zuf64s energyShort[3];  // per short window: the sum over its partitions (block switching)
    Zuf32s ratioLong[21];   // threshold / energy per band, Q31
    Zuf32s ratioShort[36];  // [3 * sfb + window]
    Zuf32s pe;              // perceptual entropy
};

struct PsyWork_MP3 {
    Zuf32s fft[1024];          // windowed samples times 16, as 512 complex values, then their FFT
    Zuf32s longX[2][1026];     // long spectra of left and right, lines 0..512 (re, im)
    Zuf32s shortX[2][3][258];  // short spectra per window, lines 0..128
    Zuf32s cw[2][513];         // unpredictability per line, Q31
    PsyChannel_MP3 ch[4];
    Mp3PsyOutput out[2][4];  // the call's outputs per granule and analysed channel
    Zuf32s outType[2][2];    // block type written per granule and channel
};

static_assert(sizeof(PsyWork_MP3) + 16 <= ZUF_MP3_PSY_WORK_BYTES, "ZUF_MP3_PSY_WORK_BYTES too small");

// The work record inside a caller's buffer (aligned up to 16 bytes).
inline PsyWork_MP3* ownsPsyWork_MP3(Zuf8u* pWork) {
    return reinterpret_cast<PsyWork_MP3*>((reinterpret_cast<uintptr_t>(pWork) + 15) & ~uintptr_t{15});
}

// n samples of one channel, step apart (1 or 2), times a Q15 window: ((pcm win) >> 15) 16 each. The
// SSE2 form equals the scalar reference bit for bit and reads nothing outside the n samples.
void ownsPsyWindow_MP3(const Zuf16s* pcm, int step, const Zuf16s* win, int n, Zuf32s* z);
void ownsPsyWindow_MP3_ref(const Zuf16s* pcm, int step, const Zuf16s* win, int n, Zuf32s* z);

// Sum over j < n of floor(e[j] f[j] / 2^31) for energies 0 <= e[j] < 2^62 and Q31 factors
// 0 <= f[j] < 2^31 whose sum stays below 2^63 (the spreading sums, well below that). The SSE2
// form takes two energy vectors over the same factors and equals the scalar reference for each,
// bit for bit.
void ownsWeightedSums_MP3(const Zuf64s* a, const Zuf64s* b, const Zuf32s* f, int n, Zuf64s* pSa, Zuf64s* pSb);
Zuf64s ownsWeightedSum_MP3_ref(const Zuf64s* e, const Zuf32s* f, int n);

// The model for one frame, arguments checked (zufsPsychoacousticModelTwo_MP3_16s).
void ownsPsychoacousticModelTwo_MP3(const Zuf16s* pcm, Mp3PsyOutput* out, Zuf32s* bound, Mp3SideInfo* si,
                                    Mp3FrameHeader* hdr, Mp3PsyState* st, PsyWork_MP3* w);

}  // namespace zuf
