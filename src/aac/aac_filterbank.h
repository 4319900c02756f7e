// Internal operations of the AAC fixed-point synthesis filter bank (ISO/IEC 13818-7 15.3), shared
// with long-term prediction and the forward MDCT.
#pragma once

#include <cstdint>

#include "common/fixed_point.h"
#include "transforms/fft_32sc.h"
#include "zufack9/zuf_core.h"

namespace zuf {

// Inverse MDCT core on N = 1024 or 128 values in place. With y[n] the standard's IMDCT output
// (2N points) without its 2/N' factor, the result is out[n] = g y[n] for n < N/2 and
// out[N/2 + m] = g y[N + m] for m < N/2; the remaining points follow by the symmetries
// y[N - 1 - n] = -y[n] and y[2N - 1 - m] = y[N + m].
//   _32s:   g = 2/N' (the standard's normalisation: Q3 in, Q3 out), block floating point inside.
//   _32s_I: g = 1/16, fixed scaling, no rounding; the caller keeps the FFT input bounded.
void ownsMDCTInv_Radix2_32s(Zuf32s* pSrcDst, int n);
void ownsMDCTInv_Radix2_32s_I(Zuf32s* pSrcDst, int n);
// Both cores with the scalar pre- and post-rotations (the reference of their SSE2 forms).
void ownsMDCTInv_Radix2_ref(Zuf32s* pSrcDst, int n, bool scaled);

// Block floating point: the number of halvings that bring the sum of magnitudes s to 0x1FFFFFFF
// or less (the FFT's headroom), applied to z[0..count) with rounding; 0 when none is needed.
int ownsBlockScale_32s(Zuf32s* z, int count, int64_t s);

// The output scalings of the block-scaled FFT, each for one 64-bit sum or, in SSE2, for the sums
// of two rotated complex values (as (re0, im0, re1, im1)).
struct ScaleRoundDown {  // hi(s) rounded right by t = 1..31: (h >> t) + bit t-1 of h, in 32 bits
    int t;
    int32_t operator()(int64_t s) const { return static_cast<int32_t>((hi(s) + (int64_t{1} << (t - 1))) >> t); }
    __m128i operator()(const RotateSums2& r) const {
        const __m128i h = r.hi_words();
        return _mm_add_epi32(_mm_sra_epi32(h, _mm_cvtsi32_si128(t)),
                             _mm_and_si128(_mm_sra_epi32(h, _mm_cvtsi32_si128(t - 1)), _mm_set1_epi32(1)));
    }
};
struct ScaleUp {  // s >> (32 - u), u = 0..31, truncated to 32 bits
    int u;
    int32_t operator()(int64_t s) const { return static_cast<int32_t>(s >> (32 - u)); }
    __m128i operator()(const RotateSums2& r) const { return r.shifted_low_words(_mm_cvtsi32_si128(32 - u)); }
};

// The block-scaled FFT of the inverse and forward MDCT cores: z (n words, n/2 complex values after the
// pre-rotation, magnitude the sum of their magnitudes) is scaled, transformed in place by the
// 2^order-point FFT, and post(scale) is called, scale(sum) turning a 64-bit rotation sum into an
// output value: a shift by order - 3 less the block scaling (rounded when it is a right shift).
template <class Post>
void ownsFFT_BlockScaled_32s(Zuf32s* z, int n, int order, int64_t magnitude, Post post) {
    const int t = order - ownsBlockScale_32s(z, n, magnitude) - 3;
    ownsIMDCT_FFT_32sc_I(z, order);
    if (t > 0)
        post(ScaleRoundDown{t});
    else
        post(ScaleUp{-t});
}

// Windowing and overlap-add of one frame from the core output(s) in pCore (one 1024 transform,
// or eight 128 transforms one after the other), with the window tables (rising halves) of the
// previous shape (...Prev) and the current shape (...Cur) that the sequence needs.
//
// 16-bit path (_32s): windowed value (w y) >> 31; pSum[p] = sat32(overlap[p] + windowed values
// at p) for p < 1024, the new overlap is the sum of the windowed values at 1024 + m.
// 32-bit path (_AAC_32s_I): windowed value hi(w y), a factor of 1 gives y >> 1; pSum[p] =
// overlap[p] + windowed values, wrapping.
// pSum must not overlap pCore.
void ownsOverlapAdd_Long_32s(const Zuf32s* pCore, Zuf32s* pSum, Zuf32s* pOverlap, const Zuf32s* pLongPrev,
                             const Zuf32s* pLongCur);
void ownsOverlapAdd_LongStart_32s(const Zuf32s* pCore, Zuf32s* pSum, Zuf32s* pOverlap, const Zuf32s* pLongPrev,
                                  const Zuf32s* pShortCur);
void ownsOverlapAdd_LongStop_32s(const Zuf32s* pCore, Zuf32s* pSum, Zuf32s* pOverlap, const Zuf32s* pShortPrev,
                                 const Zuf32s* pLongCur);
void ownsOverlapAdd_Short_32s(const Zuf32s* pCore, Zuf32s* pSum, Zuf32s* pOverlap, const Zuf32s* pShortPrev,
                              const Zuf32s* pShortCur);
void ownsOverlapAdd_Long_AAC_32s_I(const Zuf32s* pCore, Zuf32s* pSum, Zuf32s* pOverlap, const Zuf32s* pLongPrev,
                                   const Zuf32s* pLongCur);
void ownsOverlapAdd_LongStart_AAC_32s_I(const Zuf32s* pCore, Zuf32s* pSum, Zuf32s* pOverlap, const Zuf32s* pLongPrev,
                                        const Zuf32s* pShortCur);
void ownsOverlapAdd_LongStop_AAC_32s_I(const Zuf32s* pCore, Zuf32s* pSum, Zuf32s* pOverlap, const Zuf32s* pShortPrev,
                                       const Zuf32s* pLongCur);
void ownsOverlapAdd_Short_AAC_32s_I(const Zuf32s* pCore, Zuf32s* pSum, Zuf32s* pOverlap, const Zuf32s* pShortPrev,
                                    const Zuf32s* pShortCur);

// The long sequences (and their factor groups) run four positions at a time in SSE2, any
// alignment; ownsOverlapAdd_Long_ref is their scalar reference: window_sequence seq (0, 1 or 3)
// on the 16-bit (wide = 0) or 32-bit (wide = 1) path, with the windows of the functions above.
void ownsOverlapAdd_Long_ref(int seq, int wide, const Zuf32s* pCore, Zuf32s* pSum, Zuf32s* pOverlap,
                             const Zuf32s* pPrev, const Zuf32s* pCur);

// 16-bit PCM from Q3 sums: sat16((sum + 4) >> 3), written at pDst[p * stride], p < 1024
// (stride 1 or 2; with 2 the odd samples are left alone). The SSE2 kernel serves both strides
// (any alignment) and matches the scalar reference bit for bit.
void ownsPcmAudioOutput_32s16s(const Zuf32s* pSum, Zuf16s* pDst, int stride);
void ownsPcmAudioOutput_32s16s_ref(const Zuf32s* pSum, Zuf16s* pDst, int stride);
void ownsPcmAudioOutput_32s16s_sse2(const Zuf32s* pSum, Zuf16s* pDst, int stride);

}  // namespace zuf
