/*
 * libzufack9 core: status codes, element types, the version record, aligned allocation with
 * its allocator hooks, the vector utilities and the FIR block filter.
 *
 * Conventions shared by every header of the library:
 *  - Every function except zufacGetLibVersion, zufsMalloc_8u, zufsMalloc_32f and zufsFree
 *    returns a zufResult: 0 success, negative error, positive warning (work completed).
 *  - Argument checks come first, in a fixed order: null pointers, then a context's ID word,
 *    then lengths, then domain checks. The first failing check decides the status, and no
 *    failing argument check writes output or moves a bit-stream position.
 *  - Lengths are element counts (signed 32-bit), not byte counts.
 *  - Contexts are opaque; they are created by an Init/InitAlloc function and carry an ID word.
 *
 * Aligned blocks: zufsMalloc_8u/zufsMalloc_32f ask the hook i_malloc for the requested size plus
 * 32 + sizeof(void *) bytes and return the first 32-byte boundary that leaves room for the raw
 * address in front of it; the raw address is stored in the pointer-sized slot just before the
 * returned block. On 32-bit x86 that is the documented layout exactly (request + 36 bytes,
 * returned = (raw + 35) & ~31, the 32-bit raw address in the 4 bytes before). On x86-64 the
 * slot is 8 bytes wide and the request is size + 40. Only zufsFree may release such a block.
 */
#ifndef ZUFACK9_ZUF_CORE_H
#define ZUFACK9_ZUF_CORE_H

#include <stddef.h>
#include <stdint.h>

#if defined(__GNUC__)
#define ZUF_API __attribute__((visibility("default")))
#else
#define ZUF_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------ element types */

typedef uint8_t Zuf8u;
typedef int8_t Zuf8s;
typedef uint16_t Zuf16u;
typedef int16_t Zuf16s;
typedef uint32_t Zuf32u;
typedef int32_t Zuf32s;
typedef int64_t Zuf64s;
typedef uint64_t Zuf64u;
typedef float Zuf32f;
typedef double Zuf64f;

/* Complex pairs: real part first. */
typedef struct {
    Zuf16s re;
    Zuf16s im;
} Zuf16sc;
typedef struct {
    Zuf32s re;
    Zuf32s im;
} Zuf32sc;
typedef struct {
    Zuf32f re;
    Zuf32f im;
} Zuf32fc;

/* ------------------------------------------------------------------ status */

typedef Zuf32s zufResult;

enum {
    zufWarnMisaligned = 2, /* complete; a vector argument was not 16-byte aligned */
    zufOk = 0,
    zufErrRange = -2,   /* a decoded or computed value outside its permitted range */
    zufErrBadArg = -5,  /* a scalar argument outside its permitted set */
    zufErrSize = -6,    /* a length below 1 or beyond its fixed maximum */
    zufErrNullPtr = -8, /* a required pointer (or the pointer it holds) is null */
    zufErrNoMemory = -9,
    zufErrStep = -14,         /* a group period below 1 */
    zufErrFftOrder = -15,     /* transform order outside 0..30 */
    zufErrFftFlag = -16,      /* normalisation flag not 1, 2, 4 or 8 */
    zufErrContext = -17,      /* the context's ID word does not hold its family's ID */
    zufErrFirLen = -26,       /* FIR block: a length below 1 or the delay index out of range */
    zufErrShift = -32,        /* negative shift count */
    zufErrNumChannels = -53,  /* number of channels below 1 */
    zufErrAacEscape = -127,   /* AAC escape word longer than a 13-bit magnitude allows */
    zufErrAacStride = -134,   /* PCM output stride not 1 or 2 */
    zufErrAacWinShape = -135, /* window_shape not 0 or 1 */
    zufErrAacObjType = -136,  /* audio object type outside 0..16 */
    zufErrAacScalableFlag = -137,
    zufErrAacDiffCtrlFlag = -138,
    zufErrAacStereoFlag = -139,
    zufErrAacLayerFlag = -140,
    zufErrAacChanNum = -141,     /* number of channels not 1 or 2 */
    zufErrAacMsMask = -142,      /* ms_mask_present not 1 or 2 */
    zufErrAacCommonWin = -143,   /* common_window not 0 or 1 */
    zufErrAacWinSeq = -144,      /* window_sequence outside 0..3 */
    zufErrAacWinGrp = -145,      /* number of window groups out of range for the window length */
    zufErrAacWinLen = -146,      /* window length not 128 or 1024 */
    zufErrAacSmplRateIdx = -147, /* sampling_frequency_index outside 0..11 */
    zufErrAacBitOffset = -149,   /* bit offset outside 0..7 (AAC functions) */
    zufErrAacTnsProfile = -151,
    zufErrAacTnsDirect = -152,
    zufErrAacTnsCoef = -153,
    zufErrAacTnsCoefRes = -154,
    zufErrAacTnsOrder = -155,
    zufErrAacTnsLength = -156,
    zufErrAacTnsNumFilt = -157,
    zufErrAacSectData = -158, /* section_data does not end at max_sfb in some group */
    zufErrAacGainCtrl = -159, /* gain_control_data_present is set */
    zufErrAacPulse = -160,
    zufErrAacPred = -161,
    zufErrAacMaxSfb = -162,
    zufErrAacCoef = -163,     /* quantised magnitude above 8191 */
    zufErrAacSfValue = -164,  /* decoded scale factor outside 0..255 */
    zufErrAacCodebook = -166, /* reserved section codebook (12, or above 15) */
    zufErrAacPrgNum = -167,   /* ADIF: too many program configuration elements, or bad limit */
    zufErrMp3SideInfo = -170,
    zufErrMp3FrameHeader = -171,
    zufErrBitOffset = -193,    /* bit offset outside 0..7 (variable-length coding engine) */
    zufErrNotSupported = -9999 /* mode not implemented; the decode itself was completed */
};

/* ------------------------------------------------------------------ version */

typedef struct {
    Zuf32s versionMajor; /* 5 */
    Zuf32s versionMinor; /* 2 */
    Zuf32s buildMajor;
    Zuf32s buildNumber;
    char cpuTag[4];          /* "k9" and two zero bytes */
    const char *libName;     /* "libzufack9.so.5.2" */
    const char *versionText; /* "5.2" */
    const char *buildDate;
} LibVersionRecord;

/* The library's constant version record; the same address on every call. */
ZUF_API const LibVersionRecord *zufacGetLibVersion(void);

/* ------------------------------------------------------------------ allocation */

/* Allocator hooks. The library calls only i_malloc (in the two Malloc functions) and i_free (in
 * zufsFree). Replace them before the first allocation and before any concurrent use. */
ZUF_API extern void *(*i_malloc)(size_t size);
ZUF_API extern void *(*i_calloc)(size_t count, size_t size);
ZUF_API extern void *(*i_realloc)(void *ptr, size_t size);
ZUF_API extern void (*i_free)(void *ptr);
/* Version words of the hook component (1 and 0); the library never reads them. */
ZUF_API extern Zuf32s i_version;
ZUF_API extern Zuf32s i_min_version;

/* A 32-byte-aligned block of at least len bytes, or NULL when len < 1 or allocation fails. */
ZUF_API Zuf8u *zufsMalloc_8u(int len);
/* A 32-byte-aligned block of at least len floats, or NULL when len < 1 or allocation fails. */
ZUF_API Zuf32f *zufsMalloc_32f(int len);
/* Releases a block from zufsMalloc_8u/zufsMalloc_32f; NULL is ignored. */
ZUF_API void zufsFree(void *ptr);

/* ------------------------------------------------------------------ vector utilities
 * All check null pointers (zufErrNullPtr) and then len < 1 (zufErrSize). The _Sfs integer
 * variants scale by 2^-scaleFactor, round to nearest with ties to even, and saturate. */

ZUF_API zufResult zufsZero_8u(Zuf8u *pDst, int len);
ZUF_API zufResult zufsZero_16s(Zuf16s *pDst, int len);
ZUF_API zufResult zufsZero_16sc(Zuf16sc *pDst, int len);
ZUF_API zufResult zufsZero_32s(Zuf32s *pDst, int len);
ZUF_API zufResult zufsZero_32sc(Zuf32sc *pDst, int len);
ZUF_API zufResult zufsZero_32f(Zuf32f *pDst, int len);
ZUF_API zufResult zufsZero_32fc(Zuf32fc *pDst, int len);
ZUF_API zufResult zufsSet_32s(Zuf32s val, Zuf32s *pDst, int len);

/* Copy: the buffers must not overlap. Move: correct for overlapping buffers. */
ZUF_API zufResult zufsCopy_8u(const Zuf8u *pSrc, Zuf8u *pDst, int len);
ZUF_API zufResult zufsCopy_32s(const Zuf32s *pSrc, Zuf32s *pDst, int len);
ZUF_API zufResult zufsCopy_32f(const Zuf32f *pSrc, Zuf32f *pDst, int len);
ZUF_API zufResult zufsMove_8u(const Zuf8u *pSrc, Zuf8u *pDst, int len);

ZUF_API zufResult zufsConvert_16s32f(const Zuf16s *pSrc, Zuf32f *pDst, int len);
/* scaleFactor is clamped to -15..31; > 0 rounds to nearest (ties to even), 0 saturates,
 * < 0 shifts left with saturation. */
ZUF_API zufResult zufsConvert_32s16s_Sfs(const Zuf32s *pSrc, Zuf16s *pDst, int len, int scaleFactor);
/* Multiply by 2^-scaleFactor, round (rndMode 0: toward zero; otherwise nearest, ties to even),
 * saturate to 16 bits. */
ZUF_API zufResult zufsConvert_32f16s_Sfs(const Zuf32f *pSrc, Zuf16s *pDst, int len, int rndMode, int scaleFactor);

ZUF_API zufResult zufsCplxToReal_32fc(const Zuf32fc *pSrc, Zuf32f *pDstRe, Zuf32f *pDstIm, int len);
/* A NULL pSrcRe or pSrcIm (not both) gives zeros for that part. */
ZUF_API zufResult zufsRealToCplx_32f(const Zuf32f *pSrcRe, const Zuf32f *pSrcIm, Zuf32fc *pDst, int len);

/* pSrcDst = (pSrc + pSrcDst) * 2^-scaleFactor, rounded (ties to even) and saturated. */
ZUF_API zufResult zufsAdd_32s_ISfs(const Zuf32s *pSrc, Zuf32s *pSrcDst, int len, int scaleFactor);
/* Arithmetic shift right; shift > 31 gives -1 for negative values and 0 otherwise. */
ZUF_API zufResult zufsRShiftC_32s_I(int shift, Zuf32s *pSrcDst, int len);
ZUF_API zufResult zufsMulC_32f_I(Zuf32f val, Zuf32f *pSrcDst, int len);
ZUF_API zufResult zufsMul_32fc(const Zuf32fc *pSrc1, const Zuf32fc *pSrc2, Zuf32fc *pDst, int len);
ZUF_API zufResult zufsMul_32fc_I(const Zuf32fc *pSrc, Zuf32fc *pSrcDst, int len);

ZUF_API zufResult zufsMinMax_16s(const Zuf16s *pSrc, int len, Zuf16s *pMin, Zuf16s *pMax);
/* Sample standard deviation (divisor n - 1); len must be at least 2. hint 1 selects the fast
 * path (single-precision partial sums), any other value the accurate one. */
ZUF_API zufResult zufsStdDev_32f(const Zuf32f *pSrc, int len, Zuf32f *pStdDev, int hint);

/* ppDst[c][k] = pSrc[k * nChannels + c] for len frames. Return zufWarnMisaligned when any of
 * the arrays is not 16-byte aligned (the result is the same). */
ZUF_API zufResult zufsDeinterleave_16s(const Zuf16s *pSrc, int nChannels, int len, Zuf16s **ppDst);
ZUF_API zufResult zufsDeinterleave_32f(const Zuf32f *pSrc, int nChannels, int len, Zuf32f **ppDst);
/* pDst[k * nChannels + c] = ppSrc[c][k]; statuses as Deinterleave. */
ZUF_API zufResult zufsInterleave_16s(const Zuf16s *const *ppSrc, int nChannels, int len, Zuf16s *pDst);
ZUF_API zufResult zufsInterleave_32f(const Zuf32f *const *ppSrc, int nChannels, int len, Zuf32f *pDst);

/* pDst[i] = pMant[i] * 2^-(15 + pExp[i]), pExp[i] in -142..111. zufWarnMisaligned when an
 * array is not 16-byte aligned. */
ZUF_API zufResult zufsMakeFloat_16s32f(const Zuf16s *pMant, const Zuf16s *pExp, int len, Zuf32f *pDst);
/* pDst[i] = 2^((pSrc[i] - offset) / 4) for differences -512..511 (others wrap modulo 1024). */
ZUF_API zufResult zufsCalcSF_16s32f(const Zuf16s *pSrc, int offset, Zuf32f *pDst, int len);

/* ------------------------------------------------------------------ FIR block filter
 * Filters blockLen independent signals at once: y_n = sum_k pTaps[k] * x_(n-k), where one call
 * supplies the current block x_n of every signal. */
typedef struct FirBlockContext_32f FirBlockContext_32f;

ZUF_API zufResult zufsFIRBlockInitAlloc_32f(FirBlockContext_32f **ppCtx, int tapsLen, int blockLen);
/* zufWarnMisaligned when pSrc, pDst or pTaps is not 16-byte aligned. */
ZUF_API zufResult zufsFIRBlockOne_32f(const Zuf32f *pSrc, Zuf32f *pDst, FirBlockContext_32f *pCtx, const Zuf32f *pTaps);
ZUF_API zufResult zufsFIRBlockFree_32f(FirBlockContext_32f *pCtx);

#ifdef __cplusplus
}
#endif

#endif /* ZUFACK9_ZUF_CORE_H */
