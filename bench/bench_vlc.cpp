// The escape-block engine with the standards' code tables (tools/example/vlc_codebooks.h) against
// the library's dedicated decoders on the same bits: AAC spectral data (one codebook, 1024 lines)
// and MP3 big values (one table for all 576 lines). Spectra are drawn from each code's own
// statistics (codeword probability 2^-length), with small escapes. Counters: values per second
// of each decoder and engine / dedicated as `ratio` (above 1: the engine is faster).
#include <benchmark/benchmark.h>

#include <time.h>

#include <random>
#include <vector>

#include "aac/aac_syntax.h"
#include "example/vlc_codebooks.h"

namespace {

// Thread CPU time: the two decoders are timed apart inside one loop, and a shared machine's wall
// clock would charge each with whatever else runs.
double cpu_seconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

std::vector<unsigned char> build(const VlcCode& c, bool decoder, int codec) {
    size_t n = 0;
    std::vector<unsigned char> b;
    if (decoder ? vlc_decoder_size(&c, VLC_LAYOUT_PAIRS, &n) : vlc_encoder_size(codec, &n)) return b;
    b.resize(n);
    if (decoder ? vlc_decoder_build(&c, VLC_LAYOUT_PAIRS, b.data(), n) : vlc_encoder_build(&c, codec, b.data(), n))
        b.clear();
    return b;
}

// n engine values of the book: codewords with probability 2^-length, random signs, escapes just
// above the escape value.
std::vector<Zuf16s> draw(const VlcCodebook& bk, int n, int lav, int linbits, std::mt19937& rng) {
    std::vector<Zuf16s> v;
    while (static_cast<int>(v.size()) < n) {
        const VlcCodeword& w = bk.code.words[rng() % static_cast<unsigned>(bk.code.count)];
        if ((rng() & ((1u << (w.length - 1)) - 1u)) != 0) continue;  // kept with probability 2^(1-length)
        for (int x : {w.x, w.y}) {
            if (x == lav && lav == 16) x += static_cast<int>(rng() % 48u);
            if (x == lav && lav == 15 && linbits > 0) x += static_cast<int>(rng() % (1u << std::min(linbits, 6)));
            v.push_back(static_cast<Zuf16s>(bk.code.sign_bits && (rng() & 1) ? -x : x));
        }
    }
    return v;
}

std::vector<Zuf8u> encode(const std::vector<Zuf16s>& v, int codec, int linbits, const std::vector<unsigned char>& enc) {
    std::vector<Zuf8u> bits(8 * v.size() + 64, 0);
    Zuf8u* p = bits.data();
    int o = 0;
    if (codec == VLC_CODEC_AAC)
        zufsVLCEncodeEscBlock_AAC_16s1u(v.data(), static_cast<int>(v.size()), &p, &o, enc.data());
    else
        zufsVLCEncodeEscBlock_MP3_16s1u(v.data(), static_cast<int>(v.size()), linbits, &p, &o, enc.data());
    bits.resize(static_cast<size_t>(p - bits.data()) + 64);  // the decoders' read-ahead, zeros
    return bits;
}

// Times both decoders per iteration and reports their rates and ratio.
template <class Engine, class Library>
void run(benchmark::State& state, int values, Engine engine, Library library) {
    double te = 0, tl = 0;
    for (auto _ : state) {
        const double t0 = cpu_seconds();
        engine();
        const double t1 = cpu_seconds();
        library();
        const double t2 = cpu_seconds();
        te += t1 - t0;
        tl += t2 - t1;
    }
    const double n = static_cast<double>(state.iterations()) * values;
    state.counters["engine_vals/s"] = n / te;
    state.counters["dedicated_vals/s"] = n / tl;
    state.counters["ratio"] = tl / te;
}

void BM_AacSpectral(benchmark::State& state) {
    const int book = static_cast<int>(state.range(0));
    const VlcCodebook& bk = vlc_aac_spectral[book];
    std::mt19937 rng(book);
    const auto dec = build(bk.code, true, VLC_CODEC_AAC), enc = build(bk.code, false, VLC_CODEC_AAC);
    const int n = 1024 / (bk.dim / 2);  // engine values for 1024 lines
    auto bits = encode(draw(bk, n, bk.lav, 0, rng), VLC_CODEC_AAC, 0, enc);
    std::vector<Zuf16s> out(n);
    std::vector<Zuf32s> lines(1024);
    run(
        state, 1024,
        [&] {
            Zuf8u* p = bits.data();
            int o = 0;
            zufsVLCDecodeEscBlock_AAC_1u16s(&p, &o, out.data(), n, dec.data());
            benchmark::DoNotOptimize(out.data());
        },
        [&] {
            Zuf8u* p = bits.data();
            int o = 0;
            zuf::ownsDecodeSpecHuf_AAC(&p, &o, lines.data(), 1024, book);
            benchmark::DoNotOptimize(lines.data());
        });
}
BENCHMARK(BM_AacSpectral)->DenseRange(1, 11);

void BM_Mp3BigValues(benchmark::State& state) {
    const int table = static_cast<int>(state.range(0));
    const VlcCodebook& bk = vlc_mp3_pairs[table];
    std::mt19937 rng(table);
    const auto dec = build(bk.code, true, VLC_CODEC_MP3), enc = build(bk.code, false, VLC_CODEC_MP3);
    auto bits = encode(draw(bk, 576, 15, bk.linbits, rng), VLC_CODEC_MP3, bk.linbits, enc);
    Zuf16s probe[576];
    Zuf8u* p = bits.data();
    int o = 0;
    zufsVLCDecodeEscBlock_MP3_1u16s(&p, &o, bk.linbits, probe, 576, dec.data());
    const int huf = static_cast<int>(8 * (p - bits.data()) + o);
    Mp3FrameHeader h{};
    h.ID = 1;
    h.layer = 1;
    Mp3SideInfo si{};
    si.part2_3_length = huf;
    si.big_values = 288;
    si.table_select[0] = si.table_select[1] = si.table_select[2] = table;
    si.region0_count = 7;
    si.region1_count = 7;
    std::vector<Zuf16s> out(576);
    std::vector<Zuf32s> is(576);
    run(
        state, 576,
        [&] {
            Zuf8u* q = bits.data();
            int qo = 0;
            zufsVLCDecodeEscBlock_MP3_1u16s(&q, &qo, bk.linbits, out.data(), 576, dec.data());
            benchmark::DoNotOptimize(out.data());
        },
        [&] {
            Zuf8u* q = bits.data();
            int qo = 0, nz = 0;
            zufsHuffmanDecode_MP3_1u32s(&q, &qo, is.data(), &nz, &si, &h, huf);
            benchmark::DoNotOptimize(is.data());
        });
}
BENCHMARK(BM_Mp3BigValues)
    ->Arg(1)
    ->Arg(2)
    ->Arg(5)
    ->Arg(7)
    ->Arg(10)
    ->Arg(13)
    ->Arg(15)
    ->Arg(16)
    ->Arg(20)
    ->Arg(24)
    ->Arg(28);

}  // namespace
