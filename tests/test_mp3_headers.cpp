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
    // The widths of ID .. emphasis, the record's first twelve fields, after the 12-bit sync word
    // (ISO/IEC 11172-3 2.4.1.3); crc_check follows when protection_bit is 0.
    const int kWidths[12] = {1, 2, 1, 4, 2, 1, 1, 2, 2, 1, 1, 2};
    zuft::Rng rng(11);
    for (int rep = 0; rep < 200; ++rep) {
        uint8_t b[8];
        for (auto& v : b) v = static_cast<uint8_t>(rng.u32());
        const uint32_t word = uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | b[3];
        Zuf32s want[13];
        Mp3FrameHeader got;
        std::memset(want, 0x55, sizeof want);  // crc_check is written only with a CRC word
        std::memset(&got, 0x55, sizeof got);
        for (int f = 0, pos = 20; f < 12; ++f)
            want[f] = static_cast<Zuf32s>(word >> (pos -= kWidths[f])) & ((1 << kWidths[f]) - 1);
        const bool crc = (b[1] & 1) == 0;
        if (crc) want[12] = b[4] << 8 | b[5];
        Zuf8u* p = b;
        ASSERT_EQ(zufsUnpackFrameHeader_MP3(&p, &got), zufOk);
        EXPECT_EQ(std::memcmp(&got, want, sizeof want), 0) << rep;
        EXPECT_EQ(p, b + (crc ? 6 : 4));
    }
    uint8_t b[8] = {0xFF, 0xFB, 0x90, 0x64};
    Zuf8u *p = b, *none = nullptr;
    Mp3FrameHeader h;
    zuft::expect_null_each(zufsUnpackFrameHeader_MP3, &p, &h);
    EXPECT_EQ(zufsUnpackFrameHeader_MP3(&none, &h), zufErrNullPtr);
    EXPECT_EQ(p, b);
}

// ---------------------------------------------------------------- side information

// Writes one granule of random valid side information (bad: switching with block_type 0) and
// returns the record the parser must leave in one filled with 0x33 bytes: what the stream does not
// carry keeps 0x33333333, the implicit region counts of switching granules are set. The fields
// in stream order as (index in the record's 18 words, width): part2_3_length, big_values,
// global_gain, scalefac_compress, window_switching_flag, then block_type, mixed_block_flag,
// table_select[0..1], subblock_gain[0..2] or table_select[0..2], region0_count, region1_count,
// then preflag (MPEG-1), scalefac_scale, count1table_select.
Mp3SideInfo random_granule(zuft::Rng& rng, bool mpeg1, BitWriter& bw, bool bad = false) {
    Zuf32s g[18];
    std::memset(g, 0x33, sizeof g);
    const int sw = bad || rng.range(0, 1);
    std::vector<std::pair<int, int>> f = {{0, 12}, {1, 9}, {2, 8}, {3, mpeg1 ? 4 : 9}, {4, 1}};
    if (sw)
        f.insert(f.end(), {{5, 2}, {6, 1}, {7, 5}, {8, 5}, {10, 3}, {11, 3}, {12, 3}});
    else
        f.insert(f.end(), {{7, 5}, {8, 5}, {9, 5}, {13, 4}, {14, 3}});
    if (mpeg1) f.push_back({15, 1});
    f.insert(f.end(), {{16, 1}, {17, 1}});
    for (auto [i, bits] : f) {
        g[i] = i == 1   ? rng.range(0, 288)
               : i == 4 ? sw
               : i == 5 ? (bad ? 0 : rng.range(1, 3))
                        : rng.range(0, (1 << bits) - 1);
        bw.put(static_cast<uint32_t>(g[i]), bits);
    }
    if (sw)
        g[13] = (g[5] == 2 && !g[6]) ? 8 : 7, g[14] = 20 - g[13];
    else
        g[5] = g[6] = 0;
    Mp3SideInfo si;
    std::memcpy(&si, g, sizeof si);
    return si;
}

// Every layout; every tenth frame of several granules has granule 1 switching windows with
// block_type 0, where parsing stops with nothing written after it.
TEST(Mp3SideInfo, RoundTripEveryLayoutAndStopAtABadGranule) {
    zuft::Rng rng(12);
    for (int id = 0; id <= 1; ++id)
        for (int mode : {0, 1, 2, 3})
            for (int rep = 0; rep < 40; ++rep) {
                const bool mpeg1 = id == 1;
                const int nch = mode == 3 ? 1 : 2, n = (mpeg1 ? 2 : 1) * nch;
                const int priv_bits = mpeg1 ? (nch == 1 ? 5 : 3) : nch;
                const bool bad = rep % 10 == 9 && n > 1;
                BitWriter bw;
                const int mdb = rng.range(0, mpeg1 ? 511 : 255), priv = rng.range(0, (1 << priv_bits) - 1);
                bw.put(mdb, mpeg1 ? 9 : 8);
                bw.put(priv, priv_bits);
                int scfsi[8] = {};
                for (int k = 0; mpeg1 && k < 4 * nch; ++k) bw.put(scfsi[k] = rng.range(0, 1), 1);
                Mp3SideInfo want[4], got[4];
                std::memset(want, 0x33, sizeof want);
                std::memset(got, 0x33, sizeof got);
                for (int i = 0; i < n; ++i) want[i] = random_granule(rng, mpeg1, bw, bad && i == 1);
                const size_t bytes_used = mpeg1 ? (nch == 1 ? 17 : 32) : (nch == 1 ? 9 : 17);
                ASSERT_EQ(bw.size(), 8 * bytes_used);
                if (bad) std::memset(want + 2, 0x33, 2 * sizeof(Mp3SideInfo));
                auto bytes = bw.bytes();
                Zuf8u* p = bytes.data();
                int got_mdb = -1, got_priv = -1, got_scfsi[8];
                const Mp3FrameHeader h = zuft::make_header(id, 0, mode);
                EXPECT_EQ(zufsUnpackSideInfo_MP3(&p, got, &got_mdb, &got_priv, got_scfsi, &h),
                          bad ? zufErrMp3SideInfo : zufOk);
                EXPECT_EQ(std::memcmp(got, want, sizeof *got), 0) << id << " " << mode << " " << rep;
                EXPECT_EQ(std::memcmp(got + 2, want + 2, 2 * sizeof *got), 0) << id << " " << mode << " " << rep;
                EXPECT_EQ(bad ? got[1].block_type : std::memcmp(got + 1, want + 1, sizeof *got), 0);
                if (bad) continue;
                EXPECT_EQ(p, bytes.data() + bytes_used);
                EXPECT_EQ(got_mdb, mdb);
                EXPECT_EQ(got_priv, priv);
                for (int k = 0; mpeg1 && k < 4 * nch; ++k) EXPECT_EQ(got_scfsi[k], scfsi[k]);
            }
}

TEST(Mp3SideInfo, Statuses) {
    uint8_t b[40] = {};
    Zuf8u *p = b, *none = nullptr;
    Mp3SideInfo si[4];
    int mdb, priv, scfsi[8];
    Mp3FrameHeader h = zuft::make_header(1, 0, 0);
    zuft::expect_null_each(zufsUnpackSideInfo_MP3, &p, si, &mdb, &priv, scfsi, &h);
    EXPECT_EQ(zufsUnpackSideInfo_MP3(&none, si, &mdb, &priv, scfsi, &h), zufErrNullPtr);
    for (auto [field, value] :
         {std::pair{&Mp3FrameHeader::ID, 2}, {&Mp3FrameHeader::layer, 2}, {&Mp3FrameHeader::mode, 4}}) {
        Mp3FrameHeader wrong = h;
        wrong.*field = value;
        EXPECT_EQ(zufsUnpackSideInfo_MP3(&p, si, &mdb, &priv, scfsi, &wrong), zufErrMp3FrameHeader);
    }
    EXPECT_EQ(p, b);  // argument checks move nothing
}

// ---------------------------------------------------------------- scale factors

// slen1..slen4, the table row and preflag of ISO/IEC 13818-3 2.4.3.2 for scalefac_compress c.
int mpeg2_slen(int c, bool is_right, int* slen, int* preflag) {
    const int i = c >> 1, d = c - 400, e = c - 500, f = i - 180, g = i - 244;
    *preflag = !is_right && c >= 500;
    int table;
    if (!is_right) {
        table = c < 400 ? 0 : c < 500 ? 1 : 2;
        const int t[3][4] = {{(c >> 4) / 5, (c >> 4) % 5, (c % 16) >> 2, c % 4},
                             {(d >> 2) / 5, (d >> 2) % 5, d % 4, 0},
                             {e / 3, e % 3, 0, 0}};
        std::copy(t[table], t[table] + 4, slen);
    } else {
        table = i < 180 ? 3 : i < 244 ? 4 : 5;
        const int t[3][4] = {{i / 36, (i % 36) / 6, i % 6, 0}, {f >> 4, (f % 16) >> 2, f % 4, 0}, {g / 3, g % 3, 0, 0}};
        std::copy(t[table - 3], t[table - 3] + 4, slen);
    }
    return table;
}

// Part 2 of one MPEG-2 granule written partition by partition in stream order after `start` zero
// bits (ISO/IEC 13818-3 2.4.3.2: the illegal intensity position of the right channel stored
// negated): the entries in stream order, then zeros for the last band; the rest stays untouched.
// (MPEG-1 part 2, scfsi included, is the compliance streams'.)
TEST(Mp3ScaleFactors, Mpeg2EveryCompressionBlockKindAndChannel) {
    zuft::Rng rng(16);
    for (int mode_ext = 0; mode_ext < 4; ++mode_ext)
        for (int ch = 0; ch < 2; ++ch)
            for (int kind = 0; kind < 3; ++kind)
                for (int sfc = 0; sfc < 512; sfc += 1 + (sfc % 7)) {
                    const Mp3FrameHeader h = zuft::make_header(0, 1, 1, mode_ext);
                    const bool is_right = (mode_ext & 1) && ch == 1;
                    int slen[4], preflag;
                    const int* parts = zuft::kNrOfSfb[mpeg2_slen(sfc, is_right, slen, &preflag)][kind];
                    Mp3SideInfo g = zuft::make_side_info();
                    g.scalefac_compress = sfc;
                    g.window_switching_flag = kind != 0;
                    g.block_type = kind == 0 ? 0 : 2;
                    g.mixed_block_flag = kind == 2 ? 3 : 0;  // only the low bit counts; it is written back
                    g.preflag = 5;
                    const int start = rng.range(0, 7);
                    BitWriter bw;
                    bw.put(0, start);
                    std::vector<Zuf8s> want;
                    for (int k = 0; k < 4; ++k)
                        for (int n = 0; n < parts[k]; ++n) {
                            // The largest value often: the illegal position in the intensity right channel.
                            const int max = (1 << slen[k]) - 1;
                            const int v = rng.range(0, 3) == 0 ? max : rng.range(0, max);
                            bw.put(v, slen[k]);
                            want.push_back(static_cast<Zuf8s>(is_right && v == max ? -v : v));
                        }
                    const long bits = static_cast<long>(bw.size());
                    bw.put(0x3C, 8);
                    want.resize(want.size() + 3, 0);
                    want.resize(40, 99);
                    auto bytes = bw.bytes();
                    Zuf8u* p = bytes.data();
                    int off = start, scfsi[4] = {};
                    std::vector<Zuf8s> sf(40, 99);
                    ASSERT_EQ(zufsUnpackScaleFactors_MP3_1u8s(&p, &off, sf.data(), &g, scfsi, &h, 0, ch), zufOk);
                    EXPECT_EQ(8 * (p - bytes.data()) + off, bits) << kind << " " << sfc;
                    EXPECT_EQ(g.preflag, preflag);
                    EXPECT_EQ(g.mixed_block_flag, kind == 2 ? 1 : 0);
                    ASSERT_EQ(sf, want) << "kind " << kind << " sfc " << sfc << " ch " << ch;
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

// The records are the 32-bit ABI on every target (the tests above read them as arrays of words).
static_assert(sizeof(Mp3FrameHeader) == 52 && sizeof(Mp3SideInfo) == 72 && sizeof(Mp3BitReservoir) == 8);

}  // namespace
