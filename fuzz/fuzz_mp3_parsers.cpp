// Fuzz harness for the MP3 stream parsers and what consumes their output: frame header, side
// information, scale factors and the three Huffman decoders on arbitrary bytes, then the
// requantiser, the inverse MDCT and the synthesis on whatever they produced.
//
// The input is laid out as a frame: 4 header bytes (the sync bits are forced, the Layer III
// and MPEG-1/2 bits are not), an optional CRC word, side information, main data. Part 3 is only
// decoded while it lies inside the input (the caller's duty: the decoder is not told where the
// buffer ends), and the copy is padded for the readers' documented read-ahead. Invariants of
// the interfaces are checked with abort(), so a violation shows up as a crash.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "zufack9/zufack9.h"

namespace {

constexpr size_t kPad = 64;  // scale factors may run past the data; Huffman reads 3 bytes ahead

void require(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 8) return 0;
    std::vector<uint8_t> buf(data, data + size);
    buf.resize(size + kPad, 0);
    buf[0] = 0xFF;
    buf[1] |= 0xE0;
    Zuf8u* p = buf.data();
    Mp3FrameHeader h;
    require(zufsUnpackFrameHeader_MP3(&p, &h) == zufOk);
    require(p == buf.data() + (h.protection_bit ? 4 : 6));
    require(h.ID >= 0 && h.ID <= 1 && h.mode >= 0 && h.mode <= 3 && h.mode_extension >= 0 && h.mode_extension <= 3);

    Mp3SideInfo si[4];
    std::memset(si, 0, sizeof si);
    int mdb = 0, priv = 0, scfsi[8] = {};
    const Zuf8u* side = p;
    const zufResult sr = zufsUnpackSideInfo_MP3(&p, si, &mdb, &priv, scfsi, &h);
    const size_t used_header = static_cast<size_t>(side - buf.data());
    if (sr != zufOk) {
        require(sr == zufErrMp3SideInfo || sr == zufErrMp3FrameHeader);
        return 0;
    }
    const int nch = h.mode == 3 ? 1 : 2, ngr = h.ID ? 2 : 1;
    require(p - side == (h.ID ? (nch == 1 ? 17 : 32) : (nch == 1 ? 9 : 17)));
    if (static_cast<size_t>(p - buf.data()) > size) return 0;  // side information past the input
    (void)used_header;

    const long main_bits = 8 * static_cast<long>(size - static_cast<size_t>(p - buf.data()));
    Zuf8u* md = p;
    int off = 0;
    long pos = 0;  // bits into the main data
    Zuf8s sf[80] = {};
    std::vector<Zuf32s> is(1152, 0), work(576), y(576), overlap(576, 0), hist(512, 0);
    Zuf16s pcm[64];
    // Mixed-block partition rows for the Mbp variant: the long part, then extra band-windows.
    const Zuf16s mbp[12] = {6, 0, 6, 1, 6, 2, 8, 0, 8, 3, 8, 5};
    int prev = 0, hpos = 0;
    for (int gr = 0; gr < ngr; ++gr) {
        int nz[2] = {0, 0};
        bool ok = true;
        for (int ch = 0; ch < nch && ok; ++ch) {
            Mp3SideInfo& g = si[gr * nch + ch];
            if (pos + g.part2_3_length > main_bits) return 0;  // beyond the data: stop
            Zuf8u* start = md;
            const int start_off = off;
            const zufResult s1 =
                zufsUnpackScaleFactors_MP3_1u8s(&md, &off, sf + 40 * ch, &g, scfsi + 4 * ch, &h, gr, ch);
            if (s1 != zufOk) {
                require(s1 == zufErrMp3SideInfo || s1 == zufErrMp3FrameHeader);
                return 0;
            }
            require(off >= 0 && off <= 7);
            const int used = static_cast<int>(8 * (md - start)) + off - start_off;
            require(used >= 0 && used <= 4 * 21 + 36 * 5);
            if (used > g.part2_3_length) return 0;
            const int huf = g.part2_3_length - used;
            Zuf8u* before = md;
            const int before_off = off;
            zufResult s2;
            switch ((buf[2] ^ static_cast<uint8_t>(gr + ch)) % 3) {
                case 0:
                    s2 = zufsHuffmanDecode_MP3_1u32s(&md, &off, is.data() + 576 * ch, &nz[ch], &g, &h, huf);
                    break;
                case 1:
                    s2 = zufsHuffmanDecodeSfb_MP3_1u32s(&md, &off, is.data() + 576 * ch, &nz[ch], &g, &h, huf,
                                                        _zuf_pMP3SfbTableLong);
                    break;
                default:
                    s2 = zufsHuffmanDecodeSfbMbp_MP3_1u32s(&md, &off, is.data() + 576 * ch, &nz[ch], &g, &h, huf,
                                                           _zuf_pMP3SfbTableLong, _zuf_pMP3SfbTableShort, mbp);
                    break;
            }
            if (s2 != zufOk) {
                require(s2 == zufErrMp3SideInfo || s2 == zufErrMp3FrameHeader || s2 == zufErrRange ||
                        s2 == zufErrBadArg);
                ok = false;
                break;
            }
            // Part 3 ends exactly hufSize bits on, and the bound is that of the lines.
            require(8 * (md - before) + off - before_off == huf);
            require(nz[ch] >= 0 && nz[ch] <= 576);
            for (int i = nz[ch]; i < 576; ++i) require(is[static_cast<size_t>(576 * ch + i)] == 0);
            require(nz[ch] == 0 || is[static_cast<size_t>(576 * ch + nz[ch] - 1)] != 0);
            pos += g.part2_3_length;
        }
        if (!ok) return 0;
        Mp3SideInfo pair[2] = {si[gr * nch], si[gr * nch + nch - 1]};
        const zufResult s3 = zufsReQuantize_MP3_32s_I(is.data(), nz, sf, pair, &h, work.data());
        if (s3 != zufOk) {
            require(s3 == zufErrMp3SideInfo || s3 == zufErrMp3FrameHeader || s3 == zufErrRange || s3 == zufErrBadArg);
            return 0;
        }
        for (int ch = 0; ch < nch; ++ch) require(nz[ch] >= 0 && nz[ch] <= 576);
        // One channel through the hybrid synthesis.
        const Mp3SideInfo& g0 = si[gr * nch];
        require(zufsMDCTInv_MP3_32s(is.data(), y.data(), overlap.data(), nz[0], &prev, g0.block_type,
                                    g0.mixed_block_flag & 1) == zufOk);
        for (int t = 0; t < 18; ++t)
            require(zufsSynthPQMF_MP3_32s16s(y.data() + 32 * t, pcm, hist.data(), &hpos, 2) == zufOk);
    }
    return 0;
}
