// Work and output on hostile inputs: each adversarial input goes through the in-memory stream
// decoder (tag stripping, format detection, frame loop: what zufdec runs) next to a clean stream
// of the same size, in the same iteration. Counters:
//   x_clean   CPU time of the hostile input / CPU time of the clean one (thread CPU time, so a
//             loaded machine does not move it); a hang or a quadratic path shows here
//   x_per_out the same per sample frame out (output the headers ask for is owed, to keep sync)
//   out_byte  PCM sample frames out per input byte (a valid MP3 gives at most 24; ADTS frames of
//             8 bytes, each one empty raw data block, give 128)
// The cases: the generated worst cases below (endless resync candidates, tags claiming huge
// sizes, every frame at the minimum size, cut frames, random bytes), and BM_Reproducers: every
// fuzzer reproducer of fuzz/corpus/. Each should stay within a small multiple (about 4) of the
// clean decode, or of its cost per sample frame out; a case above kSlowest in both is labelled
// SLOW.
#include <benchmark/benchmark.h>

#include <time.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "../tests/support/pcm_compare.h"
#include "example/stream_decoder.h"

namespace {

const std::string kRoot = std::string(__FILE__).substr(0, std::string(__FILE__).rfind('/')) + "/../";
const std::string kDir = kRoot + "tests/vectors/";
constexpr double kSlowest = 4.0;

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
    if (out.size() > n) out.erase(out.begin() + static_cast<long>(n), out.end());
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
        case 6:  // ID3v2 tags claiming 256 MB (the largest syncsafe size), back to back
            while (v.size() < n) {
                v.insert(v.end(), {'I', 'D', '3', 3, 0, 0, 0x7F, 0x7F, 0x7F, 0x7F});
                v.insert(v.end(), 22, 0xFF);
            }
            break;
        case 7:  // ADTS frames of 8 bytes (the least without CRC), each an empty raw data block
            while (v.size() < n) v.insert(v.end(), {0xFF, 0xF1, 0x50, 0x80, 0x01, 0x1F, 0xFC, 0xE0});
            break;
        case 8:  // MPEG-2 Layer III frames at 8 kbit/s and 24 kHz: 24 bytes, silent granules
            while (v.size() < n) {
                v.insert(v.end(), {0xFF, 0xF3, 0x14, 0xC0});
                v.insert(v.end(), 20, 0);
            }
            break;
        default: {  // 5: random bytes
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
    unsigned long out = 0, out_good = 0;
    for (auto _ : state) {
        out = decode(bad, &t_bad);
        out_good = decode(good, &t_good);
    }
    const double ratio = t_good > 0 ? t_bad / t_good : 0;
    // Output a stream's headers ask for is output the decoder owes (it keeps sync): per sample
    // frame out, the cost should stay near the clean decode's.
    const double per_out = out ? ratio * static_cast<double>(out_good) / static_cast<double>(out) : 0;
    state.counters["x_clean"] = ratio;
    state.counters["x_per_out"] = per_out;
    state.counters["out_byte"] = static_cast<double>(out) / static_cast<double>(n);
    static const char* const kNames[] = {"resync", "adts_long", "tiny_free", "ape_huge", "cut_frames",
                                         "random", "id3_huge",  "adts_min",  "mp3_min"};
    state.SetLabel(std::string(kNames[state.range(0)]) + (ratio > kSlowest && per_out > kSlowest ? " SLOW" : ""));
}
BENCHMARK(BM_Hostile)->DenseRange(0, 8)->Unit(benchmark::kMillisecond);

// Every fuzzer reproducer against a clean stream of its size; x_clean is the total CPU time's
// ratio, x_worst the worst single one's.
void BM_Reproducers(benchmark::State& state) {
    std::vector<std::vector<uint8_t>> bad, good;
    for (const auto& dir : std::filesystem::directory_iterator(kRoot + "fuzz/corpus"))
        for (const auto& f : std::filesystem::directory_iterator(dir.path())) {
            bad.push_back(zuft::read_file(f.path().string()));
            good.push_back(clean_of_size(bad.back().size()));
        }
    std::vector<double> t_bad(bad.size()), t_good(bad.size());
    for (auto _ : state)
        for (size_t i = 0; i < bad.size(); ++i) {
            decode(bad[i], &t_bad[i]);
            decode(good[i], &t_good[i]);
        }
    double sum_bad = 0, sum_good = 0, worst = 0;
    for (size_t i = 0; i < bad.size(); ++i) {
        sum_bad += t_bad[i];
        sum_good += t_good[i];
        if (t_good[i] > 0 && t_bad[i] / t_good[i] > worst) worst = t_bad[i] / t_good[i];
    }
    state.counters["x_clean"] = sum_good > 0 ? sum_bad / sum_good : 0;
    state.counters["x_worst"] = worst;
    state.SetLabel(std::to_string(bad.size()) + " reproducers" + (worst > kSlowest ? " SLOW" : ""));
}
BENCHMARK(BM_Reproducers)->Unit(benchmark::kMillisecond);

}  // namespace
