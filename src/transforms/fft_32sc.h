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

#include "common/simd.h"
#include "zufack9/zuf_core.h"

namespace zuf {

// Two complex values z = (zr0, zi0, zr1, zi1) times (c - j s), C = (c0, c0, c1, c1) and
// S = (s0, s0, s1, s1), in SSE2: the 64-bit sums zr c + zi s (re) and zi c - zr s (im) of value k
// in 64-bit lane k. pmuludq forms unsigned products; a signed product a b equals
// u(a) u(b) - 2^32 ([a < 0] b + [b < 0] a) modulo 2^64, so the unsigned sums less `corr` (lanes
// re0, im0, re1, im1) in their high words are the signed sums modulo 2^64.
struct RotateSums2 {
    __m128i re, im, corr;

    // The high words (re0, im0, re1, im1): hi() of each signed sum when the sums fit in 64 bits.
    __m128i hi_words() const {
        const __m128i hiMask = _mm_set_epi32(-1, 0, -1, 0);
        return _mm_sub_epi32(_mm_or_si128(_mm_srli_epi64(re, 32), _mm_and_si128(im, hiMask)), corr);
    }
    // The low words of each signed sum shifted right by k = 1..32, as (re0, im0, re1, im1).
    __m128i shifted_low_words(__m128i k) const {
        const __m128i hiMask = _mm_set_epi32(-1, 0, -1, 0);
        const __m128i r = _mm_srl_epi64(_mm_sub_epi64(re, _mm_slli_epi64(corr, 32)), k);
        const __m128i i = _mm_srl_epi64(_mm_sub_epi64(im, _mm_and_si128(corr, hiMask)), k);
        return _mm_or_si128(_mm_andnot_si128(hiMask, r), _mm_slli_epi64(i, 32));
    }
};

inline RotateSums2 rotate_sums_sse2(__m128i z, __m128i c, __m128i s) {
    const __m128i hiMask = _mm_set_epi32(-1, 0, -1, 0);
    const __m128i zi = _mm_srli_epi64(z, 32);  // zi in the even lanes
    const __m128i re = _mm_add_epi64(_mm_mul_epu32(z, c), _mm_mul_epu32(zi, s));
    const __m128i im = _mm_sub_epi64(_mm_mul_epu32(zi, c), _mm_mul_epu32(z, s));
    // Lanes (re, im) need the terms of zr c + zi s and of zi c - zr s respectively.
    const __m128i tc = _mm_add_epi32(_mm_and_si128(_mm_srai_epi32(z, 31), c), _mm_and_si128(_mm_srai_epi32(c, 31), z));
    const __m128i zsw = _mm_shuffle_epi32(z, _MM_SHUFFLE(2, 3, 0, 1));  // (zi, zr, ...)
    const __m128i ts =
        _mm_add_epi32(_mm_and_si128(_mm_srai_epi32(zsw, 31), s), _mm_and_si128(_mm_srai_epi32(s, 31), zsw));
    const __m128i tsSigned = _mm_sub_epi32(_mm_xor_si128(ts, hiMask), hiMask);  // negate the im lanes
    return {re, im, _mm_add_epi32(tc, tsSigned)};
}

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
