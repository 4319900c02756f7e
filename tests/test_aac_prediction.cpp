// Main-profile prediction against an independent model of the lattice LMS predictor of
// ISO/IEC 13818-7, written from the standard's formulas in double precision: every single-
// precision operation is a double operation rounded to float (exact for one product or sum of
// two floats), the 16-bit rounding and truncation work on frexp mantissas, and b / var comes
// from its formula. The agreement is bit for bit.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
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
    explicit Model(int n) : c0(n), c1(n), v0(n), v1(n), r0(n), r1(n) { reset_all(); }
    void reset(size_t k) { c0[k] = c1[k] = r0[k] = r1[k] = 0, v0[k] = v1[k] = 1; }
    void reset_all() {
        for (size_t k = 0; k < c0.size(); ++k) reset(k);
    }
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
// frame after frame, with resets of every kind between frames; the encoder and a decoder with
// random prediction_used flags follow the model bit for bit.
TEST(AacPrediction, FollowsTheModelThroughResets) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> u(-1, 1);
    FdpContext_32f *enc = nullptr, *dec = nullptr;
    ASSERT_EQ(zufsFDPInitAlloc_32f(&enc, kLen), zufOk);
    ASSERT_EQ(zufsFDPInitAlloc_32f(&dec, kLen), zufOk);
    Model me(kLen), md(kLen);
    std::vector<int> offs;
    for (int o = 0; o < kLen; o += 4 + static_cast<int>(rng() % 29)) offs.push_back(o);
    offs.push_back(kLen);
    const int nb = static_cast<int>(offs.size()) - 1;
    std::vector<double> amp(kLen), w(kLen);
    for (int k = 0; k < kLen; ++k) amp[k] = std::exp2(-4 + 20 * (u(rng) + 1) / 2), w[k] = 0.3 * u(rng);
    std::vector<F> x(kLen + 1), res(kLen + 1), y(kLen + 1);
    std::vector<Zuf8u> flags(nb), rflags(nb), none(nb);  // band resets: none in most frames
    double ex = 0, er = 0;
    for (int n = 0; n < 120; ++n) {
        for (int k = 0; k < kLen; ++k) x[k + 1] = f(amp[k] * (std::cos(w[k] * n + k) + 0.05 * u(rng)));
        for (auto& g : flags) g = rng() % 3 != 0;
        const int kind = n % 10;  // 3: full reset, 5: reset group, 7: band resets, else none
        const int group = static_cast<int>(rng() % 30);
        for (auto& g : rflags) g = rng() % 4 == 0;
        for (FdpContext_32f* s : {enc, dec}) {
            const int st = kind == 3 ? zufsFDPReset_32f(s)
                           : kind == 5
                               ? zufsFDPResetGroup_32f(30, group, s)
                               : zufsFDPResetSfb_32f(offs.data(), nb, kind == 7 ? rflags.data() : none.data(), s);
            EXPECT_EQ(st, zufOk);
        }
        for (Model* m : {&me, &md}) {
            if (kind == 3) m->reset_all();
            for (int k = group; kind == 5 && k < kLen; k += 30) m->reset(k);
            for (int b = 0; kind == 7 && b < nb; ++b)
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
                ex += double(x[k + 1]) * x[k + 1], er += double(res[k + 1]) * res[k + 1];
                ASSERT_EQ(y[k + 1], flags[b] ? f(x[k + 1] + double(pd)) : x[k + 1]) << n << " " << k;
            }
    }
    EXPECT_LT(er, ex / 2);  // and it does predict the partials
    for (FdpContext_32f* s : {enc, dec}) EXPECT_EQ(zufsFDPFree_32f(s), zufOk);
}

// Statuses in their documented order; a caller-placed context at every misalignment stays inside
// GetSize's bytes, and no failing call changes a byte of it.
TEST(AacPrediction, StatusesAndPlacement) {
    int size = 0;
    EXPECT_EQ(zufsFDPGetSize_32f(1024, &size), zufOk);
    EXPECT_EQ(size, 24836);
    for (int len : {1, 9, 33, 672})
        for (int off = 0; off < 32; off += 3) {
            ASSERT_EQ(zufsFDPGetSize_32f(len, &size), zufOk);
            std::vector<Zuf8u> mem(size + 64, 0xA5);
            FdpContext_32f* s = nullptr;
            ASSERT_EQ(zufsFDPInit_32f(&s, len, &mem[off]), zufOk);
            for (size_t i = off + size; i < mem.size(); ++i) ASSERT_EQ(mem[i], 0xA5) << len << " " << off;
            const std::vector<Zuf8u> before(mem);
            F v[4] = {};
            const int bo[3] = {0, 1, len};
            const Zuf8u fl[2] = {1, 1};
            const int calls[][2] = {
                {zufsFDPGetSize_32f(5, nullptr), zufErrNullPtr},
                {zufsFDPGetSize_32f(0, &size), zufErrSize},
                {zufsFDPInit_32f(nullptr, 4, mem.data()), zufErrNullPtr},
                {zufsFDPInit_32f(&s, 4, nullptr), zufErrNullPtr},
                {zufsFDPInit_32f(&s, 0, mem.data()), zufErrSize},
                {zufsFDPInitAlloc_32f(nullptr, 4), zufErrNullPtr},
                {zufsFDPInitAlloc_32f(&s, -1), zufErrSize},
                {zufsFDPFree_32f(nullptr), zufErrNullPtr},
                {zufsFDPReset_32f(nullptr), zufErrNullPtr},
                {zufsFDPResetGroup_32f(0, -1, nullptr), zufErrNullPtr},
                {zufsFDPResetGroup_32f(0, -1, s), zufErrSize},
                {zufsFDPResetGroup_32f(0, 0, s), zufErrStep},
                {zufsFDPResetSfb_32f(bo, 2, nullptr, s), zufErrNullPtr},
                {zufsFDPResetSfb_32f(bo, 0, fl, s), zufErrSize},
                {zufsFDPFwd_32f(v, nullptr, s), zufErrNullPtr},
                {zufsFDPInv_32f_I(v, bo, 2, fl, nullptr), zufErrNullPtr},
                {zufsFDPInv_32f_I(v, bo, 0, fl, s), zufErrSize},
            };
            for (const auto& c : calls) EXPECT_EQ(c[0], c[1]);
            EXPECT_TRUE(before == mem);
            EXPECT_EQ(zufsFDPFree_32f(s), zufOk);  // caller-placed: only the ID goes
            const int gone[] = {zufsFDPFree_32f(s),
                                zufsFDPReset_32f(s),
                                zufsFDPResetGroup_32f(1, 0, s),
                                zufsFDPResetSfb_32f(bo, 2, fl, s),
                                zufsFDPFwd_32f(v, v, s),
                                zufsFDPInv_32f_I(v, bo, 2, fl, s)};
            for (int st : gone) EXPECT_EQ(st, zufErrContext);
        }
}

}  // namespace
