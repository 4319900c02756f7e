// Kernels of the vector power functions (vec_pow.cpp): each `_sse2` matches its `_ref` bit for
// bit at any alignment; the tests and the benchmark call both. Preconditions: non-null
// pointers, len >= 1.
#pragma once

#include "zufack9/zuf_core.h"

namespace zuf {

void ownsPow34_32f_ref(const Zuf32f* pSrc, Zuf32f* pDst, int len);
void ownsPow34_32f_sse2(const Zuf32f* pSrc, Zuf32f* pDst, int len);
void ownsPow34_32f16s_ref(const Zuf32f* pSrc, Zuf16s* pDst, int len);
void ownsPow34_32f16s_sse2(const Zuf32f* pSrc, Zuf16s* pDst, int len);
void ownsPow34_16s_Sfs(const Zuf16s* pSrc, int inScale, Zuf16s* pDst, int outScale, int len);
void ownsPow43_16s32f(const Zuf16s* pSrc, Zuf32f* pDst, int len);

}  // namespace zuf
