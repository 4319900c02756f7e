// Main-profile prediction against an independent model of the lattice LMS predictor of
// ISO/IEC 13818-7, written from the standard's formulas in double precision: every single-
// precision operation is a double operation rounded to float (exact for one product or sum of
// two floats), the 16-bit rounding and truncation work on frexp mantissas, and b / var comes
// from its formula. The agreement is bit for bit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <utility>
#include <vector>

#include "zufack9/zuf_aac.h"

namespace {

using F = float;
F f(double v) { return static_cast<F>(v); }
// v to 8 significant bits (7 stored mantissa bits): to nearest, ties away from zero, or truncated.
F to8(double v, bool nearest) {
    int e = 0;
    const double m = std::frexp(std::fabs(v), &e) * 256;
    return f(std::copysign(std::ldexp(nearest ? std::floor(m + 0.5) : std::floor(m), e - 8), v));
}
// (b / var) cor with b / var from var = (1 + m/128) 2^E, b / (1 + m/128) to 8 bits; 0 below 2.0.
F coef(F var, F cor) {
    if (!(var >= 2)) return 0;
    int e = 0;
    const double m = std::frexp(var, &e) * 256 - 128;
    return f(f(to8(0.953125 / (1 + m / 128), true) * double(cor)) * std::ldexp(1, 1 - e));
}

struct Model {
    std::vector<F> c0, c1, v0, v1, r0, r1;
    explicit Model(int n) : c0(n), c1(n), v0(n, 1), v1(n, 1), r0(n), r1(n) {}
    void reset(size_t k) { c0[k] = c1[k] = r0[k] = r1[k] = 0, v0[k] = v1[k] = 1; }
    // Returns the prediction of line k; the state then moves on with x(pred).
    template <class X>
    F line(size_t k, X x_of) {
        const F k1 = coef(v0[k], c0[k]), k2 = coef(v1[k], c1[k]);
        const F pred = to8(f(f(double(k2) * r1[k]) + double(f(double(r0[k]) * k1))), true);
        const double x = x_of(pred), a = r0[k], b = r1[k], e1 = f(x - f(a * k1));
        c0[k] = to8(f(f(c0[k] * 0.90625) + f(a * x)), false);
        c1[k] = to8(f(f(c1[k] * 0.90625) + f(b * e1)), false);
        v0[k] = to8(f(f(v0[k] * 0.90625) + f(f(f(a * a) + f(x * x)) * 0.5)), false);
        v1[k] = to8(f(f(v1[k] * 0.90625) + f(f(f(b * b) + f(e1 * e1)) * 0.5)), false);
        r1[k] = to8(f(f(a - f(k1 * x)) * 0.953125), false);
        r0[k] = to8(f(x * 0.953125), false);
        return pred;
    }
};

constexpr int kLen = 672;  // PRED_SFB_MAX lines at 48 kHz

// Random spectra of slowly drifting partials (what the predictor is made for) over random noise,
// frame after frame, with resets of every kind between frames (frame 3 of every ten: all lines,
// 5: a reset group, 7: random bands); the encoder and a decoder with random prediction_used
// flags follow the model bit for bit.
TEST(AacPrediction, FollowsTheModelThroughResets) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> u(-1, 1);
    FdpContext_32f *enc = nullptr, *dec = nullptr;
    ASSERT_EQ(zufsFDPInitAlloc_32f(&enc, kLen) | zufsFDPInitAlloc_32f(&dec, kLen), zufOk);
    Model me(kLen), md(kLen);
    std::vector<int> offs{0};
    while (offs.back() < kLen) offs.push_back(std::min(kLen, offs.back() + 4 + static_cast<int>(rng() % 29)));
    const int nb = static_cast<int>(offs.size()) - 1;
    std::vector<double> amp(kLen), w(kLen);
    for (int k = 0; k < kLen; ++k) amp[k] = std::exp2(-4 + 10 * (u(rng) + 1)), w[k] = 0.3 * u(rng);
    std::vector<F> x(kLen + 1), res(kLen + 1), y(kLen + 1);
    std::vector<Zuf8u> flags(nb), rflags(nb);
    double ex = 0, er = 0;
    for (int n = 0; n < 120; ++n) {
        for (int k = 0; k < kLen; ++k) x[k + 1] = f(amp[k] * (std::cos(w[k] * n + k) + 0.05 * u(rng)));
        for (int b = 0; b < nb; ++b) flags[b] = rng() % 3 != 0, rflags[b] = n % 10 == 7 && rng() % 4 == 0;
        const int kind = n % 10, group = n / 10 * 11 % 30;  // 0, 11 (reaches line 671), 22, 3, ...
        for (auto [s, m] : {std::pair(enc, &me), std::pair(dec, &md)}) {
            EXPECT_EQ(kind == 3   ? zufsFDPReset_32f(s)
                      : kind == 5 ? zufsFDPResetGroup_32f(30, group, s)
                                  : zufsFDPResetSfb_32f(offs.data(), nb, rflags.data(), s),
                      zufOk);
            if (kind == 3) *m = Model(kLen);
            for (int k = group; kind == 5 && k < kLen; k += 30) m->reset(k);
            for (int b = 0; b < nb; ++b)
                for (int k = offs[b]; rflags[b] && k < offs[b + 1]; ++k) m->reset(k);
        }
        // Misaligned by one float: the warning, with the complete result.
        ASSERT_EQ(zufsFDPFwd_32f(&x[1], &res[1], enc), zufWarnMisaligned);
        y = x;
        ASSERT_EQ(zufsFDPInv_32f_I(&y[1], offs.data(), nb, flags.data(), dec), zufWarnMisaligned);
        for (int b = 0, k = 0; b < nb; ++b)
            for (; k < offs[b + 1]; ++k) {
                const F pe = me.line(k, [&](F) { return x[k + 1]; });
                const F pd = md.line(k, [&](F p) { return flags[b] ? f(x[k + 1] + double(p)) : x[k + 1]; });
                ASSERT_EQ(res[k + 1], f(x[k + 1] - double(pe))) << n << " " << k;
                ASSERT_EQ(y[k + 1], flags[b] ? f(x[k + 1] + double(pd)) : x[k + 1]) << n << " " << k;
                ex += double(x[k + 1]) * x[k + 1], er += double(res[k + 1]) * res[k + 1];
            }
    }
    EXPECT_LT(er, ex / 2);  // and it does predict the partials
    EXPECT_EQ(zufsFDPFree_32f(enc) | zufsFDPFree_32f(dec), zufOk);
}

// Statuses in their documented order, on a caller-placed context at an odd address (which stays
// inside GetSize's bytes); no failing call changes a byte of it, and Free leaves it unusable.
TEST(AacPrediction, StatusesAndPlacement) {
    int size = 0, len = 9;
    EXPECT_TRUE(zufsFDPGetSize_32f(1024, &size) == zufOk && size == 24836);
    ASSERT_EQ(zufsFDPGetSize_32f(len, &size), zufOk);
    std::vector<Zuf8u> mem(size + 64, 0xA5);
    FdpContext_32f* s = nullptr;
    ASSERT_EQ(zufsFDPInit_32f(&s, len, &mem[1]), zufOk);
    EXPECT_TRUE(std::all_of(mem.begin() + 1 + size, mem.end(), [](Zuf8u b) { return b == 0xA5; }));
    const std::vector<Zuf8u> before(mem);
    F v[4] = {};
    const int bo[3] = {0, 1, len}, n = zufErrNullPtr, z = zufErrSize;
    const Zuf8u fl[2] = {1, 1};
    const std::vector<int> got(
        {zufsFDPGetSize_32f(5, nullptr), zufsFDPGetSize_32f(0, &size), zufsFDPInit_32f(nullptr, 4, &mem[0]),
         zufsFDPInit_32f(&s, 4, nullptr), zufsFDPInit_32f(&s, 0, &mem[0]), zufsFDPInitAlloc_32f(nullptr, 4),
         zufsFDPInitAlloc_32f(&s, -1), zufsFDPFree_32f(nullptr), zufsFDPReset_32f(nullptr),
         zufsFDPResetGroup_32f(0, -1, nullptr), zufsFDPResetGroup_32f(0, -1, s), zufsFDPResetGroup_32f(0, 0, s),
         zufsFDPResetSfb_32f(bo, 2, nullptr, s), zufsFDPResetSfb_32f(bo, 0, fl, s), zufsFDPFwd_32f(v, nullptr, s),
         zufsFDPInv_32f_I(v, bo, 2, fl, nullptr), zufsFDPInv_32f_I(v, bo, 0, fl, s)});
    EXPECT_EQ(got, std::vector<int>({n, z, n, n, z, n, z, n, n, n, z, zufErrStep, n, z, n, n, z}));
    EXPECT_TRUE(before == mem);
    EXPECT_EQ(zufsFDPFree_32f(s), zufOk);  // caller-placed: only the ID goes
    for (int st : {zufsFDPFree_32f(s), zufsFDPReset_32f(s), zufsFDPResetGroup_32f(1, 0, s), zufsFDPFwd_32f(v, v, s),
                   zufsFDPResetSfb_32f(bo, 2, fl, s), zufsFDPInv_32f_I(v, bo, 2, fl, s)})
        EXPECT_EQ(st, zufErrContext);
}

}  // namespace
