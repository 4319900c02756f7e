// AAC inverse quantisation, y = sign(x) |x|^(4/3) 2^(s/4) (ISO/IEC 13818-7 10.3), in integer
// arithmetic. 2^(s/4) = 2^q 2^(-r/4) with r = 0..3: the quarter-power joins the magnitude
// through the Q31 factor M = 2^(-r/4) (or through the row of the small-value table), and 2^q
// becomes a shift. Magnitudes 1..15 read a table that already carries 2^(-r/4), 16..128 read
// a^(4/3) from a table, larger ones evaluate a polynomial for the mantissa power.
#include "aac/aac_quant.h"

#include <algorithm>
#include <cstdint>

#include "aac/aac_quant_tables.h"
#include "aac/aac_spectral.h"
#include "common/checks.h"
#include "common/fixed_point.h"

namespace zuf {
namespace {

// m^(4/3) for m in [0.5, 1): Horner coefficients, highest power first. With the mantissa in
// Q31 each step is hi(acc * m) + C; the final sum shifted left by 4 is the power in Q31
// (relative error about 2e-8).
constexpr int32_t kPow43Poly[8] = {
    static_cast<int32_t>(0xE4B9115Au), static_cast<int32_t>(0x562F89DEu), static_cast<int32_t>(0x869EACD7u),
    static_cast<int32_t>(0x65CB31ECu), static_cast<int32_t>(0xC4E02D07u), static_cast<int32_t>(0x1FEEBC56u),
    static_cast<int32_t>(0x079A1F60u), static_cast<int32_t>(0xFFE762C9u),
};

// |x|^(4/3) for a >= 129 as a table-like pair (T, e): T carries the mantissa power times the
// Q31 fraction factor, e the exponent that the caller subtracts (before the shift by q).
struct PowerPair {
    int32_t t;
    int e;
};
inline PowerPair pow43_large(uint32_t a, int expBias) {
    // Normalise to m = a * 2^(17 + k) in [2^30, 2^31).
    uint32_t m = a << 17;
    int k = 0;
    if (m < 0x08000000u) {
        m = a << 21;
        k = 4;
    }
    if (m < 0x20000000u) {
        m <<= 2;
        k += 2;
    }
    if (m < 0x40000000u) {
        m <<= 1;
        k += 1;
    }
    const auto mq = static_cast<int32_t>(m);
    int32_t acc = wrap_add(mulhi(kPow43Poly[0], mq), kPow43Poly[1]);
    for (int i = 2; i < 8; ++i) acc = wrap_add(mulhi(acc, mq), kPow43Poly[i]);
    acc = static_cast<int32_t>(static_cast<uint32_t>(acc) << 4);  // (m / 2^31)^(4/3), Q31
    const int idx = std::clamp(6 - k, 0, 6);
    return {static_cast<int32_t>(static_cast<uint32_t>(mulhi(acc, _pXt43_Audio[idx])) << 1),
            _pXtExp_Audio[idx] - expBias};
}

// v = hi(M T) scaled by 2^-d: arithmetic right shift for d > 0 (0 past 31), an unsaturated
// left shift for d in -31..0, and 0x7FFFFFFF for any non-zero v beyond that.
inline int32_t scale_pair(int32_t mq31, int32_t t, int d) {
    int32_t v = mulhi(mq31, t);
    if (d > 0) return d > 31 ? 0 : v >> d;
    if (d >= -31) return static_cast<int32_t>(static_cast<uint32_t>(v) << -d);
    return v != 0 ? 0x7FFFFFFF : 0;
}

// Everything one run needs: the quarter-power row and factor, the three precomputed small
// values, the medium shift and q. kBias is 0 for the Q3 form, 3 for the Q0 form (every shift
// constant 3 larger).
template <int kBias>
struct RunScale {
    const Zuf32s* row;
    int32_t m;
    int32_t small[4];
    int c1, c2, q;

    explicit RunScale(int s) {
        q = (s + 3) >> 2;
        const int r = 4 * q - s;
        row = _pReq16x4_Audio[r];
        m = _pSqrt14_32s_Audio[r];
        // row[a] < 2^31, so a shift by 31 gives the 0 that any larger one would.
        c1 = std::min(std::max(25 + kBias - q, 0), 31);
        small[0] = 0;
        for (int a = 1; a <= 3; ++a) small[a] = row[a] >> c1;
        c2 = std::min(std::max(22 + kBias - q, 0), 31);
    }

    // magnitude(a) for a < 16 without a branch on a: spectra are mostly such values in random
    // order, where the branches of magnitude() are mispredicted.
    int32_t magnitude_small(uint32_t a) const { return row[a] >> (a < 4 ? c1 : c2); }

    // Magnitude of the result for a = |x| >= 1 (any a for the 16-bit form; the caller limits
    // the 32-bit form to 8191).
    int32_t magnitude(uint32_t a) const {
        if (a < 4) return small[a];
        if (a < 16) return row[a] >> c2;
        if (a < 64) return scale_pair(m, _pSqrt43_Audio[a - 16], 19 + kBias - q);
        if (a <= 128) return scale_pair(m, _pSqrt43_Audio[a - 16], 17 + kBias - q);
        const PowerPair p = pow43_large(a, 4 - kBias);
        return scale_pair(m, p.t, p.e - q);
    }
};

inline uint32_t magnitude_of(int32_t x) { return x < 0 ? 0u - static_cast<uint32_t>(x) : static_cast<uint32_t>(x); }
inline int32_t with_sign(int32_t x, int32_t v) { return x < 0 ? wrap_sub(0, v) : v; }

// Keeps an exponent computed in 64 bits inside -1000..1000 without changing s mod 4: every
// shift is already beyond 31 there, so results are those of the unclamped exponent.
inline int clamp_exponent(int64_t s) {
    if (s > 1000) return static_cast<int>(1000 + ((s - 1000) & 3));
    if (s < -1000) return static_cast<int>(-1000 - ((-1000 - s) & 3));
    return static_cast<int>(s);
}

}  // namespace

zufResult ownsReqCore_AAC_I(Zuf32s* pSrcDst, int len, int s) {
    const RunScale<0> rs(s);
    for (int i = 0; i < len; ++i) {
        const int32_t x = pSrcDst[i];
        const uint32_t a = magnitude_of(x);
        if (a < 16) {
            // (v ^ m) - m negates v where x < 0; row[0] is 0, so x = 0 stays 0.
            const uint32_t m = static_cast<uint32_t>(x >> 31);
            pSrcDst[i] = static_cast<int32_t>((static_cast<uint32_t>(rs.magnitude_small(a)) ^ m) - m);
            continue;
        }
        if (a > 8191) return zufErrAacCoef;
        pSrcDst[i] = with_sign(x, rs.magnitude(a));
    }
    return zufOk;
}

void ownsReqCore_AAC_16s32s_Sf(const Zuf16s* pSrc, Zuf32s* pDst, int len, int s) {
    const RunScale<3> rs(s);
    for (int i = 0; i < len; ++i) {
        const int32_t x = pSrc[i];
        pDst[i] = x == 0 ? 0 : with_sign(x, rs.magnitude(magnitude_of(x)));
    }
}

namespace {

zufResult quant_inv(Zuf32s* pSrcDst, const Zuf16s* pScaleFactor, int numWinGrp, const int* pWinGrpLen, int maxSfb,
                    const Zuf8u* pSfbCb, const aac::Bands& b, int winLen) {
    aac::GroupWalk walk(winLen);
    Zuf32s* group = pSrcDst;
    for (int g = 0; g < numWinGrp; ++g) {
        const int l = walk.take(pWinGrpLen[g]);
        Zuf32s* p = group;
        for (int sfb = 0; sfb < maxSfb; ++sfb, ++pScaleFactor, ++pSfbCb) {
            const int run = (b.offset[sfb + 1] - b.offset[sfb]) * l;
            const int cb = *pSfbCb;
            if (cb != aac::kZeroHcb && cb != aac::kNoiseHcb && !aac::is_intensity(cb)) {
                const zufResult st = ownsReqCore_AAC_I(p, run, *pScaleFactor - 100);
                if (st != zufOk) return st;
            }
            p += run;
        }
        group += l * winLen;
    }
    return zufOk;
}

}  // namespace
}  // namespace zuf

extern "C" ZUF_API zufResult zufsQuantInv_AAC_32s_I(Zuf32s* pSrcDst, const Zuf16s* pScaleFactor, int numWinGrp,
                                                    const int* pWinGrpLen, int maxSfb, const Zuf8u* pSfbCb,
                                                    int samplingRateIndex, int winLen) {
    ZUF_REQUIRE(zuf::nonnull(pSrcDst, pScaleFactor, pWinGrpLen, pSfbCb), zufErrNullPtr);
    const zufResult grouping = zuf::aac::check_win_groups(winLen, numWinGrp);
    ZUF_REQUIRE(grouping == zufOk, grouping);
    ZUF_REQUIRE(zuf::in_range(maxSfb, 0, 51), zufErrAacMaxSfb);
    ZUF_REQUIRE(zuf::in_range(samplingRateIndex, 0, 11), zufErrAacSmplRateIdx);
    const zuf::aac::Bands b = zuf::aac::bands(samplingRateIndex, winLen);
    ZUF_REQUIRE(maxSfb <= b.count, zufErrAacMaxSfb);
    return zuf::quant_inv(pSrcDst, pScaleFactor, numWinGrp, pWinGrpLen, maxSfb, pSfbCb, b, winLen);
}

extern "C" ZUF_API zufResult zufsPow43Scale_16s32s_Sf(const Zuf16s* pSrc, Zuf32s* pDst, const Zuf16s* pScaleFactor,
                                                      const Zuf32s* pBandOffset, int offset, int bandsNumber,
                                                      int groupLen, int scaleFactor) {
    ZUF_REQUIRE(zuf::nonnull(pSrc, pDst, pScaleFactor, pBandOffset), zufErrNullPtr);
    ZUF_REQUIRE(bandsNumber >= 0 && groupLen >= 0, zufErrSize);
    for (int band = 0; band < bandsNumber; ++band) {
        const int64_t start = int64_t{pBandOffset[band]} * groupLen;
        const int64_t run = (int64_t{pBandOffset[band + 1]} - pBandOffset[band]) * groupLen;
        const int s = zuf::clamp_exponent(int64_t{pScaleFactor[band]} - offset - 4 * int64_t{scaleFactor});
        if (run > 0) zuf::ownsReqCore_AAC_16s32s_Sf(pSrc + start, pDst + start, static_cast<int>(run), s);
    }
    return zufOk;
}
