// The TwinVQ codebook context (ISO/IEC 14496-3): its record, the layout of the
// caller's block around it, and the kernels behind the exported search functions.
#pragma once

#include <cstddef>
#include <cstdint>

#include "zufack9/zuf_vq.h"

struct VQCodeBookContext_32f {
    int32_t height;       // number of codewords
    int32_t reserved[2];  // not used by this family
    int32_t dim;          // codeword length
    int32_t valid;        // 1 after Init, 0 after Free
    Zuf32f** ppCodeword;  // height pointers, each to a 32-byte aligned slot of dim floats
    Zuf32f* pDist;        // per-codeword distance
    Zuf32f* pKeptDist;    // the kept distances, ascending
    int32_t* pKeptIndex;  // the codeword index of each kept distance
    int32_t* pSign;       // per-codeword sign flag, then per kept entry
    int32_t allocated;    // 1: InitAlloc made the block, so Free releases it
};

namespace zuf {

// Bytes of one slot of the block: n bytes rounded up to 32.
constexpr std::size_t vq_slot(std::size_t n) { return (n + 31) & ~std::size_t{31}; }

// The documented block size, 4 * (height * (4 * dim + 52) + 244), as a 64-bit value; it bounds
// the layout on both targets (see the Init shell).
constexpr int64_t vq_block_bytes(int dim, int height) { return 4 * (int64_t{height} * (4 * int64_t{dim} + 52) + 244); }

// Distance flavours of the two first-stage searches: the preliminary selection takes the
// negated codeword on a tie (d_plus <= d_minus), stage one of index selection keeps the stored
// one and doubles every term.
enum class VqStage { Preliminary, IndexStageOne };

// Stage one on one sub-vector: fills pDist and pSign per codeword, then the kept list (at most
// min(nCand, height) entries, best first) with its signs; returns the number kept.
int ownsVQKeepBest_32f(const Zuf32f* x, const Zuf32f* w, int len, int polarity, int nCand, VQCodeBookContext_32f* cb,
                       VqStage stage);

}  // namespace zuf

namespace zuf {

// The four-lane distance kernels (len >= 4; the evaluation order is in vq_codebook.cpp): d_minus
// and d_plus of one codeword (terms doubled or not), the main selection's pair distance with the
// reciprocal of the divisor, and stage two's cross term. Each _sse2 matches its _ref bit for bit.
void ownsVQDistancePair_32f_ref(const Zuf32f* x, const Zuf32f* w, const Zuf32f* c, int len, bool doubled, Zuf32f* dm,
                                Zuf32f* dp);
void ownsVQDistancePair_32f_sse2(const Zuf32f* x, const Zuf32f* w, const Zuf32f* c, int len, bool doubled, Zuf32f* dm,
                                 Zuf32f* dp);
Zuf32f ownsVQPairDistance_32f_ref(const Zuf32f* x, const Zuf32f* w, int len, const Zuf32f* c0, Zuf32f s0,
                                  const Zuf32f* c1, Zuf32f s1, Zuf32f recip);
Zuf32f ownsVQPairDistance_32f_sse2(const Zuf32f* x, const Zuf32f* w, int len, const Zuf32f* c0, Zuf32f s0,
                                   const Zuf32f* c1, Zuf32f s1, Zuf32f recip);
Zuf32f ownsVQPairCross_32f_ref(const Zuf32f* w, int len, const Zuf32f* c0, Zuf32f s0, const Zuf32f* c1, Zuf32f s1);
Zuf32f ownsVQPairCross_32f_sse2(const Zuf32f* w, int len, const Zuf32f* c0, Zuf32f s0, const Zuf32f* c1, Zuf32f s1);

// The kernels of the exported functions (arguments already checked, nSubVec >= 1).
void ownsVQPreliminarySelect_32f(const Zuf32f* pSrc, const Zuf32f* pWeight, int nSubVec, const int* pSubVecLen,
                                 int* pIndex, int* pSign, int nCand, const int* pPolarity, VQCodeBookContext_32f* cb);
void ownsVQMainSelect_32f(const Zuf32f* pSrc, const Zuf32f* pWeight, const int* pSubVecLen, int nSubVec, int nCand,
                          const int* const* ppIndexCand, const int* const* ppSignCand, int** ppIndex, int** ppSign,
                          const VQCodeBookContext_32f* const* cb, int divisor);
void ownsVQIndexSelect_32f(const Zuf32f* pSrc, const Zuf32f* pWeight, int nSubVec, const int* pSubVecLen, int nCand,
                           const int* const* ppPolarity, int** ppIndex, int** ppSign, VQCodeBookContext_32f* const* cb);
void ownsVQReconstruction_32f(const int* const* ppIndex, const int* const* ppSign, const int* pSubVecLen, int nSubVec,
                              int nCodeBook, Zuf32f* pDst, const VQCodeBookContext_32f* const* cb);

}  // namespace zuf
