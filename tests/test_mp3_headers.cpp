// MP3 frame header, side information, scale factors and bit reservoir set-up against hand-built
// bit streams written from the syntax of ISO/IEC 11172-3 2.4.1 and ISO/IEC 13818-3 2.4.1.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "support/mp3_test_util.h"
#include "support/test_util.h"

namespace {

using zuft::BitWriter;

// ---------------------------------------------------------------- frame header

TEST(Mp3FrameHeader, FieldsAtTheirBitPositions) {
    zuft::Rng rng(11);
    for (int rep = 0; rep < 200; ++rep) {
        uint8_t b[8];
        for (auto& v : b) v = static_cast<uint8_t>(rng.u32());
        Zuf8u* p = b;
        Mp3FrameHeader h;
        std::memset(&h, 0x55, sizeof h);
        ASSERT_EQ(zufsUnpackFrameHeader_MP3(&p, &h), zufOk);
        EXPECT_EQ(h.ID, (b[1] >> 3) & 1);
        EXPECT_EQ(h.layer, (b[1] >> 1) & 3);
        EXPECT_EQ(h.protection_bit, b[1] & 1);
        EXPECT_EQ(h.bitrate_index, b[2] >> 4);
        EXPECT_EQ(h.sampling_frequency, (b[2] >> 2) & 3);
        EXPECT_EQ(h.padding_bit, (b[2] >> 1) & 1);
        EXPECT_EQ(h.private_bit, b[2] & 1);
        EXPECT_EQ(h.mode, b[3] >> 6);
        EXPECT_EQ(h.mode_extension, (b[3] >> 4) & 3);
        EXPECT_EQ(h.copyright, (b[3] >> 3) & 1);
        EXPECT_EQ(h.original_copy, (b[3] >> 2) & 1);
        EXPECT_EQ(h.emphasis, b[3] & 3);
        if (b[1] & 1) {
            EXPECT_EQ(p, b + 4);
            EXPECT_EQ(h.crc_check, 0x55555555);  // not written without a CRC word
        } else {
            EXPECT_EQ(p, b + 6);
            EXPECT_EQ(h.crc_check, (b[4] << 8) | b[5]);
        }
    }
}

TEST(Mp3FrameHeader, NullPointers) {
    uint8_t b[8] = {0xFF, 0xFB, 0x90, 0x64};
    Zuf8u* p = b;
    Zuf8u* none = nullptr;
    Mp3FrameHeader h;
    EXPECT_EQ(zufsUnpackFrameHeader_MP3(nullptr, &h), zufErrNullPtr);
    EXPECT_EQ(zufsUnpackFrameHeader_MP3(&none, &h), zufErrNullPtr);
    EXPECT_EQ(zufsUnpackFrameHeader_MP3(&p, nullptr), zufErrNullPtr);
    EXPECT_EQ(p, b);
}

// ---------------------------------------------------------------- side information

// Random valid side information of one granule and channel.
Mp3SideInfo random_granule(zuft::Rng& rng, bool mpeg1) {
    Mp3SideInfo g = zuft::make_side_info();
    g.part2_3_length = rng.range(0, 4095);
    g.big_values = rng.range(0, 288);
    g.global_gain = rng.range(0, 255);
    g.scalefac_compress = rng.range(0, mpeg1 ? 15 : 511);
    g.window_switching_flag = rng.range(0, 1);
    if (g.window_switching_flag) {
        g.block_type = rng.range(1, 3);
        g.mixed_block_flag = rng.range(0, 1);
        g.table_select[0] = rng.range(0, 31);
        g.table_select[1] = rng.range(0, 31);
        for (int& s : g.subblock_gain) s = rng.range(0, 7);
        g.region0_count = (g.block_type == 2 && !g.mixed_block_flag) ? 8 : 7;
        g.region1_count = 20 - g.region0_count;
    } else {
        for (int& t : g.table_select) t = rng.range(0, 31);
        g.region0_count = rng.range(0, 15);
        g.region1_count = rng.range(0, 7);
    }
    g.preflag = mpeg1 ? rng.range(0, 1) : 0;
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
        bw.put(g.table_select[0], 5);
        bw.put(g.table_select[1], 5);
        for (int s : g.subblock_gain) bw.put(s, 3);
    } else {
        for (int t : g.table_select) bw.put(t, 5);
        bw.put(g.region0_count, 4);
        bw.put(g.region1_count, 3);
    }
    if (mpeg1) bw.put(g.preflag, 1);
    bw.put(g.scalefac_scale, 1);
    bw.put(g.count1table_select, 1);
}

void expect_same(const Mp3SideInfo& a, const Mp3SideInfo& b, bool mpeg1) {
    EXPECT_EQ(a.part2_3_length, b.part2_3_length);
    EXPECT_EQ(a.big_values, b.big_values);
    EXPECT_EQ(a.global_gain, b.global_gain);
    EXPECT_EQ(a.scalefac_compress, b.scalefac_compress);
    EXPECT_EQ(a.window_switching_flag, b.window_switching_flag);
    EXPECT_EQ(a.block_type, b.block_type);
    EXPECT_EQ(a.mixed_block_flag, b.mixed_block_flag);
    EXPECT_EQ(a.table_select[0], b.table_select[0]);
    EXPECT_EQ(a.table_select[1], b.table_select[1]);
    EXPECT_EQ(a.region0_count, b.region0_count);
    EXPECT_EQ(a.region1_count, b.region1_count);
    if (mpeg1) {
        EXPECT_EQ(a.preflag, b.preflag);
    }
    EXPECT_EQ(a.scalefac_scale, b.scalefac_scale);
    EXPECT_EQ(a.count1table_select, b.count1table_select);
}

TEST(Mp3SideInfo, RoundTripEveryLayout) {
    zuft::Rng rng(12);
    for (int id = 0; id <= 1; ++id)
        for (int mode : {0, 1, 2, 3})
            for (int rep = 0; rep < 40; ++rep) {
                const bool mpeg1 = id == 1;
                const int nch = mode == 3 ? 1 : 2, ngr = mpeg1 ? 2 : 1;
                BitWriter bw;
                const int mdb = rng.range(0, mpeg1 ? 511 : 255);
                const int priv = rng.range(0, (1 << (mpeg1 ? (nch == 1 ? 5 : 3) : nch)) - 1);
                bw.put(mdb, mpeg1 ? 9 : 8);
                bw.put(priv, mpeg1 ? (nch == 1 ? 5 : 3) : nch);
                int scfsi[8] = {};
                if (mpeg1)
                    for (int k = 0; k < 4 * nch; ++k) bw.put(scfsi[k] = rng.range(0, 1), 1);
                Mp3SideInfo want[4];
                for (int i = 0; i < ngr * nch; ++i) {
                    want[i] = random_granule(rng, mpeg1);
                    write_granule(bw, want[i], mpeg1);
                }
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
                for (int i = 0; i < ngr * nch; ++i) {
                    expect_same(got[i], want[i], mpeg1);
                    if (want[i].window_switching_flag) {
                        EXPECT_EQ(got[i].table_select[2], 0x33333333);  // not in the stream
                        for (int w = 0; w < 3; ++w) EXPECT_EQ(got[i].subblock_gain[w], want[i].subblock_gain[w]);
                    } else {
                        EXPECT_EQ(got[i].table_select[2], want[i].table_select[2]);
                        for (int w = 0; w < 3; ++w) EXPECT_EQ(got[i].subblock_gain[w], 0x33333333);
                    }
                    if (!mpeg1) {
                        EXPECT_EQ(got[i].preflag, 0x33333333);  // left for the scale factors
                    }
                }
            }
}

TEST(Mp3SideInfo, SwitchingWithBlockTypeZeroStopsAtOnce) {
    zuft::Rng rng(13);
    BitWriter bw;
    bw.put(0, 9);
    bw.put(0, 3);
    bw.put(0, 8);  // scfsi, two channels
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
    std::memset(got, 0x44, sizeof got);
    int mdb, priv, scfsi[8];
    const Mp3FrameHeader h = zuft::make_header(1, 0, 0);
    EXPECT_EQ(zufsUnpackSideInfo_MP3(&p, got, &mdb, &priv, scfsi, &h), zufErrMp3SideInfo);
    expect_same(got[0], first, true);
    EXPECT_EQ(got[1].block_type, 0);
    EXPECT_EQ(got[2].part2_3_length, 0x44444444);  // nothing after the faulty granule
    EXPECT_GT(p, bytes.data());
    EXPECT_LT(p, bytes.data() + 32);
}

TEST(Mp3SideInfo, Statuses) {
    uint8_t b[40] = {};
    Zuf8u* p = b;
    Zuf8u* none = nullptr;
    Mp3SideInfo si[4];
    int mdb, priv, scfsi[8];
    Mp3FrameHeader h = zuft::make_header(1, 0, 0);
    EXPECT_EQ(zufsUnpackSideInfo_MP3(nullptr, si, &mdb, &priv, scfsi, &h), zufErrNullPtr);
    EXPECT_EQ(zufsUnpackSideInfo_MP3(&none, si, &mdb, &priv, scfsi, &h), zufErrNullPtr);
    EXPECT_EQ(zufsUnpackSideInfo_MP3(&p, nullptr, &mdb, &priv, scfsi, &h), zufErrNullPtr);
    EXPECT_EQ(zufsUnpackSideInfo_MP3(&p, si, nullptr, &priv, scfsi, &h), zufErrNullPtr);
    EXPECT_EQ(zufsUnpackSideInfo_MP3(&p, si, &mdb, nullptr, scfsi, &h), zufErrNullPtr);
    EXPECT_EQ(zufsUnpackSideInfo_MP3(&p, si, &mdb, &priv, nullptr, &h), zufErrNullPtr);
    EXPECT_EQ(zufsUnpackSideInfo_MP3(&p, si, &mdb, &priv, scfsi, nullptr), zufErrNullPtr);
    h.ID = 2;
    EXPECT_EQ(zufsUnpackSideInfo_MP3(&p, si, &mdb, &priv, scfsi, &h), zufErrMp3FrameHeader);
    h.ID = 1;
    h.layer = 2;  // Layer II
    EXPECT_EQ(zufsUnpackSideInfo_MP3(&p, si, &mdb, &priv, scfsi, &h), zufErrMp3FrameHeader);
    h.layer = 1;
    h.mode = 4;
    EXPECT_EQ(zufsUnpackSideInfo_MP3(&p, si, &mdb, &priv, scfsi, &h), zufErrMp3FrameHeader);
    EXPECT_EQ(p, b);  // argument checks move nothing
}

// ---------------------------------------------------------------- scale factors, MPEG-1

constexpr int kSlen[2][16] = {{0, 0, 0, 0, 3, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4},
                              {0, 1, 2, 3, 0, 1, 2, 3, 1, 2, 3, 1, 2, 3, 2, 3}};

struct SfCase {
    std::vector<uint8_t> bytes;
    std::vector<int> want;  // expected entries (-1: must stay untouched)
    size_t bits = 0;
};

// Writes the MPEG-1 part 2 of one granule in stream order, band by band (2.4.1.7), and
// the entries expected in the library's layout.
SfCase mpeg1_case(zuft::Rng& rng, const Mp3SideInfo& g, const int* scfsi, int gr) {
    SfCase c;
    c.want.assign(40, -1);
    const int s1 = kSlen[0][g.scalefac_compress], s2 = kSlen[1][g.scalefac_compress];
    BitWriter bw;
    auto val = [&](int slen) {
        const int v = slen ? rng.range(0, (1 << slen) - 1) : 0;
        bw.put(v, slen);
        return v;
    };
    if (g.block_type == 2 && g.mixed_block_flag) {
        for (int b = 0; b < 8; ++b) c.want[b] = val(s1);
        for (int sfb = 3; sfb < 12; ++sfb)
            for (int w = 0; w < 3; ++w) c.want[8 + 3 * (sfb - 3) + w] = val(sfb < 6 ? s1 : s2);
        c.want[35] = c.want[36] = c.want[37] = 0;
    } else if (g.block_type == 2) {
        for (int sfb = 0; sfb < 12; ++sfb)
            for (int w = 0; w < 3; ++w) c.want[3 * sfb + w] = val(sfb < 6 ? s1 : s2);
        c.want[36] = c.want[37] = c.want[38] = 0;
    } else {
        const int group_start[5] = {0, 6, 11, 16, 21};
        for (int grp = 0; grp < 4; ++grp) {
            if (gr == 1 && scfsi[grp]) continue;
            for (int b = group_start[grp]; b < group_start[grp + 1]; ++b) c.want[b] = val(b < 11 ? s1 : s2);
        }
        c.want[21] = 0;
    }
    c.bits = bw.size();
    bw.put(0xA5, 8);  // whatever follows part 2
    c.bytes = bw.bytes();
    return c;
}

TEST(Mp3ScaleFactors, Mpeg1EveryBlockKindAndCompression) {
    zuft::Rng rng(14);
    const Mp3FrameHeader h = zuft::make_header(1, 0, 0);
    for (int kind = 0; kind < 3; ++kind)
        for (int sfc = 0; sfc < 16; ++sfc)
            for (int start_off = 0; start_off < 8; start_off += 3) {
                Mp3SideInfo g = zuft::make_side_info();
                g.scalefac_compress = sfc;
                g.window_switching_flag = kind != 0;
                g.block_type = kind == 0 ? 0 : 2;
                g.mixed_block_flag = kind == 2;
                int scfsi[4] = {1, 1, 1, 1};  // ignored in granule 0
                SfCase c = mpeg1_case(rng, g, scfsi, 0);
                // Shift the case by start_off bits.
                BitWriter bw;
                bw.put(0, start_off);
                for (size_t i = 0; i < c.bits + 8; ++i) bw.put((c.bytes[i / 8] >> (7 - i % 8)) & 1, 1);
                auto bytes = bw.bytes();
                Zuf8u* p = bytes.data();
                int off = start_off;
                Zuf8s sf[40];
                std::memset(sf, 99, sizeof sf);
                ASSERT_EQ(zufsUnpackScaleFactors_MP3_1u8s(&p, &off, sf, &g, scfsi, &h, 0, 0), zufOk);
                EXPECT_EQ(8 * (p - bytes.data()) + off, static_cast<long>(start_off + c.bits)) << kind << " " << sfc;
                for (int i = 0; i < 40; ++i)
                    EXPECT_EQ(sf[i], c.want[i] < 0 ? 99 : c.want[i])
                        << "kind " << kind << " sfc " << sfc << " entry " << i;
            }
}

TEST(Mp3ScaleFactors, Mpeg1ScfsiReusesGranuleZeroGroups) {
    zuft::Rng rng(15);
    const Mp3FrameHeader h = zuft::make_header(1, 1, 3);
    for (int mask = 0; mask < 16; ++mask) {
        Mp3SideInfo g = zuft::make_side_info();
        g.scalefac_compress = 15;  // slen 4 and 3
        int scfsi[4] = {mask & 1, (mask >> 1) & 1, (mask >> 2) & 1, (mask >> 3) & 1};
        SfCase c = mpeg1_case(rng, g, scfsi, 1);
        Zuf8s sf[40];
        for (int i = 0; i < 40; ++i) sf[i] = static_cast<Zuf8s>(60 + i);  // granule 0's values
        Zuf8u* p = c.bytes.data();
        int off = 0;
        ASSERT_EQ(zufsUnpackScaleFactors_MP3_1u8s(&p, &off, sf, &g, scfsi, &h, 1, 0), zufOk);
        EXPECT_EQ(8 * (p - c.bytes.data()) + off, static_cast<long>(c.bits));
        for (int i = 0; i < 40; ++i) EXPECT_EQ(sf[i], c.want[i] < 0 ? 60 + i : c.want[i]) << mask << " " << i;
    }
}

TEST(Mp3ScaleFactors, Mpeg1CompressZeroReadsNothing) {
    const Mp3FrameHeader h = zuft::make_header(1, 0, 3);
    Mp3SideInfo g = zuft::make_side_info();
    uint8_t b[8] = {0xFF, 0xFF, 0xFF, 0xFF};
    Zuf8u* p = b;
    int off = 5, scfsi[4] = {};
    Zuf8s sf[40];
    std::memset(sf, 7, sizeof sf);
    ASSERT_EQ(zufsUnpackScaleFactors_MP3_1u8s(&p, &off, sf, &g, scfsi, &h, 0, 0), zufOk);
    EXPECT_EQ(p, b);
    EXPECT_EQ(off, 5);
    for (int i = 0; i < 22; ++i) EXPECT_EQ(sf[i], 0);
}

// ---------------------------------------------------------------- scale factors, MPEG-2

// nr_of_sfb_block of ISO/IEC 13818-3 2.4.3.2, [table][long, short, mixed][part].
constexpr int kNrOfSfb[6][3][4] = {
    {{6, 5, 5, 5}, {9, 9, 9, 9}, {6, 9, 9, 9}},       {{6, 5, 7, 3}, {9, 9, 12, 6}, {6, 9, 12, 6}},
    {{11, 10, 0, 0}, {18, 18, 0, 0}, {15, 18, 0, 0}}, {{7, 7, 7, 0}, {12, 12, 12, 0}, {6, 15, 12, 0}},
    {{6, 6, 6, 3}, {12, 9, 9, 6}, {6, 12, 9, 6}},     {{8, 8, 5, 0}, {15, 12, 9, 0}, {6, 18, 9, 0}},
};

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
                    g.mixed_block_flag = kind == 2;
                    g.preflag = 5;
                    BitWriter bw;
                    std::vector<int> want;
                    for (int k = 0; k < 4; ++k)
                        for (int n = 0; n < kNrOfSfb[table][kind][k]; ++n) {
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
                    ASSERT_EQ(want.size(), kind == 0 ? 21u : kind == 1 ? 36u : 33u);
                    for (size_t i = 0; i < want.size(); ++i) ASSERT_EQ(sf[i], want[i]) << sfc << " entry " << i;
                    for (size_t i = want.size(); i < want.size() + 3; ++i) EXPECT_EQ(sf[i], 0);
                    EXPECT_EQ(sf[want.size() + 3], 77);
                }
}

TEST(Mp3ScaleFactors, Mpeg2IntensityMarkerAndMixedFlagMask) {
    // Intensity right channel, table 3 with slen (4, 0, 0): sfc = 2 * 144 gives i = 144 -> 4, 0, 0.
    const Mp3FrameHeader h = zuft::make_header(0, 0, 1, 1);
    Mp3SideInfo g = zuft::make_side_info();
    g.scalefac_compress = 288;
    g.window_switching_flag = 1;
    g.block_type = 2;
    g.mixed_block_flag = 3;  // only the low bit counts, and it is written back
    BitWriter bw;
    for (int n = 0; n < 6; ++n) bw.put(n == 2 ? 15 : n, 4);
    auto bytes = bw.bytes();
    Zuf8u* p = bytes.data();
    int off = 0, scfsi[4] = {};
    Zuf8s sf[40];
    ASSERT_EQ(zufsUnpackScaleFactors_MP3_1u8s(&p, &off, sf, &g, scfsi, &h, 0, 1), zufOk);
    EXPECT_EQ(g.mixed_block_flag, 1);
    EXPECT_EQ(sf[2], -15);
    EXPECT_EQ(sf[3], 3);
    EXPECT_EQ(sf[6], 0);  // slen 0 parts: legal position 0
}

TEST(Mp3ScaleFactors, Statuses) {
    uint8_t b[16] = {};
    Zuf8u* p = b;
    Zuf8u* none = nullptr;
    int off = 0, scfsi[4] = {};
    Zuf8s sf[40];
    Mp3SideInfo g = zuft::make_side_info();
    Mp3FrameHeader h = zuft::make_header(1, 0, 0);
    EXPECT_EQ(zufsUnpackScaleFactors_MP3_1u8s(nullptr, &off, sf, &g, scfsi, &h, 0, 0), zufErrNullPtr);
    EXPECT_EQ(zufsUnpackScaleFactors_MP3_1u8s(&none, &off, sf, &g, scfsi, &h, 0, 0), zufErrNullPtr);
    EXPECT_EQ(zufsUnpackScaleFactors_MP3_1u8s(&p, nullptr, sf, &g, scfsi, &h, 0, 0), zufErrNullPtr);
    EXPECT_EQ(zufsUnpackScaleFactors_MP3_1u8s(&p, &off, nullptr, &g, scfsi, &h, 0, 0), zufErrNullPtr);
    EXPECT_EQ(zufsUnpackScaleFactors_MP3_1u8s(&p, &off, sf, nullptr, scfsi, &h, 0, 0), zufErrNullPtr);
    EXPECT_EQ(zufsUnpackScaleFactors_MP3_1u8s(&p, &off, sf, &g, nullptr, &h, 0, 0), zufErrNullPtr);
    EXPECT_EQ(zufsUnpackScaleFactors_MP3_1u8s(&p, &off, sf, &g, scfsi, nullptr, 0, 0), zufErrNullPtr);
    off = 8;
    EXPECT_EQ(zufsUnpackScaleFactors_MP3_1u8s(&p, &off, sf, &g, scfsi, &h, 0, 0), zufErrBadArg);
    off = 0;
    EXPECT_EQ(zufsUnpackScaleFactors_MP3_1u8s(&p, &off, sf, &g, scfsi, &h, 2, 0), zufErrBadArg);
    EXPECT_EQ(zufsUnpackScaleFactors_MP3_1u8s(&p, &off, sf, &g, scfsi, &h, 0, -1), zufErrBadArg);
    g.scalefac_compress = 16;
    EXPECT_EQ(zufsUnpackScaleFactors_MP3_1u8s(&p, &off, sf, &g, scfsi, &h, 0, 0), zufErrMp3SideInfo);
    h.ID = 0;
    g.scalefac_compress = 512;
    EXPECT_EQ(zufsUnpackScaleFactors_MP3_1u8s(&p, &off, sf, &g, scfsi, &h, 0, 0), zufErrMp3SideInfo);
    g.scalefac_compress = 100;
    h.mode_extension = 4;
    EXPECT_EQ(zufsUnpackScaleFactors_MP3_1u8s(&p, &off, sf, &g, scfsi, &h, 0, 0), zufErrMp3FrameHeader);
    EXPECT_EQ(p, b);
    EXPECT_EQ(off, 0);
}

// ---------------------------------------------------------------- bit reservoir

TEST(Mp3BitReservoir, CapacityFromTheFrameSize) {
    Mp3BitReservoir r = {123, 456};
    Mp3FrameHeader h = zuft::make_header(1, 0, 0);
    const int kbps[15] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    const int rates[3] = {44100, 48000, 32000};
    for (int sf = 0; sf < 3; ++sf)
        for (int bi = 0; bi < 15; ++bi) {
            h.sampling_frequency = sf;
            h.bitrate_index = bi;
            ASSERT_EQ(zufsBitReservoirInit_MP3(&r, &h), zufOk);
            const int bits = 8 * (144000 * kbps[bi] / rates[sf]);
            int cap = 7680 - (bits < 7680 ? bits : 7680);
            if (cap > 4088) cap = 4088;
            EXPECT_EQ(r.bitsRemaining, 0);
            EXPECT_EQ(r.maxBits, cap) << sf << " " << bi;
        }
    h.sampling_frequency = 0;
    h.bitrate_index = 9;  // 128 kbit/s at 44.1 kHz: 417 bytes
    zufsBitReservoirInit_MP3(&r, &h);
    EXPECT_EQ(r.maxBits, 4088);
    h.bitrate_index = 14;  // 1044 bytes: no room
    zufsBitReservoirInit_MP3(&r, &h);
    EXPECT_EQ(r.maxBits, 0);
    h.bitrate_index = 0;  // free format
    zufsBitReservoirInit_MP3(&r, &h);
    EXPECT_EQ(r.maxBits, 4088);

    EXPECT_EQ(zufsBitReservoirInit_MP3(nullptr, &h), zufErrNullPtr);
    EXPECT_EQ(zufsBitReservoirInit_MP3(&r, nullptr), zufErrNullPtr);
    h.ID = 0;
    EXPECT_EQ(zufsBitReservoirInit_MP3(&r, &h), zufErrMp3FrameHeader);
}

TEST(Mp3Records, LayoutIsTheThirtyTwoBitOne) {
    static_assert(sizeof(Mp3FrameHeader) == 52);
    static_assert(sizeof(Mp3SideInfo) == 72);
    static_assert(sizeof(Mp3BitReservoir) == 8);
    static_assert(sizeof(Mp3ScaleFactors) == 40);
#if defined(__i386__)
    static_assert(offsetof(Mp3FrameHeader, crc_check) == 48);
    static_assert(offsetof(Mp3SideInfo, table_select) == 28);
    static_assert(offsetof(Mp3SideInfo, subblock_gain) == 40);
    static_assert(offsetof(Mp3SideInfo, region0_count) == 52);
    static_assert(offsetof(Mp3SideInfo, preflag) == 60);
    static_assert(offsetof(Mp3SideInfo, count1table_select) == 68);
    static_assert(offsetof(Mp3BitReservoir, maxBits) == 4);
#endif
    SUCCEED();
}

}  // namespace
