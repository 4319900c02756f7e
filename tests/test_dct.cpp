// DCT-II/III: every path (small kernels, recursive power of two, real FFT, direct sums, chirp
// convolution) against the long-double defining sums, path selection, sizes, checks and
// work-buffer allocation.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "support/test_util.h"
#include "test_fft_ref.h"
#include "zufack9/zufack9.h"

namespace {

using zuft::LD;

template <bool kInverse>
struct Dct {
    using C = std::conditional_t<kInverse, DctInvContext_32f, DctFwdContext_32f>;
    std::vector<Zuf8u> ctxMem, initBuf, work;
    C* ctx = nullptr;
    int n;
    Dct(int len, int hint) : n(len) {
        int s = 0, i = 0, w = 0;
        EXPECT_EQ((kInverse ? zufsDCTInvGetSize_32f : zufsDCTFwdGetSize_32f)(len, hint, &s, &i, &w), zufOk);
        ctxMem.resize(s + 1);
        initBuf.resize(i + 1);
        work.resize(w + 1);
        if constexpr (kInverse)
            EXPECT_EQ(zufsDCTInvInit_32f(&ctx, len, hint, ctxMem.data() + 1, initBuf.data() + 1), zufOk);
        else
            EXPECT_EQ(zufsDCTFwdInit_32f(&ctx, len, hint, ctxMem.data() + 1, initBuf.data() + 1), zufOk);
    }
    zufResult run(const float* x, float* y, Zuf8u* buf) const {
        if constexpr (kInverse)
            return zufsDCTInv_32f(x, y, ctx, buf);
        else
            return zufsDCTFwd_32f(x, y, ctx, buf);
    }
    std::vector<float> run(const std::vector<float>& x) {
        std::vector<float> y(x.size());
        EXPECT_EQ(run(x.data(), y.data(), work.data() + 1), zufOk);
        return y;
    }
    // Path flags: small, power of two, FFT, convolution (words 7..10).
    std::vector<uint32_t> flags() const {
        uint32_t w[11];
        std::memcpy(w, ctx, sizeof(w));
        return {w[7], w[8], w[9], w[10]};
    }
};

// Relative RMS error against X[k] = c(k) sum_n x[n] cos(pi (2n+1) k / 2N) (forward) or
// x[n] = sum_k c(k) X[k] cos(...) (inverse), at sampled outputs.
double dct_error(const std::vector<float>& in, const std::vector<float>& out, bool inverse) {
    const int64_t n = static_cast<int64_t>(in.size());
    const zuft::Roots w(4 * n);  // Re w(j) = cos(2 pi j / 4N)
    const LD c0 = 1 / std::sqrt(static_cast<LD>(n)), ck = std::sqrt(2.0L / static_cast<LD>(n));
    zuft::RelErr e;
    for (int64_t a : zuft::sample_bins(n, 1024, n > 65536 ? 12 : 48)) {
        LD s = 0;
        for (int64_t b = 0; b < n; ++b) {
            const int64_t k = inverse ? b : a, m = inverse ? a : b;
            s += (inverse ? (k == 0 ? c0 : ck) : 1.0L) * in[b] * w((2 * m + 1) * k).real();
        }
        if (!inverse) s *= a == 0 ? c0 : ck;
        e.add(static_cast<LD>(out[a]), s);
    }
    return e.value();
}

struct Case {
    int n, hint, path;  // path: 0 small, 1 power of two, 2 FFT, 3 direct, 4 convolution
};
const Case kCases[] = {
    {1, 0, 0},   {2, 0, 0},    {4, 0, 0},    {8, 0, 0},     {16, 0, 1},     {32, 2, 1},     {64, 0, 2},
    {128, 2, 2}, {1024, 0, 2}, {4096, 1, 2}, {65536, 0, 2}, {131072, 0, 1}, {131072, 2, 2}, {3, 0, 3},
    {5, 0, 3},   {7, 0, 3},    {12, 0, 3},   {31, 0, 3},    {99, 0, 3},     {100, 0, 3},    {101, 0, 4},
    {127, 0, 4}, {255, 0, 4},  {1000, 0, 4}, {4097, 0, 4},  {30000, 2, 4},
};

// Each path's reference, in place and misaligned, and with a null work buffer allocated through
// the hooks (not for the small kernels, which need none).
TEST(Dct, EveryPathMatchesTheDefiningSums) {
    const uint32_t kPathFlags[5][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 0}, {0, 0, 0, 1}};
    for (const Case& c : kCases) {
        Dct<false> f(c.n, c.hint);
        Dct<true> inv(c.n, c.hint);
        EXPECT_EQ(f.flags(), std::vector<uint32_t>(kPathFlags[c.path], kPathFlags[c.path] + 4)) << c.n;
        const auto x = zuft::random_floats(c.n, 11u + c.n);
        const auto X = f.run(x);
        EXPECT_LE(dct_error(x, X, false), zuft::accuracy_bound(c.n)) << "forward N = " << c.n;
        EXPECT_LE(dct_error(x, inv.run(x), true), zuft::accuracy_bound(c.n)) << "inverse N = " << c.n;
        zuft::Placed<float> p(c.n, 4);
        p.assign(x);
        ASSERT_EQ(f.run(p.data(), p.data(), f.work.data() + 1), zufOk);
        EXPECT_EQ(std::memcmp(p.data(), X.data(), 4 * c.n), 0) << "in place N = " << c.n;
        EXPECT_TRUE(p.guards_intact());
        zuft::HookGuard hooks;
        std::vector<float> y(c.n);
        ASSERT_EQ(f.run(x.data(), y.data(), nullptr), zufOk);
        EXPECT_EQ(hooks.mallocs, c.path == 0 ? 0 : 1) << c.n;
        EXPECT_EQ(hooks.frees, hooks.mallocs);
        EXPECT_EQ(std::memcmp(y.data(), X.data(), 4 * c.n), 0);
    }
}

TEST(Dct, SizesChecksAndContexts) {
    int s = 0, i = 0, w = 0;
    EXPECT_EQ(zufsDCTFwdGetSize_32f(0, 0, nullptr, nullptr, nullptr), zufErrSize);  // length first
    EXPECT_EQ(zufsDCTFwdGetSize_32f(16, 0, &s, nullptr, &w), zufErrNullPtr);
    for (int n : {1, 2, 4, 8}) {
        ASSERT_EQ(zufsDCTFwdGetSize_32f(n, 0, &s, &i, &w), zufOk);
        EXPECT_EQ(i + w, 0);
        EXPECT_EQ(s, sizeof(void*) == 4 ? 116 : 152);  // documented per target
    }
    std::vector<Zuf8u> mem(1 << 20);
    DctFwdContext_32f* fc = nullptr;
    DctInvContext_32f* ic = nullptr;
    EXPECT_EQ(zufsDCTFwdInit_32f(nullptr, 0, 0, nullptr, nullptr), zufErrNullPtr);
    EXPECT_EQ(zufsDCTFwdInit_32f(&fc, 0, 0, nullptr, nullptr), zufErrSize);
    EXPECT_EQ(zufsDCTFwdInit_32f(&fc, 16, 0, nullptr, nullptr), zufErrNullPtr);
    EXPECT_EQ(zufsDCTFwdInit_32f(&fc, 16, 0, mem.data() + 3, nullptr), zufOk);  // no init buffer needed
    EXPECT_EQ(reinterpret_cast<uintptr_t>(fc) % 32, 0u);
    EXPECT_EQ(zufsDCTInvInit_32f(&ic, 101, 0, mem.data(), nullptr), zufErrNullPtr);  // chirp spectrum at Init
    ASSERT_EQ(zufsDCTInvInit_32f(&ic, 16, 0, mem.data() + 4096, nullptr), zufOk);
    std::vector<float> x(16, 1.0f), y(16);
    EXPECT_EQ(zufsDCTInv_32f(x.data(), y.data(), reinterpret_cast<DctInvContext_32f*>(fc), nullptr), zufErrContext);
    EXPECT_EQ(zufsDCTFwd_32f(nullptr, y.data(), reinterpret_cast<DctFwdContext_32f*>(ic), nullptr), zufErrContext);
    EXPECT_EQ(zufsDCTFwd_32f(x.data(), nullptr, fc, nullptr), zufErrNullPtr);
    EXPECT_EQ(zufsDCTFwd_32f(x.data(), y.data(), nullptr, nullptr), zufErrNullPtr);
}

}  // namespace
