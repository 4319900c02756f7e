// Whole-stream decoding in memory, as zufdec decodes a file but without file I/O or PCM writing:
// the stream named by the environment variable ZUF_BENCH_STREAM (any format zufdec reads) goes
// through stream_decode_memory() of the example library. bench/compare.sh uses it for the
// in-memory figure beside the whole-program timings. "x_realtime" is seconds of audio decoded
// per second of CPU time. Without ZUF_BENCH_STREAM the benchmark is skipped.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "example/stream_decoder.h"

namespace {

void BM_DecodeMemory(benchmark::State& state) {
    const char* path = std::getenv("ZUF_BENCH_STREAM");
    if (!path) {
        state.SkipWithError("set ZUF_BENCH_STREAM to a stream file");
        return;
    }
    std::ifstream f(path, std::ios::binary);
    const std::vector<uint8_t> in((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    DecodeStats st{};
    for (auto _ : state) {
        Zuf16s* pcm = nullptr;
        st = DecodeStats{};
        if (stream_decode_memory(in.data(), in.size(), nullptr, 1, &pcm, &st, nullptr) != 0) {
            state.SkipWithError("no decodable stream");
            std::free(pcm);
            return;
        }
        benchmark::DoNotOptimize(pcm);
        std::free(pcm);
    }
    const double seconds = st.sample_rate > 0 ? static_cast<double>(st.samples) / st.sample_rate : 0.0;
    state.counters["x_realtime"] =
        benchmark::Counter(seconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["audio_s"] = seconds;
}

}  // namespace

BENCHMARK(BM_DecodeMemory)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
