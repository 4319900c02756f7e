// The spreading function of the ISO/IEC 13818-7 psychoacoustic model (its informative
// encoder annex), in integer arithmetic:
//     tmpx = 3 (b2 - b1) if b2 >= b1, else 1.5 (b2 - b1)           (Bark distance, b = Bark value)
//     tmpz = 8 min((tmpx - 0.5)^2 - 2 (tmpx - 0.5), 0)
//     tmpy = 15.81137849 + 7.5 (tmpx + 0.474343) - 17.5 sqrt(1 + (tmpx + 0.474343)^2)
//     spread = 10^((tmpz + tmpy) / 10)
// Every intermediate value is Q23 (8388608 = 1.0) in 64-bit integers; the output is Q15.
#include <cstdint>

#include "common/checks.h"
#include "vq/spread_tables.h"
#include "zufack9/zuf_vq.h"

namespace zuf {
namespace {

constexpr int64_t kOneQ23 = int64_t{1} << 23;
constexpr int64_t kHalfQ23 = int64_t{1} << 22;  // 0.5, also the rounding constant of >> 23

// Q23 product of a Q23 value and a Q23 constant, rounded.
inline int64_t mul_q23(int64_t a, int64_t b) { return (a * b + kHalfQ23) >> 23; }

}  // namespace

// Square root of a Q23 argument x in [1.0, 256.0) (that is [2^23, 2^31)), Q23 result.
// x << sh = y, a Q31 mantissa m in [0.5, 1); 1/sqrt(m) starts from the minimax quadratic
//     2.23395 - 2.06621 m + 0.83545 m^2   (1199343594 and 1109287981 in Q29, 1794115214 in Q31)
// (error below 0.4 %), and two Newton steps r <- r (3 - m r^2) / 2 bring it below 2^-26; then
// sqrt(m) = m r, and sqrt(x / 2^23) = sqrt(m) 2^((8 - sh) / 2), with a factor 1/sqrt(2) for an odd
// shift. All products are exact 64-bit ones, truncated to Q30 or Q31.
int32_t own_ac_sprdngfSqrt(int32_t x) {
    const int sh = own_ac_sprdngfNorm[x >> 24];
    const int64_t y = int64_t{x} << sh;
    const int64_t m2 = (y * y) >> 31;                                                            // Q31
    int64_t r = 2 * int64_t{1199343594} - ((y * 1109287981) >> 30) + ((m2 * 1794115214) >> 32);  // Q30
    for (int k = 0; k < 2; ++k) {
        const int64_t mr2 = (y * ((r * r) >> 30)) >> 31;  // Q30, m r^2 (close to 1)
        r = (r * ((int64_t{3} << 30) - mr2)) >> 31;       // Q30
    }
    int64_t s = (y * r) >> 30;               // Q31, sqrt(m)
    if (sh & 1) s = (s * 1518500250) >> 31;  // 1/sqrt(2), Q31
    const int down = 4 + (sh >> 1);          // Q31 -> Q23 and 2^(-sh/2)
    return static_cast<int32_t>((s + (int64_t{1} << (down - 1))) >> down);
}

// The spreading value in Q15 for two Bark positions scaled by 2^scaleFactor.
Zuf16s ownsSpread_16s(int src1, int src2, int scaleFactor) {
    const int32_t d = src2 - src1;  // -65535..65535
    const int64_t d3 = 3 * int64_t{d};
    // tmpx = 3 d 2^scaleFactor upwards, 1.5 d 2^scaleFactor downwards: Q23 with e = scaleFactor
    // + 23 (or + 22). The shift is bounded so that no scale factor overflows anything.
    const int64_t e = int64_t{scaleFactor} + (d >= 0 ? 23 : 22);
    int64_t tmpx;
    if (e >= 0) {
        tmpx = d3 * (int64_t{1} << (e < 31 ? e : 31));
        if (tmpx > 12 * kOneQ23 || tmpx < -6 * kOneQ23) return 0;  // beyond the masking range
    } else {
        const int k = -e < 40 ? static_cast<int>(-e) : 40;  // |3 d| < 2^18: any k >= 19 gives 0
        tmpx = (d3 + (int64_t{1} << (k - 1))) >> k;
    }
    // tmpz = 8 min((tmpx - 0.5)^2 - 2 (tmpx - 0.5), 0)
    const int64_t a = tmpx - kHalfQ23;
    const int64_t z = ((a * a + kHalfQ23) >> 23) - (2 * tmpx - kOneQ23);
    const int64_t tmpz = z < 0 ? 8 * z : 0;
    // tmpy = 15.81137849 + 7.5 b - 17.5 sqrt(1 + b^2), b = tmpx + 0.474343
    const int64_t b = tmpx + 3979066;  // 0.474343 in Q23
    const int64_t root = own_ac_sprdngfSqrt(static_cast<int32_t>(((b * b + kHalfQ23) >> 23) + kOneQ23));
    const int64_t tmpy = 132635538 + mul_q23(0x3C00000, b) - mul_q23(0x8C00000, root);  // 15.81.., 7.5, 17.5
    const int64_t v = tmpz + tmpy;  // dB, Q23; at least -124 dB (tmpx = -6): bytes 3..1 index the tables
    if (v >= 0) return 32767;
    // 10^(v/10) from three bytes of v: 2 dB, 1/128 dB and 1/32768 dB steps (the low byte unused).
    const uint32_t u = static_cast<uint32_t>(v);
    const int64_t t =
        (int64_t{own_ac_sprdngfPowTable0[(u >> 24) & 63]} * own_ac_sprdngfPowTable1[(u >> 16) & 255]) >> 30;  // Q31
    const int64_t p = (t * own_ac_sprdngfPowTable2[(u >> 8) & 255]) >> 32;                                    // Q29
    return static_cast<Zuf16s>(p >> 14);
}

}  // namespace zuf

extern "C" ZUF_API zufResult zufsSpread_16s_Sfs(Zuf16s src1, Zuf16s src2, int scaleFactor, Zuf16s* pDst) {
    ZUF_REQUIRE(zuf::nonnull(pDst), zufErrNullPtr);
    *pDst = zuf::ownsSpread_16s(src1, src2, scaleFactor);
    return zufOk;
}
