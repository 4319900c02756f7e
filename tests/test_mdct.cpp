// MDCT: float forward and inverse for 12, 36 and powers of two against the long-double defining
// sums, in-place forms, time-domain alias cancellation with a sine window and 50 % overlap; the
// 16-bit forward transform against the ideal rounded result; sizes, checks and contexts.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "support/test_util.h"
#include "test_fft_ref.h"
#include "zufack9/zufack9.h"

namespace {

using zuft::LD;

template <bool kInverse>
struct Mdct {
    using C = std::conditional_t<kInverse, MdctInvContext_32f, MdctFwdContext_32f>;
    std::vector<Zuf8u> ctxMem, initBuf, work;
    C* ctx = nullptr;
    int n;
    explicit Mdct(int len) : n(len) {
        int s = 0, i = 0, w = 0;
        EXPECT_EQ((kInverse ? zufsMDCTInvGetSize_32f : zufsMDCTFwdGetSize_32f)(len, &s, &i, &w), zufOk);
        ctxMem.resize(s + 7);
        initBuf.resize(i + 7);
        work.resize(w);
        if constexpr (kInverse)
            EXPECT_EQ(zufsMDCTInvInit_32f(&ctx, len, ctxMem.data() + 7, initBuf.data() + 7), zufOk);
        else
            EXPECT_EQ(zufsMDCTFwdInit_32f(&ctx, len, ctxMem.data() + 7, initBuf.data() + 7), zufOk);
    }
    std::vector<float> run(const std::vector<float>& x) {
        std::vector<float> y(kInverse ? 2 * x.size() : x.size() / 2);
        if constexpr (kInverse)
            EXPECT_EQ(zufsMDCTInv_32f(x.data(), y.data(), ctx, work.data()), zufOk);
        else
            EXPECT_EQ(zufsMDCTFwd_32f(x.data(), y.data(), ctx, work.data()), zufOk);
        return y;
    }
};

std::vector<float> random_floats(size_t n, uint32_t seed) {
    zuft::Rng rng(seed);
    std::vector<float> v(n);
    for (auto& x : v) x = rng.uniform(-1.0f, 1.0f);
    return v;
}

// cos(2 pi / N (n + n0)(k + 1/2)) = cos(2 pi (2n + N/2 + 1)(2k + 1) / 4N).
LD kernel(const zuft::Roots& w, int64_t n, int64_t N, int64_t k) { return w((2 * n + N / 2 + 1) * (2 * k + 1)).real(); }

double fwd_error(const std::vector<float>& x, const std::vector<float>& X) {
    const int64_t N = static_cast<int64_t>(x.size());
    const zuft::Roots w(4 * N);
    zuft::RelErr e;
    for (int64_t k : zuft::sample_bins(N / 2, 1024, 48)) {
        LD s = 0;
        for (int64_t n = 0; n < N; ++n) s += x[n] * kernel(w, n, N, k);
        e.add(static_cast<LD>(X[k]), 2 * s);
    }
    return e.value();
}

double inv_error(const std::vector<float>& X, const std::vector<float>& y) {
    const int64_t N = 2 * static_cast<int64_t>(X.size());
    const zuft::Roots w(4 * N);
    zuft::RelErr e;
    for (int64_t n : zuft::sample_bins(N, 1024, 48)) {
        LD s = 0;
        for (int64_t k = 0; k < N / 2; ++k) s += X[k] * kernel(w, n, N, k);
        e.add(static_cast<LD>(y[n]), 2 * s / static_cast<LD>(N));
    }
    return e.value();
}

const int kLengths[] = {12, 36, 32, 64, 128, 256, 512, 1024, 2048, 4096, 16384, 65536};

TEST(Mdct, FloatMatchesTheDefiningSumsInBothDirections) {
    zuft::WorstRatio worst;
    for (int n : kLengths) {
        Mdct<false> f(n);
        Mdct<true> inv(n);
        const auto x = random_floats(n, 21u + n);
        const auto X = f.run(x);
        const double ef = fwd_error(x, X);
        const auto c = random_floats(n / 2, 22u + n);
        const auto y = inv.run(c);
        const double ei = inv_error(c, y);
        worst.note(ef, n);
        worst.note(ei, n);
        EXPECT_LE(ef, zuft::accuracy_bound(n)) << "forward N = " << n;
        EXPECT_LE(ei, zuft::accuracy_bound(n)) << "inverse N = " << n;
        // The in-place forms give the same bits.
        std::vector<float> io = x;
        ASSERT_EQ(zufsMDCTFwd_32f_I(io.data(), f.ctx, nullptr), zufOk);
        EXPECT_EQ(std::memcmp(io.data(), X.data(), 4 * (n / 2)), 0) << n;
        io.assign(c.begin(), c.end());
        io.resize(n);
        ASSERT_EQ(zufsMDCTInv_32f_I(io.data(), inv.ctx, nullptr), zufOk);
        EXPECT_EQ(std::memcmp(io.data(), y.data(), 4 * n), 0) << n;
    }
    worst.print("MDCT");
}

// Sine window, hop N/2: windowed forward, inverse, windowed overlap-add gives the signal back.
TEST(Mdct, TimeDomainAliasCancellation) {
    for (int n : {12, 36, 32, 256, 2048}) {
        Mdct<false> f(n);
        Mdct<true> inv(n);
        const int hop = n / 2, frames = 8;
        const auto sig = random_floats(static_cast<size_t>(hop) * (frames + 1), 5u + n);
        std::vector<double> win(n), out(sig.size(), 0.0);
        for (int i = 0; i < n; ++i) win[i] = std::sin(3.14159265358979323846 * (i + 0.5) / n);
        for (int t = 0; t < frames; ++t) {
            std::vector<float> frame(n);
            for (int i = 0; i < n; ++i) frame[i] = static_cast<float>(sig[t * hop + i] * win[i]);
            const auto y = inv.run(f.run(frame));
            for (int i = 0; i < n; ++i) out[t * hop + i] += y[i] * win[i];
        }
        zuft::RelErr e;
        for (size_t i = hop; i < static_cast<size_t>(hop) * frames; ++i)
            e.add(static_cast<LD>(out[i]), static_cast<LD>(sig[i]));
        EXPECT_LE(e.value(), 2 * zuft::accuracy_bound(n)) << n;
    }
}

TEST(Mdct, SizesChecksAndContexts) {
    int s = 0, i = 0, w = 0;
    EXPECT_EQ(zufsMDCTFwdGetSize_32f(16, nullptr, &i, &w), zufErrNullPtr);  // pointers first
    for (int bad : {16, 24, 0, -12, 48, 100}) {
        EXPECT_EQ(zufsMDCTFwdGetSize_32f(bad, &s, &i, &w), zufErrSize) << bad;
        EXPECT_EQ(zufsMDCTInvGetSize_32f(bad, &s, &i, &w), zufErrSize) << bad;
        EXPECT_EQ(zufsMDCTFwdGetSize_16s(bad, &s, &i, &w), zufErrSize) << bad;
    }
    EXPECT_EQ(zufsMDCTFwdGetSize_16s(12, &s, &i, &w), zufErrSize);  // powers of two only
    for (int n : {12, 36}) {
        ASSERT_EQ(zufsMDCTFwdGetSize_32f(n, &s, &i, &w), zufOk);
        EXPECT_EQ(i, 0);
        EXPECT_EQ(w, 4 * n + 64);
#if defined(__i386__)
        EXPECT_EQ(s, 2 * n + 92);
#endif
    }
    for (int n : {32, 1024, 32768}) {
        int fs, fi, fw;
        ASSERT_EQ(zufsFFTGetSize_C_32fc(0, 8, 0, &fs, &fi, &fw), zufOk);
        int order = 0;
        while ((4 << order) < n) ++order;
        ASSERT_EQ(zufsFFTGetSize_C_32fc(order, 8, 0, &fs, &fi, &fw), zufOk);
        ASSERT_EQ(zufsMDCTInvGetSize_32f(n, &s, &i, &w), zufOk);
        EXPECT_EQ(i, fi);
        EXPECT_EQ(w, fw + 32 + 4 * n + 64);
#if defined(__i386__)
        EXPECT_EQ(s, fs + 32 + 2 * n + 92);
#endif
    }
    std::vector<Zuf8u> mem(1 << 20);
    MdctFwdContext_32f* fc = nullptr;
    MdctInvContext_32f* ic = nullptr;
    EXPECT_EQ(zufsMDCTFwdInit_32f(nullptr, 24, nullptr, nullptr), zufErrSize);  // length first
    EXPECT_EQ(zufsMDCTFwdInit_32f(nullptr, 32, mem.data(), nullptr), zufErrNullPtr);
    EXPECT_EQ(zufsMDCTFwdInit_32f(&fc, 12, mem.data() + 1, nullptr), zufOk);         // no init buffer for 12, 36
    EXPECT_EQ(zufsMDCTInvInit_32f(&ic, 32768, mem.data(), nullptr), zufErrNullPtr);  // its FFT needs one
    MdctFwdContext_16s* c16 = nullptr;
    EXPECT_EQ(zufsMDCTFwdInit_16s(nullptr, 24, mem.data(), mem.data()), zufErrNullPtr);  // pointers first
    EXPECT_EQ(zufsMDCTFwdInit_16s(&c16, 24, mem.data(), mem.data()), zufErrSize);
    uint32_t id;
    std::memcpy(&id, fc, 4);
    EXPECT_EQ(id, 55u);
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

    // InitAlloc and Free, with the transform allocating its own work buffer.
    MdctInvContext_32f* a = nullptr;
    ASSERT_EQ(zufsMDCTInvInitAlloc_32f(&a, 64), zufOk);
    Mdct<true> ref(64);
    const auto c = random_floats(32, 9);
    ASSERT_EQ(zufsMDCTInv_32f(c.data(), y.data(), a, nullptr), zufOk);
    EXPECT_EQ(std::memcmp(y.data(), ref.run(c).data(), 4 * 64), 0);
    EXPECT_EQ(zufsMDCTInvFree_32f(a), zufOk);
    EXPECT_EQ(zufsMDCTFwdInitAlloc_32f(&fc, 16), zufErrSize);
    EXPECT_EQ(zufsMDCTFwdInitAlloc_16s(&c16, 16), zufErrSize);
}

// ------------------------------------------------------------------ 16-bit forward
struct Mdct16 {
    MdctFwdContext_16s* ctx = nullptr;
    std::vector<Zuf8u> work;
    explicit Mdct16(int n) {
        EXPECT_EQ(zufsMDCTFwdInitAlloc_16s(&ctx, n), zufOk);
        int w = 0;
        EXPECT_EQ(zufsMDCTFwdGetBufSize_16s(ctx, &w), zufOk);
        work.resize(w);
    }
    ~Mdct16() { zufsMDCTFwdFree_16s(ctx); }
};

TEST(Mdct16, WithinTheDocumentedQuantisationOfTheIdeal) {
    LD worstAtFinest = 0, worstCoarse = 0, tolCoarse = 0;  // LSB deviations: final shift >= 16, below
    for (int n : {32, 64, 256, 1024, 4096}) {
        if (zuft::kEmulatedTarget && n > 1024) continue;
        Mdct16 m(n);
        int lq = 0;
        while ((4 << lq) < n) ++lq;
        for (int amp : {32767, 9000, 700}) {
            zuft::Rng rng(static_cast<uint32_t>(n + amp));
            std::vector<Zuf16s> x(n);
            for (auto& v : x) v = static_cast<Zuf16s>(rng.range(-amp, amp));
            int mx = 0;
            for (auto v : x) mx = std::max(mx, std::abs(int{v}));
            // The normalising shift s of the documented rule.
            int s = -1;
            long long v = mx;
            while (v <= 32768) {
                v *= 2;
                ++s;
            }
            if (v / 2 < 23169) ++s;
            const zuft::Roots w(4 * static_cast<int64_t>(n));
            std::vector<LD> X(n / 2);  // 2 sum x cos, the unscaled transform
            for (int k = 0; k < n / 2; ++k) {
                LD acc = 0;
                for (int i = 0; i < n; ++i) acc += x[i] * kernel(w, i, n, k);
                X[k] = 2 * acc;
            }
            for (int sf : {lq + 2, lq + 6, lq + 12}) {
                std::vector<Zuf16s> y(n / 2);
                ASSERT_EQ(zufsMDCTFwd_16s_Sfs(x.data(), y.data(), m.ctx, sf, m.work.data()), zufOk);
                // The 16-bit FFT output carries half an LSB of quantisation, which the final shift
                // sf - log2(N/4) + s + 11 scales: below one output LSB once that shift is large.
                const int shift = sf - lq + s + 11;
                const LD tol = 1 + std::ldexp(1.0L, 16 - shift);
                LD worst = 0;
                for (int k = 0; k < n / 2; ++k) {
                    LD ideal = std::round(X[k] * std::ldexp(1.0L, -sf));
                    ideal = std::min<LD>(32767, std::max<LD>(-32768, ideal));
                    worst = std::max(worst, std::fabs(ideal - y[k]));
                }
                EXPECT_LE(worst, tol) << "N " << n << " amp " << amp << " sf " << sf;
                if (shift >= 16) {
                    worstAtFinest = std::max(worstAtFinest, worst);
                } else if (worst > worstCoarse) {
                    worstCoarse = worst;
                    tolCoarse = tol;
                }
            }
        }
    }
    std::printf(
        "[ accuracy ] MDCT 16s: largest deviation %.0Lf LSB where the final shift is >= 16; "
        "%.0Lf LSB (bound %.0Lf) at smaller shifts\n",
        worstAtFinest, worstCoarse, tolCoarse);
}

TEST(Mdct16, ZeroFrameAndChecks) {
    Mdct16 m(64);
    std::vector<Zuf16s> x(64, 0), y(32, 123);
    ASSERT_EQ(zufsMDCTFwd_16s_Sfs(x.data(), y.data(), m.ctx, 3, nullptr), zufOk);
    for (auto v : y) EXPECT_EQ(v, 0);
    uint32_t id;
    std::memcpy(&id, m.ctx, 4);
    EXPECT_EQ(id, 57u);
    EXPECT_EQ(zufsMDCTFwd_16s_Sfs(x.data(), y.data(), nullptr, 0, nullptr), zufErrNullPtr);
    EXPECT_EQ(zufsMDCTFwd_16s_Sfs(nullptr, y.data(), m.ctx, 0, nullptr), zufErrNullPtr);
    MdctFwdContext_32f* f = nullptr;
    ASSERT_EQ(zufsMDCTFwdInitAlloc_32f(&f, 64), zufOk);
    EXPECT_EQ(zufsMDCTFwd_16s_Sfs(x.data(), y.data(), reinterpret_cast<MdctFwdContext_16s*>(f), 0, nullptr),
              zufErrContext);
    EXPECT_EQ(zufsMDCTFwdFree_16s(reinterpret_cast<MdctFwdContext_16s*>(f)), zufErrContext);
    EXPECT_EQ(zufsMDCTFwdFree_32f(f), zufOk);
    // Saturation: a full-scale frame at scale factor 0 saturates without wrapping.
    for (auto& v : x) v = 32767;
    ASSERT_EQ(zufsMDCTFwd_16s_Sfs(x.data(), y.data(), m.ctx, 0, nullptr), zufOk);
    Mdct<false> fl(64);
    const auto X = fl.run(std::vector<float>(64, 32767.0f));
    for (int k = 0; k < 32; ++k) {
        if (std::fabs(X[k]) > 40000) {
            EXPECT_EQ(y[k], X[k] > 0 ? 32767 : -32768) << k;
        }
    }
}

}  // namespace
