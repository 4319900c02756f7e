// TwinVQ index selection (both stages, two codebooks) beside a brute-force search over every
// pair of signed codewords on the same data, both in float; the counter brute_over_lib is how
// many times longer the brute-force search takes. And the integer spreading function per call.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <random>
#include <vector>

#include "zufack9/zuf_vq.h"

namespace {

// The best pair of (codeword, sign) of two codebooks for the average, every pair tried.
void brute_force(const float* x, const float* w, int nSub, int len, const std::vector<float>* book, int height,
                 int* out) {
    for (int s = 0; s < nSub; ++s, x += len, w += len) {
        float best = 1e38f;
        for (int a = 0; a < 2 * height; ++a)
            for (int b = 0; b < 2 * height; ++b) {
                const float* c0 = book[0].data() + (a >> 1) * len;
                const float* c1 = book[1].data() + (b >> 1) * len;
                const float s0 = a & 1 ? -1.0f : 1.0f, s1 = b & 1 ? -1.0f : 1.0f;
                float d = 0;
                for (int i = 0; i < len; ++i) {
                    const float e = x[i] - (s0 * c0[i] + s1 * c1[i]) * 0.5f;
                    d += w[i] * (e * e);
                }
                if (d < best) best = d, out[2 * s] = a, out[2 * s + 1] = b;
            }
    }
}

// Arguments: sub-vector length (= codeword length), codebook height, nCand; 8 sub-vectors.
void VQIndexSelect_vs_BruteForce(benchmark::State& st) {
    const int len = static_cast<int>(st.range(0)), height = static_cast<int>(st.range(1));
    const int nCand = static_cast<int>(st.range(2)), nSub = 8;
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    std::vector<float> book[2], x(nSub * len), w(nSub * len);
    std::vector<Zuf8u> mem[2];
    VQCodeBookContext_32f* ctx[2];
    for (int k = 0; k < 2; ++k) {
        int size = 0;
        for (int i = 0; i < len * height; ++i) book[k].push_back(u(rng));
        zufsVQCodeBookGetSize_32f(len, height, &size);
        mem[k].resize(size);
        zufsVQCodeBookInit_32f(book[k].data(), &ctx[k], len, height, mem[k].data());
    }
    for (int i = 0; i < nSub * len; ++i) x[i] = u(rng), w[i] = 0.5f + 0.5f * u(rng);
    std::vector<int> lens(nSub, len), pol(nSub, 1), idx[2] = {std::vector<int>(nSub), std::vector<int>(nSub)};
    std::vector<int> sgn[2] = {std::vector<int>(nSub), std::vector<int>(nSub)}, ref(2 * nSub);
    const int* pp[2] = {pol.data(), pol.data()};
    int* pi[2] = {idx[0].data(), idx[1].data()};
    int* ps[2] = {sgn[0].data(), sgn[1].data()};
    using clock = std::chrono::steady_clock;
    const auto t0 = clock::now();
    for (auto _ : st) {
        zufsVQIndexSelect_32f(x.data(), w.data(), nSub, lens.data(), nCand, pp, pi, ps, ctx, 2);
        benchmark::DoNotOptimize(idx[0].data());
        benchmark::ClobberMemory();
    }
    const double lib = std::chrono::duration<double>(clock::now() - t0).count() / static_cast<double>(st.iterations());
    const int reps = 20;
    const auto t1 = clock::now();
    for (int r = 0; r < reps; ++r) {
        brute_force(x.data(), w.data(), nSub, len, book, height, ref.data());
        benchmark::DoNotOptimize(ref.data());
    }
    const double brute = std::chrono::duration<double>(clock::now() - t1).count() / reps;
    st.counters["brute_over_lib"] = brute / lib;
}
BENCHMARK(VQIndexSelect_vs_BruteForce)->Args({8, 32, 4})->Args({16, 64, 8})->Args({12, 256, 8});

void Spread_16s_Sfs(benchmark::State& st) {
    std::mt19937 rng(6);
    std::vector<Zuf16s> pairs(2048);
    for (Zuf16s& v : pairs) v = static_cast<Zuf16s>(rng() % 1024);  // Bark * 64 (scale factor -6)
    Zuf16s out = 0;
    std::size_t k = 0;
    for (auto _ : st) {
        zufsSpread_16s_Sfs(pairs[k], pairs[k + 1], -6, &out);
        benchmark::DoNotOptimize(out);
        k = (k + 2) & 2047;
    }
    st.SetItemsProcessed(static_cast<int64_t>(st.iterations()));
}
BENCHMARK(Spread_16s_Sfs);

}  // namespace
