// Independent references for the transform tests: the defining sums evaluated directly in long
// double, with e^(-2 pi i j / P) from a two-level long-double table (exact index reduction, so no
// argument error grows with j), the relative RMS error measure, random data and counting
// allocator hooks.
#pragma once

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

#include "zufack9/zufack9.h"

namespace zuft {

using LD = long double;
using CLD = std::complex<LD>;

constexpr LD kTwoPiL = 6.283185307179586476925286766559005768L;

// 32-bit tests run under user-mode emulation on this project's machines, where long double is
// slow: they evaluate fewer reference outputs.
#if defined(__i386__)
constexpr bool kEmulatedTarget = true;
#else
constexpr bool kEmulatedTarget = false;
#endif

// e^(-2 pi i j / P) for any integer j, P > 0: hi[j / h] lo[j % h], h^2 >= P.
class Roots {
  public:
    explicit Roots(int64_t period) : p_(period) {
        while (h_ * h_ < p_) h_ *= 2;
        for (int64_t j = 0; j < h_; ++j) lo_.push_back(root(j));
        for (int64_t j = 0; j < p_; j += h_) hi_.push_back(root(j));
    }
    CLD operator()(int64_t j) const {
        j = (j % p_ + p_) % p_;
        return hi_[static_cast<size_t>(j / h_)] * lo_[static_cast<size_t>(j % h_)];
    }

  private:
    CLD root(int64_t j) const { return std::polar(1.0L, -kTwoPiL * static_cast<LD>(j) / static_cast<LD>(p_)); }
    int64_t p_, h_ = 1;
    std::vector<CLD> lo_, hi_;
};

// Relative RMS error accumulated over any set of outputs.
struct RelErr {
    LD err = 0, ref = 0;
    void add(CLD got, CLD want) { err += std::norm(got - want), ref += std::norm(want); }
    double value() const { return static_cast<double>(std::sqrt(ref > 0 ? err / ref : err)); }
};

// Bin k of sum_n x[n] e^(-+2 pi i n k / N) (sign -1 forward, +1 inverse), x complex.
template <class X>
CLD dft_bin(const X& x, int64_t n, int64_t k, int sign, const Roots& w) {
    CLD s = 0;
    for (int64_t i = 0; i < n; ++i) s += x(i) * w(sign < 0 ? i * k % n : -(i * k % n));
    return s;
}

// The outputs whose reference is evaluated: all of them up to `all`, else a spread sample that
// includes both ends and the middle.
inline std::vector<int64_t> sample_bins(int64_t n, int64_t all = 1024, int count = 48) {
    if (kEmulatedTarget) all = std::min<int64_t>(all, 256), count = std::min(count, 8);
    std::vector<int64_t> b;
    for (int64_t k = 0; n <= all && k < n; ++k) b.push_back(k);
    if (n <= all) return b;
    b = {0, 1, n / 2 - 1, n / 2, n / 2 + 1, n - 1};
    uint64_t s = 0x9E3779B97F4A7C15ull ^ static_cast<uint64_t>(n);
    for (int i = 0; i < count; ++i) {
        s = s * 6364136223846793005ull + 1442695040888963407ull;
        b.push_back(static_cast<int64_t>((s >> 17) % static_cast<uint64_t>(n)));
    }
    return b;
}

// The accuracy bound of the float transforms: 2e-7 per doubling of the length.
inline double accuracy_bound(int64_t n) {
    const double l = std::log2(static_cast<double>(n));
    return 2e-7 * (l < 1 ? 1 : l);
}

inline std::vector<float> random_floats(size_t n, uint32_t seed) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<float> d(-1.0f, 1.0f);
    std::vector<float> v(n);
    for (auto& x : v) x = d(gen);
    return v;
}

// Allocator hooks that count calls and can refuse, installed for the guard's lifetime.
struct HookGuard {
    static inline int mallocs = 0, frees = 0;
    static inline bool fail = false;
    void* (*m)(size_t) = i_malloc;
    void (*f)(void*) = i_free;
    HookGuard() {
        mallocs = frees = 0;
        fail = false;
        i_malloc = [](size_t n) { return ++mallocs, fail ? nullptr : std::malloc(n); };
        i_free = [](void* p) { ++frees, std::free(p); };
    }
    ~HookGuard() { i_malloc = m, i_free = f; }
};

}  // namespace zuft
