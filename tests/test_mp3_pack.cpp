// MP3 packing and Huffman encoding, against the library's own parsers (what is written parses
// back to the same records, scale factors and lines, ending where the bit counts say), against
// the bit writer and code tables of the test model (ISO/IEC 11172-3 Table 3-B.7, bit for bit),
// and whole frames against FFmpeg, mpg123 and the example decoder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "mp3/mp3_huff_encode.h"
#include "support/mp3_test_util.h"
#include "support/test_util.h"
#include "support/tool_run.h"

namespace {

using zuf::Mp3HuffmanChoice;
using zuft::BitWriter;
using zuft::Rng;
const auto& codes() { return zuft::Mp3HuffmanCodes::get(); }
const Zuf16s* L44 = zuft::sfb_long(3);

// Largest magnitude a table codes (0: none).
int max_value(int t) { return codes().linbits[t] ? 14 + (1 << codes().linbits[t]) : std::max(codes().size[t] - 1, 0); }
int bit(const Zuf8u* b, long i) { return (b[i >> 3] >> (7 - (i & 7))) & 1; }

// A frame's start from random bytes (sync word, ID, Layer III set; window switching with block_type
// 0 drawn again), parsed by the library and packed back: the same bytes.
TEST(Mp3Pack, HeaderAndSideInfoBackToTheirBytes) {
    Rng rng(2);
    for (int rep = 0; rep < 400; ++rep) {
        std::vector<Zuf8u> in(48), out(48, 0xAA);
        Mp3FrameHeader h;
        Mp3SideInfo si[4];
        int mdb, priv, scfsi[8] = {};
        Zuf8u *p, *q = out.data();
        do {
            for (auto& v : in) v = static_cast<Zuf8u>(rng.u32());
            in[0] = 0xFF, in[1] = static_cast<Zuf8u>(0xF2 | (rep & 1) << 3 | (in[1] & 1)), p = in.data();
            zufsUnpackFrameHeader_MP3(&p, &h);
        } while (zufsUnpackSideInfo_MP3(&p, si, &mdb, &priv, scfsi, &h) != zufOk);
        ASSERT_EQ(zufsPackFrameHeader_MP3(&h, &q), zufOk);
        ASSERT_EQ(zufsPackSideInfo_MP3(si, &q, mdb, priv, scfsi, &h), zufOk);
        const long n = p - in.data();
        EXPECT_TRUE(q - out.data() == n && std::equal(in.begin(), in.begin() + n, out.begin()) && out[n] == 0xAA)
            << rep;
        if (rep == 0) {  // window switching with block_type 0: refused
            si[0].window_switching_flag = 1, si[0].block_type = 0;
            EXPECT_EQ(zufsPackSideInfo_MP3(si, &q, 0, 0, scfsi, &h), zufErrMp3SideInfo);
        }
    }
}

// The widths of the scale factors come from the decoder: all ones read back as 2^slen - 1.
TEST(Mp3Pack, ScaleFactorsRoundTrip) {
    Rng rng(3);
    for (int rep = 0; rep < 600; ++rep) {
        const bool mpeg1 = rep & 1;
        const bool all = rep % 16 == 1;  // MPEG-1 granule 1, long blocks, every scfsi flag: nothing
        const int gr = all || rng.range(0, 1), ch = rng.range(0, 1), start = rng.range(0, 31);
        const Mp3FrameHeader h = zuft::make_header(mpeg1, 0, 1, rng.range(0, 3));
        Mp3SideInfo si = zuft::make_side_info(), si2;
        si.scalefac_compress = rng.range(0, mpeg1 ? 15 : 511), si.block_type = all ? 0 : rng.range(0, 1) * 2;
        si.mixed_block_flag = si.block_type ? rng.range(0, 1) : 0;
        int scfsi[4];
        for (auto& s : scfsi) s = all || rng.range(0, 1);
        Zuf8s widest[40] = {}, sf[40] = {}, got[40];
        std::vector<Zuf8u> ones(32, 0xFF), buf(32);
        for (auto& b : buf) b = static_cast<Zuf8u>(rng.u32());
        const std::vector<Zuf8u> before = buf;
        Zuf8u *p = ones.data(), *q = buf.data() + start / 8, *r = q;
        int o = 0, oq = start % 8, orr = oq;
        si2 = si;
        ASSERT_EQ(zufsUnpackScaleFactors_MP3_1u8s(&p, &o, widest, &si2, scfsi, &h, gr, ch), zufOk);
        const long bits = 8 * (p - ones.data()) + o;
        for (int k = 0; k < 40; ++k) {
            const int m = std::abs(widest[k]), v = rng.range(0, 5) ? rng.range(0, m) : m;
            sf[k] = static_cast<Zuf8s>(widest[k] < 0 && v == m ? -v : v);  // an illegal intensity position
        }
        std::memcpy(got, sf, sizeof sf);
        ASSERT_EQ(zufsPackScaleFactors_MP3_8s1u(sf, &q, &oq, &h, &si, scfsi, gr, ch), zufOk);
        const long end = 8 * (q - buf.data()) + oq;
        EXPECT_EQ(end - start, bits);
        EXPECT_EQ(si.preflag, si2.preflag);
        long wrong = 0;  // bits outside untouched, but the low ones of a last part byte cleared
        for (long i = 0; i < 8 * 32; ++i)
            wrong += (i < start || i >= end) &&
                     bit(buf.data(), i) != (bits && i >= end && i < (end + 7) / 8 * 8 ? 0 : bit(before.data(), i));
        EXPECT_EQ(wrong, 0) << rep;
        ASSERT_EQ(zufsUnpackScaleFactors_MP3_1u8s(&r, &orr, got, &si2, scfsi, &h, gr, ch), zufOk);
        EXPECT_EQ(std::memcmp(got, sf, sizeof sf), 0) << rep;
        EXPECT_EQ(8 * (r - buf.data()) + orr, end);
    }
}

// The table of line i by the region boundaries of ISO/IEC 11172-3 2.4.2.7 (i below 2 * big_values).
int table_of(const Mp3SideInfo& si, int i) {
    const bool sw = si.window_switching_flag && si.block_type;
    const int e0 = sw ? 36 : L44[si.region0_count + 1], e1 = sw ? 576 : L44[si.region0_count + si.region1_count + 2];
    return si.table_select[i < e0 ? 0 : i < e1 ? 1 : 2];
}

// Writes part 3 of (ix, si) at bit `start` of random bytes with `stuff` bits of stuffing, compares
// it with the test model's bits, decodes it and compares the lines and the end position. Returns
// the bits before the stuffing.
long check_part3(Rng& rng, const std::vector<Zuf32s>& ix, Mp3SideInfo si, int count1, int stuff, int start) {
    const Mp3FrameHeader h = zuft::make_header(1, 0, 3);
    BitWriter bw;
    for (int i = 0; i < 2 * si.big_values; i += 2)
        if (max_value(table_of(si, i)) > 0) codes().put_pair(bw, table_of(si, i), ix[i], ix[i + 1]);
    for (int i = 2 * si.big_values; i < 2 * si.big_values + count1; i += 4)
        codes().put_quad(bw, si.count1table_select, &ix[i]);
    const long data = static_cast<long>(bw.size());
    bw.put((1u << stuff) - 1, stuff);
    si.part2_3_length = static_cast<Zuf32s>(bw.size());
    const std::vector<uint8_t> want = bw.bytes();
    std::vector<Zuf8u> buf(4096);  // up to 288 pairs of 45 bits
    for (auto& v : buf) v = static_cast<Zuf8u>(rng.u32());
    Zuf8u *p = buf.data() + start / 8, *q = p;
    int o = start % 8, oq = o, nz;
    EXPECT_EQ(zufsHuffmanEncode_MP3_32s1u(ix.data(), &p, &o, &h, &si, count1, si.part2_3_length), zufOk);
    EXPECT_EQ(8 * (p - buf.data()) + o - start, si.part2_3_length);
    for (long i = 0; i < si.part2_3_length; ++i)
        if (bit(buf.data(), start + i) != bit(want.data(), i)) return ADD_FAILURE() << "bit " << i, -1;
    std::vector<Zuf32s> is(576);
    EXPECT_EQ(zufsHuffmanDecode_MP3_1u32s(&q, &oq, is.data(), &nz, &si, &h, si.part2_3_length), zufOk);
    EXPECT_TRUE(is == ix && q == p && oq == o);
    return data;
}

// Even cases: random side information (every table in every region, its extremes often, count1 A
// and B, stuffing). Odd cases: a spectrum falling from a peak, coded as the bit-count helper
// chooses; exactly its count must be written.
TEST(Mp3Pack, HuffmanAgainstModelAndDecoder) {
    Rng rng(4);
    const int kPeak[] = {0, 1, 2, 3, 4, 6, 7, 10, 14, 15, 16, 30, 300, 8191, 8206};
    for (int rep = 0; rep < 600; ++rep) {
        Mp3SideInfo si = zuft::make_side_info();
        si.window_switching_flag = rng.range(0, 3) == 0, si.block_type = si.window_switching_flag * rng.range(1, 3);
        si.big_values = rng.range(0, 288), si.count1table_select = rng.range(0, 1);
        si.region0_count = rng.range(0, 15), si.region1_count = rng.range(0, std::min(7, 20 - si.region0_count));
        for (auto& t : si.table_select) t = rng.range(0, 31);
        si.table_select[rep % 3] = rep / 2 % 32;
        std::vector<Zuf32s> ix(576, 0);
        int count1 = 4 * rng.range(0, (576 - 2 * si.big_values) / 4), bits = -1;
        if (rep % 2 == 0) {
            for (int i = 0, m; i < 2 * si.big_values; ++i)
                m = max_value(table_of(si, i)), ix[i] = rng.range(0, 3) ? rng.range(-m, m) : rng.range(0, 1) ? m : -m;
            for (int i = 2 * si.big_values; i < 2 * si.big_values + count1; ++i) ix[i] = rng.range(-1, 1);
        } else {
            const int peak = kPeak[rep / 2 % 15], top = rng.range(1, 576);
            for (int i = 0, m; i < top; ++i)
                m = peak * (top - i) / top, ix[i] = rng.range(0, 2) ? rng.range(-m, m) : rng.range(-1, 1) * (peak > 0);
            Mp3HuffmanChoice c;
            bits = zuf::ownsCountSpectralBits_MP3(ix.data(), L44, si.window_switching_flag, si.block_type, &c);
            si.big_values = c.big_values, si.region0_count = c.region0_count, si.region1_count = c.region1_count;
            si.count1table_select = c.count1table_select, count1 = c.count1;
            std::copy(c.table_select, c.table_select + 3, si.table_select);
            EXPECT_EQ(c.region_bits[0] + c.region_bits[1] + c.region_bits[2] + c.count1_bits, bits);
        }
        const long data = check_part3(rng, ix, si, count1, bits < 0 ? rng.range(0, 31) : 0, rng.range(0, 15));
        EXPECT_TRUE(bits < 0 || data == bits) << rep;
    }
}

// The table choice at every region length and offset, with magnitudes from 0 to past what any
// table codes (|INT32_MIN| included): the largest magnitude decides, wherever it lies.
TEST(Mp3Pack, TableChoiceFollowsTheLargestMagnitude) {
    Rng rng(12);
    const Zuf32s kBig[] = {14, 15, 16, 8206, 8207, 40000, INT32_MAX, INT32_MIN};
    for (int rep = 0; rep < 2000; ++rep) {
        std::vector<Zuf32s> ix(64);
        for (auto& v : ix) v = rng.range(-3, 3);
        const int begin = rng.range(0, 20), end = begin + 2 * rng.range(0, 22);
        const Zuf32s big = kBig[rep % 8];
        if (end > begin && rep % 3) ix[rng.range(begin, end - 1)] = rep % 2 ? big : (big == INT32_MIN ? big : -big);
        uint32_t m = 0;
        for (int i = begin; i < end; ++i)
            m = std::max(m, ix[i] < 0 ? 0u - static_cast<uint32_t>(ix[i]) : uint32_t(ix[i]));
        int bits;
        const int t = zuf::ownsChooseTable_MP3(ix.data(), begin, end, &bits);
        if (m > 8206) {
            EXPECT_TRUE(t == -1 && bits == 1 << 30) << rep;
        } else if (m == 0) {
            EXPECT_TRUE(t == 0 && bits == 0) << rep;
        } else {
            ASSERT_GE(t, 1) << rep;
            EXPECT_EQ(bits, zuf::ownsCountPairBits_MP3(ix.data(), begin, end, t)) << rep;
            EXPECT_TRUE(m < 15 ? t < 16 && m < static_cast<uint32_t>(zuf::pHf_table[t].xlen)
                               : t >= 16 && m - 15 < static_cast<uint32_t>(zuf::pHf_table[t].linmax))
                << rep;
        }
    }
}

TEST(Mp3Pack, EdgeCasesAndStatuses) {
    Mp3FrameHeader h = zuft::make_header(1, 0, 3);
    Mp3SideInfo si = zuft::make_side_info();
    std::vector<Zuf32s> ix(576, 0);
    Zuf8u buf[8] = {0xA0, 0, 0x55, 0x55}, *p = buf;
    int o = 3;
    // 13 bits of stuffing at offset 3: five 1-bits finish the byte, then a whole 0xFF.
    ASSERT_EQ(zufsHuffmanEncode_MP3_32s1u(ix.data(), &p, &o, &h, &si, 0, 13), zufOk);
    EXPECT_TRUE(buf[0] == 0xBF && buf[1] == 0xFF && buf[2] == 0x55 && p == buf + 2 && o == 0);
    // (20, 0) with table 24 (4 linbits): the code of (15, 0), 0101, x's sign; nothing for y.
    ix[0] = -20, si.big_values = 1, si.table_select[0] = 24, p = buf, o = 0;
    ASSERT_EQ(zufsHuffmanEncode_MP3_32s1u(ix.data(), &p, &o, &h, &si, 0, 0), zufOk);
    const std::string code = codes().pair[24].at({15, 0}) + "01011";
    for (size_t i = 0; i < code.size(); ++i) EXPECT_EQ(bit(buf, static_cast<long>(i)), code[i] - '0');
    EXPECT_EQ(8 * (p - buf) + o, static_cast<long>(code.size()));
    const int scfsi[4] = {};
    // Statuses in the order checked: each case breaks a later check too. Edits: side-information
    // word (7: table_select[0], 13: region0_count, 17: count1table_select) and value, header word
    // (0: ID, 1: layer, 4: sampling_frequency) and value, bit offset.
    const int kCases[][6] = {{1, 289, 0, 1, 8, zufErrBadArg},        {1, 289, 0, 0, 0, zufErrMp3SideInfo},
                             {13, 21, 0, 0, 0, zufErrMp3SideInfo},   {17, 2, 1, 2, 0, zufErrMp3SideInfo},
                             {7, -1, 0, 0, 0, zufErrMp3FrameHeader}, {7, -1, 4, 3, 0, zufErrMp3FrameHeader},
                             {7, -1, 0, 1, 0, zufErrMp3SideInfo}};
    for (const auto& c : kCases) {
        Mp3FrameHeader hh = h;
        Mp3SideInfo s = si;
        int off = c[4];
        (&s.part2_3_length)[c[0]] = c[1], (&hh.ID)[c[2]] = c[3], p = buf;
        EXPECT_EQ(zufsHuffmanEncode_MP3_32s1u(ix.data(), &p, &off, &hh, &s, 0, 0), c[5]) << c[0];
    }
    Zuf8u* none = nullptr;
    EXPECT_EQ(zufsHuffmanEncode_MP3_32s1u(ix.data(), &none, &o, &h, &si, 0, 0), zufErrNullPtr);
    zuft::expect_null_each(zufsHuffmanEncode_MP3_32s1u, ix.data(), &p, &o, &h, &si, 0, 0);
    zuft::expect_null_each(zufsPackSideInfo_MP3, &si, &p, 0, 0, scfsi, &h);
    Zuf8s sf[40] = {};
    zuft::expect_null_each(zufsPackScaleFactors_MP3_8s1u, sf, &p, &o, &h, &si, scfsi, 0, 0);
    zuft::expect_null_each(zufsPackFrameHeader_MP3, &h, &p);
    o = 8;
    EXPECT_EQ(zufsPackScaleFactors_MP3_8s1u(sf, &p, &o, &h, &si, scfsi, 0, 0), zufErrBadArg);
    o = 0, si.scalefac_compress = 16;
    EXPECT_EQ(zufsPackScaleFactors_MP3_8s1u(sf, &p, &o, &h, &si, scfsi, 0, 0), zufErrMp3SideInfo);
    h.ID = 0, h.mode_extension = 4;
    EXPECT_EQ(zufsPackScaleFactors_MP3_8s1u(sf, &p, &o, &h, &si, scfsi, 0, 0), zufErrMp3FrameHeader);
    h.layer = 2;
    EXPECT_EQ(zufsPackSideInfo_MP3(&si, &p, 0, 0, scfsi, &h), zufErrMp3FrameHeader);
}

// A mono MPEG-1 stream at 44.1 kHz, 128 kbit/s, padded as the rate asks: `silent` frames of
// silence, then frames of a quantised tone, each with 21 bits of scale factors, its main data
// starting in it (main_data_begin 0) and filled up by stuffing. Frames are packed into buffers of
// exactly their length.
std::vector<uint8_t> make_stream(int silent, int frames) {
    Mp3FrameHeader h = zuft::make_header(1, 0, 3);
    std::vector<uint8_t> out;
    const int scfsi[4] = {}, kTone[8] = {3, 9, 27, -14, -4, 1, 0, 1};
    Zuf8s sf[40];
    for (int k = 0; k < 40; ++k) sf[k] = static_cast<Zuf8s>(k % 2);
    for (int f = 0, rest = 0; f < frames; ++f) {
        rest += 144 * 128000 % 44100;  // 144 * bitrate / rate bytes: 417 and a fraction, carried
        h.padding_bit = rest >= 44100, rest -= 44100 * h.padding_bit;
        const int len = 417 + h.padding_bit;
        std::vector<Zuf8u> frame(static_cast<size_t>(len));
        std::vector<Zuf32s> ix(576, 0);
        if (f >= silent) std::copy(kTone, kTone + 8, ix.begin() + 12);
        Mp3HuffmanChoice c;
        zuf::ownsCountSpectralBits_MP3(ix.data(), L44, 0, 0, &c);
        Mp3SideInfo si[2] = {zuft::make_side_info(), zuft::make_side_info()};
        for (Mp3SideInfo& g : si) {
            g.global_gain = 170, g.scalefac_compress = 5, g.big_values = c.big_values;  // slen1 = slen2 = 1
            g.region0_count = c.region0_count, g.region1_count = c.region1_count;
            g.count1table_select = c.count1table_select, g.part2_3_length = 21 + c.bits;
            std::copy(c.table_select, c.table_select + 3, g.table_select);
        }
        si[1].part2_3_length = 8 * (len - 4 - 17) - si[0].part2_3_length;
        Zuf8u* p = frame.data();
        int o = 0;
        EXPECT_EQ(zufsPackFrameHeader_MP3(&h, &p), zufOk);
        EXPECT_EQ(zufsPackSideInfo_MP3(si, &p, 0, 0, scfsi, &h), zufOk);
        for (int gr = 0; gr < 2; ++gr) {
            EXPECT_EQ(zufsPackScaleFactors_MP3_8s1u(sf, &p, &o, &h, &si[gr], scfsi, gr, 0), zufOk);
            EXPECT_EQ(zufsHuffmanEncode_MP3_32s1u(ix.data(), &p, &o, &h, &si[gr], c.count1, si[gr].part2_3_length - 21),
                      zufOk);
        }
        EXPECT_TRUE(p == frame.data() + len && o == 0);
        out.insert(out.end(), frame.begin(), frame.end());
    }
    return out;
}

class Mp3PackStream : public zuft::ToolTest {
    std::string program() const override { return "sh"; }  // the peers run through the shell
};

TEST_F(Mp3PackStream, ReadByExampleDecoderFFmpegAndMpg123) {
    const std::vector<uint8_t> bytes = make_stream(4, 12);
    const zuft::Decoded d = zuft::decode_memory(bytes, nullptr, false);
    EXPECT_TRUE(d.st.frames == 12 && d.st.damaged == 0 && d.st.concealed == 0 && d.st.channels == 1);
    ASSERT_EQ(d.pcm.size(), 12u * 1152);
    int silent_peak = 0, tone_peak = 0;
    for (size_t i = 0; i < d.pcm.size(); ++i) (i < 4 * 1152 ? silent_peak : tone_peak) |= std::abs(d.pcm[i]);
    EXPECT_TRUE(silent_peak == 0 && tone_peak > 100) << silent_peak << " " << tone_peak;
    const std::string f = zuft::quoted(write("packed.mp3", bytes)), out = zuft::quoted(path("out"));
    const std::pair<std::string, std::string> kPeers[] = {
        {"ffprobe -v error -show_entries stream=codec_name,sample_rate,channels -of csv=p=0 " + f, "mp3,44100,1\n"},
        {"ffmpeg -v error -nostdin -i " + f + " -f null -", ""},
        {"mpg123 -q -t " + f, ""}};
    for (const auto& [cmd, says] : kPeers) {
        const int rc = std::system((cmd + " >" + out + " 2>&1").c_str());
        if (WIFEXITED(rc) && WEXITSTATUS(rc) == 127) continue;  // not installed
        EXPECT_TRUE(WIFEXITED(rc) && WEXITSTATUS(rc) == 0 && slurp("out") == says) << cmd << "\n" << slurp("out");
    }
}

}  // namespace
