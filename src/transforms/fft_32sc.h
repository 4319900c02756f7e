// Fixed-point complex FFT: split-radix decimation in frequency, unscaled,
// on interleaved 32-bit complex values (real part first), forward direction
// Z_m = sum_i z_i e^(-j 2 pi i m / M). Shared by the inverse MDCT, long-term prediction, the
// forward MDCT and the fixed-point SBR banks.
//
// Arithmetic: butterfly sums and differences are plain wrapping 32-bit additions; a difference d
// is rotated by a Q30 twiddle (c, s) as hi(4d.re c + 4d.im s) and hi(4d.im c - 4d.re s) (4d
// wrapping in 32 bits), which has unit gain; the eighth-turn rotations use hi(0x5A82799A 2x)
// for the factor sqrt(1/2). No stage scales, so the caller provides the headroom: with the sum
// of all |re| + |im| of the input at most 0x1FFFFFFF no intermediate value wraps.
#pragma once

#include "zufack9/zuf_core.h"

namespace zuf {

// Twiddles of the 64-point (order 6) and 512-point (order 9) transforms: four blocks of M/8 - 1
// Q30 values, cos(k theta), cos(3k theta), sin(k theta), sin(3k theta) for k = 1 .. M/8 - 1,
// theta = 2 pi / M. Smaller transforms inside a larger one read every (M / size)-th entry.
extern const Zuf32s pFFTtables1[28];
extern const Zuf32s pFFTtables2[252];

// Bit-reversal swap lists (bytes): pairs (a, b) of even indices below M/2 with b = bitrev(a) > a,
// closed by 0, each standing for the swaps a <-> b, a+1 <-> b+M/2, a+M/2 <-> b+1,
// a+M/2+1 <-> b+M/2+1; then the even self-reversed indices a below M/2, largest first, the last
// one being 0, each standing for a+1 <-> a+M/2.
extern const Zuf8u pRevTable1[17];
extern const Zuf8u pRevTable2[129];

// In-place forward FFT of 2^order complex values (order 2..9), result in natural order. Orders 6
// and 9 use their own tables and swap lists; the others read the 512-point table at a stride.
// The butterflies run two at a time in SSE2 (any alignment); the scalar reference _ref gives the
// same result bit for bit.
void ownsIMDCT_FFT_32sc_I(Zuf32s* pSrcDst, int order);
void ownsIMDCT_FFT_32sc_I_ref(Zuf32s* pSrcDst, int order);

}  // namespace zuf
