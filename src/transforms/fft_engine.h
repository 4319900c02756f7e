// Internals of the complex float engine shared by its source files (fft_engine, fft_blocked, fft_real,
// fft_float): the pass plan of the radix-4 engine, the twiddle source used while building tables, and
// the blocked large-transform path.
#pragma once

#include "transforms/fft_internal.h"

namespace zuf::xf {

// Orders up to this run the radix-4 engine on the whole transform; above, the blocked path.
constexpr int kMaxRadix4Order = 16;
// The blocked path transforms blocks of 2^kBlockOrder points with the radix-4 engine.
constexpr int kBlockOrder = 12;

// Inner passes of the radix-4 engine for complex order c >= 4: M = 2^(c-2) elements of four
// lanes; radix-8 passes as far as the bits allow, then radix-4 ones (see ownsEnginePlan).
struct EnginePlan {
    int M;
    int npass;
    int radix[16];
};
EnginePlan ownsEnginePlan(int corder);

// The first pass's twiddles are stored four-wide, those of p = 2P and 2P + 1 side by side (the
// AVX2 build loads a pair's with one 256-bit load): for twiddle j, the 16 floats from per 2P + 16 j
// hold p's value four times in real parts, p + 1's, then p's imaginary parts, p + 1's (per: the
// 8 (radix - 1) floats of one p). Offset of the real parts; the imaginary ones follow at + 8.
inline int ownsWideTwiddle(int per, int p, int j) { return per * (p & ~1) + 16 * j + 4 * (p & 1); }
// The lane pass's twiddles W_N^(l k2), k2 = 4g..4g+3, l = 1..3, for M / 4 groups g. With two
// groups or more, groups 2G and 2G + 1 lie side by side: for each l, eight real parts, then eight
// imaginary parts, of frequencies f = 0..7 from 8G. The AVX2 build orders them 0 1 4 5 2 3 6 7,
// as its last pass's transposes leave them (lane_slot). Offsets of frequency 4g + j's real and
// imaginary parts for l = 1; each further l adds step.
constexpr int lane_slot(int f) {
#if defined(__AVX2__)
    return (f & 1) | ((f & 4) >> 1) | ((f & 2) << 1);
#else
    return f;
#endif
}
struct LaneTwiddle {
    int re, im, step;
};
inline LaneTwiddle ownsLaneTwiddle(int M, int g, int j = 0) {
    if (M < 8) return {j, j + 4, 8};
    const int re = 24 * (g & ~1) + lane_slot(4 * (g & 1) + j);
    return {re, re + 8, 16};
}

// Twiddles e^(-2 pi i e / 2^n) as float (re, im) while tables are built: from the static
// 1024-point table (contexts up to order 10), from a quarter-wave cosine table of order
// baseOrder built in the init buffer, or (beyond it) from cos/sin in double precision.
struct TwiddleSource {
    const double* base;  // cos(2 pi j / 2^baseOrder), j = 0..2^baseOrder / 4; null: static table
    int baseOrder;
    void get(int n, int64_t e, float* out) const;
};
void ownsFillCosBase(double* base, int order);

// Bytes of the radix-4 engine's tables for complex order c (4..16), and their construction.
int64_t ownsRadix4TableBytes(int corder);
void ownsRadix4Init(FftContext_C_32fc* ctx, int corder, uint8_t* mem, const TwiddleSource& tw);

// Straight-line complex kernels for orders 0..3 (interleaved; in place is fine).
void ownsSmallC(int order, const float* src, float* dst, Dir dir, bool scale, float factor);

// The lane-type templates behind ownsFFT_C_32fc and its _ref (V = __m128 or Lanes4; both are
// instantiated in the file that defines the template).
template <class V>
void ownsFFTComplex(const FftContext_C_32fc* ctx, const float* src, float* dst, float* work, Dir dir, bool scale,
                    float factor);

// In-place unnormalised transform of one block with the radix-4 engine (work: 2N complex).
template <class V>
void ownsFFT_C_32fc_Block(const FftContext_C_32fc* ctx, float* data, float* work, Dir dir);

// Blocked path, complex order >= 17: sizes, construction and transform. src and dst may be the
// same array; work holds two blocks (2 x 2^kBlockOrder complex values).
int64_t ownsLargeTableBytes(int corder, int tableOrder);
void ownsLargeInit(FftContext_C_32fc* ctx, int corder, int tableOrder, uint8_t* mem, const TwiddleSource& tw);
template <class V>
void ownsFFTLarge(const FftContext_C_32fc* ctx, const float* src, float* dst, float* work, Dir dir, bool scale,
                  float factor);
// e^(-2 pi i e / 2^tableOrder) from the two-level tables of a large context, e < 2^tableOrder.
void ownsTwoLevelTwiddle(const FftContext_C_32fc* ctx, int64_t e, float* out);

// Real-family recombination tables for N = 2^order reals (order >= 4).
int64_t ownsRecTableBytes(int order);
void ownsRecInit(FftContext_C_32fc* ctx, int order, uint8_t* mem, const TwiddleSource& tw);

}  // namespace zuf::xf
