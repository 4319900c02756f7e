// Test-side AAC stream writer: a plain bit writer, the spectral and scale-factor codes taken from
// the standard's codeword tables (aac_huffman_codewords.h, not from the decoder's trees), and a
// model of one individual_channel_stream() that writes itself in syntax order and predicts
// what the decoder must output.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <utility>
#include <vector>

#include "aac/aac_band_tables.h"
#include "support/aac_huffman_codewords.h"
#include "support/test_util.h"

namespace zuft::aac {

struct BitWriter {
    std::vector<uint8_t> bytes;
    size_t nbits = 0;

    void put(uint32_t v, int n) {
        for (int i = n - 1; i >= 0; --i) {
            if (nbits % 8 == 0) bytes.push_back(0);
            if ((v >> i) & 1u) bytes.back() |= static_cast<uint8_t>(0x80u >> (nbits % 8));
            ++nbits;
        }
    }
    void put(const Codeword& c) { put(c.code, c.len); }
    void align() {
        while (nbits % 8) put(0, 1);
    }
    // The bytes plus readable padding for the decoders' read-ahead.
    std::vector<uint8_t> buffer(size_t pad = 16) const {
        auto b = bytes;
        b.resize(b.size() + pad, 0);
        return b;
    }
};

// A stream written from a field list {width, value}.
using Fields = std::vector<std::pair<int, uint32_t>>;
inline BitWriter bits(const Fields& f) {
    BitWriter w;
    for (auto [n, v] : f) w.put(v, n);
    return w;
}

// A written stream being parsed from bit `lead` on; `end` its length in bits.
struct Stream {
    std::vector<uint8_t> buf;
    Zuf8u* p;
    int off;
    long end;
    Stream(const BitWriter& w, int lead = 0)
        : buf(w.buffer()), p(buf.data() + lead / 8), off(lead % 8), end(static_cast<long>(w.nbits)) {}
    Stream(const Fields& f, int lead = 0) : Stream(bits(f), lead) {}
    long pos() const { return 8 * (p - buf.data()) + off; }
};

// Codebook parameters of ISO/IEC 13818-7 Table 8.2, kept apart from the library's table.
struct Book {
    int dim;
    bool is_unsigned;
    int lav;
};
inline Book book_of(int cb) {
    static const Book books[12] = {{0, false, 0}, {4, false, 1}, {4, false, 1}, {4, true, 2},
                                   {4, true, 2},  {2, false, 4}, {2, false, 4}, {2, true, 7},
                                   {2, true, 7},  {2, true, 12}, {2, true, 12}, {2, true, 16}};
    return books[cb];
}

// escape_sequence() for a magnitude 16..8191: N - 4 one bits, a zero, N bits of mag - 2^N.
inline void put_escape(BitWriter& w, int mag) {
    int n = 4;
    while ((mag >> (n + 1)) != 0) ++n;
    w.put(((1u << (n - 4)) - 1u) << 1, n - 3);
    w.put(static_cast<uint32_t>(mag - (1 << n)), n);
}

// One tuple: codeword index from the values (first value most significant digit), then sign
// bits of the non-zero values, then escapes.
inline void put_tuple(BitWriter& w, int cb, const int32_t* v) {
    const Book b = book_of(cb);
    const int mod = b.is_unsigned ? b.lav + 1 : 2 * b.lav + 1;
    const int off = b.is_unsigned ? 0 : b.lav;
    int idx = 0;
    for (int k = 0; k < b.dim; ++k) {
        int m = b.is_unsigned ? std::abs(v[k]) : v[k];
        if (cb == 11 && m > 16) m = 16;
        idx = idx * mod + m + off;
    }
    w.put(codebook(cb)[idx]);
    if (b.is_unsigned)
        for (int k = 0; k < b.dim; ++k)
            if (v[k] != 0) w.put(v[k] < 0 ? 1 : 0, 1);
    if (cb == 11)
        for (int k = 0; k < 2; ++k)
            if (std::abs(v[k]) >= 16) put_escape(w, std::abs(v[k]));
}

// A random value a book can code; book 11 escapes about one value in four (up to 8191).
inline int32_t random_value(Rng& rng, int cb) {
    const Book b = book_of(cb);
    int32_t m = rng.range(b.is_unsigned ? 0 : -b.lav, b.lav);
    if (cb == 11 && rng.range(0, 3) == 0) m = rng.range(16, rng.range(0, 1) ? 8191 : 40);
    if (b.is_unsigned && rng.range(0, 1)) m = -m;
    return m;
}

// Calls f(group, band, first index, band width, windows in the group) for every band below
// max_sfb of every window group, in the grouped, interleaved layout (ISO/IEC 13818-7 8.3.5).
template <class F>
void for_each_band(int sfi, int win_len, int num_groups, const int* group_len, int max_sfb, F f) {
    const int16_t* swb = win_len == 128 ? zuf::_pAACSwbOffsetTableShort[sfi] : zuf::_pAACSwbOffsetTableLong[sfi];
    for (int g = 0, start = 0; g < num_groups; start += group_len[g++] * win_len)
        for (int b = 0, p = start; b < max_sfb; p += (swb[b + 1] - swb[b]) * group_len[g], ++b)
            f(g, b, p, swb[b + 1] - swb[b], group_len[g]);
}

struct Section {
    int cb;
    int len;
};
struct TnsFilter {
    int length, order, direction, compress;
    std::vector<int> coef;
};

// individual_channel_stream() of ISO/IEC 13818-7 8.3 / 14496-3 4.4.2.7 as data.
struct IcsModel {
    int sfi = 4;
    int global_gain = 100;
    int window_sequence = 0, window_shape = 0, max_sfb = 0, grouping = 0;
    std::vector<int> group_len{1};
    std::vector<std::vector<Section>> sections;  // per group
    std::vector<int> sf;                         // decoder output per band, groups in order
    bool pulse = false;
    int pulse_start = 0;
    std::vector<int> pulse_offset, pulse_amp;
    bool tns = false;
    std::vector<int> n_filt, coef_res;  // per window
    std::vector<TnsFilter> filters;
    bool gain_control = false;
    std::vector<int32_t> quant = std::vector<int32_t>(1024, 0);  // stream order, before pulses
    mutable size_t pulse_flag_at = 0;                            // bit position, set by write()

    bool is_short() const { return window_sequence == 2; }
    int win_len() const { return is_short() ? 128 : 1024; }
    const int16_t* swb() const {
        return is_short() ? zuf::_pAACSwbOffsetTableShort[sfi] : zuf::_pAACSwbOffsetTableLong[sfi];
    }
    int num_swb() const { return is_short() ? zuf::_pAACNumSwbTableShort[sfi] : zuf::_pAACNumSwbTableLong[sfi]; }
    std::vector<int> sfb_cb() const {
        std::vector<int> v;
        for (const auto& g : sections)
            for (const auto& s : g) v.insert(v.end(), static_cast<size_t>(s.len), s.cb);
        return v;
    }
    // Calls f(codebook, first, end) with the section's span of `quant`, every section of every group.
    template <class F>
    void each_section(F f) const {
        for (size_t g = 0, base = 0; g < sections.size(); base += static_cast<size_t>(group_len[g++] * win_len()))
            for (int band = 0; const auto& s : sections[g]) {
                f(s.cb, base + swb()[band] * group_len[g], base + swb()[band + s.len] * group_len[g]);
                band += s.len;
            }
    }

    void write(BitWriter& w, bool common_window, bool side_flags = true) const {
        const bool s = is_short();
        w.put(static_cast<uint32_t>(global_gain), 8);
        if (!common_window) {  // ics_info, without predictor data
            w.put(static_cast<uint32_t>(window_sequence << 1 | window_shape), 4);
            w.put(static_cast<uint32_t>(s ? max_sfb << 7 | grouping : max_sfb << 1), s ? 11 : 7);
        }
        const int bits = s ? 3 : 5, esc = (1 << bits) - 1;
        for (const auto& g : sections)
            for (const auto& sec : g) {
                w.put(static_cast<uint32_t>(sec.cb), 4);
                int len = sec.len;
                for (; len >= esc; len -= esc) w.put(static_cast<uint32_t>(esc), bits);
                w.put(static_cast<uint32_t>(len), bits);
            }
        // scale_factor_data: three DPCM chains, the first noise energy a raw 9-bit value.
        int last_sf = global_gain, last_is = 0, last_noise = -1;
        const auto cbs = sfb_cb();
        for (size_t i = 0; i < cbs.size(); ++i) {
            const int cb = cbs[i], v = sf[i];
            if (cb >= 1 && cb <= 11) w.put(codebook(0)[v - last_sf + 60]), last_sf = v;
            if (cb == 14 || cb == 15) w.put(codebook(0)[v - last_is + 60]), last_is = v;
            if (cb == 13 && last_noise < 0) w.put(static_cast<uint32_t>(v - global_gain + 346), 9);
            if (cb == 13 && last_noise >= 0) w.put(codebook(0)[v - last_noise + 60]);
            if (cb == 13) last_noise = v;
        }
        if (side_flags) {
            pulse_flag_at = w.nbits;
            w.put(pulse, 1);
            if (pulse) w.put(static_cast<uint32_t>((pulse_offset.size() - 1) << 6 | pulse_start), 8);
            for (size_t i = 0; pulse && i < pulse_offset.size(); ++i)
                w.put(static_cast<uint32_t>(pulse_offset[i] << 4 | pulse_amp[i]), 9);
            w.put(tns, 1);
            for (size_t win = 0, f = 0; tns && win < n_filt.size(); ++win) {
                w.put(static_cast<uint32_t>(n_filt[win]), s ? 1 : 2);
                if (n_filt[win]) w.put(static_cast<uint32_t>(coef_res[win] - 3), 1);
                for (int i = 0; i < n_filt[win]; ++i, ++f) {
                    const auto& t = filters[f];
                    w.put(static_cast<uint32_t>(t.length), s ? 4 : 6);
                    w.put(static_cast<uint32_t>(t.order), s ? 3 : 5);
                    if (t.order) w.put(static_cast<uint32_t>(t.direction << 1 | t.compress), 2);
                    const int width = coef_res[win] - t.compress;
                    for (int c : t.coef) w.put(static_cast<uint32_t>(c) & ((1u << width) - 1u), width);
                }
            }
            w.put(gain_control, 1);
        }
        // spectral_data: values in each group's interleaved order.
        each_section([&](int cb, size_t from, size_t to) {
            for (size_t k = from; cb >= 1 && cb <= 11 && k < to; k += static_cast<size_t>(book_of(cb).dim))
                put_tuple(w, cb, &quant[k]);
        });
    }

    // The spectrum the decoder must produce: coded values, zeros elsewhere, pulses added.
    std::vector<int32_t> expected_spectrum() const {
        std::vector<int32_t> out(1024, 0);
        each_section([&](int cb, size_t from, size_t to) {
            if (cb >= 1 && cb <= 11) std::copy(quant.begin() + from, quant.begin() + to, out.begin() + from);
        });
        for (size_t i = 0, k = pulse ? swb()[pulse_start] : 0; pulse && i < pulse_offset.size(); ++i) {
            k += pulse_offset[i];
            out[k] += out[k] > 0 ? pulse_amp[i] : -pulse_amp[i];
        }
        return out;
    }
};

// A random channel that the decoder must accept: codebooks from `books` (13 only when
// `noise`), scale factors in range, pulses on long windows, TNS on both.
inline IcsModel random_ics(Rng& rng, int sfi, int window_sequence, bool noise, bool intensity) {
    IcsModel m;
    m.sfi = sfi;
    m.window_sequence = window_sequence;
    m.window_shape = rng.range(0, 1);
    m.global_gain = rng.range(90, 200);
    if (m.is_short()) {
        m.grouping = rng.range(0, 127);
        for (int bit = 6; bit >= 0; --bit)
            if ((m.grouping >> bit) & 1)
                ++m.group_len.back();
            else
                m.group_len.push_back(1);
    }
    m.max_sfb = rng.range(0, m.num_swb());
    std::vector<int> cbs = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 11, 11};
    if (noise) cbs.push_back(13);
    if (intensity) cbs.insert(cbs.end(), {14, 15});
    int last_sf = m.global_gain, last_is = 0, last_noise = -1;
    const auto near = [&](int last) { return rng.range(std::max(0, last - 60), std::min(255, last + 60)); };
    for (size_t g = 0; g < m.group_len.size(); ++g) {
        m.sections.emplace_back();
        for (int k = 0; k < m.max_sfb;) {
            const int len = rng.range(1, std::min(m.max_sfb - k, rng.range(0, 1) ? 4 : 40));
            const int cb = cbs[static_cast<size_t>(rng.range(0, static_cast<int>(cbs.size()) - 1))];
            m.sections.back().push_back({cb, len});
            for (int b = 0; b < len; ++b) {
                int v = 0;
                if (cb >= 1 && cb <= 11) v = last_sf = near(last_sf);
                if (cb == 14 || cb == 15) v = last_is += rng.range(-60, 60);
                if (cb == 13)
                    v = last_noise =
                        last_noise < 0 ? rng.range(std::max(0, m.global_gain - 346), 255) : near(last_noise);
                m.sf.push_back(v);
            }
            k += len;
        }
    }
    m.each_section([&](int cb, size_t from, size_t to) {
        for (size_t k = from; k < to; ++k) m.quant[k] = cb >= 1 && cb <= 11 ? random_value(rng, cb) : 0;
    });
    if (!m.is_short() && m.max_sfb > 0 && rng.range(0, 1)) {
        m.pulse = true;
        m.pulse_start = rng.range(0, std::min(m.max_sfb, m.num_swb()) - 1);
        for (int i = rng.range(1, 4); i > 0; --i) {
            m.pulse_offset.push_back(rng.range(0, 31));
            m.pulse_amp.push_back(rng.range(0, 15));
        }
        int k = m.swb()[m.pulse_start];
        for (int o : m.pulse_offset) k += o;
        if (k >= 1024) m.pulse = false, m.pulse_offset.clear(), m.pulse_amp.clear();
    }
    m.tns = rng.range(0, 1);
    const bool s = m.is_short();
    for (int w = 0; m.tns && w < (s ? 8 : 1); ++w) {
        m.n_filt.push_back(rng.range(0, s ? 1 : 3));
        m.coef_res.push_back(rng.range(3, 4));
        for (int f = 0; f < m.n_filt.back(); ++f) {
            TnsFilter t{rng.range(0, s ? 15 : 63), rng.range(0, s ? 7 : 12), rng.range(0, 1), rng.range(0, 1), {}};
            const int width = m.coef_res.back() - t.compress;
            for (int c = 0; c < t.order; ++c) t.coef.push_back(rng.range(-(1 << (width - 1)), (1 << (width - 1)) - 1));
            m.filters.push_back(t);
        }
    }
    return m;
}

}  // namespace zuft::aac
