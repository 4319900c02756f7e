// A compact Layer III decoder loop over the library's public MP3 functions, for the end-to-end
// tests and the benchmark: frame sync, side information, main data from the bit reservoir, then
// scale factors, Huffman, requantisation, hybrid transform and synthesis per granule.
//
// It decodes MPEG-1 and MPEG-2 Layer III (free format included), skips ID3v2 tags and anything
// that is not a header confirmed by the next one, does not play a Xing/Info tag frame, and
// outputs silence for frames whose main data is not available (stream start or a cut).
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "zufack9/zufack9.h"

namespace zuft {

struct Mp3Decoded {
    std::vector<int16_t> pcm;  // interleaved when stereo
    int channels = 0;
    int sample_rate = 0;
    int frames = 0;     // frames decoded (tag frame excluded)
    int concealed = 0;  // frames without their main data
    int errors = 0;     // frames refused by the library
};

namespace mp3detail {

inline int bitrate_kbps(int id, int index) {
    static const int kMpeg1[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, -1};
    static const int kMpeg2[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, -1};
    return id ? kMpeg1[index] : kMpeg2[index];
}

inline int sample_rate(int id, int sf) {
    static const int kRates[2][3] = {{22050, 24000, 16000}, {44100, 48000, 32000}};
    return sf < 3 ? kRates[id][sf] : 0;
}

// A plausible MPEG-1/2 Layer III header at p (MPEG-2.5 and other layers are not).
inline bool header_ok(const uint8_t* p) {
    return p[0] == 0xFF && (p[1] & 0xF0) == 0xF0 && ((p[1] >> 1) & 3) == 1 && (p[2] >> 4) != 15 &&
           ((p[2] >> 2) & 3) != 3;
}

inline bool same_stream(const uint8_t* a, const uint8_t* b) {
    // ID, layer, sampling frequency and channel count agree.
    return (a[1] & 0xFE) == (b[1] & 0xFE) && (a[2] & 0x0C) == (b[2] & 0x0C) && ((a[3] >> 6) == 3) == ((b[3] >> 6) == 3);
}

// Frame length in bytes, or 0 for free format.
inline int frame_bytes(const uint8_t* p) {
    const int id = (p[1] >> 3) & 1, br = bitrate_kbps(id, p[2] >> 4), fs = sample_rate(id, (p[2] >> 2) & 3);
    if (br <= 0) return 0;
    return (id ? 144000 : 72000) * br / fs + ((p[2] >> 1) & 1);
}

}  // namespace mp3detail

// Decodes into `out`, whose PCM buffer keeps its capacity from call to call (the benchmark
// decodes the same stream many times). sfb_long: a 6 x 23 long band table to decode with
// instead of the library's (the Sfb variants of the Huffman decoder and the requantiser), or
// null.
inline void decode_mp3_into(const std::vector<uint8_t>& file, Mp3Decoded& out, const Zuf16s* sfb_long = nullptr) {
    using namespace mp3detail;
    out.pcm.clear();
    out.channels = out.sample_rate = out.frames = out.concealed = out.errors = 0;
    // Room for the parsers' read-ahead past the end of the file.
    std::vector<uint8_t> in(file);
    in.resize(file.size() + 64, 0);
    const size_t size = file.size();
    size_t pos = 0;
    if (size >= 10 && std::memcmp(in.data(), "ID3", 3) == 0)
        pos = 10 + ((in[6] & 0x7F) << 21 | (in[7] & 0x7F) << 14 | (in[8] & 0x7F) << 7 | (in[9] & 0x7F)) +
              ((in[5] & 0x10) ? 10 : 0);

    // Main data: up to 511 bytes of earlier frames plus the current one, and zero padding.
    std::vector<uint8_t> res(4096 + 64, 0);
    size_t res_len = 0;
    int free_bytes = 0;  // frame length without padding in a free-format stream

    Zuf32s is[2 * 576], work[576], y[576];
    Zuf32s overlap[2][576] = {}, hist[2][512] = {};
    int prev[2] = {0, 0}, hpos[2] = {0, 0};
    // Scale factors, channel 1 at entry 40. One array serves both granules: in MPEG-1 granule 1
    // reads over granule 0's values, keeping the band groups that scfsi marks as reused.
    Zuf8s sf[80] = {};
    bool first = true;

    while (pos + 4 <= size) {
        const uint8_t* p = in.data() + pos;
        if (!header_ok(p)) {
            ++pos;
            continue;
        }
        int len = frame_bytes(p);
        if (len == 0) {
            // Free format: the distance to the next matching header gives the frame length.
            if (free_bytes == 0) {
                for (size_t q = pos + 4; q + 4 <= size; ++q)
                    if (header_ok(in.data() + q) && same_stream(p, in.data() + q) && frame_bytes(in.data() + q) == 0) {
                        free_bytes = static_cast<int>(q - pos) - ((p[2] >> 1) & 1);
                        break;
                    }
                if (free_bytes == 0) break;
            }
            len = free_bytes + ((p[2] >> 1) & 1);
        }
        if (pos + len > size) break;
        // Sync is confirmed by the next header (or the end of the file).
        if (pos + len + 4 <= size && !(header_ok(p + len) && same_stream(p, p + len))) {
            ++pos;
            continue;
        }
        Zuf8u* bs = const_cast<Zuf8u*>(p);
        Mp3FrameHeader h;
        zufsUnpackFrameHeader_MP3(&bs, &h);
        const int nch = h.mode == 3 ? 1 : 2;
        const int ngr = h.ID ? 2 : 1;
        Mp3SideInfo si[4];
        int mdb = 0, priv = 0, scfsi[8] = {};
        if (zufsUnpackSideInfo_MP3(&bs, si, &mdb, &priv, scfsi, &h) != zufOk) {
            ++out.errors;
            pos += len;
            continue;
        }
        const int main_bytes = len - static_cast<int>(bs - p);
        if (first) {
            first = false;
            // A Xing/Info tag frame carries no audio.
            const bool tag = std::memcmp(bs, "Xing", 4) == 0 || std::memcmp(bs, "Info", 4) == 0;
            out.channels = nch;
            out.sample_rate = sample_rate(h.ID, h.sampling_frequency);
            if (tag) {
                pos += len;
                continue;
            }
        }
        // Append this frame's main data to the reservoir, keeping at most 511 older bytes.
        if (res_len > 511) {
            std::memmove(res.data(), res.data() + res_len - 511, 511);
            res_len = 511;
        }
        const size_t avail = res_len;
        std::memcpy(res.data() + res_len, bs, static_cast<size_t>(main_bytes));
        res_len += static_cast<size_t>(main_bytes);
        std::memset(res.data() + res_len, 0, 8);
        pos += len;
        ++out.frames;

        const size_t base = out.pcm.size();
        out.pcm.resize(base + static_cast<size_t>(576 * ngr * out.channels), 0);
        if (static_cast<size_t>(mdb) > avail) {
            ++out.concealed;  // the data this frame starts with is not there: silence
            continue;
        }
        Zuf8u* md = res.data() + avail - mdb;
        int off = 0;
        bool bad = false;
        for (int gr = 0; gr < ngr && !bad; ++gr) {
            int nz[2] = {0, 0};
            for (int ch = 0; ch < nch && !bad; ++ch) {
                Mp3SideInfo& g = si[gr * nch + ch];
                Zuf8u* start = md;
                const int start_off = off;
                if (zufsUnpackScaleFactors_MP3_1u8s(&md, &off, sf + 40 * ch, &g, scfsi + 4 * ch, &h, gr, ch) != zufOk) {
                    bad = true;
                    break;
                }
                const int used = static_cast<int>(8 * (md - start) + off - start_off);
                const int huf = g.part2_3_length - used;
                if (used > g.part2_3_length ||
                    (sfb_long ? zufsHuffmanDecodeSfb_MP3_1u32s(&md, &off, is + 576 * ch, &nz[ch], &g, &h, huf, sfb_long)
                              : zufsHuffmanDecode_MP3_1u32s(&md, &off, is + 576 * ch, &nz[ch], &g, &h, huf)) != zufOk)
                    bad = true;
            }
            if (bad) break;
            Mp3SideInfo pair[2] = {si[gr * nch], si[gr * nch + (nch - 1)]};
            if ((sfb_long ? zufsReQuantizeSfb_MP3_32s_I(is, nz, sf, pair, &h, work, sfb_long, _zuf_pMP3SfbTableShort)
                          : zufsReQuantize_MP3_32s_I(is, nz, sf, pair, &h, work)) != zufOk) {
                bad = true;
                break;
            }
            for (int ch = 0; ch < nch; ++ch) {
                const Mp3SideInfo& g = si[gr * nch + ch];
                zufsMDCTInv_MP3_32s(is + 576 * ch, y, overlap[ch], nz[ch], &prev[ch], g.block_type, g.mixed_block_flag);
                Zuf16s* pcm = out.pcm.data() + base + static_cast<size_t>(576 * gr * out.channels) + ch;
                for (int t = 0; t < 18; ++t)
                    zufsSynthPQMF_MP3_32s16s(y + 32 * t, pcm + 32 * t * out.channels, hist[ch], &hpos[ch],
                                             out.channels);
            }
        }
        if (bad) ++out.errors;
    }
}

inline Mp3Decoded decode_mp3(const std::vector<uint8_t>& file, const Zuf16s* sfb_long = nullptr) {
    Mp3Decoded out;
    decode_mp3_into(file, out, sfb_long);
    return out;
}

}  // namespace zuft
