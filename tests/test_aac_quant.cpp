// AAC inverse quantisation against the double-precision power law
// y = sign(x) |x|^(4/3) 2^((sf - 100) / 4), in Q3 (in place) and Q0 (16-bit form).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include "aac/aac_band_tables.h"
#include "aac/aac_quant.h"
#include "aac/aac_quant_tables.h"
#include "support/aac_bitwriter.h"
#include "support/checkasm.h"
#include "zufack9/zuf_aac.h"

namespace {

double pow43(double a) { return std::cbrt(a * a * a * a); }

}  // namespace

TEST(AacQuantInv, KernelMatchesThePowerLawOverTheWholeRange) {
    // Every magnitude 0..8191 at every exponent sf - 100 = -60 .. 42 (the range where |x| = 8191
    // still fits). Error model: relative 2^-22 from the tables and the polynomial, plus one unit
    // from the truncating shift.
    std::vector<int32_t> v(8192);
    double maxRel = 0;
    for (int s = -60; s <= 42; ++s) {
        for (int a = 0; a < 8192; ++a) v[a] = (a & 1) ? -a : a;
        ASSERT_EQ(zuf::ownsReqCore_AAC_I(v.data(), 8192, s), zufOk);
        for (int a = 0; a < 8192; ++a) {
            const double ref = 8 * pow43(a) * std::exp2(s / 4.0);
            const double got = (a & 1) ? -double(v[a]) : double(v[a]);
            ASSERT_LE(std::fabs(got - ref), 1.0 + ref * 0x1p-22) << "a " << a << " s " << s;
            if (ref >= 0x1p24) maxRel = std::max(maxRel, std::fabs(got - ref) / ref);
        }
    }
    std::printf("[ accuracy ] inverse quantiser: max relative error %.2e (outputs >= 2^24)\n", maxRel);
}

TEST(AacQuantInv, EdgeValues) {
    int32_t w[4] = {1, 100, 8191, -3};
    ASSERT_EQ(zuf::ownsReqCore_AAC_I(w, 4, -128), zufOk);  // far below the smallest step: zero
    EXPECT_EQ(std::vector<int32_t>(w, w + 4), std::vector<int32_t>(4, 0));
    int32_t bad[3] = {5, 8192, 7};  // the magnitude above 8191 fails; the values before it are converted
    EXPECT_EQ(zuf::ownsReqCore_AAC_I(bad, 3, 0), zufErrAacCoef);
    EXPECT_EQ(std::vector<int32_t>(bad, bad + 3), (std::vector<int32_t>{68, 8192, 7}));  // 8 * 5^(4/3) = 68.4
}

TEST(AacQuantInv, DriverWalksGroupsBandsAndCodebooks) {
    // Short windows at 44.1 kHz: groups of 3, 1, 4 windows, 10 bands; per band a codebook and a
    // scale factor. Special codebooks leave their bands alone but consume their scale factor.
    const int sri = 4, maxSfb = 10, grp[3] = {3, 1, 4};
    zuft::Rng rng(3);
    std::vector<int32_t> x(1024);
    for (auto& v : x) v = rng.range(-40, 40);
    std::vector<Zuf16s> sf(3 * maxSfb);
    std::vector<Zuf8u> cb(3 * maxSfb);
    const Zuf8u books[] = {1, 0, 13, 14, 15, 11, 5};
    for (int i = 0; i < 3 * maxSfb; ++i) sf[i] = Zuf16s(90 + i), cb[i] = books[i % 7];
    std::vector<int32_t> y = x;
    ASSERT_EQ(zufsQuantInv_AAC_32s_I(y.data(), sf.data(), 3, grp, maxSfb, cb.data(), sri, 128), zufOk);
    std::vector<bool> inside(1024);
    zuft::aac::for_each_band(sri, 128, 3, grp, maxSfb, [&](int g, int b, int p, int w, int n) {
        const int idx = g * maxSfb + b;
        for (int i = p; i < p + w * n; ++i) {
            const double ref = (x[i] < 0 ? -8 : 8) * pow43(std::abs(x[i])) * std::exp2((sf[idx] - 100) / 4.0);
            const bool converted = cb[idx] != 0 && cb[idx] < 13;
            EXPECT_NEAR(y[i], converted ? ref : x[i], converted ? 1.0 + std::fabs(ref) * 1e-6 : 0.0) << i;
            inside[i] = true;
        }
    });
    for (int i = 0; i < 1024; ++i) EXPECT_TRUE(inside[i] || y[i] == x[i]) << "above max_sfb " << i;
    // A magnitude above 8191 in the third band of the long frame: earlier bands converted, the
    // rest untouched, -163.
    std::vector<int32_t> z(1024, 3);
    const Zuf16s* lswb = zuf::_pAACSwbOffsetTableLong[sri];
    z[lswb[2] + 1] = -8192;
    std::vector<Zuf16s> sf1(49, 100);
    std::vector<Zuf8u> cb1(49, 1);
    const int one = 1;
    EXPECT_EQ(zufsQuantInv_AAC_32s_I(z.data(), sf1.data(), 1, &one, 49, cb1.data(), sri, 1024), zufErrAacCoef);
    EXPECT_TRUE(z[0] == zuf::_pReq16x4_Audio[0][3] >> 25 && z[lswb[2]] == z[0]);
    EXPECT_TRUE(z[lswb[2] + 2] == 3 && z[1000] == 3);
}

TEST(AacQuantInv, ChecksInOrder) {
    static int32_t p[1024];
    static Zuf16s f[8 * 51];
    static Zuf8u c[8 * 51];
    const int g[8] = {1, 1, 1, 1, 1, 1, 1, 1};
    const auto q = zufsQuantInv_AAC_32s_I;
    // Null pointers first, then the grouping, the window length, max_sfb, the rate, max_sfb for the rate.
    zuft::expect_status(zufErrNullPtr, {q(nullptr, f, 1, g, 0, c, 99, 7), q(p, nullptr, 1, g, 0, c, 0, 1024),
                                        q(p, f, 1, nullptr, 0, c, 0, 1024), q(p, f, 1, g, 0, nullptr, 0, 1024)});
    zuft::expect_status(zufErrAacWinGrp,
                        {q(p, f, 2, g, 99, c, 99, 1024), q(p, f, 9, g, 99, c, 99, 128), q(p, f, 0, g, 99, c, 99, 128)});
    zuft::expect_status(zufErrAacWinLen, {q(p, f, 1, g, 99, c, 99, 256)});
    zuft::expect_status(zufErrAacSmplRateIdx, {q(p, f, 1, g, 50, c, 12, 1024)});
    zuft::expect_status(zufErrAacMaxSfb, {q(p, f, 1, g, 52, c, 99, 1024), q(p, f, 1, g, -1, c, 99, 1024),
                                          q(p, f, 1, g, 50, c, 3, 1024), q(p, f, 8, g, 15, c, 3, 128)});
    zuft::expect_status(zufOk, {q(p, f, 8, g, 14, c, 3, 128)});
}

TEST(AacPow43Scale, SixteenBitFormIsQ0AndMatchesTheInPlaceForm) {
    std::vector<Zuf16s> src(8192);
    for (int a = 0; a < 8192; ++a) src[a] = Zuf16s((a % 3 == 1) ? -a : a);
    const Zuf32s off[2] = {0, 8192};
    std::vector<Zuf32s> dst(8192);
    std::vector<int32_t> q3(8192);
    for (int s = -60; s <= 39; s += 3) {
        const Zuf16s sf = Zuf16s(s + 100);
        ASSERT_EQ(zufsPow43Scale_16s32s_Sf(src.data(), dst.data(), &sf, off, 100, 1, 1, 0), zufOk);
        for (int a = 0; a < 8192; ++a) q3[a] = src[a];
        ASSERT_EQ(zuf::ownsReqCore_AAC_I(q3.data(), 8192, s), zufOk);
        // The same magnitude with three more bits truncated, same sign.
        for (int a = 0; a < 8192; ++a)
            ASSERT_EQ(dst[a], q3[a] < 0 ? -(-q3[a] >> 3) : q3[a] >> 3) << "a " << a << " s " << s;
    }
    // Magnitudes up to 16383 and the output scaling: 16383 at exponent 24 is 26630002.
    const Zuf16s big[2] = {16383, -16383};
    Zuf32s out[2];
    const Zuf16s sf24 = 24 + 100 + 8;
    const Zuf32s off2[2] = {0, 1};
    ASSERT_EQ(zufsPow43Scale_16s32s_Sf(big, out, &sf24, off2, 100, 1, 2, 2), zufOk);
    EXPECT_TRUE(out[0] == 26630002 && out[1] == -26630002);
    for (int a = 8192; a <= 16383; a += 97) {
        const Zuf16s v = Zuf16s(a), sf = 100;
        Zuf32s o;
        const Zuf32s of1[2] = {0, 1};
        ASSERT_EQ(zufsPow43Scale_16s32s_Sf(&v, &o, &sf, of1, 100, 1, 1, 0), zufOk);
        EXPECT_NEAR(o, pow43(a), 1.0 + pow43(a) * 1e-7) << a;
    }
    // Zero values are written as 0; bands with groupLen; statuses.
    Zuf16s z4[4] = {0, 0, 2, 0};
    Zuf32s o4[4] = {9, 9, 9, 9};
    const Zuf16s sfs[2] = {100, 104};
    const Zuf32s offs[3] = {0, 1, 2};
    ASSERT_EQ(zufsPow43Scale_16s32s_Sf(z4, o4, sfs, offs, 100, 2, 2, 0), zufOk);
    EXPECT_EQ(std::vector<Zuf32s>(o4, o4 + 4), (std::vector<Zuf32s>{0, 0, 5, 0}));  // 2^(4/3) * 2 = 5.04
    auto pow43s = [&](Zuf16s* s, const Zuf32s* o, int bands, int groupLen) {
        return zufsPow43Scale_16s32s_Sf(s, o4, sfs, o, 100, bands, groupLen, 0);
    };
    zuft::expect_status(zufErrNullPtr, {pow43s(nullptr, offs, -1, 1), pow43s(z4, nullptr, 1, 1)});
    zuft::expect_status(zufErrSize, {pow43s(z4, offs, -1, 1), pow43s(z4, offs, 1, -1)});
    zuft::expect_status(zufOk, {pow43s(z4, offs, 0, 1), pow43s(z4, offs, 1, 0)});  // empty bands are no error
}
