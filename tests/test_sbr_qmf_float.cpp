// Float SBR QMF banks: every bank against a double-precision shift-register model of its defining
// sum (ISO/IEC 14496-3 4.6.18.4) across calls, vector and scalar paths bit for bit, analysis and
// synthesis reconstruction, impulse lengths, checks, context layout and sizes.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <cstring>
#include <vector>

#include "sbr/sbr_qmf_float.h"
#include "support/test_util.h"
#include "zufack9/zufack9.h"

namespace {

using cd = std::complex<double>;
enum Kind { kAnaC, kAnaS, kAnaR, kSynC, kSynS, kSynR, kDownC, kDownS, kDownR };
constexpr int kKinds = 9;
bool analysis(int k) { return k <= kAnaR; }
bool down(int k) { return k >= kDownC; }
bool real(int k) { return k % 3 == 2; }
int bands(int k) { return analysis(k) || down(k) ? 32 : 64; }  // per row: analysis out, synthesis in
int ring(int k) { return analysis(k) ? 320 : down(k) ? 640 : 1280; }

// Any context pointer, converted to the type a call wants (the cross-family checks pass wrong ones).
struct AnyCtx {
    void* p;
    template <class T>
    operator T*() const {
        return static_cast<T*>(p);
    }
};

// One bank in caller memory; `in` and `out` hold numLoop slots, complex values as re, im planes.
struct Bank {
    int kind;
    std::vector<Zuf8u> mem, init, work;
    void* context = nullptr;
    int sizes[3] = {};
    explicit Bank(int k, int misalign = 3) : kind(k) {
        using G = zufResult (*)(int*, int*, int*);
        static const G get[kKinds] = {
            zufsAnalysisFilterGetSize_SBR_RToC_32f32fc,      zufsAnalysisFilterGetSize_SBR_RToC_32f,
            zufsAnalysisFilterGetSize_SBR_RToR_32f,          zufsSynthesisFilterGetSize_SBR_CToR_32fc32f,
            zufsSynthesisFilterGetSize_SBR_CToR_32f,         zufsSynthesisFilterGetSize_SBR_RToR_32f,
            zufsSynthesisDownFilterGetSize_SBR_CToR_32fc32f, zufsSynthesisDownFilterGetSize_SBR_CToR_32f,
            zufsSynthesisDownFilterGetSize_SBR_RToR_32f};
        EXPECT_EQ(get[k](&sizes[0], &sizes[1], &sizes[2]), zufOk);
        mem.assign(sizes[0] + misalign, 0xEE), init.resize(sizes[1]), work.resize(sizes[2]);
        using Init = void (*)(Bank&, Zuf8u*);
        static const Init make_as[kKinds] = {
            [](Bank& b, Zuf8u* m) { b.make(zufsAnalysisFilterInit_SBR_RToC_32f32fc, m); },
            [](Bank& b, Zuf8u* m) { b.make(zufsAnalysisFilterInit_SBR_RToC_32f, m); },
            [](Bank& b, Zuf8u* m) { b.make(zufsAnalysisFilterInit_SBR_RToR_32f, m); },
            [](Bank& b, Zuf8u* m) { b.make(zufsSynthesisFilterInit_SBR_CToR_32fc32f, m); },
            [](Bank& b, Zuf8u* m) { b.make(zufsSynthesisFilterInit_SBR_CToR_32f, m); },
            [](Bank& b, Zuf8u* m) { b.make(zufsSynthesisFilterInit_SBR_RToR_32f, m); },
            [](Bank& b, Zuf8u* m) { b.make(zufsSynthesisDownFilterInit_SBR_CToR_32fc32f, m); },
            [](Bank& b, Zuf8u* m) { b.make(zufsSynthesisDownFilterInit_SBR_CToR_32f, m); },
            [](Bank& b, Zuf8u* m) { b.make(zufsSynthesisDownFilterInit_SBR_RToR_32f, m); }};
        make_as[k](*this, mem.data() + misalign);
    }
    template <class C>
    void make(zufResult (*init_fn)(C**, Zuf8u*, Zuf8u*), Zuf8u* m) {
        C* c = nullptr;
        EXPECT_EQ(init_fn(&c, m, init.data()), zufOk);
        context = c;
    }
    const SbrQmfFloatHeader* head() const { return static_cast<const SbrQmfFloatHeader*>(context); }
    // Calls the bank as `as` (its own kind by default) with every array `mis` bytes off a 16-byte
    // boundary (a multiple of 4: floats stay naturally aligned); analysis rows are written from row `offset` of a matrix of offset + numLoop rows.
    int run(const std::vector<float>& in, std::vector<float>& out, int numLoop, int mis, int offset = 0, int kx = 32,
            int as = -1, void* ctx = nullptr) {
        const int k = as < 0 ? kind : as, nb = bands(kind), rows = analysis(kind) ? offset + numLoop : numLoop;
        const int inLen = analysis(kind) ? 32 * numLoop : 2 * nb * numLoop;
        const int outLen = analysis(kind) ? 2 * nb * rows : nb * numLoop;
        zuft::Placed<float> src(inLen, mis), dst(outLen, mis), win(640, mis);
        for (int i = 0; i < inLen; ++i) src[i] = i < static_cast<int>(in.size()) ? in[i] : 0.0f;
        for (int i = 0; i < outLen; ++i) dst[i] = 0.5f;
        const int half = analysis(kind) || down(kind) ? 2 : 1;  // 320 taps c[2n] or 640 c[n]
        for (int n = 0; n < 640 / half; ++n) win[n] = SBR_TAB_QMF_WINDOW_640_FP[half * n];
        std::vector<float*> a(rows + 1), b(rows + 1);  // complex rows interleaved (a) or split (a, b)
        for (int r = 0; r < rows; ++r) {
            float* base = analysis(kind) ? dst.data() + 2 * nb * r : src.data() + 2 * nb * r;
            a[r] = base, b[r] = base + nb;
        }
        float **A = a.data(), **B = b.data(), *d = dst.data();
        const auto **cA = const_cast<const float**>(A), **cB = const_cast<const float**>(B);
        auto** zA = reinterpret_cast<Zuf32fc**>(A);
        auto** czA = const_cast<const Zuf32fc**>(zA);
        const AnyCtx x{ctx ? ctx : context};
        const float *s = src.data(), *W = win.data();
        Zuf8u* w = work.data();
        const int L = numLoop, st = k == kAnaC ? zufsAnalysisFilter_SBR_RToC_32f32fc_D2L(s, zA, W, L, offset, kx, x, w)
                                    : k == kAnaS  ? zufsAnalysisFilter_SBR_RToC_32f_D2L(s, A, B, W, L, offset, kx, x, w)
                                    : k == kAnaR  ? zufsAnalysisFilter_SBR_RToR_32f_D2L(s, A, W, L, offset, kx, x, w)
                                    : k == kSynC  ? zufsSynthesisFilter_SBR_CToR_32fc32f_D2L(czA, d, W, L, x, w)
                                    : k == kSynS  ? zufsSynthesisFilter_SBR_CToR_32f_D2L(cA, cB, d, W, L, x, w)
                                    : k == kSynR  ? zufsSynthesisFilter_SBR_RToR_32f_D2L(cA, d, W, L, x, w)
                                    : k == kDownC ? zufsSynthesisDownFilter_SBR_CToR_32fc32f_D2L(czA, d, W, L, x, w)
                                    : k == kDownS ? zufsSynthesisDownFilter_SBR_CToR_32f_D2L(cA, cB, d, W, L, x, w)
                                                  : zufsSynthesisDownFilter_SBR_RToR_32f_D2L(cA, d, W, L, x, w);
        // Back to planes: analysis rows from `offset` on, interleaved rows split.
        out.assign(dst.data() + (analysis(kind) ? 2 * nb * offset : 0), dst.data() + outLen);
        if (kind == kAnaC)
            for (int r = 0; r < numLoop; ++r) {
                std::vector<float> row(out.begin() + 64 * r, out.begin() + 64 * r + 64);
                for (int i = 0; i < 32; ++i) out[64 * r + i] = row[2 * i], out[64 * r + 32 + i] = row[2 * i + 1];
            }
        EXPECT_TRUE(src.guards_intact() && dst.guards_intact());
        return st;
    }
};

// Synthesis input rows are filled the same way: interleaved kinds get re, im pairs.
std::vector<float> as_input(int kind, const std::vector<float>& planes) {
    if (analysis(kind) || (kind != kSynC && kind != kDownC)) return planes;
    const int nb = bands(kind);
    std::vector<float> v(planes.size());
    for (std::size_t r = 0; r < planes.size() / (2 * nb); ++r)
        for (int i = 0; i < nb; ++i)
            v[2 * nb * r + 2 * i] = planes[2 * nb * r + i], v[2 * nb * r + 2 * i + 1] = planes[2 * nb * r + nb + i];
    return v;
}

// The defining sums, one slot at a time, on a shifted (not ringed) history as ISO/IEC 14496-3 writes them.
struct Model {
    int kind;
    std::vector<double> x;
    explicit Model(int k) : kind(k), x(ring(k), 0.0) {}
    std::vector<double> slot(const float* in) {  // analysis: 32 samples; synthesis: re, im planes
        const double pi = std::acos(-1.0);
        const double* c = nullptr;
        static std::vector<double> w(SBR_TAB_QMF_WINDOW_640_FP, SBR_TAB_QMF_WINDOW_640_FP + 640);
        c = w.data();
        const int nb = bands(kind), b = analysis(kind) ? 32 : 2 * nb;
        for (int n = ring(kind) - 1; n >= b; --n) x[n] = x[n - b];
        std::vector<double> out;
        if (analysis(kind)) {
            for (int n = 0; n < 32; ++n) x[31 - n] = in[n];
            std::vector<double> u(64, 0.0);
            for (int n = 0; n < 64; ++n)
                for (int j = 0; j < 5; ++j) u[n] += c[2 * (n + 64 * j)] * x[n + 64 * j];
            out.assign(64, 0.0);
            for (int k = 0; k < 32; ++k)
                for (int n = 0; n < 64; ++n) {
                    const cd e = real(kind) ? cd(std::cos(pi * (k + 0.5) * (2 * n - 96) / 64), 0)
                                            : std::exp(cd(0, pi * (k + 0.5) * (2 * n - 0.5) / 64));
                    out[k] += 2 * u[n] * e.real(), out[32 + k] += 2 * u[n] * e.imag();
                }
            return out;
        }
        for (int n = 0; n < b; ++n) {
            double s = 0;
            for (int k = 0; k < nb; ++k) {
                if (real(kind))
                    s += in[k] * std::cos(pi * (2 * k + 1) * (n - nb / 2) / (2.0 * nb)) / 32;
                else
                    s -= (cd(in[k], in[nb + k]) *
                          std::exp(cd(0, pi * (k + 0.5) * (down(kind) ? (2 * n + 0.5) / 64 : (2 * n + 1) / 128.0))))
                             .real() /
                         64;
            }
            x[n] = s;
        }
        const int d = down(kind) ? 2 : 1;  // window c[n] (full) or c[2n] (down)
        for (int n = 0; n < nb; ++n) {
            double s = 0;
            for (int j = 0; j < 5; ++j)
                s += c[d * (2 * nb * j + n)] * x[4 * nb * j + n] +
                     c[d * (2 * nb * j + nb + n)] * x[4 * nb * j + 3 * nb + n];
            out.push_back(s);
        }
        return out;
    }
};

std::vector<float> noise(zuft::Rng& rng, int n) {
    std::vector<float> v(n);
    for (auto& f : v) f = rng.uniform(-1.0f, 1.0f);
    return v;
}

// Per kind: several calls (numLoop 3, 1, 5, 0, 2), each against the model slot by slot with kx
// changing, and a second context that runs the scalar reference: both paths at several
// misalignments of the caller's arrays, equal bits.
TEST(SbrQmfFloat, ModelsAndPaths) {
    for (int kind = 0; kind < kKinds; ++kind) {
        SCOPED_TRACE(kind);
        zuft::Rng rng(100 + kind);
        Bank bank(kind, 0), other(kind, 7);
        Model model(kind);
        const int loops[] = {3, 1, 5, 0, 2}, kxs[] = {32, 20, 0, 32, 7};
        for (int call = 0; call < 5; ++call) {
            const int L = loops[call], kx = analysis(kind) ? kxs[call] : 32,
                      per = analysis(kind) ? 32 : 2 * bands(kind);
            const std::vector<float> in = noise(rng, per * std::max(L, 1));
            std::vector<float> got, alt;
            const int pos = bank.head()->pos;
            ASSERT_EQ(bank.run(as_input(kind, in), got, L, 4 * (call % 4), call, kx), zufOk);
            if (L == 0) {
                EXPECT_EQ(bank.head()->pos, pos);
            }
            zuf::ownsSbrQmfFloatReference(true);
            const int st = other.run(as_input(kind, in), alt, L, 4 + 4 * (call % 3), call, kx);
            zuf::ownsSbrQmfFloatReference(false);
            ASSERT_EQ(st, zufOk);
            ASSERT_EQ(got.size(), alt.size());
            if (!got.empty()) {
                EXPECT_EQ(std::memcmp(got.data(), alt.data(), got.size() * 4), 0) << "paths differ, call " << call;
            }
            for (int l = 0; l < L; ++l) {
                const std::vector<double> want = model.slot(in.data() + per * l);
                const int nOut = analysis(kind) ? 64 : bands(kind);
                for (int i = 0; i < nOut; ++i) {
                    const float g = got[nOut * l + i];
                    if (analysis(kind) && (i % 32 >= kx || (real(kind) && i >= 32)))
                        EXPECT_EQ(g, analysis(kind) && real(kind) && i >= 32 ? 0.5f : 0.0f)
                            << "slot " << l << " i " << i;
                    else
                        EXPECT_NEAR(g, want[i], 2e-5 * (analysis(kind) ? 8 : 1))
                            << "call " << call << " slot " << l << " i " << i;
                }
            }
        }
    }
}

// Analysis then synthesis of a sum of sines: the output is the input delayed (and, for the 64-band
// banks, interpolated to twice the rate) up to a gain; SNR at the best delay, transient skipped.
TEST(SbrQmfFloat, Reconstruction) {
    const double pi = std::acos(-1.0), f[4] = {0.013, 0.071, 0.19, 0.33}, a[4] = {0.5, 0.3, 0.2, 0.1};
    auto x = [&](double t) {
        double s = 0;
        for (int i = 0; i < 4; ++i) s += a[i] * std::sin(2 * pi * f[i] * t + i);
        return s;
    };
    const struct {
        int ana, syn;
    } pairs[] = {{kAnaC, kSynC}, {kAnaS, kSynS}, {kAnaR, kSynR}, {kAnaC, kDownC}, {kAnaS, kDownS}, {kAnaR, kDownR}};
    const int L = 96;
    std::vector<float> in(32 * L), sub, y;
    std::vector<double> xg(128 * L);  // x on the half-sample grid
    for (int n = 0; n < 128 * L; ++n) xg[n] = x(n / 2.0);
    for (int n = 0; n < 32 * L; ++n) in[n] = static_cast<float>(xg[2 * n]);
    for (const auto& p : pairs) {
        Bank ana(p.ana), syn(p.syn);
        ASSERT_EQ(ana.run(in, sub, L, 0), zufOk);
        const int nb = bands(p.syn), up = down(p.syn) ? 1 : 2;
        std::vector<float> planes(2 * nb * L, 0.0f);
        for (int l = 0; l < L; ++l)
            for (int k = 0; k < 32; ++k)
                planes[2 * nb * l + k] = sub[64 * l + k], planes[2 * nb * l + nb + k] = sub[64 * l + 32 + k];
        ASSERT_EQ(syn.run(as_input(p.syn, planes), y, L, 0), zufOk);
        double best = -1e9;
        int bestD = 0;
        for (int d = 0; d < 1000; ++d) {
            double yr = 0, rr = 0, yy = 0;
            for (int m = 1200 * up; m < 32 * up * L; ++m) {
                const double r = xg[(m - d) * 2 / up];
                yr += y[m] * r, rr += r * r, yy += y[m] * y[m];
            }
            const double g = yr / rr, err = yy - 2 * g * yr + g * g * rr;
            if (10 * std::log10(yy / err) > best) best = 10 * std::log10(yy / err), bestD = d;
        }
        std::printf("[ SNR      ] analysis %d -> synthesis %d: %.1f dB at delay %d\n", p.ana, p.syn, best, bestD);
        EXPECT_GT(best, 65.0);  // about 70 dB: the prototype's own aliasing and float
    }
}

// An impulse reaches ten consecutive slots, no more (ring of ten slots); kx = 0 rows are zero.
TEST(SbrQmfFloat, ImpulseLengthAndChecks) {
    for (int kind = 0; kind < kKinds; ++kind) {
        Bank bank(kind), fresh(kind);
        const int per = analysis(kind) ? 32 : 2 * bands(kind), nOut = analysis(kind) ? 64 : bands(kind);
        std::vector<float> in(per * 12, 0.0f), out, none;
        in[5] = 1.0f, in[per - 1] = -1.0f;
        ASSERT_EQ(bank.run(as_input(kind, in), out, 12, 0), zufOk);
        for (int l = 0; l < 12; ++l) {
            double e = 0;
            for (int i = 0; i < nOut; ++i)
                e += std::fabs(out[nOut * l + i] - (real(kind) && analysis(kind) && i >= 32 ? 0.5 : 0));
            EXPECT_EQ(e > 0, l < 10) << "kind " << kind << " slot " << l;
        }
        // Every other family's function refuses this context, before writing anything.
        for (int as = 0; as < kKinds; ++as)
            if (as != kind && analysis(as) == analysis(kind) && bands(as) == bands(kind)) {
                EXPECT_EQ(bank.run(in, out, 2, 0, 0, 32, as), zufErrContext);
                for (float v : out) ASSERT_EQ(v, 0.5f);
            }
        if (analysis(kind)) {
            for (int kx : {-1, 33}) {
                EXPECT_EQ(bank.run(in, out, 1, 0, 0, kx), zufErrSize);
                for (float v : out) ASSERT_EQ(v, 0.5f);
            }
            ASSERT_EQ(fresh.run(in, out, 1, 0, 0, 0), zufOk);
            for (int i = 0; i < 32; ++i) ASSERT_EQ(out[i], 0.0f);
        }
    }
    // Check order: pointers, ID, pointers (pWorkBuf early in the split members), kx.
    Bank ana(kAnaS), anr(kAnaR), syn(kSynS);
    float buf[64] = {}, *row[1] = {buf};
    const float* crow[1] = {buf};
    const AnyCtx s{ana.context}, r{anr.context}, y{syn.context};
    Zuf8u* w = ana.work.data();
    EXPECT_EQ(zufsAnalysisFilter_SBR_RToC_32f_D2L(buf, row, row, buf, 1, 0, 0, s, nullptr), zufErrNullPtr);
    EXPECT_EQ(zufsAnalysisFilter_SBR_RToC_32f_D2L(nullptr, row, row, buf, 1, 0, 40, r, w), zufErrContext);
    EXPECT_EQ(zufsAnalysisFilter_SBR_RToC_32f_D2L(nullptr, row, row, buf, 1, 0, 40, s, w), zufErrSize);
    EXPECT_EQ(zufsAnalysisFilter_SBR_RToR_32f_D2L(buf, row, buf, 1, 0, 40, r, nullptr), zufErrNullPtr);
    EXPECT_EQ(zufsAnalysisFilter_SBR_RToR_32f_D2L(nullptr, row, buf, 1, 0, 40, s, w), zufErrContext);
    EXPECT_EQ(zufsAnalysisFilter_SBR_RToR_32f_D2L(buf, row, nullptr, 1, 0, 0, AnyCtx{nullptr}, w), zufErrNullPtr);
    EXPECT_EQ(zufsSynthesisFilter_SBR_CToR_32f_D2L(crow, crow, buf, buf, 1, y, nullptr), zufErrNullPtr);
    EXPECT_EQ(zufsSynthesisFilter_SBR_CToR_32f_D2L(nullptr, crow, buf, buf, 1, s, w), zufErrContext);
    EXPECT_EQ(zufsSynthesisFilter_SBR_CToR_32f_D2L(crow, nullptr, buf, buf, 1, y, w), zufErrNullPtr);
}

// Sizes from the nested transform's, the block layout, and the two exported rotation tables.
TEST(SbrQmfFloat, SizesLayoutTables) {
    const int K[kKinds] = {1327, 1327, 1327, 5167, 5167, 5183, 2607, 2607, 2607};
    const uint32_t xid[kKinds] = {5, 5, 22, 4, 4, 21, 4, 4, 21};
    for (int kind = 0; kind < kKinds; ++kind) {
        int t[3];
        switch (xid[kind]) {
            case 5:
                zufsFFTGetSize_C_32f(5, 8, 2, &t[0], &t[1], &t[2]);
                break;
            case 22:
                zufsDCTInvGetSize_32f(32, 2, &t[0], &t[1], &t[2]);
                break;
            case 4:
                zufsFFTGetSize_C_32fc(down(kind) ? 6 : 5, 8, 2, &t[0], &t[1], &t[2]);
                break;
            default:
                zufsDCTFwdGetSize_32f(down(kind) ? 32 : 64, 1, &t[0], &t[1], &t[2]);
        }
        Bank b(kind, 5);
        EXPECT_EQ(b.sizes[0], ((t[0] + 15) & ~15) + K[kind]);
        EXPECT_EQ(b.sizes[1], t[1] + 4);
        EXPECT_EQ(b.sizes[2], t[2] + 4);
        const auto* block =
            reinterpret_cast<const Zuf8u*>((reinterpret_cast<uintptr_t>(b.mem.data() + 5) + 15) & ~uintptr_t{15});
        const auto* h = b.head();
        EXPECT_EQ(reinterpret_cast<const Zuf8u*>(h), block + ((t[0] + 15) & ~15));
        EXPECT_EQ(h->id, 0x434D4156u + kind);
        EXPECT_EQ(*static_cast<const uint32_t*>(h->pTransform), xid[kind]);
        EXPECT_EQ(reinterpret_cast<const Zuf8u*>(h->pHist),
                  reinterpret_cast<const Zuf8u*>(h) + ((sizeof(*h) + 15) & ~15));
        EXPECT_LE(reinterpret_cast<const Zuf8u*>(h->pHist + ring(kind) + (kind == kSynR)), b.mem.data() + b.mem.size());
        for (int i = 0; i < ring(kind) + (kind == kSynR); ++i) ASSERT_EQ(h->pHist[i], 0.0f);
        EXPECT_EQ(h->pos, 0);
    }
    int a = 0;
    EXPECT_EQ(zufsSynthesisFilterGetSize_SBR_RToR_32f(&a, &a, nullptr), zufErrNullPtr);
    AnalysisFilterContext_SBR_RToR_32f* c = nullptr;
    EXPECT_EQ(zufsAnalysisFilterInit_SBR_RToR_32f(&c, reinterpret_cast<Zuf8u*>(&a), nullptr), zufErrNullPtr);
    const double pi = std::acos(-1.0);
    for (int i = 0; i < 16; ++i) {
        const double p = (4 * i + 1) * pi / 256, q = (4 * i + 3) * pi / 256,
                     want[4] = {std::cos(p) + std::sin(p), std::sin(p), std::cos(q) + std::sin(q), std::cos(q)};
        for (int j = 0; j < 4; ++j) EXPECT_NEAR(cos4sin4tab64_HQ_SQMF_32f[4 * i + j], want[j], 1.2e-7);
    }
    for (int j = 0; j <= 16; ++j) {
        EXPECT_NEAR(cos1sin1tab34_HQ_SQMF_32f[2 * j], std::cos(j * pi / 64) + std::sin(j * pi / 64), 1.2e-7);
        EXPECT_NEAR(cos1sin1tab34_HQ_SQMF_32f[2 * j + 1], std::sin(j * pi / 64), 6e-8);
    }
}
}  // namespace
