// Comparison of decoded 16-bit PCM with a reference: alignment search, then the largest error
// and the RMS error in LSB, and the PSNR against 16-bit full scale. Written for any decoder's
// output (MP3, AAC): interleaved channels, reference and output may start at different points.
#pragma once

#include <cmath>
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
    std::snprintf(buf, sizeof buf, "offset %ld, %zu frames, max %d LSB, rms %.4f LSB, psnr %.1f dB", c.offset,
                  c.frames, c.max_abs, c.rms, c.psnr_db);
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
    for (size_t i = 0; i < v.size(); ++i)
        v[i] = static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    return v;
}

// The samples of a canonical 16-bit PCM WAV file (RIFF, fmt, data), or empty.
inline std::vector<int16_t> read_wav16(const std::string& path, int* channels = nullptr, int* rate = nullptr) {
    const auto b = read_file(path);
    std::vector<int16_t> v;
    if (b.size() < 12 || std::string(b.begin(), b.begin() + 4) != "RIFF") return v;
    auto u32 = [&](size_t at) { return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24; };
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
            for (size_t i = 0; i < n; ++i)
                v[i] = static_cast<int16_t>(b[at + 8 + 2 * i] | (b[at + 9 + 2 * i] << 8));
            return v;
        }
        at += 8 + len + (len & 1);
    }
    return v;
}

}  // namespace zuft
