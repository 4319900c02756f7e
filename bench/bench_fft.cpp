// Transforms side by side with FFTW (single precision), in the same run: complex forward and
// inverse FFT, real FFT, DCT-II and MDCT, N = 16 .. 65536, out of place, 32-byte aligned buffers,
// unnormalised on both sides. FFTW plans are made with FFTW_ESTIMATE and with FFTW_MEASURE. The
// MDCT is compared with FFTW's DCT-IV of N/2 points (REDFT11), the core of an MDCT (FFTW has no
// MDCT; the fold is not in its time). KissFFT, where installed, is timed on the complex and real
// FFTs too. After the benchmarks a table prints each of our times and the ratios ours / peer.
// Without the peers the program times ours only.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "zufack9/zufack9.h"
#if defined(ZUF_HAVE_KISSFFT)
#include <kiss_fft.h>
#include <kiss_fftr.h>
#endif
#if defined(ZUF_HAVE_FFTW)
#include <fftw3.h>
#endif

namespace {

enum Kind { kCFwd, kCInv, kReal, kDct, kMdct, kKinds };
const char* const kKindName[kKinds] = {"cfft_fwd", "cfft_inv", "rfft", "dct2", "mdct"};
constexpr int kMinOrder = 4, kMaxOrder = 16;

// One buffer set per (kind, N), shared by all peers.
struct Buffers {
    float* in = nullptr;
    float* out = nullptr;
    explicit Buffers(int floats) {
        in = zufsMalloc_32f(floats);
        out = zufsMalloc_32f(floats);
        for (int i = 0; i < floats; ++i) in[i] = static_cast<float>((i * 7919) % 1000) / 500.0f - 1.0f;
    }
};

// A prepared transform of ours: the context and work buffer live as long as the program.
std::function<void()> ours(Kind kind, int n, Buffers& b) {
    int order = 0;
    while ((1 << order) < n) ++order;
    int s = 0, i = 0, w = 0;
    Zuf8u *ctxMem = nullptr, *init = nullptr, *work = nullptr;
    auto alloc = [&](int ss, int is, int ws) {
        ctxMem = zufsMalloc_8u(ss);
        init = zufsMalloc_8u(is > 0 ? is : 1);  // MDCT Init takes one for every power of two
        work = ws > 0 ? zufsMalloc_8u(ws) : nullptr;
    };
    switch (kind) {
        case kCFwd:
        case kCInv: {
            zufsFFTGetSize_C_32fc(order, 8, 0, &s, &i, &w);
            alloc(s, i, w);
            FftContext_C_32fc* c = nullptr;
            zufsFFTInit_C_32fc(&c, order, 8, 0, ctxMem, init);
            auto* x = reinterpret_cast<Zuf32fc*>(b.in);
            auto* y = reinterpret_cast<Zuf32fc*>(b.out);
            if (kind == kCFwd) return [=] { zufsFFTFwd_CToC_32fc(x, y, c, work); };
            return [=] { zufsFFTInv_CToC_32fc(x, y, c, work); };
        }
        case kReal: {
            zufsFFTGetSize_R_32f(order, 8, 0, &s, &i, &w);
            alloc(s, i, w);
            FftContext_R_32f* c = nullptr;
            zufsFFTInit_R_32f(&c, order, 8, 0, ctxMem, init);
            return [=, &b] { zufsFFTFwd_RToPerm_32f(b.in, b.out, c, work); };
        }
        case kDct: {
            zufsDCTFwdGetSize_32f(n, 0, &s, &i, &w);
            alloc(s, i, w);
            DctFwdContext_32f* c = nullptr;
            zufsDCTFwdInit_32f(&c, n, 0, ctxMem, init);
            return [=, &b] { zufsDCTFwd_32f(b.in, b.out, c, work); };
        }
        default: {
            zufsMDCTFwdGetSize_32f(n, &s, &i, &w);
            alloc(s, i, w);
            MdctFwdContext_32f* c = nullptr;
            zufsMDCTFwdInit_32f(&c, n, ctxMem, init);
            return [=, &b] { zufsMDCTFwd_32f(b.in, b.out, c, work); };
        }
    }
}

#if defined(ZUF_HAVE_FFTW)
std::function<void()> fftw(Kind kind, int n, Buffers& b, unsigned flags) {
    // Plan on scratch buffers (MEASURE overwrites them), execute on the shared ones.
    float* a = fftwf_alloc_real(2 * n + 2);
    float* o = fftwf_alloc_real(2 * n + 2);
    fftwf_plan p = nullptr;
    switch (kind) {
        case kCFwd:
        case kCInv:
            p = fftwf_plan_dft_1d(n, reinterpret_cast<fftwf_complex*>(a), reinterpret_cast<fftwf_complex*>(o),
                                  kind == kCFwd ? FFTW_FORWARD : FFTW_BACKWARD, flags);
            return [=, &b] {
                fftwf_execute_dft(p, reinterpret_cast<fftwf_complex*>(b.in), reinterpret_cast<fftwf_complex*>(b.out));
            };
        case kReal:
            p = fftwf_plan_dft_r2c_1d(n, a, reinterpret_cast<fftwf_complex*>(o), flags);
            return [=, &b] { fftwf_execute_dft_r2c(p, b.in, reinterpret_cast<fftwf_complex*>(b.out)); };
        case kDct:
            p = fftwf_plan_r2r_1d(n, a, o, FFTW_REDFT10, flags);
            return [=, &b] { fftwf_execute_r2r(p, b.in, b.out); };
        default:
            p = fftwf_plan_r2r_1d(n / 2, a, o, FFTW_REDFT11, flags);
            return [=, &b] { fftwf_execute_r2r(p, b.in, b.out); };
    }
}
#endif

#if defined(ZUF_HAVE_KISSFFT)
// KissFFT has complex and real FFTs only (no DCT, no MDCT): null for the other kinds.
std::function<void()> kiss(Kind kind, int n, Buffers& b) {
    switch (kind) {
        case kCFwd:
        case kCInv: {
            kiss_fft_cfg cfg = kiss_fft_alloc(n, kind == kCInv, nullptr, nullptr);
            return [=, &b] {
                kiss_fft(cfg, reinterpret_cast<const kiss_fft_cpx*>(b.in), reinterpret_cast<kiss_fft_cpx*>(b.out));
            };
        }
        case kReal: {
            kiss_fftr_cfg cfg = kiss_fftr_alloc(n, 0, nullptr, nullptr);
            return [=, &b] { kiss_fftr(cfg, b.in, reinterpret_cast<kiss_fft_cpx*>(b.out)); };
        }
        default:
            return nullptr;
    }
}
#endif

// Collects each benchmark's CPU time per iteration while printing as usual (CPU rather than wall
// time: on a shared machine the wall clock also counts the time other processes run).
class Collector : public benchmark::ConsoleReporter {
  public:
    std::map<std::string, double> ns;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs)
            if (r.run_type == Run::RT_Iteration) ns[r.benchmark_name()] = r.GetAdjustedCPUTime();
        ConsoleReporter::ReportRuns(runs);
    }
};

std::string bench_name(Kind k, int n, const char* peer) {
    return std::string(kKindName[k]) + "/" + peer + "/" + std::to_string(n);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    std::vector<Buffers*> keep;
    for (int k = 0; k < kKinds; ++k) {
        for (int order = kMinOrder; order <= kMaxOrder; ++order) {
            const int n = 1 << order;
            if (k == kMdct && n < 32) continue;
            auto* b = new Buffers(2 * n + 2);
            keep.push_back(b);
            auto reg = [&](const char* peer, std::function<void()> f) {
                benchmark::RegisterBenchmark(bench_name(static_cast<Kind>(k), n, peer).c_str(),
                                             [f](benchmark::State& st) {
                                                 for (auto _ : st) f();
                                             });
            };
            reg("ours", ours(static_cast<Kind>(k), n, *b));
#if defined(ZUF_HAVE_FFTW)
            reg("fftw_estimate", fftw(static_cast<Kind>(k), n, *b, FFTW_ESTIMATE));
            reg("fftw_measure", fftw(static_cast<Kind>(k), n, *b, FFTW_MEASURE));
#endif
#if defined(ZUF_HAVE_KISSFFT)
            if (auto f = kiss(static_cast<Kind>(k), n, *b)) reg("kissfft", f);
#endif
        }
    }
    Collector rep;
    benchmark::RunSpecifiedBenchmarks(&rep);

    std::printf("\n%-9s %7s %12s", "transform", "N", "ours cpu ns");
#if defined(ZUF_HAVE_FFTW)
    std::printf(" %14s %14s", "ours/ESTIMATE", "ours/MEASURE");
#endif
#if defined(ZUF_HAVE_KISSFFT)
    std::printf(" %14s", "ours/KissFFT");
#endif
    std::printf("\n");
    for (int k = 0; k < kKinds; ++k)
        for (int order = kMinOrder; order <= kMaxOrder; ++order) {
            const int n = 1 << order;
            const auto it = rep.ns.find(bench_name(static_cast<Kind>(k), n, "ours"));
            if (it == rep.ns.end()) continue;
            std::printf("%-9s %7d %12.1f", kKindName[k], n, it->second);
#if defined(ZUF_HAVE_FFTW)
            for (const char* peer : {"fftw_estimate", "fftw_measure"}) {
                const auto f = rep.ns.find(bench_name(static_cast<Kind>(k), n, peer));
                if (f != rep.ns.end())
                    std::printf(" %14.2f", it->second / f->second);
                else
                    std::printf(" %14s", "-");
            }
#endif
#if defined(ZUF_HAVE_KISSFFT)
            const auto kf = rep.ns.find(bench_name(static_cast<Kind>(k), n, "kissfft"));
            if (kf != rep.ns.end())
                std::printf(" %14.2f", it->second / kf->second);
            else
                std::printf(" %14s", "-");
#endif
            std::printf("\n");
        }
    for (auto* b : keep) delete b;
    benchmark::Shutdown();
    return 0;
}
