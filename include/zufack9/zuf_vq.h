/*
 * libzufack9 vector quantisation and spreading: the codebook search of the conjugate-structure,
 * weighted two-codebook vector quantiser of TwinVQ (ISO/IEC 14496-3), and the integer spreading
 * function of the ISO/IEC 13818-7 psychoacoustic model.
 *
 * Vector quantisation. A target vector is cut into nSubVec consecutive sub-vectors of lengths
 * pSubVecLen[s]; the sub-vectors of the target pSrc and of the weights pWeight follow one
 * another without gaps. Each sub-vector is represented by the average of one codeword of each of
 * two codebooks, each optionally negated: distances are weighted squared errors in float.
 *   - polarity flags (one per sub-vector): 1 allows the negated codeword, any other value
 *     forbids it;
 *   - candidate lists: nCand entries per sub-vector, sub-vector s at s*nCand .. s*nCand+nCand-1;
 *   - sign flags: 1 means the codeword is used negated, 0 as stored.
 *
 * Codebook context (VQCodeBookContext_32f), built at the caller's pointer itself (no alignment
 * of the start) by Init, or on the library heap by InitAlloc; fields in order: height (int32),
 * two unused words, dim (int32), a validity word (1 after Init, 0 after Free), the pointer to the
 * table of height codeword pointers, four scratch pointers (per-codeword distances, kept
 * distances, kept indices, sign flags) and the ownership flag (int32, 1 for InitAlloc). That is
 * 44 bytes on 32-bit x86 and 72 bytes on x86-64 (8-byte pointers, 4 bytes of padding before the
 * first). In the caller's block follow, each at a 32-byte boundary: the codeword pointer table,
 * the codewords (a copy: the caller's array may be discarded after Init), each in a slot of dim
 * floats rounded up to 32 bytes, then the four scratch arrays of height 32-bit values, each
 * rounded up to 32 bytes, in the order distances, sign flags, kept distances, kept indices.
 * The block size is 4 * (height * (4*dim + 52) + 244) bytes on both targets.
 *
 * The selections use the scratch arrays of their contexts: one context serves one selection at
 * a time. Nothing checks nCand, the lengths, the indices or the validity word, but no value of
 * them reads or writes outside the caller's arrays and the codebook blocks:
 *   - a length below 0 counts as 0, and a codeword is taken as zero beyond its dim entries;
 *   - nCand below 1 keeps no candidate (a preliminary selection then writes nothing);
 *   - a codeword index outside 0..height-1 is never chosen by a main selection and contributes
 *     zero to a reconstruction; the preliminary selection writes index -1 and sign 0 to the
 *     candidate entries it has no codeword for (nCand > height, or distances of 1e38 or more);
 *   - index selection with nCodeBook < 2 and reconstruction with nCodeBook < 1 write nothing.
 */
#ifndef ZUFACK9_ZUF_VQ_H
#define ZUFACK9_ZUF_VQ_H

#include "zuf_core.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct VQCodeBookContext_32f VQCodeBookContext_32f; /* no ID word */

/* Block size in bytes for a codebook of height codewords of dim floats. Checks: pSize null
 * zufErrNullPtr; dim or height below 1, or a size beyond INT32_MAX, zufErrSize. */
ZUF_API zufResult zufsVQCodeBookGetSize_32f(int dim, int height, int *pSize);
/* Builds the context at pMem (at least GetSize bytes), copies the height codewords of pCodeBook
 * (dim floats each, one after another) and stores pMem in *ppCodeBook. Checks: a null pointer
 * zufErrNullPtr, then the sizes as GetSize. */
ZUF_API zufResult zufsVQCodeBookInit_32f(const Zuf32f *pCodeBook, VQCodeBookContext_32f **ppCodeBook, int dim,
                                         int height, Zuf8u *pMem);
/* GetSize's error first, then zufErrNoMemory, then Init's status (the block released again). */
ZUF_API zufResult zufsVQCodeBookInitAlloc_32f(const Zuf32f *pCodeBook, VQCodeBookContext_32f **ppCodeBook, int dim,
                                              int height);
/* Clears the validity word; releases the block when InitAlloc made it. Null: zufErrNullPtr. */
ZUF_API zufResult zufsVQCodeBookFree_32f(VQCodeBookContext_32f *pCodeBook);

/* The nCand codewords of pCodeBook with the smallest d, per sub-vector, best first (a later
 * codeword goes before an earlier one of equal distance), d = sum w (c - x)^2, or, where the
 * polarity allows, min(d, sum w (c + x)^2) with sign 1 when the negated one is not worse. With
 * nCand >= height every codeword is listed in index order. Writes pIndex and pSign at s*nCand.
 * Checks: any pointer null zufErrNullPtr; nSubVec < 1 zufOk with nothing written. */
ZUF_API zufResult zufsVQPreliminarySelect_32f(const Zuf32f *pSrc, const Zuf32f *pWeight, int nSubVec,
                                              const int *pSubVecLen, int *pIndex, int *pSign, int nCand,
                                              const int *pPolarity, VQCodeBookContext_32f *pCodeBook);
/* Per sub-vector the pair of candidates (a of codebook 0 outer, b of codebook 1 inner) with the
 * smallest sum w (x - (g0 + g1) / divisor)^2, g = (1 - 2 sign) codeword; the first pair keeps a
 * tie. Writes ppIndex[k][s] and ppSign[k][s] for k = 0, 1; where no pair gives a distance below
 * 1e38 the outputs of the previous sub-vector (zeros for the first) are written again.
 * Checks: any pointer (also ppX[0], ppX[1]) null zufErrNullPtr; nSubVec < 1 zufOk. */
ZUF_API zufResult zufsVQMainSelect_32f(const Zuf32f *pSrc, const Zuf32f *pWeight, const int *pSubVecLen, int nSubVec,
                                       int nCand, const int *const *ppIndexCand, const int *const *ppSignCand,
                                       int **ppIndex, int **ppSign, VQCodeBookContext_32f *const *ppCodeBook,
                                       int divisor);
/* Both stages in one call: the nCand best codewords of each codebook (distances doubled, and a
 * tie between a codeword and its negation keeps the stored one), then the best pair of those
 * for the average (g0 + g1) / 2, as the main selection. ppPolarity[k] holds the flags of
 * codebook k. Checks: the pointers zufErrNullPtr (the entries 0 and 1 of the pointer arrays
 * when nCodeBook >= 2); nSubVec < 1 zufOk. */
ZUF_API zufResult zufsVQIndexSelect_32f(const Zuf32f *pSrc, const Zuf32f *pWeight, int nSubVec, const int *pSubVecLen,
                                        int nCand, const int *const *ppPolarity, int **ppIndex, int **ppSign,
                                        VQCodeBookContext_32f *const *ppCodeBook, int nCodeBook);
/* pDst (sum of the lengths) = (1 / nCodeBook) * sum_k float(ppSign[k][s]) * codeword_k[ppIndex[k][s]]:
 * the sign arrays hold multipliers here (+1, -1). Checks: any pointer (also the first nCodeBook
 * entries of the pointer arrays) null zufErrNullPtr. */
ZUF_API zufResult zufsVQReconstruction_32f(const int *const *ppIndex, const int *const *ppSign, const int *pSubVecLen,
                                           int nSubVec, int nCodeBook, Zuf32f *pDst,
                                           VQCodeBookContext_32f *const *ppCodeBook);

/* Spreading function of the ISO/IEC 13818-7 psychoacoustic model in integer arithmetic: the
 * masking that energy at Bark position src1 spreads to src2, Bark values being the integers
 * times 2^scaleFactor. *pDst is 10^((tmpz + tmpy) / 10) in Q15 (32767 for 1.0 and above), with
 * tmpx = 3 (src2 - src1) upwards and 1.5 (src2 - src1) downwards, tmpz = 8 min((tmpx - 0.5)^2 -
 * 2 (tmpx - 0.5), 0), tmpy = 15.81137849 + 7.5 (tmpx + 0.474343) - 17.5 sqrt(1 + (tmpx +
 * 0.474343)^2); 0 when tmpx is above 12 or below -6 (a distance of more than 4 Bark upwards or
 * 4 Bark downwards). Only pDst is checked (zufErrNullPtr). */
ZUF_API zufResult zufsSpread_16s_Sfs(Zuf16s src1, Zuf16s src2, int scaleFactor, Zuf16s *pDst);

#ifdef __cplusplus
}
#endif

#endif /* ZUFACK9_ZUF_VQ_H */
