// Test models for the MP3 decoder: a bit writer, the standard's Huffman code tables read from
// their plain-text copy (tools/gen/data/mp3_huffman.txt, ISO/IEC 11172-3 Table 3-B.7) with an
// encoder for pairs and quadruples, the MPEG-2 scale-factor partitions typed in from
// ISO/IEC 13818-3, and records with chosen fields.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "zufack9/zufack9.h"

namespace zuft {

// MSB-first bit writer.
class BitWriter {
  public:
    void put(uint32_t value, int bits) {
        for (int i = bits - 1; i >= 0; --i) bits_.push_back(static_cast<uint8_t>((value >> i) & 1));
    }
    void put_code(const std::string& code) {
        for (char c : code) bits_.push_back(c == '1');
    }
    size_t size() const { return bits_.size(); }
    // Bytes, zero-filled to a whole byte and followed by `pad` zero bytes.
    std::vector<uint8_t> bytes(size_t pad = 8) const {
        std::vector<uint8_t> b((bits_.size() + 7) / 8 + pad, 0);
        for (size_t i = 0; i < bits_.size(); ++i)
            if (bits_[i]) b[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
        return b;
    }

  private:
    std::vector<uint8_t> bits_;
};

// The pair and quadruple codes of ISO/IEC 11172-3 Table 3-B.7.
struct Mp3HuffmanCodes {
    int linbits[32] = {};
    int size[32] = {};  // values per axis
    std::map<std::pair<int, int>, std::string> pair[32];
    std::map<int, std::string> quad[2];  // 8v + 4w + 2x + y -> code, A then B

    static const Mp3HuffmanCodes& get() {
        static const Mp3HuffmanCodes codes = load(std::string(ZUF_SOURCE_DIR) + "/tools/gen/data/mp3_huffman.txt");
        return codes;
    }

    static Mp3HuffmanCodes load(const std::string& path) {
        Mp3HuffmanCodes c;
        std::ifstream f(path);
        std::string line, w, code;
        int t = 0, v, x, y, z, len;
        while (std::getline(f, line)) {
            std::istringstream ss(line);
            if (!(ss >> w) || w[0] == '#' || w == "count1") continue;
            if (w == "table") {  // a table whose codes are another's follows that one
                ss >> t >> w >> c.linbits[t] >> w >> c.size[t];
                while (ss >> w)
                    if (w == "codes_of" && ss >> v) c.pair[t] = c.pair[v];
            } else if (w == "A" || w == "B") {
                ss >> v >> x >> y >> z >> len >> code;
                c.quad[w == "B"][8 * v + 4 * x + 2 * y + z] = code;
            } else {
                ss >> x >> y >> len >> code;  // after the table number
                c.pair[t][{x, y}] = code;
            }
        }
        return c;
    }

    // Writes the pair (x, y) with table t: code, x's linbits and sign, y's linbits and sign.
    void put_pair(BitWriter& bw, int t, int x, int y) const {
        const int ax = x < 0 ? -x : x, ay = y < 0 ? -y : y;
        const int lb = linbits[t];
        const int cx = (lb && ax >= 15) ? 15 : ax, cy = (lb && ay >= 15) ? 15 : ay;
        bw.put_code(pair[t].at({cx, cy}));
        if (lb && cx == 15) bw.put(static_cast<uint32_t>(ax - 15), lb);
        if (ax) bw.put(x < 0, 1);
        if (lb && cy == 15) bw.put(static_cast<uint32_t>(ay - 15), lb);
        if (ay) bw.put(y < 0, 1);
    }

    // Writes the quadruple q[0..3] (values -1..1) with table A (0) or B (1).
    void put_quad(BitWriter& bw, int table, const int* q) const {
        int idx = 0;
        for (int k = 0; k < 4; ++k) idx = 2 * idx + (q[k] != 0);
        bw.put_code(quad[table].at(idx));
        for (int k = 0; k < 4; ++k)
            if (q[k]) bw.put(q[k] < 0, 1);
    }
};

// The band boundaries of a table row (ID * 3 + sampling_frequency): the library's tables, which
// the compliance streams of all six rates check.
inline const Zuf16s* sfb_long(int row) { return _zuf_pMP3SfbTableLong + 23 * row; }
inline const Zuf16s* sfb_short(int row) { return _zuf_pMP3SfbTableShort + 14 * row; }

// nr_of_sfb_block [table][long, short, mixed][part] (ISO/IEC 13818-3 2.4.3.2).
inline const int kNrOfSfb[6][3][4] = {
    {{6, 5, 5, 5}, {9, 9, 9, 9}, {6, 9, 9, 9}},       {{6, 5, 7, 3}, {9, 9, 12, 6}, {6, 9, 12, 6}},
    {{11, 10, 0, 0}, {18, 18, 0, 0}, {15, 18, 0, 0}}, {{7, 7, 7, 0}, {12, 12, 12, 0}, {6, 15, 12, 0}},
    {{6, 6, 6, 3}, {12, 9, 9, 6}, {6, 12, 9, 6}},     {{8, 8, 5, 0}, {15, 12, 9, 0}, {6, 18, 9, 0}},
};

inline Mp3FrameHeader make_header(int id, int sf, int mode, int mode_ext = 0) {
    Mp3FrameHeader h{};
    h.ID = id, h.layer = 1, h.protection_bit = 1, h.bitrate_index = 9, h.sampling_frequency = sf;
    h.mode = mode, h.mode_extension = mode_ext;
    return h;
}

inline Mp3SideInfo make_side_info() {
    Mp3SideInfo si{};
    si.global_gain = 210;
    return si;
}
// Calls f(args...) once per pointer argument with that one argument null: every call must be
// refused with zufErrNullPtr.
template <class F, class... A>
void expect_null_each(F f, A... args) {
    using Args = std::tuple<A...>;
    [&]<size_t... I>(std::index_sequence<I...>) {
        (
            [&] {
                if constexpr (std::is_pointer_v<std::tuple_element_t<I, Args>>) {
                    Args t(args...);
                    std::get<I>(t) = nullptr;
                    EXPECT_EQ(std::apply(f, t), zufErrNullPtr) << "argument " << I;
                }
            }(),
            ...);
    }
    (std::index_sequence_for<A...>{});
}

}  // namespace zuft
