// The nine float SBR QMF banks per time slot, beside two peers doing the same slot (history,
// window and modulation): a straightforward double-precision evaluation (window sums and the
// O(N^2) modulation matrix) and, where installed, an FFTW (single precision) one that computes the
// modulation as one FFT of 2M points between two twiddle passes. Each iteration runs 32 slots
// with the history carried over; the table at the end gives ns per slot and the ratios
// ours / naive and ours / FFTW.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "zufack9/zufack9.h"
#if defined(ZUF_HAVE_FFTW)
#include <fftw3.h>
#endif

namespace {

constexpr int kSlots = 32;
const char* const kName[9] = {"ana_RToC_32f32fc",  "ana_RToC_32f",  "ana_RToR",
                              "syn_CToR_32fc32f",  "syn_CToR_32f",  "syn_RToR",
                              "down_CToR_32fc32f", "down_CToR_32f", "down_RToR"};

// The modulation of each bank as out[m] = scale * sum_{n < nIn} z[n] e^(i pi (m + alpha)(n + beta) / M),
// m < nOut (the real part where the bank is real or synthesises), and its ring: block values in
// per slot, `ring` values held, `taps` window values.
struct Shape {
    int M, nIn, nOut;
    double alpha, beta, scale;
    bool analysis, complexIn;
    int block, ring, taps;
};
Shape shape(int k) {
    switch (k / 3) {
        case 0:  // X[k] = sum_n 2 u[n] e^(i pi (k + 1/2)(n - 1/4) / 32) (real: n - 48)
            return {32, 64, 32, 0.5, k == 2 ? -48.0 : -0.25, 2.0, true, false, 32, 320, 320};
        case 1:  // v[n] = -(1/64) Re sum_k X[k] e^(i pi (n + 1/2)(k + 1/2) / 64); real (1/32), n - 32
            return {64,  64,   128, k == 5 ? -32.0 : 0.5, 0.5, k == 5 ? 1.0 / 32 : -1.0 / 64, false, k != 5,
                    128, 1280, 640};
        default:  // down: v[n] = -(1/64) Re sum_k X[k] e^(i pi (n + 1/4)(k + 1/2) / 32); real (1/32), n - 16
            return {32, 32, 64, k == 8 ? -16.0 : 0.25, 0.5, k == 8 ? 1.0 / 32 : -1.0 / 64, false, k != 8, 64, 640, 320};
    }
}

std::vector<float> window(const Shape& s) {
    std::vector<float> w(s.taps);
    for (int n = 0; n < s.taps; ++n) w[n] = SBR_TAB_QMF_WINDOW_640_FP[s.taps == 640 ? n : 2 * n];
    return w;
}

// Window of the shifted history: analysis u[n] = sum_j w[n + 64j] x[n + 64j]; synthesis
// out[n] = sum_j (w[2Bj/2 + n] v[2Bj + n] + w[Bj + B/2 + n] v[2Bj + 3B/2 + n]).
template <class T>
void window_slot(const Shape& s, const T* w, const T* x, T* out) {
    if (s.analysis) {
        for (int n = 0; n < 64; ++n) {
            T a = 0;
            for (int j = 0; j < 5; ++j) a += w[n + 64 * j] * x[n + 64 * j];
            out[n] = a;
        }
        return;
    }
    const int B = s.block, H = B / 2;
    for (int n = 0; n < H; ++n) {
        T a = 0;
        for (int j = 0; j < 5; ++j) a += w[B * j + n] * x[2 * B * j + n] + w[B * j + H + n] * x[2 * B * j + 3 * H + n];
        out[n] = a;
    }
}

// The straightforward evaluation: double history shifted by memmove, the modulation matrix.
struct Naive {
    Shape s;
    std::vector<double> w, x, re, im, u;
    explicit Naive(int k) : s(shape(k)), x(s.ring, 0.0), re(s.nIn * s.nOut), im(s.nIn * s.nOut), u(128) {
        for (float f : window(s)) w.push_back(f);
        const double pi = std::acos(-1.0);
        for (int m = 0; m < s.nOut; ++m)
            for (int n = 0; n < s.nIn; ++n) {
                const double a = pi * (m + s.alpha) * (n + s.beta) / s.M;
                re[m * s.nIn + n] = s.scale * std::cos(a), im[m * s.nIn + n] = s.scale * std::sin(a);
            }
    }
    // in: 32 samples (analysis) or nIn re then nIn im; out: 2 x 32 (analysis) or the samples.
    void slot(const float* in, float* out) {
        std::memmove(x.data() + s.block, x.data(), (s.ring - s.block) * sizeof(double));
        if (s.analysis) {
            for (int n = 0; n < 32; ++n) x[31 - n] = in[n];
            window_slot(s, w.data(), x.data(), u.data());
            for (int m = 0; m < 32; ++m) {
                double a = 0, b = 0;
                for (int n = 0; n < 64; ++n) a += re[m * 64 + n] * u[n], b += im[m * 64 + n] * u[n];
                out[m] = static_cast<float>(a), out[32 + m] = static_cast<float>(b);
            }
        } else {
            for (int m = 0; m < s.nOut; ++m) {
                double a = 0;
                for (int n = 0; n < s.nIn; ++n)
                    a += re[m * s.nIn + n] * in[n] - (s.complexIn ? im[m * s.nIn + n] * in[s.nIn + n] : 0.0);
                x[m] = a;
            }
            window_slot(s, w.data(), x.data(), u.data());
            for (int n = 0; n < s.block / 2; ++n) out[n] = static_cast<float>(u[n]);
        }
    }
};

#if defined(ZUF_HAVE_FFTW)
// The same slot in float with FFTW: pre-twiddle e^(i pi alpha n / M), backward FFT of 2M points,
// post-twiddle e^(i pi (m + alpha) beta / M).
struct Fftw {
    Shape s;
    std::vector<float> w, x, u;
    std::vector<std::complex<float>> pre, post, buf;
    fftwf_plan plan;
    explicit Fftw(int k) : s(shape(k)), w(window(s)), x(s.ring, 0.0f), u(128), buf(2 * s.M) {
        const double pi = std::acos(-1.0);
        for (int n = 0; n < s.nIn; ++n) pre.emplace_back(std::polar(1.0, pi * s.alpha * n / s.M));
        for (int m = 0; m < s.nOut; ++m) post.emplace_back(std::polar(s.scale, pi * (m + s.alpha) * s.beta / s.M));
        auto* b = reinterpret_cast<fftwf_complex*>(buf.data());
        plan = fftwf_plan_dft_1d(2 * s.M, b, b, FFTW_BACKWARD, FFTW_MEASURE);
    }
    ~Fftw() { fftwf_destroy_plan(plan); }
    void slot(const float* in, float* out) {
        std::memmove(x.data() + s.block, x.data(), (s.ring - s.block) * sizeof(float));
        std::fill(buf.begin(), buf.end(), std::complex<float>{});
        if (s.analysis) {
            for (int n = 0; n < 32; ++n) x[31 - n] = in[n];
            window_slot(s, w.data(), x.data(), u.data());
            for (int n = 0; n < 64; ++n) buf[n] = u[n] * pre[n];
        } else {
            for (int n = 0; n < s.nIn; ++n)
                buf[n] = std::complex<float>(in[n], s.complexIn ? in[s.nIn + n] : 0.0f) * pre[n];
        }
        fftwf_execute(plan);
        if (s.analysis) {
            for (int m = 0; m < 32; ++m) {
                const std::complex<float> y = buf[m] * post[m];
                out[m] = y.real(), out[32 + m] = y.imag();
            }
        } else {
            for (int m = 0; m < s.nOut; ++m) x[m] = (buf[m] * post[m]).real();
            window_slot(s, w.data(), x.data(), out);
        }
    }
};
#endif

// Our bank, built once, run kSlots slots per call.
struct Ours {
    int kind;
    std::vector<Zuf8u> mem, init, work;
    void* ctx = nullptr;
    std::vector<float> in, out, win;
    std::vector<float*> rows, rows2;
    template <class C>
    void make(zufResult (*get)(int*, int*, int*), zufResult (*fn)(C**, Zuf8u*, Zuf8u*)) {
        int s = 0, i = 0, w = 0;
        get(&s, &i, &w);
        mem.resize(s), init.resize(i), work.resize(w);
        C* c = nullptr;
        fn(&c, mem.data(), init.data());
        ctx = c;
    }
    explicit Ours(int k) : kind(k), in(128 * kSlots), out(128 * kSlots), win(window(shape(k))) {
        switch (k) {
            case 0:
                make(zufsAnalysisFilterGetSize_SBR_RToC_32f32fc, zufsAnalysisFilterInit_SBR_RToC_32f32fc);
                break;
            case 1:
                make(zufsAnalysisFilterGetSize_SBR_RToC_32f, zufsAnalysisFilterInit_SBR_RToC_32f);
                break;
            case 2:
                make(zufsAnalysisFilterGetSize_SBR_RToR_32f, zufsAnalysisFilterInit_SBR_RToR_32f);
                break;
            case 3:
                make(zufsSynthesisFilterGetSize_SBR_CToR_32fc32f, zufsSynthesisFilterInit_SBR_CToR_32fc32f);
                break;
            case 4:
                make(zufsSynthesisFilterGetSize_SBR_CToR_32f, zufsSynthesisFilterInit_SBR_CToR_32f);
                break;
            case 5:
                make(zufsSynthesisFilterGetSize_SBR_RToR_32f, zufsSynthesisFilterInit_SBR_RToR_32f);
                break;
            case 6:
                make(zufsSynthesisDownFilterGetSize_SBR_CToR_32fc32f, zufsSynthesisDownFilterInit_SBR_CToR_32fc32f);
                break;
            case 7:
                make(zufsSynthesisDownFilterGetSize_SBR_CToR_32f, zufsSynthesisDownFilterInit_SBR_CToR_32f);
                break;
            default:
                make(zufsSynthesisDownFilterGetSize_SBR_RToR_32f, zufsSynthesisDownFilterInit_SBR_RToR_32f);
        }
        for (int l = 0; l < kSlots; ++l) {
            float* base = (k < 3 ? out.data() : in.data()) + 128 * l;
            rows.push_back(base), rows2.push_back(base + (k < 3 ? 32 : shape(k).nIn));  // the peers' layout
        }
    }
    void run() {
        float** a = rows.data();
        float** b = rows2.data();
        const float* const* ca = a;
        const float* const* cb = b;
        auto** z = reinterpret_cast<Zuf32fc**>(a);
        const Zuf32fc* const* cz = z;
        const float* w = win.data();
        Zuf8u* wk = work.data();
        switch (kind) {
            case 0:
                zufsAnalysisFilter_SBR_RToC_32f32fc_D2L(in.data(), z, w, kSlots, 0, 32,
                                                        static_cast<AnalysisFilterContext_SBR_RToC_32f32fc*>(ctx), wk);
                break;
            case 1:
                zufsAnalysisFilter_SBR_RToC_32f_D2L(in.data(), a, b, w, kSlots, 0, 32,
                                                    static_cast<AnalysisFilterContext_SBR_RToC_32f*>(ctx), wk);
                break;
            case 2:
                zufsAnalysisFilter_SBR_RToR_32f_D2L(in.data(), a, w, kSlots, 0, 32,
                                                    static_cast<AnalysisFilterContext_SBR_RToR_32f*>(ctx), wk);
                break;
            case 3:
                zufsSynthesisFilter_SBR_CToR_32fc32f_D2L(
                    cz, out.data(), w, kSlots, static_cast<SynthesisFilterContext_SBR_CToR_32fc32f*>(ctx), wk);
                break;
            case 4:
                zufsSynthesisFilter_SBR_CToR_32f_D2L(ca, cb, out.data(), w, kSlots,
                                                     static_cast<SynthesisFilterContext_SBR_CToR_32f*>(ctx), wk);
                break;
            case 5:
                zufsSynthesisFilter_SBR_RToR_32f_D2L(ca, out.data(), w, kSlots,
                                                     static_cast<SynthesisFilterContext_SBR_RToR_32f*>(ctx), wk);
                break;
            case 6:
                zufsSynthesisDownFilter_SBR_CToR_32fc32f_D2L(
                    cz, out.data(), w, kSlots, static_cast<SynthesisDownFilterContext_SBR_CToR_32fc32f*>(ctx), wk);
                break;
            case 7:
                zufsSynthesisDownFilter_SBR_CToR_32f_D2L(
                    ca, cb, out.data(), w, kSlots, static_cast<SynthesisDownFilterContext_SBR_CToR_32f*>(ctx), wk);
                break;
            default:
                zufsSynthesisDownFilter_SBR_RToR_32f_D2L(
                    ca, out.data(), w, kSlots, static_cast<SynthesisDownFilterContext_SBR_RToR_32f*>(ctx), wk);
        }
    }
};

class Collector : public benchmark::ConsoleReporter {
  public:
    std::map<std::string, double> ns;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs)
            if (r.run_type == Run::RT_Iteration) ns[r.benchmark_name()] = r.GetAdjustedCPUTime() / kSlots;
        ConsoleReporter::ReportRuns(runs);
    }
};

template <class P>
std::function<void()> peer(int k, std::vector<P*>& keep) {
    auto* p = new P(k);
    keep.push_back(p);
    auto* in = new std::vector<float>(128 * kSlots, 0.25f);
    auto* out = new std::vector<float>(128 * kSlots);
    return [p, in, out] {
        for (int l = 0; l < kSlots; ++l) p->slot(in->data() + 128 * l, out->data() + 128 * l);
        benchmark::DoNotOptimize(out->data());
    };
}

// The peers compute what we compute: the largest difference over kSlots slots of noise, for
// the members whose row layout the peers share (split complex and real).
void check(int k) {
    Ours o(k);
    Naive n(k);
    uint32_t r = 1;
    for (float& v : o.in) v = static_cast<float>((r = r * 1664525u + 1013904223u) >> 8) / 8388608.0f - 1.0f;
    o.run();
    const Shape s = shape(k);
    const int per = s.analysis ? (k == 2 ? 32 : 64) : s.block / 2;
    std::vector<float> a(128), b(128);
    double dn = 0, df = 0;
#if defined(ZUF_HAVE_FFTW)
    Fftw f(k);
#endif
    for (int l = 0; l < kSlots; ++l) {
        const float* got = o.out.data() + (s.analysis ? 128 : per) * l;
        const float* in = o.in.data() + (s.analysis ? 32 : 128) * l;  // analysis input is contiguous
        n.slot(in, a.data());
#if defined(ZUF_HAVE_FFTW)
        f.slot(in, b.data());
#endif
        for (int i = 0; i < per; ++i)
            dn = std::max<double>(dn, std::fabs(got[i] - a[i])), df = std::max<double>(df, std::fabs(got[i] - b[i]));
    }
    std::printf("%-18s max |ours - naive| %.2e, |ours - fftw| %.2e\n", kName[k], dn, df);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    std::vector<Ours*> ours;
    std::vector<Naive*> naive;
#if defined(ZUF_HAVE_FFTW)
    std::vector<Fftw*> fftw;
    const char* const peers[] = {"ours", "naive", "fftw"};
#else
    const char* const peers[] = {"ours", "naive"};
#endif
    for (int k : {1, 2, 4, 5, 7, 8}) check(k);
    for (int k = 0; k < 9; ++k) {
        auto reg = [&](const char* who, std::function<void()> f) {
            benchmark::RegisterBenchmark((std::string(kName[k]) + "/" + who).c_str(), [f](benchmark::State& st) {
                for (auto _ : st) f();
            });
        };
        auto* o = new Ours(k);
        ours.push_back(o);
        for (std::size_t i = 0; i < o->in.size(); ++i) o->in[i] = 0.25f;
        reg("ours", [o] { o->run(); });
        reg("naive", peer(k, naive));
#if defined(ZUF_HAVE_FFTW)
        reg("fftw", peer(k, fftw));
#endif
    }
    Collector rep;
    benchmark::RunSpecifiedBenchmarks(&rep);
    std::printf("\n%-18s %12s %12s %12s\n", "bank", "ours ns/slot", "ours/naive", "ours/fftw");
    for (int k = 0; k < 9; ++k) {
        const auto it = rep.ns.find(std::string(kName[k]) + "/ours");
        if (it == rep.ns.end()) continue;
        std::printf("%-18s %12.1f", kName[k], it->second);
        for (std::size_t p = 1; p < sizeof(peers) / sizeof(peers[0]); ++p) {
            const auto f = rep.ns.find(std::string(kName[k]) + "/" + peers[p]);
            std::printf(" %12.3f", f != rep.ns.end() ? it->second / f->second : 0.0);
        }
        std::printf("\n");
    }
    benchmark::Shutdown();
    return 0;
}
