// Layer III Huffman encoding of one granule (576 lines, MPEG-1 44.1 kHz long blocks) beside the
// library's Huffman decoding of the same bits, and the spectral bit count that the quantiser's
// step search runs many times per granule. The granule is a spectrum falling from a peak (the
// argument) with Laplacian-like values, coded as the bit count chooses (tables, regions, count1
// table). Counters: lines per second (items) and the granule's part-3 bits.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "mp3/mp3_huff_encode.h"

namespace {

struct Granule {
    Mp3FrameHeader h{};
    Mp3SideInfo si{};
    std::vector<Zuf32s> ix = std::vector<Zuf32s>(576, 0);
    std::vector<Zuf8u> bits = std::vector<Zuf8u>(4096, 0);
    int count1 = 0, nbits = 0;
    const Zuf16s* L = _zuf_pMP3SfbTableLong + 23 * 3;

    explicit Granule(int peak) {
        h.ID = 1, h.layer = 1, h.protection_bit = 1, h.bitrate_index = 9, h.mode = 3;
        std::mt19937 rng(7);
        std::exponential_distribution<double> mag(1.0);
        for (int i = 0; i < 440; ++i) {  // most energy low, nothing above about 17 kHz
            const double scale = peak * std::exp(-i / 90.0);
            const int v = static_cast<int>(mag(rng) * scale / 3.0);
            ix[static_cast<size_t>(i)] = (rng() & 1) ? -v : v;
        }
        zuf::Mp3HuffmanChoice c;
        nbits = zuf::ownsCountSpectralBits_MP3(ix.data(), L, 0, 0, &c);
        si.big_values = c.big_values, si.region0_count = c.region0_count, si.region1_count = c.region1_count;
        si.count1table_select = c.count1table_select, si.part2_3_length = nbits, si.global_gain = 210;
        for (int r = 0; r < 3; ++r) si.table_select[r] = c.table_select[r];
        count1 = c.count1;
        encode();
    }
    void encode() {
        Zuf8u* p = bits.data();
        int o = 0;
        zufsHuffmanEncode_MP3_32s1u(ix.data(), &p, &o, &h, &si, count1, nbits);
    }
};

void BM_HuffmanEncode_MP3(benchmark::State& state) {
    Granule g(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        g.encode();
        benchmark::DoNotOptimize(g.bits.data());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 576);
    state.counters["bits"] = g.nbits;
}

void BM_HuffmanDecode_MP3(benchmark::State& state) {
    Granule g(static_cast<int>(state.range(0)));
    std::vector<Zuf32s> is(576);
    int nz;
    for (auto _ : state) {
        Zuf8u* p = g.bits.data();
        int o = 0;
        zufsHuffmanDecode_MP3_1u32s(&p, &o, is.data(), &nz, &g.si, &g.h, g.nbits);
        benchmark::DoNotOptimize(is.data());
    }
    if (is != g.ix) state.SkipWithError("decoded lines differ from the encoded ones");
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 576);
    state.counters["bits"] = g.nbits;
}

void BM_CountSpectralBits_MP3(benchmark::State& state) {
    Granule g(static_cast<int>(state.range(0)));
    zuf::Mp3HuffmanChoice c;
    for (auto _ : state) benchmark::DoNotOptimize(zuf::ownsCountSpectralBits_MP3(g.ix.data(), g.L, 0, 0, &c));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 576);
    state.counters["bits"] = g.nbits;
}

// Peaks: small tables only (6), tables up to 15 (14), escape tables (300).
BENCHMARK(BM_HuffmanEncode_MP3)->Arg(6)->Arg(14)->Arg(300);
BENCHMARK(BM_HuffmanDecode_MP3)->Arg(6)->Arg(14)->Arg(300);
BENCHMARK(BM_CountSpectralBits_MP3)->Arg(6)->Arg(14)->Arg(300);

}  // namespace
