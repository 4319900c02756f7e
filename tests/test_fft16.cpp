// 16-bit complex FFT: against the ideal transform, rounded and saturated, on both paths (the
// integer kernel of orders 1..3 and the float path), every flag, a range of scale factors;
// context header, checks and allocation.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "support/test_util.h"
#include "test_fft_ref.h"
#include "transforms/fft_internal.h"
#include "zufack9/zufack9.h"

namespace {

using zuft::CLD;
using zuft::LD;

struct Ctx16 {
    std::vector<Zuf8u> ctxMem, initBuf, work;
    FftContext_C_16sc* ctx = nullptr;
    Ctx16(int order, int flag, int hint) {
        int s = 0, i = 0, w = 0;
        EXPECT_EQ(zufsFFTGetSize_C_16sc(order, flag, hint, &s, &i, &w), zufOk);
        ctxMem.resize(s + 5);
        initBuf.resize(i + 5);
        work.resize(w + 37);  // room to align it for the kernels
        EXPECT_EQ(zufsFFTInit_C_16sc(&ctx, order, flag, hint, ctxMem.data() + 5, initBuf.data() + 5), zufOk);
    }
    std::vector<Zuf16sc> run(const std::vector<Zuf16sc>& x, int sf) {
        std::vector<Zuf16sc> y(x.size());
        EXPECT_EQ(zufsFFTFwd_CToC_16sc_Sfs(x.data(), y.data(), ctx, sf, work.data() + 5), zufOk);
        return y;
    }
};

std::vector<Zuf16sc> random16(int64_t n, int amp, uint32_t seed) {
    zuft::Rng rng(seed);
    std::vector<Zuf16sc> v(n);
    for (auto& c : v) c = {static_cast<Zuf16s>(rng.range(-amp, amp)), static_cast<Zuf16s>(rng.range(-amp, amp))};
    return v;
}

LD sat(LD v) { return v > 32767 ? 32767 : (v < -32768 ? -32768 : v); }

// The unscaled DFT of x, all bins.
std::vector<CLD> dft_all(const std::vector<Zuf16sc>& x) {
    const int64_t n = static_cast<int64_t>(x.size());
    const zuft::Roots w(n);
    auto xf = [&](int64_t i) { return CLD(x[i].re, x[i].im); };
    std::vector<CLD> X(n);
    for (int64_t k = 0; k < n; ++k) X[k] = zuft::dft_bin(xf, n, k, -1, w);
    return X;
}

// Largest deviation, in LSBs, from the ideal DFT * g * 2^-sf, saturated: from its rounding, or
// (exact) from the value itself.
LD worst_lsb(const std::vector<CLD>& X, const std::vector<Zuf16sc>& y, LD g, int sf, bool exact) {
    LD worst = 0;
    auto r = [&](LD v) { return sat(exact ? v : std::round(v)); };
    for (size_t k = 0; k < X.size(); ++k) {
        const CLD v = X[k] * g * std::ldexp(1.0L, -sf);
        worst = std::max({worst, std::fabs(r(v.real()) - y[k].re), std::fabs(r(v.imag()) - y[k].im)});
    }
    return worst;
}

LD norm_factor(int flag, int order) {
    const LD n = std::ldexp(1.0L, order);
    return flag == 1 ? 1 / n : flag == 4 ? 1 / std::sqrt(n) : 1;
}

// Orders 1..3 with hints 0 and 1 run the integer kernel, everything else the float path.
TEST(Fft16, BothPathsWithinOneLsbOfTheIdeal) {
    for (int order = 0; order <= 12; ++order)
        for (int quiet = 0; quiet < 2 && order != 11 && !(zuft::kEmulatedTarget && order > 9); ++quiet) {
            const int amp = quiet ? 3000 : order <= 3 ? 32767 : 20000;  // quiet input for left shifts
            const auto x = random16(int64_t{1} << order, amp, 40u + order * 10u + quiet);
            const auto X = dft_all(x);
            const std::vector<int> sfs = quiet ? std::vector<int>{-3, -2, -1} : std::vector<int>{0, 2, 5, order};
            for (int hint : {0, 1, 2})
                for (int flag : {1, 2, 4, 8}) {
                    const bool integer = order >= 1 && order <= 3 && hint < 2;
                    if (!integer && hint < 2) continue;
                    Ctx16 c(order, flag, hint);
                    uint32_t word[8];
                    std::memcpy(word, c.ctx, sizeof(word));
                    EXPECT_EQ(word[7], integer ? 0u : 1u) << "float engine";
                    // The odd-order 1/sqrt 2 of flag 4 is the documented 23170 / 32768 in the integer kernel.
                    LD g = norm_factor(flag, order);
                    if (integer && flag == 4 && (order & 1)) g = 23170.0L / 32768.0L / std::ldexp(1.0L, order / 2);
                    // Without rotations (orders 1 and 2) and the truncated 1/sqrt 2 the integer kernel is
                    // exact up to its final rounding: within half an LSB of the ideal (and the reference's error).
                    const bool exact = integer && order < 3 && !(flag == 4 && (order & 1));
                    for (int sf : sfs) {
                        EXPECT_LE(worst_lsb(X, c.run(x, sf), g, sf, exact), exact ? 0.5L + 1e-9L : 1.0L)
                            << order << " " << flag << " " << sf;
                        if (integer || flag != 4) continue;
                        // The SSE conversions equal the scalar reference bit for bit, saturation and ties included.
                        std::vector<Zuf16sc> a(x.size()), b(x.size());
                        uint8_t* wa = c.work.data() + 32 - reinterpret_cast<uintptr_t>(c.work.data()) % 32;
                        zuf::xf::ownsFFT_C_16sc(c.ctx, x.data(), a.data(), sf, wa);
                        zuf::xf::ownsFFT_C_16sc_ref(c.ctx, x.data(), b.data(), sf, wa);
                        EXPECT_EQ(std::memcmp(a.data(), b.data(), 4 * x.size()), 0) << order << " " << sf;
                    }
                    for (const auto& v : c.run(x, -60))  // a left shift of 32 or more gives 0
                        if (integer && quiet && (v.re | v.im)) ADD_FAILURE() << "order " << order;
                }
        }
}

TEST(Fft16, ChecksContextsAndAllocation) {
    int s, i, w;
    EXPECT_EQ(zufsFFTGetSize_C_16sc(31, 1, 0, &s, &i, &w), zufErrFftOrder);
    EXPECT_EQ(zufsFFTGetSize_C_16sc(3, 1, 0, nullptr, &i, &w), zufErrNullPtr);
    EXPECT_EQ(zufsFFTGetSize_C_16sc(3, 3, 0, &s, &i, &w), zufErrFftFlag);
    std::vector<Zuf8u> mem(1 << 16);
    FftContext_C_16sc* ctx = nullptr;
    EXPECT_EQ(zufsFFTInit_C_16sc(&ctx, 1, 1, 0, mem.data(), nullptr), zufErrNullPtr);  // order >= 1 needs it
    EXPECT_EQ(zufsFFTInit_C_16sc(&ctx, 31, 1, 0, mem.data(), mem.data()), zufErrFftOrder);
    EXPECT_EQ(zufsFFTInit_C_16sc(&ctx, 0, 1, 0, mem.data() + 1, nullptr), zufOk);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(ctx) % 32, 0u);

    // A context of another family is refused.
    Ctx16 c(6, 8, 0);
    std::vector<Zuf16sc> x(64), y(64);
    FftContext_C_32fc* fc = nullptr;
    ASSERT_EQ(zufsFFTInitAlloc_C_32fc(&fc, 6, 8, 0), zufOk);
    EXPECT_EQ(zufsFFTFwd_CToC_16sc_Sfs(x.data(), y.data(), reinterpret_cast<FftContext_C_16sc*>(fc), 0, nullptr),
              zufErrContext);
    EXPECT_EQ(zufsFFTFree_C_16sc(reinterpret_cast<FftContext_C_16sc*>(fc)), zufErrContext);
    EXPECT_EQ(zufsFFTFree_C_32fc(fc), zufOk);
    EXPECT_EQ(zufsFFTFwd_CToC_16sc_Sfs(nullptr, y.data(), c.ctx, 0, nullptr), zufErrNullPtr);
    int size = 0;
    ASSERT_EQ(zufsFFTGetBufSize_C_16sc(c.ctx, &size), zufOk);
    EXPECT_GE(size, 64 * 8);

    // InitAlloc, a transform that allocates its own work buffer, Free.
    FftContext_C_16sc* a = nullptr;
    ASSERT_EQ(zufsFFTInitAlloc_C_16sc(&a, 6, 8, 0), zufOk);
    x = random16(64, 1000, 5);
    ASSERT_EQ(zufsFFTFwd_CToC_16sc_Sfs(x.data(), y.data(), a, 6, nullptr), zufOk);
    EXPECT_EQ(std::memcmp(y.data(), c.run(x, 6).data(), 4 * 64), 0);
    EXPECT_EQ(zufsFFTFree_C_16sc(a), zufOk);
    EXPECT_EQ(zufsFFTInitAlloc_C_16sc(&a, 5, 7, 0), zufErrFftFlag);
}

// Orders 1 and 2 have twiddles of +-1 and +-i only, so the integer kernel's exact result is the
// integer DFT times 2^-(shift): its documented rounding, halves upward, is floor(v + 1/2) exactly.
TEST(Fft16, IntegerKernelRoundsHalvesUpward) {
    for (int order = 1; order <= 2; ++order)
        for (int flag : {1, 8}) {
            Ctx16 c(order, flag, 0);
            for (int sf = 1; sf <= 3; ++sf)
                for (uint32_t seed = 0; seed < 20; ++seed) {
                    const auto x = random16(int64_t{1} << order, 1000, 700u + seed);
                    const auto X = dft_all(x);
                    const auto y = c.run(x, sf);
                    const LD g = std::ldexp(flag == 1 ? std::ldexp(1.0L, -order) : 1.0L, -sf);
                    for (size_t k = 0; k < X.size(); ++k) {
                        // The bins are integers; std::round drops the reference roots' last-bit error.
                        const LD re = std::round(X[k].real()) * g, im = std::round(X[k].imag()) * g;
                        EXPECT_EQ(y[k].re, sat(std::floor(re + 0.5L))) << order << " " << flag << " " << k;
                        EXPECT_EQ(y[k].im, sat(std::floor(im + 0.5L))) << order << " " << flag << " " << k;
                    }
                }
        }
}

}  // namespace
