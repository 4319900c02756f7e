// Noise generator of perceptual noise substitution (ISO/IEC 14496-3 4.6.13).
#pragma once

#include "zufack9/zuf_core.h"

namespace zuf {

// Fills w values (1..96) with pseudo-random noise of unit energy in Q31 (sum of squares close
// to 2^62), advancing *pSeed once per value: seed = seed * 1664525 + 1013904223.
void ownsGenerateRandVec_AAC(Zuf32s* pDst, int w, Zuf32u* pSeed);

}  // namespace zuf
