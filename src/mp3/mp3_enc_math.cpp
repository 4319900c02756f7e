// Fixed-point math routines of the Layer III encoder; formats and accuracy in mp3_enc_math.h.
//
// Every routine brings its argument to a mantissa m in [2^30, 2^31) (leading-zero count) and
// evaluates its polynomial at u = (m - 1.5 2^30) / 2^29, which spans [-1, 1) over that octave:
// u in Q31 is (m - 3 2^29) 4, exact in 32 bits.
#include "mp3/mp3_enc_math.h"

#include <cstdint>

#include "common/fixed_point.h"
#include "mp3/mp3_enc_tables.h"

namespace zuf {

namespace {

// Horner's scheme in Q30 at u (Q31), the order of operations the generator checks, for K
// arguments at once: the K chains are independent, and side by side they take about the time of
// one (each step waits for a multiply).
template <int K, int N>
void poly_q30_lanes(const Zuf32s (&c)[N], const Zuf32s* u, int64_t* out) {
    int64_t acc[K];
    for (int i = 0; i < K; ++i) acc[i] = c[N - 1];
    for (int k = N - 2; k >= 0; --k)
        for (int i = 0; i < K; ++i) acc[i] = ((acc[i] * u[i] + (int64_t{1} << 30)) >> 31) + c[k];
    for (int i = 0; i < K; ++i) out[i] = acc[i];
}

template <int N>
int64_t poly_q30(const Zuf32s (&c)[N], Zuf32s u) {
    int64_t r;
    poly_q30_lanes<1>(c, &u, &r);
    return r;
}

// u of a mantissa in [2^30, 2^31).
inline Zuf32s octave_u(Zuf32s m) { return static_cast<Zuf32s>(static_cast<Zuf32u>(m - 0x60000000) << 2); }

// x > 0 shifted up to [2^30, 2^31); *pShift gets the shift.
inline Zuf32s normalise32(Zuf32s x, int* pShift) {
    const int c = norm32(x);
    *pShift = c;
    return static_cast<Zuf32s>(static_cast<Zuf32u>(x) << c);
}

inline Zuf32s clamp_q31_max(int64_t v) { return v > INT32_MAX ? INT32_MAX : static_cast<Zuf32s>(v); }

}  // namespace

Zuf32s ownsReciprocal_Audio_32s(Zuf32s m) { return clamp_q31_max(poly_q30(_TAB_Reciprocal, octave_u(m))); }

void ownsReciprocalPair_Audio_32s(Zuf32s m, Zuf32s n, Zuf32s* pRm, Zuf32s* pRn) {
    const Zuf32s u[2] = {octave_u(m), octave_u(n)};
    int64_t r[2];
    poly_q30_lanes<2>(_TAB_Reciprocal, u, r);
    *pRm = clamp_q31_max(r[0]);
    *pRn = clamp_q31_max(r[1]);
}

Zuf32s ownsSqrtNorm_Audio_32s(Zuf32s m, int e, int* pExp) {
    if (m <= 0) {
        *pExp = 0;
        return 0;
    }
    int c;
    const Zuf32s mn = normalise32(m, &c);
    // value = y 2^(e - c + 31), y = mn / 2^31 in [0.5, 1); s = sqrt(y) in Q30.
    const int k = e - c + 31;
    const int64_t s = poly_q30(_TAB_Sqrt, octave_u(mn));
    if ((k & 1) == 0) {  // sqrt = s 2^(k/2 - 30) = (2 s) 2^(k/2 - 31)
        *pExp = k / 2 - 31;
        return clamp_q31_max(2 * s);
    }
    // sqrt = s sqrt(2) 2^((k - 1)/2 - 30); sqrt(2) in Q30 = 1518500250.
    *pExp = (k - 1) / 2 - 30;
    return clamp_q31_max((s * 1518500250 + (int64_t{1} << 29)) >> 30);
}

Zuf32s ownsSqrt_Audio_32s(Zuf32s x, int* pExp) { return ownsSqrtNorm_Audio_32s(x, 0, pExp); }

Zuf32s ownsLog2Q26_Audio_32s(Zuf32s x) {
    if (x <= 0) return INT32_MIN;
    int c;
    const Zuf32s mn = normalise32(x, &c);
    // log2 x = log2(mn / 2^30) + 30 - c, the first term in [0, 1) from the polynomial (Q30).
    const int64_t p = poly_q30(_TAB_Log2, octave_u(mn));
    return static_cast<Zuf32s>(((30 - c) * (int64_t{1} << 26)) + ((p + 8) >> 4));
}

namespace {

// log2 x in Q16 from the normalising shift c and the polynomial's log2(mn / 2^30) in Q30.
Zuf32s log2_q16(int c, int64_t p) {
    return static_cast<Zuf32s>(((30 - c) * (int64_t{1} << 16)) + ((p + (1 << 13)) >> 14));
}

}  // namespace

Zuf32s ownsLog2_Audio_32s(Zuf32s x) {
    if (x <= 0) return INT32_MIN;
    int c;
    const Zuf32s mn = normalise32(x, &c);
    return log2_q16(c, poly_q30(_TAB_Log2, octave_u(mn)));
}

void ownsLog2Pair_Audio_32s(Zuf32s x, Zuf32s y, Zuf32s* pLx, Zuf32s* pLy) {
    if (x <= 0 || y <= 0) {
        *pLx = ownsLog2_Audio_32s(x);
        *pLy = ownsLog2_Audio_32s(y);
        return;
    }
    int cx, cy;
    const Zuf32s mx = normalise32(x, &cx), my = normalise32(y, &cy);
    const Zuf32s u[2] = {octave_u(mx), octave_u(my)};
    int64_t p[2];
    poly_q30_lanes<2>(_TAB_Log2, u, p);
    *pLx = log2_q16(cx, p[0]);
    *pLy = log2_q16(cy, p[1]);
}

Zuf32s ownsPow2_Audio_32s(Zuf32s x, int* pExp) {
    const int ip = x >> 26;                // floor
    const Zuf32s f = x & ((1 << 26) - 1);  // fraction in Q26, [0, 1)
    // 2^f for f = (1 + u) / 2: u = 2 f - 1, in Q31 (f - 2^25) 2^6.
    const Zuf32s u = static_cast<Zuf32s>(static_cast<Zuf32u>(f - (1 << 25)) << 6);
    *pExp = ip - 30;
    return clamp_q31_max(poly_q30(_TAB_Pow2, u));
}

Zuf32s ownsPow118813_Audio_32s(Zuf32s x) {
    if (x <= 0) return 0;
    // x^a = 2^(a log2(x / 2^31)), the exponent in Q26 (at most 0).
    const int64_t l = ownsLog2Q26_Audio_32s(x) - int64_t{31} * (1 << 26);
    const int64_t y = (l * _TAB_Pow[0] + (int64_t{1} << 29)) >> 30;
    if (y < -int64_t{32} * (1 << 26)) return 0;  // below 2^-32: rounds to 0 in Q31
    int e;
    const Zuf32s m = ownsPow2_Audio_32s(static_cast<Zuf32s>(y), &e);
    const int shift = e + 31;  // result in Q31 = m 2^shift
    if (shift >= 0) return clamp_q31_max(static_cast<int64_t>(m) << shift);
    return static_cast<Zuf32s>(rshift_round(m, -shift));
}

}  // namespace zuf
