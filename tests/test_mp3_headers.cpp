// MP3 frame header, side information, scale factors and bit reservoir set-up against hand-built
// bit streams written from the syntax of ISO/IEC 11172-3 2.4.1 and ISO/IEC 13818-3 2.4.1.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <utility>
#include <vector>

#include "support/mp3_test_util.h"
#include "support/test_util.h"

namespace {

using zuft::BitWriter;

// ---------------------------------------------------------------- frame header

TEST(Mp3FrameHeader, FieldsAtTheirBitPositionsAndStatuses) {
    using H = Mp3FrameHeader;
    // Each field, its lowest bit in the 32-bit header word and its width (ISO/IEC 11172-3 2.4.1.3).
    const struct {
        Zuf32s H::*field;
        int pos, bits;
    } kFields[] = {{&H::ID, 19, 1},
                   {&H::layer, 17, 2},
                   {&H::protection_bit, 16, 1},
                   {&H::bitrate_index, 12, 4},
                   {&H::sampling_frequency, 10, 2},
                   {&H::padding_bit, 9, 1},
                   {&H::private_bit, 8, 1},
                   {&H::mode, 6, 2},
                   {&H::mode_extension, 4, 2},
                   {&H::copyright, 3, 1},
                   {&H::original_copy, 2, 1},
                   {&H::emphasis, 0, 2}};
    zuft::Rng rng(11);
    for (int rep = 0; rep < 200; ++rep) {
        uint8_t b[8];
        for (auto& v : b) v = static_cast<uint8_t>(rng.u32());
        const uint32_t word = uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | b[3];
        H want, got;
        std::memset(&want, 0x55, sizeof want);  // crc_check is written only with a CRC word
        std::memset(&got, 0x55, sizeof got);
        for (const auto& f : kFields) want.*f.field = static_cast<Zuf32s>((word >> f.pos) & ((1u << f.bits) - 1));
        const bool crc = (b[1] & 1) == 0;
        if (crc) want.crc_check = b[4] << 8 | b[5];
        Zuf8u* p = b;
        ASSERT_EQ(zufsUnpackFrameHeader_MP3(&p, &got), zufOk);
        EXPECT_EQ(std::memcmp(&got, &want, sizeof want), 0) << rep;
        EXPECT_EQ(p, b + (crc ? 6 : 4));
    }
    uint8_t b[8] = {0xFF, 0xFB, 0x90, 0x64};
    Zuf8u *p = b, *none = nullptr;
    H h;
    zuft::expect_null_each(zufsUnpackFrameHeader_MP3, &p, &h);
    EXPECT_EQ(zufsUnpackFrameHeader_MP3(&none, &h), zufErrNullPtr);
    EXPECT_EQ(p, b);
}

// ---------------------------------------------------------------- side information

// Random valid side information of one granule and channel, as the parser must leave a record
// filled with 0x33 bytes: what the stream does not carry keeps 0x33333333.
Mp3SideInfo random_granule(zuft::Rng& rng, bool mpeg1) {
    Mp3SideInfo g;
    std::memset(&g, 0x33, sizeof g);
    g.part2_3_length = rng.range(0, 4095);
    g.big_values = rng.range(0, 288);
    g.global_gain = rng.range(0, 255);
    g.scalefac_compress = rng.range(0, mpeg1 ? 15 : 511);
    g.window_switching_flag = rng.range(0, 1);
    g.block_type = g.mixed_block_flag = 0;
    if (g.window_switching_flag) {
        g.block_type = rng.range(1, 3);
        g.mixed_block_flag = rng.range(0, 1);
        g.table_select[0] = rng.range(0, 31);
        g.table_select[1] = rng.range(0, 31);
        for (auto& s : g.subblock_gain) s = rng.range(0, 7);
        g.region0_count = (g.block_type == 2 && !g.mixed_block_flag) ? 8 : 7;
        g.region1_count = 20 - g.region0_count;
    } else {
        for (auto& t : g.table_select) t = rng.range(0, 31);
        g.region0_count = rng.range(0, 15);
        g.region1_count = rng.range(0, 7);
    }
    if (mpeg1) g.preflag = rng.range(0, 1);
    g.scalefac_scale = rng.range(0, 1);
    g.count1table_select = rng.range(0, 1);
    return g;
}

void write_granule(BitWriter& bw, const Mp3SideInfo& g, bool mpeg1) {
    bw.put(g.part2_3_length, 12);
    bw.put(g.big_values, 9);
    bw.put(g.global_gain, 8);
    bw.put(g.scalefac_compress, mpeg1 ? 4 : 9);
    bw.put(g.window_switching_flag, 1);
    if (g.window_switching_flag) {
        bw.put(g.block_type, 2);
        bw.put(g.mixed_block_flag, 1);
        for (int r = 0; r < 2; ++r) bw.put(g.table_select[r], 5);
        for (auto s : g.subblock_gain) bw.put(s, 3);
    } else {
        for (auto t : g.table_select) bw.put(t, 5);
        bw.put(g.region0_count, 4);
        bw.put(g.region1_count, 3);
    }
    if (mpeg1) bw.put(g.preflag, 1);
    bw.put(g.scalefac_scale, 1);
    bw.put(g.count1table_select, 1);
}

TEST(Mp3SideInfo, RoundTripEveryLayout) {
    zuft::Rng rng(12);
    for (int id = 0; id <= 1; ++id)
        for (int mode : {0, 1, 2, 3})
            for (int rep = 0; rep < 40; ++rep) {
                const bool mpeg1 = id == 1;
                const int nch = mode == 3 ? 1 : 2, ngr = mpeg1 ? 2 : 1;
                const int priv_bits = mpeg1 ? (nch == 1 ? 5 : 3) : nch;
                BitWriter bw;
                const int mdb = rng.range(0, mpeg1 ? 511 : 255), priv = rng.range(0, (1 << priv_bits) - 1);
                bw.put(mdb, mpeg1 ? 9 : 8);
                bw.put(priv, priv_bits);
                int scfsi[8] = {};
                for (int k = 0; mpeg1 && k < 4 * nch; ++k) bw.put(scfsi[k] = rng.range(0, 1), 1);
                Mp3SideInfo want[4];
                for (int i = 0; i < ngr * nch; ++i) write_granule(bw, want[i] = random_granule(rng, mpeg1), mpeg1);
                const size_t expected_bytes = mpeg1 ? (nch == 1 ? 17 : 32) : (nch == 1 ? 9 : 17);
                ASSERT_EQ(bw.size(), 8 * expected_bytes);
                auto bytes = bw.bytes();
                Zuf8u* p = bytes.data();
                Mp3SideInfo got[4];
                std::memset(got, 0x33, sizeof got);
                int got_mdb = -1, got_priv = -1, got_scfsi[8];
                const Mp3FrameHeader h = zuft::make_header(id, 0, mode);
                ASSERT_EQ(zufsUnpackSideInfo_MP3(&p, got, &got_mdb, &got_priv, got_scfsi, &h), zufOk);
                EXPECT_EQ(p, bytes.data() + expected_bytes);
                EXPECT_EQ(got_mdb, mdb);
                EXPECT_EQ(got_priv, priv);
                for (int k = 0; mpeg1 && k < 4 * nch; ++k) EXPECT_EQ(got_scfsi[k], scfsi[k]);
                EXPECT_EQ(std::memcmp(got, want, sizeof(Mp3SideInfo) * ngr * nch), 0) << id << " " << mode;
            }
}

TEST(Mp3SideInfo, SwitchingWithBlockTypeZeroStopsAtOnceAndStatuses) {
    zuft::Rng rng(13);
    BitWriter bw;
    bw.put(0, 9 + 3 + 8);  // main_data_begin, private bits, scfsi of two channels
    Mp3SideInfo first = random_granule(rng, true);
    while (first.window_switching_flag) first = random_granule(rng, true);
    write_granule(bw, first, true);
    Mp3SideInfo bad = random_granule(rng, true);
    bad.window_switching_flag = 1;
    bad.block_type = 0;
    write_granule(bw, bad, true);
    for (int i = 0; i < 2; ++i) write_granule(bw, random_granule(rng, true), true);
    auto bytes = bw.bytes();
    Zuf8u* p = bytes.data();
    Mp3SideInfo got[4];
    std::memset(got, 0x33, sizeof got);
    int mdb, priv, scfsi[8];
    Mp3FrameHeader h = zuft::make_header(1, 0, 0);
    EXPECT_EQ(zufsUnpackSideInfo_MP3(&p, got, &mdb, &priv, scfsi, &h), zufErrMp3SideInfo);
    EXPECT_EQ(std::memcmp(&got[0], &first, sizeof first), 0);
    EXPECT_EQ(got[1].block_type, 0);
    EXPECT_EQ(got[2].part2_3_length, 0x33333333);  // nothing after the faulty granule
    EXPECT_GT(p, bytes.data());
    EXPECT_LT(p, bytes.data() + 32);

    p = bytes.data();
    Zuf8u* none = nullptr;
    zuft::expect_null_each(zufsUnpackSideInfo_MP3, &p, got, &mdb, &priv, scfsi, &h);
    EXPECT_EQ(zufsUnpackSideInfo_MP3(&none, got, &mdb, &priv, scfsi, &h), zufErrNullPtr);
    for (auto [field, value] :
         {std::pair{&Mp3FrameHeader::ID, 2}, {&Mp3FrameHeader::layer, 2}, {&Mp3FrameHeader::mode, 4}}) {
        Mp3FrameHeader wrong = h;
        wrong.*field = value;
        EXPECT_EQ(zufsUnpackSideInfo_MP3(&p, got, &mdb, &priv, scfsi, &wrong), zufErrMp3FrameHeader);
    }
    EXPECT_EQ(p, bytes.data());  // argument checks move nothing
}

// ---------------------------------------------------------------- scale factors, MPEG-1

// Part 2 of one MPEG-1 granule written band by band in stream order (2.4.1.7) after `start`
// zero bits, with the entries expected in the library's layout (-1: must stay untouched).
TEST(Mp3ScaleFactors, Mpeg1EveryBlockKindCompressionAndScfsi) {
    zuft::Rng rng(14);
    const Mp3FrameHeader h = zuft::make_header(1, 0, 0);
    for (int kind = 0; kind < 3; ++kind)
        for (int sfc = 0; sfc < 16; ++sfc)
            for (int start = 0; start < 8; start += 3) {
                // Granule 1 reuses granule 0's long-block groups whose scfsi bit is set.
                const int gr = start == 3, mask = (7 * sfc) % 16;
                int scfsi[4] = {mask & 1, (mask >> 1) & 1, (mask >> 2) & 1, mask >> 3};
                Mp3SideInfo g = zuft::make_side_info();
                g.scalefac_compress = sfc;
                g.window_switching_flag = kind != 0;
                g.block_type = kind == 0 ? 0 : 2;
                g.mixed_block_flag = kind == 2;
                const int s1 = zuft::kSlen[0][sfc], s2 = zuft::kSlen[1][sfc];
                std::vector<int> want(40, -1);
                BitWriter bw;
                bw.put(0, start);
                auto val = [&](int slen) {
                    const int v = slen ? rng.range(0, (1 << slen) - 1) : 0;
                    bw.put(v, slen);
                    return v;
                };
                if (kind == 2) {
                    for (int b = 0; b < 8; ++b) want[b] = val(s1);
                    for (int sfb = 3; sfb < 12; ++sfb)
                        for (int w = 0; w < 3; ++w) want[8 + 3 * (sfb - 3) + w] = val(sfb < 6 ? s1 : s2);
                    want[35] = want[36] = want[37] = 0;
                } else if (kind == 1) {
                    for (int sfb = 0; sfb < 12; ++sfb)
                        for (int w = 0; w < 3; ++w) want[3 * sfb + w] = val(sfb < 6 ? s1 : s2);
                    want[36] = want[37] = want[38] = 0;
                } else {
                    const int group_start[5] = {0, 6, 11, 16, 21};
                    for (int grp = 0; grp < 4; ++grp)
                        for (int b = group_start[grp]; b < group_start[grp + 1] && !(gr && scfsi[grp]); ++b)
                            want[b] = val(b < 11 ? s1 : s2);
                    want[21] = 0;
                }
                const long bits = static_cast<long>(bw.size());
                bw.put(0xA5, 8);  // whatever follows part 2
                auto bytes = bw.bytes();
                Zuf8u* p = bytes.data();
                int off = start;
                Zuf8s sf[40];
                std::memset(sf, 99, sizeof sf);
                ASSERT_EQ(zufsUnpackScaleFactors_MP3_1u8s(&p, &off, sf, &g, scfsi, &h, gr, 0), zufOk);
                EXPECT_EQ(8 * (p - bytes.data()) + off, bits) << kind << " " << sfc;
                for (int i = 0; i < 40; ++i)
                    EXPECT_EQ(sf[i], want[i] < 0 ? 99 : want[i]) << "kind " << kind << " sfc " << sfc << " entry " << i;
            }
}

// ---------------------------------------------------------------- scale factors, MPEG-2

// slen1..slen4 and the table row of ISO/IEC 13818-3 2.4.3.2 for scalefac_compress c.
void mpeg2_slen(int c, bool is_right, int* slen, int* table, int* preflag) {
    *preflag = 0;
    if (!is_right) {
        if (c < 400) {
            slen[0] = (c >> 4) / 5, slen[1] = (c >> 4) % 5, slen[2] = (c % 16) >> 2, slen[3] = c % 4, *table = 0;
        } else if (c < 500) {
            const int d = c - 400;
            slen[0] = (d >> 2) / 5, slen[1] = (d >> 2) % 5, slen[2] = d % 4, slen[3] = 0, *table = 1;
        } else {
            const int d = c - 500;
            slen[0] = d / 3, slen[1] = d % 3, slen[2] = slen[3] = 0, *table = 2, *preflag = 1;
        }
    } else {
        const int i = c >> 1;
        if (i < 180) {
            slen[0] = i / 36, slen[1] = (i % 36) / 6, slen[2] = (i % 36) % 6, slen[3] = 0, *table = 3;
        } else if (i < 244) {
            const int d = i - 180;
            slen[0] = d >> 4, slen[1] = (d % 16) >> 2, slen[2] = d % 4, slen[3] = 0, *table = 4;
        } else {
            const int d = i - 244;
            slen[0] = d / 3, slen[1] = d % 3, slen[2] = slen[3] = 0, *table = 5;
        }
    }
}

TEST(Mp3ScaleFactors, Mpeg2EveryCompressionBlockKindAndChannel) {
    zuft::Rng rng(16);
    for (int mode_ext = 0; mode_ext < 4; ++mode_ext)
        for (int ch = 0; ch < 2; ++ch)
            for (int kind = 0; kind < 3; ++kind)
                for (int sfc = 0; sfc < 512; sfc += 1 + (sfc % 7)) {
                    const Mp3FrameHeader h = zuft::make_header(0, 1, 1, mode_ext);
                    const bool is_right = (mode_ext & 1) && ch == 1;
                    int slen[4], table, preflag;
                    mpeg2_slen(sfc, is_right, slen, &table, &preflag);
                    Mp3SideInfo g = zuft::make_side_info();
                    g.scalefac_compress = sfc;
                    g.window_switching_flag = kind != 0;
                    g.block_type = kind == 0 ? 0 : 2;
                    g.mixed_block_flag = kind == 2 ? 3 : 0;  // only the low bit counts; it is written back
                    g.preflag = 5;
                    BitWriter bw;
                    std::vector<int> want;
                    for (int k = 0; k < 4; ++k)
                        for (int n = 0; n < zuft::kNrOfSfb[table][kind][k]; ++n) {
                            // Draw the largest value often: in the intensity right channel it is
                            // the illegal position, stored negated.
                            const int max = (1 << slen[k]) - 1;
                            const int v = rng.range(0, 3) == 0 ? max : rng.range(0, max);
                            bw.put(v, slen[k]);
                            want.push_back(is_right && v == max ? -v : v);
                        }
                    const size_t bits = bw.size();
                    bw.put(0x3C, 8);
                    auto bytes = bw.bytes();
                    Zuf8u* p = bytes.data();
                    int off = 0, scfsi[4] = {};
                    Zuf8s sf[40];
                    std::memset(sf, 77, sizeof sf);
                    ASSERT_EQ(zufsUnpackScaleFactors_MP3_1u8s(&p, &off, sf, &g, scfsi, &h, 0, ch), zufOk);
                    ASSERT_EQ(8 * (p - bytes.data()) + off, static_cast<long>(bits)) << sfc;
                    EXPECT_EQ(g.preflag, preflag);
                    EXPECT_EQ(g.mixed_block_flag, kind == 2 ? 1 : 0);
                    ASSERT_EQ(want.size(), kind == 0 ? 21u : kind == 1 ? 36u : 33u);
                    for (size_t i = 0; i < want.size(); ++i) ASSERT_EQ(sf[i], want[i]) << sfc << " entry " << i;
                    for (size_t i = want.size(); i < want.size() + 3; ++i) EXPECT_EQ(sf[i], 0);
                    EXPECT_EQ(sf[want.size() + 3], 77);
                }
}

TEST(Mp3ScaleFactors, Statuses) {
    uint8_t b[16] = {};
    Zuf8u *p = b, *none = nullptr;
    int off = 0, scfsi[4] = {};
    Zuf8s sf[40];
    const Mp3SideInfo g0 = zuft::make_side_info();
    const Mp3FrameHeader h0 = zuft::make_header(1, 0, 0);
    Mp3SideInfo g = g0;
    Mp3FrameHeader h = h0;
    zuft::expect_null_each(zufsUnpackScaleFactors_MP3_1u8s, &p, &off, sf, &g, scfsi, &h, 0, 0);
    EXPECT_EQ(zufsUnpackScaleFactors_MP3_1u8s(&none, &off, sf, &g, scfsi, &h, 0, 0), zufErrNullPtr);
    const struct {
        int off, gr, ch, id, sfc, mode_ext;
        zufResult want;
    } kCases[] = {{8, 0, 0, 1, 0, 0, zufErrBadArg},        {0, 2, 0, 1, 0, 0, zufErrBadArg},
                  {0, 0, -1, 1, 0, 0, zufErrBadArg},       {0, 0, 0, 1, 16, 0, zufErrMp3SideInfo},
                  {0, 0, 0, 0, 512, 0, zufErrMp3SideInfo}, {0, 0, 0, 0, 100, 4, zufErrMp3FrameHeader}};
    for (const auto& c : kCases) {
        g = g0, h = h0, off = c.off;
        h.ID = c.id, h.mode_extension = c.mode_ext, g.scalefac_compress = c.sfc;
        EXPECT_EQ(zufsUnpackScaleFactors_MP3_1u8s(&p, &off, sf, &g, scfsi, &h, c.gr, c.ch), c.want) << c.sfc;
        EXPECT_EQ(p, b);
        EXPECT_EQ(off, c.off);
    }
}

// ---------------------------------------------------------------- bit reservoir

TEST(Mp3BitReservoir, CapacityFromTheFrameSize) {
    Mp3BitReservoir r = {123, 456};
    Mp3FrameHeader h = zuft::make_header(1, 0, 0);
    const int kbps[15] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    const int rates[3] = {44100, 48000, 32000};
    for (int sf = 0; sf < 3; ++sf)
        for (int bi = 0; bi < 15; ++bi) {  // index 0, free format: no frame size, the largest capacity
            h.sampling_frequency = sf;
            h.bitrate_index = bi;
            ASSERT_EQ(zufsBitReservoirInit_MP3(&r, &h), zufOk);
            const int bits = 8 * (144000 * kbps[bi] / rates[sf]);
            EXPECT_EQ(r.bitsRemaining, 0);
            EXPECT_EQ(r.maxBits, std::min(4088, 7680 - std::min(bits, 7680))) << sf << " " << bi;
        }
    zuft::expect_null_each(zufsBitReservoirInit_MP3, &r, &h);
    h.ID = 0;
    EXPECT_EQ(zufsBitReservoirInit_MP3(&r, &h), zufErrMp3FrameHeader);
}

// The records are the 32-bit ABI on every target.
static_assert(sizeof(Mp3FrameHeader) == 52 && sizeof(Mp3SideInfo) == 72);
static_assert(sizeof(Mp3BitReservoir) == 8 && sizeof(Mp3ScaleFactors) == 40);
static_assert(offsetof(Mp3FrameHeader, crc_check) == 48 && offsetof(Mp3SideInfo, table_select) == 28);
static_assert(offsetof(Mp3SideInfo, subblock_gain) == 40 && offsetof(Mp3SideInfo, region0_count) == 52);
static_assert(offsetof(Mp3SideInfo, preflag) == 60 && offsetof(Mp3SideInfo, count1table_select) == 68);
static_assert(offsetof(Mp3BitReservoir, maxBits) == 4);

}  // namespace
