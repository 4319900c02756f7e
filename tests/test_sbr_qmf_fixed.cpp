// Fixed-point SBR QMF banks: every bank slot by slot against a double evaluation of its defining
// sum (zuf_sbr.h), the history, kx, contexts and statuses, and analysis-synthesis reconstruction.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <cstring>
#include <type_traits>
#include <vector>

#include "support/alloc_hooks.h"
#include "support/test_util.h"
#include "zufack9/zufack9.h"

namespace {

using C = std::complex<double>;
enum Kind { kAnaHQ, kAnaLP, kSynHQ, kSynLP, kDownHQ, kDownLP };

// Every bank through one signature (kx is ignored by synthesis).
template <class S, class D, class Ctx, auto F>
zufResult call(const Zuf32s* s, Zuf32s* d, int kx, void* c) {
    if constexpr (std::is_invocable_v<decltype(F), const S*, D*, int, Ctx*>)
        return F(reinterpret_cast<const S*>(s), reinterpret_cast<D*>(d), kx, static_cast<Ctx*>(c));
    else
        return F(reinterpret_cast<const S*>(s), reinterpret_cast<D*>(d), static_cast<Ctx*>(c));
}

struct Bank {
    const char* name;
    Kind kind;
    int in, out, hist, id;  // Zuf32s per call in and out, history length, ID word
    zufResult (*getSize)(int*);
    zufResult (*init)(Zuf8u*);
    zufResult (*initAlloc)(void*);  // void**
    zufResult (*free)(void*);
    zufResult (*run)(const Zuf32s*, Zuf32s*, int, void*);
    double bound;  // largest error in LSB against the double model (see Accuracy)
};

// clang-format off
#define BANK(kind, in, out, hist, id, F, T, S, D, bound)                                                 \
    {#kind, kind, in, out, hist, id, zufs##F##GetSize_##T, zufs##F##Init_##T,                            \
     [](void* p) { return zufs##F##InitAlloc_##T(static_cast<F##Context_##T**>(p)); },                   \
     [](void* p) { return zufs##F##Free_##T(static_cast<F##Context_##T*>(p)); },                         \
     call<S, D, F##Context_##T, zufs##F##_##T>, bound}
// clang-format on
const Bank kBanks[] = {
    BANK(kAnaHQ, 32, 64, 320, 0x434D4161, AnalysisFilter, SBRHQ_32s32sc, Zuf32s, Zuf32sc, 24),
    BANK(kAnaLP, 32, 32, 320, 0x434D4162, AnalysisFilter, SBRLP_32s, Zuf32s, Zuf32s, 24),
    BANK(kSynHQ, 128, 64, 1280, 0x434D4163, SynthesisFilter, SBRHQ_32sc32s, Zuf32sc, Zuf32s, 16),
    BANK(kSynLP, 64, 64, 1280, 0x434D4164, SynthesisFilter, SBRLP_32s, Zuf32s, Zuf32s, 16),
    BANK(kDownHQ, 64, 32, 640, 0x434D4165, SynthesisDownFilter, SBRHQ_32sc32s, Zuf32sc, Zuf32s, 16),
    BANK(kDownLP, 32, 32, 640, 0x434D4166, SynthesisDownFilter, SBRLP_32s, Zuf32s, Zuf32s, 16),
};

// A caller-placed context at a misaligned block.
struct Placed {
    int size = 0;
    std::vector<Zuf8u> mem;
    Zuf8u* p;
    explicit Placed(const Bank& b, int skew = 5) {
        EXPECT_EQ(b.getSize(&size), zufOk);
        mem.assign(size + skew, 0xEE);
        p = mem.data() + skew;
        EXPECT_EQ(b.init(p), zufOk);
    }
};

// The double model: the ring (newest value first) and the defining sums, the Q30 windows taken
// exactly (a mulhi's product / 2^32).
struct Model {
    Kind kind;
    std::vector<double> ring;
    const Zuf32s* W;
    explicit Model(const Bank& b)
        : kind(b.kind),
          ring(b.hist),
          W(b.hist == 1280 ? SBR_TABLE_QMF_WINDOW_640_INT_Q30 : SBR_TABLE_QMF_WINDOW_320_INT_Q30) {}
    double win(int r, int i) { return ring[r] * W[i] / 4294967296.0; }
    std::vector<double> step(const Zuf32s* in) {
        const bool ana = kind <= kAnaLP, hq = kind == kAnaHQ || kind == kSynHQ || kind == kDownHQ,
                   full = kind <= kSynLP;
        const int B = ana ? 32 : full ? 128 : 64, K = ana ? 64 : B / 2, h = B / 2;  // block, transform inputs
        std::vector<double> v(B), u(64), out;
        for (int n = 0; n < B; ++n)
            for (int k = 0; k < K && !ana; ++k) {
                const C x = hq ? C(in[2 * k], in[2 * k + 1]) : C(in[k]);
                const double pk = M_PI * (k + 0.5);
                v[n] += (!hq    ? x.real() * std::cos(2 * pk * (n - B / 4) / B)
                         : full ? (x * std::polar(1.0, pk * (2 * n - 255) / 128)).real()
                                : -(x * std::polar(1.0, pk * (2 * n + 0.5) / 64)).real()) /
                        16;
            }
        for (int i = 0; i < B && ana; ++i) v[31 - i] = in[i];
        ring.insert(ring.begin(), v.begin(), v.end());
        ring.resize(ring.size() - B);
        for (int k = 0; k < 64 && ana; ++k)
            for (int j = 0; j < 5; ++j) u[k] += win(k + 64 * j, k + 64 * j);
        for (int k = 0; k < 32 && ana; ++k) {
            C x = 0;
            for (int n = 0; n < 64; ++n)
                x += u[n] * (hq ? std::polar(1.0, M_PI * (k + 0.5) * (2 * n - 0.5) / 64)
                                : C(std::cos(M_PI * (k + 0.5) * (2 * n - 96) / 64)));
            out.push_back(x.real() / 16);
            if (hq) out.push_back(x.imag() / 16);
        }
        for (int n = 0; n < h && !ana; ++n) {
            out.push_back(0);
            for (int j = 0; j < 5; ++j)
                out[n] += win(2 * B * j + n, B * j + n) + win(2 * B * j + 3 * h + n, B * j + h + n);
        }
        return out;
    }
};

std::vector<Zuf32s> random_input(const Bank& b, zuft::Rng& rng, int amp) {
    std::vector<Zuf32s> v(b.in);
    for (auto& x : v) x = rng.range(-amp, amp);
    return v;
}

// Each output of 200 calls (the history carried over) against the model. Every mulhi result is
// 0..1 below the exact product / 2^32. Analysis: u is 0..5 LSB low, which the kernel (1/16 of
// 64 unit terms) turns into at most 20 LSB; the rotations' and the FFT's truncations, each a
// quarter of an LSB or less at the output after the last rotation, add about 4 with their
// spread: bound 24. Synthesis: the window stage alone is 0..10 LSB low; the new block's error
// (rotations and FFT, at most a few LSB) enters through taps summing to about 0.3: bound 16.
// The down-sampled banks also run on a full-band context of their mode, with the same results.
TEST(SbrQmfFixed, AccuracyAgainstDoubleModel) {
    for (const Bank& b : kBanks) {
        Placed ctx(b), twin(kBanks[b.kind >= kDownHQ ? b.kind - 2 : b.kind]);
        Model m(b);
        zuft::Rng rng(7);
        double worst = 0;
        std::vector<Zuf32s> out(b.out), out2(b.out);
        for (int call = 0; call < 200; ++call) {
            const auto in = random_input(b, rng, b.kind <= kAnaLP ? 1 << 24 : 1 << 23);
            ASSERT_EQ(b.run(in.data(), out.data(), 32, ctx.p), zufOk);
            const auto ref = m.step(in.data());
            for (int i = 0; i < b.out; ++i) worst = std::max(worst, std::fabs(out[i] - ref[i]));
            if (b.kind < kDownHQ) continue;
            ASSERT_EQ(b.run(in.data(), out2.data(), 32, twin.p), zufOk);
            EXPECT_EQ(out, out2) << b.name << " on a full-band context, call " << call;
        }
        std::printf("%-7s max error %.2f LSB\n", b.name, worst);
        EXPECT_LE(worst, b.bound) << b.name;
    }
}

// An impulse reaches exactly ten consecutive outputs (the ring holds ten blocks), and ten calls
// bring the header and state record (ID, pointers, flag 0, blk) back to what Init wrote.
TEST(SbrQmfFixed, ImpulseAndRing) {
    for (const Bank& b : kBanks) {
        Placed ctx(b);
        const int head = ctx.size - 15 - 4 * b.hist;
        EXPECT_EQ(head, sizeof(void*) == 4 ? 32 : 48) << b.name;
        Zuf8u* base = ctx.p + (-reinterpret_cast<std::uintptr_t>(ctx.p) & 15);
        const std::vector<Zuf8u> fresh(base, base + head);
        EXPECT_EQ(std::memcmp(base, &b.id, 4), 0) << b.name;
        std::vector<Zuf32s> in(b.in), out(b.out);
        in[0] = 1 << 26;  // analysis: sample 0 (r = 31, a non-zero tap), synthesis: Re band 0
        for (int call = 0; call < 15; ++call) {
            ASSERT_EQ(b.run(in.data(), out.data(), 32, ctx.p), zufOk);
            in[0] = 0;
            EXPECT_EQ(out != std::vector<Zuf32s>(b.out, 0), call < 10) << b.name << " call " << call;
            EXPECT_EQ(std::memcmp(base, fresh.data(), head) == 0, call == 9) << b.name << " call " << call;
        }
    }
}

// kx = 0 gives a zero row but keeps the samples; 33 and -1 are refused before anything is
// written; bands kx..31 are zeroed, the others unchanged.
TEST(SbrQmfFixed, BandLimitKx) {
    for (const Bank& b : {kBanks[kAnaHQ], kBanks[kAnaLP]}) {
        Placed a(b), c(b);
        zuft::Rng rng(3);
        std::vector<Zuf32s> out(b.out, 0x5A5A5A5A), ref(b.out);
        for (int kx : {33, -1}) EXPECT_EQ(b.run(ref.data(), out.data(), kx, a.p), zufErrSize) << b.name;
        EXPECT_EQ(out, std::vector<Zuf32s>(b.out, 0x5A5A5A5A));
        for (int kx : {0, 32, 5, 31}) {
            const auto in = random_input(b, rng, 1 << 24);
            EXPECT_EQ(b.run(in.data(), out.data(), kx, a.p), zufOk);
            b.run(in.data(), ref.data(), 32, c.p);
            std::fill(ref.begin() + b.out / 32 * kx, ref.end(), 0);
            EXPECT_EQ(out, ref) << b.name << " kx " << kx;
        }
    }
}

// Statuses and their order; the lifecycle through the allocator hooks.
TEST(SbrQmfFixed, StatusesAndLifecycle) {
    for (int i = 0; i < 6; ++i) {
        const Bank &b = kBanks[i], &other = kBanks[(i + 1) % 6];  // never the full-band twin of a down bank
        Placed ctx(b), wrong(other);
        std::vector<Zuf32s> in(b.in), out(b.out);
        for (zufResult st : {b.getSize(nullptr), b.init(nullptr), b.initAlloc(nullptr), b.free(nullptr),
                             b.run(nullptr, out.data(), 32, ctx.p), b.run(in.data(), nullptr, 32, ctx.p),
                             b.run(in.data(), out.data(), 32, nullptr), b.run(nullptr, out.data(), 33, wrong.p)})
            EXPECT_EQ(st, zufErrNullPtr) << b.name;
        EXPECT_EQ(b.run(in.data(), out.data(), 33, wrong.p), zufErrContext) << b.name;
        EXPECT_EQ(b.free(wrong.p), zufErrContext) << b.name;
        {
            zuft::CountingHooks hooks;
            EXPECT_EQ(b.free(ctx.p), zufOk);  // Init-built: nothing released, still usable
            EXPECT_EQ(hooks.frees, 0);
            EXPECT_EQ(b.run(in.data(), out.data(), 32, ctx.p), zufOk);
        }
        void *sentinel = &ctx, *p = sentinel;
        {
            zuft::CountingHooks hooks(1);
            EXPECT_EQ(b.initAlloc(&p), zufErrNoMemory);
            EXPECT_EQ(p, sentinel);
        }
        zuft::CountingHooks hooks(0, 4);
        ASSERT_EQ(b.initAlloc(&p), zufOk);
        EXPECT_EQ(b.run(in.data(), out.data(), 32, p), zufOk);
        EXPECT_EQ(b.free(p), zufOk);
        EXPECT_EQ(hooks.mallocs, 1);
        EXPECT_EQ(hooks.frees, 1);
    }
}

// SNR of y against a fitted tone of frequency f (cycles per output, whole periods) and DC.
double tone_snr(const std::vector<double>& y, double f) {
    const double n = static_cast<double>(y.size());
    double s = 0, c = 0, dc = 0, noise = 0;
    for (std::size_t i = 0; i < y.size(); ++i)
        s += y[i] * std::sin(2 * M_PI * f * i) * 2 / n, c += y[i] * std::cos(2 * M_PI * f * i) * 2 / n, dc += y[i] / n;
    for (std::size_t i = 0; i < y.size(); ++i)
        noise += std::pow(y[i] - s * std::sin(2 * M_PI * f * i) - c * std::cos(2 * M_PI * f * i) - dc, 2) / n;
    return 10 * std::log10((s * s + c * c) / 2 / noise);
}

// A tone through analysis and synthesis comes back delayed and scaled; what the fitted tone
// leaves is the bank's aliasing and ripple plus the fixed-point noise. The same chain through
// the double models (bands rounded to integers) measures the first, so the fixed-point chain
// must come within 1 dB of it. Full synthesis takes the 32 bands as its lower half, at twice
// the rate.
TEST(SbrQmfFixed, ReconstructionSnr) {
    for (const auto& [ana, syn] : {std::pair{kAnaHQ, kSynHQ}, std::pair{kAnaHQ, kDownHQ}, std::pair{kAnaLP, kSynLP},
                                   std::pair{kAnaLP, kDownLP}}) {
        const Bank &a = kBanks[ana], &s = kBanks[syn];
        Placed ca(a), cs(s);
        Model ma(a), ms(s);
        std::vector<double> y, ym;
        std::vector<Zuf32s> x(32), bands(a.out), sin_in(s.in), sin_m(s.in), out(s.out);
        for (int t = 0; t < 256; ++t) {
            for (int i = 0; i < 32; ++i) x[i] = std::lround(std::ldexp(std::sin(2 * M_PI * 3 / 64 * (32 * t + i)), 26));
            a.run(x.data(), bands.data(), 32, ca.p);
            const auto bm = ma.step(x.data());
            for (int i = 0; i < a.out; ++i) sin_in[i] = bands[i] * 8, sin_m[i] = std::lround(bm[i] * 8);
            s.run(sin_in.data(), out.data(), 0, cs.p);
            const auto om = ms.step(sin_m.data());
            if (t >= 32) y.insert(y.end(), out.begin(), out.end()), ym.insert(ym.end(), om.begin(), om.end());
        }
        const double f = 3.0 / 64 / (s.out / 32), snr = tone_snr(y, f), ref = tone_snr(ym, f);
        std::printf("%s -> %s: SNR %.1f dB (double model %.1f dB)\n", a.name, s.name, snr, ref);
        EXPECT_GE(snr, std::max(ref - 1, 60.0)) << a.name << " -> " << s.name;
    }
}

// The 32-bit complex banks against the float ones on the same signal, at the scalings the example
// SBR decoder converts with: analysis of x 2^10 gives 2^(10-7) times the float bands (1/64 against
// 2), synthesis of X 2^5 gives the float samples times 2^5; apart from that, the fixed banks'
// own rounding (24 and 16 LSB, as above) and the float banks' (relative 1e-5).
TEST(SbrQmfFixed, AgreesWithFloatBanks) {
    std::vector<Zuf32f> w320(320);
    for (int n = 0; n < 320; ++n) w320[n] = SBR_TAB_QMF_WINDOW_640_FP[2 * n];
    int sa, ia, wa, ss, is, ws;
    ASSERT_EQ(zufsAnalysisFilterGetSize_SBR_RToC_32f32fc(&sa, &ia, &wa), zufOk);
    ASSERT_EQ(zufsSynthesisFilterGetSize_SBR_CToR_32fc32f(&ss, &is, &ws), zufOk);
    ASSERT_TRUE(sa + ia + wa < 16384 && ss + is + ws < 16384);
    alignas(16) static Zuf8u ctxMem[2][16384], init[16384], work[16384], fixed[2][8192];
    AnalysisFilterContext_SBR_RToC_32f32fc* fa;
    SynthesisFilterContext_SBR_CToR_32fc32f* fs;
    ASSERT_EQ(zufsAnalysisFilterInit_SBR_RToC_32f32fc(&fa, ctxMem[0], init), zufOk);
    ASSERT_EQ(zufsSynthesisFilterInit_SBR_CToR_32fc32f(&fs, ctxMem[1], init), zufOk);
    ASSERT_EQ(zufsAnalysisFilterInit_SBRHQ_32s32sc(fixed[0]), zufOk);
    ASSERT_EQ(zufsSynthesisFilterInit_SBRHQ_32sc32s(fixed[1]), zufOk);
    zuft::Rng rng(11);
    for (int slot = 0; slot < 48; ++slot) {
        const int syn = slot % 2;  // analysis and synthesis slots alternate, each bank keeps its history
        std::vector<Zuf32f> x(syn ? 128 : 32), yf(64);
        std::vector<Zuf32s> xi(x.size()), yi(64);
        for (size_t i = 0; i < x.size(); ++i) {
            x[i] = std::round(rng.uniform(-1, 1) * (syn ? 1 << 19 : 32767));
            xi[i] = static_cast<Zuf32s>(x[i] * (syn ? 32 : 1024));
        }
        Zuf32fc* row = reinterpret_cast<Zuf32fc*>(syn ? x.data() : yf.data());
        const Zuf32fc* crow = row;
        if (syn) {
            ASSERT_EQ(
                zufsSynthesisFilter_SBR_CToR_32fc32f_D2L(&crow, yf.data(), SBR_TAB_QMF_WINDOW_640_FP, 1, fs, work),
                zufOk);
            ASSERT_EQ(
                zufsSynthesisFilter_SBRHQ_32sc32s(reinterpret_cast<const Zuf32sc*>(xi.data()), yi.data(),
                                                  reinterpret_cast<SynthesisFilterContext_SBRHQ_32sc32s*>(fixed[1])),
                zufOk);
        } else {
            ASSERT_EQ(zufsAnalysisFilter_SBR_RToC_32f32fc_D2L(x.data(), &row, w320.data(), 1, 0, 32, fa, work), zufOk);
            ASSERT_EQ(
                zufsAnalysisFilter_SBRHQ_32s32sc(xi.data(), reinterpret_cast<Zuf32sc*>(yi.data()), 32,
                                                 reinterpret_cast<AnalysisFilterContext_SBRHQ_32s32sc*>(fixed[0])),
                zufOk);
        }
        const double scale = syn ? 1.0 / 32 : 0.125, tol = syn ? 16 : 24;
        for (int i = 0; i < 64; ++i)
            ASSERT_NEAR(yi[i] * scale, yf[i], tol * scale + 1e-5 * std::fabs(yf[i]) + 1) << slot << " " << i;
    }
}

}  // namespace
