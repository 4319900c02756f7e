// MP3 encoder front speed: the polyphase analysis per call (32 new samples), its windowing stage
// with SSE2 beside the scalar reference, the matrixing alone, the forward hybrid transform per
// granule and channel (long and short blocks), joint stereo per granule, the rate loop per frame,
// the 3/4 power (SSE2 beside the scalar reference) and the psychoacoustic model per frame (stereo
// and joint stereo).
#include <benchmark/benchmark.h>

#include <vector>

#include "../tests/support/test_util.h"
#include "frame/vec_pow.h"
#include "mp3/mp3_enc_kernels.h"

namespace {

std::vector<Zuf16s> pcm(int n) {
    zuft::Rng rng(1);
    std::vector<Zuf16s> v(n);
    for (auto& s : v) s = static_cast<Zuf16s>(rng.range(-20000, 20000));
    return v;
}

void BM_AnalysisPQMF(benchmark::State& state) {
    const int step = static_cast<int>(state.range(0));
    const std::vector<Zuf16s> in = pcm(512 * step);
    Zuf32s out[32];
    for (auto _ : state) {
        zufsAnalysisPQMF_MP3_16s32s(in.data(), out, step);
        benchmark::DoNotOptimize(out[0]);
    }
}
BENCHMARK(BM_AnalysisPQMF)->Arg(1)->Arg(2);

template <void (*Window)(const Zuf16s*, int, Zuf32s*)>
void BM_AnalysisWindow(benchmark::State& state) {
    const std::vector<Zuf16s> in = pcm(512);
    Zuf32s y[64];
    for (auto _ : state) {
        Window(in.data(), 1, y);
        benchmark::DoNotOptimize(y[0]);
    }
}
BENCHMARK(BM_AnalysisWindow<zuf::ownsAnalysisWindow_MP3_ref>)->Name("BM_AnalysisWindow_ref");
BENCHMARK(BM_AnalysisWindow<zuf::ownsAnalysisWindow_MP3_sse2>)->Name("BM_AnalysisWindow_sse2");

void BM_AnalysisMatrixing(benchmark::State& state) {
    zuft::Rng rng(2);
    Zuf32s y[64], s[32];
    for (auto& v : y) v = rng.range(-(1 << 20), 1 << 20);
    for (auto _ : state) {
        zuf::ownsDCTInv32_MP3_32s(y, s);
        benchmark::DoNotOptimize(s[0]);
    }
}
BENCHMARK(BM_AnalysisMatrixing);

void BM_MDCTFwd(benchmark::State& state) {  // arg: block type (2 = short), 4 = mixed short
    const int bt = state.range(0) == 4 ? 2 : static_cast<int>(state.range(0)), mixed = state.range(0) == 4;
    zuft::Rng rng(3);
    std::vector<Zuf32s> sub(576), hist(576), xr(576);
    for (auto& v : sub) v = rng.range(-(1 << 24), 1 << 24);
    Mp3FrameHeader h = {};
    h.ID = 1;
    for (auto _ : state) {
        zufsMDCTFwd_MP3_32s(sub.data(), xr.data(), bt, mixed, &h, hist.data());
        benchmark::DoNotOptimize(xr[0]);
    }
}
BENCHMARK(BM_MDCTFwd)->Arg(0)->Arg(2)->Arg(4);

void BM_JointStereo(benchmark::State& state) {  // M/S below band 12, intensity above
    zuft::Rng rng(4);
    std::vector<Zuf32s> l(576), r(576), l0(576), r0(576);
    for (int i = 0; i < 576; ++i) l0[i] = rng.range(-(1 << 22), 1 << 22), r0[i] = rng.range(-(1 << 22), 1 << 22);
    Mp3FrameHeader h = {};
    h.ID = 1, h.mode = 1, h.mode_extension = 3;
    Mp3SideInfo si[2] = {};
    Zuf8u sf[40];
    for (auto _ : state) {
        l = l0, r = r0;
        int bound[3] = {12, 0, 0};
        zufsJointStereoEncode_MP3_32s_I(l.data(), r.data(), sf, &h, si, bound);
        benchmark::DoNotOptimize(l[0]);
    }
}
BENCHMARK(BM_JointStereo);

// The rate loop on one stereo MPEG-1 frame at 128 kbit/s (two granules, music-like spectra).
void BM_Quantize(benchmark::State& state) {
    zuft::Rng rng(5);
    std::vector<Zuf32s> xr0(4 * 576), xr(4 * 576), work(2 * 576);
    for (int i = 0; i < 4 * 576; ++i) xr0[i] = static_cast<Zuf32s>(rng.range(-(1 << 26), 1 << 26) / (1 + i % 576 / 8));
    Mp3FrameHeader h = {};
    h.ID = 1, h.layer = 1, h.bitrate_index = 9;
    Mp3SideInfo si[4] = {};
    Mp3PsyOutput psy[4] = {};
    for (auto& p : psy) {
        for (auto& r : p.ratio) r = rng.range(1 << 21, 1 << 28);
        p.pe = 900;
    }
    static Mp3PsyState ps = {};
    Zuf8s sf[160];
    int scfsi[8] = {}, count1[4], stuff[4], bound[6] = {};
    for (auto _ : state) {
        xr = xr0;
        Mp3BitReservoir r = {2048, 4088};
        zufsQuantize_MP3_32s_I(xr.data(), sf, scfsi, count1, stuff, &h, si, psy, &ps, &r, 3048, bound, work.data());
        benchmark::DoNotOptimize(xr[0]);
    }
}
BENCHMARK(BM_Quantize);

template <void (*Pow34)(const Zuf32f*, Zuf32f*, int)>
void BM_Pow34(benchmark::State& state) {
    std::vector<Zuf32f> x(576), y(576);
    zuft::Rng rng(6);
    for (auto& v : x) v = rng.uniform(-1e6f, 1e6f);
    for (auto _ : state) {
        Pow34(x.data(), y.data(), 576);
        benchmark::DoNotOptimize(y[0]);
    }
    state.SetItemsProcessed(state.iterations() * 576);
}
BENCHMARK(BM_Pow34<zuf::ownsPow34_32f_ref>)->Name("BM_Pow34_32f_ref");
BENCHMARK(BM_Pow34<zuf::ownsPow34_32f_sse2>)->Name("BM_Pow34_32f_sse2");

void BM_PsychoacousticModel(benchmark::State& state) {  // arg: mode (0 stereo, 1 joint stereo)
    const std::vector<Zuf16s> in = pcm(2 * (1152 + 448));
    Mp3FrameHeader h = {};
    h.ID = 1, h.mode = static_cast<int>(state.range(0)), h.bitrate_index = 9;
    Mp3SideInfo si[4] = {};
    Mp3PsyOutput out[4];
    Mp3PsyState st = {};
    Zuf32s bound[6];
    std::vector<Zuf8u> work(ZUF_MP3_PSY_WORK_BYTES);
    for (auto _ : state) {
        zufsPsychoacousticModelTwo_MP3_16s(in.data(), out, bound, si, &h, &st, nullptr, work.data());
        benchmark::DoNotOptimize(out[0].pe);
    }
}
BENCHMARK(BM_PsychoacousticModel)->Arg(0)->Arg(1);

}  // namespace
