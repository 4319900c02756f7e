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
 * for the real one), 640 (down banks). Init returns the header's address. GetSize: spec size =
 * transform spec size rounded up to 16 + 1327 (analysis), 5167 (complex synthesis), 5183 (real
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

/* ---- SBR prediction and encoder analysis --------------------------------------------------- */

/* ---- MP3 polyphase filter banks, floating point ------------------------------------------- */

#ifdef __cplusplus
}
#endif

#endif /* ZUFACK9_ZUF_SBR_H */
