// Work and output on hostile inputs: each adversarial input goes through the in-memory stream
// decoder (tag stripping, format detection, frame loop: what zufdec runs) next to a clean stream
// of the same size, in the same iteration. Counters:
//   x_clean   CPU time of the hostile input / CPU time of the clean one (thread CPU time, so a
//             loaded machine does not move it); a hang or a quadratic path shows here
//   out_byte  PCM sample frames out per input byte (a valid stream gives at most 24)
#include <benchmark/benchmark.h>

#include <time.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "../tests/support/pcm_compare.h"
#include "example/stream_decoder.h"

namespace {

const std::string kDir = std::string(__FILE__).substr(0, std::string(__FILE__).rfind('/')) + "/../tests/vectors/";

double cpu_seconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// Sample frames decoded; the CPU time is added to *seconds.
unsigned long decode(const std::vector<uint8_t>& in, double* seconds) {
    Zuf16s* pcm = nullptr;
    DecodeStats st{};
    AacToolCounts tools{};
    const double t0 = cpu_seconds();
    stream_decode_memory(in.data(), in.size(), nullptr, 1, &pcm, &st, &tools);
    *seconds += cpu_seconds() - t0;
    std::free(pcm);
    return st.samples;
}

std::vector<uint8_t> clean_of_size(size_t n) {
    std::vector<uint8_t> s = zuft::read_file(kDir + "mp3/l3-compl.bit"), out;
    while (!s.empty() && out.size() < n) out.insert(out.end(), s.begin(), s.end());
    out.resize(n);
    return out;
}

std::vector<uint8_t> hostile(int kind, size_t n) {
    std::vector<uint8_t> v;
    switch (kind) {
        case 0:  // sync candidates everywhere, none confirmed
            for (size_t i = 0; i < n; ++i) v.push_back(i % 2 ? 0xFB : 0xFF);
            break;
        case 1:  // ADTS headers claiming the longest frame, one every 7 bytes
            while (v.size() < n) v.insert(v.end(), {0xFF, 0xF1, 0x50, 0x83, 0xFF, 0xFF, 0xFC});
            break;
        case 2:  // 9-byte free-format MPEG-1 frames
            while (v.size() < n) v.insert(v.end(), {0xFF, 0xFB, 0x00, 0xC0, 0, 0, 0, 0, 0});
            break;
        case 3:  // APE footers claiming 4 GB, back to back
            while (v.size() < n) {
                v.insert(v.end(), {'A', 'P', 'E', 'T', 'A', 'G', 'E', 'X', 0xD0, 7, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF});
                v.resize(v.size() + 16, 0x80);
            }
            break;
        case 4:  // the first 104 bytes of a real stream, over and over: every frame cut short
        {
            const auto s = zuft::read_file(kDir + "mp3/l3-si.bit");
            while (!s.empty() && v.size() < n) v.insert(v.end(), s.begin(), s.begin() + 104);
            break;
        }
        default: {  // random bytes
            uint32_t x = 12345;
            for (size_t i = 0; i < n; ++i) v.push_back(static_cast<uint8_t>((x = x * 1664525u + 1013904223u) >> 24));
        }
    }
    v.resize(n);
    return v;
}

void BM_Hostile(benchmark::State& state) {
    const size_t n = 256 * 1024;
    const auto bad = hostile(static_cast<int>(state.range(0)), n), good = clean_of_size(n);
    double t_bad = 0, t_good = 0;
    unsigned long out = 0;
    for (auto _ : state) {
        out = decode(bad, &t_bad);
        decode(good, &t_good);
    }
    state.counters["x_clean"] = t_good > 0 ? t_bad / t_good : 0;
    state.counters["out_byte"] = static_cast<double>(out) / static_cast<double>(n);
    static const char* const kNames[] = {"resync", "adts_long", "tiny_free", "ape_huge", "cut_frames", "random"};
    state.SetLabel(kNames[state.range(0)]);
}
BENCHMARK(BM_Hostile)->DenseRange(0, 5)->Unit(benchmark::kMillisecond);

}  // namespace
