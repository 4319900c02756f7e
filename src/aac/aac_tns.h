// Temporal noise shaping kernels (ISO/IEC 13818-7 8.8): transmitted reflection coefficients to a
// direct-form filter, and the all-pole (decoder) and all-zero (encoder) filters over a range of
// spectral values.
#pragma once

#include <cstdint>

#include "zufack9/zuf_core.h"

namespace zuf {

constexpr int kTnsMaxOrder = 12;

// Direct-form coefficients a_1..a_order (a[0] unused) in Q q, |a_i| <= 2^26.
struct TnsFilter {
    int32_t a[kTnsMaxOrder + 1];
    int order;
    int q;
};

// Converts `order` (<= 12) coefficient indices of resolution coefRes (3 or 4) by the step-up
// recursion; an index outside -8..7 gives zufErrAacTnsCoef (-153).
zufResult ownsTnsDecodeCoef(const Zuf8s* pCoef, int order, int coefRes, TnsFilter* pFilt);

// y_n = x_n - sum_j a_j y_(n-j) over `size` values from p, stepping by `step` (+1 or -1), in place;
// outputs before the range count as 0.
void ownsTnsArFilter(Zuf32s* p, int size, int step, const TnsFilter& f);

// y_n = x_n + sum_j a_j x_(n-j), the inverse of the all-pole filter, in place.
void ownsTnsMaFilter(Zuf32s* p, int size, int step, const TnsFilter& f);

}  // namespace zuf
