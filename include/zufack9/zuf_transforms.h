/*
 * libzufack9 transforms: FFT (complex float interleaved and split, real float, complex 16-bit),
 * DCT type II/III and MDCT (float forward and inverse, 16-bit forward).
 *
 * Every transform runs on an opaque context built once per length. A context is built either in
 * caller memory (GetSize reports the sizes of the context block, of a one-time init buffer and
 * of a per-call work buffer, all in bytes and including the slack needed to align them; Init
 * builds the context at the block rounded up to 32 bytes) or, where an InitAlloc exists, in a
 * block from zufsMalloc_8u that the family's Free releases. A transform given a null work
 * buffer where it needs one allocates it through the allocator hooks and releases it before
 * returning (zufErrNoMemory when that fails); a given work buffer is used from its first 32-byte
 * boundary, so a transform with a work buffer never allocates. Source and destination may be
 * the same array, and any alignment works with the same results.
 *
 * Argument checks, first failure decides: null pointers (zufErrNullPtr), the context's ID word
 * (zufErrContext), then lengths, orders and flags as each function says. Sizes that would not
 * fit a signed 32-bit byte count are refused with zufErrNoMemory (FFT) or zufErrSize (DCT, MDCT,
 * whose length is an argument).
 *
 * FFT definitions, N = 2^order: forward X[k] = sum_n x[n] e^(-2 pi i n k / N), inverse
 * x[n] = sum_k X[k] e^(+2 pi i n k / N), each then multiplied by the factor of its direction
 * chosen by the normalisation flag: 1 (forward 1/N, inverse 1), 2 (1, 1/N), 4 (1/sqrt N both),
 * 8 (1 both). Any other flag gives zufErrFftFlag; an order outside 0..30 gives zufErrFftOrder.
 *
 * Perm format (real FFT, N >= 2): N floats Re X[0], Re X[N/2], Re X[1], Im X[1], ...,
 * Re X[N/2-1], Im X[N/2-1]; the other half of the spectrum is the conjugate and is not stored.
 */
#ifndef ZUFACK9_ZUF_TRANSFORMS_H
#define ZUFACK9_ZUF_TRANSFORMS_H

#include "zuf_core.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct FftContext_C_32fc FftContext_C_32fc;   /* ID 4 */
typedef struct FftContext_C_32f FftContext_C_32f;     /* ID 5 */
typedef struct FftContext_R_32f FftContext_R_32f;     /* ID 6 */
typedef struct FftContext_C_16sc FftContext_C_16sc;   /* ID 1 */
typedef struct DctFwdContext_32f DctFwdContext_32f;   /* ID 21 */
typedef struct DctInvContext_32f DctInvContext_32f;   /* ID 22 */
typedef struct MdctFwdContext_32f MdctFwdContext_32f; /* ID 55 */
typedef struct MdctInvContext_32f MdctInvContext_32f; /* ID 56 */
typedef struct MdctFwdContext_16s MdctFwdContext_16s; /* ID 57 */

/* ------------------------------------------------------------------ FFT: sizes and contexts */

/* Sizes in bytes of the context block, the init buffer and the work buffer for a transform of
 * 2^order points. Checks: order outside 0..30 zufErrFftOrder, a null size pointer
 * zufErrNullPtr, flag not 1, 2, 4, 8 zufErrFftFlag. The float families need no buffers up to
 * order 3, with a context of 112 bytes on 32-bit x86 and of 152 bytes on x86-64 (where the
 * context's table pointers take 8 bytes), and no init buffer up to order 10. The hint is stored
 * (the 16-bit family uses hint 0 or 1 to pick its integer kernel for orders 1..3). */
ZUF_API zufResult zufsFFTGetSize_C_32fc(int order, int flag, int hint, int *pSpecSize, int *pInitBufSize,
                                        int *pWorkBufSize);
ZUF_API zufResult zufsFFTGetSize_C_32f(int order, int flag, int hint, int *pSpecSize, int *pInitBufSize,
                                       int *pWorkBufSize);
ZUF_API zufResult zufsFFTGetSize_R_32f(int order, int flag, int hint, int *pSpecSize, int *pInitBufSize,
                                       int *pWorkBufSize);
ZUF_API zufResult zufsFFTGetSize_C_16sc(int order, int flag, int hint, int *pSpecSize, int *pInitBufSize,
                                        int *pWorkBufSize);

/* Builds a context at pMemSpec rounded up to 32 bytes and stores its address through ppSpec.
 * Checks: ppSpec null zufErrNullPtr, order zufErrFftOrder, pMemSpec null zufErrNullPtr, flag
 * zufErrFftFlag, pMemInit null zufErrNullPtr where an init buffer is needed (float families
 * from order 11, the 16-bit family from order 1). */
ZUF_API zufResult zufsFFTInit_C_32fc(FftContext_C_32fc **ppSpec, int order, int flag, int hint, Zuf8u *pMemSpec,
                                     Zuf8u *pMemInit);
ZUF_API zufResult zufsFFTInit_C_32f(FftContext_C_32f **ppSpec, int order, int flag, int hint, Zuf8u *pMemSpec,
                                    Zuf8u *pMemInit);
ZUF_API zufResult zufsFFTInit_R_32f(FftContext_R_32f **ppSpec, int order, int flag, int hint, Zuf8u *pMemSpec,
                                    Zuf8u *pMemInit);
ZUF_API zufResult zufsFFTInit_C_16sc(FftContext_C_16sc **ppSpec, int order, int flag, int hint, Zuf8u *pMemSpec,
                                     Zuf8u *pMemInit);

/* Allocates and builds a context (the init buffer is temporary). Checks as Init, then
 * zufErrNoMemory when an allocation fails. Release with the family's Free. */
ZUF_API zufResult zufsFFTInitAlloc_C_32fc(FftContext_C_32fc **ppSpec, int order, int flag, int hint);
ZUF_API zufResult zufsFFTInitAlloc_C_16sc(FftContext_C_16sc **ppSpec, int order, int flag, int hint);

/* Clears the ID word, and releases the block when InitAlloc made it. Checks: null
 * zufErrNullPtr, wrong ID zufErrContext. */
ZUF_API zufResult zufsFFTFree_C_32fc(FftContext_C_32fc *pSpec);
ZUF_API zufResult zufsFFTFree_C_16sc(FftContext_C_16sc *pSpec);

/* The work-buffer size in bytes a transform of this context needs (0: none). Checks: null
 * zufErrNullPtr, wrong ID zufErrContext. */
ZUF_API zufResult zufsFFTGetBufSize_C_32fc(const FftContext_C_32fc *pSpec, int *pSize);
ZUF_API zufResult zufsFFTGetBufSize_R_32f(const FftContext_R_32f *pSpec, int *pSize);
ZUF_API zufResult zufsFFTGetBufSize_C_16sc(const FftContext_C_16sc *pSpec, int *pSize);

/* ------------------------------------------------------------------ FFT: transforms
 * Checks: pSpec null zufErrNullPtr, wrong ID zufErrContext, a null data pointer zufErrNullPtr;
 * then zufErrNoMemory if pBuffer is null, a work buffer is needed and cannot be allocated. */

/* N complex values, forward and inverse. */
ZUF_API zufResult zufsFFTFwd_CToC_32fc(const Zuf32fc *pSrc, Zuf32fc *pDst, const FftContext_C_32fc *pSpec,
                                       Zuf8u *pBuffer);
ZUF_API zufResult zufsFFTInv_CToC_32fc(const Zuf32fc *pSrc, Zuf32fc *pDst, const FftContext_C_32fc *pSpec,
                                       Zuf8u *pBuffer);
/* N complex values held in separate real and imaginary arrays, forward only. */
ZUF_API zufResult zufsFFTFwd_CToC_32f(const Zuf32f *pSrcRe, const Zuf32f *pSrcIm, Zuf32f *pDstRe, Zuf32f *pDstIm,
                                      const FftContext_C_32f *pSpec, Zuf8u *pBuffer);
/* N reals to the Perm-format spectrum, and back. */
ZUF_API zufResult zufsFFTFwd_RToPerm_32f(const Zuf32f *pSrc, Zuf32f *pDst, const FftContext_R_32f *pSpec,
                                         Zuf8u *pBuffer);
ZUF_API zufResult zufsFFTInv_PermToR_32f(const Zuf32f *pSrc, Zuf32f *pDst, const FftContext_R_32f *pSpec,
                                         Zuf8u *pBuffer);
/* N complex 16-bit values, forward; the result is multiplied by 2^-scaleFactor, rounded and
 * saturated. Orders 1..3 with hint 0 or 1 run an integer kernel (halves round upward); the
 * others run the float transform and round to nearest. */
ZUF_API zufResult zufsFFTFwd_CToC_16sc_Sfs(const Zuf16sc *pSrc, Zuf16sc *pDst, const FftContext_C_16sc *pSpec,
                                           int scaleFactor, Zuf8u *pBuffer);

/* ------------------------------------------------------------------ DCT
 * Orthonormal DCT-II (forward) and DCT-III (inverse) of any length N >= 1, c(0) = 1/sqrt N,
 * c(k) = sqrt(2/N): X[k] = c(k) sum_n x[n] cos(pi (2n+1) k / 2N), x[n] = sum_k c(k) X[k]
 * cos(pi (2n+1) k / 2N). The context picks its algorithm from N and the hint: straight-line
 * kernels for N = 1, 2, 4, 8; a recursive power-of-two split for 16 and 32, and above 65536
 * unless hint is 2; a real FFT for powers of two from 64; direct sums for other N up to 100; a
 * chirp convolution through the complex FFT above 100. */

/* Checks: N <= 0 (or sizes beyond 2 GiB) zufErrSize, then a null pointer zufErrNullPtr. For
 * N = 1, 2, 4, 8 the context takes 116 bytes on 32-bit x86 and 152 bytes on x86-64 (8-byte
 * pointers), and no buffers. */
ZUF_API zufResult zufsDCTFwdGetSize_32f(int len, int hint, int *pSpecSize, int *pInitBufSize, int *pWorkBufSize);
ZUF_API zufResult zufsDCTInvGetSize_32f(int len, int hint, int *pSpecSize, int *pInitBufSize, int *pWorkBufSize);
/* Checks: ppSpec null zufErrNullPtr, N zufErrSize, pMemSpec null zufErrNullPtr, pMemInit null
 * zufErrNullPtr where GetSize reported an init buffer. */
ZUF_API zufResult zufsDCTFwdInit_32f(DctFwdContext_32f **ppSpec, int len, int hint, Zuf8u *pMemSpec, Zuf8u *pMemInit);
ZUF_API zufResult zufsDCTInvInit_32f(DctInvContext_32f **ppSpec, int len, int hint, Zuf8u *pMemSpec, Zuf8u *pMemInit);
/* Checks: pSpec null zufErrNullPtr, wrong ID zufErrContext, a null data pointer zufErrNullPtr;
 * a nested FFT's status is passed on. */
ZUF_API zufResult zufsDCTFwd_32f(const Zuf32f *pSrc, Zuf32f *pDst, const DctFwdContext_32f *pSpec, Zuf8u *pBuffer);
ZUF_API zufResult zufsDCTInv_32f(const Zuf32f *pSrc, Zuf32f *pDst, const DctInvContext_32f *pSpec, Zuf8u *pBuffer);

/* ------------------------------------------------------------------ MDCT
 * N time samples, N/2 coefficients, n0 = (N/2 + 1)/2:
 * forward X[k] = 2 sum_{n<N} x[n] cos(2 pi/N (n + n0)(k + 1/2)),
 * inverse y[n] = (2/N) sum_{k<N/2} X[k] cos(2 pi/N (n + n0)(k + 1/2)).
 * N is 12, 36 or a power of two >= 32 (float), a power of two >= 32 (16-bit forward). */

/* Checks: a null pointer zufErrNullPtr, then N zufErrSize. On 32-bit x86 the context takes
 * 2N + 92 bytes (116 for N = 12, 164 for N = 36), plus the FFT context and 32 for powers of two;
 * on x86-64, whose pointers take 8 bytes, 32 bytes more (148 and 196 for 12 and 36). */
ZUF_API zufResult zufsMDCTFwdGetSize_32f(int len, int *pSpecSize, int *pInitBufSize, int *pWorkBufSize);
ZUF_API zufResult zufsMDCTInvGetSize_32f(int len, int *pSpecSize, int *pInitBufSize, int *pWorkBufSize);
/* Checks: N zufErrSize, then null pointers zufErrNullPtr (pMemInit for every power of two, also
 * where GetSize reports an init buffer of 0 bytes; not for 12 and 36). */
ZUF_API zufResult zufsMDCTFwdInit_32f(MdctFwdContext_32f **ppSpec, int len, Zuf8u *pMemSpec, Zuf8u *pMemInit);
ZUF_API zufResult zufsMDCTInvInit_32f(MdctInvContext_32f **ppSpec, int len, Zuf8u *pMemSpec, Zuf8u *pMemInit);
/* Checks: N zufErrSize, ppSpec null zufErrNullPtr; zufErrNoMemory when allocation fails. */
ZUF_API zufResult zufsMDCTFwdInitAlloc_32f(MdctFwdContext_32f **ppSpec, int len);
ZUF_API zufResult zufsMDCTInvInitAlloc_32f(MdctInvContext_32f **ppSpec, int len);
/* Clears the ID word and releases an InitAlloc block. Checks: null, wrong ID. */
ZUF_API zufResult zufsMDCTFwdFree_32f(MdctFwdContext_32f *pSpec);
ZUF_API zufResult zufsMDCTInvFree_32f(MdctInvContext_32f *pSpec);
/* The work-buffer size in bytes. Checks: null, wrong ID. */
ZUF_API zufResult zufsMDCTFwdGetBufSize_32f(const MdctFwdContext_32f *pSpec, int *pSize);
ZUF_API zufResult zufsMDCTInvGetBufSize_32f(const MdctInvContext_32f *pSpec, int *pSize);
/* N samples to N/2 coefficients; the _I forms work in place in an array of N floats.
 * Checks: pSpec null zufErrNullPtr, wrong ID zufErrContext, a null data pointer zufErrNullPtr. */
ZUF_API zufResult zufsMDCTFwd_32f(const Zuf32f *pSrc, Zuf32f *pDst, const MdctFwdContext_32f *pSpec, Zuf8u *pBuffer);
ZUF_API zufResult zufsMDCTFwd_32f_I(Zuf32f *pSrcDst, const MdctFwdContext_32f *pSpec, Zuf8u *pBuffer);
/* N/2 coefficients to N samples. */
ZUF_API zufResult zufsMDCTInv_32f(const Zuf32f *pSrc, Zuf32f *pDst, const MdctInvContext_32f *pSpec, Zuf8u *pBuffer);
ZUF_API zufResult zufsMDCTInv_32f_I(Zuf32f *pSrcDst, const MdctInvContext_32f *pSpec, Zuf8u *pBuffer);

/* 16-bit forward MDCT: X * 2^-scaleFactor rounded and saturated. The block is normalised before
 * the 16-bit FFT, so for small scale factors the result carries the FFT's quantisation.
 * GetSize checks null pointers then N; Init checks null pointers first (pMemInit among them:
 * every length needs an init buffer), then N. */
ZUF_API zufResult zufsMDCTFwdGetSize_16s(int len, int *pSpecSize, int *pInitBufSize, int *pWorkBufSize);
ZUF_API zufResult zufsMDCTFwdInit_16s(MdctFwdContext_16s **ppSpec, int len, Zuf8u *pMemSpec, Zuf8u *pMemInit);
ZUF_API zufResult zufsMDCTFwdInitAlloc_16s(MdctFwdContext_16s **ppSpec, int len);
ZUF_API zufResult zufsMDCTFwdFree_16s(MdctFwdContext_16s *pSpec);
ZUF_API zufResult zufsMDCTFwdGetBufSize_16s(const MdctFwdContext_16s *pSpec, int *pSize);
ZUF_API zufResult zufsMDCTFwd_16s_Sfs(const Zuf16s *pSrc, Zuf16s *pDst, const MdctFwdContext_16s *pSpec,
                                      int scaleFactor, Zuf8u *pBuffer);

#ifdef __cplusplus
}
#endif

#endif /* ZUFACK9_ZUF_TRANSFORMS_H */
