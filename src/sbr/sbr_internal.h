// Internal interface of the SBR tools: the kernels behind the exported shells, so that the tests
// can run each vector path beside its scalar reference.
#pragma once

#include "zufack9/zuf_sbr.h"

namespace zuf::sbr {

// Covariance prediction of bands 0..nBands-1; `vector` runs four bands per step where it can,
// otherwise every band takes the scalar reference.
void ownsPredictCoef_SBR_R_32f(const Zuf32f* const* ppSrc, Zuf32f* pAlpha0, Zuf32f* pAlpha1, int nBands, int len,
                               bool vector);
void ownsPredictCoef_SBR_C_32fc(const Zuf32fc* const* ppSrc, Zuf32fc* pAlpha0, Zuf32fc* pAlpha1, int nBands, int len,
                                bool vector);
void ownsPredictCoef_SBR_C_32f(const Zuf32f* const* ppSrcRe, const Zuf32f* const* ppSrcIm, Zuf32f* pAlpha0Re,
                               Zuf32f* pAlpha0Im, Zuf32f* pAlpha1Re, Zuf32f* pAlpha1Im, int nBands, int len,
                               bool vector);

}  // namespace zuf::sbr
