// Internal operations of the AAC fixed-point analysis filter bank (ISO/IEC 13818-7 15.3), shared
// with long-term prediction.
#pragma once

#include "zufack9/zuf_core.h"

namespace zuf {

// Windows the 2N input samples of a frame (2048, or 256 for EIGHT_SHORT_SEQUENCE) into pDst
// (may equal pSrc): unit gain hi((2x) w), or with `half` the half gain hi(x w), x >> 1 where the
// window is 1.
void ownsMDCTFwd_Window_32s(const Zuf32s* pSrc, Zuf32s* pDst, int seq, int shape, int prevShape, bool half);

// MDCT of the 2N windowed samples in pSrcDst (used as work space) to N = 1024 or 128 values:
// _32s writes X[k] = 2 sum z[n] cos(...) to pDst without internal scaling;
// _32s_I writes X / (4N) to the first N entries of pSrcDst, with block floating point inside.
void ownsMDCTFwd_Radix2_32s(Zuf32s* pSrcDst, Zuf32s* pDst, int n);
void ownsMDCTFwd_Radix2_32s_I(Zuf32s* pSrcDst, int n);

}  // namespace zuf
