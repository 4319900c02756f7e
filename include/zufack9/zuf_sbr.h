/*
 * libzufack9 filter banks and SBR tools: the QMF banks of the spectral band replication tool of
 * ISO/IEC 14496-3 (4.6.18.4) in float and in 32-bit fixed point, the covariance-method
 * prediction of its HF generator and the encoder-side analysis (bank, transient detector,
 * tonality), and the 32-band polyphase filter banks of ISO/IEC 11172-3 in float.
 *
 * The SBR prototype window c[0..639] (ISO/IEC 14496-3 Table 4.A.87) is exported in every format
 * the banks and their callers use. The 32-band SBR banks (analysis, down-sampled synthesis)
 * window with the even-indexed half c[2n], n = 0..319.
 */
#ifndef ZUFACK9_ZUF_SBR_H
#define ZUFACK9_ZUF_SBR_H

#include "zuf_core.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- SBR prototype window ---------------------------------------------------------------- */

ZUF_API extern const Zuf32f SBR_TAB_QMF_WINDOW_640_FP[640];        /* c[n], float           */
ZUF_API extern const Zuf32s SBR_TABLE_QMF_WINDOW_640_INT_Q30[640]; /* c[n] * 2^30, rounded  */
ZUF_API extern const Zuf32s SBR_TABLE_QMF_WINDOW_640_INT_Q31[640]; /* c[n] * 2^31, rounded  */
ZUF_API extern const Zuf32s SBR_TABLE_QMF_WINDOW_320_INT_Q30[320]; /* c[2n] * 2^30, rounded */
ZUF_API extern const Zuf32s SBR_TABLE_QMF_WINDOW_320_INT_Q31[320]; /* c[2n] * 2^31, rounded */

/* ---- SBR QMF banks, floating point --------------------------------------------------------- */
/*
 * Nine float banks of ISO/IEC 14496-3 4.6.18.4: 32-band analysis (complex, split or interleaved
 * output, and real), 64-band synthesis and its 32-band down-sampled form (complex split,
 * complex interleaved and real input). Each call runs numLoop QMF time slots; the prototype
 * window is an argument (analysis and down banks: 320 values, c[2n]; full banks: c[0..639]).
 * Sub-band matrices are arrays of row pointers, one row per time slot.
 *
 * Context block (16-byte aligned): the transform context at the caller's block rounded up to
 * 16 bytes, then at the next 16-byte boundary a header (ID word, history pointer, ring position,
 * transform pointer), then the history ring: 320 floats (analysis), 1280 (full synthesis; 1281
 * for the real one), 640 (down banks). Init returns the header's address. GetSize: context size =
 * transform context size rounded up to 16 + 1327 (analysis), 5167 (complex synthesis), 5183 (real
 * synthesis) or 2607 (down banks); init and work sizes = the transform's + 4. GetSize and Init
 * return zufErrNullPtr for any null pointer. Transforms: split complex FFT order 5 (analysis
 * RToC), inverse DCT 32 (analysis RToR), complex FFT order 5 (synthesis CToR), forward DCT 64
 * (synthesis RToR), complex FFT order 6 (down CToR), forward DCT 32 (down RToR); FFT flag 8.
 *
 * Filter checks (first failure decides; nothing written on failure):
 *   analysis RToR, RToC_32f32fc: pSpec, pWindow null -8; ID -17; pSrc, pDst, pWorkBuf null -8;
 *                                kx outside 0..32 zufErrSize;
 *   analysis RToC_32f:           pSpec, pWindow, pWorkBuf null -8; ID -17; kx -6; pSrc, pDstRe,
 *                                pDstIm null -8;
 *   synthesis CToR_32f:          pSpec, pWindow, pWorkBuf null -8; ID -17; pSrcRe, pSrcIm, pDst -8;
 *   synthesis others:            pSpec, pWindow null -8; ID -17; pSrc, pDst, pWorkBuf null -8.
 * Then numLoop < 1 returns zufOk with nothing changed. Analysis slot l reads pSrc[32l..32l+31]
 * and writes row offset + l, bands kx..31 set to 0; synthesis slot l reads row l (64 or 32 bands)
 * and writes 64 (full) or 32 (down) samples from pDst[64l] or pDst[32l]. Any alignment works
 * with the same results.
 */
typedef struct AnalysisFilterContext_SBR_RToC_32f32fc AnalysisFilterContext_SBR_RToC_32f32fc;           /* 0x434D4156 */
typedef struct AnalysisFilterContext_SBR_RToC_32f AnalysisFilterContext_SBR_RToC_32f;                   /* 0x434D4157 */
typedef struct AnalysisFilterContext_SBR_RToR_32f AnalysisFilterContext_SBR_RToR_32f;                   /* 0x434D4158 */
typedef struct SynthesisFilterContext_SBR_CToR_32fc32f SynthesisFilterContext_SBR_CToR_32fc32f;         /* 0x434D4159 */
typedef struct SynthesisFilterContext_SBR_CToR_32f SynthesisFilterContext_SBR_CToR_32f;                 /* 0x434D415A */
typedef struct SynthesisFilterContext_SBR_RToR_32f SynthesisFilterContext_SBR_RToR_32f;                 /* 0x434D415B */
typedef struct SynthesisDownFilterContext_SBR_CToR_32fc32f SynthesisDownFilterContext_SBR_CToR_32fc32f; /* 0x434D415C */
typedef struct SynthesisDownFilterContext_SBR_CToR_32f SynthesisDownFilterContext_SBR_CToR_32f;         /* 0x434D415D */
typedef struct SynthesisDownFilterContext_SBR_RToR_32f SynthesisDownFilterContext_SBR_RToR_32f;         /* 0x434D415E */

/* Three-multiplication rotation factors: cos a + sin a, sin a, cos b + sin b, cos b with
 * a = (4i+1) pi/256, b = (4i+3) pi/256, i = 0..15; and cos(j pi/64) + sin(j pi/64), sin(j pi/64),
 * j = 0..16. */
ZUF_API extern const Zuf32f cos4sin4tab64_HQ_SQMF_32f[64];
ZUF_API extern const Zuf32f cos1sin1tab34_HQ_SQMF_32f[34];

/* Sizes in bytes of the context block, the init buffer and the work buffer. */
ZUF_API zufResult zufsAnalysisFilterGetSize_SBR_RToC_32f32fc(int *pSpecSize, int *pInitBufSize, int *pWorkBufSize);
ZUF_API zufResult zufsAnalysisFilterGetSize_SBR_RToC_32f(int *pSpecSize, int *pInitBufSize, int *pWorkBufSize);
ZUF_API zufResult zufsAnalysisFilterGetSize_SBR_RToR_32f(int *pSpecSize, int *pInitBufSize, int *pWorkBufSize);
ZUF_API zufResult zufsSynthesisFilterGetSize_SBR_CToR_32fc32f(int *pSpecSize, int *pInitBufSize, int *pWorkBufSize);
ZUF_API zufResult zufsSynthesisFilterGetSize_SBR_CToR_32f(int *pSpecSize, int *pInitBufSize, int *pWorkBufSize);
ZUF_API zufResult zufsSynthesisFilterGetSize_SBR_RToR_32f(int *pSpecSize, int *pInitBufSize, int *pWorkBufSize);
ZUF_API zufResult zufsSynthesisDownFilterGetSize_SBR_CToR_32fc32f(int *pSpecSize, int *pInitBufSize, int *pWorkBufSize);
ZUF_API zufResult zufsSynthesisDownFilterGetSize_SBR_CToR_32f(int *pSpecSize, int *pInitBufSize, int *pWorkBufSize);
ZUF_API zufResult zufsSynthesisDownFilterGetSize_SBR_RToR_32f(int *pSpecSize, int *pInitBufSize, int *pWorkBufSize);
/* Builds the context in pMemSpec (GetSize bytes), history zeroed, ring position 0. */
ZUF_API zufResult zufsAnalysisFilterInit_SBR_RToC_32f32fc(AnalysisFilterContext_SBR_RToC_32f32fc **ppSpec,
                                                          Zuf8u *pMemSpec, Zuf8u *pMemInit);
ZUF_API zufResult zufsAnalysisFilterInit_SBR_RToC_32f(AnalysisFilterContext_SBR_RToC_32f **ppSpec, Zuf8u *pMemSpec,
                                                      Zuf8u *pMemInit);
ZUF_API zufResult zufsAnalysisFilterInit_SBR_RToR_32f(AnalysisFilterContext_SBR_RToR_32f **ppSpec, Zuf8u *pMemSpec,
                                                      Zuf8u *pMemInit);
ZUF_API zufResult zufsSynthesisFilterInit_SBR_CToR_32fc32f(SynthesisFilterContext_SBR_CToR_32fc32f **ppSpec,
                                                           Zuf8u *pMemSpec, Zuf8u *pMemInit);
ZUF_API zufResult zufsSynthesisFilterInit_SBR_CToR_32f(SynthesisFilterContext_SBR_CToR_32f **ppSpec, Zuf8u *pMemSpec,
                                                       Zuf8u *pMemInit);
ZUF_API zufResult zufsSynthesisFilterInit_SBR_RToR_32f(SynthesisFilterContext_SBR_RToR_32f **ppSpec, Zuf8u *pMemSpec,
                                                       Zuf8u *pMemInit);
ZUF_API zufResult zufsSynthesisDownFilterInit_SBR_CToR_32fc32f(SynthesisDownFilterContext_SBR_CToR_32fc32f **ppSpec,
                                                               Zuf8u *pMemSpec, Zuf8u *pMemInit);
ZUF_API zufResult zufsSynthesisDownFilterInit_SBR_CToR_32f(SynthesisDownFilterContext_SBR_CToR_32f **ppSpec,
                                                           Zuf8u *pMemSpec, Zuf8u *pMemInit);
ZUF_API zufResult zufsSynthesisDownFilterInit_SBR_RToR_32f(SynthesisDownFilterContext_SBR_RToR_32f **ppSpec,
                                                           Zuf8u *pMemSpec, Zuf8u *pMemInit);
/* Analysis: X[k] = sum_{n<64} 2 u[n] e^(i pi (k+1/2)(2n-1/2)/64) (complex) or
 * 2 u[n] cos(pi (k+1/2)(2n-96)/64) (real), u the windowed and folded history. */
ZUF_API zufResult zufsAnalysisFilter_SBR_RToC_32f32fc_D2L(const Zuf32f *pSrc, Zuf32fc *const *pDst,
                                                          const Zuf32f *pWindow, int numLoop, int offset, int kx,
                                                          AnalysisFilterContext_SBR_RToC_32f32fc *pSpec,
                                                          Zuf8u *pWorkBuf);
ZUF_API zufResult zufsAnalysisFilter_SBR_RToC_32f_D2L(const Zuf32f *pSrc, Zuf32f *const *pDstRe, Zuf32f *const *pDstIm,
                                                      const Zuf32f *pWindow, int numLoop, int offset, int kx,
                                                      AnalysisFilterContext_SBR_RToC_32f *pSpec, Zuf8u *pWorkBuf);
ZUF_API zufResult zufsAnalysisFilter_SBR_RToR_32f_D2L(const Zuf32f *pSrc, Zuf32f *const *pDst, const Zuf32f *pWindow,
                                                      int numLoop, int offset, int kx,
                                                      AnalysisFilterContext_SBR_RToR_32f *pSpec, Zuf8u *pWorkBuf);
/* Synthesis, full (128 ring values per slot, n = 0..127):
 *   complex: v[n] = -(1/64) sum_{k<64} Re(X[k] e^(i pi (k+1/2)(2n+1)/128));
 *   real:    v[n] = (1/32) sum_{k<64} x[k] cos(pi (2k+1)(n-32)/128);
 * down (64 ring values per slot, n = 0..63):
 *   complex: v[n] = -(1/64) sum_{k<32} Re(X[k] e^(i pi (k+1/2)(2n+1/2)/64));
 *   real:    v[n] = (1/32) sum_{k<32} x[k] cos(pi (2k+1)(n-16)/64);
 * then the 640-tap (or 320-tap) window over the ring gives 64 (or 32) samples. */
ZUF_API zufResult zufsSynthesisFilter_SBR_CToR_32fc32f_D2L(const Zuf32fc *const *pSrc, Zuf32f *pDst,
                                                           const Zuf32f *pWindow, int numLoop,
                                                           SynthesisFilterContext_SBR_CToR_32fc32f *pSpec,
                                                           Zuf8u *pWorkBuf);
ZUF_API zufResult zufsSynthesisFilter_SBR_CToR_32f_D2L(const Zuf32f *const *pSrcRe, const Zuf32f *const *pSrcIm,
                                                       Zuf32f *pDst, const Zuf32f *pWindow, int numLoop,
                                                       SynthesisFilterContext_SBR_CToR_32f *pSpec, Zuf8u *pWorkBuf);
ZUF_API zufResult zufsSynthesisFilter_SBR_RToR_32f_D2L(const Zuf32f *const *pSrc, Zuf32f *pDst, const Zuf32f *pWindow,
                                                       int numLoop, SynthesisFilterContext_SBR_RToR_32f *pSpec,
                                                       Zuf8u *pWorkBuf);
ZUF_API zufResult zufsSynthesisDownFilter_SBR_CToR_32fc32f_D2L(const Zuf32fc *const *pSrc, Zuf32f *pDst,
                                                               const Zuf32f *pWindow, int numLoop,
                                                               SynthesisDownFilterContext_SBR_CToR_32fc32f *pSpec,
                                                               Zuf8u *pWorkBuf);
ZUF_API zufResult zufsSynthesisDownFilter_SBR_CToR_32f_D2L(const Zuf32f *const *pSrcRe, const Zuf32f *const *pSrcIm,
                                                           Zuf32f *pDst, const Zuf32f *pWindow, int numLoop,
                                                           SynthesisDownFilterContext_SBR_CToR_32f *pSpec,
                                                           Zuf8u *pWorkBuf);
ZUF_API zufResult zufsSynthesisDownFilter_SBR_RToR_32f_D2L(const Zuf32f *const *pSrc, Zuf32f *pDst,
                                                           const Zuf32f *pWindow, int numLoop,
                                                           SynthesisDownFilterContext_SBR_RToR_32f *pSpec,
                                                           Zuf8u *pWorkBuf);

/* ---- SBR QMF banks, fixed point ------------------------------------------------------------ */

/* One QMF time slot per call, 32-bit integers throughout, the Q30 prototype windows built in
 * (SBR_TABLE_QMF_WINDOW_320_INT_Q30 for analysis and down-sampled synthesis, the 640 one for full
 * synthesis). HQ banks give or take complex sub-band samples, LP banks real ones. Products are
 * the upper 32 bits of the 64-bit product, so a Q30 factor scales by 1/4; sums wrap in 32 bits
 * without saturation, so the caller scales its input to fit: nothing wraps for analysis input
 * below 2^26 in magnitude and synthesis bands (each part) below 2^25.
 *
 * Scaling against the defining sums of ISO/IEC 14496-3 (4.6.18.4), x(r) the history (r = 0
 * newest sample), c[] the prototype window, all windows and factors taken as their Q30 values:
 *   analysis:  u[k] = 1/4 sum_j c[2(k + 64j)] x(k + 64j), k < 64;
 *              HQ X[k] = 1/16 sum_n u[n] exp(i pi (k + 0.5)(2n - 0.5) / 64), k < 32;
 *              LP X[k] = 1/16 sum_n u[n] cos(pi (k + 0.5)(2n - 96) / 64);
 *   synthesis: HQ v(n) = 1/16 sum_k Re(X[k] exp(i pi (k + 0.5)(2n - 255) / 128)), n < 128;
 *              LP v(n) = 1/16 sum_k x[k] cos(pi (2k + 1)(n - 32) / 128);
 *              out[n] = 1/4 sum_j (c[128j + n] v(256j + n) + c[128j + 64 + n] v(256j + 192 + n));
 *   down-sampled (32 bands in, 32 samples out):
 *              HQ v(n) = -1/16 sum_k Re(X[k] exp(i pi (k + 0.5)(2n + 0.5) / 64)), n < 64;
 *              LP v(n) = 1/16 sum_k x[k] cos(pi (2k + 1)(n - 16) / 64);
 *              out[n] = 1/4 sum_j (c[2(64j + n)] v(128j + n) + c[2(64j + 32 + n)] v(128j + 96 + n)).
 *
 * Contexts: GetSize gives the bytes of a caller block (1327 analysis, 5167 synthesis, 2607
 * down-sampled synthesis on 32-bit x86, 16 more on x86-64); Init builds the context at the block
 * rounded up to 16 bytes, with a zeroed history, and the block's address is the context's
 * (cast it to the context type); InitAlloc takes the block from zufsMalloc_8u. Every function
 * rounds the context pointer up to 16 bytes before reading its ID word. Free checks the ID and
 * releases (and unmarks) only what InitAlloc made. Checks: null pointers zufErrNullPtr, the ID
 * word zufErrContext, kx outside 0..32 zufErrSize; nothing is written on failure. */
typedef struct AnalysisFilterContext_SBRHQ_32s32sc AnalysisFilterContext_SBRHQ_32s32sc;           /* 0x434D4161 */
typedef struct AnalysisFilterContext_SBRLP_32s AnalysisFilterContext_SBRLP_32s;                   /* 0x434D4162 */
typedef struct SynthesisFilterContext_SBRHQ_32sc32s SynthesisFilterContext_SBRHQ_32sc32s;         /* 0x434D4163 */
typedef struct SynthesisFilterContext_SBRLP_32s SynthesisFilterContext_SBRLP_32s;                 /* 0x434D4164 */
typedef struct SynthesisDownFilterContext_SBRHQ_32sc32s SynthesisDownFilterContext_SBRHQ_32sc32s; /* 0x434D4165 */
typedef struct SynthesisDownFilterContext_SBRLP_32s SynthesisDownFilterContext_SBRLP_32s;         /* 0x434D4166 */

ZUF_API zufResult zufsAnalysisFilterGetSize_SBRHQ_32s32sc(int *pSize);
ZUF_API zufResult zufsAnalysisFilterGetSize_SBRLP_32s(int *pSize);
ZUF_API zufResult zufsSynthesisFilterGetSize_SBRHQ_32sc32s(int *pSize);
ZUF_API zufResult zufsSynthesisFilterGetSize_SBRLP_32s(int *pSize);
ZUF_API zufResult zufsSynthesisDownFilterGetSize_SBRHQ_32sc32s(int *pSize);
ZUF_API zufResult zufsSynthesisDownFilterGetSize_SBRLP_32s(int *pSize);

ZUF_API zufResult zufsAnalysisFilterInit_SBRHQ_32s32sc(Zuf8u *pMem);
ZUF_API zufResult zufsAnalysisFilterInit_SBRLP_32s(Zuf8u *pMem);
ZUF_API zufResult zufsSynthesisFilterInit_SBRHQ_32sc32s(Zuf8u *pMem);
ZUF_API zufResult zufsSynthesisFilterInit_SBRLP_32s(Zuf8u *pMem);
ZUF_API zufResult zufsSynthesisDownFilterInit_SBRHQ_32sc32s(Zuf8u *pMem);
ZUF_API zufResult zufsSynthesisDownFilterInit_SBRLP_32s(Zuf8u *pMem);

/* zufErrNoMemory (and *ppSpec unchanged) when the allocation fails. */
ZUF_API zufResult zufsAnalysisFilterInitAlloc_SBRHQ_32s32sc(AnalysisFilterContext_SBRHQ_32s32sc **ppSpec);
ZUF_API zufResult zufsAnalysisFilterInitAlloc_SBRLP_32s(AnalysisFilterContext_SBRLP_32s **ppSpec);
ZUF_API zufResult zufsSynthesisFilterInitAlloc_SBRHQ_32sc32s(SynthesisFilterContext_SBRHQ_32sc32s **ppSpec);
ZUF_API zufResult zufsSynthesisFilterInitAlloc_SBRLP_32s(SynthesisFilterContext_SBRLP_32s **ppSpec);
ZUF_API zufResult zufsSynthesisDownFilterInitAlloc_SBRHQ_32sc32s(SynthesisDownFilterContext_SBRHQ_32sc32s **ppSpec);
ZUF_API zufResult zufsSynthesisDownFilterInitAlloc_SBRLP_32s(SynthesisDownFilterContext_SBRLP_32s **ppSpec);

ZUF_API zufResult zufsAnalysisFilterFree_SBRHQ_32s32sc(AnalysisFilterContext_SBRHQ_32s32sc *pSpec);
ZUF_API zufResult zufsAnalysisFilterFree_SBRLP_32s(AnalysisFilterContext_SBRLP_32s *pSpec);
ZUF_API zufResult zufsSynthesisFilterFree_SBRHQ_32sc32s(SynthesisFilterContext_SBRHQ_32sc32s *pSpec);
ZUF_API zufResult zufsSynthesisFilterFree_SBRLP_32s(SynthesisFilterContext_SBRLP_32s *pSpec);
ZUF_API zufResult zufsSynthesisDownFilterFree_SBRHQ_32sc32s(SynthesisDownFilterContext_SBRHQ_32sc32s *pSpec);
ZUF_API zufResult zufsSynthesisDownFilterFree_SBRLP_32s(SynthesisDownFilterContext_SBRLP_32s *pSpec);

/* Analysis of 32 new samples into 32 bands; bands kx..31 are set to 0 (the history still takes
 * the samples). */
ZUF_API zufResult zufsAnalysisFilter_SBRHQ_32s32sc(const Zuf32s *pSrc, Zuf32sc *pDst, int kx,
                                                   AnalysisFilterContext_SBRHQ_32s32sc *pSpec);
ZUF_API zufResult zufsAnalysisFilter_SBRLP_32s(const Zuf32s *pSrc, Zuf32s *pDst, int kx,
                                               AnalysisFilterContext_SBRLP_32s *pSpec);
/* Synthesis of 64 bands into 64 samples. */
ZUF_API zufResult zufsSynthesisFilter_SBRHQ_32sc32s(const Zuf32sc *pSrc, Zuf32s *pDst,
                                                    SynthesisFilterContext_SBRHQ_32sc32s *pSpec);
ZUF_API zufResult zufsSynthesisFilter_SBRLP_32s(const Zuf32s *pSrc, Zuf32s *pDst,
                                                SynthesisFilterContext_SBRLP_32s *pSpec);
/* Down-sampled synthesis of 32 bands into 32 samples. A full-band synthesis context of the same
 * mode is accepted too (cast it): its history then holds ten blocks of 64. */
ZUF_API zufResult zufsSynthesisDownFilter_SBRHQ_32sc32s(const Zuf32sc *pSrc, Zuf32s *pDst,
                                                        SynthesisDownFilterContext_SBRHQ_32sc32s *pSpec);
ZUF_API zufResult zufsSynthesisDownFilter_SBRLP_32s(const Zuf32s *pSrc, Zuf32s *pDst,
                                                    SynthesisDownFilterContext_SBRLP_32s *pSpec);

/* ---- SBR prediction and encoder analysis --------------------------------------------------- */

/* Covariance-method prediction of the HF generator (ISO/IEC 14496-3 4.6.18.6.2). Rows are QMF
 * slots, elements bands: x_n = ppSrc[n][k], n = 0..len+1. For each band k < nBands:
 *   phi(i,j) = sum_{n=2..len+1} x_{n-i} conj(x_{n-j}),
 *   d = phi(2,2) phi(1,1) - 0.99999905 |phi(1,2)|^2,
 *   alpha1 = (phi(0,1) phi(1,2) - phi(0,2) phi(1,1)) / d                 (0 when d = 0),
 *   alpha0 = -(phi(0,1) + alpha1 conj(phi(1,2))) / phi(1,1)              (0 unless phi(1,1) > 0),
 * and both are set to 0 when |alpha0|^2 >= 16 or |alpha1|^2 >= 16. Checks: a null pointer
 * zufErrNullPtr; len < 1 writes nothing and returns zufOk. */
ZUF_API zufResult zufsPredictCoef_SBR_R_32f_D2L(const Zuf32f **ppSrc, Zuf32f *pAlpha0, Zuf32f *pAlpha1, int nBands,
                                                int len);
ZUF_API zufResult zufsPredictCoef_SBR_C_32fc_D2L(const Zuf32fc **ppSrc, Zuf32fc *pAlpha0, Zuf32fc *pAlpha1, int nBands,
                                                 int len);
/* Split complex rows; divides by multiplying with 1/d and 1/phi(1,1). */
ZUF_API zufResult zufsPredictCoef_SBR_C_32f_D2L(const Zuf32f **ppSrcRe, const Zuf32f **ppSrcIm, Zuf32f *pAlpha0Re,
                                                Zuf32f *pAlpha0Im, Zuf32f *pAlpha1Re, Zuf32f *pAlpha1Im, int nBands,
                                                int len);

/* The same for one band k of 32-bit samples, coefficients in Q29 (complex: real, imaginary).
 * Rows 0..len+1 are read. No checks; returns zufOk. */
ZUF_API zufResult zufsPredictOneCoef_SBRHQ_32sc_D2L(const Zuf32sc **ppSrc, Zuf32sc *pAlpha0, Zuf32sc *pAlpha1, int k,
                                                    int len);
ZUF_API zufResult zufsPredictOneCoef_SBRLP_32s_D2L(const Zuf32s **ppSrc, Zuf32s *pAlpha0, Zuf32s *pAlpha1, int k,
                                                   int len);

/* Reciprocal of x > 0: with s = clz(x) - 1 written to *pScaleFactor and x' = x << s in
 * [2^30, 2^31), returns about 2^60 / x' (Newton-Raphson, four steps). Returns the value, not a
 * status. */
ZUF_API Zuf32s zufsInvWrap_32s_Sf(Zuf32s x, int *pScaleFactor);

/* SBR encoder analysis bank: 64 complex bands from a 640-sample window (no history kept):
 *   u[n] = sum_{j<5} c[n + 128j] pSrc[639 - 128j - n], n < 128 (c = SBR_TAB_QMF_WINDOW_640_FP),
 *   X[k] = sum_{n<128} u[n] exp(i pi (k + 0.5)(2n + 1) / 128), k < 64,
 * through a 64-point complex FFT with the twiddles below (cos, sin pairs). */
typedef struct AnalysisFilterEncContext_SBR_32f AnalysisFilterEncContext_SBR_32f; /* ID 0x434D416A */

ZUF_API extern const Zuf32f SBR_TAB2_QMF_ENC_FP[128]; /* pre-twiddle (cos, sin)(pi (1 - 2m) / 256)  */
ZUF_API extern const Zuf32f SBR_TAB3_QMF_ENC_FP[128]; /* post-twiddle (cos, sin)(pi j / 64)         */
ZUF_API extern const Zuf32f SBR_TAB4_QMF_ENC_FP[128]; /* output quadrant: 1 (even m), -i (odd m)    */

/* Bytes of the context block and of the init buffer. Checks: a null pointer zufErrNullPtr. */
ZUF_API zufResult zufsAnalysisFilterEncGetSize_SBR_32f(int *pSpecSize, int *pInitBufSize);
/* Builds the context at pMemSpec rounded up to 16 bytes. Checks: a null pointer zufErrNullPtr. */
ZUF_API zufResult zufsAnalysisFilterEncInit_SBR_32f(Zuf8u *pMemSpec, Zuf8u *pMemInit);
/* Allocates and builds a context. Checks: ppSpec null zufErrNullPtr, then zufErrNoMemory. */
ZUF_API zufResult zufsAnalysisFilterEncInitAlloc_SBR_32f(AnalysisFilterEncContext_SBR_32f **ppSpec);
/* Checks: null zufErrNullPtr, wrong ID zufErrContext; releases an InitAlloc block. */
ZUF_API zufResult zufsAnalysisFilterEncFree_SBR_32f(AnalysisFilterEncContext_SBR_32f *pSpec);
/* pSrc: 640 samples, oldest first; pDst: 64 bands. Checks: a null pointer zufErrNullPtr, wrong ID
 * zufErrContext. */
ZUF_API zufResult zufsAnalysisFilterEnc_SBR_32f32fc(const Zuf32f *pSrc, Zuf32fc *pDst,
                                                    const AnalysisFilterEncContext_SBR_32f *pSpec);

/* Transient detector over the energies pSrc[12..63]: thr = max(0.34 s + 0.66 *pThr, 128000) with
 * s the sample standard deviation of pSrc[16..63], stored in *pThr; each of the smoothed energy
 * deltas above thr adds delta / thr - 1 to its entries of pTransient[16..60]. Checks: a null
 * pointer zufErrNullPtr. */
ZUF_API zufResult zufsDetectTransient_SBR_32f(const Zuf32f *pSrc, Zuf32f *pThr, Zuf32f *pTransient);

/* Tonality of two blocks of 16 complex QMF values: the covariance prediction gain g of each
 * block gives TNR = g / (1.000001 - g) (1e6 when |1 - g| <= 1e-6, 0 for a silent block);
 * *pMeanNrg is the mean of the two blocks' energies over their last 14 values. Checks: a null
 * pointer zufErrNullPtr. */
ZUF_API zufResult zufsEstimateTNR_SBR_32f(const Zuf32fc *pSrc, Zuf32f *pTnr0, Zuf32f *pTnr1, Zuf32f *pMeanNrg);

/* ---- MP3 polyphase filter banks, floating point ------------------------------------------- */

/* The 32-band polyphase filter banks of ISO/IEC 11172-3 in float, one group of 32 samples of one
 * channel per call. Analysis: 32 PCM samples (scaled by 1/32768, so 16-bit full scale is 1.0) to
 * 32 sub-band samples S[i] = sum_{k<64} cos((2i + 1)(k - 16) pi / 64) sum_{j<8} C[k + 64j]
 * X[k + 64j]. Synthesis: 32 sub-band samples to 32 PCM samples through V, U and the window D
 * of the standard, without output scaling. mode 1 reads (analysis) or writes (synthesis) the PCM
 * side at pSrc[0..31] / pDst[0..31], mode 2 at every second element (one channel of an
 * interleaved pair). The context (2091 bytes) sits at the caller's block rounded up to 16
 * bytes: ID word, phase index (15 after Init, stepped down modulo 16 every call), ownership flag,
 * pointer to the 512-float history behind it. */
typedef struct SynthesisFilterContext_PQMF_MP3_32f SynthesisFilterContext_PQMF_MP3_32f; /* ID 0x434D4167 */
typedef struct AnalysisFilterContext_PQMF_MP3_32f AnalysisFilterContext_PQMF_MP3_32f;   /* ID 0x434D4168 */

/* Writes 2091. Checks: null zufErrNullPtr. */
ZUF_API zufResult zufsAnalysisFilterGetSize_PQMF_MP3_32f(int *pSize);
ZUF_API zufResult zufsSynthesisFilterGetSize_PQMF_MP3_32f(int *pSize);
/* Builds the context in pMem (2091 bytes) with a zero history; *ppSpec = the aligned address.
 * Checks: a null pointer zufErrNullPtr. */
ZUF_API zufResult zufsAnalysisFilterInit_PQMF_MP3_32f(AnalysisFilterContext_PQMF_MP3_32f **ppSpec, Zuf8u *pMem);
ZUF_API zufResult zufsSynthesisFilterInit_PQMF_MP3_32f(SynthesisFilterContext_PQMF_MP3_32f **ppSpec, Zuf8u *pMem);
/* Allocates and builds a context. Checks: null zufErrNullPtr; zufErrNoMemory leaves *ppSpec. */
ZUF_API zufResult zufsAnalysisFilterInitAlloc_PQMF_MP3_32f(AnalysisFilterContext_PQMF_MP3_32f **ppSpec);
ZUF_API zufResult zufsSynthesisFilterInitAlloc_PQMF_MP3_32f(SynthesisFilterContext_PQMF_MP3_32f **ppSpec);
/* Checks: null zufErrNullPtr, wrong ID zufErrContext; releases an InitAlloc block. */
ZUF_API zufResult zufsAnalysisFilterFree_PQMF_MP3_32f(AnalysisFilterContext_PQMF_MP3_32f *pSpec);
ZUF_API zufResult zufsSynthesisFilterFree_PQMF_MP3_32f(SynthesisFilterContext_PQMF_MP3_32f *pSpec);
/* Checks: a null pointer zufErrNullPtr, mode not 1 or 2 zufErrBadArg, wrong ID zufErrContext. */
ZUF_API zufResult zufsAnalysisFilter_PQMF_MP3_32f(const Zuf32f *pSrc, Zuf32f *pDst,
                                                  AnalysisFilterContext_PQMF_MP3_32f *pSpec, int mode);
ZUF_API zufResult zufsSynthesisFilter_PQMF_MP3_32f(const Zuf32f *pSrc, Zuf32f *pDst,
                                                   SynthesisFilterContext_PQMF_MP3_32f *pSpec, int mode);

#ifdef __cplusplus
}
#endif

#endif /* ZUFACK9_ZUF_SBR_H */
