// In-place arithmetic: saturating scaled addition, arithmetic right shift and multiplication
// by a constant.
#include <cstring>

#include "common/checks.h"
#include "common/fixed_point.h"
#include "common/simd.h"
#include "frame/vec_kernels.h"

namespace zuf {
namespace {

// (a + b) * 2^-s with the 33-bit sum: s = 0 saturates; s < 0 shifts left with saturation (a
// magnitude of 31 or more leaves only the sign: 2^31 - 1, -2^31 or 0); s = 1..32 rounds to
// nearest with ties to even; s > 32 gives 0. Saturating the sum before a left shift changes
// nothing, since a sum beyond 32 bits saturates after the shift as well.
inline Zuf32s add_sfs(Zuf32s a, Zuf32s b, int s) {
    const int64_t sum = int64_t{a} + b;
    if (s == 0) return sat32(sum);
    if (s < 0) return lshift_sat32(sat32(sum), s <= -31 ? 31 : -s);
    if (s > 32) return 0;
    return static_cast<Zuf32s>(rshift_round_even(sum, s));
}

// Saturating 32-bit addition in lanes: the wrapped sum overflowed when its sign differs from
// the signs of both operands; it is then replaced by the limit on the operands' side.
inline __m128i adds_epi32(__m128i a, __m128i b) {
    const __m128i sum = _mm_add_epi32(a, b);
    const __m128i ovf = _mm_srai_epi32(_mm_and_si128(_mm_xor_si128(a, sum), _mm_xor_si128(b, sum)), 31);
    const __m128i limit = _mm_xor_si128(_mm_srai_epi32(a, 31), _mm_set1_epi32(INT32_MAX));
    return _mm_or_si128(_mm_and_si128(ovf, limit), _mm_andnot_si128(ovf, sum));
}

template <class Op>
void each4(const Zuf32s* pSrc, Zuf32s* pSrcDst, int len, int s, Op op) {
    int i = 0;
    for (; i + 4 <= len; i += 4) {
        storeu_i128(pSrcDst + i, op(loadu_i128(pSrc + i), loadu_i128(pSrcDst + i)));
    }
    for (; i < len; ++i) pSrcDst[i] = add_sfs(pSrc[i], pSrcDst[i], s);
}

}  // namespace

void ownsAdd_32s_ISfs_ref(const Zuf32s* pSrc, Zuf32s* pSrcDst, int len, int scaleFactor) {
    for (int i = 0; i < len; ++i) pSrcDst[i] = add_sfs(pSrc[i], pSrcDst[i], scaleFactor);
}

void ownsAdd_32s_ISfs_sse2(const Zuf32s* pSrc, Zuf32s* pSrcDst, int len, int scaleFactor) {
    const int s = scaleFactor;
    if (s > 32) {
        std::memset(pSrcDst, 0, static_cast<std::size_t>(len) * sizeof(Zuf32s));
    } else if (s == 0) {
        each4(pSrc, pSrcDst, len, s, [](__m128i a, __m128i b) { return adds_epi32(a, b); });
    } else if (s < 0) {
        const int n = s <= -31 ? 31 : -s;
        const __m128i count = _mm_cvtsi32_si128(n);
        const __m128i hi = _mm_set1_epi32(INT32_MAX >> n), lo = _mm_set1_epi32(INT32_MIN >> n);
        const __m128i vmax = _mm_set1_epi32(INT32_MAX), vmin = _mm_set1_epi32(INT32_MIN);
        each4(pSrc, pSrcDst, len, s, [&](__m128i a, __m128i b) {
            const __m128i t = adds_epi32(a, b);
            const __m128i r = select_i128(_mm_cmplt_epi32(t, lo), vmin, _mm_sll_epi32(t, count));
            return select_i128(_mm_cmpgt_epi32(t, hi), vmax, r);
        });
    } else {
        // The 33-bit sum S, held as h = floor(S / 2) = (a >> 1) + (b >> 1) + (a & b & 1) and its
        // low bit l = (a ^ b) & 1. Then q = S >> s = h >> (s - 1) and the remainder
        // r = S mod 2^s = ((h mod 2^(s-1)) << 1) | l, below 2^32 even for s = 32. Ties to even:
        // q + 1 when r > 2^(s-1), or r == 2^(s-1) and q odd (unsigned compares via a sign flip).
        const __m128i count = _mm_cvtsi32_si128(s - 1);
        const __m128i one = _mm_set1_epi32(1);
        const __m128i mask = _mm_set1_epi32(static_cast<int32_t>((uint32_t{1} << (s - 1)) - 1u));
        const __m128i flip = _mm_set1_epi32(INT32_MIN);
        const __m128i half = _mm_xor_si128(_mm_set1_epi32(static_cast<int32_t>(uint32_t{1} << (s - 1))), flip);
        each4(pSrc, pSrcDst, len, s, [&](__m128i a, __m128i b) {
            const __m128i h = _mm_add_epi32(_mm_add_epi32(_mm_srai_epi32(a, 1), _mm_srai_epi32(b, 1)),
                                            _mm_and_si128(_mm_and_si128(a, b), one));
            const __m128i l = _mm_and_si128(_mm_xor_si128(a, b), one);
            const __m128i q = _mm_sra_epi32(h, count);
            const __m128i r = _mm_xor_si128(_mm_or_si128(_mm_slli_epi32(_mm_and_si128(h, mask), 1), l), flip);
            const __m128i odd = _mm_cmpeq_epi32(_mm_and_si128(q, one), one);
            const __m128i up = _mm_or_si128(_mm_cmpgt_epi32(r, half), _mm_and_si128(_mm_cmpeq_epi32(r, half), odd));
            return _mm_sub_epi32(q, up);  // up is -1 where the quotient rounds up
        });
    }
}

// Shifts of 32 or more leave only the sign, as a shift by 31 does.
void ownsRShiftC_32s_I_ref(int shift, Zuf32s* pSrcDst, int len) {
    const int s = shift > 31 ? 31 : shift;
    for (int i = 0; i < len; ++i) pSrcDst[i] >>= s;
}

void ownsRShiftC_32s_I_sse2(int shift, Zuf32s* pSrcDst, int len) {
    const int s = shift > 31 ? 31 : shift;
    const __m128i count = _mm_cvtsi32_si128(s);
    int i = 0;
    for (; i + 8 <= len; i += 8) {
        const __m128i a = loadu_i128(pSrcDst + i), b = loadu_i128(pSrcDst + i + 4);
        storeu_i128(pSrcDst + i, _mm_sra_epi32(a, count));
        storeu_i128(pSrcDst + i + 4, _mm_sra_epi32(b, count));
    }
    for (; i < len; ++i) pSrcDst[i] >>= s;
}

void ownsMulC_32f_I_ref(Zuf32f val, Zuf32f* pSrcDst, int len) {
    for (int i = 0; i < len; ++i) pSrcDst[i] *= val;
}

// Two registers of the build's widest lanes per step (eight floats with SSE, sixteen with AVX2).
void ownsMulC_32f_I_sse2(Zuf32f val, Zuf32f* pSrcDst, int len) {
    constexpr int L = kLanesF;
    const LaneF v = lane_splat<LaneF>(val);
    int i = 0;
    for (; i + 2 * L <= len; i += 2 * L) {
        const LaneF a = lane_load<LaneF>(pSrcDst + i), b = lane_load<LaneF>(pSrcDst + i + L);
        lane_store(pSrcDst + i, a * v);
        lane_store(pSrcDst + i + L, b * v);
    }
    for (; i < len; ++i) pSrcDst[i] *= val;
}

}  // namespace zuf

extern "C" ZUF_API zufResult zufsAdd_32s_ISfs(const Zuf32s* pSrc, Zuf32s* pSrcDst, int len, int scaleFactor) {
    ZUF_REQUIRE(zuf::nonnull(pSrc, pSrcDst), zufErrNullPtr);
    ZUF_REQUIRE(len >= 1, zufErrSize);
    zuf::ownsAdd_32s_ISfs_sse2(pSrc, pSrcDst, len, scaleFactor);
    return zufOk;
}

extern "C" ZUF_API zufResult zufsRShiftC_32s_I(int shift, Zuf32s* pSrcDst, int len) {
    ZUF_REQUIRE(zuf::nonnull(pSrcDst), zufErrNullPtr);
    ZUF_REQUIRE(len >= 1, zufErrSize);
    ZUF_REQUIRE(shift >= 0, zufErrShift);
    if (shift == 0) return zufOk;
    zuf::ownsRShiftC_32s_I_sse2(shift, pSrcDst, len);
    return zufOk;
}

// 1.0 and a NaN constant leave the data untouched (not even NaN-propagating); 0.0 (of either
// sign) stores +0 everywhere, also over infinities and NaNs, where a product would give NaN.
extern "C" ZUF_API zufResult zufsMulC_32f_I(Zuf32f val, Zuf32f* pSrcDst, int len) {
    ZUF_REQUIRE(zuf::nonnull(pSrcDst), zufErrNullPtr);
    ZUF_REQUIRE(len >= 1, zufErrSize);
    if (val == 1.0f || val != val) return zufOk;
    if (val == 0.0f) {
        std::memset(pSrcDst, 0, static_cast<std::size_t>(len) * sizeof(Zuf32f));
        return zufOk;
    }
    zuf::ownsMulC_32f_I_sse2(val, pSrcDst, len);
    return zufOk;
}
