// One build against another: every family of vector kernels runs on fixed pseudo-random inputs at
// several lengths and alignments, and the bits of its outputs (and statuses) fold into one 64-bit
// digest per family. The digests in the table come from the default x86-64 build (SSE3); the
// AVX2 build (ZUF_ISA=avx2) and the 32-bit build must reproduce them bit for bit, which is the
// proof that the wider kernels and the other target compute exactly what the default build does.
//
// After a deliberate change of a kernel's arithmetic (the float FFT's butterflies, say), run the
// default build's test with ZUF_PRINT_DIGESTS=1: it prints this build's table lines, ready to be
// pasted over the old ones (every digest that depends on the changed kernel moves together).
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <type_traits>
#include <vector>

#include "support/test_util.h"
#include "zufack9/zufack9.h"

namespace {

// FNV-1a over bytes; the inputs come from xorshift32 (no <random> distribution, whose
// floating-point arithmetic is the library's business on neither target).
struct Digest {
    uint64_t h = 0xCBF29CE484222325u;
    uint32_t s = 0x9E3779B9u;
    uint32_t next() { return s ^= s << 13, s ^= s >> 17, s ^= s << 5; }
    float f(float scale) { return static_cast<float>(static_cast<int32_t>(next())) * (scale / 2147483648.0f); }
    int32_t bits(int n) { return static_cast<int32_t>(next()) >> (32 - n); }
    template <class T>
    void fill(T* p, int n, float scale) {
        for (int i = 0; i < n; ++i) {
            if constexpr (std::is_floating_point_v<T>)
                p[i] = f(scale);
            else
                p[i] = static_cast<T>(bits(static_cast<int>(scale)));
        }
    }
    void add(const void* p, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) h = (h ^ static_cast<const uint8_t*>(p)[i]) * 0x100000001B3u;
    }
    template <class T>
    void add(const T* p, int n) {
        add(static_cast<const void*>(p), sizeof(T) * static_cast<std::size_t>(n));
    }
    void st(zufResult r) { add(&r, 1); }
};

template <class T>
using Buf = zuft::Placed<T>;
const int kLens[] = {1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 24, 31, 32, 33, 63, 64, 100, 257};
// len x misalignment (0..3 elements past a 64-byte boundary: floats stay naturally aligned)
void sweep(const std::function<void(int, int)>& f) {
    for (int len : kLens)
        for (int m = 0; m < 4; ++m) f(len, m);
}
// A context block from GetSize-style sizes: context, init and work memory, with slack for alignment.
struct Mem {
    std::vector<Zuf8u> ctx, init, work;
    Mem(int s, int i, int w) : ctx(s + 64), init(i + 64), work(w + 64) {}
};

void vec_arith(Digest& d) {
    sweep([&](int n, int m) {
        Buf<Zuf32s> a(n, 4 * m), b(n, 4 * ((m + 1) % 4));
        for (int sf : {-40, -3, 0, 1, 7, 32, 33}) {
            d.fill(a.data(), n, 32), d.fill(b.data(), n, 31 - (sf & 3));
            d.st(zufsAdd_32s_ISfs(a.data(), b.data(), n, sf)), d.add(b.data(), n);
        }
        d.st(zufsRShiftC_32s_I(1 + n % 33, b.data(), n)), d.add(b.data(), n);
        Buf<Zuf32f> x(n, 4 * m);
        d.fill(x.data(), n, 1e3f);
        d.st(zufsMulC_32f_I(0.70710677f, x.data(), n)), d.add(x.data(), n);
    });
}

void vec_convert(Digest& d) {
    sweep([&](int n, int m) {
        Buf<Zuf16s> s(n, 2 * m), o(n, 2 * ((m + 3) % 4));
        Buf<Zuf32f> f(n, 4 * m);
        Buf<Zuf32s> w(n, 4 * ((m + 2) % 4));
        d.fill(s.data(), n, 16), d.st(zufsConvert_16s32f(s.data(), f.data(), n)), d.add(f.data(), n);
        for (int sf : {-15, -3, 0, 4, 31}) {
            d.fill(w.data(), n, 20 + sf % 12), d.st(zufsConvert_32s16s_Sfs(w.data(), o.data(), n, sf));
            d.add(o.data(), n);
            d.fill(f.data(), n, 7e4f);
            for (int rnd : {0, 1}) d.st(zufsConvert_32f16s_Sfs(f.data(), o.data(), n, rnd, sf / 2)), d.add(o.data(), n);
        }
    });
}

void vec_stats_complex(Digest& d) {
    sweep([&](int n, int m) {
        Buf<Zuf16s> s(n, 2 * m);
        Zuf16s lo, hi;
        d.fill(s.data(), n, 16), d.st(zufsMinMax_16s(s.data(), n, &lo, &hi)), d.add(&lo, 1), d.add(&hi, 1);
        Buf<Zuf32f> x(2 * n, 4 * m), re(n, 4 * ((m + 1) % 4)), im(n, 4 * ((m + 2) % 4));
        Buf<Zuf32fc> a(n, 8 * (m % 2)), b(n, 8 * (m / 2)), c(n, 4 * m);
        Zuf32f sd;
        d.fill(x.data(), 2 * n, 100.0f);
        for (int hint : {0, 1}) d.st(zufsStdDev_32f(x.data(), 2 * n, &sd, hint)), d.add(&sd, 1);
        d.fill(&a[0].re, 2 * n, 8.0f), d.fill(&b[0].re, 2 * n, 8.0f);
        d.st(zufsCplxToReal_32fc(a.data(), re.data(), im.data(), n)), d.add(re.data(), n), d.add(im.data(), n);
        d.st(zufsRealToCplx_32f(re.data(), m ? im.data() : nullptr, c.data(), n)), d.add(c.data(), n);
        d.st(zufsMul_32fc(a.data(), b.data(), c.data(), n)), d.add(c.data(), n);
        d.st(zufsMul_32fc_I(c.data(), a.data(), n)), d.add(a.data(), n);
    });
}

void vec_interleave(Digest& d) {
    sweep([&](int n, int m) {
        for (int ch : {1, 2, 3, 6}) {
            Buf<Zuf16s> s(ch * n, 2 * m), t(ch * n, 2 * ((m + 1) % 4)), e(n, 2 * m);
            Buf<Zuf32f> f(ch * n, 4 * m), g(ch * n, 4 * ((m + 3) % 4));
            std::vector<Zuf16s*> ps(ch);
            std::vector<Zuf32f*> pf(ch);
            for (int c = 0; c < ch; ++c) ps[c] = t.data() + c * n, pf[c] = g.data() + c * n;
            d.fill(s.data(), ch * n, 16), d.fill(f.data(), ch * n, 1.0f);
            d.st(zufsDeinterleave_16s(s.data(), ch, n, ps.data())), d.add(t.data(), ch * n);
            d.st(zufsDeinterleave_32f(f.data(), ch, n, pf.data())), d.add(g.data(), ch * n);
            d.st(zufsInterleave_16s(ps.data(), ch, n, s.data())), d.add(s.data(), ch * n);
            d.st(zufsInterleave_32f(pf.data(), ch, n, f.data())), d.add(f.data(), ch * n);
            for (int i = 0; i < n; ++i) e[i] = static_cast<Zuf16s>(d.bits(8) % 100);
            d.st(zufsMakeFloat_16s32f(s.data(), e.data(), n, f.data())), d.add(f.data(), n);
            d.st(zufsCalcSF_16s32f(s.data(), 100, f.data(), n)), d.add(f.data(), n);
        }
    });
}

void fir_block(Digest& d) {
    for (int taps : {1, 2, 3, 8, 17})
        sweep([&](int n, int m) {
            FirBlockContext_32f* c = nullptr;
            ASSERT_EQ(zufsFIRBlockInitAlloc_32f(&c, taps, n), zufOk);
            Buf<Zuf32f> h(taps, 4 * m), x(n, 4 * ((m + 1) % 4)), y(n, 4 * ((m + 2) % 4));
            d.fill(h.data(), taps, 0.5f);
            for (int call = 0; call < 5; ++call)
                d.fill(x.data(), n, 1e4f), d.st(zufsFIRBlockOne_32f(x.data(), y.data(), c, h.data())),
                    d.add(y.data(), n);
            zufsFIRBlockFree_32f(c);
        });
}

void fft_float(Digest& d) {
    for (int order = 0; order <= 12; ++order)
        for (int m = 0; m < 4; m += 3) {
            const int n = 1 << order, flag = 1 << (order % 4);
            int s, i, w;
            zufsFFTGetSize_C_32fc(order, flag, 0, &s, &i, &w);
            Mem c(s, i, w), r(0, 0, 0), p(0, 0, 0);
            FftContext_C_32fc* fc = nullptr;
            ASSERT_EQ(zufsFFTInit_C_32fc(&fc, order, flag, 0, c.ctx.data() + m, c.init.data()), zufOk);
            Buf<Zuf32fc> x(n, 8 * m), y(n, 8 * (m % 2));
            d.fill(&x[0].re, 2 * n, 1.0f);
            d.st(zufsFFTFwd_CToC_32fc(x.data(), y.data(), fc, c.work.data() + m)), d.add(y.data(), n);
            d.st(zufsFFTInv_CToC_32fc(y.data(), x.data(), fc, c.work.data())), d.add(x.data(), n);
            zufsFFTGetSize_C_32f(order, flag, 0, &s, &i, &w);
            p = Mem(s, i, w);
            FftContext_C_32f* fs = nullptr;
            ASSERT_EQ(zufsFFTInit_C_32f(&fs, order, flag, 0, p.ctx.data() + m, p.init.data()), zufOk);
            Buf<Zuf32f> a(n, 4 * m), b(n, 4 * m), e(n + 2, 4 * ((m + 1) % 4)), g(n + 2, 4 * ((m + 2) % 4));
            d.fill(a.data(), n, 1.0f), d.fill(b.data(), n, 1.0f);
            d.st(zufsFFTFwd_CToC_32f(a.data(), b.data(), e.data(), g.data(), fs, p.work.data())), d.add(e.data(), n);
            d.add(g.data(), n);
            zufsFFTGetSize_R_32f(order, flag, 0, &s, &i, &w);
            r = Mem(s, i, w);
            FftContext_R_32f* fr = nullptr;
            ASSERT_EQ(zufsFFTInit_R_32f(&fr, order, flag, 0, r.ctx.data() + m, r.init.data()), zufOk);
            d.st(zufsFFTFwd_RToPerm_32f(a.data(), e.data(), fr, r.work.data())), d.add(e.data(), n);
            d.st(zufsFFTInv_PermToR_32f(e.data(), g.data(), fr, r.work.data())), d.add(g.data(), n);
        }
}

void dct_mdct_float(Digest& d) {
    for (int n : {1, 2, 4, 8, 12, 16, 32, 36, 60, 64, 128, 256, 2048})
        for (int m = 0; m < 4; m += 3) {
            Buf<Zuf32f> x(n, 4 * m), y(n, 4 * ((m + 1) % 4));
            int s, i, w;
            zufsDCTFwdGetSize_32f(n, 0, &s, &i, &w);
            Mem f(s, i, w);
            DctFwdContext_32f* cf = nullptr;
            ASSERT_EQ(zufsDCTFwdInit_32f(&cf, n, 0, f.ctx.data() + m, f.init.data()), zufOk);
            d.fill(x.data(), n, 1.0f), d.st(zufsDCTFwd_32f(x.data(), y.data(), cf, f.work.data())), d.add(y.data(), n);
            zufsDCTInvGetSize_32f(n, 0, &s, &i, &w);
            Mem v(s, i, w);
            DctInvContext_32f* ci = nullptr;
            ASSERT_EQ(zufsDCTInvInit_32f(&ci, n, 0, v.ctx.data() + m, v.init.data()), zufOk);
            d.st(zufsDCTInv_32f(y.data(), x.data(), ci, v.work.data())), d.add(x.data(), n);
            if (n < 12 || (n & (n - 1) && n != 12 && n != 36) || n == 16) continue;
            zufsMDCTFwdGetSize_32f(n, &s, &i, &w);
            Mem mf(s, i, w);
            MdctFwdContext_32f* mcf = nullptr;
            ASSERT_EQ(zufsMDCTFwdInit_32f(&mcf, n, mf.ctx.data() + m, mf.init.data()), zufOk);
            d.fill(x.data(), n, 1.0f), d.st(zufsMDCTFwd_32f(x.data(), y.data(), mcf, mf.work.data()));
            d.add(y.data(), n / 2);
            zufsMDCTInvGetSize_32f(n, &s, &i, &w);
            Mem mi(s, i, w);
            MdctInvContext_32f* mci = nullptr;
            ASSERT_EQ(zufsMDCTInvInit_32f(&mci, n, mi.ctx.data() + m, mi.init.data()), zufOk);
            d.st(zufsMDCTInv_32f(y.data(), x.data(), mci, mi.work.data())), d.add(x.data(), n);
        }
}

void transforms_fixed(Digest& d) {
    for (int order = 1; order <= 11; ++order)
        for (int hint : {0, 1}) {
            const int n = 1 << order;
            int s, i, w;
            zufsFFTGetSize_C_16sc(order, 8, hint, &s, &i, &w);
            Mem c(s, i, w);
            FftContext_C_16sc* fc = nullptr;
            ASSERT_EQ(zufsFFTInit_C_16sc(&fc, order, 8, hint, c.ctx.data(), c.init.data()), zufOk);
            Buf<Zuf16sc> x(n, 4 * hint), y(n, 4 * (1 - hint));
            d.fill(&x[0].re, 2 * n, 16);
            d.st(zufsFFTFwd_CToC_16sc_Sfs(x.data(), y.data(), fc, order / 2, c.work.data())), d.add(y.data(), n);
            if (order < 5) continue;
            zufsMDCTFwdGetSize_16s(n, &s, &i, &w);
            Mem mc(s, i, w);
            MdctFwdContext_16s* mf = nullptr;
            ASSERT_EQ(zufsMDCTFwdInit_16s(&mf, n, mc.ctx.data(), mc.init.data()), zufOk);
            Buf<Zuf16s> a(n, 2 * hint), b(n, 2 * (1 - hint));
            d.fill(a.data(), n, 16), d.st(zufsMDCTFwd_16s_Sfs(a.data(), b.data(), mf, hint * 3, mc.work.data()));
            d.add(b.data(), n / 2);
        }
}

// A context of any bank type, for the calls (the banks check their IDs).
struct Any {
    void* p;
    template <class C>
    operator C*() const {
        return static_cast<C*>(p);
    }
};
template <class C>
void* made(zufResult (*init)(C**, Zuf8u*, Zuf8u*), Mem& c, int m) {
    C* x = nullptr;
    return init(&x, c.ctx.data() + m, c.init.data()) == zufOk ? x : nullptr;
}

void sbr_float_banks(Digest& d) {
    using GetSize = zufResult (*)(int*, int*, int*);
    const GetSize sizes[9] = {
        zufsAnalysisFilterGetSize_SBR_RToC_32f32fc,      zufsAnalysisFilterGetSize_SBR_RToC_32f,
        zufsAnalysisFilterGetSize_SBR_RToR_32f,          zufsSynthesisFilterGetSize_SBR_CToR_32fc32f,
        zufsSynthesisFilterGetSize_SBR_CToR_32f,         zufsSynthesisFilterGetSize_SBR_RToR_32f,
        zufsSynthesisDownFilterGetSize_SBR_CToR_32fc32f, zufsSynthesisDownFilterGetSize_SBR_CToR_32f,
        zufsSynthesisDownFilterGetSize_SBR_RToR_32f};
    using Make = void* (*)(Mem&, int);
    const Make make[9] = {[](Mem& c, int m) { return made(zufsAnalysisFilterInit_SBR_RToC_32f32fc, c, m); },
                          [](Mem& c, int m) { return made(zufsAnalysisFilterInit_SBR_RToC_32f, c, m); },
                          [](Mem& c, int m) { return made(zufsAnalysisFilterInit_SBR_RToR_32f, c, m); },
                          [](Mem& c, int m) { return made(zufsSynthesisFilterInit_SBR_CToR_32fc32f, c, m); },
                          [](Mem& c, int m) { return made(zufsSynthesisFilterInit_SBR_CToR_32f, c, m); },
                          [](Mem& c, int m) { return made(zufsSynthesisFilterInit_SBR_RToR_32f, c, m); },
                          [](Mem& c, int m) { return made(zufsSynthesisDownFilterInit_SBR_CToR_32fc32f, c, m); },
                          [](Mem& c, int m) { return made(zufsSynthesisDownFilterInit_SBR_CToR_32f, c, m); },
                          [](Mem& c, int m) { return made(zufsSynthesisDownFilterInit_SBR_RToR_32f, c, m); }};
    for (int k = 0; k < 9; ++k)
        for (int m = 0; m < 4; ++m) {  // m = 0: the vector paths; else misaligned data, the scalar ones
            int s, i, w;
            sizes[k](&s, &i, &w);
            Mem c(s, i, w);
            const Any X{make[k](c, m)};
            ASSERT_NE(X.p, nullptr);
            const int L = 6, nb = k >= 3 && k < 6 ? 64 : 32, half = k < 3 || k > 5 ? 2 : 1;
            Buf<Zuf32f> src(128 * L, 4 * m), dst(128 * L, 4 * m), win(640, 4 * m);
            for (int n = 0; n < 640 / half; ++n) win[n] = SBR_TAB_QMF_WINDOW_640_FP[half * n];
            std::vector<float*> a(L), b(L);
            for (int r = 0; r < L; ++r) a[r] = (k < 3 ? dst : src).data() + 2 * nb * r, b[r] = a[r] + nb;
            const auto **ca = const_cast<const float**>(a.data()), **cb = const_cast<const float**>(b.data());
            auto** za = reinterpret_cast<Zuf32fc**>(a.data());
            auto** cza = const_cast<const Zuf32fc**>(za);
            const float *S = src.data(), *W = win.data();
            float* D = dst.data();
            Zuf8u* wb = c.work.data();
            for (int kx : {32, 20, 31}) {
                d.fill(src.data(), 128 * L, k < 3 ? 3e4f : 1e5f);
                d.st(k == 0   ? zufsAnalysisFilter_SBR_RToC_32f32fc_D2L(S, za, W, L, 0, kx, X, wb)
                     : k == 1 ? zufsAnalysisFilter_SBR_RToC_32f_D2L(S, a.data(), b.data(), W, L, 0, kx, X, wb)
                     : k == 2 ? zufsAnalysisFilter_SBR_RToR_32f_D2L(S, a.data(), W, L, 0, kx, X, wb)
                     : k == 3 ? zufsSynthesisFilter_SBR_CToR_32fc32f_D2L(cza, D, W, L, X, wb)
                     : k == 4 ? zufsSynthesisFilter_SBR_CToR_32f_D2L(ca, cb, D, W, L, X, wb)
                     : k == 5 ? zufsSynthesisFilter_SBR_RToR_32f_D2L(ca, D, W, L, X, wb)
                     : k == 6 ? zufsSynthesisDownFilter_SBR_CToR_32fc32f_D2L(cza, D, W, L, X, wb)
                     : k == 7 ? zufsSynthesisDownFilter_SBR_CToR_32f_D2L(ca, cb, D, W, L, X, wb)
                              : zufsSynthesisDownFilter_SBR_RToR_32f_D2L(ca, D, W, L, X, wb));
                d.add(dst.data(), 128 * L);
            }
        }
}

// Prediction over nBands bands of len + 2 rows (float and fixed point), and the encoder bank.
void sbr_predict_enc(Digest& d) {
    for (int nb : {1, 3, 4, 5, 8, 11, 12, 16, 17, 32, 64})
        for (int len : {1, 6, 38}) {
            const int rows = len + 2, m = nb % 4;
            Buf<Zuf32f> re(rows * 64, 4 * m), im(rows * 64, 4 * m), out(8 * 64, 4 * ((m + 1) % 4));
            Buf<Zuf32fc> z(rows * 64, 8 * (m % 2)), zo(2 * 64, 8 * (m / 2));
            d.fill(re.data(), rows * 64, nb % 3 ? 1e3f : 1.0f), d.fill(im.data(), rows * 64, 1e3f);
            d.fill(&z[0].re, 2 * rows * 64, 1e2f);
            for (int r = 0; r < rows && len == 6; ++r) re[64 * r + 3] = im[64 * r + 3] = 0.0f;  // a silent band
            im[5] = 1e8f;                                                                       // a loud one
            std::vector<const Zuf32f*> pr(rows), pi(rows);
            std::vector<const Zuf32fc*> pz(rows);
            for (int r = 0; r < rows; ++r)
                pr[r] = re.data() + 64 * r, pi[r] = im.data() + 64 * r, pz[r] = z.data() + 64 * r;
            float* o = out.data();
            d.st(zufsPredictCoef_SBR_R_32f_D2L(pr.data(), o, o + 64, nb, len)), d.add(o, 128);
            d.st(zufsPredictCoef_SBR_C_32f_D2L(pr.data(), pi.data(), o, o + 64, o + 128, o + 192, nb, len));
            d.add(o, 256);
            d.st(zufsPredictCoef_SBR_C_32fc_D2L(pz.data(), zo.data(), zo.data() + 64, nb, len)), d.add(zo.data(), 128);
        }
    int s, i;
    zufsAnalysisFilterEncGetSize_SBR_32f(&s, &i);
    Mem c(s, i, 0);
    ASSERT_EQ(zufsAnalysisFilterEncInit_SBR_32f(c.ctx.data(), c.init.data()), zufOk);
    const Any X{c.ctx.data() + (-reinterpret_cast<std::uintptr_t>(c.ctx.data()) & 15)};
    Buf<Zuf32f> x(640, 4);
    Buf<Zuf32fc> y(64, 8);
    for (int call = 0; call < 8; ++call)
        d.fill(x.data(), 640, 3e4f), d.st(zufsAnalysisFilterEnc_SBR_32f32fc(x.data(), y.data(), X)),
            d.add(y.data(), 64);
}

// The fixed-point banks and single-band prediction: no vector code of their own today, but the
// AVX2 flags recompile them as well.
void sbr_fixed(Digest& d) {
    alignas(16) static Zuf8u ctx[6][16384];
    ASSERT_EQ(zufsAnalysisFilterInit_SBRHQ_32s32sc(ctx[0]), zufOk);
    ASSERT_EQ(zufsAnalysisFilterInit_SBRLP_32s(ctx[1]), zufOk);
    ASSERT_EQ(zufsSynthesisFilterInit_SBRHQ_32sc32s(ctx[2]), zufOk);
    ASSERT_EQ(zufsSynthesisFilterInit_SBRLP_32s(ctx[3]), zufOk);
    ASSERT_EQ(zufsSynthesisDownFilterInit_SBRHQ_32sc32s(ctx[4]), zufOk);
    ASSERT_EQ(zufsSynthesisDownFilterInit_SBRLP_32s(ctx[5]), zufOk);
    std::vector<Zuf32s> x(128), y(128);
    const Any C[6] = {{ctx[0]}, {ctx[1]}, {ctx[2]}, {ctx[3]}, {ctx[4]}, {ctx[5]}};
    auto* xc = reinterpret_cast<Zuf32sc*>(x.data());
    auto* yc = reinterpret_cast<Zuf32sc*>(y.data());
    for (int call = 0; call < 12; ++call) {
        const int kx = 20 + call;
        d.fill(x.data(), 128, 26), d.st(zufsAnalysisFilter_SBRHQ_32s32sc(x.data(), yc, kx, C[0])), d.add(y.data(), 64);
        d.st(zufsAnalysisFilter_SBRLP_32s(x.data(), y.data(), kx, C[1])), d.add(y.data(), 32);
        d.st(zufsSynthesisFilter_SBRHQ_32sc32s(xc, y.data(), C[2])), d.add(y.data(), 64);
        d.st(zufsSynthesisFilter_SBRLP_32s(x.data(), y.data(), C[3])), d.add(y.data(), 64);
        d.st(zufsSynthesisDownFilter_SBRHQ_32sc32s(xc, y.data(), C[4])), d.add(y.data(), 32);
        d.st(zufsSynthesisDownFilter_SBRLP_32s(x.data(), y.data(), C[5])), d.add(y.data(), 32);
    }
    std::vector<Zuf32s> rows(40 * 64);
    std::vector<const Zuf32s*> pr(40);
    std::vector<const Zuf32sc*> pc(20);
    for (int r = 0; r < 40; ++r) pr[r] = rows.data() + 64 * r;
    for (int r = 0; r < 20; ++r) pc[r] = reinterpret_cast<const Zuf32sc*>(rows.data() + 128 * r);
    for (int k = 0; k < 32; ++k) {
        Zuf32s a0, a1;
        Zuf32sc c0, c1;
        d.fill(rows.data(), 40 * 64, 4 + k % 28);
        d.st(zufsPredictOneCoef_SBRLP_32s_D2L(pr.data(), &a0, &a1, k, 38)), d.add(&a0, 1), d.add(&a1, 1);
        d.st(zufsPredictOneCoef_SBRHQ_32sc_D2L(pc.data(), &c0, &c1, k, 18)), d.add(&c0, 1), d.add(&c1, 1);
    }
}

void mp3_pqmf_float(Digest& d) {
    for (int m = 0; m < 4; ++m) {
        alignas(16) static Zuf8u mem[2][2200];
        AnalysisFilterContext_PQMF_MP3_32f* a = nullptr;
        SynthesisFilterContext_PQMF_MP3_32f* s = nullptr;
        ASSERT_EQ(zufsAnalysisFilterInit_PQMF_MP3_32f(&a, mem[0] + m), zufOk);
        ASSERT_EQ(zufsSynthesisFilterInit_PQMF_MP3_32f(&s, mem[1] + m), zufOk);
        Buf<Zuf32f> x(64, 4 * m), y(64, 4 * ((m + 1) % 4));
        for (int call = 0; call < 20; ++call) {
            const int mode = 1 + call % 2;
            d.fill(x.data(), 64, 3e4f), d.st(zufsAnalysisFilter_PQMF_MP3_32f(x.data(), y.data(), a, mode));
            d.add(y.data(), 32);
            d.st(zufsSynthesisFilter_PQMF_MP3_32f(x.data(), y.data(), s, mode)), d.add(y.data(), 32 * mode);
        }
    }
}

struct Family {
    const char* name;
    void (*run)(Digest&);
    uint64_t expected;  // the default x86-64 build's digest
};
const Family kFamilies[] = {
    {"vec_arith", vec_arith, 0x69FB0ED7D296ADC3},
    {"vec_convert", vec_convert, 0x23863C851D59F300},
    {"vec_stats_complex", vec_stats_complex, 0x1210F9158BA8750F},
    {"vec_interleave", vec_interleave, 0x3376F40BB1681D9B},
    {"fir_block", fir_block, 0x57B08C32BC5EBAEE},
    {"fft_float", fft_float, 0x255368311745E5D8},
    {"dct_mdct_float", dct_mdct_float, 0x115DB510A900AC22},
    {"transforms_fixed", transforms_fixed, 0x5AF1B7F6FCC32A07},
    {"sbr_float_banks", sbr_float_banks, 0x1A6558CD412F0C5F},
    {"sbr_predict_enc", sbr_predict_enc, 0x6BC12B30A7541BC7},
    {"sbr_fixed", sbr_fixed, 0xE50878233DE38F56},
    {"mp3_pqmf_float", mp3_pqmf_float, 0x03BFCE9C02F4A28B},
};

TEST(IsaDigest, EveryFamilyMatchesTheDefaultBuild) {
    const bool print = std::getenv("ZUF_PRINT_DIGESTS") != nullptr;
    for (const Family& f : kFamilies) {
        Digest d;
        f.run(d);
        if (print) std::printf("    {\"%s\", %s, 0x%016" PRIX64 "},\n", f.name, f.name, d.h);
        EXPECT_EQ(d.h, f.expected) << f.name << ": this build computes different bits than the default one";
    }
}

}  // namespace
