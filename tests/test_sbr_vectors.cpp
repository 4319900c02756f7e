// The project's own HE-AAC vectors (tools/gen/sbr_inject.py: FFmpeg's LC streams with SBR payloads
// coding known levels on a documented schedule), decoded by the example decoder: the high band of
// every long envelope must carry the level the schedule coded relative to all the others, of both
// channels (so the 6 dB channel balance, coupled or not, too); sinusoid bands must be tonal; and
// FFmpeg's decode, when ffmpeg is installed, is measured the same way and compared.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "support/pcm_compare.h"
#include "support/tool_run.h"

namespace {

// The schedule of sbr_inject.py, frame k: class slot k % 8 with its envelope borders (SBR slots of
// 128 output samples), levels in 1.5 dB steps, 3.0 dB resolution in odd cycles, coupling.
const std::vector<int> kBorders[8] = {{0, 16},        {0, 8, 16},          {0, 14, 18},    {2, 6, 10, 16},
                                      {0, 4, 8, 12, 16}, {0, 7, 13, 17}, {1, 5, 11, 15, 19}, {3, 5, 7, 12, 14, 16}};
constexpr int kLevels[3] = {32, 36, 40};

// Envelope energy (dequantised, ISO/IEC 14496-3 4.6.18.3.5) of channel c in envelope e of frame k.
double coded_energy(int k, int e, int c, int channels) {
    const int level = kLevels[(k + e) % 3], amp = k % 8 == 0 ? 0 : k / 8 % 2, coupled = (k / 8 / 2 + k / 4) % 2;
    if (channels == 1 || !coupled) return std::pow(2.0, (level - 4 * c) / 2.0);
    const double a = amp ? 1.0 : 0.5, e0 = amp ? level / 2 - 1 : level - 1;  // level channel, balance pan + 6 dB
    return std::pow(2.0, e0 * a + 1) / (c == 0 ? 1.25 : 5.0);
}

// The output band-passed to 5.6 .. 16.4 kHz (the SBR range is 4.875 .. 16.875 kHz at 48 kHz, less
// a QMF channel of overlap at each edge), by one zero-padded FFT of the whole channel.
std::vector<double> high_band(const std::vector<int16_t>& pcm, int channels, int c) {
    size_t n = 1;
    while (n < pcm.size() / channels + 4096) n <<= 1;
    std::vector<std::complex<double>> a(n);
    for (size_t i = 0; i < pcm.size() / channels; ++i) a[i] = pcm[i * channels + c];
    zuft::fft_inplace(a);
    for (size_t b = 0; b < n; ++b) {
        const double f = 48000.0 * static_cast<double>(std::min(b, n - b)) / n;
        a[b] = f >= 5600 && f <= 16400 ? std::conj(a[b]) / static_cast<double>(n) : 0.0;
    }
    zuft::fft_inplace(a);  // conj(FFT(conj(X))) / n: the inverse; the result is real
    std::vector<double> y(n);
    for (size_t i = 0; i < n; ++i) y[i] = a[i].real();
    return y;
}

struct Envelope {
    int k, e, c;
    size_t from, to;  // output samples, delay included
};

// Envelopes of 6 SBR slots or more, interiors only: the QMF banks smear a border over about
// +-192 samples. Frames 0 and 1 (start-up) and the sinusoid frames (slots 3, 4) are left out.
std::vector<Envelope> long_envelopes(int frames, int channels, size_t delay) {
    std::vector<Envelope> r;
    for (int k = 2; k + 1 < frames; ++k)
        for (int c = 0; c < channels; ++c) {
            const auto& b = kBorders[k % 8];
            for (size_t e = 0; e + 1 < b.size(); ++e)
                if (k % 8 != 3 && k % 8 != 4 && b[e + 1] - b[e] >= 6)
                    r.push_back({k, static_cast<int>(e), c, delay + (16u * k + b[e]) * 128 + 192,
                                 delay + (16u * k + b[e + 1]) * 128 - 192});
        }
    return r;
}

// Measured minus coded level (dB) of each envelope, and their median.
std::vector<double> deviations(const std::vector<std::vector<double>>& hb, const std::vector<Envelope>& envs,
                               int channels, double* median) {
    std::vector<double> d;
    for (const auto& v : envs) {
        double s = 0;
        for (size_t i = v.from; i < v.to; ++i) s += hb[v.c][i] * hb[v.c][i];
        d.push_back(10 * std::log10(s / (v.to - v.from) / coded_energy(v.k, v.e, v.c, channels) + 1e-30));
    }
    auto m = d;
    std::nth_element(m.begin(), m.begin() + m.size() / 2, m.end());
    *median = m[m.size() / 2];
    return d;
}

std::vector<int16_t> ffmpeg_decode(const std::string& path, int channels) {
    std::vector<int16_t> r;
    FILE* p = popen(("ffmpeg -v error -nostdin -i '" + path + "' -ac " + std::to_string(channels) +
                     " -f s16le - 2>/dev/null")
                        .c_str(),
                    "r");
    if (!p) return r;
    int16_t buf[4096];
    for (size_t n; (n = std::fread(buf, 2, 4096, p)) > 0;) r.insert(r.end(), buf, buf + n);
    pclose(p);
    return r;
}

// Worst deviation (dB) of an envelope's level from the coded one, after the stream's median (within
// 1.5 dB: the energy of a few hundred samples of noise-like signal, at the edges still smeared by
// the QMF banks, scatters by about 1 dB, in FFmpeg's decode as much as in this one's); the
// decoder's delay is the middle of the range of multiples of 64 samples where the levels fit best
// (the trimmed interiors make it a plateau some 300 samples wide).
double worst_level(const std::vector<int16_t>& pcm, int channels, int frames, size_t* delay, const char* who) {
    std::vector<std::vector<double>> hb;
    for (int c = 0; c < channels; ++c) hb.push_back(high_band(pcm, channels, c));
    std::vector<double> spread;
    double median = 0, worst = 0;
    for (size_t t = 0; t < 4096; t += 64) {
        spread.push_back(0);
        for (double x : deviations(hb, long_envelopes(frames - 2, channels, t), channels, &median))
            spread.back() += (x - median) * (x - median);
    }
    const double least = *std::min_element(spread.begin(), spread.end());
    size_t sum = 0, n = 0;
    for (size_t i = 0; i < spread.size(); ++i)
        if (spread[i] <= 2 * least) sum += 64 * i, ++n;
    *delay = sum / n / 64 * 64;
    const auto envs = long_envelopes(frames - 2, channels, *delay);
    const auto dev = deviations(hb, envs, channels, &median);
    for (size_t i = 0; i < envs.size(); ++i) {
        worst = std::max(worst, std::fabs(dev[i] - median));
        EXPECT_NEAR(dev[i], median, 1.5) << who << " frame " << envs[i].k << " envelope " << envs[i].e << " ch "
                                          << envs[i].c;
    }
    std::printf("%s, %d ch: delay %zu, %zu envelopes, worst level %.2f dB from the coded\n", who, channels, *delay,
                envs.size(), worst);
    // Sinusoids (slots 3 and 4 of each cycle, from slot 3's first border to slot 4's end): the
    // tonal QMF channel 33 (bs_add_harmonic band 20, its patch suppressed by a noise floor of 30)
    // puts half its energy or more in one of its 32 bins of a 4096-point DFT (the rest: the skirts of
    // the window and of the neighbouring channels); in slots 5 and 6, noise-like, a fifth or less.
    for (int k = 3; k + 4 < frames; k += 8)
        for (const bool sine : {true, false}) {
            const size_t at = *delay + 2048u * (sine ? k : k + 2) + (sine ? 256 : 0);
            std::vector<std::complex<double>> a(4096);
            for (size_t i = 0; i < 4096; ++i)
                a[i] = hb[0][at + i] * (0.5 - 0.5 * std::cos(2 * std::numbers::pi * i / 4096));
            zuft::fft_inplace(a);
            double peak = 0, sum = 0;
            for (int b = 32 * 33; b < 32 * 34; ++b) peak = std::max(peak, std::norm(a[b])), sum += std::norm(a[b]);
            if (sine)
                EXPECT_GT(peak / sum, 0.35) << who << " frame " << k;  // measured 0.47 .. 0.61
            else
                EXPECT_LT(peak / sum, 0.3) << who << " frame " << k + 2;  // measured 0.08 .. 0.21
        }
    return worst;
}

TEST(SbrVectors, CodedLevelsSinusoidsAndFfmpeg) {
    for (const int channels : {1, 2}) {
        const std::string path = std::string(ZUF_SOURCE_DIR) + "/tests/vectors/aac/sbr_24000_" +
                                 (channels == 1 ? "mono" : "stereo") + ".aac";
        SCOPED_TRACE(path);
        const zuft::Decoded d = zuft::decode_memory(zuft::read_file(path));
        ASSERT_EQ(d.st.channels, channels);
        EXPECT_EQ(d.st.sample_rate, 48000);
        EXPECT_EQ(d.tools.sbr_fallback, 0u);
        const int frames = static_cast<int>(d.st.frames);
        EXPECT_EQ(d.st.samples, 2048ul * frames);
        size_t delay = 0;
        worst_level(d.pcm, channels, frames, &delay, "example decoder");
        const auto ref = ffmpeg_decode(path, channels);
        if (ref.empty()) continue;
        EXPECT_EQ(ref.size(), d.pcm.size());
        worst_level(ref, channels, frames, &delay, "FFmpeg");  // the measurement itself, on another decoder
        // Known difference: where noise floors are sent, this decoder's high band differs from
        // FFmpeg's (and FAAD2's, which agrees with FFmpeg to 0.03 LSB RMS) by about -30 dB of it, as
        // soon as bs_limiter_bands is not 0 (with 0, 0.06 LSB RMS); measured 32 (mono) and 26 LSB
        // RMS. The bound keeps it from growing until it is found.
        const auto c = zuft::compare_pcm(d.pcm.data(), d.pcm.size() / channels, ref.data(), ref.size() / channels,
                                         channels, 4096);
        std::printf("%d ch against FFmpeg: %s\n", channels, zuft::describe(c).c_str());
        EXPECT_LT(c.rms, 40.0);
    }
}

}  // namespace
