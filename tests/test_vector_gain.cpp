// Gain builders: MakeFloat against ldexp over the whole exponent range, CalcSF and its table.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <vector>

#include "frame/csf_tables.h"
#include "frame/vec_kernels.h"
#include "test_vector_helpers.h"
#include "zufack9/zuf_core.h"

namespace {

using zuft::bits_of;
using zuft::Placed;
using zuft::Rng;

// m * 2^-(15 + e): exact in double wherever double's range allows, then one rounding to float
// (below double's range the float result is a signed zero either way).
float model_make_float(Zuf16s m, Zuf16s e) { return static_cast<float>(std::ldexp(static_cast<double>(m), -15 - e)); }

TEST(VectorGain, MakeFloatAgainstLdexp) {
    Rng rng(31);
    std::vector<Zuf16s> exps;
    for (int e = -200; e <= 200; ++e) exps.push_back(static_cast<Zuf16s>(e));
    for (int e : {INT16_MIN, INT16_MIN + 1, -1000, 1000, INT16_MAX - 1, INT16_MAX})
        exps.push_back(static_cast<Zuf16s>(e));
    const Zuf16s mants[] = {0, 1, -1, 3, -3, 32767, -32768, 16384, -12345, 12345, 5, 255, -256};
    // Every exponent with every special mantissa, in one long vector; vector and scalar paths.
    std::vector<Zuf16s> m, e;
    for (Zuf16s x : exps)
        for (Zuf16s y : mants) {
            e.push_back(x);
            m.push_back(y);
        }
    const int len = static_cast<int>(m.size());
    for (int aligned = 1; aligned >= 0; --aligned) {
        Placed<Zuf16s> pm(len, 0), pe(len, aligned ? 0 : 2);
        Placed<Zuf32f> pd(len, 0);
        pm.assign(m);
        pe.assign(e);
        ASSERT_EQ(zufsMakeFloat_16s32f(pm.data(), pe.data(), len, pd.data()), aligned ? zufOk : zufWarnMisaligned);
        for (int i = 0; i < len; ++i)
            ASSERT_EQ(bits_of(pd[i]), bits_of(model_make_float(m[i], e[i]))) << "m " << m[i] << " e " << e[i];
        ASSERT_TRUE(pd.guards_intact());
    }
    // Random data at every length and each array off 16 in turn: the status is 2 exactly when
    // an array is misaligned, and the result never depends on it.
    for (int n : vt::kLens) {
        for (int which = -1; which < 3; ++which) {
            Placed<Zuf16s> pm(n, which == 0 ? 6 : 0), pe(n, which == 1 ? 2 : 16);
            Placed<Zuf32f> pd(n, which == 2 ? 4 : 32), r(n, 0);
            for (int i = 0; i < n; ++i) {
                pm[i] = static_cast<Zuf16s>(rng.s32());
                pe[i] = static_cast<Zuf16s>(rng.range(-150, 120));
            }
            ASSERT_EQ(zufsMakeFloat_16s32f(pm.data(), pe.data(), n, pd.data()), which < 0 ? zufOk : zufWarnMisaligned);
            zuf::ownsMakeFloat_16s32f_ref(pm.data(), pe.data(), n, r.data());
            for (int i = 0; i < n; ++i) {
                ASSERT_EQ(bits_of(pd[i]), bits_of(model_make_float(pm[i], pe[i])));
                ASSERT_EQ(bits_of(r[i]), bits_of(pd[i]));
            }
            ASSERT_TRUE(pd.guards_intact());
        }
    }
    Zuf16s a = 1;
    Zuf32f d = 5;
    EXPECT_EQ(zufsMakeFloat_16s32f(&a, nullptr, 0, &d), zufErrNullPtr);
    EXPECT_EQ(zufsMakeFloat_16s32f(&a, &a, 0, &d), zufErrSize);
    EXPECT_EQ(d, 5.0f);
    alignas(16) Zuf16s m1[8] = {16384, -16384, 1, 0, 0, 0, 0, 0}, e1[8] = {0, 1, -15, 0, 0, 0, 0, 0};
    alignas(16) Zuf32f d1[8];
    ASSERT_EQ(zufsMakeFloat_16s32f(m1, e1, 8, d1), zufOk);
    EXPECT_EQ(d1[0], 0.5f);  // Q15 one half
    EXPECT_EQ(d1[1], -0.25f);
    EXPECT_EQ(d1[2], 1.0f);
}

// ---------------------------------------------------------------- CalcSF and t_csf

TEST(VectorGain, CsfTableFromFormula) {
    for (int k = 0; k < 1024; ++k) {
        const float want = static_cast<float>(std::exp2(static_cast<long double>(k - 512) / 4));
        ASSERT_EQ(bits_of(zuf::t_csf[k]), bits_of(want)) << "k " << k;
    }
    EXPECT_EQ(zuf::t_csf[0], std::ldexp(1.0f, -128));
    EXPECT_EQ(zuf::t_csf[512], 1.0f);
    EXPECT_TRUE(std::isinf(zuf::t_csf[1024]) && zuf::t_csf[1024] > 0);
    for (int k = 1025; k < 1028; ++k) EXPECT_EQ(bits_of(zuf::t_csf[k]), 0u);
}

// The index: (x - sat16(offset + 512)) modulo 1024, in plain wide arithmetic.
float model_calc_sf(Zuf16s x, int offset) {
    const int64_t base = std::clamp<int64_t>(int64_t{offset} + 512, INT16_MIN, INT16_MAX);
    const int64_t idx = ((x - base) % 1024 + 1024) % 1024;
    return static_cast<float>(std::exp2(static_cast<long double>(idx - 512) / 4));
}

TEST(VectorGain, CalcSF) {
    Rng rng(32);
    for (int offset : {0, 100, -100, 32000, -33000, 40000, INT_MAX, INT_MIN, 32255, 32256}) {
        for (int len : vt::kLens) {
            Placed<Zuf16s> s(len, vt::kMis16[len % 6]);
            Placed<Zuf32f> d(len, vt::kMis32[len % 4]);
            for (int i = 0; i < len; ++i)
                s[i] = static_cast<Zuf16s>(i % 2 ? rng.s32() : int64_t{offset} + rng.range(-600, 600));
            ASSERT_EQ(zufsCalcSF_16s32f(s.data(), offset, d.data(), len), zufOk);
            for (int i = 0; i < len; ++i) ASSERT_EQ(bits_of(d[i]), bits_of(model_calc_sf(s[i], offset)));
            ASSERT_TRUE(d.guards_intact());
        }
    }
    const int offset = 60;
    const Zuf16s src[5] = {60, 64, 56, 60 + 511, 60 - 512};
    Zuf32f dst[5];
    ASSERT_EQ(zufsCalcSF_16s32f(src, offset, dst, 5), zufOk);
    EXPECT_EQ(dst[0], 1.0f);
    EXPECT_EQ(dst[1], 2.0f);
    EXPECT_EQ(dst[2], 0.5f);
    EXPECT_EQ(dst[3], static_cast<float>(std::exp2(127.75L)));
    EXPECT_EQ(dst[4], std::ldexp(1.0f, -128));
    EXPECT_EQ(zufsCalcSF_16s32f(nullptr, 0, dst, 0), zufErrNullPtr);
    EXPECT_EQ(zufsCalcSF_16s32f(src, 0, dst, 0), zufErrSize);
    EXPECT_EQ(dst[0], 1.0f);
}

}  // namespace
