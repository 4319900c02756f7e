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
#include <fstream>
#include <iterator>
#include <limits>
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

// Finds the offset in [-max_shift, max_shift] sample frames that makes the two signals agree
// best (least sum of absolute differences over a window that holds signal), then compares
// the whole overlap.
inline PcmComparison compare_pcm(const int16_t* out, size_t out_frames, const int16_t* ref, size_t ref_frames,
                                 int channels, long max_shift) {
    PcmComparison r;
    const size_t ch = static_cast<size_t>(channels);
    // Window: 4096 frames from the first output frame with some level.
    size_t w0 = 0;
    while (w0 < out_frames) {
        bool loud = false;
        for (size_t c = 0; c < ch; ++c) loud |= std::abs(out[w0 * ch + c]) > 64;
        if (loud) break;
        ++w0;
    }
    if (w0 == out_frames) w0 = 0;
    const size_t wlen = 4096;
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
        if (n >= wlen / 2 && sad < best_sad) {
            best_sad = sad;
            best = d;
        }
    }
    r.offset = best;
    r.aligned = best_sad != std::numeric_limits<uint64_t>::max();
    double sq = 0.0;
    for (size_t i = 0; i < out_frames; ++i) {
        const long j = static_cast<long>(i) + best;
        if (j < 0 || static_cast<size_t>(j) >= ref_frames) continue;
        for (size_t c = 0; c < ch; ++c) {
            const int e = out[i * ch + c] - ref[static_cast<size_t>(j) * ch + c];
            if (std::abs(e) > r.max_abs) r.max_abs = std::abs(e);
            sq += static_cast<double>(e) * e;
        }
        ++r.frames;
    }
    const double n = static_cast<double>(r.frames * ch);
    const double mse = n > 0 ? sq / n : 0.0;
    r.rms = std::sqrt(mse);
    r.psnr_db = mse > 0 ? 10.0 * std::log10(32767.0 * 32767.0 / mse) : std::numeric_limits<double>::infinity();
    return r;
}

inline std::vector<uint8_t> read_file(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// Raw 16-bit little-endian PCM.
inline std::vector<int16_t> read_pcm16(const std::string& path) {
    const auto bytes = read_file(path);
    std::vector<int16_t> v(bytes.size() / 2);
    for (size_t i = 0; i < v.size(); ++i) v[i] = static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    return v;
}

// The samples of a canonical 16-bit PCM WAV file (RIFF, fmt, data), or empty.
inline std::vector<int16_t> read_wav16(const std::string& path, int* channels = nullptr, int* rate = nullptr) {
    const auto b = read_file(path);
    std::vector<int16_t> v;
    if (b.size() < 12 || std::string(b.begin(), b.begin() + 4) != "RIFF") return v;
    auto u32 = [&](size_t at) {
        return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
    };
    size_t at = 12;
    while (at + 8 <= b.size()) {
        const std::string id(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at + 4));
        const size_t len = u32(at + 4);
        if (id == "fmt " && at + 16 <= b.size()) {
            if (channels) *channels = b[at + 10] | b[at + 11] << 8;
            if (rate) *rate = static_cast<int>(u32(at + 12));
        } else if (id == "data") {
            const size_t n = std::min(len, b.size() - at - 8) / 2;
            v.resize(n);
            for (size_t i = 0; i < n; ++i) v[i] = static_cast<int16_t>(b[at + 8 + 2 * i] | (b[at + 9 + 2 * i] << 8));
            return v;
        }
        at += 8 + len + (len & 1);
    }
    return v;
}

// ---------------------------------------------------------------- per channel, and conformance

// A float sample (full scale 1.0) as the 16-bit value it rounds to: nearest, ties to even,
// saturated. This is how a floating-point reference decode is brought to 16 bits before the
// ISO/IEC 14496-26 RMS/LSB measurement.
inline int16_t round_to_16(float v) {
    const double x = std::nearbyint(static_cast<double>(v) * 32768.0);  // default mode: ties to even
    return static_cast<int16_t>(std::clamp(x, -32768.0, 32767.0));
}

struct ChannelError {
    double rms = 0.0;     // RMS of the difference, LSB
    int max_abs = 0;      // largest |difference|, LSB
    double snr_db = 0.0;  // reference power over difference power; infinite when equal
    int k = 0;            // accuracy level reached (see accuracy_level)
};

// ISO/IEC 14496-26 RMS/LSB measurement at accuracy level K, on 16-bit samples: the RMS of the
// difference must stay below 2^(16-K)/sqrt(12) LSB and the largest difference at most
// 2^(17-K) LSB. Returns the largest K in 1..24 that both bounds allow (0 when none); K = 16
// means RMS under 0.289 LSB and largest difference at most 2 LSB, K = 17 under 0.144 and 1;
// equal signals give 24.
inline int accuracy_level(double rms, int max_abs) {
    int best = 0;
    for (int k = 1; k <= 24 && rms < std::ldexp(1.0, 16 - k) / std::sqrt(12.0) && max_abs <= std::ldexp(1.0, 17 - k);
         ++k)
        best = k;
    return best;
}

// Per-channel errors of out against ref at a known offset (reference frame = output frame +
// offset), over their overlap.
inline std::vector<ChannelError> compare_channels(const int16_t* out, size_t out_frames, const int16_t* ref,
                                                  size_t ref_frames, int channels, long offset) {
    const size_t ch = static_cast<size_t>(channels);
    std::vector<ChannelError> r(ch);
    std::vector<double> sq(ch, 0.0), pw(ch, 0.0);
    size_t n = 0;
    for (size_t i = 0; i < out_frames; ++i) {
        const long j = static_cast<long>(i) + offset;
        if (j < 0 || static_cast<size_t>(j) >= ref_frames) continue;
        for (size_t c = 0; c < ch; ++c) {
            const int rv = ref[static_cast<size_t>(j) * ch + c];
            const int e = out[i * ch + c] - rv;
            r[c].max_abs = std::max(r[c].max_abs, std::abs(e));
            sq[c] += static_cast<double>(e) * e;
            pw[c] += static_cast<double>(rv) * rv;
        }
        ++n;
    }
    for (size_t c = 0; c < ch; ++c) {
        r[c].rms = n ? std::sqrt(sq[c] / static_cast<double>(n)) : 0.0;
        r[c].snr_db = sq[c] > 0 ? 10.0 * std::log10(pw[c] / sq[c]) : std::numeric_limits<double>::infinity();
        r[c].k = accuracy_level(r[c].rms, r[c].max_abs);
    }
    return r;
}

// ---------------------------------------------------------------- band energies (noise)

// In-place radix-2 FFT (n a power of two), for the band-energy comparison only.
inline void fft_inplace(std::vector<std::complex<double>>& a) {
    const size_t n = a.size();
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(a[i], a[j]);
    }
    for (size_t len = 2; len <= n; len <<= 1) {
        const double ang = -2.0 * 3.14159265358979323846 / static_cast<double>(len);
        const std::complex<double> wl(std::cos(ang), std::sin(ang));
        for (size_t i = 0; i < n; i += len) {
            std::complex<double> w(1.0);
            for (size_t k = 0; k < len / 2; ++k, w *= wl) {
                const auto u = a[i + k], v = a[i + k + len / 2] * w;
                a[i + k] = u + v;
                a[i + k + len / 2] = u - v;
            }
        }
    }
}

struct BandEnergyMatch {
    size_t compared = 0;  // band-blocks with signal in the reference
    size_t within = 0;    // ... whose output energy is within the tolerance
    double fraction() const { return compared ? static_cast<double>(within) / static_cast<double>(compared) : 0.0; }
};

// Noise substitution is random by design, so its output can only be compared in energy: per
// channel, per block of 2048 sample frames (Hann window), per band [edges[b], edges[b+1]) of
// the 1024 DFT bins, the output's band energy must be within tol_db of the reference's. Band-
// blocks whose reference level is below 2 LSB RMS per bin are not counted.
inline BandEnergyMatch compare_band_energies(const int16_t* out, size_t out_frames, const int16_t* ref,
                                             size_t ref_frames, int channels, long offset,
                                             const std::vector<int>& edges, double tol_db = 1.0) {
    constexpr size_t N = 2048;
    const size_t ch = static_cast<size_t>(channels);
    BandEnergyMatch m;
    std::vector<double> win(N);
    for (size_t i = 0; i < N; ++i) win[i] = 0.5 - 0.5 * std::cos(2.0 * 3.14159265358979323846 * i / N);
    const double floor_per_bin = 0.375 * N * 4.0;  // Hann gain times (2 LSB)^2
    std::vector<std::complex<double>> a(N), b(N);
    const size_t start = offset < 0 ? static_cast<size_t>(-offset) : 0;
    for (size_t c = 0; c < ch; ++c)
        for (size_t i = start; i + N <= out_frames; i += N) {
            const size_t j = i + static_cast<size_t>(offset);
            if (j + N > ref_frames) break;
            for (size_t t = 0; t < N; ++t) {
                a[t] = win[t] * out[(i + t) * ch + c];
                b[t] = win[t] * ref[(j + t) * ch + c];
            }
            fft_inplace(a);
            fft_inplace(b);
            for (size_t k = 0; k + 1 < edges.size(); ++k) {
                double eo = 0, er = 0;
                for (int bin = edges[k]; bin < edges[k + 1]; ++bin) {
                    eo += std::norm(a[static_cast<size_t>(bin)]);
                    er += std::norm(b[static_cast<size_t>(bin)]);
                }
                if (er < floor_per_bin * (edges[k + 1] - edges[k])) continue;
                ++m.compared;
                m.within += std::fabs(10.0 * std::log10((eo + 1e-9) / er)) <= tol_db;
            }
        }
    return m;
}

}  // namespace zuft
