// MDCT: float forward and inverse for 12, 36 and powers of two against the long-double defining
// sums, in-place forms; the 16-bit forward transform against the ideal rounded result; sizes,
// checks and contexts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "support/test_util.h"
#include "test_fft_ref.h"
#include "zufack9/zufack9.h"

namespace {

using zuft::LD;

// A context from InitAlloc; the transforms allocate their own work buffers.
template <bool kInverse>
struct Mdct {
    std::conditional_t<kInverse, MdctInvContext_32f, MdctFwdContext_32f>* ctx = nullptr;
    explicit Mdct(int n) {
        if constexpr (kInverse)
            EXPECT_EQ(zufsMDCTInvInitAlloc_32f(&ctx, n), zufOk);
        else
            EXPECT_EQ(zufsMDCTFwdInitAlloc_32f(&ctx, n), zufOk);
    }
    ~Mdct() {
        if constexpr (kInverse)
            zufsMDCTInvFree_32f(ctx);
        else
            zufsMDCTFwdFree_32f(ctx);
    }
    std::vector<float> run(const std::vector<float>& x) {
        std::vector<float> y(kInverse ? 2 * x.size() : x.size() / 2);
        if constexpr (kInverse)
            EXPECT_EQ(zufsMDCTInv_32f(x.data(), y.data(), ctx, nullptr), zufOk);
        else
            EXPECT_EQ(zufsMDCTFwd_32f(x.data(), y.data(), ctx, nullptr), zufOk);
        return y;
    }
};

// cos(2 pi / N (n + n0)(k + 1/2)) = cos(2 pi (2n + N/2 + 1)(2k + 1) / 4N).
LD kernel(const zuft::Roots& w, int64_t n, int64_t N, int64_t k) { return w((2 * n + N / 2 + 1) * (2 * k + 1)).real(); }

// Relative RMS error of the forward transform (X[k] = 2 sum_n x[n] cos) or of the inverse
// (y[n] = 2 / N sum_k X[k] cos) at sampled outputs.
double mdct_error(const std::vector<float>& in, const std::vector<float>& out, bool inverse) {
    const int64_t N = static_cast<int64_t>(inverse ? out.size() : in.size());
    const zuft::Roots w(4 * N);
    zuft::RelErr e;
    for (int64_t a : zuft::sample_bins(static_cast<int64_t>(out.size()), 1024, 48)) {
        LD s = 0;
        for (int64_t b = 0; b < static_cast<int64_t>(in.size()); ++b)
            s += in[b] * (inverse ? kernel(w, a, N, b) : kernel(w, b, N, a));
        e.add(static_cast<LD>(out[a]), 2 * s / static_cast<LD>(inverse ? N : 1));
    }
    return e.value();
}

// The special lengths 12 and 36, and powers of two on each side of the FFT's path boundaries.
TEST(Mdct, FloatMatchesTheDefiningSumsInBothDirections) {
    for (int n : {12, 36, 32, 64, 128, 1024, 8192, 65536}) {
        Mdct<false> f(n);
        Mdct<true> inv(n);
        const auto x = zuft::random_floats(n, 21u + n), c = zuft::random_floats(n / 2, 22u + n);
        const auto X = f.run(x), y = inv.run(c);
        EXPECT_LE(mdct_error(x, X, false), zuft::accuracy_bound(n)) << "forward N = " << n;
        EXPECT_LE(mdct_error(c, y, true), zuft::accuracy_bound(n)) << "inverse N = " << n;
        // The in-place forms give the same bits.
        std::vector<float> io = x;
        ASSERT_EQ(zufsMDCTFwd_32f_I(io.data(), f.ctx, nullptr), zufOk);
        EXPECT_EQ(std::memcmp(io.data(), X.data(), 4 * (n / 2)), 0) << n;
        io.assign(c.begin(), c.end());
        io.resize(n);
        ASSERT_EQ(zufsMDCTInv_32f_I(io.data(), inv.ctx, nullptr), zufOk);
        EXPECT_EQ(std::memcmp(io.data(), y.data(), 4 * n), 0) << n;
    }
}

TEST(Mdct, SizesChecksAndContexts) {
    int s = 0, i = 0, w = 0;
    EXPECT_EQ(zufsMDCTFwdGetSize_32f(16, nullptr, &i, &w), zufErrNullPtr);  // pointers first
    for (int bad : {16, 24, 0, 48}) {
        EXPECT_EQ(zufsMDCTFwdGetSize_32f(bad, &s, &i, &w), zufErrSize) << bad;
        EXPECT_EQ(zufsMDCTInvGetSize_32f(bad, &s, &i, &w), zufErrSize) << bad;
        EXPECT_EQ(zufsMDCTFwdGetSize_16s(bad, &s, &i, &w), zufErrSize) << bad;
    }
    EXPECT_EQ(zufsMDCTFwdGetSize_16s(12, &s, &i, &w), zufErrSize);  // powers of two only
    // 12 and 36 need no init buffer; powers of two take their FFT's, and work for both.
    for (int n : {12, 36, 32, 1024, 32768}) {
        int fs = 0, fi = 0, fw = -32, order = 0;
        while ((4 << order) < n) ++order;
        if (n % 3 && zufsFFTGetSize_C_32fc(order, 8, 0, &fs, &fi, &fw) != zufOk) FAIL();
        ASSERT_EQ(zufsMDCTInvGetSize_32f(n, &s, &i, &w), zufOk);
        EXPECT_EQ(i, fi);
        EXPECT_EQ(w, fw + 32 + 4 * n + 64);
        EXPECT_EQ(s, (n % 3 ? fs + 32 : 0) + 2 * n + 92 + (sizeof(void*) == 4 ? 0 : 32)) << n;  // as documented
    }
    std::vector<Zuf8u> mem(1 << 20);
    MdctFwdContext_32f* fc = nullptr;
    MdctInvContext_32f* ic = nullptr;
    MdctFwdContext_16s* c16 = nullptr;
    // Init: the float families test N first, then the pointers, pMemInit for every power of two
    // (also where the FFT needs no init buffer); the 16-bit family its pointers first, pMemInit
    // among them, then N.
    Zuf8u* const m = mem.data();
    const struct {
        bool ctx;
        int n;
        Zuf8u *mctx, *minit;
        zufResult f32, i16;
    } inits[] = {
        {false, 24, nullptr, nullptr, zufErrSize, zufErrNullPtr},
        {true, 24, m, m, zufErrSize, zufErrSize},
        {true, 24, m, nullptr, zufErrSize, zufErrNullPtr},
        {true, 36, m, nullptr, zufOk, zufErrNullPtr},
        {true, 36, m, m, zufOk, zufErrSize},
        {false, 32, m, m, zufErrNullPtr, zufErrNullPtr},
        {true, 32, m, nullptr, zufErrNullPtr, zufErrNullPtr},
        {true, 4096, m, nullptr, zufErrNullPtr, zufErrNullPtr},
        {true, 32768, m, nullptr, zufErrNullPtr, zufErrNullPtr},
        {true, 64, nullptr, m, zufErrNullPtr, zufErrNullPtr},
        {true, 64, m, m, zufOk, zufOk},
    };
    for (const auto& c : inits) {
        EXPECT_EQ(zufsMDCTFwdInit_32f(c.ctx ? &fc : nullptr, c.n, c.mctx, c.minit), c.f32) << c.n;
        EXPECT_EQ(zufsMDCTInvInit_32f(c.ctx ? &ic : nullptr, c.n, c.mctx, c.minit), c.f32) << c.n;
        EXPECT_EQ(zufsMDCTFwdInit_16s(c.ctx ? &c16 : nullptr, c.n, c.mctx, c.minit), c.i16) << c.n;
    }
    ASSERT_EQ(zufsMDCTFwdInit_32f(&fc, 12, mem.data() + 1, nullptr), zufOk);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(fc) % 32, 0u);
    std::vector<float> x(64), y(64);
    EXPECT_EQ(zufsMDCTInv_32f(x.data(), y.data(), reinterpret_cast<MdctInvContext_32f*>(fc), nullptr), zufErrContext);
    EXPECT_EQ(zufsMDCTInvFree_32f(reinterpret_cast<MdctInvContext_32f*>(fc)), zufErrContext);
    EXPECT_EQ(zufsMDCTFwdGetBufSize_32f(fc, nullptr), zufErrNullPtr);
    ASSERT_EQ(zufsMDCTFwdGetBufSize_32f(fc, &w), zufOk);
    EXPECT_EQ(w, 4 * 12 + 64);
    EXPECT_EQ(zufsMDCTFwd_32f(x.data(), nullptr, fc, nullptr), zufErrNullPtr);
    EXPECT_EQ(zufsMDCTFwdFree_32f(fc), zufOk);  // caller memory: clears the ID only
    EXPECT_EQ(zufsMDCTFwd_32f(x.data(), y.data(), fc, nullptr), zufErrContext);

    EXPECT_EQ(zufsMDCTFwdInitAlloc_32f(&fc, 16), zufErrSize);
    EXPECT_EQ(zufsMDCTFwdInitAlloc_16s(&c16, 16), zufErrSize);
}

// ------------------------------------------------------------------ 16-bit forward

TEST(Mdct16, WithinTheDocumentedQuantisationOfTheIdeal) {
    for (int n : {32, 64, 256, 1024, 4096}) {
        if (zuft::kEmulatedTarget && n > 1024) continue;
        MdctFwdContext_16s* ctx = nullptr;
        ASSERT_EQ(zufsMDCTFwdInitAlloc_16s(&ctx, n), zufOk);
        int lq = 0;
        while ((4 << lq) < n) ++lq;
        for (int amp : {32767, 9000, 700}) {
            zuft::Rng rng(static_cast<uint32_t>(n + amp));
            std::vector<Zuf16s> x(n);
            int mx = 0;
            for (auto& v : x) mx = std::max(mx, std::abs(v = static_cast<Zuf16s>(rng.range(-amp, amp))));
            // The normalising shift s of the documented rule.
            int s = -1;
            long long v = mx;
            for (; v <= 32768; ++s) v *= 2;
            if (v / 2 < 23169) ++s;
            const zuft::Roots w(4 * static_cast<int64_t>(n));
            std::vector<LD> X(n / 2, 0.0L);  // 2 sum x cos, the unscaled transform
            for (int k = 0; k < n / 2; ++k)
                for (int i = 0; i < n; ++i) X[k] += 2 * x[i] * kernel(w, i, n, k);
            for (int sf : {lq + 2, lq + 6, lq + 12}) {
                std::vector<Zuf16s> y(n / 2);
                ASSERT_EQ(zufsMDCTFwd_16s_Sfs(x.data(), y.data(), ctx, sf, nullptr), zufOk);
                // The 16-bit FFT output carries half an LSB of quantisation, which the final shift
                // sf - log2(N/4) + s + 11 scales: below one output LSB once that shift is large.
                const LD tol = 1 + std::ldexp(1.0L, 16 - (sf - lq + s + 11));
                for (int k = 0; k < n / 2; ++k) {
                    const LD ideal =
                        std::min<LD>(32767, std::max<LD>(-32768, std::round(X[k] * std::ldexp(1.0L, -sf))));
                    ASSERT_LE(std::fabs(ideal - y[k]), tol)
                        << "N " << n << " amp " << amp << " sf " << sf << " k " << k;
                }
            }
        }
        EXPECT_EQ(zufsMDCTFwdFree_16s(ctx), zufOk);
    }
}

TEST(Mdct16, ZeroFrameSaturationAndContext) {
    MdctFwdContext_16s* ctx = nullptr;
    ASSERT_EQ(zufsMDCTFwdInitAlloc_16s(&ctx, 64), zufOk);
    std::vector<Zuf16s> x(64, 0), y(32, 123);
    ASSERT_EQ(zufsMDCTFwd_16s_Sfs(x.data(), y.data(), ctx, 3, nullptr), zufOk);
    EXPECT_EQ(y, std::vector<Zuf16s>(32, 0));
    Mdct<false> f(64);  // a context of the float family is refused
    EXPECT_EQ(zufsMDCTFwd_16s_Sfs(x.data(), y.data(), reinterpret_cast<MdctFwdContext_16s*>(f.ctx), 0, nullptr),
              zufErrContext);
    EXPECT_EQ(zufsMDCTFwd_16s_Sfs(nullptr, y.data(), ctx, 0, nullptr), zufErrNullPtr);
    // Saturation: a full-scale frame at scale factor 0 saturates without wrapping.
    for (auto& v : x) v = 32767;
    ASSERT_EQ(zufsMDCTFwd_16s_Sfs(x.data(), y.data(), ctx, 0, nullptr), zufOk);
    const auto X = f.run(std::vector<float>(64, 32767.0f));
    for (int k = 0; k < 32; ++k) EXPECT_TRUE(std::fabs(X[k]) <= 40000 || y[k] == (X[k] > 0 ? 32767 : -32768)) << k;
    EXPECT_EQ(zufsMDCTFwdFree_16s(ctx), zufOk);
}

}  // namespace
