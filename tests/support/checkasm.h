// The checkasm-style harness of the vector-kernel tests: every exported kernel beside its scalar
// reference and an independent model, on random data, at every length step and placement.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <tuple>
#include <type_traits>
#include <vector>

#include "support/test_util.h"

namespace zuft {

inline float f_of(uint32_t bits) {
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
}

// Equal bit for bit, or both a NaN (a model in double need not reproduce a NaN's payload).
template <class T>
bool same_bits(const T& a, const T& b) {
    if constexpr (std::is_floating_point_v<T>)
        if (a != a && b != b) return true;
    return std::memcmp(&a, &b, sizeof(T)) == 0;
}

// Argument checks: every call of the list (evaluated in order) returns `status`; a failure names its index.
inline void expect_status(int status, std::initializer_list<int> calls) {
    for (std::size_t k = 0; k < calls.size(); ++k) EXPECT_EQ(calls.begin()[k], status) << "call " << k;
}

// Random bytes as a T.
template <class T>
T random_bits(Rng& rng) {
    T t;
    for (std::size_t k = 0; k < sizeof(T); k += 4) {
        const uint32_t r = rng.u32();
        std::memcpy(reinterpret_cast<char*>(&t) + k, &r, sizeof(T) - k < 4 ? sizeof(T) - k : 4);
    }
    return t;
}

// Short lengths around the 4/8/16-wide steps and their tails, and a few long ones.
inline const std::vector<int> kLens = {1,  2,  3,  4,  5,  6,  7,  8,  9,  12, 15, 16,
                                       17, 23, 31, 32, 33, 47, 63, 64, 65, 70, 257};

// The checkasm harness for vector kernels. For every length of kLens and six placements (all
// aligned, each array alone off its 16-byte alignment, all off by different amounts), random
// inputs a[i], b[i] from gen(rng, i) in guarded buffers, then
//   fn(a, b, out, len)   the exported kernel, which must return `status`,
//   ref(a, b, out, len)  its scalar reference (nullptr: none), into a second buffer,
// and every out[i] must be model(a[i], b[i]) bit for bit, the reference equal to the kernel, and
// nothing outside the outputs written. When B is Out the outputs start as b (in-place kernels
// work on them), otherwise as 0x5A bytes.
template <class A, class B, class Out, class Gen, class Fn, class Ref, class Model>
void checkasm(uint32_t seed, Gen gen, Fn fn, Ref ref, Model model, int status = 0) {
    static const int kPlace[6][3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 2, 3}, {3, 3, 3}};
    Rng rng(seed);
    for (int len : kLens) {
        for (const auto& pl : kPlace) {
            Placed<A> a(len, pl[0] * sizeof(A) % 16);
            Placed<B> b(len, pl[1] * sizeof(B) % 16);
            Placed<Out> out(len, pl[2] * sizeof(Out) % 16), want(len, 0);
            for (int i = 0; i < len; ++i) std::tie(a[i], b[i]) = gen(rng, i);
            for (int i = 0; i < len * static_cast<int>(sizeof(Out)); ++i)
                reinterpret_cast<uint8_t*>(out.data())[i] = reinterpret_cast<uint8_t*>(want.data())[i] = 0x5A;
            if constexpr (std::is_same_v<B, Out>) out.assign(b.vec()), want.assign(b.vec());
            ASSERT_EQ(static_cast<int>(fn(a.data(), b.data(), out.data(), len)), status) << "len " << len;
            if constexpr (!std::is_null_pointer_v<Ref>) ref(a.data(), b.data(), want.data(), len);
            for (int i = 0; i < len; ++i) {
                if constexpr (!std::is_null_pointer_v<Model>) {
                    ASSERT_TRUE(same_bits(out[i], static_cast<Out>(model(a[i], b[i])))) << "len " << len << " i " << i;
                }
                if constexpr (!std::is_null_pointer_v<Ref>) {
                    ASSERT_TRUE(same_bits(out[i], want[i])) << "reference, len " << len << " i " << i;
                }
            }
            ASSERT_TRUE(a.guards_intact() && b.guards_intact() && out.guards_intact());
        }
    }
}

}  // namespace zuft
