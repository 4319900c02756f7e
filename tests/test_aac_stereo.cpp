// AAC M/S and intensity stereo and short-window deinterleaving against their formulas
// (ISO/IEC 13818-7 12.1, 12.2), on the grouped, interleaved layout.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "support/aac_bitwriter.h"
#include "support/checkasm.h"
#include "zufack9/zuf_aac.h"

using zuft::aac::for_each_band;

TEST(AacMsStereo, MatrixAndIntensitySignFollowTheMask) {
    zuft::Rng rng(21);
    const int sri = 3;
    struct Case {
        int winLen, numGrp, grp[8], maxSfb, mask;
    };
    const Case cases[] = {
        {1024, 1, {1}, 49, 1}, {1024, 1, {1}, 40, 2}, {128, 3, {2, 5, 1}, 14, 1}, {128, 2, {4, 4}, 11, 2}};
    for (const Case& c : cases) {
        std::vector<int32_t> l(1024), r(1024);
        for (int i = 0; i < 1024; ++i) l[i] = rng.s32() >> 2, r[i] = rng.s32() >> 2;
        l[0] = INT32_MAX, r[0] = 1;  // wrapping sums
        std::vector<Zuf8u> cb(8 * c.maxSfb), used(8 * 60);
        const Zuf8u books[] = {1, 13, 14, 15, 0, 7};
        for (auto& v : cb) v = books[rng.range(0, 5)];
        for (auto& v : used) v = Zuf8u(rng.range(0, 1));
        const std::vector<Zuf8u> cb0 = cb;
        std::vector<int32_t> L = l, R = r;
        ASSERT_EQ(zufsDecodeMsStereo_AAC_32s_I(L.data(), R.data(), c.mask, used.data(), cb.data(), c.numGrp, c.grp,
                                               c.maxSfb, sri, c.winLen),
                  zufOk);
        for_each_band(sri, c.winLen, c.numGrp, c.grp, c.maxSfb, [&](int g, int b, int p, int w, int n) {
            const int run = w * n;
            const int idx = g * c.maxSfb + b, book = cb0[idx];
            const bool on = used[g * 60 + b] != 0;
            const bool intensity = book == 14 || book == 15;
            EXPECT_EQ(cb[idx], intensity && c.mask == 1 && on ? (book ^ 1) : book) << idx;
            const bool matrix = !intensity && book != 13 && (c.mask == 2 || on);
            for (int i = p; i < p + run; ++i) {
                EXPECT_EQ(L[i], matrix ? int32_t(uint32_t(l[i]) + uint32_t(r[i])) : l[i]) << i;
                EXPECT_EQ(R[i], matrix ? int32_t(uint32_t(l[i]) - uint32_t(r[i])) : r[i]) << i;
            }
        });
    }
}

TEST(AacIsStereo, RightIsScaledLeftInIntensityBands) {
    zuft::Rng rng(22);
    const int sri = 4, grp[3] = {1, 4, 3};
    for (int winLen : {1024, 128}) {
        const int numGrp = winLen == 128 ? 3 : 1, maxSfb = winLen == 128 ? 14 : 49;
        std::vector<int32_t> l(1024), r(1024, 0x11111111);
        for (auto& v : l) v = rng.range(-(1 << 22), 1 << 22);
        std::vector<Zuf8u> cb(numGrp * maxSfb);
        std::vector<Zuf16s> pos(numGrp * maxSfb);
        for (size_t i = 0; i < cb.size(); ++i) cb[i] = Zuf8u(i % 3 == 0 ? 1 : (i % 3 == 1 ? 15 : 14));
        for (size_t i = 0; i < pos.size(); ++i) pos[i] = Zuf16s(rng.range(-24, 60));
        ASSERT_EQ(
            zufsDecodeIsStereo_AAC_32s(l.data(), r.data(), pos.data(), cb.data(), numGrp, grp, maxSfb, sri, winLen),
            zufOk);
        for_each_band(sri, winLen, numGrp, grp, maxSfb, [&](int g, int b, int p, int w, int n) {
            const int run = w * n;
            const int idx = g * maxSfb + b;
            for (int i = p; i < p + run; ++i) {
                if (cb[idx] == 1) {
                    EXPECT_EQ(r[i], 0x11111111);
                    continue;
                }
                const double ref = (cb[idx] == 15 ? 1 : -1) * l[i] * std::exp2(-pos[idx] / 4.0);
                EXPECT_NEAR(r[i], ref, 1.0 + std::fabs(ref) * 1e-8) << "pos " << pos[idx] << " L " << l[i];
            }
        });
    }
    // is_position 0 copies exactly; 4 halves with truncation toward minus infinity.
    const int one = 1;
    std::vector<int32_t> l(1024), r(1024);
    for (int i = 0; i < 1024; ++i) l[i] = (i * 7919) % 20001 - 10000;
    std::vector<Zuf8u> cb(49, 15);
    std::vector<Zuf16s> pos(49, 0);
    for (int b = 25; b < 49; ++b) pos[b] = 4;
    ASSERT_EQ(zufsDecodeIsStereo_AAC_32s(l.data(), r.data(), pos.data(), cb.data(), 1, &one, 49, 4, 1024), zufOk);
    const int split = zuf::_pAACSwbOffsetTableLong[4][25];
    for (int i = 0; i < 1024; ++i) EXPECT_EQ(r[i], i < split ? l[i] : l[i] >> 1) << i;
}

TEST(AacDeinterleave, GroupedBandsBecomeEightWindows) {
    const int sri = 8, grp[4] = {1, 3, 2, 2};
    const Zuf16s* swb = zuf::_pAACSwbOffsetTableShort[sri];
    for (int maxSfb : {15, 9, 0}) {
        std::vector<int32_t> src(1024), dst(1024, 77);
        for (int i = 0; i < 1024; ++i) src[i] = i + 1;
        ASSERT_EQ(zufsDeinterleaveSpectrum_AAC_32s(src.data(), dst.data(), 4, grp, maxSfb, sri, 128), zufOk);
        std::vector<int32_t> ref(1024, 0);
        int win = 0, s = 0;
        for (int g = 0; g < 4; ++g) {
            for (int b = 0; b < maxSfb; ++b)
                for (int k = 0; k < grp[g]; ++k)
                    for (int j = swb[b]; j < swb[b + 1]; ++j) ref[(win + k) * 128 + j] = src[s++];
            win += grp[g];
            s = win * 128;
        }
        EXPECT_EQ(dst, ref) << "maxSfb " << maxSfb;
    }
}

TEST(AacStereoChecks, InOrder) {
    std::vector<int32_t> a(1024), b(1024);
    std::vector<Zuf8u> cb(8 * 51), used(480);
    std::vector<Zuf16s> sf(8 * 51);
    const int g[8] = {1, 1, 1, 1, 1, 1, 1, 1};
    Zuf8u *u = used.data(), *c = cb.data();
    auto ms = [&](int mask, Zuf8u* msUsed, int groups, int maxSfb, int sri, int len) {
        return zufsDecodeMsStereo_AAC_32s_I(a.data(), b.data(), mask, msUsed, c, groups, g, maxSfb, sri, len);
    };
    auto is = [&](Zuf8u* books, int groups, int maxSfb, int sri, int len) {
        return zufsDecodeIsStereo_AAC_32s(a.data(), b.data(), sf.data(), books, groups, g, maxSfb, sri, len);
    };
    auto de = [&](int groups, const int* lens, int maxSfb, int sri, int len) {
        return zufsDeinterleaveSpectrum_AAC_32s(a.data(), b.data(), groups, lens, maxSfb, sri, len);
    };
    // Each call is also wrong in every argument checked after the one whose status it expects.
    zuft::expect_status(zufErrNullPtr,
                        {ms(9, nullptr, 9, 99, 99, 5), is(nullptr, 1, 0, 0, 1024), de(1, nullptr, 0, 0, 128)});
    zuft::expect_status(zufErrAacWinGrp, {ms(9, u, 2, 99, 99, 1024), ms(9, u, 9, 99, 99, 128), is(c, 0, 99, 99, 128),
                                          de(0, g, 99, 99, 128)});
    zuft::expect_status(zufErrAacWinLen, {ms(9, u, 1, 99, 99, 512), is(c, 1, 99, 99, 100), de(0, g, 99, 99, 1024)});
    zuft::expect_status(zufErrAacMaxSfb, {ms(9, u, 1, 52, 99, 1024), ms(2, u, 1, 51, 0, 1024), is(c, 8, 52, 99, 128),
                                          is(c, 8, 15, 0, 128), de(8, g, 52, 99, 128), de(8, g, 15, 3, 128)});
    zuft::expect_status(zufErrAacSmplRateIdx,
                        {ms(9, u, 1, 51, 12, 1024), is(c, 8, 15, -1, 128), de(8, g, 15, 12, 128)});
    zuft::expect_status(zufErrAacMsMask, {ms(3, u, 1, 51, 0, 1024)});
    zuft::expect_status(zufOk, {ms(2, u, 1, 41, 0, 1024)});
}
