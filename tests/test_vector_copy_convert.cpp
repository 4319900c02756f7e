// Fill, copy and move; the three conversions with their rounding and saturation rules.
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

using zuft::checkasm;
using zuft::random_bits;
using zuft::Rng;

// ---------------------------------------------------------------- fill, copy, move

template <class T>
std::pair<T, T> any_bits(Rng& r, int) {
    return {random_bits<T>(r), random_bits<T>(r)};
}

// Zeroing (the output is +0 bit for bit) and copying, with their checks: null before size.
template <class T>
void check_zero(zufResult (*fn)(T*, int)) {
    auto call = [fn](const T*, const T*, T* d, int n) { return fn(d, n); };
    checkasm<T, T, T>(1, any_bits<T>, call, nullptr, [](T, T) { return T{}; });
    T d[1];
    zuft::expect_status(zufErrNullPtr, {fn(nullptr, 0)});
    zuft::expect_status(zufErrSize, {fn(d, 0), fn(d, -3)});
}

template <class T>
void check_copy(zufResult (*fn)(const T*, T*, int)) {
    auto call = [fn](const T* s, const T*, T* d, int n) { return fn(s, d, n); };
    checkasm<T, T, T>(2, any_bits<T>, call, nullptr, [](T a, T) { return a; });
    T s[2], d[2];
    zuft::expect_status(zufErrNullPtr, {fn(nullptr, d, 0), fn(s, nullptr, 5)});
    zuft::expect_status(zufErrSize, {fn(s, d, 0)});
}

TEST(VectorFill, ZeroSetAndCopyEveryType) {
    check_zero(zufsZero_8u);
    check_zero(zufsZero_16s);
    check_zero(zufsZero_16sc);
    check_zero(zufsZero_32s);
    check_zero(zufsZero_32sc);
    check_zero(zufsZero_32f);
    check_zero(zufsZero_32fc);
    check_copy(zufsCopy_8u);
    check_copy(zufsCopy_32s);
    check_copy(zufsCopy_32f);
    auto set = [](const Zuf32s*, const Zuf32s*, Zuf32s* d, int n) { return zufsSet_32s(INT32_MIN + 7, d, n); };
    checkasm<Zuf32s, Zuf32s, Zuf32s>(3, any_bits<Zuf32s>, set, nullptr, [](Zuf32s, Zuf32s) { return INT32_MIN + 7; });
}

// Move must behave as if through a temporary buffer, whichever way the overlap goes.
TEST(VectorFill, MoveOverlapsBothWays) {
    for (int len : {1, 5, 16, 33, 100}) {
        for (int shift : {-7, -1, 0, 1, 3, 16}) {
            std::vector<Zuf8u> buf(len + 32);
            for (int i = 0; i < len + 32; ++i) buf[i] = static_cast<Zuf8u>(i * 7 + 1);
            std::vector<Zuf8u> want = buf;
            std::copy(buf.begin() + 8, buf.begin() + 8 + len, want.begin() + 8 + shift);
            ASSERT_EQ(zufsMove_8u(buf.data() + 8, buf.data() + 8 + shift, len), zufOk);
            EXPECT_EQ(buf, want) << "len " << len << " shift " << shift;
        }
    }
}

// ---------------------------------------------------------------- 16-bit to float

TEST(VectorConvert, S16ToFloatExact) {
    checkasm<Zuf16s, Zuf16s, Zuf32f>(
        3,
        [](Rng& r, int i) {
            const auto v = static_cast<Zuf16s>(i % 3 == 0 ? (i & 1 ? INT16_MIN : INT16_MAX) : r.s32());
            return std::pair{v, v};
        },
        [](const Zuf16s* s, const Zuf16s*, Zuf32f* d, int n) { return zufsConvert_16s32f(s, d, n); },
        [](const Zuf16s* s, const Zuf16s*, Zuf32f* d, int n) { zuf::ownsConvert_16s32f_ref(s, d, n); },
        [](Zuf16s x, Zuf16s) { return static_cast<float>(x); });  // exact: every int16 is a float
}

// ---------------------------------------------------------------- 32-bit to 16-bit

// x * 2^-s with the scale clamped to -15..31, by exact integer division: the remainder
// against one half decides, ties go to the even quotient; then saturation.
Zuf16s model_32s16s(Zuf32s x, int sf) {
    const int s = std::clamp(sf, -15, 31);
    long double v;
    if (s > 0) {
        const int64_t d = int64_t{1} << s;
        int64_t q = x / d, r = x % d;  // truncating: move to floor
        if (r < 0) q -= 1, r += d;
        if (2 * r > d || (2 * r == d && (q & 1))) q += 1;
        v = static_cast<long double>(q);
    } else {
        v = std::ldexp(static_cast<long double>(x), -s);
    }
    return static_cast<Zuf16s>(std::clamp<long double>(v, -32768.0L, 32767.0L));
}

Zuf32s mixed_32s(Rng& rng, int i, int s) {
    const int sc = std::clamp(s, 1, 31);
    const int k = i % 6;
    if (k == 0) return rng.s32();
    if (k == 1) return rng.range(-70000, 70000);
    // k == 2: a tie at this scale, an odd multiple of 2^(s-1).
    if (k == 2) return static_cast<Zuf32s>(static_cast<uint32_t>(rng.range(-1000, 1000) * 2 + 1) << (sc - 1));
    if (k == 3) return (i & 8) ? INT32_MIN : INT32_MAX;
    if (k == 4) return rng.range(-40, 40);
    return rng.s32() >> rng.range(0, 31);
}

TEST(VectorConvert, S32ToS16AgainstModel) {
    std::vector<int> scales = {INT_MIN, INT_MAX, -1000, 1000};
    for (int s = -20; s <= 40; ++s) scales.push_back(s);
    for (int sf : scales) {
        auto gen = [sf](Rng& r, int i) { return std::pair{mixed_32s(r, i, sf), Zuf16s{}}; };
        checkasm<Zuf32s, Zuf16s, Zuf16s>(
            4, gen,
            [sf](const Zuf32s* s, const Zuf16s*, Zuf16s* d, int n) { return zufsConvert_32s16s_Sfs(s, d, n, sf); },
            [sf](const Zuf32s* s, const Zuf16s*, Zuf16s* d, int n) {
                zuf::ownsConvert_32s16s_Sfs_ref(s, d, n, std::clamp(sf, -15, 31));
            },
            [sf](Zuf32s x, Zuf16s) { return model_32s16s(x, sf); });
    }
    // Hand-picked ties, halves and clamps (nine copies: the eight-wide kernel and the tail).
    const struct {
        Zuf32s x;
        int sf;
        Zuf16s want;
    } cases[] = {{3, 1, 2},
                 {5, 1, 2},
                 {-3, 1, -2},
                 {-5, 1, -2},
                 {0x7FFFFFFF, 1, 32767},
                 {INT32_MIN, 31, -1},
                 {1 << 30, 31, 0},
                 {(1 << 30) + 1, 31, 1},
                 {3 << 29, 40, 1},
                 {3 << 28, 40, 0},
                 {1, -20, 32767},
                 {-1, -20, -32768},
                 {1, -14, 16384},
                 {-40000, 0, -32768}};
    for (const auto& c : cases) {
        Zuf32s src[9];
        Zuf16s dst[9];
        std::fill(src, src + 9, c.x);
        ASSERT_EQ(zufsConvert_32s16s_Sfs(src, dst, 9, c.sf), zufOk);
        EXPECT_TRUE(dst[0] == c.want && dst[8] == c.want) << c.x << " sf " << c.sf;
    }
}

// ---------------------------------------------------------------- float to 16-bit

// x * 2^-s exactly (long double holds any float times any power of two in range), then the
// rounding by comparison with the floor, then saturation; NaN gives 0.
Zuf16s model_32f16s(float x, int sf, bool nearest) {
    if (std::isnan(x)) return 0;
    if (std::isinf(x)) return x > 0 ? 32767 : -32768;
    const long double v = std::ldexp(static_cast<long double>(x), -std::clamp(sf, -4000, 4000));
    long double r = std::trunc(v);
    if (nearest) {
        const long double fl = std::floor(v), frac = v - fl;
        r = frac > 0.5L ? fl + 1 : (frac < 0.5L ? fl : (std::fmod(fl, 2.0L) == 0 ? fl : fl + 1));
    }
    return static_cast<Zuf16s>(std::clamp(r, -32768.0L, 32767.0L));
}

float mixed_32f(Rng& rng, int i, int sf) {
    const float inf = std::numeric_limits<float>::infinity();
    const float special[] = {0.0f,     -0.0f,   inf,     -inf,     std::numeric_limits<float>::quiet_NaN(),
                             1e-45f,   -1e-45f, 3.4e38f, -3.4e38f, 0.5f,
                             -0.5f,    1.5f,    -2.5f,   32767.5f, -32768.5f,
                             32766.5f, 65535.0f};
    const float unit = std::ldexp(1.0f, std::clamp(sf, -120, 120));  // values that land near the 16-bit range
    const int k = i % 5;
    if (k == 0) return special[rng.range(0, 16)];
    if (k == 1) return rng.uniform(-40000.0f, 40000.0f) * unit;
    if (k == 2) return (static_cast<float>(rng.range(-400, 400)) + 0.5f) * unit;  // ties
    if (k == 3) return static_cast<float>(rng.range(-300, 300)) * 0.25f * unit;
    return zuft::f_of(rng.u32());  // any bit pattern
}

TEST(VectorConvert, FloatToS16AgainstModel) {
    const int scales[] = {0,    1,    -1,   2,   -2,  3,   7,    -7,   15,   -15,  16,    20,      -20,    31,
                          100,  -100, 126,  127, 128, 129, 130,  149,  150,  151,  -126,  -127,    -149,   -150,
                          -164, -165, -166, 199, 200, 201, -199, -200, -201, 1000, -1000, INT_MAX, INT_MIN};
    for (int mode : {0, 1, 2, -1}) {
        for (int sf : scales) {
            auto gen = [sf](Rng& r, int i) { return std::pair{mixed_32f(r, i, sf), Zuf16s{}}; };
            checkasm<Zuf32f, Zuf16s, Zuf16s>(
                5, gen,
                [=](const Zuf32f* s, const Zuf16s*, Zuf16s* d, int n) {
                    return zufsConvert_32f16s_Sfs(s, d, n, mode, sf);
                },
                [=](const Zuf32f* s, const Zuf16s*, Zuf16s* d, int n) {
                    zuf::ownsConvert_32f16s_Sfs_ref(s, d, n, mode,
                                                    std::clamp(sf, -zuf::kF2SScaleLimit, zuf::kF2SScaleLimit));
                },
                [=](Zuf32f x, Zuf16s) { return model_32f16s(x, sf, mode != 0); });
        }
    }
}

// The remaining argument checks in their documented order (null before size); nothing is written.
TEST(VectorConvert, ArgumentChecks) {
    Zuf32s s32[3] = {1, 2, 3};
    Zuf16s s16[2] = {7, 7};
    Zuf32f f32 = 9;
    Zuf8u b[2] = {4, 4};
    zuft::expect_status(zufErrNullPtr,
                        {zufsSet_32s(9, nullptr, -1), zufsMove_8u(b, nullptr, 0), zufsConvert_16s32f(nullptr, &f32, 0),
                         zufsConvert_32s16s_Sfs(nullptr, s16, 0, 0), zufsConvert_32s16s_Sfs(s32, nullptr, 2, 0),
                         zufsConvert_32f16s_Sfs(nullptr, s16, -1, 0, 0)});
    zuft::expect_status(zufErrSize,
                        {zufsSet_32s(9, s32, 0), zufsMove_8u(b, b, -1), zufsConvert_16s32f(s16, &f32, 0),
                         zufsConvert_32s16s_Sfs(s32, s16, 0, 0), zufsConvert_32f16s_Sfs(&f32, s16, 0, 0, 0)});
    EXPECT_TRUE(s32[0] == 1 && s16[0] == 7 && f32 == 9.0f && b[0] == 4);
}

}  // namespace
