// Complex split/join/product, scaled addition, shifts, constant products, extremes and the
// standard deviation.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>
#include <vector>

#include "frame/vec_kernels.h"
#include "test_vector_helpers.h"
#include "zufack9/zuf_core.h"

namespace {

using zuft::bits_of;
using zuft::Placed;
using zuft::Rng;

// ---------------------------------------------------------------- complex

TEST(VectorComplex, SplitAndJoin) {
    Rng rng(11);
    for (int len : vt::kLens) {
        for (std::size_t mis : vt::kMis32) {
            Placed<Zuf32fc> c(len, mis), j(len, vt::kMis32[(mis / 4 + 1) % 4]);
            Placed<Zuf32f> re(len, mis), im(len, vt::kMis32[(mis / 4 + 2) % 4]);
            for (int i = 0; i < len; ++i) c[i] = Zuf32fc{rng.uniform(-9, 9), rng.uniform(-9, 9)};
            ASSERT_EQ(zufsCplxToReal_32fc(c.data(), re.data(), im.data(), len), zufOk);
            for (int i = 0; i < len; ++i) {
                ASSERT_EQ(bits_of(re[i]), bits_of(c[i].re));
                ASSERT_EQ(bits_of(im[i]), bits_of(c[i].im));
            }
            ASSERT_EQ(zufsRealToCplx_32f(re.data(), im.data(), j.data(), len), zufOk);
            ASSERT_EQ(std::memcmp(j.data(), c.data(), len * sizeof(Zuf32fc)), 0);
            // A null part gives +0 in that part of every element.
            ASSERT_EQ(zufsRealToCplx_32f(re.data(), nullptr, j.data(), len), zufOk);
            for (int i = 0; i < len; ++i) {
                ASSERT_EQ(bits_of(j[i].re), bits_of(re[i]));
                ASSERT_EQ(bits_of(j[i].im), 0u);
            }
            ASSERT_EQ(zufsRealToCplx_32f(nullptr, im.data(), j.data(), len), zufOk);
            for (int i = 0; i < len; ++i) {
                ASSERT_EQ(bits_of(j[i].re), 0u);
                ASSERT_EQ(bits_of(j[i].im), bits_of(im[i]));
            }
            ASSERT_TRUE(re.guards_intact() && im.guards_intact() && j.guards_intact());
        }
    }
    Zuf32fc c{1, 2};
    Zuf32f r = 5, i = 5;
    EXPECT_EQ(zufsCplxToReal_32fc(&c, &r, nullptr, 0), zufErrNullPtr);
    EXPECT_EQ(zufsCplxToReal_32fc(&c, &r, &i, 0), zufErrSize);
    EXPECT_EQ(zufsRealToCplx_32f(nullptr, nullptr, &c, 1), zufErrNullPtr);
    EXPECT_EQ(zufsRealToCplx_32f(&r, &i, nullptr, 1), zufErrNullPtr);
    EXPECT_EQ(zufsRealToCplx_32f(&r, nullptr, &c, 0), zufErrSize);
    EXPECT_EQ(r, 5.0f);
    EXPECT_EQ(c.re, 1.0f);
}

// Each product rounded to single precision, then their sum (computed in double and rounded
// once, which equals the single-precision sum of two floats).
Zuf32fc model_cmul(Zuf32fc x, Zuf32fc y) {
    auto p = [](float a, float b) { return static_cast<float>(static_cast<double>(a) * b); };
    return Zuf32fc{static_cast<float>(static_cast<double>(p(x.re, y.re)) - p(x.im, y.im)),
                   static_cast<float>(static_cast<double>(p(x.re, y.im)) + p(x.im, y.re))};
}

TEST(VectorComplex, ProductAgainstModel) {
    Rng rng(12);
    for (int len : vt::kLens) {
        for (std::size_t mis : vt::kMis32) {
            Placed<Zuf32fc> a(len, mis), b(len, vt::kMis32[(mis / 4 + 1) % 4]), d(len, vt::kMis32[(mis / 4 + 3) % 4]);
            Placed<Zuf32fc> r(len, 0);
            for (int i = 0; i < len; ++i) {
                a[i] = Zuf32fc{rng.uniform(-100, 100), rng.uniform(-100, 100)};
                b[i] = Zuf32fc{rng.uniform(-1, 1), rng.uniform(-1e4f, 1e4f)};
            }
            ASSERT_EQ(zufsMul_32fc(a.data(), b.data(), d.data(), len), zufOk);
            zuf::ownsMul_32fc_ref(a.data(), b.data(), r.data(), len);
            for (int i = 0; i < len; ++i) {
                const Zuf32fc m = model_cmul(a[i], b[i]);
                ASSERT_EQ(bits_of(d[i].re), bits_of(m.re));
                ASSERT_EQ(bits_of(d[i].im), bits_of(m.im));
                ASSERT_EQ(bits_of(r[i].re), bits_of(m.re));
                ASSERT_EQ(bits_of(r[i].im), bits_of(m.im));
            }
            ASSERT_TRUE(d.guards_intact());
            // In place: pSrcDst = pSrc * pSrcDst.
            ASSERT_EQ(zufsMul_32fc_I(a.data(), b.data(), len), zufOk);
            ASSERT_EQ(std::memcmp(b.data(), d.data(), len * sizeof(Zuf32fc)), 0);
            ASSERT_TRUE(b.guards_intact());
        }
    }
    Zuf32fc x{1, 1};
    EXPECT_EQ(zufsMul_32fc(&x, nullptr, &x, 1), zufErrNullPtr);
    EXPECT_EQ(zufsMul_32fc(&x, &x, &x, 0), zufErrSize);
    EXPECT_EQ(zufsMul_32fc_I(nullptr, &x, 0), zufErrNullPtr);
    EXPECT_EQ(zufsMul_32fc_I(&x, &x, -2), zufErrSize);
    EXPECT_EQ(x.re, 1.0f);
}

// ---------------------------------------------------------------- scaled addition

// The exact sum scaled by 2^-s: left shifts in long double (exact to 63 bits), right shifts
// by floor division with the remainder deciding, ties to the even quotient; then saturation.
Zuf32s model_add(Zuf32s a, Zuf32s b, int s) {
    const int64_t sum = int64_t{a} + b;
    long double v;
    if (s <= 0) {
        v = std::ldexp(static_cast<long double>(sum), std::min(-static_cast<int64_t>(s), int64_t{40}));
    } else if (s > 32) {
        v = 0;
    } else {
        const int64_t d = int64_t{1} << s;
        int64_t q = sum / d, r = sum % d;
        if (r < 0) {
            q -= 1;
            r += d;
        }
        if (2 * r > d || (2 * r == d && (q & 1))) q += 1;
        v = static_cast<long double>(q);
    }
    return static_cast<Zuf32s>(std::clamp<long double>(v, INT32_MIN, INT32_MAX));
}

Zuf32s mixed_s32(Rng& rng, int i) {
    switch (i % 5) {
        case 0:
            return rng.s32();
        case 1:
            return rng.range(-100, 100);
        case 2:
            return (i & 4) ? INT32_MAX - rng.range(0, 3) : INT32_MIN + rng.range(0, 3);
        case 3:
            return rng.s32() >> rng.range(1, 31);
        default:
            return static_cast<Zuf32s>(static_cast<uint32_t>(rng.range(-5, 5)) << rng.range(0, 31));
    }
}

TEST(VectorArith, AddScaledAgainstModel) {
    Rng rng(13);
    std::vector<int> scales;
    for (int s = -40; s <= 40; ++s) scales.push_back(s);
    scales.insert(scales.end(), {INT_MIN, INT_MAX});
    for (int sf : scales) {
        for (int len : vt::kLens) {
            Placed<Zuf32s> a(len, vt::kMis32[len % 4]), b(len, vt::kMis32[(len + 1) % 4]), r(len, 0);
            for (int i = 0; i < len; ++i) {
                a[i] = mixed_s32(rng, i);
                b[i] = mixed_s32(rng, i + rng.range(0, 4));
            }
            const std::vector<Zuf32s> b0 = b.vec();
            r.assign(b0);
            ASSERT_EQ(zufsAdd_32s_ISfs(a.data(), b.data(), len, sf), zufOk);
            zuf::ownsAdd_32s_ISfs_ref(a.data(), r.data(), len, sf);
            for (int i = 0; i < len; ++i) {
                ASSERT_EQ(b[i], model_add(a[i], b0[i], sf)) << a[i] << " + " << b0[i] << " sf " << sf;
                ASSERT_EQ(r[i], b[i]);
            }
            ASSERT_TRUE(b.guards_intact());
        }
    }
}

TEST(VectorArith, AddScaledEdgeCases) {
    auto one = [](Zuf32s a, Zuf32s b, int sf) {
        Zuf32s src[5], dst[5];
        for (int i = 0; i < 5; ++i) src[i] = a, dst[i] = b;  // four-wide kernel and tail
        EXPECT_EQ(zufsAdd_32s_ISfs(src, dst, 5, sf), zufOk);
        EXPECT_EQ(dst[0], dst[4]);
        return dst[0];
    };
    EXPECT_EQ(one(0x7FFFFFFF, 1, 0), 0x7FFFFFFF);
    EXPECT_EQ(one(INT32_MIN, -1, 0), INT32_MIN);
    EXPECT_EQ(one(1, 2, 1), 2);
    EXPECT_EQ(one(1, 4, 1), 2);
    EXPECT_EQ(one(-1, -2, 1), -2);
    EXPECT_EQ(one(INT32_MAX, INT32_MAX, 1), INT32_MAX);
    EXPECT_EQ(one(INT32_MIN, INT32_MIN, 1), INT32_MIN);
    EXPECT_EQ(one(INT32_MAX, INT32_MAX, 32), 1);  // (2^32 - 2) / 2^32 rounds to 1
    EXPECT_EQ(one(1 << 30, 1 << 30, 32), 0);      // exactly one half: to even 0
    EXPECT_EQ(one(INT32_MIN, INT32_MIN, 32), -1);
    EXPECT_EQ(one(INT32_MAX, INT32_MAX, 33), 0);
    EXPECT_EQ(one(3, 4, -28), 7 << 28);
    EXPECT_EQ(one(3, 5, -28), INT32_MAX);  // 2^31 saturates
    EXPECT_EQ(one(1, 0, -30), 1 << 30);
    EXPECT_EQ(one(1, 0, -31), INT32_MAX);
    EXPECT_EQ(one(-1, 0, -31), INT32_MIN);
    EXPECT_EQ(one(5, -5, -31), 0);
    EXPECT_EQ(one(-2, 1, INT_MIN), INT32_MIN);

    Zuf32s s = 1, d = 2;
    EXPECT_EQ(zufsAdd_32s_ISfs(nullptr, &d, 0, 0), zufErrNullPtr);
    EXPECT_EQ(zufsAdd_32s_ISfs(&s, &d, 0, 0), zufErrSize);
    EXPECT_EQ(d, 2);
}

// ---------------------------------------------------------------- shift and constant product

TEST(VectorArith, RightShift) {
    Rng rng(14);
    for (int shift : {0, 1, 2, 5, 15, 16, 30, 31, 32, 33, 40, INT_MAX}) {
        for (int len : vt::kLens) {
            Placed<Zuf32s> d(len, vt::kMis32[len % 4]), r(len, 0);
            for (int i = 0; i < len; ++i) d[i] = mixed_s32(rng, i);
            const std::vector<Zuf32s> d0 = d.vec();
            r.assign(d0);
            ASSERT_EQ(zufsRShiftC_32s_I(shift, d.data(), len), zufOk);
            zuf::ownsRShiftC_32s_I_ref(shift, r.data(), len);
            for (int i = 0; i < len; ++i) {
                // floor(x / 2^shift): the arithmetic shift; past 31 only the sign is left.
                const auto want =
                    static_cast<Zuf32s>(std::floor(std::ldexp(static_cast<long double>(d0[i]), -std::min(shift, 60))));
                ASSERT_EQ(d[i], want) << d0[i] << " >> " << shift;
                ASSERT_EQ(r[i], want);
            }
            ASSERT_TRUE(d.guards_intact());
        }
    }
    Zuf32s v[2] = {-5, 5};
    ASSERT_EQ(zufsRShiftC_32s_I(40, v, 2), zufOk);
    EXPECT_EQ(v[0], -1);
    EXPECT_EQ(v[1], 0);
    EXPECT_EQ(zufsRShiftC_32s_I(-1, nullptr, 0), zufErrNullPtr);
    EXPECT_EQ(zufsRShiftC_32s_I(-1, v, 0), zufErrSize);
    EXPECT_EQ(zufsRShiftC_32s_I(-1, v, 2), zufErrShift);
    EXPECT_EQ(v[0], -1);
}

TEST(VectorArith, MulConstant) {
    Rng rng(15);
    const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
    for (float val : {2.0f, -0.75f, 1e-30f, 3.3e38f, 1.0f, nan, 0.0f, -0.0f, inf}) {
        for (int len : vt::kLens) {
            Placed<Zuf32f> d(len, vt::kMis32[len % 4]), r(len, 0);
            for (int i = 0; i < len; ++i) d[i] = i % 7 == 3 ? (i & 1 ? inf : nan) : rng.uniform(-1e3f, 1e3f);
            const std::vector<Zuf32f> d0 = d.vec();
            ASSERT_EQ(zufsMulC_32f_I(val, d.data(), len), zufOk);
            for (int i = 0; i < len; ++i) {
                if (val == 1.0f || std::isnan(val))
                    ASSERT_EQ(bits_of(d[i]), bits_of(d0[i]));  // untouched, NaN data included
                else if (val == 0.0f)
                    ASSERT_EQ(bits_of(d[i]), 0u);  // +0 even over inf and NaN
                else if (std::isnan(d0[i]))
                    ASSERT_TRUE(std::isnan(d[i]));
                else
                    ASSERT_EQ(bits_of(d[i]), bits_of(static_cast<float>(static_cast<double>(d0[i]) * val)));
            }
            if (val != 1.0f && val == val && val != 0.0f) {
                r.assign(d0);
                zuf::ownsMulC_32f_I_ref(val, r.data(), len);
                ASSERT_EQ(std::memcmp(r.data(), d.data(), len * 4), 0);
            }
            ASSERT_TRUE(d.guards_intact());
        }
    }
    Zuf32f x = 3;
    EXPECT_EQ(zufsMulC_32f_I(0.0f, nullptr, 0), zufErrNullPtr);
    EXPECT_EQ(zufsMulC_32f_I(0.0f, &x, 0), zufErrSize);
    EXPECT_EQ(x, 3.0f);
}

// ---------------------------------------------------------------- extremes

TEST(VectorStats, MinMax) {
    Rng rng(16);
    for (int len : vt::kLens) {
        for (std::size_t mis : vt::kMis16) {
            for (int trial = 0; trial < 3; ++trial) {
                Placed<Zuf16s> s(len, mis);
                for (int i = 0; i < len; ++i) s[i] = static_cast<Zuf16s>(trial == 2 ? rng.range(-3, 3) : rng.s32());
                // Put the extremes at chosen positions: first, last, inside.
                if (trial == 1) {
                    s[len - 1] = INT16_MIN;
                    s[0] = INT16_MAX;
                }
                const std::vector<Zuf16s> v = s.vec();
                Zuf16s lo = 0, hi = 0, lo2 = 0, hi2 = 0;
                ASSERT_EQ(zufsMinMax_16s(s.data(), len, &lo, &hi), zufOk);
                zuf::ownsMinMax_16s_ref(s.data(), len, &lo2, &hi2);
                ASSERT_EQ(lo, *std::min_element(v.begin(), v.end()));
                ASSERT_EQ(hi, *std::max_element(v.begin(), v.end()));
                ASSERT_EQ(lo2, lo);
                ASSERT_EQ(hi2, hi);
            }
        }
    }
    Zuf16s x = 4, lo = 1, hi = 1;
    EXPECT_EQ(zufsMinMax_16s(&x, 1, &lo, nullptr), zufErrNullPtr);
    EXPECT_EQ(zufsMinMax_16s(&x, 0, &lo, &hi), zufErrSize);
    EXPECT_EQ(lo, 1);
    ASSERT_EQ(zufsMinMax_16s(&x, 1, &lo, &hi), zufOk);
    EXPECT_EQ(lo, 4);
    EXPECT_EQ(hi, 4);
}

// ---------------------------------------------------------------- standard deviation

// Two passes in long double: the mean, then the squared deviations from it.
long double model_std_dev(const std::vector<float>& v) {
    long double mean = 0;
    for (float x : v) mean += x;
    mean /= v.size();
    long double ss = 0;
    for (float x : v) ss += (x - mean) * (x - mean);
    return std::sqrt(ss / (v.size() - 1));
}

TEST(VectorStats, StdDevAgainstTwoPassModel) {
    Rng rng(17);
    for (int len : vt::kLens) {
        if (len < 2) continue;
        for (std::size_t mis : vt::kMis32) {
            for (float offset : {0.0f, 10.0f, -300.0f}) {
                Placed<Zuf32f> s(len, mis);
                for (int i = 0; i < len; ++i) s[i] = offset + rng.uniform(-2.0f, 2.0f);
                const std::vector<float> v = s.vec();
                const long double want = model_std_dev(v);
                float acc = -1, fast = -1;
                ASSERT_EQ(zufsStdDev_32f(s.data(), len, &acc, 0), zufOk);
                ASSERT_EQ(zufsStdDev_32f(s.data(), len, &fast, 1), zufOk);
                // Accurate: extended-precision sums lose little even with an offset.
                EXPECT_NEAR(acc, want, want * 1e-6L + 1e-30L) << "len " << len;
                // Fast: single-precision lane sums of x^2 cancel against S^2, so the error
                // grows with (offset / spread)^2; at offset 300 only bit identity is checked.
                if (offset != -300.0f) {
                    EXPECT_NEAR(fast, want, want * (1e-5L + 2e-5L * offset * offset)) << "len " << len;
                }
                // The vector fast path is the scalar fast path, bit for bit.
                ASSERT_EQ(bits_of(fast), bits_of(zuf::ownsStdDevFast_32f_ref(s.data(), len)));
                ASSERT_EQ(bits_of(acc), bits_of(zuf::ownsStdDevAccurate_32f(s.data(), len)));
                // Any hint other than 1 is the accurate path.
                float other = -1;
                ASSERT_EQ(zufsStdDev_32f(s.data(), len, &other, 2), zufOk);
                ASSERT_EQ(bits_of(other), bits_of(acc));
            }
        }
    }
}

TEST(VectorStats, StdDevEdgeCases) {
    const float four[4] = {1, 2, 3, 4};  // sample variance 5/3
    for (int hint : {0, 1}) {
        float sd = -1;
        ASSERT_EQ(zufsStdDev_32f(four, 4, &sd, hint), zufOk);
        EXPECT_EQ(sd, static_cast<float>(std::sqrt(5.0 / 3.0)));
        // Equal values: exactly 0 where the squares are exact in the sums' precision.
        const float same[9] = {-1.5f, -1.5f, -1.5f, -1.5f, -1.5f, -1.5f, -1.5f, -1.5f, -1.5f};
        ASSERT_EQ(zufsStdDev_32f(same, 2, &sd, hint), zufOk);
        EXPECT_EQ(bits_of(sd), 0u);
        ASSERT_EQ(zufsStdDev_32f(same, 9, &sd, hint), zufOk);
        EXPECT_EQ(bits_of(sd), 0u);
        // 0.1f squared is rounded in single precision: the fast path may see a tiny variance of
        // either sign (a negative one reads as 0, never NaN); the accurate one is exact.
        const float tenth[9] = {0.1f, 0.1f, 0.1f, 0.1f, 0.1f, 0.1f, 0.1f, 0.1f, 0.1f};
        for (int n : {2, 9}) {
            ASSERT_EQ(zufsStdDev_32f(tenth, n, &sd, hint), zufOk);
            if (hint == 1) {
                EXPECT_GE(sd, 0.0f);
                EXPECT_LE(sd, 1e-4f);
            } else {
                EXPECT_EQ(bits_of(sd), 0u);
            }
        }
        sd = 7;
        EXPECT_EQ(zufsStdDev_32f(four, 1, &sd, hint), zufErrSize);
        EXPECT_EQ(zufsStdDev_32f(nullptr, 1, &sd, hint), zufErrNullPtr);
        EXPECT_EQ(zufsStdDev_32f(four, 4, nullptr, hint), zufErrNullPtr);
        EXPECT_EQ(sd, 7.0f);
    }
}

}  // namespace
