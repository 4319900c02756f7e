// Fixed-point SBR QMF banks: one time slot per call for each of the six banks, beside a
// straightforward evaluation of the same slot (ring with modulo indexing, window sums, and the
// transform as a dense Q30 matrix product in 64-bit); brute_over_lib is how many times longer
// the straightforward slot takes.
#include <benchmark/benchmark.h>

#include <ctime>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "zufack9/zuf_sbr.h"

namespace {

enum Kind { kAnaHQ, kAnaLP, kSynHQ, kSynLP, kDownHQ, kDownLP };

// The straightforward slot: analysis rings 320 samples and multiplies the 64 windowed values by
// a (bands x 64) matrix; synthesis multiplies the bands by a (B x inputs) matrix into the ring
// and windows it.
struct Direct {
    Kind kind;
    int rows, cols, hist, pos = 0;
    std::vector<int32_t> ring, m;
    explicit Direct(Kind k) : kind(k) {
        const bool ana = k <= kAnaLP, hq = k == kAnaHQ || k == kSynHQ || k == kDownHQ, full = k <= kSynLP;
        rows = ana ? (hq ? 64 : 32) : (full ? 128 : 64);
        cols = ana ? 64 : (full ? 64 : 32) * (hq ? 2 : 1);
        hist = ana ? 320 : 10 * rows;
        ring.assign(hist, 0);
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < cols; ++c) {
                const double ph =
                    ana ? M_PI * ((hq ? r / 2 : r) + 0.5) * (2 * c - (hq ? 0.5 : 96)) / 64
                        : M_PI * ((hq ? c / 2 : c) + 0.5) * (2 * r - (full ? 255 : 0)) / (full ? 128 : 64);
                const double v =
                    hq ? ((ana ? r : c) % 2 ? (ana ? std::sin(ph) : -std::sin(ph)) : std::cos(ph)) : std::cos(ph);
                m.push_back(static_cast<int32_t>(std::lround(v * (1 << 28))));
            }
    }
    void slot(const int32_t* in, int32_t* out) {
        const int B = kind <= kAnaLP ? 32 : rows;
        pos = (pos + hist - B) % hist;
        if (kind <= kAnaLP) {
            int32_t u[64];
            for (int i = 0; i < 32; ++i) ring[pos + 31 - i] = in[i];
            for (int k = 0; k < 64; ++k) {
                int64_t s = 0;
                for (int j = 0; j < 5; ++j)
                    s += int64_t{ring[(pos + k + 64 * j) % hist]} * SBR_TABLE_QMF_WINDOW_320_INT_Q30[k + 64 * j];
                u[k] = static_cast<int32_t>(s >> 32);
            }
            for (int r = 0; r < rows; ++r) {
                int64_t s = 0;
                for (int c = 0; c < cols; ++c) s += int64_t{u[c]} * m[r * cols + c];
                out[r] = static_cast<int32_t>(s >> 32);
            }
            return;
        }
        for (int r = 0; r < rows; ++r) {
            int64_t s = 0;
            for (int c = 0; c < cols; ++c) s += int64_t{in[c]} * m[r * cols + c];
            ring[pos + r] = static_cast<int32_t>(s >> 32);
        }
        const int h = rows / 2;
        const int32_t* W = rows == 128 ? SBR_TABLE_QMF_WINDOW_640_INT_Q30 : SBR_TABLE_QMF_WINDOW_320_INT_Q30;
        for (int n = 0; n < h; ++n) {
            int64_t s = 0;
            for (int j = 0; j < 5; ++j)
                s += int64_t{ring[(pos + 2 * rows * j + n) % hist]} * W[2 * h * j + n] +
                     int64_t{ring[(pos + 2 * rows * j + 3 * h + n) % hist]} * W[2 * h * j + h + n];
            out[n] = static_cast<int32_t>(s >> 32);
        }
    }
};

// Thread CPU time, so that other load on the machine does not enter the ratio.
double cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// One slot of the library bank `kind` per iteration, then the same count of direct slots.
void SbrQmfFixed(benchmark::State& st) {
    const auto kind = static_cast<Kind>(st.range(0));
    int size = 0;
    zufResult (*const getSize[])(int*) = {
        zufsAnalysisFilterGetSize_SBRHQ_32s32sc,      zufsAnalysisFilterGetSize_SBRLP_32s,
        zufsSynthesisFilterGetSize_SBRHQ_32sc32s,     zufsSynthesisFilterGetSize_SBRLP_32s,
        zufsSynthesisDownFilterGetSize_SBRHQ_32sc32s, zufsSynthesisDownFilterGetSize_SBRLP_32s};
    zufResult (*const init[])(Zuf8u*) = {
        zufsAnalysisFilterInit_SBRHQ_32s32sc,      zufsAnalysisFilterInit_SBRLP_32s,
        zufsSynthesisFilterInit_SBRHQ_32sc32s,     zufsSynthesisFilterInit_SBRLP_32s,
        zufsSynthesisDownFilterInit_SBRHQ_32sc32s, zufsSynthesisDownFilterInit_SBRLP_32s};
    getSize[kind](&size);
    std::vector<Zuf8u> mem(size);
    init[kind](mem.data());
    Zuf8u* c = mem.data();
    std::mt19937 rng(9);
    std::vector<int32_t> in(128), out(128);
    for (auto& v : in) v = static_cast<int32_t>(rng() % (1u << 22)) - (1 << 21);
    auto lib = [&] {
        const auto* sc = reinterpret_cast<const Zuf32sc*>(in.data());
        switch (kind) {
            case kAnaHQ:
                zufsAnalysisFilter_SBRHQ_32s32sc(in.data(), reinterpret_cast<Zuf32sc*>(out.data()), 32,
                                                 reinterpret_cast<AnalysisFilterContext_SBRHQ_32s32sc*>(c));
                break;
            case kAnaLP:
                zufsAnalysisFilter_SBRLP_32s(in.data(), out.data(), 32,
                                             reinterpret_cast<AnalysisFilterContext_SBRLP_32s*>(c));
                break;
            case kSynHQ:
                zufsSynthesisFilter_SBRHQ_32sc32s(sc, out.data(),
                                                  reinterpret_cast<SynthesisFilterContext_SBRHQ_32sc32s*>(c));
                break;
            case kSynLP:
                zufsSynthesisFilter_SBRLP_32s(in.data(), out.data(),
                                              reinterpret_cast<SynthesisFilterContext_SBRLP_32s*>(c));
                break;
            case kDownHQ:
                zufsSynthesisDownFilter_SBRHQ_32sc32s(sc, out.data(),
                                                      reinterpret_cast<SynthesisDownFilterContext_SBRHQ_32sc32s*>(c));
                break;
            case kDownLP:
                zufsSynthesisDownFilter_SBRLP_32s(in.data(), out.data(),
                                                  reinterpret_cast<SynthesisDownFilterContext_SBRLP_32s*>(c));
                break;
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    };
    const double t0 = cpu_seconds();
    for (auto _ : st) lib();
    const double tLib = (cpu_seconds() - t0) / static_cast<double>(st.iterations());
    Direct d(kind);
    const int reps = 2000;
    const double t1 = cpu_seconds();
    for (int r = 0; r < reps; ++r) {
        d.slot(in.data(), out.data());
        benchmark::DoNotOptimize(out.data());
    }
    const double tDirect = (cpu_seconds() - t1) / reps;
    st.counters["brute_over_lib"] = tDirect / tLib;
    st.SetItemsProcessed(static_cast<int64_t>(st.iterations()));
}
BENCHMARK(SbrQmfFixed)->DenseRange(kAnaHQ, kDownLP)->ArgName("bank");

}  // namespace
