// Each vector kernel beside its scalar reference, on 32-byte-aligned buffers at a short, a
// medium and a long length, so that every vector path can be seen to earn its place.
// Throughput is reported in elements per second (items).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <random>

#include "frame/vec_kernels.h"
#include "zufack9/zuf_core.h"

namespace {

// A block from the library's aligned allocator, filled with reproducible random bytes shaped by
// a per-type generator.
template <class T>
struct Buf {
    T* p;
    explicit Buf(int n) : p(reinterpret_cast<T*>(zufsMalloc_8u(static_cast<int>(n * sizeof(T) + 64)))) {}
    ~Buf() { zufsFree(p); }
    Buf(const Buf&) = delete;
    Buf& operator=(const Buf&) = delete;
};

std::mt19937 g_rng(7);

void fill(Buf<Zuf16s>& b, int n) {
    for (int i = 0; i < n; ++i) b.p[i] = static_cast<Zuf16s>(g_rng());
}
void fill(Buf<Zuf32s>& b, int n) {
    for (int i = 0; i < n; ++i) b.p[i] = static_cast<Zuf32s>(g_rng());
}
void fill(Buf<Zuf32f>& b, int n) {
    std::uniform_real_distribution<float> d(-30000.0f, 30000.0f);
    for (int i = 0; i < n; ++i) b.p[i] = d(g_rng);
}
void fill(Buf<Zuf32fc>& b, int n) {
    std::uniform_real_distribution<float> d(-1.0f, 1.0f);
    for (int i = 0; i < n; ++i) b.p[i] = Zuf32fc{d(g_rng), d(g_rng)};
}

void items(benchmark::State& st, int n) { st.SetItemsProcessed(static_cast<int64_t>(st.iterations()) * n); }

#define ZUF_BENCH_ARGS ->Arg(64)->Arg(1024)->Arg(16384)

// ---------------------------------------------------------------- conversions

template <void (*F)(const Zuf16s*, Zuf32f*, int)>
void Convert_16s32f(benchmark::State& st) {
    const int n = static_cast<int>(st.range(0));
    Buf<Zuf16s> s(n);
    Buf<Zuf32f> d(n);
    fill(s, n);
    for (auto _ : st) {
        F(s.p, d.p, n);
        benchmark::ClobberMemory();
    }
    items(st, n);
}
BENCHMARK_TEMPLATE(Convert_16s32f, zuf::ownsConvert_16s32f_ref) ZUF_BENCH_ARGS;

template <void (*F)(const Zuf32s*, Zuf16s*, int, int), int kScale>
void Convert_32s16s_Sfs(benchmark::State& st) {
    const int n = static_cast<int>(st.range(0));
    Buf<Zuf32s> s(n);
    Buf<Zuf16s> d(n);
    fill(s, n);
    for (auto _ : st) {
        F(s.p, d.p, n, kScale);
        benchmark::ClobberMemory();
    }
    items(st, n);
}
BENCHMARK_TEMPLATE(Convert_32s16s_Sfs, zuf::ownsConvert_32s16s_Sfs_ref, 12) ZUF_BENCH_ARGS;
BENCHMARK_TEMPLATE(Convert_32s16s_Sfs, zuf::ownsConvert_32s16s_Sfs_sse2, 12) ZUF_BENCH_ARGS;
BENCHMARK_TEMPLATE(Convert_32s16s_Sfs, zuf::ownsConvert_32s16s_Sfs_ref, -3) ZUF_BENCH_ARGS;
BENCHMARK_TEMPLATE(Convert_32s16s_Sfs, zuf::ownsConvert_32s16s_Sfs_sse2, -3) ZUF_BENCH_ARGS;

template <void (*F)(const Zuf32f*, Zuf16s*, int, int, int), int kMode>
void Convert_32f16s_Sfs(benchmark::State& st) {
    const int n = static_cast<int>(st.range(0));
    Buf<Zuf32f> s(n);
    Buf<Zuf16s> d(n);
    fill(s, n);
    for (auto _ : st) {
        F(s.p, d.p, n, kMode, 1);
        benchmark::ClobberMemory();
    }
    items(st, n);
}
BENCHMARK_TEMPLATE(Convert_32f16s_Sfs, zuf::ownsConvert_32f16s_Sfs_ref, 1) ZUF_BENCH_ARGS;
BENCHMARK_TEMPLATE(Convert_32f16s_Sfs, zuf::ownsConvert_32f16s_Sfs_sse2, 1) ZUF_BENCH_ARGS;
BENCHMARK_TEMPLATE(Convert_32f16s_Sfs, zuf::ownsConvert_32f16s_Sfs_ref, 0) ZUF_BENCH_ARGS;
BENCHMARK_TEMPLATE(Convert_32f16s_Sfs, zuf::ownsConvert_32f16s_Sfs_sse2, 0) ZUF_BENCH_ARGS;

// ---------------------------------------------------------------- complex

template <void (*F)(const Zuf32fc*, Zuf32f*, Zuf32f*, int)>
void CplxToReal_32fc(benchmark::State& st) {
    const int n = static_cast<int>(st.range(0));
    Buf<Zuf32fc> s(n);
    Buf<Zuf32f> re(n), im(n);
    fill(s, n);
    for (auto _ : st) {
        F(s.p, re.p, im.p, n);
        benchmark::ClobberMemory();
    }
    items(st, n);
}
BENCHMARK_TEMPLATE(CplxToReal_32fc, zuf::ownsCplxToReal_32fc_ref) ZUF_BENCH_ARGS;

template <void (*F)(const Zuf32f*, const Zuf32f*, Zuf32fc*, int)>
void RealToCplx_32f(benchmark::State& st) {
    const int n = static_cast<int>(st.range(0));
    Buf<Zuf32f> re(n), im(n);
    Buf<Zuf32fc> d(n);
    fill(re, n);
    fill(im, n);
    for (auto _ : st) {
        F(re.p, im.p, d.p, n);
        benchmark::ClobberMemory();
    }
    items(st, n);
}
BENCHMARK_TEMPLATE(RealToCplx_32f, zuf::ownsRealToCplx_32f_ref) ZUF_BENCH_ARGS;
BENCHMARK_TEMPLATE(RealToCplx_32f, zuf::ownsRealToCplx_32f_sse2) ZUF_BENCH_ARGS;

template <void (*F)(const Zuf32fc*, const Zuf32fc*, Zuf32fc*, int)>
void Mul_32fc(benchmark::State& st) {
    const int n = static_cast<int>(st.range(0));
    Buf<Zuf32fc> a(n), b(n), d(n);
    fill(a, n);
    fill(b, n);
    for (auto _ : st) {
        F(a.p, b.p, d.p, n);
        benchmark::ClobberMemory();
    }
    items(st, n);
}
BENCHMARK_TEMPLATE(Mul_32fc, zuf::ownsMul_32fc_ref) ZUF_BENCH_ARGS;
BENCHMARK_TEMPLATE(Mul_32fc, zuf::ownsMul_32fc_sse2) ZUF_BENCH_ARGS;

// ---------------------------------------------------------------- in-place arithmetic

template <void (*F)(const Zuf32s*, Zuf32s*, int, int), int kScale>
void Add_32s_ISfs(benchmark::State& st) {
    const int n = static_cast<int>(st.range(0));
    Buf<Zuf32s> s(n), d(n);
    fill(s, n);
    fill(d, n);
    for (auto _ : st) {
        F(s.p, d.p, n, kScale);
        benchmark::ClobberMemory();
    }
    items(st, n);
}
BENCHMARK_TEMPLATE(Add_32s_ISfs, zuf::ownsAdd_32s_ISfs_ref, 0) ZUF_BENCH_ARGS;
BENCHMARK_TEMPLATE(Add_32s_ISfs, zuf::ownsAdd_32s_ISfs_sse2, 0) ZUF_BENCH_ARGS;
BENCHMARK_TEMPLATE(Add_32s_ISfs, zuf::ownsAdd_32s_ISfs_ref, 3) ZUF_BENCH_ARGS;
BENCHMARK_TEMPLATE(Add_32s_ISfs, zuf::ownsAdd_32s_ISfs_sse2, 3) ZUF_BENCH_ARGS;
BENCHMARK_TEMPLATE(Add_32s_ISfs, zuf::ownsAdd_32s_ISfs_ref, -2) ZUF_BENCH_ARGS;
BENCHMARK_TEMPLATE(Add_32s_ISfs, zuf::ownsAdd_32s_ISfs_sse2, -2) ZUF_BENCH_ARGS;

template <void (*F)(int, Zuf32s*, int)>
void RShiftC_32s_I(benchmark::State& st) {
    const int n = static_cast<int>(st.range(0));
    Buf<Zuf32s> d(n);
    fill(d, n);
    for (auto _ : st) {
        F(1, d.p, n);
        benchmark::ClobberMemory();
    }
    items(st, n);
}
BENCHMARK_TEMPLATE(RShiftC_32s_I, zuf::ownsRShiftC_32s_I_ref) ZUF_BENCH_ARGS;
BENCHMARK_TEMPLATE(RShiftC_32s_I, zuf::ownsRShiftC_32s_I_sse2) ZUF_BENCH_ARGS;

// -1 keeps the data stable over millions of repetitions (no overflow, no subnormals).
template <void (*F)(Zuf32f, Zuf32f*, int)>
void MulC_32f_I(benchmark::State& st) {
    const int n = static_cast<int>(st.range(0));
    Buf<Zuf32f> d(n);
    fill(d, n);
    for (auto _ : st) {
        F(-1.0f, d.p, n);
        benchmark::ClobberMemory();
    }
    items(st, n);
}
BENCHMARK_TEMPLATE(MulC_32f_I, zuf::ownsMulC_32f_I_ref) ZUF_BENCH_ARGS;
BENCHMARK_TEMPLATE(MulC_32f_I, zuf::ownsMulC_32f_I_sse2) ZUF_BENCH_ARGS;

// ---------------------------------------------------------------- statistics

template <void (*F)(const Zuf16s*, int, Zuf16s*, Zuf16s*)>
void MinMax_16s(benchmark::State& st) {
    const int n = static_cast<int>(st.range(0));
    Buf<Zuf16s> s(n);
    fill(s, n);
    Zuf16s lo, hi;
    for (auto _ : st) {
        F(s.p, n, &lo, &hi);
        benchmark::DoNotOptimize(lo);
        benchmark::DoNotOptimize(hi);
    }
    items(st, n);
}
BENCHMARK_TEMPLATE(MinMax_16s, zuf::ownsMinMax_16s_ref) ZUF_BENCH_ARGS;

template <Zuf32f (*F)(const Zuf32f*, int)>
void StdDev_32f(benchmark::State& st) {
    const int n = static_cast<int>(st.range(0));
    Buf<Zuf32f> s(n);
    fill(s, n);
    for (auto _ : st) benchmark::DoNotOptimize(F(s.p, n));
    items(st, n);
}
BENCHMARK_TEMPLATE(StdDev_32f, zuf::ownsStdDevFast_32f_ref) ZUF_BENCH_ARGS;
BENCHMARK_TEMPLATE(StdDev_32f, zuf::ownsStdDevFast_32f_sse2) ZUF_BENCH_ARGS;
BENCHMARK_TEMPLATE(StdDev_32f, zuf::ownsStdDevAccurate_32f) ZUF_BENCH_ARGS;

// ---------------------------------------------------------------- interleaving (n = frames)

template <class T, void (*F)(const T*, int, T*, T*)>
void Deinterleave2(benchmark::State& st) {
    const int n = static_cast<int>(st.range(0));
    Buf<T> s(2 * n), a(n), b(n);
    fill(s, 2 * n);
    for (auto _ : st) {
        F(s.p, n, a.p, b.p);
        benchmark::ClobberMemory();
    }
    items(st, 2 * n);
}
template <class T, void (*F)(const T*, int, int, T* const*)>
void Deinterleave2_scalar(benchmark::State& st) {
    const int n = static_cast<int>(st.range(0));
    Buf<T> s(2 * n), a(n), b(n);
    fill(s, 2 * n);
    T* const ch[2] = {a.p, b.p};
    for (auto _ : st) {
        F(s.p, 2, n, ch);
        benchmark::ClobberMemory();
    }
    items(st, 2 * n);
}
BENCHMARK_TEMPLATE(Deinterleave2_scalar, Zuf16s, zuf::ownsDeinterleave_16s_ref) ZUF_BENCH_ARGS;
BENCHMARK_TEMPLATE(Deinterleave2, Zuf16s, zuf::ownsDeinterleave2_16s_sse2) ZUF_BENCH_ARGS;
BENCHMARK_TEMPLATE(Deinterleave2_scalar, Zuf32f, zuf::ownsDeinterleave_32f_ref) ZUF_BENCH_ARGS;
BENCHMARK_TEMPLATE(Deinterleave2, Zuf32f, zuf::ownsDeinterleave2_32f_sse2) ZUF_BENCH_ARGS;

template <class T, void (*F)(const T*, const T*, int, T*)>
void Interleave2(benchmark::State& st) {
    const int n = static_cast<int>(st.range(0));
    Buf<T> a(n), b(n), d(2 * n);
    fill(a, n);
    fill(b, n);
    for (auto _ : st) {
        F(a.p, b.p, n, d.p);
        benchmark::ClobberMemory();
    }
    items(st, 2 * n);
}
// Any channel count through the general interleavers; 2 (stereo) and 6 (5.1).
template <class T, void (*F)(const T* const*, int, int, T*), int kCh>
void Interleave_n(benchmark::State& st) {
    const int n = static_cast<int>(st.range(0));
    Buf<T> s(kCh * n), d(kCh * n);
    fill(s, kCh * n);
    const T* ch[kCh];
    for (int c = 0; c < kCh; ++c) ch[c] = s.p + c * n;
    for (auto _ : st) {
        F(ch, kCh, n, d.p);
        benchmark::ClobberMemory();
    }
    items(st, kCh * n);
}
BENCHMARK_TEMPLATE(Interleave_n, Zuf16s, zuf::ownsInterleave_16s_ref, 2) ZUF_BENCH_ARGS;
BENCHMARK_TEMPLATE(Interleave2, Zuf16s, zuf::ownsInterleave2_16s_sse2) ZUF_BENCH_ARGS;
BENCHMARK_TEMPLATE(Interleave_n, Zuf32f, zuf::ownsInterleave_32f_ref, 2) ZUF_BENCH_ARGS;
BENCHMARK_TEMPLATE(Interleave2, Zuf32f, zuf::ownsInterleave2_32f_sse2) ZUF_BENCH_ARGS;
BENCHMARK_TEMPLATE(Interleave_n, Zuf16s, zuf::ownsInterleave_16s_ref, 6) ZUF_BENCH_ARGS;
BENCHMARK_TEMPLATE(Interleave_n, Zuf16s, zuf::ownsInterleave_16s_sse2, 6) ZUF_BENCH_ARGS;
BENCHMARK_TEMPLATE(Interleave_n, Zuf32f, zuf::ownsInterleave_32f_ref, 6) ZUF_BENCH_ARGS;
BENCHMARK_TEMPLATE(Interleave_n, Zuf32f, zuf::ownsInterleave_32f_sse2, 6) ZUF_BENCH_ARGS;

// ---------------------------------------------------------------- gains

template <void (*F)(const Zuf16s*, const Zuf16s*, int, Zuf32f*)>
void MakeFloat_16s32f(benchmark::State& st) {
    const int n = static_cast<int>(st.range(0));
    Buf<Zuf16s> m(n), e(n);
    Buf<Zuf32f> d(n);
    fill(m, n);
    for (int i = 0; i < n; ++i) e.p[i] = static_cast<Zuf16s>(static_cast<int>(g_rng() % 40) - 20);
    for (auto _ : st) {
        F(m.p, e.p, n, d.p);
        benchmark::ClobberMemory();
    }
    items(st, n);
}
BENCHMARK_TEMPLATE(MakeFloat_16s32f, zuf::ownsMakeFloat_16s32f_ref) ZUF_BENCH_ARGS;

void CalcSF_16s32f(benchmark::State& st) {
    const int n = static_cast<int>(st.range(0));
    Buf<Zuf16s> s(n);
    Buf<Zuf32f> d(n);
    for (int i = 0; i < n; ++i) s.p[i] = static_cast<Zuf16s>(g_rng() % 256);
    for (auto _ : st) {
        zuf::ownsCalcSF_16s32f(s.p, 100, d.p, n);
        benchmark::ClobberMemory();
    }
    items(st, n);
}
BENCHMARK(CalcSF_16s32f) ZUF_BENCH_ARGS;

// ---------------------------------------------------------------- FIR block (n = blockLen)

template <void (*F)(const Zuf32f*, Zuf32f*, FirBlockContext_32f*, const Zuf32f*), int kTaps>
void FIRBlockOne_32f(benchmark::State& st) {
    const int n = static_cast<int>(st.range(0));
    FirBlockContext_32f* ctx = nullptr;
    if (zufsFIRBlockInitAlloc_32f(&ctx, kTaps, n) != zufOk) {
        st.SkipWithError("InitAlloc failed");
        return;
    }
    Buf<Zuf32f> s(n), d(n), h(kTaps);
    fill(s, n);
    for (int k = 0; k < kTaps; ++k) h.p[k] = 1.0f / static_cast<float>(k + 2);
    for (auto _ : st) {
        F(s.p, d.p, ctx, h.p);
        benchmark::ClobberMemory();
    }
    zufsFIRBlockFree_32f(ctx);
    items(st, n);
}
BENCHMARK_TEMPLATE(FIRBlockOne_32f, zuf::ownsFIRBlockOne_32f_ref, 8)->Arg(64)->Arg(1024)->Arg(4096);
BENCHMARK_TEMPLATE(FIRBlockOne_32f, zuf::ownsFIRBlockOne_32f_sse2, 8)->Arg(64)->Arg(1024)->Arg(4096);
BENCHMARK_TEMPLATE(FIRBlockOne_32f, zuf::ownsFIRBlockOne_32f_ref, 32)->Arg(64)->Arg(1024)->Arg(4096);
BENCHMARK_TEMPLATE(FIRBlockOne_32f, zuf::ownsFIRBlockOne_32f_sse2, 32)->Arg(64)->Arg(1024)->Arg(4096);

}  // namespace
