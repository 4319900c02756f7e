// Internal interface of the float SBR QMF banks (ISO/IEC 14496-3 4.6.18.4): the context header
// that follows the nested transform context, and the rotation tables of sbr_qmf_float_tables.cpp.
#pragma once

#include <cstdint>

#include "zufack9/zuf_sbr.h"

// The header every bank returns to its caller: ID word first, then the history ring (16-byte
// aligned, right behind the header), the ring position (a multiple of the block a slot writes,
// counting down) and the transform context at the start of the caller's block.
struct SbrQmfFloatHeader {
    uint32_t id;
    float* pHist;
    int32_t pos;
    void* pTransform;
};
struct AnalysisFilterContext_SBR_RToC_32f32fc : SbrQmfFloatHeader {};
struct AnalysisFilterContext_SBR_RToC_32f : SbrQmfFloatHeader {};
struct AnalysisFilterContext_SBR_RToR_32f : SbrQmfFloatHeader {};
struct SynthesisFilterContext_SBR_CToR_32fc32f : SbrQmfFloatHeader {};
struct SynthesisFilterContext_SBR_CToR_32f : SbrQmfFloatHeader {};
struct SynthesisFilterContext_SBR_RToR_32f : SbrQmfFloatHeader {};
struct SynthesisDownFilterContext_SBR_CToR_32fc32f : SbrQmfFloatHeader {};
struct SynthesisDownFilterContext_SBR_CToR_32f : SbrQmfFloatHeader {};
struct SynthesisDownFilterContext_SBR_RToR_32f : SbrQmfFloatHeader {};

namespace zuf {

// Runs the banks' scalar reference (the Lanes4 instantiation) instead of the SSE one on this
// thread while set: the tests compare the two through the exported functions.
void ownsSbrQmfFloatReference(bool on);

// Layouts and values: tools/gen/gen_sbr_qmf_float_tables.py.
extern const Zuf32f tblPreProcCosSinDCT4_64_SIMD[64];
extern const Zuf32f tblPostProcCosSinDCT4_32_SIMD[32];
extern const Zuf32f tblPostProcCosSinDCT4_32_SIMD_Odd[32];
extern const Zuf32f pScaleCoefs[4];
extern const Zuf32f pScaleCoefsFirst[4];
extern const Zuf32f pTableSynthesisSinCos_32f[64];
extern const Zuf32f pTableCosSin_HQ_SQMF_32f[64];
extern const Zuf32f _tInSynthesisDown_HQ_32[64];
extern const Zuf32f _tExSynthesisDown_HQ_64[128];

}  // namespace zuf
