// Cost of the SBR prediction and encoder analysis and of the float polyphase banks, each beside
// its scalar reference and a straightforward double evaluation of the same formula.
//   prediction: per band (items = bands), 38 slots, 64 real or 32 complex bands per call
//   encoder analysis bank, polyphase analysis and synthesis: per call
#include <benchmark/benchmark.h>

#include <cmath>
#include <complex>
#include <random>
#include <vector>

#include "sbr/mp3_pqmf_float.h"
#include "sbr/sbr_internal.h"
#include "zufack9/zuf_sbr.h"

namespace {

constexpr int kLen = 38, kRows = kLen + 2;

struct Rows {
    std::vector<float> data = std::vector<float>(kRows * 128);
    std::vector<const float*> re;
    std::vector<const Zuf32fc*> c;
    Rows() {
        std::mt19937 g(1);
        std::uniform_real_distribution<float> d(-1, 1);
        for (float& v : data) v = d(g);
        for (int n = 0; n < kRows; ++n) {
            re.push_back(&data[128 * n]);
            c.push_back(reinterpret_cast<const Zuf32fc*>(&data[128 * n]));
        }
    }
};

// 0: the exported vector path; 1: the scalar reference
void BM_PredictCoef_R(benchmark::State& st) {
    Rows r;
    float a0[64], a1[64];
    for (auto _ : st) zuf::sbr::ownsPredictCoef_SBR_R_32f(r.re.data(), a0, a1, 64, kLen, st.range(0) == 0);
    st.SetItemsProcessed(st.iterations() * 64);
}
BENCHMARK(BM_PredictCoef_R)->Arg(0)->Arg(1);

void BM_PredictCoef_C_32fc(benchmark::State& st) {
    Rows r;
    Zuf32fc a0[32], a1[32];
    for (auto _ : st) zuf::sbr::ownsPredictCoef_SBR_C_32fc(r.c.data(), a0, a1, 32, kLen, st.range(0) == 0);
    st.SetItemsProcessed(st.iterations() * 32);
}
BENCHMARK(BM_PredictCoef_C_32fc)->Arg(0)->Arg(1);

void BM_PredictCoef_C_32f(benchmark::State& st) {
    Rows r;
    float a[4][32];
    for (auto _ : st)
        zuf::sbr::ownsPredictCoef_SBR_C_32f(r.re.data(), r.re.data(), a[0], a[1], a[2], a[3], 32, kLen,
                                            st.range(0) == 0);
    st.SetItemsProcessed(st.iterations() * 32);
}
BENCHMARK(BM_PredictCoef_C_32f)->Arg(0)->Arg(1);

// The covariance method in double, one complex band at a time.
void BM_PredictCoef_C_Double(benchmark::State& st) {
    Rows r;
    using cd = std::complex<double>;
    cd out[64];
    for (auto _ : st) {
        for (int k = 0; k < 32; ++k) {
            cd p01, p02, p12;
            double p11 = 0, p22 = 0;
            for (int n = 2; n < kRows; ++n) {
                const cd x0(r.c[n][k].re, r.c[n][k].im), x1(r.c[n - 1][k].re, r.c[n - 1][k].im),
                    x2(r.c[n - 2][k].re, r.c[n - 2][k].im);
                p01 += x0 * std::conj(x1), p02 += x0 * std::conj(x2), p12 += x1 * std::conj(x2);
                p11 += std::norm(x1), p22 += std::norm(x2);
            }
            const double d = p22 * p11 - std::norm(p12) / (1 + 1e-6);
            const cd a1 = d != 0 ? (p01 * p12 - p02 * p11) / d : 0.0;
            out[2 * k] = a1, out[2 * k + 1] = p11 > 0 ? -(p01 + a1 * std::conj(p12)) / p11 : 0.0;
        }
        benchmark::DoNotOptimize(out);
    }
    st.SetItemsProcessed(st.iterations() * 32);
}
BENCHMARK(BM_PredictCoef_C_Double);

void BM_PredictOneCoef(benchmark::State& st) {
    std::vector<Zuf32sc> data(kRows * 64);
    std::mt19937 g(2);
    for (Zuf32sc& v : data) v = {static_cast<Zuf32s>(g()) >> 6, static_cast<Zuf32s>(g()) >> 6};
    std::vector<const Zuf32sc*> rows;
    std::vector<const Zuf32s*> real;
    for (int n = 0; n < kRows; ++n) {
        rows.push_back(&data[64 * n]);
        real.push_back(&data[64 * n].re);
    }
    Zuf32sc a0, a1;
    Zuf32s r0, r1;
    for (auto _ : st) {
        for (int k = 0; k < 32; ++k)
            st.range(0) ? zufsPredictOneCoef_SBRLP_32s_D2L(real.data(), &r0, &r1, k, kLen)
                        : zufsPredictOneCoef_SBRHQ_32sc_D2L(rows.data(), &a0, &a1, k, kLen);
        benchmark::DoNotOptimize(a0), benchmark::DoNotOptimize(r0);
    }
    st.SetItemsProcessed(st.iterations() * 32);
}
BENCHMARK(BM_PredictOneCoef)->Arg(0)->Arg(1);

std::vector<float> signal(int n, uint32_t seed) {
    std::mt19937 g(seed);
    std::uniform_real_distribution<float> d(-32768, 32767);
    std::vector<float> v(n);
    for (float& x : v) x = d(g);
    return v;
}

// 0: the bank; 1: the double sums of its definition
void BM_AnalysisFilterEnc(benchmark::State& st) {
    AnalysisFilterEncContext_SBR_32f* ctx = nullptr;
    zufsAnalysisFilterEncInitAlloc_SBR_32f(&ctx);
    const std::vector<float> src = signal(640, 3);
    Zuf32fc dst[64];
    std::vector<std::complex<double>> tw(128 * 64);
    for (int k = 0; k < 64; ++k)
        for (int n = 0; n < 128; ++n) tw[128 * k + n] = std::polar(1.0, M_PI * (k + 0.5) * (2 * n + 1) / 128);
    for (auto _ : st) {
        if (st.range(0) == 0) {
            zufsAnalysisFilterEnc_SBR_32f32fc(src.data(), dst, ctx);
        } else {
            double u[128];
            for (int n = 0; n < 128; ++n) {
                u[n] = 0;
                for (int j = 0; j < 5; ++j)
                    u[n] += double(SBR_TAB_QMF_WINDOW_640_FP[n + 128 * j]) * src[639 - 128 * j - n];
            }
            for (int k = 0; k < 64; ++k) {
                std::complex<double> x = 0;
                for (int n = 0; n < 128; ++n) x += u[n] * tw[128 * k + n];
                dst[k] = {static_cast<float>(x.real()), static_cast<float>(x.imag())};
            }
        }
        benchmark::DoNotOptimize(dst);
    }
    zufsAnalysisFilterEncFree_SBR_32f(ctx);
}
BENCHMARK(BM_AnalysisFilterEnc)->Arg(0)->Arg(1);

// 0: vector path; 1: scalar reference; 2: the double shift-register evaluation of the standard
void BM_PqmfMp3(benchmark::State& st, bool synthesis) {
    alignas(16) Zuf8u mem[2091];
    SynthesisFilterContext_PQMF_MP3_32f* ctx = nullptr;
    zufsSynthesisFilterInit_PQMF_MP3_32f(&ctx, mem);
    const std::vector<float> src = signal(32, 4);
    float dst[32];
    std::vector<double> hist(1024, 0.0), cosTab(64 * 32), win(512, 0.01);  // any window: the same cost
    for (int i = 0; i < 64; ++i)
        for (int k = 0; k < 32; ++k)
            cosTab[32 * i + k] =
                synthesis ? std::cos((16 + i) * (2 * k + 1) * M_PI / 64) : std::cos((2 * k + 1) * (i - 16) * M_PI / 64);
    for (auto _ : st) {
        if (st.range(0) < 2) {
            synthesis ? zuf::sbr::ownsSynthesisPQMF_MP3_32f(src.data(), dst, ctx, 1, st.range(0) == 0)
                      : zuf::sbr::ownsAnalysisPQMF_MP3_32f(src.data(), dst, ctx, 1, st.range(0) == 0);
        } else if (synthesis) {  // V shift, 64 x 32 matrixing, 512-tap window
            std::copy_backward(hist.begin(), hist.end() - 64, hist.end());
            for (int i = 0; i < 64; ++i) {
                hist[i] = 0;
                for (int k = 0; k < 32; ++k) hist[i] += cosTab[32 * i + k] * src[k];
            }
            for (int j = 0; j < 32; ++j) {
                double o = 0;
                for (int i = 0; i < 8; ++i)
                    o += hist[128 * i + j] * win[64 * i + j] + hist[128 * i + 96 + j] * win[64 * i + 32 + j];
                dst[j] = static_cast<float>(o);
            }
        } else {  // X shift, 512-tap window, 32 x 64 matrixing
            std::copy_backward(hist.begin(), hist.begin() + 480, hist.begin() + 512);
            for (int i = 0; i < 32; ++i) hist[i] = src[31 - i] / 32768.0;
            double y[64];
            for (int k = 0; k < 64; ++k) {
                y[k] = 0;
                for (int j = 0; j < 8; ++j) y[k] += win[k + 64 * j] * hist[k + 64 * j];
            }
            for (int i = 0; i < 32; ++i) {
                double s = 0;
                for (int k = 0; k < 64; ++k) s += cosTab[32 * k + i] * y[k];
                dst[i] = static_cast<float>(s);
            }
        }
        benchmark::DoNotOptimize(dst);
    }
}
BENCHMARK_CAPTURE(BM_PqmfMp3, analysis, false)->Arg(0)->Arg(1)->Arg(2);
BENCHMARK_CAPTURE(BM_PqmfMp3, synthesis, true)->Arg(0)->Arg(1)->Arg(2);

}  // namespace
