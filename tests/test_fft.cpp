// Float FFT families: accuracy against the long-double defining sums for every order 0..16 and a
// sample of larger ones, both directions, every flag; in place, misaligned and the SSE kernels
// against the scalar reference bit for bit; sizes, checks, contexts and work buffers. (The
// twiddle table is generated: tables.regenerate checks it against its generator.)
#include <gtest/gtest.h>

#include <cmath>
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
constexpr Fam kFams[] = {Fam::C32fc, Fam::C32f, Fam::R32f};
constexpr int kFlags[] = {1, 2, 4, 8};

zufResult get_size(Fam f, int order, int flag, int* s, int* i, int* w) {
    auto* g = f == Fam::C32fc ? zufsFFTGetSize_C_32fc : f == Fam::C32f ? zufsFFTGetSize_C_32f : zufsFFTGetSize_R_32f;
    return g(order, flag, 0, s, i, w);
}

zufResult init(Fam f, void** ctx, int order, int flag, Zuf8u* mem, Zuf8u* buf) {
    if (f == Fam::C32fc)
        return zufsFFTInit_C_32fc(reinterpret_cast<FftContext_C_32fc**>(ctx), order, flag, 0, mem, buf);
    if (f == Fam::C32f) return zufsFFTInit_C_32f(reinterpret_cast<FftContext_C_32f**>(ctx), order, flag, 0, mem, buf);
    return zufsFFTInit_R_32f(reinterpret_cast<FftContext_R_32f**>(ctx), order, flag, 0, mem, buf);
}

// A context in caller memory placed at an odd offset, with its work buffer.
struct Ctx {
    std::vector<Zuf8u> ctxMem, initBuf, work;
    void* ctx = nullptr;
    Fam fam;
    int order;
    Ctx(Fam f, int o, int fl) : fam(f), order(o) {
        int s = 0, i = 0, w = 0;
        EXPECT_EQ(get_size(f, o, fl, &s, &i, &w), zufOk);
        ctxMem.resize(s + 3);
        initBuf.resize(i + 3);
        work.resize(w + 3);
        EXPECT_EQ(init(f, &ctx, o, fl, ctxMem.data() + 3, i ? initBuf.data() + 3 : nullptr), zufOk);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(ctx) % 32, 0u);
    }
    const FftContext_C_32fc* internal() const { return static_cast<const FftContext_C_32fc*>(ctx); }
    int64_t n() const { return int64_t{1} << order; }
    // Floats of the input and of the output.
    int64_t floats() const { return fam == Fam::R32f ? n() : 2 * n(); }
    zufResult run(const float* in, float* out, bool inverse, Zuf8u* buf) const {
        auto* xc = reinterpret_cast<const Zuf32fc*>(in);
        auto* yc = reinterpret_cast<Zuf32fc*>(out);
        auto* cc = static_cast<FftContext_C_32fc*>(ctx);
        auto* cr = static_cast<FftContext_R_32f*>(ctx);
        switch (fam) {
            case Fam::C32fc:
                return inverse ? zufsFFTInv_CToC_32fc(xc, yc, cc, buf) : zufsFFTFwd_CToC_32fc(xc, yc, cc, buf);
            case Fam::C32f:  // split arrays: real parts, then imaginary parts
                return zufsFFTFwd_CToC_32f(in, in + n(), out, out + n(), static_cast<FftContext_C_32f*>(ctx), buf);
            default:
                return inverse ? zufsFFTInv_PermToR_32f(in, out, cr, buf) : zufsFFTFwd_RToPerm_32f(in, out, cr, buf);
        }
    }
    zufResult run(const float* in, float* out, bool inverse) { return run(in, out, inverse, work.data() + 3); }
};

LD factor(int flag, bool inverse, int64_t n) {
    if (flag == 4) return 1.0L / std::sqrt(static_cast<LD>(n));
    if ((flag == 1 && !inverse) || (flag == 2 && inverse)) return 1.0L / static_cast<LD>(n);
    return 1.0L;
}

// Value k of an input or output layout as a complex number: interleaved, split (real parts, then
// imaginary parts), real, or the Perm spectrum (bins 0..N/2, N/2's real part in slot 1; the
// Hermitian rest by conjugation).
CLD value(Fam fam, const std::vector<float>& v, int64_t n, int64_t k, bool perm) {
    if (fam == Fam::C32fc) return CLD(v[2 * k], v[2 * k + 1]);
    if (fam == Fam::C32f) return CLD(v[k], v[n + k]);
    if (!perm || k == 0) return v[k];
    if (k == n / 2) return v[1];
    return k < n / 2 ? CLD(v[2 * k], v[2 * k + 1]) : std::conj(CLD(v[2 * (n - k)], v[2 * (n - k) + 1]));
}

// The defining sums (unit factor) at the sampled outputs: (output index, value) pairs.
struct Ref {
    std::vector<int64_t> bins;
    std::vector<CLD> want;
};

Ref reference(Fam fam, int64_t n, bool inverse, const std::vector<float>& in) {
    const zuft::Roots w(n);
    const bool real_out = fam == Fam::R32f && !inverse;  // bins 0..N/2
    Ref r;
    r.bins = zuft::sample_bins(real_out ? n / 2 + 1 : n, 1024, n > (1 << 18) ? 4 : (n > 65536 ? 16 : 48));
    auto x = [&](int64_t i) { return value(fam, in, n, i, fam == Fam::R32f && inverse); };
    for (int64_t k : r.bins) r.want.push_back(zuft::dft_bin(x, n, k, inverse ? +1 : -1, w));
    return r;
}

// Relative RMS error of a transform's output against f times the reference.
double error_vs(Fam fam, int64_t n, bool inverse, const Ref& r, const std::vector<float>& out, LD f) {
    zuft::RelErr e;
    for (size_t i = 0; i < r.bins.size(); ++i)
        e.add(value(fam, out, n, r.bins[i], fam == Fam::R32f && !inverse), f * r.want[i]);
    return e.value();
}

// In place at every misalignment, the scalar reference instantiation of the same algorithm and a
// null work buffer all give the bits of `ref`; the null one is allocated through the hooks when
// the transform needs one, and refused when they fail, a given one never.
void check_kernels(Ctx& c, const std::vector<float>& x, const std::vector<float>& ref, bool inverse) {
    std::vector<float> s(x.size()), work(c.work.size() / 4 + 16);
    for (size_t mis : {size_t{4}, size_t{8}, size_t{12}}) {
        zuft::Placed<float> buf(x.size(), mis);
        buf.assign(x);
        ASSERT_EQ(c.run(buf.data(), buf.data(), inverse), zufOk);
        EXPECT_TRUE(buf.guards_intact());
        EXPECT_EQ(std::memcmp(buf.data(), ref.data(), 4 * x.size()), 0) << c.order << " misalign " << mis;
    }
    const auto* ic = c.internal();
    const bool scale = inverse ? ic->invNorm : ic->fwdNorm;
    const auto dir = inverse ? zuf::xf::Dir::Inv : zuf::xf::Dir::Fwd;
    const int64_t n = c.n();
    if (c.fam == Fam::C32fc)
        zuf::xf::ownsFFT_C_32fc_ref(ic, x.data(), s.data(), work.data(), dir, scale, ic->norm);
    else if (c.fam == Fam::C32f)
        zuf::xf::ownsFFT_C_32f_ref(ic, x.data(), x.data() + n, s.data(), s.data() + n, work.data(), scale, ic->norm);
    else
        zuf::xf::ownsFFT_R_32f_ref(ic, x.data(), s.data(), work.data(), dir, scale, ic->norm);
    EXPECT_EQ(std::memcmp(s.data(), ref.data(), 4 * x.size()), 0) << "scalar vs SSE, order " << c.order;
    zuft::HookGuard hooks;
    ASSERT_EQ(c.run(x.data(), s.data(), inverse, nullptr), zufOk);
    EXPECT_EQ(std::memcmp(s.data(), ref.data(), 4 * x.size()), 0) << "own work buffer, order " << c.order;
    const bool needs_work = c.work.size() > 3;  // GetSize's work size is not 0
    EXPECT_EQ(hooks.mallocs, needs_work ? 1 : 0) << c.order;
    EXPECT_EQ(hooks.frees, hooks.mallocs);
    hooks.fail = true;
    EXPECT_EQ(c.run(x.data(), s.data(), inverse, nullptr), needs_work ? zufErrNoMemory : zufOk);
}

#if defined(__i386__)
constexpr int kLargeOrders[] = {17};  // under emulation: the larger ones cost minutes
#else
constexpr int kLargeOrders[] = {17, 19, 22};
#endif

// Every family, order, direction and flag against the defining sums; with flag 4 (up to order 17)
// the kernels agree bit for bit.
TEST(Fft, EveryFamilyOrderDirectionAndFlag) {
    std::vector<int> orders;
    for (int order = 0; order <= 16; ++order) orders.push_back(order);
    orders.insert(orders.end(), std::begin(kLargeOrders), std::end(kLargeOrders));
    for (Fam fam : kFams)
        for (int order : orders)
            for (bool inverse : {false, true}) {
                if (fam == Fam::C32f && inverse) continue;
                const int64_t n = int64_t{1} << order;
                const auto in = zuft::random_floats(Ctx(fam, order, 8).floats(), 1000u + order * 7u + inverse);
                std::vector<float> out(in.size());
                const Ref ref = reference(fam, n, inverse, in);
                for (int flag : kFlags) {
                    Ctx c(fam, order, flag);
                    ASSERT_EQ(c.run(in.data(), out.data(), inverse), zufOk);
                    EXPECT_LE(error_vs(fam, n, inverse, ref, out, factor(flag, inverse, n)), zuft::accuracy_bound(n))
                        << "order " << order << " flag " << flag << " inverse " << inverse;
                    if (flag == 4 && order <= 17) check_kernels(c, in, out, inverse);
                }
            }
}

// An infinity and signed zeros: the kernels take the same path through them as the scalar
// reference (the butterflies that skip a rotation by 1 must skip it in every build, or inf * 0
// turns into NaN where the reference has none).
TEST(Fft, SpecialValuesTakeTheScalarPath) {
    for (int order = 4; order <= 12; ++order)
        for (bool inverse : {false, true}) {
            Ctx c(Fam::C32fc, order, 4);
            auto in = zuft::random_floats(c.floats(), 77u + order);
            in[0] = INFINITY;
            in[1] = 0.0f;
            in[2] = in[3] = -0.0f;
            std::vector<float> out(in.size());
            ASSERT_EQ(c.run(in.data(), out.data(), inverse), zufOk);
            check_kernels(c, in, out, inverse);
        }
}

// Each documented check once, in order; the sizes that announce init and work buffers; a
// context of another family refused; caller-memory and InitAlloc lifecycles.
TEST(FftApi, ChecksSizesAndContexts) {
    int s = 0, i = 0, w = 0;
    for (Fam f : kFams) {
        EXPECT_EQ(get_size(f, 31, 1, nullptr, &i, &w), zufErrFftOrder);  // order, pointers, flag
        EXPECT_EQ(get_size(f, 5, 3, nullptr, &i, &w), zufErrNullPtr);
        EXPECT_EQ(get_size(f, 5, 3, &s, &i, &w), zufErrFftFlag);
        for (int order : {0, 3, 10, 11}) {  // an init buffer above order 10, a work buffer above 3
            ASSERT_EQ(get_size(f, order, 8, &s, &i, &w), zufOk);
            EXPECT_EQ(i > 0, order > 10) << order;
            EXPECT_EQ(w > 0, order > 3) << order;
            if (order <= 3) {
                EXPECT_EQ(s, sizeof(void*) == 4 ? 112 : 152);  // documented per target
            }
        }
        // The largest order has sizes that fit (the split family's data copy is the exception).
        EXPECT_TRUE(f == Fam::C32f || get_size(f, 30, 2, &s, &i, &w) == zufOk);
    }
    std::vector<Zuf8u> mem(4096);
    void* ctx = nullptr;
    EXPECT_EQ(init(Fam::C32fc, nullptr, 31, 3, nullptr, nullptr), zufErrNullPtr);
    EXPECT_EQ(init(Fam::C32fc, &ctx, 31, 3, nullptr, nullptr), zufErrFftOrder);
    EXPECT_EQ(init(Fam::R32f, &ctx, 4, 3, nullptr, nullptr), zufErrNullPtr);
    EXPECT_EQ(init(Fam::C32f, &ctx, 4, 3, mem.data(), nullptr), zufErrFftFlag);
    EXPECT_EQ(init(Fam::C32fc, &ctx, 11, 8, mem.data(), nullptr), zufErrNullPtr);  // needs the init buffer
    EXPECT_EQ(ctx, nullptr);

    // A null context before the ID, the ID before the data.
    Ctx cc(Fam::C32fc, 6, 8), cs(Fam::C32f, 6, 8), cr(Fam::R32f, 6, 8);
    std::vector<float> x(128), y(128);
    auto *pc = static_cast<FftContext_C_32fc*>(cc.ctx), *ps_as_c = static_cast<FftContext_C_32fc*>(cs.ctx);
    auto *pr = static_cast<FftContext_R_32f*>(cr.ctx), *pc_as_r = static_cast<FftContext_R_32f*>(cc.ctx);
    auto* xc = reinterpret_cast<Zuf32fc*>(x.data());
    EXPECT_EQ(zufsFFTFwd_CToC_32fc(xc, xc, static_cast<FftContext_C_32fc*>(cr.ctx), nullptr), zufErrContext);
    EXPECT_EQ(
        zufsFFTFwd_CToC_32f(x.data(), x.data(), y.data(), y.data(), static_cast<FftContext_C_32f*>(cc.ctx), nullptr),
        zufErrContext);
    EXPECT_EQ(zufsFFTFwd_RToPerm_32f(nullptr, nullptr, pc_as_r, nullptr), zufErrContext);
    EXPECT_EQ(zufsFFTGetBufSize_R_32f(pc_as_r, &s), zufErrContext);
    EXPECT_EQ(zufsFFTFwd_RToPerm_32f(x.data(), nullptr, pr, nullptr), zufErrNullPtr);
    EXPECT_EQ(zufsFFTFwd_CToC_32fc(xc, xc, nullptr, nullptr), zufErrNullPtr);
    EXPECT_EQ(zufsFFTGetBufSize_C_32fc(pc, nullptr), zufErrNullPtr);
    ASSERT_EQ(zufsFFTGetBufSize_C_32fc(pc, &s), zufOk);
    EXPECT_EQ(s, 16 * 64 + 32);

    zuft::HookGuard hooks;
    FftContext_C_32fc* a = nullptr;
    EXPECT_EQ(zufsFFTInitAlloc_C_32fc(&a, 31, 4, 0), zufErrFftOrder);
    EXPECT_EQ(zufsFFTInitAlloc_C_32fc(&a, 5, 3, 0), zufErrFftFlag);
    EXPECT_EQ(zufsFFTInitAlloc_C_32fc(nullptr, 5, 1, 0), zufErrNullPtr);
    ASSERT_EQ(zufsFFTInitAlloc_C_32fc(&a, 12, 4, 0), zufOk);
    EXPECT_EQ(hooks.mallocs - hooks.frees, 1);  // the context block stays, the init buffer went
    std::vector<Zuf32fc> v(4096, Zuf32fc{1.0f, 1.0f});
    EXPECT_EQ(zufsFFTFwd_CToC_32fc(v.data(), v.data(), a, nullptr), zufOk);
    EXPECT_FLOAT_EQ(v[0].re, 64.0f);  // 4096 / sqrt 4096
    EXPECT_EQ(zufsFFTFree_C_32fc(ps_as_c), zufErrContext);
    EXPECT_EQ(zufsFFTFree_C_32fc(a), zufOk);
    EXPECT_EQ(hooks.frees, hooks.mallocs);
    hooks.fail = true;
    EXPECT_EQ(zufsFFTInitAlloc_C_32fc(&a, 5, 1, 0), zufErrNoMemory);
    // Free of a context built in caller memory clears the ID but releases nothing.
    const int before = hooks.frees;
    EXPECT_EQ(zufsFFTFree_C_32fc(pc), zufOk);
    EXPECT_EQ(zufsFFTFree_C_32fc(pc), zufErrContext);
    EXPECT_EQ(hooks.frees, before);
}

}  // namespace
