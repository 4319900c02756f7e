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

using zuft::BitWriter;
using zuft::Rng;
using zuf::Mp3HuffmanChoice;
const auto& codes() { return zuft::Mp3HuffmanCodes::get(); }
const Zuf16s* L44 = zuft::sfb_long(3);

// Largest magnitude a table codes (0: none).
int max_value(int t) { return codes().linbits[t] ? 14 + (1 << codes().linbits[t]) : std::max(codes().size[t] - 1, 0); }
int bit(const Zuf8u* b, long i) { return (b[i >> 3] >> (7 - (i & 7))) & 1; }

TEST(Mp3Pack, HeaderRoundTrip) {
    const int kWidth[13] = {1, 2, 1, 4, 2, 1, 1, 2, 2, 1, 1, 2, 16};
    Rng rng(1);
    for (int rep = 0; rep < 300; ++rep) {
        Mp3FrameHeader h, got;
        for (int k = 0; k < 13; ++k) (&h.ID)[k] = rng.range(0, (1 << kWidth[k]) - 1);
        std::vector<Zuf8u> buf(8, 0xAA);
        Zuf8u *p = buf.data(), *q = buf.data();
        ASSERT_EQ(zufsPackFrameHeader_MP3(&h, &p), zufOk);
        const long n = h.protection_bit ? 4 : 6;  // the CRC word, high byte first
        EXPECT_EQ(p - buf.data(), n);
        EXPECT_TRUE(buf[0] == 0xFF && (buf[1] >> 4) == 0xF && buf[n] == 0xAA);
        EXPECT_TRUE(n == 4 || (buf[4] << 8 | buf[5]) == h.crc_check);
        std::memcpy(&got, &h, sizeof h);
        got.crc_check = n == 6 ? -1 : h.crc_check;
        ASSERT_EQ(zufsUnpackFrameHeader_MP3(&q, &got), zufOk);
        EXPECT_EQ(std::memcmp(&got, &h, sizeof h), 0);
        EXPECT_EQ(q, p);
    }
}

Mp3SideInfo random_side_info(Rng& r, bool mpeg1) {
    Mp3SideInfo g;
    for (auto* f = &g.part2_3_length; f <= &g.count1table_select; ++f) *f = r.range(-9, 9);  // kept ones
    g.part2_3_length = r.range(0, 4095), g.big_values = r.range(0, 288), g.global_gain = r.range(0, 255);
    g.scalefac_compress = r.range(0, mpeg1 ? 15 : 511), g.window_switching_flag = r.range(0, 1);
    const int nts = g.window_switching_flag ? 2 : 3;
    for (int k = 0; k < nts; ++k) g.table_select[k] = r.range(0, 31);
    if (g.window_switching_flag) {
        g.block_type = r.range(1, 3), g.mixed_block_flag = r.range(0, 1);
        for (auto& s : g.subblock_gain) s = r.range(0, 7);
        g.region0_count = (g.block_type == 2 && !g.mixed_block_flag) ? 8 : 7, g.region1_count = 20 - g.region0_count;
    } else {
        g.block_type = g.mixed_block_flag = 0, g.region0_count = r.range(0, 15), g.region1_count = r.range(0, 7);
    }
    if (mpeg1) g.preflag = r.range(0, 1);
    g.scalefac_scale = r.range(0, 1), g.count1table_select = r.range(0, 1);
    return g;
}

TEST(Mp3Pack, SideInfoRoundTrip) {
    Rng rng(2);
    for (int rep = 0; rep < 400; ++rep) {
        const bool mpeg1 = rep & 1;
        const Mp3FrameHeader h = zuft::make_header(mpeg1, 0, rng.range(0, 3));
        const int nch = h.mode == 3 ? 1 : 2, n = (mpeg1 ? 2 : 1) * nch;
        Mp3SideInfo si[4], got[4];
        int scfsi[8], scfsi_got[8], mdb = rng.range(0, mpeg1 ? 511 : 255), priv = rng.range(0, (1 << nch) - 1), m, pv;
        for (int k = 0; k < n; ++k) si[k] = random_side_info(rng, mpeg1);
        for (int k = 0; k < 8; ++k) scfsi[k] = scfsi_got[k] = rng.range(0, 1);
        std::vector<Zuf8u> buf(40, 0xAA);
        Zuf8u *p = buf.data(), *q = buf.data();
        ASSERT_EQ(zufsPackSideInfo_MP3(si, &p, mdb, priv, scfsi, &h), zufOk);
        EXPECT_EQ(p - buf.data(), mpeg1 ? (nch == 1 ? 17 : 32) : (nch == 1 ? 9 : 17));
        EXPECT_EQ(buf[static_cast<size_t>(p - buf.data())], 0xAA);
        std::memcpy(got, si, sizeof si);
        ASSERT_EQ(zufsUnpackSideInfo_MP3(&q, got, &m, &pv, scfsi_got, &h), zufOk);
        EXPECT_EQ(std::memcmp(got, si, static_cast<size_t>(n) * sizeof(Mp3SideInfo)), 0) << rep;
        EXPECT_TRUE(q == p && m == mdb && pv == priv && !std::memcmp(scfsi, scfsi_got, sizeof scfsi));
        if (rep == 0) {  // window switching with block_type 0: refused
            si[0].window_switching_flag = 1, si[0].block_type = 0;
            EXPECT_EQ(zufsPackSideInfo_MP3(si, &p, 0, 0, scfsi, &h), zufErrMp3SideInfo);
        }
    }
}

// The widths of the scale factors come from the decoder: all ones read back as 2^slen - 1.
TEST(Mp3Pack, ScaleFactorsRoundTrip) {
    Rng rng(3);
    for (int rep = 0; rep < 600; ++rep) {
        const bool mpeg1 = rep & 1;
        const int gr = rng.range(0, 1), ch = rng.range(0, 1), start = rng.range(0, 31);
        const Mp3FrameHeader h = zuft::make_header(mpeg1, 0, 1, rng.range(0, 3));
        Mp3SideInfo si = random_side_info(rng, mpeg1), si2;
        si.block_type = rng.range(0, 1) * 2, si.mixed_block_flag = si.block_type ? rng.range(0, 1) : 0;
        int scfsi[4];
        for (auto& s : scfsi) s = rep % 16 == 1 ? 1 : rng.range(0, 1);
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
        for (long i = 0; i < 8 * 32; ++i) {  // untouched outside, low bits of a last part byte cleared
            const bool kept = i < start || (i >= end && (bits == 0 || i >= (end + 7) / 8 * 8));
            if (kept || i >= end) {
                ASSERT_EQ(bit(buf.data(), i), kept ? bit(before.data(), i) : 0) << rep << " " << i;
            }
        }
        ASSERT_EQ(zufsUnpackScaleFactors_MP3_1u8s(&r, &orr, got, &si2, scfsi, &h, gr, ch), zufOk);
        EXPECT_EQ(std::memcmp(got, sf, sizeof sf), 0) << rep;
        EXPECT_EQ(8 * (r - buf.data()) + orr, end);
    }
}

// Writes part 3 of (ix, si) at bit `start` of a buffer of random bytes with `stuff` bits of
// stuffing, compares it with the test model's bits, decodes it and compares the lines and the
// end position. Returns the bits written before the stuffing.
long check_part3(Rng& rng, const std::vector<Zuf32s>& ix, Mp3SideInfo si, int count1, int stuff, int start) {
    const Mp3FrameHeader h = zuft::make_header(1, 0, 3);
    const int b = 2 * si.big_values;
    const bool sw = si.window_switching_flag && si.block_type;
    const int e0 = sw ? 36 : L44[si.region0_count + 1], e1 = sw ? b : L44[si.region0_count + si.region1_count + 2];
    BitWriter bw;
    for (int i = 0; i < b; i += 2) {
        const int t = si.table_select[i < e0 ? 0 : i < e1 ? 1 : 2];
        if (max_value(t) > 0) codes().put_pair(bw, t, ix[i], ix[i + 1]);
    }
    for (int i = b; i < b + count1; i += 4) codes().put_quad(bw, si.count1table_select, &ix[i]);
    const long data = static_cast<long>(bw.size());
    for (int k = 0; k < stuff; ++k) bw.put(1, 1);
    si.part2_3_length = static_cast<Zuf32s>(bw.size());
    const std::vector<uint8_t> want = bw.bytes();
    std::vector<Zuf8u> buf(4096);  // up to 288 pairs of 45 bits
    for (auto& v : buf) v = static_cast<Zuf8u>(rng.u32());
    Zuf8u *p = buf.data() + start / 8, *q = p;
    int o = start % 8, oq = o;
    EXPECT_EQ(zufsHuffmanEncode_MP3_32s1u(ix.data(), &p, &o, &h, &si, count1, si.part2_3_length), zufOk);
    EXPECT_EQ(8 * (p - buf.data()) + o - start, si.part2_3_length);
    for (long i = 0; i < si.part2_3_length; ++i)
        if (bit(buf.data(), start + i) != bit(want.data(), i)) return ADD_FAILURE() << "bit " << i, -1;
    std::vector<Zuf32s> is(576);
    int nz;
    EXPECT_EQ(zufsHuffmanDecode_MP3_1u32s(&q, &oq, is.data(), &nz, &si, &h, si.part2_3_length), zufOk);
    EXPECT_EQ(is, ix);
    EXPECT_TRUE(q == p && oq == o);
    return data;
}

TEST(Mp3Pack, HuffmanEveryTableAgainstModelAndDecoder) {
    Rng rng(4);
    for (int rep = 0; rep < 32 * 6; ++rep) {
        Mp3SideInfo si = random_side_info(rng, true);
        if (si.window_switching_flag) si.block_type = rng.range(1, 3), si.mixed_block_flag = 0;
        si.region1_count = std::min(si.region1_count, 20 - si.region0_count);
        for (auto& t : si.table_select) t = rng.range(0, 31);
        si.table_select[rep % 3] = rep % 32;
        const bool sw = si.window_switching_flag && si.block_type;
        const int b = 2 * si.big_values, e0 = sw ? 36 : L44[si.region0_count + 1];
        const int e1 = sw ? b : L44[si.region0_count + si.region1_count + 2];
        std::vector<Zuf32s> ix(576, 0);
        for (int i = 0; i < b; ++i) {
            const int m = max_value(si.table_select[i < e0 ? 0 : i < e1 ? 1 : 2]);
            ix[i] = rng.range(0, 3) ? rng.range(-m, m) : (rng.range(0, 1) ? m : -m);  // the extremes often
        }
        const int count1 = 4 * rng.range(0, (576 - b) / 4);
        for (int i = b; i < b + count1; ++i) ix[i] = rng.range(-1, 1);
        check_part3(rng, ix, si, count1, rng.range(0, 40), rng.range(0, 15));
    }
}

// The bit-count helper's choices, packed: exactly its count is written and decodes back.
TEST(Mp3Pack, BitCountEqualsBitsWritten) {
    Rng rng(5);
    const int kPeak[] = {0, 1, 2, 3, 4, 6, 7, 10, 14, 15, 16, 30, 300, 8191, 8206};
    for (int rep = 0; rep < 400; ++rep) {
        const int peak = kPeak[rep % 15], top = rng.range(0, 576);
        std::vector<Zuf32s> ix(576, 0);
        for (int i = 0; i < top; ++i) {
            const int m = peak * (top - i) / top;
            ix[i] = peak && rng.range(0, 2) ? rng.range(-m, m) : rng.range(-1, 1) * (peak > 0);
        }
        Mp3SideInfo si = zuft::make_side_info();
        si.window_switching_flag = rep % 4 == 3, si.block_type = si.window_switching_flag ? rng.range(1, 3) : 0;
        Mp3HuffmanChoice c;
        const int bits = zuf::ownsCountSpectralBits_MP3(ix.data(), L44, si.window_switching_flag, si.block_type, &c);
        si.big_values = c.big_values, si.region0_count = c.region0_count, si.region1_count = c.region1_count;
        si.count1table_select = c.count1table_select;
        std::copy(c.table_select, c.table_select + 3, si.table_select);
        EXPECT_EQ(check_part3(rng, ix, si, c.count1, 0, rng.range(0, 7)), bits) << rep;
        EXPECT_EQ(c.region_bits[0] + c.region_bits[1] + c.region_bits[2] + c.count1_bits, bits);
        EXPECT_TRUE(peak > 0 || bits == 0);
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
    // Granule 1 long blocks with every scfsi flag set write nothing.
    const int scfsi[4] = {1, 1, 1, 1};
    si.scalefac_compress = 15, p = buf + 4, o = 5, buf[4] = 0x77;
    ASSERT_EQ(zufsPackScaleFactors_MP3_8s1u(reinterpret_cast<Zuf8s*>(buf), &p, &o, &h, &si, scfsi, 1, 0), zufOk);
    EXPECT_TRUE(p == buf + 4 && o == 5 && buf[4] == 0x77);
    // Statuses in the order checked.
    struct Case {
        void (*edit)(Mp3FrameHeader&, Mp3SideInfo&, int&);
        zufResult want;
    } const kCases[] = {
        {[](Mp3FrameHeader&, Mp3SideInfo& s, int& off) { s.big_values = 289, off = 8; }, zufErrBadArg},
        {[](Mp3FrameHeader& hh, Mp3SideInfo& s, int&) { s.big_values = 289, hh.ID = 0; }, zufErrMp3SideInfo},
        {[](Mp3FrameHeader& hh, Mp3SideInfo& s, int&) { s.region0_count = 15, s.region1_count = 6, hh.ID = 0; },
         zufErrMp3SideInfo},
        {[](Mp3FrameHeader& hh, Mp3SideInfo& s, int&) { s.count1table_select = 2, hh.layer = 2; }, zufErrMp3SideInfo},
        {[](Mp3FrameHeader& hh, Mp3SideInfo& s, int&) { hh.ID = 0, s.table_select[0] = -1; }, zufErrMp3FrameHeader},
        {[](Mp3FrameHeader& hh, Mp3SideInfo&, int&) { hh.sampling_frequency = 3; }, zufErrMp3FrameHeader},
        {[](Mp3FrameHeader&, Mp3SideInfo& s, int&) { s.table_select[0] = -1; }, zufErrMp3SideInfo},
    };
    for (const Case& c : kCases) {
        Mp3FrameHeader hh = h;
        Mp3SideInfo s = si;
        int off = 0;
        c.edit(hh, s, off);
        p = buf;
        EXPECT_EQ(zufsHuffmanEncode_MP3_32s1u(ix.data(), &p, &off, &hh, &s, 0, 0), c.want);
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
// silence (part 3 all stuffing) then frames of a quantised tone with scale factors, each
// frame's main data starting in it (main_data_begin 0) and filled by stuffing.
std::vector<uint8_t> make_stream(int silent, int tone) {
    Mp3FrameHeader h = zuft::make_header(1, 0, 3);
    std::vector<uint8_t> out;
    int rest = 0, scfsi[4] = {};
    for (int f = 0; f < silent + tone; ++f) {
        rest += 144 * 128000 % 44100;  // bytes per frame 144 * bitrate / rate: 417, fraction carried
        h.padding_bit = rest >= 44100;
        rest -= h.padding_bit * 44100;
        const int len = 417 + h.padding_bit, main_bits = 8 * (len - 4 - 17);
        std::vector<Zuf8u> frame(static_cast<size_t>(len) + 8);
        std::vector<Zuf32s> ix(576, 0);
        Zuf8s sf[40] = {};
        Mp3SideInfo si[2] = {zuft::make_side_info(), zuft::make_side_info()};
        Mp3HuffmanChoice c{};
        if (f >= silent) {
            const int kTone[] = {3, 9, 27, -14, -4, 1, 0, 1};
            std::copy(kTone, kTone + 8, ix.begin() + 12);
            for (int k = 0; k < 21; ++k) sf[k] = static_cast<Zuf8s>(k % 2);
            zuf::ownsCountSpectralBits_MP3(ix.data(), L44, 0, 0, &c);
        }
        for (int gr = 0; gr < 2; ++gr) {
            Mp3SideInfo& g = si[gr];
            g.global_gain = 170, g.scalefac_compress = f >= silent ? 5 : 0, g.big_values = c.big_values;
            g.region0_count = c.region0_count, g.region1_count = c.region1_count;
            g.count1table_select = c.count1table_select;
            std::copy(c.table_select, c.table_select + 3, g.table_select);
            g.part2_3_length = (f >= silent ? 21 : 0) + c.bits;  // slen 1 and 1: 21 scale-factor bits
        }
        si[1].part2_3_length = main_bits - si[0].part2_3_length;  // the rest is stuffing
        Zuf8u* p = frame.data();
        int o = 0;
        EXPECT_EQ(zufsPackFrameHeader_MP3(&h, &p), zufOk);
        EXPECT_EQ(zufsPackSideInfo_MP3(si, &p, 0, 0, scfsi, &h), zufOk);
        for (int gr = 0; gr < 2; ++gr) {
            EXPECT_EQ(zufsPackScaleFactors_MP3_8s1u(sf, &p, &o, &h, &si[gr], scfsi, gr, 0), zufOk);
            const int part3 = si[gr].part2_3_length - (f >= silent ? 21 : 0);
            EXPECT_EQ(zufsHuffmanEncode_MP3_32s1u(ix.data(), &p, &o, &h, &si[gr], c.count1, part3), zufOk);
        }
        EXPECT_TRUE(p == frame.data() + len && o == 0);
        out.insert(out.end(), frame.begin(), frame.begin() + len);
    }
    return out;
}

class Mp3PackStream : public zuft::ToolTest {
  protected:
    std::string program() const override { return "sh"; }
    // A peer program through the shell (never under the emulator: the peers are the host's).
    zuft::ToolRun shell(const std::string& cmd) const {
        zuft::ToolRun r;
        const int rc = std::system((cmd + " >" + zuft::quoted(path("out")) + " 2>" + zuft::quoted(path("err"))).c_str());
        r.status = rc != -1 && WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
        r.out = slurp("out"), r.err = slurp("err");
        return r;
    }
};

TEST_F(Mp3PackStream, ReadByExampleDecoderFFmpegAndMpg123) {
    const std::vector<uint8_t> bytes = make_stream(4, 8);
    const zuft::Decoded d = zuft::decode_memory(bytes, nullptr, false);
    EXPECT_TRUE(d.st.frames == 12 && d.st.damaged == 0 && d.st.concealed == 0 && d.st.channels == 1);
    ASSERT_EQ(d.pcm.size(), 12u * 1152);
    int silent_peak = 0, tone_peak = 0;
    for (size_t i = 0; i < d.pcm.size(); ++i) (i < 4 * 1152 ? silent_peak : tone_peak) |= std::abs(d.pcm[i]);
    EXPECT_TRUE(silent_peak == 0 && tone_peak > 100) << silent_peak << " " << tone_peak;
    const std::string f = zuft::quoted(write("packed.mp3", bytes));
    const char* kPeers[][3] = {
        {"ffprobe", "ffprobe -v error -show_entries stream=codec_name,sample_rate,channels -of csv=p=0 ", "mp3,44100,1"},
        {"ffmpeg", "ffmpeg -v error -nostdin -i {} -f null -", ""},
        {"mpg123", "mpg123 -q -t ", ""}};
    for (const auto& peer : kPeers) {
        if (std::system((std::string("command -v ") + peer[0] + " >/dev/null 2>&1").c_str()) != 0) continue;
        std::string cmd = peer[1];
        const size_t at = cmd.find("{}");
        cmd = at == std::string::npos ? cmd + f : cmd.replace(at, 2, f);
        const zuft::ToolRun r = shell(cmd);
        EXPECT_TRUE(r.status == 0 && r.err.empty()) << peer[0] << ": " << r.err;
        EXPECT_NE(r.out.find(peer[2]), std::string::npos) << peer[0] << ": " << r.out;
    }
}

}  // namespace
