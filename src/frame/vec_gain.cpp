// Builders of floating-point gains: mantissa/exponent pairs to floats (block-floating-point
// data as the MP3 and AAC decoders produce it), and quarter-power-of-two scale-factor gains.
#include <algorithm>
#include <bit>
#include <cstdint>

#include "common/checks.h"
#include "common/fixed_point.h"
#include "common/simd.h"
#include "frame/csf_tables.h"
#include "frame/vec_kernels.h"

namespace zuf {
namespace {

// MakeFloat: m * 2^-(15 + e), a Q15 mantissa with a power-of-two exponent. For e in -142..111
// the factor is the float whose exponent field is 112 - e, and one product gives the result.
// The kernels use a form that gives the same, correctly rounded value for every 16-bit e: the
// power p = -15 - e is split into two halves p1 + p2, each a normal float factor, and
// m * 2^p1 is exact (16 significant bits, normal range), so the second product is the only
// rounding. Outside -142..111 this yields what m * 2^p rounds to: subnormals, +-0 or +-inf
// (never NaN, even for m = 0). Exponents beyond -188..152 give the same results as those
// limits (0 below 2^-150 in magnitude, inf above the float range), so e is clamped to them.
constexpr int kExpLo = -188, kExpHi = 152;

inline float pow2_field(int field) { return std::bit_cast<float>(static_cast<uint32_t>(field) << 23); }

inline Zuf32f make_float(Zuf16s m, Zuf16s e) {
    const int p = -15 - std::clamp<int>(e, kExpLo, kExpHi);  // -167..173
    const int p1 = p >> 1, p2 = p - p1;                      // each -84..87
    return (static_cast<float>(m) * pow2_field(p1 + 127)) * pow2_field(p2 + 127);
}

}  // namespace

void ownsMakeFloat_16s32f_ref(const Zuf16s* pMant, const Zuf16s* pExp, int len, Zuf32f* pDst) {
    for (int i = 0; i < len; ++i) pDst[i] = make_float(pMant[i], pExp[i]);
}

// index = (x - base) & 1023 with base = offset + 512 saturated to 16 bits; the difference is a
// 16-bit one, and the mask makes it the difference modulo 1024 whatever the wrap.
void ownsCalcSF_16s32f(const Zuf16s* pSrc, int offset, Zuf32f* pDst, int len) {
    const auto base = static_cast<uint16_t>(sat16(int64_t{offset} + 512));
    for (int i = 0; i < len; ++i) pDst[i] = t_csf[(static_cast<uint16_t>(pSrc[i]) - base) & 1023u];
}

}  // namespace zuf

extern "C" ZUF_API zufResult zufsMakeFloat_16s32f(const Zuf16s* pMant, const Zuf16s* pExp, int len, Zuf32f* pDst) {
    ZUF_REQUIRE(zuf::nonnull(pMant, pExp, pDst), zufErrNullPtr);
    ZUF_REQUIRE(len >= 1, zufErrSize);
    zuf::ownsMakeFloat_16s32f_ref(pMant, pExp, len, pDst);
    // The warning is part of the contract even though the loop does not care about alignment.
    return zuf::all_aligned16(pMant, pExp, pDst) ? zufOk : zufWarnMisaligned;
}

// A table lookup per element: SSE2 has no gather, so there is no vector form to gain from.
extern "C" ZUF_API zufResult zufsCalcSF_16s32f(const Zuf16s* pSrc, int offset, Zuf32f* pDst, int len) {
    ZUF_REQUIRE(zuf::nonnull(pSrc, pDst), zufErrNullPtr);
    ZUF_REQUIRE(len >= 1, zufErrSize);
    zuf::ownsCalcSF_16s32f(pSrc, offset, pDst, len);
    return zufOk;
}
