// Float FFT families: sizes, checks, contexts and work buffers; accuracy against the long-double
// defining sums for every order 0..16 and a sample of larger ones, both directions, every flag;
// round trips; the SSE kernels against the scalar reference bit for bit; the static table.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <vector>

#include "support/test_util.h"
#include "test_fft_ref.h"
#include "transforms/fft_internal.h"
#include "zufack9/zufack9.h"

namespace {

using zuft::CLD;
using zuft::LD;

enum class Fam { C32fc, C32f, R32f };
constexpr int kFlags[] = {1, 2, 4, 8};

zufResult get_size(Fam f, int order, int flag, int* s, int* i, int* w) {
    switch (f) {
        case Fam::C32fc:
            return zufsFFTGetSize_C_32fc(order, flag, 0, s, i, w);
        case Fam::C32f:
            return zufsFFTGetSize_C_32f(order, flag, 0, s, i, w);
        default:
            return zufsFFTGetSize_R_32f(order, flag, 0, s, i, w);
    }
}

zufResult init(Fam f, void** ctx, int order, int flag, Zuf8u* ctxMem, Zuf8u* initBuf) {
    switch (f) {
        case Fam::C32fc:
            return zufsFFTInit_C_32fc(reinterpret_cast<FftContext_C_32fc**>(ctx), order, flag, 0, ctxMem, initBuf);
        case Fam::C32f:
            return zufsFFTInit_C_32f(reinterpret_cast<FftContext_C_32f**>(ctx), order, flag, 0, ctxMem, initBuf);
        default:
            return zufsFFTInit_R_32f(reinterpret_cast<FftContext_R_32f**>(ctx), order, flag, 0, ctxMem, initBuf);
    }
}

// A context in caller memory placed at an odd offset, with its work buffer.
struct Ctx {
    std::vector<Zuf8u> ctxMem, initBuf, work;
    void* ctx = nullptr;
    Fam fam;
    int order, flag;
    Ctx(Fam f, int o, int fl) : fam(f), order(o), flag(fl) {
        int s = 0, i = 0, w = 0;
        EXPECT_EQ(get_size(f, o, fl, &s, &i, &w), zufOk);
        ctxMem.resize(s + 3);
        initBuf.resize(i + 3);
        work.resize(w + 3);
        EXPECT_EQ(init(f, &ctx, o, fl, ctxMem.data() + 3, i ? initBuf.data() + 3 : nullptr), zufOk);
    }
    const FftContext_C_32fc* internal() const { return static_cast<const FftContext_C_32fc*>(ctx); }
    int64_t n() const { return int64_t{1} << order; }
    // Floats of the input and of the output.
    int64_t floats() const { return fam == Fam::R32f ? n() : 2 * n(); }
    zufResult run(const float* in, float* out, bool inverse, Zuf8u* buf) const {
        const int64_t N = n();
        switch (fam) {
            case Fam::C32fc:
                return inverse
                           ? zufsFFTInv_CToC_32fc(reinterpret_cast<const Zuf32fc*>(in), reinterpret_cast<Zuf32fc*>(out),
                                                  static_cast<FftContext_C_32fc*>(ctx), buf)
                           : zufsFFTFwd_CToC_32fc(reinterpret_cast<const Zuf32fc*>(in), reinterpret_cast<Zuf32fc*>(out),
                                                  static_cast<FftContext_C_32fc*>(ctx), buf);
            case Fam::C32f:  // split arrays: real parts, then imaginary parts
                return zufsFFTFwd_CToC_32f(in, in + N, out, out + N, static_cast<FftContext_C_32f*>(ctx), buf);
            default:
                return inverse ? zufsFFTInv_PermToR_32f(in, out, static_cast<FftContext_R_32f*>(ctx), buf)
                               : zufsFFTFwd_RToPerm_32f(in, out, static_cast<FftContext_R_32f*>(ctx), buf);
        }
    }
    zufResult run(const float* in, float* out, bool inverse) { return run(in, out, inverse, work.data() + 3); }
};

LD factor(int flag, bool inverse, int64_t n) {
    if (flag == 4) return 1.0L / std::sqrt(static_cast<LD>(n));
    if ((flag == 1 && !inverse) || (flag == 2 && inverse)) return 1.0L / static_cast<LD>(n);
    return 1.0L;
}

std::vector<float> random_floats(size_t n, uint32_t seed) {
    zuft::Rng rng(seed);
    std::vector<float> v(n);
    for (auto& x : v) x = rng.uniform(-1.0f, 1.0f);
    return v;
}

// The defining sums (unit factor) at the sampled outputs: (output index, value) pairs.
struct Ref {
    std::vector<int64_t> bins;
    std::vector<CLD> want;
};

Ref reference(Fam fam, int64_t n, bool inverse, const std::vector<float>& in) {
    const zuft::Roots w(n);
    const int count = n > (1 << 18) ? 4 : (n > 65536 ? 16 : 48);
    Ref r;
    if (fam == Fam::C32fc || fam == Fam::C32f) {
        const bool split = fam == Fam::C32f;
        auto x = [&](int64_t i) { return split ? CLD(in[i], in[n + i]) : CLD(in[2 * i], in[2 * i + 1]); };
        r.bins = zuft::sample_bins(n, 1024, count);
        for (int64_t k : r.bins) r.want.push_back(zuft::dft_bin(x, n, k, inverse ? +1 : -1, w));
    } else if (!inverse) {
        auto x = [&](int64_t i) { return CLD(in[i]); };
        r.bins = zuft::sample_bins(n / 2 + 1, 1024, count);
        for (int64_t k : r.bins) r.want.push_back(zuft::dft_bin(x, n, k, -1, w));
    } else {
        // The full Hermitian spectrum behind the Perm input.
        auto X = [&](int64_t k) -> CLD {
            if (k == 0) return in[0];
            if (n >= 2 && k == n / 2) return in[1];
            if (k < n / 2) return CLD(in[2 * k], in[2 * k + 1]);
            return CLD(in[2 * (n - k)], -in[2 * (n - k) + 1]);
        };
        r.bins = zuft::sample_bins(n, 1024, count);
        for (int64_t t : r.bins) r.want.push_back(zuft::dft_bin(X, n, t, +1, w));
    }
    return r;
}

// Relative RMS error of a transform's output against f times the reference.
double error_vs(Fam fam, int64_t n, bool inverse, const Ref& r, const std::vector<float>& out, LD f) {
    zuft::RelErr e;
    for (size_t i = 0; i < r.bins.size(); ++i) {
        const int64_t k = r.bins[i];
        CLD got;
        if (fam == Fam::C32fc)
            got = CLD(out[2 * k], out[2 * k + 1]);
        else if (fam == Fam::C32f)
            got = CLD(out[k], out[n + k]);
        else if (inverse)
            got = out[k];
        else if (k == 0)
            got = out[0];
        else if (k == n / 2)
            got = out[1];
        else
            got = CLD(out[2 * k], out[2 * k + 1]);
        e.add(got, f * r.want[i]);
    }
    return e.value();
}

zuft::WorstRatio g_worst[3];

void check_accuracy(Fam fam, int order, bool printWorst) {
    const int64_t n = int64_t{1} << order;
    for (bool inverse : {false, true}) {
        if (fam == Fam::C32f && inverse) continue;
        Ctx c8(fam, order, 8);
        const auto in = random_floats(c8.floats(), 1000u + static_cast<uint32_t>(order) * 7u + inverse);
        std::vector<float> out(in.size());
        const Ref ref = reference(fam, n, inverse, in);
        for (int flag : kFlags) {
            Ctx c(fam, order, flag);
            ASSERT_EQ(c.run(in.data(), out.data(), inverse), zufOk);
            const double e = error_vs(fam, n, inverse, ref, out, factor(flag, inverse, n));
            g_worst[static_cast<int>(fam)].note(e, n);
            EXPECT_LE(e, zuft::accuracy_bound(n)) << "order " << order << " flag " << flag << " inverse " << inverse;
        }
    }
    // Forward then inverse returns the input (flags 1, 2, 4) or N times it (flag 8).
    if (fam != Fam::C32f) {
        for (int flag : kFlags) {
            Ctx c(fam, order, flag);
            const auto x = random_floats(c.floats(), 77u + static_cast<uint32_t>(order));
            std::vector<float> y(x.size()), z(x.size());
            ASSERT_EQ(c.run(x.data(), y.data(), false), zufOk);
            ASSERT_EQ(c.run(y.data(), z.data(), true), zufOk);
            zuft::RelErr e;
            const LD g = flag == 8 ? static_cast<LD>(n) : 1.0L;
            for (size_t i = 0; i < x.size(); ++i) e.add(LD(z[i]), g * x[i]);
            EXPECT_LE(e.value(), 2 * zuft::accuracy_bound(n)) << "round trip order " << order << " flag " << flag;
        }
    }
    if (printWorst) {
        const auto& w = g_worst[static_cast<int>(fam)];
        w.print(fam == Fam::C32fc ? "C_32fc" : fam == Fam::C32f ? "C_32f" : "R_32f");
    }
}

#if defined(__i386__)
constexpr int kLargeOrders[] = {17};  // under emulation: the larger ones cost minutes
#else
constexpr int kLargeOrders[] = {17, 19, 22};
#endif

TEST(FftAccuracy, ComplexInterleavedEveryOrderAndFlag) {
    for (int order = 0; order <= 16; ++order) check_accuracy(Fam::C32fc, order, false);
    for (int order : kLargeOrders)
        check_accuracy(Fam::C32fc, order, order == kLargeOrders[std::size(kLargeOrders) - 1]);
}
TEST(FftAccuracy, ComplexSplitEveryOrderAndFlag) {
    for (int order = 0; order <= 16; ++order) check_accuracy(Fam::C32f, order, false);
    for (int order : kLargeOrders) check_accuracy(Fam::C32f, order, order == kLargeOrders[std::size(kLargeOrders) - 1]);
}
TEST(FftAccuracy, RealPermEveryOrderAndFlag) {
    for (int order = 0; order <= 16; ++order) check_accuracy(Fam::R32f, order, false);
    for (int order : kLargeOrders) check_accuracy(Fam::R32f, order, order == kLargeOrders[std::size(kLargeOrders) - 1]);
}

// ------------------------------------------------------------------ kernels
// In place, out of place and any alignment give the same bits; the SSE path equals the scalar
// reference bit for bit.
TEST(FftKernels, InPlaceMisalignedAndScalarReferenceAgreeBitForBit) {
    for (Fam fam : {Fam::C32fc, Fam::C32f, Fam::R32f}) {
        for (int order : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 16, 17}) {
            for (bool inverse : {false, true}) {
                if (fam == Fam::C32f && inverse) continue;
                Ctx c(fam, order, 4);
                const auto x = random_floats(c.floats(), 5u + static_cast<uint32_t>(order));
                std::vector<float> ref(x.size());
                ASSERT_EQ(c.run(x.data(), ref.data(), inverse), zufOk);
                for (size_t mis : {size_t{4}, size_t{8}, size_t{12}}) {
                    zuft::Placed<float> buf(x.size(), mis);
                    buf.assign(x);
                    ASSERT_EQ(c.run(buf.data(), buf.data(), inverse), zufOk);  // in place
                    EXPECT_TRUE(buf.guards_intact());
                    EXPECT_EQ(std::memcmp(buf.data(), ref.data(), 4 * x.size()), 0)
                        << "order " << order << " misalign " << mis;
                }
                // The scalar reference instantiation of the same algorithm.
                std::vector<float> s(x.size());
                std::vector<float> work(c.work.size() / 4 + 16);
                const auto* ic = c.internal();
                const bool scale = inverse ? ic->invNorm : ic->fwdNorm;
                const int64_t n = c.n();
                if (fam == Fam::C32fc)
                    zuf::xf::ownsFFT_C_32fc_ref(ic, x.data(), s.data(), work.data(),
                                                inverse ? zuf::xf::Dir::Inv : zuf::xf::Dir::Fwd, scale, ic->norm);
                else if (fam == Fam::C32f)
                    zuf::xf::ownsFFT_C_32f_ref(ic, x.data(), x.data() + n, s.data(), s.data() + n, work.data(), scale,
                                               ic->norm);
                else
                    zuf::xf::ownsFFT_R_32f_ref(ic, x.data(), s.data(), work.data(),
                                               inverse ? zuf::xf::Dir::Inv : zuf::xf::Dir::Fwd, scale, ic->norm);
                EXPECT_EQ(std::memcmp(s.data(), ref.data(), 4 * x.size()), 0) << "scalar vs SSE, order " << order;
            }
        }
    }
}

TEST(FftKernels, StaticTwiddleTableMatchesTheFormula) {
    for (int k = 0; k < 1024; ++k) {
        const LD a = zuft::kTwoPiL * k / 1024;
        for (int part = 0; part < 2; ++part) {
            const LD want = part == 0 ? std::cos(a) : std::sin(a);
            const float got = zuf::xf::fft_fix_twiddle_table_32f[2 * k + part];
            // Correctly rounded: within half a unit in the last place of the float.
            const LD ulp = std::nextafter(std::fabs(got), 2.0f) - std::fabs(got);
            EXPECT_LE(std::fabs(static_cast<LD>(got) - want), got == 0 ? 1e-18L : ulp / 2) << k << " " << part;
        }
    }
}

// ------------------------------------------------------------------ edge cases
TEST(FftEdges, DocumentedCases) {
    // Order 0 copies the value (the factor is 1 for N = 1).
    {
        Ctx c(Fam::C32fc, 0, 1);
        const float x[2] = {1.5f, -2.25f};
        float y[2];
        ASSERT_EQ(c.run(x, y, false), zufOk);
        EXPECT_EQ(y[0], 1.5f);
        EXPECT_EQ(y[1], -2.25f);
        ASSERT_EQ(c.run(x, y, true), zufOk);
        EXPECT_EQ(y[0], 1.5f);
    }
    // A constant real input v: Re X[0] = N v, everything else 0, X[N/2] = 0 in the second float.
    for (int order : {1, 3, 4, 9, 12}) {
        Ctx c(Fam::R32f, order, 8);
        const int64_t n = c.n();
        std::vector<float> x(n, 0.75f), y(n);
        ASSERT_EQ(c.run(x.data(), y.data(), false), zufOk);
        EXPECT_FLOAT_EQ(y[0], 0.75f * n);
        for (int64_t i = 1; i < n; ++i) EXPECT_NEAR(y[i], 0.0f, 1e-5f * n) << order << " " << i;
    }
}

TEST(FftApi, SizesAndChecksComeInTheDocumentedOrder) {
    int s = 0, i = 0, w = 0;
    for (Fam f : {Fam::C32fc, Fam::C32f, Fam::R32f}) {
        EXPECT_EQ(get_size(f, 31, 1, &s, &i, &w), zufErrFftOrder);
        EXPECT_EQ(get_size(f, -1, 1, nullptr, &i, &w), zufErrFftOrder);  // order before pointers
        EXPECT_EQ(get_size(f, 5, 3, nullptr, &i, &w), zufErrNullPtr);    // pointers before flag
        EXPECT_EQ(get_size(f, 5, 3, &s, &i, &w), zufErrFftFlag);
        for (int order = 0; order <= 3; ++order) {
            ASSERT_EQ(get_size(f, order, 8, &s, &i, &w), zufOk);
#if defined(__i386__)
            EXPECT_EQ(s, 112);
#endif
            EXPECT_EQ(i, 0);
            EXPECT_EQ(w, 0);
        }
        ASSERT_EQ(get_size(f, 10, 8, &s, &i, &w), zufOk);
        EXPECT_EQ(i, 0);
        ASSERT_EQ(get_size(f, 11, 8, &s, &i, &w), zufOk);
        EXPECT_GT(i, 0);
        // The largest order has sizes that fit (the split family's data copy is the exception).
        if (f != Fam::C32f) {
            EXPECT_EQ(get_size(f, 30, 2, &s, &i, &w), zufOk);
        }
    }
    std::vector<Zuf8u> mem(4096);
    void* ctx = nullptr;
    EXPECT_EQ(init(Fam::C32fc, nullptr, 31, 3, nullptr, nullptr), zufErrNullPtr);
    EXPECT_EQ(init(Fam::C32fc, &ctx, 31, 3, nullptr, nullptr), zufErrFftOrder);
    EXPECT_EQ(init(Fam::R32f, &ctx, 4, 3, nullptr, nullptr), zufErrNullPtr);
    EXPECT_EQ(init(Fam::C32f, &ctx, 4, 3, mem.data(), nullptr), zufErrFftFlag);
    EXPECT_EQ(init(Fam::C32fc, &ctx, 11, 8, mem.data(), nullptr), zufErrNullPtr);  // needs the init buffer
    EXPECT_EQ(ctx, nullptr);
}

TEST(FftApi, ContextsAreAlignedAndCarryTheirIdAndHeader) {
    const uint32_t ids[] = {4, 5, 6};
    for (Fam f : {Fam::C32fc, Fam::C32f, Fam::R32f}) {
        for (int flag : kFlags) {
            Ctx c(f, 7, flag);
            const auto addr = reinterpret_cast<uintptr_t>(c.ctx);
            EXPECT_EQ(addr % 32, 0u);
            EXPECT_GE(addr, reinterpret_cast<uintptr_t>(c.ctxMem.data() + 3));
            uint32_t word[5];
            std::memcpy(word, c.ctx, sizeof(word));
            EXPECT_EQ(word[0], ids[static_cast<int>(f)]);
            EXPECT_EQ(word[1], 7u);
            EXPECT_EQ(word[2], (flag == 1 || flag == 4) ? 1u : 0u);
            EXPECT_EQ(word[3], (flag == 2 || flag == 4) ? 1u : 0u);
            float norm;
            std::memcpy(&norm, &word[4], 4);
            if (flag == 1 || flag == 2) {
                EXPECT_EQ(norm, 1.0f / 128);
            }
            if (flag == 4) {
                EXPECT_EQ(norm, static_cast<float>(1.0L / std::sqrt(128.0L)));
            }
        }
    }
}

TEST(FftApi, ContextOfAnotherFamilyIsRefused) {
    Ctx cc(Fam::C32fc, 6, 8), cs(Fam::C32f, 6, 8), cr(Fam::R32f, 6, 8);
    std::vector<float> x(128), y(128);
    auto* pc = static_cast<FftContext_C_32fc*>(cc.ctx);
    auto* ps = static_cast<FftContext_C_32f*>(cs.ctx);
    auto* pr = static_cast<FftContext_R_32f*>(cr.ctx);
    auto* xc = reinterpret_cast<Zuf32fc*>(x.data());
    EXPECT_EQ(zufsFFTFwd_CToC_32fc(xc, xc, reinterpret_cast<FftContext_C_32fc*>(pr), nullptr), zufErrContext);
    EXPECT_EQ(zufsFFTInv_CToC_32fc(xc, xc, reinterpret_cast<FftContext_C_32fc*>(ps), nullptr), zufErrContext);
    EXPECT_EQ(
        zufsFFTFwd_CToC_32f(x.data(), x.data(), y.data(), y.data(), reinterpret_cast<FftContext_C_32f*>(pc), nullptr),
        zufErrContext);
    EXPECT_EQ(zufsFFTFwd_RToPerm_32f(x.data(), y.data(), reinterpret_cast<FftContext_R_32f*>(pc), nullptr),
              zufErrContext);
    EXPECT_EQ(zufsFFTInv_PermToR_32f(x.data(), y.data(), reinterpret_cast<FftContext_R_32f*>(ps), nullptr),
              zufErrContext);
    int size = 0;
    EXPECT_EQ(zufsFFTGetBufSize_R_32f(reinterpret_cast<FftContext_R_32f*>(pc), &size), zufErrContext);
    EXPECT_EQ(zufsFFTGetBufSize_C_32fc(reinterpret_cast<FftContext_C_32fc*>(pr), &size), zufErrContext);
    EXPECT_EQ(zufsFFTFree_C_32fc(reinterpret_cast<FftContext_C_32fc*>(ps)), zufErrContext);
    // The ID is checked before the data pointers; a null context before the ID.
    EXPECT_EQ(zufsFFTFwd_RToPerm_32f(nullptr, nullptr, reinterpret_cast<FftContext_R_32f*>(pc), nullptr),
              zufErrContext);
    EXPECT_EQ(zufsFFTFwd_RToPerm_32f(x.data(), nullptr, pr, nullptr), zufErrNullPtr);
    EXPECT_EQ(zufsFFTFwd_CToC_32fc(xc, xc, nullptr, nullptr), zufErrNullPtr);
    EXPECT_EQ(zufsFFTGetBufSize_C_32fc(pc, nullptr), zufErrNullPtr);
    ASSERT_EQ(zufsFFTGetBufSize_C_32fc(pc, &size), zufOk);
    EXPECT_EQ(size, 16 * 64 + 32);
}

// Counting allocator hooks.
int g_mallocs = 0, g_frees = 0;
bool g_fail = false;
void* counting_malloc(size_t n) {
    ++g_mallocs;
    return g_fail ? nullptr : std::malloc(n);
}
void counting_free(void* p) {
    ++g_frees;
    std::free(p);
}
struct HookGuard {
    void* (*m)(size_t) = i_malloc;
    void (*f)(void*) = i_free;
    HookGuard() {
        g_mallocs = g_frees = 0;
        g_fail = false;
        i_malloc = counting_malloc;
        i_free = counting_free;
    }
    ~HookGuard() {
        i_malloc = m;
        i_free = f;
    }
};

TEST(FftApi, NullWorkBufferAllocatesThroughTheHooksAndReleases) {
    for (Fam f : {Fam::C32fc, Fam::C32f, Fam::R32f}) {
        for (int order : {3, 6, 12, 17}) {
            Ctx c(f, order, 8);
            const auto x = random_floats(c.floats(), 9);
            std::vector<float> a(x.size()), b(x.size());
            ASSERT_EQ(c.run(x.data(), a.data(), false), zufOk);
            HookGuard hooks;
            ASSERT_EQ(c.run(x.data(), b.data(), false, nullptr), zufOk);
            EXPECT_EQ(std::memcmp(a.data(), b.data(), 4 * x.size()), 0);
            EXPECT_EQ(g_mallocs, order <= 3 ? 0 : 1);
            EXPECT_EQ(g_frees, g_mallocs);
            ASSERT_EQ(c.run(x.data(), b.data(), false), zufOk);  // given buffer: no allocation
            EXPECT_EQ(g_mallocs, order <= 3 ? 0 : 1);
            g_fail = true;
            EXPECT_EQ(c.run(x.data(), b.data(), false, nullptr), order <= 3 ? zufOk : zufErrNoMemory);
        }
    }
}

TEST(FftApi, InitAllocAndFree) {
    HookGuard hooks;
    FftContext_C_32fc* ctx = nullptr;
    ASSERT_EQ(zufsFFTInitAlloc_C_32fc(&ctx, 12, 4, 0), zufOk);
    EXPECT_EQ(g_mallocs, 2);  // the context block and the temporary init buffer
    EXPECT_EQ(g_frees, 1);
    std::vector<float> x(2 * 4096, 1.0f);
    EXPECT_EQ(
        zufsFFTFwd_CToC_32fc(reinterpret_cast<Zuf32fc*>(x.data()), reinterpret_cast<Zuf32fc*>(x.data()), ctx, nullptr),
        zufOk);
    EXPECT_FLOAT_EQ(x[0], 64.0f);  // 4096 / sqrt 4096
    EXPECT_EQ(zufsFFTFree_C_32fc(ctx), zufOk);
    EXPECT_EQ(g_frees, g_mallocs);
    EXPECT_EQ(zufsFFTInitAlloc_C_32fc(&ctx, 31, 4, 0), zufErrFftOrder);
    EXPECT_EQ(zufsFFTInitAlloc_C_32fc(&ctx, 5, 3, 0), zufErrFftFlag);
    EXPECT_EQ(zufsFFTInitAlloc_C_32fc(nullptr, 5, 1, 0), zufErrNullPtr);
    g_fail = true;
    EXPECT_EQ(zufsFFTInitAlloc_C_32fc(&ctx, 5, 1, 0), zufErrNoMemory);
    g_fail = false;
    // Free of a context built in caller memory clears the ID but releases nothing.
    Ctx c(Fam::C32fc, 5, 1);
    const int before = g_frees;
    EXPECT_EQ(zufsFFTFree_C_32fc(static_cast<FftContext_C_32fc*>(c.ctx)), zufOk);
    EXPECT_EQ(g_frees, before);
    EXPECT_EQ(zufsFFTFree_C_32fc(static_cast<FftContext_C_32fc*>(c.ctx)), zufErrContext);
}

}  // namespace
