// Internal kernels of the vector utilities and the FIR block filter.
//
// Every operation with a vector kernel has two implementations of one contract, named by the
// rule of common/simd.h: ownsFoo_ref is the plain reference loop, ownsFoo_sse2 the SSE2/SSE3
// kernel, and the two agree bit for bit on every input and at every alignment. The exported
// shells (vec_*.cpp, firblock.cpp) check arguments and pick one; the tests and the benchmark
// call both directly. Preconditions of a
// kernel are the ones its shell has established: non-null pointers, len >= 1, and the argument
// ranges noted below. Symbols are hidden like everything else in the library.
#pragma once

#include <cstdint>

#include "zufack9/zuf_core.h"

// The FIR block context (opaque to callers). The field order is part of the ABI: on 32-bit
// x86 the record is 16 bytes and the ID word is its fourth 32-bit word (offset 12).
struct FirBlockContext_32f {
    Zuf32f* pDelay;       // tapsLen rows of blockStride floats; rows 0..tapsLen-2 form the ring
    int16_t tapsLen;      // number of taps, >= 1
    int16_t blockLen;     // signals filtered side by side, >= 1
    int16_t blockStride;  // blockLen rounded up to a multiple of 4: rows stay 16-byte aligned
    int16_t delayIndex;   // ring row that received the most recent input block
    uint32_t idCtx;       // kIdFirBlock32f
};

namespace zuf {

// Convert_32f16s_Sfs: scale factors beyond +-kF2SScaleLimit give the same results as the
// limit itself (every finite input then saturates, or rounds to zero), so the shell clamps.
constexpr int kF2SScaleLimit = 200;

// Every `_ref` below has the `_sse2` kernel declared beside it (where there is one), with the same
// contract; the vector kernels cope with any alignment unless noted.
//
// Convert_16s32f, CplxToReal_32fc, MinMax_16s and MakeFloat_16s32f have no vector kernel: GCC
// vectorises their scalar loops as well as hand-written SSE2 did (bench_vector, 2026-12-07, items
// per second at length 16384, scalar / SSE2: 12.1G / 7.6G, 6.2G / 6.0G, 23.1G / 21.3G,
// 3.7G / 3.5G), so the loop alone serves. Mul_32fc keeps its kernel (3.0G against 2.2G).

void ownsConvert_16s32f_ref(const Zuf16s* pSrc, Zuf32f* pDst, int len);
// scaleFactor already clamped to -15..31.
void ownsConvert_32s16s_Sfs_ref(const Zuf32s* pSrc, Zuf16s* pDst, int len, int scaleFactor);
void ownsConvert_32s16s_Sfs_sse2(const Zuf32s* pSrc, Zuf16s* pDst, int len, int scaleFactor);
// scaleFactor already clamped to -kF2SScaleLimit..kF2SScaleLimit; rndMode 0 truncates.
void ownsConvert_32f16s_Sfs_ref(const Zuf32f* pSrc, Zuf16s* pDst, int len, int rndMode, int scaleFactor);
void ownsConvert_32f16s_Sfs_sse2(const Zuf32f* pSrc, Zuf16s* pDst, int len, int rndMode, int scaleFactor);

void ownsCplxToReal_32fc_ref(const Zuf32fc* pSrc, Zuf32f* pDstRe, Zuf32f* pDstIm, int len);
// At most one of pSrcRe, pSrcIm may be null: that part becomes +0.
void ownsRealToCplx_32f_ref(const Zuf32f* pSrcRe, const Zuf32f* pSrcIm, Zuf32fc* pDst, int len);
void ownsRealToCplx_32f_sse2(const Zuf32f* pSrcRe, const Zuf32f* pSrcIm, Zuf32fc* pDst, int len);
// pDst may be pSrc2 (the in-place form).
void ownsMul_32fc_ref(const Zuf32fc* pSrc1, const Zuf32fc* pSrc2, Zuf32fc* pDst, int len);
void ownsMul_32fc_sse2(const Zuf32fc* pSrc1, const Zuf32fc* pSrc2, Zuf32fc* pDst, int len);

// Any scaleFactor.
void ownsAdd_32s_ISfs_ref(const Zuf32s* pSrc, Zuf32s* pSrcDst, int len, int scaleFactor);
void ownsAdd_32s_ISfs_sse2(const Zuf32s* pSrc, Zuf32s* pSrcDst, int len, int scaleFactor);
// shift >= 0.
void ownsRShiftC_32s_I_ref(int shift, Zuf32s* pSrcDst, int len);
void ownsRShiftC_32s_I_sse2(int shift, Zuf32s* pSrcDst, int len);
// A plain product; the special constants (1, 0, NaN) are the shell's business.
void ownsMulC_32f_I_ref(Zuf32f val, Zuf32f* pSrcDst, int len);
void ownsMulC_32f_I_sse2(Zuf32f val, Zuf32f* pSrcDst, int len);

void ownsMinMax_16s_ref(const Zuf16s* pSrc, int len, Zuf16s* pMin, Zuf16s* pMax);
// len >= 2. Fast: four single-precision lanes (element i in lane i % 4), combined in long
// double. Accurate: long double sums throughout, scalar only (x87 has no vector form), so it
// has no `_ref` twin.
Zuf32f ownsStdDevFast_32f_ref(const Zuf32f* pSrc, int len);
Zuf32f ownsStdDevFast_32f_sse2(const Zuf32f* pSrc, int len);
Zuf32f ownsStdDevAccurate_32f(const Zuf32f* pSrc, int len);

// Any channel count; element access is alignment-agnostic (channels may sit at odd addresses).
// The vector kernels: Deinterleave2/Interleave2 for two channels, Interleave for any count
// (channels taken in pairs).
void ownsDeinterleave_16s_ref(const Zuf16s* pSrc, int nChannels, int len, Zuf16s* const* ppDst);
void ownsDeinterleave2_16s_sse2(const Zuf16s* pSrc, int len, Zuf16s* pDst0, Zuf16s* pDst1);
void ownsDeinterleave_32f_ref(const Zuf32f* pSrc, int nChannels, int len, Zuf32f* const* ppDst);
void ownsDeinterleave2_32f_sse2(const Zuf32f* pSrc, int len, Zuf32f* pDst0, Zuf32f* pDst1);
void ownsInterleave_16s_ref(const Zuf16s* const* ppSrc, int nChannels, int len, Zuf16s* pDst);
void ownsInterleave_16s_sse2(const Zuf16s* const* ppSrc, int nChannels, int len, Zuf16s* pDst);
void ownsInterleave2_16s_sse2(const Zuf16s* pSrc0, const Zuf16s* pSrc1, int len, Zuf16s* pDst);
void ownsInterleave_32f_ref(const Zuf32f* const* ppSrc, int nChannels, int len, Zuf32f* pDst);
void ownsInterleave_32f_sse2(const Zuf32f* const* ppSrc, int nChannels, int len, Zuf32f* pDst);
void ownsInterleave2_32f_sse2(const Zuf32f* pSrc0, const Zuf32f* pSrc1, int len, Zuf32f* pDst);

// Any exponent (see vec_gain.cpp for values outside -142..111).
void ownsMakeFloat_16s32f_ref(const Zuf16s* pMant, const Zuf16s* pExp, int len, Zuf32f* pDst);
// A table lookup per element, scalar only (SSE2 has no gather).
void ownsCalcSF_16s32f(const Zuf16s* pSrc, int offset, Zuf32f* pDst, int len);

// Context fields already validated (lengths >= 1, delayIndex in range).
void ownsFIRBlockOne_32f_ref(const Zuf32f* pSrc, Zuf32f* pDst, FirBlockContext_32f* pCtx, const Zuf32f* pTaps);
void ownsFIRBlockOne_32f_sse2(const Zuf32f* pSrc, Zuf32f* pDst, FirBlockContext_32f* pCtx, const Zuf32f* pTaps);

}  // namespace zuf
