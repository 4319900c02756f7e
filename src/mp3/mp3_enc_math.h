// Fixed-point math routines of the Layer III encoder (psychoacoustic model, quantiser, joint
// stereo). Integer only: each normalises its argument, maps the mantissa onto u in [-1, 1)
// (Q31) and evaluates a short polynomial from its _TAB_ table (mp3_enc_tables.cpp) by Horner's
// scheme in Q30 (each step ((acc u + 2^30) >> 31) + c). The polynomials are within 3 units of
// 2^-30 of the exact function over the whole range (the generator checks it); the accuracies
// below are what the tests measure against double math over each routine's whole input range.
//
// Formats. A "mantissa/exponent" result (m, e) stands for the value m 2^e, with m normalised to
// 2^30 <= m < 2^31 unless stated.
#pragma once

#include "zufack9/zuf_core.h"

namespace zuf {

// Normalisation of a 64-bit value: m with no redundant sign bit (2^30 <= m < 2^31, or
// -2^31 <= m < -2^30) and e such that x = m 2^e + r, 0 <= r < 2^e (truncation toward minus
// infinity when e > 0; exact when e <= 0). x = 0 gives m = 0, e = 0. Exact.
inline Zuf32s ownsNorm64_Audio_64s32s(Zuf64s x, int* pExp) {
    if (x == 0) {
        *pExp = 0;
        return 0;
    }
    const int e = 32 - __builtin_clrsbll(x);  // the bits beyond 32 that hold information
    *pExp = e;
    if (e > 0) return static_cast<Zuf32s>(x >> e);
    return static_cast<Zuf32s>(static_cast<Zuf64u>(x) << -e);
}

// Reciprocal of a normalised value m, 2^30 <= m < 2^31 (x = m / 2^31 in [0.5, 1)): 1 / x in
// Q30, that is about 2^61 / m, in (2^30, 2^31 - 1] (m = 2^30 saturates). Within 3 units of
// 2^61 / m. Other m: meaningless.
Zuf32s ownsReciprocal_Audio_32s(Zuf32s m);

// ownsReciprocal_Audio_32s of two values at once (the chains interleave).
void ownsReciprocalPair_Audio_32s(Zuf32s m, Zuf32s n, Zuf32s* pRm, Zuf32s* pRn);

// Square root of m 2^e for m > 0 (any m, normalised inside; m <= 0 gives 0, exponent 0):
// mantissa in [2^30 - 4, 2^31) and exponent. Relative error below 4e-9 (2^-27.9).
Zuf32s ownsSqrtNorm_Audio_32s(Zuf32s m, int e, int* pExp);

// Square root of a 32-bit value x >= 0 as a mantissa/exponent pair (ownsSqrtNorm_Audio_32s
// with e = 0): sqrt(x) = m 2^e, e in -31..-15.
Zuf32s ownsSqrt_Audio_32s(Zuf32s x, int* pExp);

// Base-2 logarithm of x > 0 in Q16: integer part in the upper 16 bits, 16-bit fraction
// (0 for x = 1 .. 31 - 2^-16 for x = 2^31 - 1); within one unit of log2(x) 2^16 (measured:
// 0.5, so the rounded value). x <= 0 gives INT32_MIN.
Zuf32s ownsLog2_Audio_32s(Zuf32s x);

// ownsLog2_Audio_32s of two values at once (*pLx of x, *pLy of y): the two polynomial chains
// interleave, which takes about the time of one.
void ownsLog2Pair_Audio_32s(Zuf32s x, Zuf32s y, Zuf32s* pLx, Zuf32s* pLy);

// The same in Q26 (0 .. 31 - 2^-26) for callers that need the finer fraction: within one unit
// of log2(x) 2^26. x <= 0 gives INT32_MIN.
Zuf32s ownsLog2Q26_Audio_32s(Zuf32s x);

// 2^(x / 2^26) for x in Q26 (any 32-bit value, so exponents -32 .. 32): mantissa in
// [2^30, 2^31) and exponent (2^(x / 2^26) = m 2^e), relative error below 3e-9.
Zuf32s ownsPow2_Audio_32s(Zuf32s x, int* pExp);

// x^1.18813 for x in Q31 (0 < x < 2^31, the psychoacoustic model's tonality in (0, 1)), Q31
// result rounded; x <= 0 gives 0. Relative error below 2^-26 beyond the final rounding (half a
// unit); results below 2^-32 are 0.
Zuf32s ownsPow118813_Audio_32s(Zuf32s x);

}  // namespace zuf
