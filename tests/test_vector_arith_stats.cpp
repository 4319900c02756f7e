// Complex split/join/product, scaled addition, shifts, constant products, extremes and the
// standard deviation.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>
#include <vector>

#include "frame/vec_kernels.h"
#include "support/checkasm.h"
#include "zufack9/zuf_core.h"

namespace {

using zuft::bits_of;
using zuft::checkasm;
using zuft::Placed;
using zuft::Rng;

// ---------------------------------------------------------------- complex

Zuf32fc rand_c(Rng& r, float a, float b) { return Zuf32fc{r.uniform(-a, a), r.uniform(-b, b)}; }

TEST(VectorComplex, SplitAndJoin) {
    auto gen = [](Rng& r, int) { return std::pair{rand_c(r, 9, 9), Zuf32f{}}; };
    for (int part = 0; part < 2; ++part) {
        checkasm<Zuf32fc, Zuf32f, Zuf32f>(
            11, gen,
            [part](const Zuf32fc* c, const Zuf32f*, Zuf32f* d, int n) {
                std::vector<Zuf32f> other(n);
                return part ? zufsCplxToReal_32fc(c, other.data(), d, n) : zufsCplxToReal_32fc(c, d, other.data(), n);
            },
            nullptr, [part](Zuf32fc c, Zuf32f) { return part ? c.im : c.re; });
    }
    auto gen2 = [](Rng& r, int) { return std::pair{r.uniform(-9, 9), r.uniform(-9, 9)}; };
    // Both parts, or one of them null: that part is +0 in every element.
    for (int which = 0; which < 3; ++which) {
        checkasm<Zuf32f, Zuf32f, Zuf32fc>(
            12, gen2,
            [which](const Zuf32f* re, const Zuf32f* im, Zuf32fc* d, int n) {
                return zufsRealToCplx_32f(which == 1 ? nullptr : re, which == 2 ? nullptr : im, d, n);
            },
            nullptr,
            [which](Zuf32f re, Zuf32f im) {
                return Zuf32fc{which == 1 ? 0.0f : re, which == 2 ? 0.0f : im};
            });
    }
}

// Each product rounded to single precision, then their sum (computed in double and rounded
// once, which equals the single-precision sum of two floats).
Zuf32fc model_cmul(Zuf32fc x, Zuf32fc y) {
    auto p = [](float a, float b) { return static_cast<float>(static_cast<double>(a) * b); };
    return Zuf32fc{static_cast<float>(static_cast<double>(p(x.re, y.re)) - p(x.im, y.im)),
                   static_cast<float>(static_cast<double>(p(x.re, y.im)) + p(x.im, y.re))};
}

TEST(VectorComplex, ProductAgainstModel) {
    auto gen = [](Rng& r, int) { return std::pair{rand_c(r, 100, 100), rand_c(r, 1, 1e4f)}; };
    auto ref = [](const Zuf32fc* a, const Zuf32fc* b, Zuf32fc* d, int n) { zuf::ownsMul_32fc_ref(a, b, d, n); };
    checkasm<Zuf32fc, Zuf32fc, Zuf32fc>(
        13, gen, [](const Zuf32fc* a, const Zuf32fc* b, Zuf32fc* d, int n) { return zufsMul_32fc(a, b, d, n); }, ref,
        model_cmul);
    // In place: pSrcDst = pSrc * pSrcDst (the output starts as b).
    checkasm<Zuf32fc, Zuf32fc, Zuf32fc>(
        13, gen, [](const Zuf32fc* a, const Zuf32fc*, Zuf32fc* d, int n) { return zufsMul_32fc_I(a, d, n); }, ref,
        model_cmul);
}

// ---------------------------------------------------------------- scaled addition

// The exact sum scaled by 2^-s: left shifts in long double (exact to 63 bits), right shifts
// by floor division with the remainder deciding, ties to the even quotient; then saturation.
Zuf32s model_add(Zuf32s a, Zuf32s b, int s) {
    const int64_t sum = int64_t{a} + b;
    long double v = 0;
    if (s <= 0) {
        v = std::ldexp(static_cast<long double>(sum), std::min(-static_cast<int64_t>(s), int64_t{40}));
    } else if (s <= 32) {
        const int64_t d = int64_t{1} << s;
        int64_t q = sum / d, r = sum % d;
        if (r < 0) q -= 1, r += d;
        if (2 * r > d || (2 * r == d && (q & 1))) q += 1;
        v = static_cast<long double>(q);
    }
    return static_cast<Zuf32s>(std::clamp<long double>(v, INT32_MIN, INT32_MAX));
}

Zuf32s mixed_s32(Rng& rng, int i) {
    const int k = i % 5;
    if (k == 0) return rng.s32();
    if (k == 1) return rng.range(-100, 100);
    if (k == 2) return (i & 4) ? INT32_MAX - rng.range(0, 3) : INT32_MIN + rng.range(0, 3);
    if (k == 3) return rng.s32() >> rng.range(1, 31);
    return static_cast<Zuf32s>(static_cast<uint32_t>(rng.range(-5, 5)) << rng.range(0, 31));
}

TEST(VectorArith, AddScaledAgainstModel) {
    std::vector<int> scales = {INT_MIN, INT_MAX};
    for (int s = -40; s <= 40; ++s) scales.push_back(s);
    for (int sf : scales) {
        auto gen = [](Rng& r, int i) { return std::pair{mixed_s32(r, i), mixed_s32(r, i + r.range(0, 4))}; };
        checkasm<Zuf32s, Zuf32s, Zuf32s>(
            14, gen, [sf](const Zuf32s* a, const Zuf32s*, Zuf32s* d, int n) { return zufsAdd_32s_ISfs(a, d, n, sf); },
            [sf](const Zuf32s* a, const Zuf32s*, Zuf32s* d, int n) { zuf::ownsAdd_32s_ISfs_ref(a, d, n, sf); },
            [sf](Zuf32s a, Zuf32s b) { return model_add(a, b, sf); });
    }
    // Ties, halves and saturation at the ends of the scale range (five copies: four-wide and tail).
    const struct {
        Zuf32s a, b;
        int sf;
        Zuf32s want;
    } cases[] = {{1, 2, 1, 2},
                 {1, 4, 1, 2},
                 {-1, -2, 1, -2},
                 {INT32_MAX, INT32_MAX, 32, 1},
                 {1 << 30, 1 << 30, 32, 0},
                 {INT32_MIN, INT32_MIN, 32, -1},
                 {3, 5, -28, INT32_MAX},
                 {-1, 0, -31, INT32_MIN},
                 {-2, 1, INT_MIN, INT32_MIN},
                 {INT32_MIN, -1, 0, INT32_MIN}};
    for (const auto& c : cases) {
        Zuf32s src[5], dst[5];
        std::fill(src, src + 5, c.a), std::fill(dst, dst + 5, c.b);
        ASSERT_EQ(zufsAdd_32s_ISfs(src, dst, 5, c.sf), zufOk);
        EXPECT_TRUE(dst[0] == c.want && dst[4] == c.want) << c.a << " + " << c.b << " sf " << c.sf;
    }
}

// ---------------------------------------------------------------- shift and constant product

TEST(VectorArith, RightShift) {
    for (int shift : {0, 1, 2, 5, 15, 16, 30, 31, 32, 33, 40, INT_MAX}) {
        auto gen = [](Rng& r, int i) { return std::pair{Zuf32s{}, mixed_s32(r, i)}; };
        checkasm<Zuf32s, Zuf32s, Zuf32s>(
            15, gen, [shift](const Zuf32s*, const Zuf32s*, Zuf32s* d, int n) { return zufsRShiftC_32s_I(shift, d, n); },
            [shift](const Zuf32s*, const Zuf32s*, Zuf32s* d, int n) { zuf::ownsRShiftC_32s_I_ref(shift, d, n); },
            // floor(x / 2^shift): the arithmetic shift; past 31 only the sign is left.
            [shift](Zuf32s, Zuf32s x) {
                return static_cast<Zuf32s>(std::floor(std::ldexp(static_cast<long double>(x), -std::min(shift, 60))));
            });
    }
}

TEST(VectorArith, MulConstant) {
    const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
    for (float val : {2.0f, -0.75f, 1e-30f, 3.3e38f, 1.0f, nan, 0.0f, -0.0f, inf}) {
        // 1 and NaN leave the data untouched (NaN data included); 0 gives +0 even over inf and NaN.
        auto model = [val](Zuf32f, Zuf32f x) {
            if (val == 1.0f || std::isnan(val)) return x;
            return val == 0.0f ? 0.0f : static_cast<float>(static_cast<double>(x) * val);
        };
        const bool plain = val != 1.0f && val == val && val != 0.0f;
        checkasm<Zuf32f, Zuf32f, Zuf32f>(
            16,
            [inf, nan](Rng& r, int i) {
                return std::pair{Zuf32f{}, i % 7 == 3 ? (i & 1 ? inf : nan) : r.uniform(-1e3f, 1e3f)};
            },
            [val](const Zuf32f*, const Zuf32f*, Zuf32f* d, int n) { return zufsMulC_32f_I(val, d, n); },
            [=](const Zuf32f* a, const Zuf32f* b, Zuf32f* d, int n) {
                if (plain) return zuf::ownsMulC_32f_I_ref(val, d, n);
                for (int i = 0; i < n; ++i) d[i] = model(a[i], b[i]);
            },
            model);
    }
}

// ---------------------------------------------------------------- extremes

TEST(VectorStats, MinMax) {
    Rng rng(16);
    for (int len : zuft::kLens) {
        for (std::size_t mis : {0, 2, 4, 6, 8, 14}) {
            for (int trial = 0; trial < 3; ++trial) {
                Placed<Zuf16s> s(len, mis);
                for (int i = 0; i < len; ++i) s[i] = static_cast<Zuf16s>(trial == 2 ? rng.range(-3, 3) : rng.s32());
                if (trial == 1) s[len - 1] = INT16_MIN, s[0] = INT16_MAX;  // extremes at both ends
                const std::vector<Zuf16s> v = s.vec();
                const auto [mn, mx] = std::minmax_element(v.begin(), v.end());
                Zuf16s lo = 0, hi = 0, lo2 = 0, hi2 = 0;
                ASSERT_EQ(zufsMinMax_16s(s.data(), len, &lo, &hi), zufOk);
                zuf::ownsMinMax_16s_ref(s.data(), len, &lo2, &hi2);
                ASSERT_TRUE(lo == *mn && hi == *mx && lo2 == lo && hi2 == hi) << len;
            }
        }
    }
}

// ---------------------------------------------------------------- standard deviation

// Two passes in long double: the mean, then the squared deviations from it.
long double model_std_dev(const std::vector<float>& v) {
    long double mean = 0, ss = 0;
    for (float x : v) mean += x;
    mean /= v.size();
    for (float x : v) ss += (x - mean) * (x - mean);
    return std::sqrt(ss / (v.size() - 1));
}

TEST(VectorStats, StdDevAgainstTwoPassModel) {
    Rng rng(17);
    for (int len : zuft::kLens) {
        for (std::size_t mis : {0, 4, 8, 12}) {
            for (float offset : {0.0f, 10.0f, -300.0f}) {
                if (len < 2) continue;
                Placed<Zuf32f> s(len, mis);
                for (int i = 0; i < len; ++i) s[i] = offset + rng.uniform(-2.0f, 2.0f);
                const long double want = model_std_dev(s.vec());
                float acc = -1, fast = -1, other = -1;
                ASSERT_EQ(zufsStdDev_32f(s.data(), len, &acc, 0), zufOk);
                ASSERT_EQ(zufsStdDev_32f(s.data(), len, &fast, 1), zufOk);
                ASSERT_EQ(zufsStdDev_32f(s.data(), len, &other, 2), zufOk);  // any hint but 1: accurate
                // Accurate: extended-precision sums lose little even with an offset.
                EXPECT_NEAR(acc, want, want * 1e-6L + 1e-30L) << "len " << len;
                // Fast: single-precision lane sums of x^2 cancel against S^2, so the error
                // grows with (offset / spread)^2; at offset 300 only bit identity is checked.
                EXPECT_TRUE(offset == -300.0f || std::fabs(fast - want) <= want * (1e-5L + 2e-5L * offset * offset))
                    << len;
                ASSERT_EQ(bits_of(fast), bits_of(zuf::ownsStdDevFast_32f_ref(s.data(), len)));
                ASSERT_EQ(bits_of(acc), bits_of(zuf::ownsStdDevAccurate_32f(s.data(), len)));
                ASSERT_EQ(bits_of(other), bits_of(acc));
            }
        }
    }
    const float four[4] = {1, 2, 3, 4};  // sample variance 5/3
    const float same[9] = {-1.5f, -1.5f, -1.5f, -1.5f, -1.5f, -1.5f, -1.5f, -1.5f, -1.5f};
    const float tenth[9] = {0.1f, 0.1f, 0.1f, 0.1f, 0.1f, 0.1f, 0.1f, 0.1f, 0.1f};
    for (int hint : {0, 1}) {
        float sd = -1;
        ASSERT_EQ(zufsStdDev_32f(four, 4, &sd, hint), zufOk);
        EXPECT_EQ(sd, static_cast<float>(std::sqrt(5.0 / 3.0)));
        for (int n : {2, 9}) {
            // Equal values: exactly 0 where the squares are exact in the sums' precision. 0.1f
            // squared is rounded: the fast path may see a tiny variance of either sign (a
            // negative one reads as 0, never NaN); the accurate one is exact.
            ASSERT_EQ(zufsStdDev_32f(same, n, &sd, hint), zufOk);
            EXPECT_EQ(bits_of(sd), 0u);
            ASSERT_EQ(zufsStdDev_32f(tenth, n, &sd, hint), zufOk);
            EXPECT_TRUE(hint == 1 ? sd >= 0.0f && sd <= 1e-4f : bits_of(sd) == 0u) << sd;
        }
    }
}

// Every argument check of the file in its documented order; a failed check writes nothing.
TEST(VectorArith, ArgumentChecks) {
    Zuf32fc c{1, 2};
    Zuf32f r = 5, i = 5, sd = 7;
    Zuf32s s = 1, d = 2, v[2] = {-5, 5};
    Zuf16s x = 4, lo = 1, hi = 1;
    const float four[4] = {1, 2, 3, 4};
    zuft::expect_status(
        zufErrNullPtr,
        {zufsCplxToReal_32fc(&c, &r, nullptr, 0), zufsRealToCplx_32f(nullptr, nullptr, &c, 1),
         zufsRealToCplx_32f(&r, &i, nullptr, 1), zufsMul_32fc(&c, nullptr, &c, 1), zufsMul_32fc_I(nullptr, &c, 0),
         zufsAdd_32s_ISfs(nullptr, &d, 0, 0), zufsRShiftC_32s_I(-1, nullptr, 0), zufsMulC_32f_I(0.0f, nullptr, 0),
         zufsMinMax_16s(&x, 1, &lo, nullptr), zufsStdDev_32f(nullptr, 1, &sd, 1), zufsStdDev_32f(four, 4, nullptr, 0)});
    zuft::expect_status(
        zufErrSize,
        {zufsCplxToReal_32fc(&c, &r, &i, 0), zufsRealToCplx_32f(&r, nullptr, &c, 0), zufsMul_32fc(&c, &c, &c, 0),
         zufsMul_32fc_I(&c, &c, -2), zufsAdd_32s_ISfs(&s, &d, 0, 0), zufsRShiftC_32s_I(-1, v, 0),
         zufsMulC_32f_I(0.0f, &r, 0), zufsMinMax_16s(&x, 0, &lo, &hi), zufsStdDev_32f(four, 1, &sd, 0)});
    zuft::expect_status(zufErrShift, {zufsRShiftC_32s_I(-1, v, 2)});
    EXPECT_TRUE(r == 5.0f && i == 5.0f && c.re == 1.0f && c.im == 2.0f && d == 2 && v[0] == -5 && lo == 1 && sd == 7);
}

}  // namespace
