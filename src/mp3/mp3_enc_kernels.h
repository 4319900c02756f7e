// Internal kernels of the Layer III encoder front with their scalar references, for the exported
// functions and for the tests that hold each vector kernel against its reference.
#pragma once

#include "zufack9/zuf_mp3.h"

namespace zuf {

// Analysis windowing and folding (ISO/IEC 11172-3 Annex C.1.3): Y[i] = (sum_j C[i + 64 j]
// X[i + 64 j] + 2^19) >> 20 for i = 0..63, with X[i] = pcm[(511 - i) step] and C in Q30
// (_pEncWinC_MP3), the products summed exactly. Y carries the PCM scale times 2^10.
void ownsAnalysisWindow_MP3_ref(const Zuf16s* pcm, int step, Zuf32s* y);
void ownsAnalysisWindow_MP3_sse2(const Zuf16s* pcm, int step, Zuf32s* y);

// Matrixing: s[k] = sum_i cos((2k + 1)(i - 16) pi / 64) Y[i] / 2, k = 0..31, through the
// 32-point cosine transform of the 32 folded values (64-bit sums of Q30 factors, rounded half up
// once at the end). With Y from the windowing, s is the standard's subband sample with 24
// fractional bits (1.0 = 16-bit full scale), the scale of the synthesis bank's input. |Y| < 2^21
// (what the windowing gives). The SSE2 form forms the same exact sums; the plain name runs it.
void ownsDCTInv32_MP3_32s(const Zuf32s* y, Zuf32s* s);
void ownsDCTInv32_MP3_32s_ref(const Zuf32s* y, Zuf32s* s);
void ownsDCTInv32_MP3_32s_sse2(const Zuf32s* y, Zuf32s* s);

// The whole analysis call: windowing (SSE2) then matrixing.
void ownsAnalysisPQMF_MP3(const Zuf16s* pcm, Zuf32s* s, int step);

// The forward hybrid transform of zufsMDCTFwd_MP3_32s (arguments checked; mixed non-zero means
// mixed): two subbands at a time with SSE2, and one at a time as the scalar reference. sfb_short
// is the 14-entry short band row of (ID, sampling_frequency).
void ownsMDCTFwd_MP3_ref(const Zuf32s* sub, Zuf32s* xr, int block_type, int mixed, const Zuf16s* sfb_short,
                         Zuf32s* history);
void ownsMDCTFwd_MP3(const Zuf32s* sub, Zuf32s* xr, int block_type, int mixed, const Zuf16s* sfb_short,
                     Zuf32s* history);

}  // namespace zuf
