// Fixed-point SBR QMF banks (ISO/IEC 14496-3, 4.6.18.4): internal tables and the kernels behind
// the exported shells, one time slot per call. Every value is a 32-bit integer; products are
// mulhi with Q30 factors (a scale of 1/4 each), sums wrap in 32 bits.
#pragma once

#include "zufack9/zuf_sbr.h"

namespace zuf {

// Q30 rotation factors, (re, im) pairs unless stated (angles: tools/gen/gen_sbr_qmf_fixed_tables.py).
extern const Zuf32s pTabPreProc_CosSin_DCT4_64_32s[64];   // cos, -sin of (4n+1) pi/256, n < 32
extern const Zuf32s pTabPostProc_CosSin_DCT4_64_32s[64];  // cos, -sin of m pi/64, m < 32
extern const Zuf32s pTabPreProc_QMFA_LPmode[128];         // exp(i (3 pi/4 - n pi/64)), n < 64
extern const Zuf32s cos4sin4tab64[64];  // cos a + sin a, sin a, cos b + sin b, cos b; a, b = (4i+1, 4i+3) pi/256
extern const Zuf32s cos1sin1tab64[64];  // cos + sin, sin of j pi/64, j < 32
extern const Zuf32s pTabPreProc_QMFS_LPmode[128];    // exp(i k pi/2), k < 64
extern const Zuf32s pTabPostProc_QMFS_LPmode[256];   // exp(i (pi/4 - n pi/128)), n < 128
extern const Zuf32s pTabPreProc_QMFSD_HQmode[64];    // cos, -sin of k pi/128, k < 32
extern const Zuf32s pTabPostProc_QMFSD_HQmode[128];  // -exp(-i (4n+1) pi/256), n < 64
extern const Zuf32s pTabPreProc_QMFSD_LPmode[64];    // exp(i k pi/2), k < 32
extern const Zuf32s pTabPostProc_QMFSD_LPmode[128];  // exp(i (pi/4 - n pi/64)), n < 64

// The state record behind a context header: the history ring of ten blocks and the index of the
// newest block.
struct SbrQmfState {
    Zuf32s* pHist;
    int32_t blk;
};

// Transforms of one slot. Analysis: the 64 windowed values u (the float bank's u / 4) to 32
// bands, G = 1/16 on the defining sums. Synthesis: the bands to the B new ring values.
void ownsAnalysisDCT4_SBRHQ_32s32sc(const Zuf32s* pU, Zuf32sc* pDst);
void ownsAnalysisDCT4_SBRLP_32s(const Zuf32s* pU, Zuf32s* pDst);
void ownsSynthesisRotate_SBRHQ_32sc32s(const Zuf32sc* pSrc, Zuf32s* pV);
void ownsSynthesisRotate_SBRLP_32s(const Zuf32s* pSrc, Zuf32s* pV);
void ownsSynthesisDownRotate_SBRHQ_32sc32s(const Zuf32sc* pSrc, Zuf32s* pV);
void ownsSynthesisDownRotate_SBRLP_32s(const Zuf32s* pSrc, Zuf32s* pV);

}  // namespace zuf
