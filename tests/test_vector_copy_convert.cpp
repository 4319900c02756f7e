// Fill, copy and move; the three conversions with their rounding and saturation rules.
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

using zuft::Placed;
using zuft::Rng;

// ---------------------------------------------------------------- fill, copy, move

template <class T>
void check_zero(zufResult (*fn)(T*, int)) {
    for (int len : vt::kLens) {
        Placed<T> d(len, 4);
        for (int i = 0; i < len * static_cast<int>(sizeof(T)); ++i) reinterpret_cast<uint8_t*>(d.data())[i] = 0x5A;
        ASSERT_EQ(fn(d.data(), len), zufOk);
        for (int i = 0; i < len * static_cast<int>(sizeof(T)); ++i)
            ASSERT_EQ(reinterpret_cast<const uint8_t*>(d.data())[i], 0) << "len " << len;
        EXPECT_TRUE(d.guards_intact());
    }
    Placed<T> d(4, 0);
    EXPECT_EQ(fn(nullptr, 0), zufErrNullPtr);  // null before size
    EXPECT_EQ(fn(d.data(), 0), zufErrSize);
    EXPECT_EQ(fn(d.data(), -3), zufErrSize);
}

TEST(VectorFill, ZeroEveryType) {
    check_zero(zufsZero_8u);
    check_zero(zufsZero_16s);
    check_zero(zufsZero_16sc);
    check_zero(zufsZero_32s);
    check_zero(zufsZero_32sc);
    check_zero(zufsZero_32f);
    check_zero(zufsZero_32fc);
}

TEST(VectorFill, SetAndStatuses) {
    for (int len : vt::kLens) {
        for (std::size_t mis : vt::kMis32) {
            Placed<Zuf32s> d(len, mis);
            ASSERT_EQ(zufsSet_32s(INT32_MIN + 7, d.data(), len), zufOk);
            for (int i = 0; i < len; ++i) ASSERT_EQ(d[i], INT32_MIN + 7);
            EXPECT_TRUE(d.guards_intact());
        }
    }
    Placed<Zuf32s> d(3, 0);
    d.assign({1, 2, 3});
    EXPECT_EQ(zufsSet_32s(9, nullptr, -1), zufErrNullPtr);
    EXPECT_EQ(zufsSet_32s(9, d.data(), 0), zufErrSize);
    EXPECT_EQ(d.vec(), (std::vector<Zuf32s>{1, 2, 3}));
}

template <class T>
void check_copy(zufResult (*fn)(const T*, T*, int)) {
    Rng rng(2);
    for (int len : vt::kLens) {
        Placed<T> s(len, 0), d(len, sizeof(T) == 1 ? 3 : 4);
        std::vector<T> v(len);
        for (auto& x : v) {
            const uint32_t r = rng.u32();
            std::memcpy(&x, &r, sizeof(T));
        }
        s.assign(v);
        ASSERT_EQ(fn(s.data(), d.data(), len), zufOk);
        EXPECT_EQ(std::memcmp(d.data(), v.data(), len * sizeof(T)), 0);
        EXPECT_TRUE(d.guards_intact());
    }
    Placed<T> s(2, 0), d(2, 0);
    EXPECT_EQ(fn(nullptr, d.data(), 0), zufErrNullPtr);
    EXPECT_EQ(fn(s.data(), nullptr, 5), zufErrNullPtr);
    EXPECT_EQ(fn(s.data(), d.data(), 0), zufErrSize);
}

TEST(VectorFill, CopyEveryType) {
    check_copy(zufsCopy_8u);
    check_copy(zufsCopy_32s);
    check_copy(zufsCopy_32f);
}

// Move must behave as if through a temporary buffer, whichever way the overlap goes.
TEST(VectorFill, MoveOverlapsBothWays) {
    for (int len : {1, 5, 16, 33, 100}) {
        for (int shift : {-7, -1, 0, 1, 3, 16}) {
            Placed<Zuf8u> buf(len + 32, 0);
            std::vector<Zuf8u> init(len + 32);
            for (int i = 0; i < len + 32; ++i) init[i] = static_cast<Zuf8u>(i * 7 + 1);
            buf.assign(init);
            const int from = 8, to = 8 + shift;
            std::vector<Zuf8u> want = init;
            std::vector<Zuf8u> tmp(init.begin() + from, init.begin() + from + len);
            std::copy(tmp.begin(), tmp.end(), want.begin() + to);
            ASSERT_EQ(zufsMove_8u(buf.data() + from, buf.data() + to, len), zufOk);
            EXPECT_EQ(buf.vec(), want) << "len " << len << " shift " << shift;
        }
    }
    Zuf8u b[2] = {};
    EXPECT_EQ(zufsMove_8u(b, nullptr, 0), zufErrNullPtr);
    EXPECT_EQ(zufsMove_8u(b, b, -1), zufErrSize);
}

// ---------------------------------------------------------------- 16-bit to float

TEST(VectorConvert, S16ToFloatExact) {
    Rng rng(3);
    for (int len : vt::kLens) {
        for (std::size_t ms : vt::kMis16) {
            for (std::size_t md : vt::kMis32) {
                Placed<Zuf16s> s(len, ms);
                Placed<Zuf32f> d(len, md), r(len, 0);
                for (int i = 0; i < len; ++i)
                    s[i] = static_cast<Zuf16s>(i % 3 == 0 ? (i & 1 ? INT16_MIN : INT16_MAX) : rng.s32());
                ASSERT_EQ(zufsConvert_16s32f(s.data(), d.data(), len), zufOk);
                zuf::ownsConvert_16s32f_ref(s.data(), r.data(), len);
                for (int i = 0; i < len; ++i) {
                    ASSERT_EQ(static_cast<long>(d[i]), s[i]);  // exact: every int16 is a float
                    ASSERT_EQ(zuft::bits_of(d[i]), zuft::bits_of(r[i]));
                }
                ASSERT_TRUE(d.guards_intact());
            }
        }
    }
    Zuf16s s = 1;
    Zuf32f d = 0;
    EXPECT_EQ(zufsConvert_16s32f(nullptr, &d, 0), zufErrNullPtr);
    EXPECT_EQ(zufsConvert_16s32f(&s, &d, 0), zufErrSize);
    EXPECT_EQ(d, 0.0f);
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
        if (r < 0) {
            q -= 1;
            r += d;
        }
        if (2 * r > d || (2 * r == d && (q & 1))) q += 1;
        v = static_cast<long double>(q);
    } else {
        v = std::ldexp(static_cast<long double>(x), -s);
    }
    return static_cast<Zuf16s>(std::clamp<long double>(v, -32768.0L, 32767.0L));
}

std::vector<Zuf32s> mixed_32s(Rng& rng, int len, int s) {
    std::vector<Zuf32s> v(len);
    const int sc = std::clamp(s, 1, 31);
    for (int i = 0; i < len; ++i) {
        switch (i % 6) {
            case 0:
                v[i] = rng.s32();
                break;
            case 1:
                v[i] = rng.range(-70000, 70000);
                break;
            case 2:  // a tie at this scale: odd multiple of 2^(s-1)
                v[i] = static_cast<Zuf32s>(static_cast<uint32_t>(rng.range(-1000, 1000) * 2 + 1) << (sc - 1));
                break;
            case 3:
                v[i] = (i & 8) ? INT32_MIN : INT32_MAX;
                break;
            case 4:
                v[i] = rng.range(-40, 40);
                break;
            default:
                v[i] = rng.s32() >> rng.range(0, 31);
                break;
        }
    }
    return v;
}

TEST(VectorConvert, S32ToS16AgainstModel) {
    Rng rng(4);
    std::vector<int> scales;
    for (int s = -20; s <= 40; ++s) scales.push_back(s);
    scales.insert(scales.end(), {INT_MIN, INT_MAX, -1000, 1000});
    for (int sf : scales) {
        for (int len : vt::kLens) {
            const std::size_t ms = vt::kMis32[len % 4], md = vt::kMis16[len % 6];
            Placed<Zuf32s> s(len, ms);
            Placed<Zuf16s> d(len, md), r(len, 0);
            s.assign(mixed_32s(rng, len, sf));
            ASSERT_EQ(zufsConvert_32s16s_Sfs(s.data(), d.data(), len, sf), zufOk);
            zuf::ownsConvert_32s16s_Sfs_ref(s.data(), r.data(), len, std::clamp(sf, -15, 31));
            for (int i = 0; i < len; ++i) {
                ASSERT_EQ(d[i], model_32s16s(s[i], sf)) << "x " << s[i] << " sf " << sf;
                ASSERT_EQ(r[i], d[i]);
            }
            ASSERT_TRUE(d.guards_intact());
        }
    }
}

TEST(VectorConvert, S32ToS16EdgeCases) {
    auto one = [](Zuf32s x, int sf) {
        Zuf32s src[9];
        Zuf16s dst[9];
        for (auto& v : src) v = x;  // nine: the eight-wide kernel and the tail both see it
        EXPECT_EQ(zufsConvert_32s16s_Sfs(src, dst, 9, sf), zufOk);
        EXPECT_EQ(dst[0], dst[8]);
        return dst[0];
    };
    EXPECT_EQ(one(3, 1), 2);
    EXPECT_EQ(one(5, 1), 2);
    EXPECT_EQ(one(-3, 1), -2);
    EXPECT_EQ(one(-5, 1), -2);
    EXPECT_EQ(one(0x7FFFFFFF, 1), 32767);
    EXPECT_EQ(one(0x7FFFFFFF, 31), 1);
    EXPECT_EQ(one(INT32_MIN, 31), -1);
    EXPECT_EQ(one(1 << 30, 31), 0);  // exactly one half: ties to even 0
    EXPECT_EQ(one((1 << 30) + 1, 31), 1);
    EXPECT_EQ(one(-(1 << 30), 31), 0);
    EXPECT_EQ(one(0x7FFFFFFF, 40), one(0x7FFFFFFF, 31));  // 40 clamps to 31
    EXPECT_EQ(one(3 << 29, 40), 1);                       // 0.75 -> 1
    EXPECT_EQ(one(3 << 28, 40), 0);                       // 0.375 -> 0
    EXPECT_EQ(one(1, -20), 32767);                        // -20 clamps to -15: 2^15 saturates
    EXPECT_EQ(one(-1, -20), -32768);
    EXPECT_EQ(one(1, -14), 16384);
    EXPECT_EQ(one(40000, 0), 32767);
    EXPECT_EQ(one(-40000, 0), -32768);
    EXPECT_EQ(one(-32768, 0), -32768);

    Zuf32s s[2] = {1, 2};
    Zuf16s d[2] = {7, 7};
    EXPECT_EQ(zufsConvert_32s16s_Sfs(nullptr, d, 0, 0), zufErrNullPtr);
    EXPECT_EQ(zufsConvert_32s16s_Sfs(s, nullptr, 2, 0), zufErrNullPtr);
    EXPECT_EQ(zufsConvert_32s16s_Sfs(s, d, 0, 0), zufErrSize);
    EXPECT_EQ(d[0], 7);
}

// ---------------------------------------------------------------- float to 16-bit

// x * 2^-s exactly (long double holds any float times any power of two in range), then the
// rounding by comparison with the floor, then saturation; NaN gives 0.
Zuf16s model_32f16s(float x, int sf, bool nearest) {
    if (std::isnan(x)) return 0;
    if (std::isinf(x)) return x > 0 ? 32767 : -32768;
    const long double v = std::ldexp(static_cast<long double>(x), -std::clamp(sf, -4000, 4000));
    long double r;
    if (!nearest) {
        r = std::trunc(v);
    } else {
        const long double fl = std::floor(v), frac = v - fl;
        r = frac > 0.5L ? fl + 1 : (frac < 0.5L ? fl : (std::fmod(fl, 2.0L) == 0 ? fl : fl + 1));
    }
    return static_cast<Zuf16s>(std::clamp(r, -32768.0L, 32767.0L));
}

std::vector<float> mixed_32f(Rng& rng, int len, int sf) {
    const float inf = std::numeric_limits<float>::infinity();
    const float special[] = {0.0f,     -0.0f,   inf,     -inf,     std::numeric_limits<float>::quiet_NaN(),
                             1e-45f,   -1e-45f, 3.4e38f, -3.4e38f, 0.5f,
                             -0.5f,    1.5f,    -2.5f,   32767.5f, -32768.5f,
                             32766.5f, 65535.0f};
    std::vector<float> v(len);
    const float unit = std::ldexp(1.0f, std::clamp(sf, -120, 120));  // values that land near the 16-bit range
    for (int i = 0; i < len; ++i) {
        switch (i % 5) {
            case 0:
                v[i] = special[rng.range(0, 16)];
                break;
            case 1:
                v[i] = rng.uniform(-40000.0f, 40000.0f) * unit;
                break;
            case 2:
                v[i] = (static_cast<float>(rng.range(-400, 400)) + 0.5f) * unit;
                break;  // ties
            case 3:
                v[i] = static_cast<float>(rng.range(-300, 300)) * 0.25f * unit;
                break;
            default:
                v[i] = vt::f_of(rng.u32());
                break;  // any bit pattern
        }
    }
    return v;
}

TEST(VectorConvert, FloatToS16AgainstModel) {
    Rng rng(5);
    const int scales[] = {0,    1,    -1,   2,   -2,  3,   7,    -7,   15,   -15,  16,    20,      -20,    31,
                          100,  -100, 126,  127, 128, 129, 130,  149,  150,  151,  -126,  -127,    -149,   -150,
                          -164, -165, -166, 199, 200, 201, -199, -200, -201, 1000, -1000, INT_MAX, INT_MIN};
    for (int mode : {0, 1, 2, -1}) {
        for (int sf : scales) {
            for (int len : vt::kLens) {
                Placed<Zuf32f> s(len, vt::kMis32[(len + 1) % 4]);
                Placed<Zuf16s> d(len, vt::kMis16[len % 6]), r(len, 0);
                s.assign(mixed_32f(rng, len, sf));
                ASSERT_EQ(zufsConvert_32f16s_Sfs(s.data(), d.data(), len, mode, sf), zufOk);
                zuf::ownsConvert_32f16s_Sfs_ref(s.data(), r.data(), len, mode,
                                                std::clamp(sf, -zuf::kF2SScaleLimit, zuf::kF2SScaleLimit));
                for (int i = 0; i < len; ++i) {
                    ASSERT_EQ(d[i], model_32f16s(s[i], sf, mode != 0))
                        << "x " << s[i] << " sf " << sf << " mode " << mode;
                    ASSERT_EQ(r[i], d[i]);
                }
                ASSERT_TRUE(d.guards_intact());
            }
        }
    }
}

TEST(VectorConvert, FloatToS16Rounding) {
    const float in[8] = {2.5f, 3.5f, -2.5f, -3.5f, 2.4999998f, -0.5f, 40000.0f, std::nanf("")};
    const Zuf16s trunc[8] = {2, 3, -2, -3, 2, 0, 32767, 0};
    const Zuf16s near[8] = {2, 4, -2, -4, 2, 0, 32767, 0};
    Zuf16s out[8];
    ASSERT_EQ(zufsConvert_32f16s_Sfs(in, out, 8, 0, 0), zufOk);
    EXPECT_TRUE(std::equal(out, out + 8, trunc));
    ASSERT_EQ(zufsConvert_32f16s_Sfs(in, out, 8, 1, 0), zufOk);
    EXPECT_TRUE(std::equal(out, out + 8, near));
    ASSERT_EQ(zufsConvert_32f16s_Sfs(in, out, 8, 1, -1), zufOk);  // doubled first: 5 -> 5
    EXPECT_EQ(out[0], 5);
    ASSERT_EQ(zufsConvert_32f16s_Sfs(in, out, 8, 1, 2), zufOk);  // quartered: 0.625 -> 1, 0.875 -> 1
    EXPECT_EQ(out[0], 1);
    EXPECT_EQ(out[1], 1);

    Zuf16s d = 9;
    EXPECT_EQ(zufsConvert_32f16s_Sfs(nullptr, &d, -1, 0, 0), zufErrNullPtr);
    EXPECT_EQ(zufsConvert_32f16s_Sfs(in, &d, 0, 0, 0), zufErrSize);
    EXPECT_EQ(d, 9);
}

}  // namespace
