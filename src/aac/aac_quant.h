// Band kernels of the AAC inverse quantiser: y = sign(x) |x|^(4/3) 2^(s/4) for a run of values
// that share the exponent s = sf - 100 (ISO/IEC 13818-7 10.3).
#pragma once

#include "zufack9/zuf_core.h"

namespace zuf {

// In place on 32-bit values, result Q3 (8 times the real value). |x| <= 8191; the first larger
// magnitude stops the run with zufErrAacCoef (-163), values before it already rescaled.
zufResult ownsReqCore_AAC_I(Zuf32s* pSrcDst, int len, int s);

// 16-bit values in, 32-bit out, result Q0; |x| up to 16383 computed correctly; x = 0 writes 0.
void ownsReqCore_AAC_16s32s_Sf(const Zuf16s* pSrc, Zuf32s* pDst, int len, int s);

}  // namespace zuf
