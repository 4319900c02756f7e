// AAC-LC decoding speed in memory: the example frame decoder that zufdec runs
// (tools/example/aac_decoder.c) on the ADTS vectors of tests/vectors/aac, no file I/O, no WAV
// writing. The "x_realtime" counter is seconds of audio decoded per second of CPU time. bench/peers.sh times zufdec against FFmpeg
// and FAAD2 on whole files.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "example/aac_decoder.h"
#include "example/stream.h"

namespace {

std::vector<uint8_t> read(const std::string& name) {
    std::ifstream f(std::string(ZUF_SOURCE_DIR) + "/tests/vectors/aac/" + name + ".aac", std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// Decodes the whole stream once; returns the sample frames produced.
size_t decode_all(AacDecoder* d, const std::vector<uint8_t>& s, Zuf16s* pcm) {
    size_t pos = 0, frames = 0;
    aac_decoder_init(d, s.data());
    while (pos + 7 <= s.size()) {
        const uint8_t* p = s.data() + pos;
        const size_t len = adts_frame_len(p);
        if (len < 7 || pos + len > s.size()) break;
        int blocks = 0;
        const char* why = nullptr;
        aac_frame_decode(d, p, len, pcm, &blocks, &why);
        benchmark::DoNotOptimize(pcm[0]);
        frames += 1024u * static_cast<size_t>(blocks);
        pos += len;
    }
    return frames;
}

void BM_AacDecode(benchmark::State& state, const char* name) {
    const auto stream = read(name);
    if (stream.size() < 7) {
        state.SkipWithError("vector missing");
        return;
    }
    auto d = std::make_unique<AacDecoder>();
    std::vector<Zuf16s> pcm(AAC_MAX_BLOCKS * 1024 * 2);
    size_t frames = 0;
    for (auto _ : state) frames += decode_all(d.get(), stream, pcm.data());
    const double rate = aac_sample_rate(d->sfi);
    state.counters["x_realtime"] = benchmark::Counter(static_cast<double>(frames) / rate, benchmark::Counter::kIsRate);
    state.counters["bytes"] = static_cast<double>(stream.size());
}

}  // namespace

BENCHMARK_CAPTURE(BM_AacDecode, mono_8000, "dec_8000_mono");
BENCHMARK_CAPTURE(BM_AacDecode, mono_16000_transients, "dec_16000_mono_transients");
BENCHMARK_CAPTURE(BM_AacDecode, mono_22050_pns, "dec_22050_mono_pns");
BENCHMARK_CAPTURE(BM_AacDecode, stereo_22050_ms_off, "dec_22050_stereo_ms_off");
BENCHMARK_CAPTURE(BM_AacDecode, stereo_32000_pns, "dec_32000_stereo_pns");
BENCHMARK_CAPTURE(BM_AacDecode, stereo_44100_is, "dec_44100_stereo_is");
BENCHMARK_CAPTURE(BM_AacDecode, stereo_44100_transients, "dec_44100_stereo_transients");
BENCHMARK_CAPTURE(BM_AacDecode, stereo_48000_128k, "dec_48000_stereo");
BENCHMARK_CAPTURE(BM_AacDecode, mono_96000, "dec_96000_mono");
