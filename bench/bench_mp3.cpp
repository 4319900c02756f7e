// MP3 decoding speed: whole streams decoded in memory (the test vectors) by the example decoder
// that zufdec runs (tools/example/stream_decoder.c, no WAV writing), reported in times
// real time (audio seconds decoded per second), and the stages on their own per granule and
// channel: Huffman decoding, requantisation, inverse MDCT, polyphase synthesis.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "../tests/support/pcm_compare.h"
#include "../tests/support/test_util.h"
#include "example/stream_decoder.h"

namespace {

// The vectors next to this source: bench/../tests/vectors/mp3/.
const std::string kDir = std::string(__FILE__).substr(0, std::string(__FILE__).rfind('/')) + "/../tests/vectors/mp3/";

void decode_stream(benchmark::State& state, const std::string& file) {
    const auto bits = zuft::read_file(kDir + file);
    Input in;
    if (bits.empty() || input_copy(bits.data(), bits.size(), &in)) {
        state.SkipWithError(("missing " + kDir + file).c_str());
        return;
    }
    char note[128], what[200];
    size_t first = 0;
    input_strip_tags(&in, note, sizeof note);
    const StreamFormat format = detect_format(&in, &first, what, sizeof what);
    auto d = std::make_unique<StreamDecoder>();
    double audio = 0.0;
    for (auto _ : state) {
        if (stream_decoder_open(d.get(), &in, first, format, nullptr, what, sizeof what) != 0) {
            state.SkipWithError("not an MP3 stream");
            break;
        }
        DecodedFrame f;
        while (stream_decoder_next(d.get(), &f)) benchmark::DoNotOptimize(f.pcm[0]);
        audio += static_cast<double>(d->stats.samples) / d->stats.sample_rate;
        stream_decoder_close(d.get());
    }
    input_free(&in);
    state.counters["x_realtime"] = benchmark::Counter(audio, benchmark::Counter::kIsRate);
}

const char* const kStreams[] = {"l3-compl.bit",          "l3-hecommon.bit",
                                "l3-si_block.bit",       "M2L3_compl24.bit",
                                "lame_44100_js_128.mp3", "lame_44100_vbr_transient.mp3",
                                "lame_48000_ms_crc.mp3", "lame_22050_js_transient.mp3"};

// One granule and channel of a 128 kbit/s stream, captured once, for the stage benchmarks.
struct Granule {
    std::vector<uint8_t> main;  // its scale factors and Huffman data, padded
    Mp3FrameHeader h{};
    Mp3SideInfo si{};
    int scfsi[4] = {};
    std::vector<Zuf32s> is = std::vector<Zuf32s>(1152, 0);
    Zuf8s sf[80] = {};
    int nz = 0;
};

// Granule 0, channel 0 of frame 40 of a 128 kbit/s LAME stream: its main data is assembled
// from the bit reservoir as a decoder does.
Granule capture() {
    Granule g;
    const auto f = zuft::read_file(kDir + "lame_44100_js_128.mp3");
    std::vector<uint8_t> res;
    int frame = 0;
    for (size_t pos = id3v2_tag_len(f.data(), f.size()); pos + 4 < f.size();) {
        MpegHeader mh;
        if (!mpeg_header_parse(&f[pos], &mh) || mh.layer != 3 || mh.frame_bytes == 0) {
            ++pos;
            continue;
        }
        const size_t len = static_cast<size_t>(mh.frame_bytes);
        std::vector<uint8_t> fr(f.begin() + static_cast<long>(pos), f.begin() + static_cast<long>(pos + len));
        fr.resize(fr.size() + 64, 0);
        Zuf8u* p = fr.data();
        zufsUnpackFrameHeader_MP3(&p, &g.h);
        Mp3SideInfo si[4];
        int mdb = 0, priv = 0, scfsi[8];
        zufsUnpackSideInfo_MP3(&p, si, &mdb, &priv, scfsi, &g.h);
        const size_t before = res.size();
        res.insert(res.end(), p, fr.data() + len);
        if (++frame == 40) {
            g.si = si[0];
            g.main.assign(res.begin() + static_cast<long>(before - static_cast<size_t>(mdb)), res.end());
            g.main.resize(g.main.size() + 64, 0);
            return g;
        }
        pos += len;
    }
    return g;
}

void BM_Huffman(benchmark::State& state) {
    Granule g = capture();
    for (auto _ : state) {
        Zuf8u* p = g.main.data();
        int off = 0;
        zufsUnpackScaleFactors_MP3_1u8s(&p, &off, g.sf, &g.si, g.scfsi, &g.h, 0, 0);
        zufsHuffmanDecode_MP3_1u32s(&p, &off, g.is.data(), &g.nz, &g.si, &g.h,
                                    g.si.part2_3_length - 8 * static_cast<int>(p - g.main.data()) - off);
        benchmark::DoNotOptimize(g.is.data());
    }
    state.counters["nonzero"] = g.nz;
}

void BM_Requantise(benchmark::State& state) {
    Granule g = capture();
    Zuf8u* p = g.main.data();
    int off = 0;
    zufsUnpackScaleFactors_MP3_1u8s(&p, &off, g.sf, &g.si, g.scfsi, &g.h, 0, 0);
    zufsHuffmanDecode_MP3_1u32s(&p, &off, g.is.data(), &g.nz, &g.si, &g.h,
                                g.si.part2_3_length - 8 * static_cast<int>(p - g.main.data()) - off);
    const std::vector<Zuf32s> quantised = g.is;
    std::vector<Zuf32s> work(576);
    Mp3SideInfo pair[2] = {g.si, g.si};
    for (auto _ : state) {
        g.is = quantised;
        int nz[2] = {g.nz, 0};
        zufsReQuantize_MP3_32s_I(g.is.data(), nz, g.sf, pair, &g.h, work.data());
        benchmark::DoNotOptimize(g.is.data());
    }
}

void BM_InverseMdct(benchmark::State& state) {
    zuft::Rng rng(1);
    std::vector<Zuf32s> xr(576), y(576), overlap(576, 0);
    for (int i = 0; i < 400; ++i) xr[static_cast<size_t>(i)] = rng.range(-(1 << 24), 1 << 24);
    int prev = 0;
    const int bt = static_cast<int>(state.range(0));
    for (auto _ : state) {
        std::vector<Zuf32s> x = xr;
        zufsMDCTInv_MP3_32s(x.data(), y.data(), overlap.data(), 400, &prev, bt, 0);
        benchmark::DoNotOptimize(y.data());
    }
}

void BM_Synthesis(benchmark::State& state) {
    zuft::Rng rng(2);
    std::vector<Zuf32s> y(576), hist(512, 0);
    for (auto& v : y) v = rng.range(-(1 << 20), 1 << 20);
    Zuf16s pcm[1152];
    int pos = 0;
    for (auto _ : state) {
        for (int t = 0; t < 18; ++t) zufsSynthPQMF_MP3_32s16s(y.data() + 32 * t, pcm + 64 * t, hist.data(), &pos, 2);
        benchmark::DoNotOptimize(pcm);
    }
}

}  // namespace

// Whole streams.
static const int kRegistered = [] {
    for (const char* s : kStreams)
        benchmark::RegisterBenchmark((std::string("BM_Mp3Decode/") + s).c_str(), [s](benchmark::State& st) {
            decode_stream(st, s);
        })->Unit(benchmark::kMillisecond);
    return 0;
}();

// Stages, per granule and channel.
BENCHMARK(BM_Huffman);
BENCHMARK(BM_Requantise);
BENCHMARK(BM_InverseMdct)->Arg(0)->Arg(2);
BENCHMARK(BM_Synthesis);
