// MP3 Huffman decoding against streams written by a bit writer from the code tables of
// ISO/IEC 11172-3 Table 3-B.7 (tools/gen/data/mp3_huffman.txt): every pair table with random
// values (linbits escapes included), count1 tables A and B, region boundaries from the standard's
// or a caller's band table and of the Mbp variant's window switching, the end-of-part-3 rules and
// the statuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <array>
#include <cstring>
#include <iterator>
#include <tuple>
#include <vector>

#include "mp3/mp3_tables.h"
#include "support/mp3_test_util.h"
#include "support/test_util.h"

namespace {

using zuft::BitWriter;
using zuft::Mp3HuffmanCodes;

// Largest magnitude a table codes.
int max_value(int t) {
    const auto& c = Mp3HuffmanCodes::get();
    return c.linbits[t] ? 15 + (1 << c.linbits[t]) - 1 : c.size[t] - 1;
}

// Side information for a long-block granule with the given region counts.
Mp3SideInfo long_granule(int bv, int r0, int r1, int t0, int t1, int t2, int c1) {
    Mp3SideInfo si = zuft::make_side_info();
    si.big_values = bv, si.region0_count = r0, si.region1_count = r1, si.count1table_select = c1;
    si.table_select[0] = t0, si.table_select[1] = t1, si.table_select[2] = t2;
    return si;
}

// Region ends of ISO/IEC 11172-3 2.4.2.7 for long blocks.
std::array<int, 3> long_regions(const Mp3SideInfo& si, const Zuf16s* L) {
    const int e = 2 * si.big_values;
    return {std::min<int>(L[si.region0_count + 1], e), std::min<int>(L[si.region0_count + si.region1_count + 2], e), e};
}

struct Decoded {
    zufResult status;
    std::vector<Zuf32s> is;
    int nz;
    long bits;  // consumed from the entry position
};

Decoded run(const std::vector<uint8_t>& bytes, int start_bit, Mp3SideInfo si, const Mp3FrameHeader& h, int huf_size,
            int variant = 0, const Zuf16s* L = nullptr, const Zuf16s* S = nullptr, const Zuf16s* mbp = nullptr) {
    if (si.part2_3_length < huf_size) si.part2_3_length = huf_size;
    Decoded d;
    d.is.assign(576, 12345);
    d.nz = -1;
    Zuf8u* p = const_cast<Zuf8u*>(bytes.data()) + start_bit / 8;
    int off = start_bit % 8;
    if (variant == 0)
        d.status = zufsHuffmanDecode_MP3_1u32s(&p, &off, d.is.data(), &d.nz, &si, &h, huf_size);
    else if (variant == 1)
        d.status = zufsHuffmanDecodeSfb_MP3_1u32s(&p, &off, d.is.data(), &d.nz, &si, &h, huf_size, L);
    else
        d.status = zufsHuffmanDecodeSfbMbp_MP3_1u32s(&p, &off, d.is.data(), &d.nz, &si, &h, huf_size, L, S, mbp);
    d.bits = 8 * (p - bytes.data()) + off - start_bit;
    return d;
}

// Writes random lines as part 3 after `start` zero bits: pairs up to each region's end with its
// table (tables 0, 4 and 14 code zeros in no bits; `head`: the first values), then `quads`
// quadruples, then bits of the next granule that must not be taken. Decodes it with hufSize = its
// length and checks the lines, the bound and the position.
void check(zuft::Rng& rng, const std::array<int, 3>& ends, Mp3SideInfo si, const Mp3FrameHeader& h, int quads,
           int start, int variant, const Zuf16s* L, const Zuf16s* S = nullptr, const Zuf16s* mbp = nullptr,
           const std::vector<int>& head = {}) {
    const auto& c = Mp3HuffmanCodes::get();
    std::vector<Zuf32s> is(576, 0);
    BitWriter bw;
    bw.put(0, start);
    for (int r = 0, i = 0; r < 3; ++r)
        for (const int t = si.table_select[r], m = max_value(t); i < ends[r]; i += 2) {
            if (t == 0 || t == 4 || t == 14) continue;
            for (int j = i; j < i + 2; ++j) {
                const int kind = rng.range(0, 9), sign = rng.range(0, 1) ? -1 : 1;
                is[j] = j < static_cast<int>(head.size()) ? head[j]
                                                          : sign * (kind < 3   ? 0
                                                                    : kind < 8 ? rng.range(0, std::min(m, 15))
                                                                               : rng.range(0, m));
            }
            c.put_pair(bw, t, is[i], is[i + 1]);
        }
    for (int q = 0; q < quads; ++q) {
        Zuf32s* v = &is[static_cast<size_t>(2 * si.big_values + 4 * q)];
        for (int k = 0; k < 4; ++k) v[k] = rng.range(-1, 1);
        c.put_quad(bw, si.count1table_select, v);
    }
    const int bits = static_cast<int>(bw.size()) - start;
    bw.put(0x5A5A, 16);
    si.part2_3_length = bits + 20;
    const Decoded d = run(bw.bytes(), start, si, h, bits, variant, L, S, mbp);
    int nz = 576;
    while (nz > 0 && is[static_cast<size_t>(nz - 1)] == 0) --nz;
    EXPECT_EQ(std::tuple(d.status, d.nz, d.bits), std::tuple(zufOk, nz, long{bits}));
    EXPECT_EQ(d.is, is);
}

// Each pair table in region 0 beside random tables in regions 1 and 2, random values (in escape
// tables the extremes first: the largest linbits value, 14, 15, 16; table 24's short code for
// (15, 15) among them), random quadruples of either
// count1 table after them; every other granule through the Sfb variant with a caller band table
// unlike the standard's, whose boundaries it must take.
TEST(Mp3Huffman, EveryTableAndRegionWithTheStandardOrACallerBandTable) {
    zuft::Rng rng(21);
    Zuf16s custom[6 * 23];
    for (int b = 0; b < 6 * 23; ++b) custom[b] = static_cast<Zuf16s>(b % 23 == 22 ? 576 : 2 * (b % 23) * (b % 23 + 1));
    for (int t = 0; t < 32; ++t)
        for (int rep = 0; rep < 6; ++rep) {
            const int id = rep / 3, sf = rep % 3, m = max_value(t), bv = rng.range(4, 288);
            const bool use_custom = rep & 1;
            const int r0 = rng.range(1, 15), r1 = std::min(rng.range(0, 7), 20 - r0);  // region 0: 8 lines or more
            const Mp3SideInfo si = long_granule(bv, r0, r1, t, rng.range(0, 31), rng.range(0, 31), rng.range(0, 1));
            const Zuf16s* L = use_custom ? custom : zuft::sfb_long(3 * id + sf);
            const int quads = rng.range(0, (576 - 2 * bv) / 4), start = rng.range(0, 7);
            check(rng, long_regions(si, L), si, zuft::make_header(id, sf, 3), quads, start, use_custom, custom, nullptr,
                  nullptr, t >= 16 ? std::vector<int>{m, -m, 15, -16, 14, 15, -m, 0} : std::vector<int>{});
        }
}

// Region 0 of window-switching granules in the Mbp variant: 8 long bands, 3 short bands of all
// windows, or a partition row's long bands and short band-windows; region 1 runs to the big values'
// end. (The plain variant's 36 lines, 54 for MPEG-2 start and stop blocks, are the compliance
// streams'.)
TEST(Mp3Huffman, WindowSwitchingRegionZeroOfTheMbpVariant) {
    zuft::Rng rng(24);
    Zuf16s mbp[12];
    for (int r = 0; r < 6; ++r) {
        mbp[2 * r] = static_cast<Zuf16s>(r < 3 ? 6 : 8);
        mbp[2 * r + 1] = static_cast<Zuf16s>(r);  // 0..5 extra band-windows
    }
    for (int row = 0; row < 6; ++row)
        for (int kind = 0; kind < 4; ++kind) {
            const Zuf16s *L = zuft::sfb_long(row), *S = zuft::sfb_short(row);
            Mp3SideInfo si = long_granule(250, 0, 0, 2, 24, 0, 0);
            si.window_switching_flag = 1;
            si.block_type = kind == 0 ? 1 : kind == 1 ? 3 : 2;
            si.mixed_block_flag = kind == 3;
            int r0 = kind < 2 ? L[8] : 3 * S[3];
            if (kind == 3) {
                // Short band-windows after the long part, in stream order: the band holding the
                // boundary's remaining windows first, then three windows of each next band.
                r0 = L[mbp[2 * row]];
                int k = 0;
                while (3 * S[k] <= r0) ++k;
                const int seq[5] = {k - 1, k - 1, k, k, k};
                for (int i = 0; i < mbp[2 * row + 1]; ++i) r0 += S[seq[i] + 1] - S[seq[i]];
            }
            check(rng, {r0, 500, 500}, si, zuft::make_header(row / 3, row % 3, 3), 0, 0, 2, _zuf_pMP3SfbTableLong,
                  _zuf_pMP3SfbTableShort, mbp);
        }
}

// Each case's (status, bits consumed, bound) and lines.
TEST(Mp3Huffman, EndOfPartThree) {
    const Mp3FrameHeader h = zuft::make_header(1, 0, 3);
    const auto& c = Mp3HuffmanCodes::get();
    auto result = [](const Decoded& d) { return std::tuple(d.status, d.bits, d.nz); };
    // big_values = 288: no room for a quadruple; the rest of part 3 (stuffing) is passed over.
    BitWriter bw;
    for (int i = 0; i < 288; ++i) c.put_pair(bw, 1, 0, 0);
    bw.put(0x3FF, 10);
    const int len = static_cast<int>(bw.size());
    EXPECT_EQ(result(run(bw.bytes(), 0, long_granule(288, 15, 5, 1, 1, 1, 0), h, len)), std::tuple(zufOk, len, 0));
    // A quadruple that straddles the end is dropped; the position still ends at hufSize.
    BitWriter bq;
    const int q1[4] = {1, 0, -1, 0}, q2[4] = {1, 1, 1, 1};
    c.put_quad(bq, 1, q1);
    const int end = static_cast<int>(bq.size()) + 3;  // part 3 ends inside the second
    c.put_quad(bq, 1, q2);
    Decoded d = run(bq.bytes(), 0, long_granule(0, 0, 0, 1, 1, 1, 1), h, end);
    EXPECT_EQ(result(d), std::tuple(zufOk, end, 3));
    std::vector<Zuf32s> want(576, 0);
    EXPECT_EQ(d.is, (want[0] = 1, want[2] = -1, want));
    // hufSize 0: all zero, nothing consumed.
    d = run(std::vector<uint8_t>(16, 0xFF), 5, long_granule(100, 3, 3, 7, 8, 9, 0), h, 0);
    EXPECT_EQ(result(d), std::tuple(zufOk, 0, 0));
    EXPECT_EQ(d.is, std::vector<Zuf32s>(576, 0));
}

struct Args {
    Mp3SideInfo si = long_granule(10, 2, 2, 1, 1, 1, 0);
    Mp3FrameHeader h = zuft::make_header(1, 0, 3);
    int off = 0, huf = 10;
};

TEST(Mp3Huffman, Statuses) {
    std::vector<uint8_t> zeros(64, 0), ones(64, 0xFF);
    Zuf8u *p = zeros.data(), *none = nullptr;
    int off = 0, nz = 0;
    Zuf32s is[576];
    Args a;
    a.si.part2_3_length = 100;
    Zuf16s mbp[12] = {};
    const Zuf16s *L = _zuf_pMP3SfbTableLong, *S = _zuf_pMP3SfbTableShort;
    zuft::expect_null_each(zufsHuffmanDecode_MP3_1u32s, &p, &off, is, &nz, &a.si, &a.h, 10);
    zuft::expect_null_each(zufsHuffmanDecodeSfb_MP3_1u32s, &p, &off, is, &nz, &a.si, &a.h, 10, L);
    zuft::expect_null_each(zufsHuffmanDecodeSfbMbp_MP3_1u32s, &p, &off, is, &nz, &a.si, &a.h, 10, L, S, mbp);
    EXPECT_EQ(zufsHuffmanDecode_MP3_1u32s(&none, &off, is, &nz, &a.si, &a.h, 10), zufErrNullPtr);
    // One fault (or two, for the order of the checks) per case; variant 0 plain, 2 Mbp.
    const struct {
        int variant;
        void (*fault)(Args&);
        zufResult want;
    } kCases[] = {
        {0, [](Args& x) { x.off = -1; }, zufErrBadArg},
        {0, [](Args& x) { x.huf = -1; }, zufErrBadArg},
        {0, [](Args& x) { x.huf = 101; }, zufErrBadArg},  // beyond part2_3_length
        {0, [](Args& x) { x.si.big_values = 289; }, zufErrMp3SideInfo},
        {0, [](Args& x) { x.si.block_type = 4; }, zufErrMp3SideInfo},
        {0, [](Args& x) { x.si.window_switching_flag = 2; }, zufErrMp3SideInfo},
        {0, [](Args& x) { x.si.count1table_select = 2; }, zufErrMp3SideInfo},
        {0, [](Args& x) { x.h.ID = 2; }, zufErrMp3FrameHeader},
        {0, [](Args& x) { x.h.layer = 3; }, zufErrMp3FrameHeader},
        {0, [](Args& x) { x.h.sampling_frequency = 3; }, zufErrMp3FrameHeader},
        {0, [](Args& x) { x.si.window_switching_flag = 1; }, zufErrMp3SideInfo},  // with block_type 0
        {0, [](Args& x) { x.si.region0_count = 15, x.si.region1_count = 6; }, zufErrMp3SideInfo},
        {0, [](Args& x) { x.si.region0_count = -1, x.si.region1_count = 0; }, zufErrMp3SideInfo},
        // A caller's counts whose sum does not fit an int are out of range, not wrapped into it.
        {0, [](Args& x) { x.si.region0_count = INT_MAX, x.si.region1_count = INT_MAX; }, zufErrMp3SideInfo},
        {2, [](Args& x) { x.si.region0_count = 1, x.si.region1_count = INT_MAX; }, zufErrMp3SideInfo},
        // The Mbp variant checks ID before big_values and layer after block_type, and reports
        // count1table_select and hufSize with zufErrMp3SideInfo.
        {2, [](Args& x) { x.h.ID = 3, x.si.big_values = 300; }, zufErrMp3FrameHeader},
        {2, [](Args& x) { x.si.big_values = 300; }, zufErrMp3SideInfo},
        {2, [](Args& x) { x.si.block_type = 3, x.h.layer = 2; }, zufErrMp3FrameHeader},  // type 3 taken as 0
        {2, [](Args& x) { x.huf = 101; }, zufErrMp3SideInfo},
        {2, [](Args& x) { x.huf = -1; }, zufErrMp3SideInfo},
        {2, [](Args& x) { x.si.count1table_select = 3; }, zufErrMp3SideInfo},
    };
    for (size_t i = 0; i < std::size(kCases); ++i) {
        Args x = a;
        kCases[i].fault(x);
        p = zeros.data();
        const zufResult st = kCases[i].variant
                                 ? zufsHuffmanDecodeSfbMbp_MP3_1u32s(&p, &x.off, is, &nz, &x.si, &x.h, x.huf, L, S, mbp)
                                 : zufsHuffmanDecode_MP3_1u32s(&p, &x.off, is, &nz, &x.si, &x.h, x.huf);
        EXPECT_EQ(st, kCases[i].want) << "case " << i;
        EXPECT_EQ(p, zeros.data()) << "case " << i;  // no argument check moves the stream
    }
    // table_select is checked just before its region: region 0 is already decoded (all-one
    // bits: table 1's code '1' is (0, 0)).
    p = ones.data();
    a.si.region0_count = a.si.region1_count = 0;  // region 0 = lines 0..3, region 1 = 4..7
    a.si.table_select[1] = 32;
    std::fill(is, is + 576, 9);
    EXPECT_EQ(zufsHuffmanDecode_MP3_1u32s(&p, &off, is, &nz, &a.si, &a.h, 40), zufErrMp3SideInfo);
    EXPECT_EQ(is[0] | is[3], 0);
    EXPECT_EQ(is[4], 9);
    // Big values that take more bits than hufSize: zufErrRange.
    p = zeros.data();
    a.si.table_select[0] = a.si.table_select[1] = a.si.table_select[2] = 15;
    EXPECT_EQ(zufsHuffmanDecode_MP3_1u32s(&p, &off, is, &nz, &a.si, &a.h, 8), zufErrRange);
}

}  // namespace
