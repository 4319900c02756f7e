// Per-frame cost of the AAC spectral tools: inverse quantisation, TNS and the fixed-point
// filter bank (one channel, 1024 samples per frame).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "zufack9/zuf_aac.h"

namespace {

// Quantised spectrum shaped like real music: mostly small values, falling with frequency,
// an occasional escape-sized one.
std::vector<int32_t> quantised_frame(uint32_t seed) {
    std::mt19937 g(seed);
    std::vector<int32_t> q(1024);
    for (int k = 0; k < 1024; ++k) {
        const double scale = 40.0 / (1 + k / 24.0);
        std::normal_distribution<double> d(0, scale);
        q[k] = static_cast<int32_t>(d(g));
        if (g() % 500 == 0) q[k] = static_cast<int32_t>(g() % 4000) - 2000;
    }
    return q;
}

// A Q3 spectrum at a realistic level (output RMS of a few thousand LSB).
std::vector<int32_t> q3_frame(uint32_t seed) {
    std::mt19937 g(seed);
    std::uniform_int_distribution<int32_t> d(-(1 << 21), 1 << 21);
    std::vector<int32_t> x(1024);
    for (int k = 0; k < 1024; ++k) x[k] = static_cast<int32_t>(d(g) / (1 + k / 64));
    return x;
}

void BM_QuantInv_Long(benchmark::State& st) {
    const std::vector<int32_t> q = quantised_frame(1);
    std::vector<int32_t> x(1024);
    std::vector<Zuf16s> sf(49);
    std::vector<Zuf8u> cb(49, 5);
    for (int b = 0; b < 49; ++b) sf[b] = static_cast<Zuf16s>(100 + (b % 7) - 3);
    const int one = 1;
    for (auto _ : st) {
        std::memcpy(x.data(), q.data(), 4096);
        zufsQuantInv_AAC_32s_I(x.data(), sf.data(), 1, &one, 49, cb.data(), 4, 1024);
        benchmark::DoNotOptimize(x.data());
    }
}
BENCHMARK(BM_QuantInv_Long);

void BM_DecodeTns_Long(benchmark::State& st) {
    // Order 12 over the whole TNS range, as LC encoders send for transient frames.
    const std::vector<int32_t> src = q3_frame(2);
    std::vector<int32_t> x(1024);
    const int nFilt = 1, length = 49, order = 12, res = 4, dir = 0;
    const Zuf8s coef[12] = {3, -2, 1, 1, -1, 0, 1, 0, -1, 0, 1, 0};
    for (auto _ : st) {
        std::memcpy(x.data(), src.data(), 4096);
        zufsDecodeTNS_AAC_32s_I(x.data(), &nFilt, &length, &order, &res, coef, &dir, 49, 1, 4, 1024);
        benchmark::DoNotOptimize(x.data());
    }
}
BENCHMARK(BM_DecodeTns_Long);

void BM_MdctInv_16s(benchmark::State& st) {
    const int seq = static_cast<int>(st.range(0));
    const std::vector<int32_t> src = q3_frame(3);
    std::vector<int32_t> x(1024), ov(1024, 0);
    std::vector<Zuf16s> pcm(2048);
    for (auto _ : st) {
        std::memcpy(x.data(), src.data(), 4096);
        zufsMDCTInv_AAC_32s16s(x.data(), pcm.data(), ov.data(), seq, 1, 0, 2);
        benchmark::DoNotOptimize(pcm.data());
    }
}
BENCHMARK(BM_MdctInv_16s)->Arg(0)->Arg(2)->ArgName("window_sequence");

void BM_MdctInv_32s(benchmark::State& st) {
    const int seq = static_cast<int>(st.range(0));
    std::vector<int32_t> src = q3_frame(4);
    for (auto& v : src) v >>= 4;  // the fixed-scale path needs headroom
    std::vector<int32_t> x(1024), ov(1024, 0);
    for (auto _ : st) {
        std::memcpy(x.data(), src.data(), 4096);
        zufsMDCTInv_AAC_32s_I(x.data(), ov.data(), seq, 0, 0, 1024);
        benchmark::DoNotOptimize(x.data());
    }
}
BENCHMARK(BM_MdctInv_32s)->Arg(0)->Arg(2)->ArgName("window_sequence");

}  // namespace
