// Comparison of decoded 16-bit PCM with a reference: alignment search, then the largest error
// and the RMS error in LSB, and the PSNR against 16-bit full scale. Written for any decoder's
// output (MP3, AAC): interleaved channels, reference and output may start at different points.
#pragma once

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <limits>
#include <numbers>
#include <string>
#include <vector>

namespace zuft {

struct PcmComparison {
    long offset = 0;       // reference frame index = output frame index + offset
    size_t frames = 0;     // sample frames compared (the overlap after alignment)
    int max_abs = 0;       // largest |output - reference|, LSB
    double rms = 0.0;      // RMS of the difference, LSB
    double psnr_db = 0.0;  // 10 log10(32767^2 / mean squared difference); infinite when equal
    bool aligned = false;  // an offset with a plausible match was found
};

inline std::string describe(const PcmComparison& c) {
    char buf[160];
    std::snprintf(buf, sizeof buf, "offset %ld, %zu frames, max %d LSB, rms %.4f LSB, psnr %.1f dB", c.offset, c.frames,
                  c.max_abs, c.rms, c.psnr_db);
    return buf;
}

// The errors of out against ref at a known offset, over their overlap: of channel `only`, or of
// all channels when `only` is negative.
inline PcmComparison measure_pcm(const int16_t* out, size_t out_frames, const int16_t* ref, size_t ref_frames,
                                 int channels, long offset, int only = -1) {
    PcmComparison r;
    r.offset = offset;
    const size_t ch = static_cast<size_t>(channels);
    double sq = 0.0;
    for (size_t i = 0; i < out_frames; ++i) {
        const long j = static_cast<long>(i) + offset;
        if (j < 0 || static_cast<size_t>(j) >= ref_frames) continue;
        for (size_t c = 0; c < ch; ++c) {
            if (only >= 0 && c != static_cast<size_t>(only)) continue;
            const int e = out[i * ch + c] - ref[static_cast<size_t>(j) * ch + c];
            r.max_abs = std::max(r.max_abs, std::abs(e));
            sq += static_cast<double>(e) * e;
        }
        ++r.frames;
    }
    const double mse = r.frames ? sq / static_cast<double>(r.frames * (only >= 0 ? 1 : ch)) : 0.0;
    r.rms = std::sqrt(mse);
    r.psnr_db = mse > 0 ? 10.0 * std::log10(32767.0 * 32767.0 / mse) : std::numeric_limits<double>::infinity();
    return r;
}

// Finds the offset in [-max_shift, max_shift] sample frames that makes the two signals agree
// best (least sum of absolute differences over 4096 frames from the first output frame with
// some level), then measures the whole overlap.
inline PcmComparison compare_pcm(const int16_t* out, size_t out_frames, const int16_t* ref, size_t ref_frames,
                                 int channels, long max_shift) {
    const size_t ch = static_cast<size_t>(channels), wlen = 4096;
    size_t w0 = 0;
    while (w0 < out_frames * ch && std::abs(out[w0]) <= 64) ++w0;
    w0 = w0 == out_frames * ch ? 0 : w0 / ch;
    long best = 0;
    uint64_t best_sad = std::numeric_limits<uint64_t>::max();
    for (long d = -max_shift; d <= max_shift; ++d) {
        uint64_t sad = 0;
        size_t n = 0;
        for (size_t i = w0; i < w0 + wlen && i < out_frames && sad < best_sad; ++i) {
            const long j = static_cast<long>(i) + d;
            if (j < 0 || static_cast<size_t>(j) >= ref_frames) continue;
            for (size_t c = 0; c < ch; ++c)
                sad += static_cast<uint64_t>(std::abs(out[i * ch + c] - ref[static_cast<size_t>(j) * ch + c]));
            ++n;
        }
        if (n >= wlen / 2 && sad < best_sad) best_sad = sad, best = d;
    }
    PcmComparison r = measure_pcm(out, out_frames, ref, ref_frames, channels, best);
    r.aligned = best_sad != std::numeric_limits<uint64_t>::max();
    return r;
}

inline std::vector<uint8_t> read_file(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// Raw 16-bit little-endian PCM, from byte `skip` on.
inline std::vector<int16_t> read_pcm16(const std::string& path, size_t skip = 0) {
    const auto b = read_file(path);
    std::vector<int16_t> v(b.size() > skip ? (b.size() - skip) / 2 : 0);
    for (size_t i = 0; i < v.size(); ++i) v[i] = static_cast<int16_t>(b[skip + 2 * i] | (b[skip + 2 * i + 1] << 8));
    return v;
}

// The samples of a WAV file as zufdec writes it: the 44-byte canonical header, then the data.
inline std::vector<int16_t> read_wav16(const std::string& path, int* channels = nullptr, int* rate = nullptr) {
    const auto b = read_file(path);
    if (b.size() < 44 || b[0] != 'R' || b[1] != 'I') return {};
    if (channels) *channels = b[22] | b[23] << 8;
    if (rate) *rate = b[24] | b[25] << 8 | b[26] << 16;
    return read_pcm16(path, 44);
}

// ISO/IEC 14496-26 RMS/LSB measurement at accuracy level K, on 16-bit samples: the RMS of the
// difference must stay below 2^(16-K)/sqrt(12) LSB and the largest difference at most
// 2^(17-K) LSB. Returns the largest K in 1..24 that both bounds allow (0 when none); K = 16
// means RMS under 0.289 LSB and largest difference at most 2 LSB; equal signals give 24.
inline int accuracy_level(double rms, int max_abs) {
    int k = 0;
    while (k < 24 && rms < std::ldexp(1.0, 15 - k) / std::sqrt(12.0) && max_abs <= std::ldexp(1.0, 16 - k)) ++k;
    return k;
}

// ---------------------------------------------------------------- band energies (noise)

// In-place radix-2 FFT (n a power of two), for the band-energy comparison only.
inline void fft_inplace(std::vector<std::complex<double>>& a) {
    const size_t n = a.size();
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        if (i < (j ^= bit)) std::swap(a[i], a[j]);
    }
    for (size_t len = 2; len <= n; len <<= 1)
        for (size_t i = 0; i < n; i += len)
            for (size_t k = 0; k < len / 2; ++k) {
                const auto u = a[i + k], v = a[i + k + len / 2] * std::polar(1.0, -2.0 * std::numbers::pi * k / len);
                a[i + k] = u + v;
                a[i + k + len / 2] = u - v;
            }
}

// Noise substitution is random by design, so its output can only be compared in energy: per
// channel, per block of 2048 sample frames (Hann window), per band [edges[b], edges[b+1]) of
// the 1024 DFT bins, the output's band energy must be within 1 dB of the reference's. Band-
// blocks whose reference level is below 2 LSB RMS per bin are not counted. Returns the fraction
// within, and the number compared in *compared.
inline double band_energies_within_1db(const int16_t* out, size_t out_frames, const int16_t* ref, size_t ref_frames,
                                       int channels, long offset, const std::vector<int>& edges, size_t* compared) {
    constexpr size_t N = 2048;
    const size_t ch = static_cast<size_t>(channels);
    size_t within = 0;
    *compared = 0;
    std::vector<std::complex<double>> a(N), b(N);
    for (size_t c = 0; c < ch; ++c)
        for (size_t i = offset < 0 ? static_cast<size_t>(-offset) : 0; i + N <= out_frames; i += N) {
            const size_t j = i + static_cast<size_t>(offset);
            if (j + N > ref_frames) break;
            for (size_t t = 0; t < N; ++t) {
                const double w = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * t / N);
                a[t] = w * out[(i + t) * ch + c];
                b[t] = w * ref[(j + t) * ch + c];
            }
            fft_inplace(a);
            fft_inplace(b);
            for (size_t k = 0; k + 1 < edges.size(); ++k) {
                double eo = 0, er = 0;
                for (int bin = edges[k]; bin < edges[k + 1]; ++bin) {
                    eo += std::norm(a[static_cast<size_t>(bin)]);
                    er += std::norm(b[static_cast<size_t>(bin)]);
                }
                if (er < 0.375 * N * 4.0 * (edges[k + 1] - edges[k])) continue;  // Hann gain times (2 LSB)^2
                ++*compared;
                within += std::fabs(10.0 * std::log10((eo + 1e-9) / er)) <= 1.0;
            }
        }
    return *compared ? static_cast<double>(within) / static_cast<double>(*compared) : 0.0;
}

}  // namespace zuft
